// Receive rings: writers never overwrite unread records, wraps read back as zeros, records
// that can never fit are dropped instead of waiting forever.
#include "client/links/receive_rings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

TEST(RingRoom, wrap_counts_skipped_tail_and_keeps_one_byte_free) {
  struct Case {
    uint32_t w, r, len;
    int room;
    bool wrap;
  } cases[] = {
      {0, 0, 100, 1, false},     {900, 0, 100, 1, false},  // exactly to the end
      {901, 0, 100, 0, false},                             // would wrap onto the unread record at 0
      {950, 101, 100, 1, true},  {950, 100, 100, 0, false},  // would make w == r
      {100, 500, 399, 1, false}, {100, 500, 400, 0, false}, {0, 0, 1000, 0, false},  // never fits
  };
  for (const Case& c : cases) {
    bool wrap = false;
    EXPECT_EQ(c.room, ring_has_room(1000, c.w, c.r, c.len, &wrap))
        << c.w << " " << c.r << " " << c.len;
    if (c.room) { EXPECT_EQ(c.wrap, wrap); }
  }
}

class Rings : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx = std::make_unique<APP_CONTEXT>();
    ctx->ring_size = 1000;
    ctx->num_slots = 1;
    ctx->slots[0].ring = static_cast<uint8_t*>(std::calloc(1, 2024));
    ctx->slots[0].mutex = SDL_CreateMutex();
    rx = &ctx->receivers[0];
    rx->status.store(RX_RECEIVING);
  }
  void TearDown() override {
    std::free(ctx->slots[0].ring);
    SDL_DestroyMutex(ctx->slots[0].mutex);
  }
  int put(size_t data_len, uint8_t fill, RING_WAIT wait = RING_NO_WAIT) {
    std::vector<uint8_t> fh(FRAME_HEADER_SIZE, 0xAB), data(data_len, fill);
    return ring_write_record(ctx.get(), 0, rx, 'Q', 'Y', fh.data(), fh.size(), data.data(),
                             data.size(), 0, wait);
  }
  std::unique_ptr<APP_CONTEXT> ctx;
  RECEIVER_INFO* rx = nullptr;
};

TEST_F(Rings, record_that_does_not_fit_the_tail_wraps_and_tail_reads_zero) {
  DISPLAY_SLOT& s = ctx->slots[0];
  ASSERT_EQ(1, put(400, 1));  // 448 bytes
  ASSERT_EQ(1, put(400, 2));  // 896
  s.read_pos = 448;           // the first one was taken
  ASSERT_EQ(1, put(300, 3));  // 348 bytes do not fit behind 896: wrap to 0
  EXPECT_EQ(348u, s.write_pos);
  for (uint32_t i = 896; i < 1000; ++i) ASSERT_EQ(0, s.ring[i]) << i;
  FRAME_RECORD_HEADER rh = decode_frame_record_header(s.ring);
  EXPECT_EQ(0xFFFF, rh.start_key);
  EXPECT_EQ(FRAME_HEADER_SIZE + 300, rh.size);
  EXPECT_EQ(3, rx->pending_frames.load());
  EXPECT_EQ(448u + 448u + 348u, rx->pending_bytes.load());
}

TEST_F(Rings, full_ring_never_overwrites_unread_records) {
  DISPLAY_SLOT& s = ctx->slots[0];
  ASSERT_EQ(1, put(400, 1));
  ASSERT_EQ(1, put(400, 2));
  // No room (reader still at 0): a non-waiting writer drops, the unread bytes stay.
  EXPECT_EQ(0, put(100, 9));
  EXPECT_EQ(1, s.ring[12 + FRAME_HEADER_SIZE]);
  // A waiting writer gives up when its receiver leaves the connected state.
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    rx->status.store(RX_STOP);
  });
  EXPECT_EQ(-1, put(100, 9, RING_WAIT_ROOM));
  stopper.join();
  EXPECT_EQ(896u, s.write_pos);
}

TEST_F(Rings, waiting_writer_continues_once_the_reader_frees_room) {
  DISPLAY_SLOT& s = ctx->slots[0];
  ASSERT_EQ(1, put(400, 1));
  ASSERT_EQ(1, put(400, 2));
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    SDL_mutexP(s.mutex);
    s.read_pos = 448;
    SDL_mutexV(s.mutex);
  });
  EXPECT_EQ(1, put(300, 3, RING_WAIT_ROOM));
  reader.join();
}

TEST_F(Rings, oversized_record_is_dropped_and_empty_ring_restarts_at_zero) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(0, put(1000, 1, RING_WAIT_ROOM));  // would wait forever otherwise
  EXPECT_NE(std::string::npos, testing::internal::GetCapturedStdout().find("dropped"));
  DISPLAY_SLOT& s = ctx->slots[0];
  s.write_pos = s.read_pos = 700;  // empty, but the tail is too short for 548 bytes
  EXPECT_EQ(1, put(500, 4));
  EXPECT_EQ(0u, s.read_pos);
  EXPECT_EQ(548u, s.write_pos);
}

TEST_F(Rings, audio_record_reserves_its_full_slot) {
  uint8_t ah[AUDIO_FRAME_HEADER_SIZE] = {};
  uint8_t samples[100];
  std::memset(samples, 0x7F, sizeof samples);
  ASSERT_EQ(1, ring_write_record(ctx.get(), 0, rx, 'Q', 'A', ah, sizeof ah, samples, sizeof samples,
                                 AUDIO_PAYLOAD_SLOT, RING_NO_WAIT));
  DISPLAY_SLOT& s = ctx->slots[0];
  EXPECT_EQ(AUDIO_RING_RECORD, s.write_pos);
  EXPECT_EQ(AUDIO_RECORD_SIZE, decode_frame_record_header(s.ring).size);
  EXPECT_EQ(0, s.ring[12 + 32 + 100]);  // padding is zero, not stale bytes
}

}  // namespace
