// Protocol 'S' without a socket: the MD5 login packet, reply codes, and the stream scanner
// fed with hand-built streams (frames, audio, control packets, faults) in any split.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/links/tir_receiver.h"
#include "codecs/tir_dec/tir_dec.h"
#include "peers/sdvr/sdvr_peer.h"
#include "tests/client/links/link_harness.h"

namespace {

std::string text(const uint8_t* p, size_t n) {
  return std::string(reinterpret_cast<const char*>(p), n);
}

TEST(TirLogin, digest_is_rfc1321_md5_in_upper_case_hex) {
  const struct {
    const char* in;
    const char* md5;
  } vectors[] = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      {"a", "0CC175B9C0F1B6A831C399E269772661"},
      {"abc", "900150983CD24FB0D6963F7D28E17F72"},
      {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
      {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "D174AB98D277D9F5A5611C2C9F419D9F"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57EDF4A22BE3C955AC49DA2E2107B67A"},
  };
  for (const auto& v : vectors) {
    SCOPED_TRACE(v.in);
    uint8_t pkt[TIR_LOGIN_SIZE + 1];
    pkt[TIR_LOGIN_SIZE] = 0xCC;  // canary behind the packet
    ASSERT_EQ(0, build_tir_login(v.in, pkt));
    EXPECT_EQ(0, pkt[0]);
    EXPECT_EQ(0, pkt[1]);
    EXPECT_EQ(1, pkt[2]);
    EXPECT_EQ(0xFE, pkt[3]);
    EXPECT_EQ("002C0081", text(pkt + 4, 8));
    EXPECT_EQ(v.md5, text(pkt + 12, 32));
    EXPECT_EQ(0xCC, pkt[TIR_LOGIN_SIZE]);
  }
}

TEST(TirLogin, reply_codes_are_read_in_either_case_and_refusals_are_told_apart) {
  auto reply = [](const char* code, bool magic = true) {
    std::vector<uint8_t> p = sdvr::control_packet(code, "", false);
    if (!magic) p[3] = 0xFD;
    return p;
  };
  EXPECT_EQ(1, recv_login_resp(reply("0001").data()));
  EXPECT_EQ(3, recv_login_resp(reply("0003").data()));
  EXPECT_EQ(-1, recv_login_resp(reply("0002").data()));
  EXPECT_EQ(-1, recv_login_resp(reply("0004").data()));
  EXPECT_EQ(-2, recv_login_resp(reply("0005").data()));
  EXPECT_EQ(-2, recv_login_resp(reply("00x3").data()));  // not hex: value 0
  EXPECT_EQ(-3, recv_login_resp(reply("0003", false).data()));
  EXPECT_EQ(0, validate_login_result(reply("0003").data()));
  EXPECT_EQ(-1, validate_login_result(reply("0004").data()));
  EXPECT_EQ(-2, validate_login_result(reply("0001").data()));
  EXPECT_EQ(-3, validate_login_result(reply("0003", false).data()));
  const uint8_t lower[] = "00fe", upper[] = "00FE", bad[] = "0G00";
  EXPECT_EQ(0xFE, tir_hex_to_word(lower));
  EXPECT_EQ(0xFE, tir_hex_to_word(upper));
  EXPECT_EQ(0, tir_hex_to_word(bad));
  char w[4];
  tir_word_to_hex(0x2C, w);
  EXPECT_EQ("002C", std::string(w, 4));
}

// A stream of hand-placed parts and the frames the scanner must store from it.
struct Stream {
  std::vector<uint8_t> bytes;
  std::vector<std::vector<uint8_t>> frames;  // expected in the ring, in order
  void add(const std::vector<uint8_t>& b) { bytes.insert(bytes.end(), b.begin(), b.end()); }
  void frame(const std::vector<uint8_t>& f, bool expected = true) {
    add(f);
    if (expected) frames.push_back(f);
  }
};

std::vector<RingRecord> scan(const Stream& s, size_t piece, LinkHarness& h, TIR_SCANNER* sc,
                             TIR_TIME_BASE* bases) {
  h.rx->protocol = 'S';
  init_tir_scanner(sc, bases);
  for (size_t at = 0; at < s.bytes.size(); at += piece)
    parse_tir_stream(h.rx, s.bytes.data() + at, std::min(piece, s.bytes.size() - at), sc);
  std::vector<RingRecord> all;
  for (uint32_t slot = 0; slot < h.ctx->num_slots; ++slot) {
    auto r = h.take(slot);
    all.insert(all.end(), r.begin(), r.end());
  }
  return all;
}

const std::vector<std::vector<std::vector<uint8_t>>>& clips() {
  static const auto c = sdvr::encode_clips(2, 272, 3);
  return c;
}

TEST(TirScanner, frames_come_out_whole_however_the_stream_is_split) {
  const auto& c = clips();
  Stream s;
  s.add({'x', 0, 0, 2, 1, 0xF8, 0});  // bytes before the first start code
  s.frame(c[0][0]);
  s.add({0, 0, 1, 0xFA, 1, 2, 0x55, 0x55, 0x55});  // audio between frames
  // A control packet inside a frame leaves no byte in it.
  std::vector<uint8_t> inner = c[1][0];
  std::vector<uint8_t> ctl = sdvr::control_packet("000d", "DVR-S READY.", true);
  size_t at = inner.size() / 2;
  while (inner[at - 1] == 0) ++at;
  inner.insert(inner.begin() + long(at), ctl.begin(), ctl.end());
  s.add(inner);
  s.frames.push_back(c[1][0]);
  s.add(sdvr::control_packet("0008", "", false));  // between frames: no bytes in either
  s.frame(c[0][1]);
  s.add({0, 0, 1, 0xFE, 'F', 'F', 'F', 'F', '0', '0', '0', '7', 'x', 'x'});  // length FFFF
  s.frame(c[1][1]);  // the scanner waits for a start code
  s.frame(c[0][2]);
  std::vector<uint8_t> big = {0, 0, 1, 0xF9};
  big.resize(TIR_VIDEO_BUFFER_SIZE + 100, 0x55);
  s.frame(big, false);  // longer than the buffer: dropped
  s.frame(c[1][2]);
  s.add({0, 0, 1, 0xF8});  // the next start code ends the last one

  for (size_t piece : {size_t(1), size_t(7), size_t(4096), s.bytes.size()}) {
    SCOPED_TRACE(piece);
    LinkHarness h(1);
    TIR_SCANNER sc;
    TIR_TIME_BASE bases[TIR_CHANNELS];
    testing::internal::CaptureStdout();
    auto recs = scan(s, piece, h, &sc, bases);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("DVR-S READY."), std::string::npos);
    EXPECT_NE(out.find("exceeds its buffer; dropped."), std::string::npos);
    EXPECT_EQ(1u, sc.dropped_control);
    EXPECT_EQ(1u, sc.oversized);
    ASSERT_EQ(s.frames.size(), recs.size());
    std::vector<uint8_t> pic(640 * 272 * 4);
    for (size_t i = 0; i < recs.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ('S', recs[i].rh.protocol);
      EXPECT_EQ('Y', recs[i].rh.media);
      FRAME_HEADER fh = decode_frame_header(recs[i].body.data());
      ASSERT_EQ(s.frames[i].size(), fh.size);
      std::vector<uint8_t> data(recs[i].body.begin() + FRAME_HEADER_SIZE, recs[i].body.end());
      EXPECT_TRUE(data == s.frames[i]);
      EXPECT_EQ(0, tir_decode(data.data(), unsigned(data.size()), pic.data(), TIR_OUT_BGRX32));
    }
  }
}

TEST(TirScanner, each_channel_keeps_its_own_clock_40_ms_a_frame_33_at_224_lines) {
  TIR_TIME_BASE bases[TIR_CHANNELS];
  TIR_FRAME_INFO tall{0, 640, 272, 0}, low{1, 640, 224, 0};
  FRAME_HEADER a0, b0, a, b;
  make_tir_frame_header(tall, 100, &bases[0], &a0);
  make_tir_frame_header(low, 100, &bases[1], &b0);
  for (int i = 1; i <= 25; ++i) {
    make_tir_frame_header(tall, 100, &bases[0], &a);
    make_tir_frame_header(low, 100, &bases[1], &b);
  }
  auto ms = [](const FRAME_HEADER& f) { return int64_t(f.sec) * 1000 + f.msec; };
  EXPECT_EQ(1000, ms(a) - ms(a0));  // 25 frames: one second, however many streams run
  EXPECT_EQ(825, ms(b) - ms(b0));
  EXPECT_EQ(0, a.channel);
  EXPECT_EQ(1, b.channel);
  EXPECT_EQ(640, a.width);
  EXPECT_EQ(272, a.height);
  EXPECT_EQ(100u, a.size);
  EXPECT_LT(a.msec, 1000);
  FRAME_HEADER bad = a;
  bad.channel = 4;
  EXPECT_EQ(-1, validate_tir(bad, 4));
  bad.channel = 0;
  bad.size = TIR_VIDEO_BUFFER_SIZE + 1;
  EXPECT_EQ(-2, validate_tir(bad, 4));
}

}  // namespace
