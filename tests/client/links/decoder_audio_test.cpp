// Mu-law expansion and the live audio queue the decoder threads feed.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "client/links/decoder_thread.h"
#include "client/links/mulaw.h"

namespace {

TEST(MuLaw, G711ExpansionOfKnownCodes) {
  struct Case {
    uint8_t code;
    int16_t pcm;
  } cases[] = {{0xFF, 0},   {0x7F, 0},    {0x00, -32124}, {0x80, 32124},
               {0xF0, 120}, {0x70, -120}, {0xEF, 132}};
  for (const Case& c : cases) EXPECT_EQ(ulaw_to_linear(c.code), c.pcm) << int(c.code);
  // Monotonic over each half: a table typo would break the order.
  for (int b = 0x80; b < 0xFF; ++b)
    ASSERT_GT(ulaw_to_linear(uint8_t(b)), ulaw_to_linear(uint8_t(b + 1)));
}

TEST(MuLaw, AudioRecordExpandsOnlyForQAndWithinItsSlot) {
  std::vector<uint8_t> frame(AUDIO_FRAME_HEADER_SIZE + AUDIO_PAYLOAD_SLOT, 0x80);
  int16_t pcm[AUDIO_PAYLOAD_SLOT];
  FRAME_RECORD_HEADER rh;
  rh.protocol = 'Q';
  put_le16(frame.data() + 4, 3);
  EXPECT_EQ(decode_audio_data(rh, frame.data(), pcm), 6);
  EXPECT_EQ(pcm[0], 32124);
  put_le16(frame.data() + 4, AUDIO_PAYLOAD_SLOT + 1);
  EXPECT_EQ(decode_audio_data(rh, frame.data(), pcm), -1);
  rh.protocol = 'I';
  put_le16(frame.data() + 4, 3);
  EXPECT_EQ(decode_audio_data(rh, frame.data(), pcm), -1);
}

TEST(AudioQueue, AppendWrapsAtTheRingEnd) {
  std::vector<int16_t> in(320);
  for (int i = 0; i < 320; ++i) in[size_t(i)] = int16_t(i + 1);
  audio_ring_reset(0x1FF00, 0x1FF00);
  EXPECT_EQ(queue_audio_data(in.data(), 640), 0);
  EXPECT_EQ(audio_ring_write_index(), 64u);
  EXPECT_EQ(audio_ring_available(), 320u);
  std::vector<int16_t> out(512);
  EXPECT_EQ(audio_ring_read(out.data(), 320), 256);  // up to the end, then restart at 0
  EXPECT_EQ(out[255], 256);
  EXPECT_EQ(audio_ring_read_index(), 0u);
  EXPECT_EQ(audio_ring_read(out.data(), 64), 64);
  EXPECT_EQ(out[0], 257);
  EXPECT_EQ(out[63], 320);

  audio_ring_reset(0x1FE00, 0x1FE00);
  queue_audio_data(in.data(), 640);
  EXPECT_EQ(audio_ring_write_index(), 0x1FE00u + 320);
}

// More than the ring holds: the count never passes the ring, the newest samples remain. (A
// short queue staying queued is checked through the audio callback.)
TEST(AudioQueue, OverflowDropsTheOldest) {
  std::vector<int16_t> in(AUDIO_RING_SAMPLES + 100);
  for (size_t i = 0; i < in.size(); ++i) in[i] = int16_t(i & 0x7FFF);
  std::vector<int16_t> out(512);
  audio_ring_reset();
  queue_audio_data(in.data(), int(in.size() * 2));
  EXPECT_EQ(audio_ring_available(), AUDIO_RING_SAMPLES);
  ASSERT_EQ(audio_ring_read(out.data(), 1), 1);
  EXPECT_EQ(out[0], in[100]);
}

TEST(AudioQueue, ConcurrentWritersAndAReaderKeepTheCountConsistent) {
  audio_ring_reset();
  std::vector<int16_t> block(160, 7);
  auto writer = [&] {
    for (int i = 0; i < 2000; ++i) queue_audio_data(block.data(), 320);
  };
  std::thread a(writer), b(writer);
  std::vector<int16_t> out(512);
  uint64_t taken = 0;
  for (int i = 0; i < 4000; ++i) taken += uint64_t(audio_ring_read(out.data(), 512));
  a.join();
  b.join();
  EXPECT_LE(audio_ring_available(), AUDIO_RING_SAMPLES);
  EXPECT_LE(taken + audio_ring_available(), 2u * 2000 * 160);
  while (audio_ring_read(out.data(), 1) == 1) ASSERT_EQ(out[0], 7);
}

}  // namespace
