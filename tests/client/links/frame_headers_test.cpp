// Frame header layouts: byte offsets must match what recorded files and decoders expect.
#include "client/links/frame_headers.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(FrameHeaders, record_header_fields_land_at_their_offsets) {
  uint8_t buf[FRAME_RECORD_HEADER_SIZE + 4];
  std::memset(buf, 0xA5, sizeof buf);
  FRAME_RECORD_HEADER h;
  h.protocol = 'Q';
  h.media = 'Y';
  h.size = 0x01020304;
  encode_frame_record_header(h, buf);
  const uint8_t want[12] = {0xFF, 0xFF, 'Q', 0, 'Y', 0, 0, 0, 0x04, 0x03, 0x02, 0x01};
  EXPECT_EQ(0, std::memcmp(buf, want, 12));
  for (size_t i = 12; i < sizeof buf; ++i) EXPECT_EQ(0xA5, buf[i]) << "overrun at " << i;
  FRAME_RECORD_HEADER back = decode_frame_record_header(buf);
  EXPECT_EQ(0xFFFF, back.start_key);
  EXPECT_EQ('Q', back.protocol);
  EXPECT_EQ('Y', back.media);
  EXPECT_EQ(0x01020304u, back.size);
}

TEST(FrameHeaders, frame_header_bit_fields_do_not_bleed_into_neighbours) {
  uint8_t buf[FRAME_HEADER_SIZE + 4];
  std::memset(buf, 0xA5, sizeof buf);
  FRAME_HEADER h;
  h.receiver = 7;
  h.size = 0xABCDEF;
  h.size_low = 0x11;
  h.channel = 15;
  h.frame_type = 1;
  h.kind = 0x3F;
  h.width = 720;
  h.height = 576;
  h.sec = 0x80000001u;
  h.msec = 999;
  h.word24 = 0xDEADBEEF;
  h.word28 = 0x01234567;
  h.seq_cnt = 0x1234;
  encode_frame_header(h, buf);
  EXPECT_EQ(0x11, buf[4]);
  EXPECT_EQ(0xEF, buf[5]);
  EXPECT_EQ(0xAB, buf[7]);
  EXPECT_EQ(15, buf[8]);
  EXPECT_EQ(0x01 | (0x3F << 2), buf[9]);
  EXPECT_EQ(720u | (576u << 14), get_le32(buf + 12));
  for (size_t i = FRAME_HEADER_SIZE; i < sizeof buf; ++i) EXPECT_EQ(0xA5, buf[i]);
  FRAME_HEADER b = decode_frame_header(buf);
  EXPECT_EQ(h.size, b.size);
  EXPECT_EQ(h.channel, b.channel);
  EXPECT_EQ(h.frame_type, b.frame_type);
  EXPECT_EQ(h.kind, b.kind);
  EXPECT_EQ(h.width, b.width);
  EXPECT_EQ(h.height, b.height);
  EXPECT_EQ(h.sec, b.sec);
  EXPECT_EQ(h.msec, b.msec);
  EXPECT_EQ(h.word24, b.word24);
  EXPECT_EQ(h.word28, b.word28);
  EXPECT_EQ(h.seq_cnt, b.seq_cnt);
  // Oversized inputs are masked to the field width instead of spilling.
  h.width = 0xFFFF;
  h.height = 0;
  encode_frame_header(h, buf);
  EXPECT_EQ(0x3FFFu, get_le32(buf + 12) & 0x0FFFFFFFu);
}

TEST(FrameHeaders, picture_header_round_trips_every_bit_field) {
  PICTURE_HEADER h;
  h.video_type = 3;
  h.interval = 30;
  h.size = 0xFFFFF;
  h.page = 1;
  h.vop_type = 1;
  h.field = 1;
  h.channel = 9;
  h.scale = 9;
  h.hsize = 704;
  h.vsize = 480;
  h.sec = 1000;
  h.usec = 999999;
  h.seq_cnt = 24;
  h.receiver = 143;
  uint8_t buf[PICTURE_HEADER_SIZE];
  encode_picture_header(h, buf);
  EXPECT_EQ(0x9000000u | 0x90000000u | 0xFFFFFu | (1u << 20) | (1u << 21) | (1u << 23),
            get_le32(buf + 4));
  PICTURE_HEADER b = decode_picture_header(buf);
  EXPECT_EQ(h.size, b.size);
  EXPECT_EQ(h.page, b.page);
  EXPECT_EQ(h.vop_type, b.vop_type);
  EXPECT_EQ(h.field, b.field);
  EXPECT_EQ(h.channel, b.channel);
  EXPECT_EQ(h.scale, b.scale);
  EXPECT_EQ(h.receiver, b.receiver);
  EXPECT_EQ(143, get_le16(buf + 30));
}

TEST(FrameHeaders, audio_header_keeps_carried_bytes) {
  uint8_t in[AUDIO_FRAME_HEADER_SIZE];
  for (size_t i = 0; i < sizeof in; ++i) in[i] = static_cast<uint8_t>(i * 7 + 1);
  AUDIO_FRAME_HEADER h = decode_audio_frame_header(in);
  h.receiver = 5;
  uint8_t out[AUDIO_FRAME_HEADER_SIZE];
  encode_audio_frame_header(h, out);
  for (size_t i = 0; i < sizeof in; ++i) {
    if (i != 2) EXPECT_EQ(in[i], out[i]) << "byte " << i;
  }
  EXPECT_EQ(5, out[2]);
  EXPECT_EQ(get_le16(in + 4), h.samples);
}

}  // namespace
