// CAudioDecoder: capacity from the stream's format record and its cap, the failure trace (never a
// box: set-up runs on a session's thread), and
// decoding a source tone through Sonpak (ADPCM) and Quellaud (G.723.1) back to something close
// to it; Quellaud keeps one state per session.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "peers/media/media_gen.h"
#include "sdk/AudioDecoder.h"
#include "tests/sdk/sdk_test_util.h"

namespace {

// A G.723 stream's identifier: Sonpak's with its last byte changed.
std::vector<uint8_t> format_record(bool sonpak, int rate, int value) {
  std::vector<uint8_t> r(24, 0);
  std::memcpy(r.data(), SONPAK_CODEC_ID, 16);
  if (!sonpak) r[15] ^= 0x01;
  r[16] = uint8_t(rate);
  r[17] = uint8_t(rate >> 8);
  r[20] = uint8_t(value);
  r[21] = uint8_t(value >> 8);
  return r;
}

// Best normalised correlation of `out` with `ref` over lags 0..max_lag (codec delay).
double best_correlation(const std::vector<int16_t>& ref, const std::vector<int16_t>& out,
                        int max_lag) {
  double best = -1;
  for (int lag = 0; lag <= max_lag; ++lag) {
    double xy = 0, xx = 0, yy = 0;
    for (size_t i = 1000; i + size_t(lag) < out.size() && i < ref.size(); ++i) {
      const double x = ref[i], y = out[i + size_t(lag)];
      xy += x * y;
      xx += x * x;
      yy += y * y;
    }
    if (xx > 0 && yy > 0) best = std::max(best, xy / std::sqrt(xx * yy));
  }
  return best;
}

// Decodes `packets` through one decoder, appending the PCM.
void decode_all(CAudioDecoder& dec, const std::vector<std::vector<uint8_t>>& packets,
                std::vector<int16_t>& pcm) {
  std::vector<uint8_t> out(AUDIO_DEC_MAX_CAPACITY);
  for (const auto& p : packets) {
    int len = int(out.size());
    ASSERT_EQ(dec.Decode(p.data(), int(p.size()), out.data(), &len), 1);
    const size_t at = pcm.size();
    pcm.resize(at + size_t(len) / 2);
    std::memcpy(pcm.data() + at, out.data(), size_t(len));
  }
}

// G.723.1 packets of `frames` frames each.
std::vector<std::vector<uint8_t>> g723_packets(const std::vector<int16_t>& pcm, int frames) {
  const std::vector<uint8_t> all = media_gen::g723_encode(pcm);
  std::vector<std::vector<uint8_t>> packets;
  for (size_t at = 0; at + size_t(24 * frames) <= all.size(); at += size_t(24 * frames))
    packets.emplace_back(all.begin() + long(at), all.begin() + long(at) + 24 * frames);
  return packets;
}

struct BoxCapture {
  BoxCapture() {
    setenv("VIGILO_BOX_ANSWER", "ok", 1);
    testing::internal::CaptureStderr();
  }
  std::string text() { return testing::internal::GetCapturedStderr(); }
};

TEST(AudioDecoder, CapacityFromTheFormatRecordAndItsCap) {
  struct Case {
    bool sonpak;
    int rate, value, capacity;  // capacity -1: set-up fails
  } cases[] = {
      {true, 11020, 1, 22050},  // 11020 Hz is taken as 11025
      {false, 11020, 1, 22050},  {true, 8000, 1, 16000},
      {false, 8000, 2, 32000},   {true, 65535, 2, 262140},  // just below the cap
      {true, 65535, 3, -1},                                 // above it
      {false, 65535, 65535, -1},  // would need gigabytes (and overflow an int)
      {true, 0, 1, 0},            // set up, but mute
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.rate << " x " << c.value << (c.sonpak ? " adpcm" : " g723"));
    CAudioDecoder dec;
    const std::vector<uint8_t> rec = format_record(c.sonpak, c.rate, c.value);
    sdktest::TraceCapture trace;
    BoxCapture box;
    const int r = dec.Initialize(rec.data(), int(rec.size()));
    const std::string shown = box.text();
    EXPECT_EQ(r, c.capacity >= 0 ? 1 : 0);
    EXPECT_EQ(dec.GetCapacity(), std::max(c.capacity, 0));
    EXPECT_EQ(dec.IsSonpak(), c.sonpak);
    EXPECT_EQ(shown.find("Audio Decoder initialization failure"), std::string::npos);
    EXPECT_EQ(trace.count("[SDK TRACE]-Audio Decoder initialization failure\n"),
              c.capacity < 0 ? 1 : 0);
  }
}

TEST(AudioDecoder, DeliversNothingUnlessSetUpAndTheDestinationHoldsIt) {
  // One block of 256 samples: 512 bytes of PCM.
  const std::vector<uint8_t> block =
      media_gen::adpcm_blocks(media_gen::tone(512, 440, 8000), 256)[0];
  std::vector<uint8_t> out(600, 0xEE);
  int len = 600;
  CAudioDecoder dec;
  EXPECT_EQ(dec.Decode(block.data(), int(block.size()), out.data(), &len), 0);  // never set up
  const std::vector<uint8_t> good = format_record(true, 8000, 1),
                             bad = format_record(true, 65535, 65535);
  ASSERT_EQ(dec.Initialize(good.data(), int(good.size())), 1);
  len = 511;
  EXPECT_EQ(dec.Decode(block.data(), int(block.size()), out.data(), &len), -1);
  EXPECT_EQ(len, 511);
  len = 512;
  EXPECT_EQ(dec.Decode(block.data(), int(block.size()), out.data(), &len), 1);
  EXPECT_EQ(out[512], 0xEE);
  // A stream that asks too much, or a short record, leaves the decoder mute, not with the last
  // stream's capacity.
  for (const auto& rec : {bad, std::vector<uint8_t>(good.begin(), good.begin() + 21)}) {
    BoxCapture box;
    EXPECT_EQ(dec.Initialize(rec.data(), int(rec.size())), 0);
    box.text();
    std::fill(out.begin(), out.end(), 0xEE);
    len = 600;
    EXPECT_EQ(dec.Decode(block.data(), int(block.size()), out.data(), &len), 0);
    EXPECT_EQ(len, 600);
    EXPECT_EQ(out[0], 0xEE);
  }
}

TEST(AudioDecoder, AdpcmTonesDecodeCloseToTheSource) {
  for (double hz : {300.0, 1000.0}) {
    SCOPED_TRACE(hz);
    const std::vector<int16_t> src = media_gen::tone(8192, hz, 12000);
    CAudioDecoder dec;
    const std::vector<uint8_t> rec = format_record(true, 8000, 1);
    ASSERT_EQ(dec.Initialize(rec.data(), int(rec.size())), 1);
    std::vector<int16_t> pcm;
    decode_all(dec, media_gen::adpcm_blocks(src, 256), pcm);
    ASSERT_EQ(pcm.size(), src.size());
    double err = 0, sig = 0;
    for (size_t i = 0; i < src.size(); ++i) {
      err += std::pow(double(pcm[i]) - src[i], 2);
      sig += double(src[i]) * src[i];
    }
    // Sonpak's encoder rounds its steps apart from the decoder (it is not its exact
    // inverse), which costs a fixed part of the SNR; the tone's shape stays.
    EXPECT_GT(10 * std::log10(sig / err), 10.0) << "SNR in dB";
    EXPECT_GT(best_correlation(src, pcm, 0), 0.97);
  }
}

TEST(AudioDecoder, G723TonesDecodeCloseToTheSourceWithOneStatePerSession) {
  const std::vector<int16_t> a = media_gen::tone(24000, 500, 8000),
                             b = media_gen::tone(24000, 1200, 6000);
  const auto pa = g723_packets(a, 4), pb = g723_packets(b, 3);
  ASSERT_FALSE(pa.empty());
  ASSERT_FALSE(pb.empty());
  const std::vector<uint8_t> rec = format_record(false, 8000, 1);

  // Each stream alone.
  std::vector<int16_t> alone_a, alone_b;
  {
    CAudioDecoder da, db;
    ASSERT_EQ(da.Initialize(rec.data(), int(rec.size())), 1);
    ASSERT_EQ(db.Initialize(rec.data(), int(rec.size())), 1);
    decode_all(da, pa, alone_a);
    decode_all(db, pb, alone_b);
  }
  EXPECT_EQ(alone_a.size(), pa.size() * 4 * 240);
  EXPECT_GT(best_correlation(a, alone_a, 400), 0.9);
  EXPECT_GT(best_correlation(b, alone_b, 400), 0.9);

  // Two sessions decoding in turn must not disturb each other's decoder state.
  CAudioDecoder da, db;
  ASSERT_EQ(da.Initialize(rec.data(), int(rec.size())), 1);
  ASSERT_EQ(db.Initialize(rec.data(), int(rec.size())), 1);
  std::vector<int16_t> mixed_a, mixed_b;
  for (size_t i = 0; i < std::max(pa.size(), pb.size()); ++i) {
    if (i < pa.size()) decode_all(da, {pa[i]}, mixed_a);
    if (i < pb.size()) decode_all(db, {pb[i]}, mixed_b);
  }
  EXPECT_EQ(mixed_a, alone_a);
  EXPECT_EQ(mixed_b, alone_b);
}

}  // namespace
