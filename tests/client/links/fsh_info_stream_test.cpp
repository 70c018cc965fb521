// The frame-stream parser on hostile input: random and mutated streams of every layout must
// never read outside their bytes (ASan watches) and never store a record that lies about its
// size.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "client/links/fsh_info.h"
#include "tests/client/links/link_harness.h"

namespace {

TEST(StreamParser, mutated_streams_never_overrun_or_store_bad_records) {
  LinkHarness h(8, 0x100000);
  h.rx->status.store(RX_RECEIVING);
  std::mt19937 rng(1234);
  int stored = 0;
  for (int layout = 0; layout < 4; ++layout) {
    NC_LOGIN_STATE st;
    st.fsh_layout = layout;
    st.fsh_size = fsh_size_of_layout(layout);
    for (int round = 0; round < 400; ++round) {
      uint32_t vsize = rng() % 3000;
      bool audio = layout == 3 && (rng() & 1);
      auto fsh = qdvr::build_fsh(layout, int(rng() % 6), 352, 240, vsize, rng() & 1, 1, 2, 3, audio,
                                 int(rng() % 5));
      std::vector<uint8_t> stream(fsh);
      stream.resize(fsh.size() + vsize + (audio ? 2048 : 0), 0x42);
      // Flip bytes, cut the tail or grow it: each exercises a different bound.
      int flips = int(rng() % 6);
      for (int f = 0; f < flips; ++f) stream[rng() % stream.size()] = uint8_t(rng());
      size_t len = stream.size();
      if (rng() % 3 == 0) len = rng() % (stream.size() + 1);
      // An exact-size heap copy, so any read past `len` is caught.
      std::vector<uint8_t> exact(stream.begin(), stream.begin() + long(len));
      nc_store_frame_stream(h.rx, &st, exact.empty() ? nullptr : exact.data(), exact.size(), true,
                            true, false);
      for (int m : st.audio_map) ASSERT_TRUE(m >= -1 && m <= 3);
      for (uint32_t s = 0; s < h.ctx->num_slots; ++s) {
        for (const auto& r : h.take(s)) {
          ++stored;
          if (r.rh.media == 'Y') {
            FRAME_HEADER fh = decode_frame_header(r.body.data());
            ASSERT_EQ(FRAME_HEADER_SIZE + fh.size, r.rh.size);
            ASSERT_LE(fh.size, 0x80000u);
            ASSERT_LT(fh.channel, 4);
          } else {
            ASSERT_EQ(AUDIO_RECORD_SIZE, r.rh.size);
            ASSERT_LE(decode_audio_frame_header(r.body.data()).samples, 512);
          }
        }
      }
    }
  }
  EXPECT_GT(stored, 100);  // the well-formed rounds did get through
}

}  // namespace
