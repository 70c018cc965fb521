// Sonpak: block decoding against libavcodec's IMA ADPCM decoder, bounds of the decoder's
// input and output, and the encoder's rules.
#include "codecs/sonpak/sonpak.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace {

// Our block layout: codes, then int16 predictor, int8 index, one spare byte.
std::vector<uint8_t> make_block(const std::vector<uint8_t>& codes, int predictor, int index) {
  std::vector<uint8_t> b(codes);
  b.push_back(static_cast<uint8_t>(predictor & 0xFF));
  b.push_back(static_cast<uint8_t>((predictor >> 8) & 0xFF));
  b.push_back(static_cast<uint8_t>(index));
  b.push_back(0);
  return b;
}

std::vector<int16_t> sonpak_decode(std::vector<uint8_t> block, int* result = nullptr) {
  std::vector<int16_t> out(2 * block.size() + 8);
  AUDIO_DEC_PARAM p{static_cast<int32_t>(block.size()), block.data(),
                    static_cast<int32_t>(out.size() * 2), out.data()};
  const int r = ADPCM_Decode(&p, nullptr);
  if (result) *result = r;
  out.resize(static_cast<size_t>(p.output_length / 2));
  return out;
}

// Test adapter: the same nibbles and start state through libavcodec's adpcm_ima_qt decoder,
// which expands nibbles with the same shifted-step sum as Sonpak. (adpcm_ima_wav rounds the
// difference once, ((2 x code + 1) x step) >> 3, so its samples drift from Sonpak's by a few
// units; it is not used as the reference for that reason.) Its 34-byte block holds a
// big-endian header of a 9-bit predictor (multiples of 128) and a 7-bit step index, then 64
// codes, low nibble first; each block gets a fresh decoder because the decoder otherwise
// keeps its previous predictor when the new one is within 127 of it.
class ImaReference {
 public:
  bool ok() const { return avcodec_find_decoder(AV_CODEC_ID_ADPCM_IMA_QT) != nullptr; }

  // codes.size() must be 32; predictor a multiple of 128; index 0..88.
  std::vector<int16_t> decode(const std::vector<uint8_t>& codes, int predictor, int index) {
    std::vector<int16_t> out;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_ADPCM_IMA_QT);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->sample_rate = 8000;
    av_channel_layout_default(&ctx->ch_layout, 1);
    AVFrame* frame = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    if (avcodec_open2(ctx, codec, nullptr) == 0) {
      const unsigned header =
          (static_cast<unsigned>(predictor) & 0xFF80u) | static_cast<unsigned>(index);
      av_new_packet(pkt, 34);
      pkt->data[0] = static_cast<uint8_t>(header >> 8);
      pkt->data[1] = static_cast<uint8_t>(header & 0xFF);
      std::memcpy(pkt->data + 2, codes.data(), 32);
      if (avcodec_send_packet(ctx, pkt) == 0) {
        while (avcodec_receive_frame(ctx, frame) == 0) {
          const int16_t* s = reinterpret_cast<const int16_t*>(frame->data[0]);
          out.insert(out.end(), s, s + frame->nb_samples);
        }
      }
    }
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    return out;
  }
};

// A speech-like signal: a few formant-like partials under a syllable envelope, with noise.
std::vector<int16_t> speech_like(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 300.0);
  std::vector<int16_t> s(static_cast<size_t>(n));
  const double pi = std::acos(-1.0);
  for (int i = 0; i < n; ++i) {
    const double t = i / 8000.0;
    const double env = 0.5 + 0.5 * std::sin(2 * pi * 3.0 * t);
    const double pitch = 120.0 + 30.0 * std::sin(2 * pi * 0.7 * t);
    double v = 9000 * std::sin(2 * pi * pitch * t) + 6000 * std::sin(2 * pi * 700 * t) +
               3000 * std::sin(2 * pi * 2300 * t);
    v = v * env * env + noise(rng);
    s[static_cast<size_t>(i)] = static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
  }
  return s;
}

struct ImaPacket {
  int predictor = 0;
  int index = 0;
  std::vector<uint8_t> codes;
  size_t first_sample = 0;  // index in the source of the sample the codes start at
};

// libavcodec's IMA ADPCM encoder gives realistic code sequences for a signal.
std::vector<ImaPacket> ima_encode(const std::vector<int16_t>& pcm) {
  std::vector<ImaPacket> packets;
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_ADPCM_IMA_WAV);
  if (!codec) return packets;
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  ctx->sample_rate = 8000;
  av_channel_layout_default(&ctx->ch_layout, 1);
  ctx->sample_fmt = AV_SAMPLE_FMT_S16;
  ctx->bits_per_coded_sample = 4;
  AVFrame* f = av_frame_alloc();
  AVPacket* pkt = av_packet_alloc();
  if (avcodec_open2(ctx, codec, nullptr) == 0) {
    const size_t fs = static_cast<size_t>(ctx->frame_size);
    for (size_t at = 0; at + fs <= pcm.size(); at += fs) {
      av_frame_unref(f);
      f->nb_samples = ctx->frame_size;
      f->format = ctx->sample_fmt;
      av_channel_layout_copy(&f->ch_layout, &ctx->ch_layout);
      if (av_frame_get_buffer(f, 0) < 0) break;
      std::memcpy(f->data[0], pcm.data() + at, fs * 2);
      if (avcodec_send_frame(ctx, f) == 0 && avcodec_receive_packet(ctx, pkt) == 0) {
        ImaPacket p;
        // The header predictor is the block's first sample; the codes follow it.
        p.predictor = static_cast<int16_t>(pkt->data[0] | (pkt->data[1] << 8));
        p.index = pkt->data[2];
        p.codes.assign(pkt->data + 4, pkt->data + pkt->size);
        p.first_sample = at + 1;
        packets.push_back(std::move(p));
        av_packet_unref(pkt);
      }
    }
  }
  av_packet_free(&pkt);
  av_frame_free(&f);
  avcodec_free_context(&ctx);
  return packets;
}

// Step index after the nibbles of `codes` (it depends on the codes alone).
int index_after(const std::vector<uint8_t>& codes, size_t bytes, int index) {
  static const int table[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};
  for (size_t i = 0; i < bytes; ++i) {
    index = std::clamp(index + table[codes[i] & 15], 0, 88);
    index = std::clamp(index + table[codes[i] >> 4], 0, 88);
  }
  return index;
}

TEST(SonpakDecode, HandVectorsOfTheBlockFormat) {
  int r = 0;
  EXPECT_EQ(sonpak_decode(make_block({0x70}, 0, 0), &r), (std::vector<int16_t>{0, 11}));
  EXPECT_EQ(r, 1);
  EXPECT_TRUE(sonpak_decode(make_block({}, 1234, 5), &r).empty());
  EXPECT_EQ(r, 1);
  // A trailer index past the table is used as its last entry.
  EXPECT_EQ(sonpak_decode(make_block({0x21, 0x9F}, -500, 100)),
            sonpak_decode(make_block({0x21, 0x9F}, -500, 88)));
  EXPECT_EQ(sonpak_decode(make_block({0x21, 0x9F}, -500, -3)),
            sonpak_decode(make_block({0x21, 0x9F}, -500, 0)));
  // The top predictors clamp at full scale.
  EXPECT_EQ(sonpak_decode(make_block({0x77, 0x77}, 32767, 88)), (std::vector<int16_t>(4, 32767)));
  EXPECT_EQ(sonpak_decode(make_block({0xFF, 0xFF}, -32768, 88)), (std::vector<int16_t>(4, -32768)));
}

TEST(SonpakDecode, BlockShorterThanTrailerReadsAndWritesNothing) {
  for (int len = 0; len < 4; ++len) {
    // Exactly sized input (one byte for none), so a read before or past it trips the
    // address sanitizer.
    std::unique_ptr<uint8_t[]> in(new uint8_t[static_cast<size_t>(std::max(len, 1))]);
    std::memset(in.get(), 0x77, static_cast<size_t>(std::max(len, 1)));
    std::vector<int16_t> out(8, 0x5A5A);
    AUDIO_DEC_PARAM p{len, in.get(), 16, out.data()};
    EXPECT_EQ(ADPCM_Decode(&p, nullptr), 0) << len;
    EXPECT_EQ(p.output_length, 0) << len;
    for (int16_t s : out) EXPECT_EQ(s, 0x5A5A);
  }
  uint8_t b[8] = {};
  int16_t o[4];
  AUDIO_DEC_PARAM neg{-7, b, 8, o};
  EXPECT_EQ(ADPCM_Decode(&neg, nullptr), 0);
  EXPECT_EQ(ADPCM_Decode(nullptr, nullptr), 0);
}

TEST(SonpakDecode, NeverWritesPastTheGivenCapacity) {
  std::vector<uint8_t> codes(40);
  for (size_t i = 0; i < codes.size(); ++i) codes[i] = static_cast<uint8_t>(i * 37 + 11);
  std::vector<uint8_t> block = make_block(codes, 100, 20);
  const std::vector<int16_t> full = sonpak_decode(block);
  ASSERT_EQ(full.size(), 80u);
  for (int cap : {0, 1, 2, 3, 10, 31, 64, 159, 160, 161, 400}) {
    std::vector<int16_t> out(100, 0x1234);
    AUDIO_DEC_PARAM p{static_cast<int32_t>(block.size()), block.data(), cap, out.data()};
    ASSERT_EQ(ADPCM_Decode(&p, nullptr), 1);
    const int written = std::min(cap / 2, 80);
    EXPECT_EQ(p.output_length, written * 2) << cap;
    for (int i = 0; i < written; ++i) EXPECT_EQ(out[i], full[i]) << cap;
    for (int i = written; i < 100; ++i) ASSERT_EQ(out[i], 0x1234) << "capacity " << cap;
  }
}

TEST(SonpakDecode, MatchesLibavcodecOverRandomBlocksAndEveryStartState) {
  ImaReference ref;
  ASSERT_TRUE(ref.ok());
  std::mt19937 rng(1234);
  auto random_codes = [&](int bias) {
    std::vector<uint8_t> codes(32);
    for (auto& c : codes) {
      const uint8_t r = static_cast<uint8_t>(rng());
      // Blocks of all-large or all-small codes drive the sample and index clamps.
      c = bias == 0 ? r
                    : (bias == 1 ? static_cast<uint8_t>(r | 0x77) : static_cast<uint8_t>(r & 0x88));
    }
    return codes;
  };
  // Every step index with the predictor extremes the reference can carry (multiples of
  // 128; the top extreme 32767 and the index clamp are in the hand vectors).
  const int predictors[] = {-32768, -32640, -128, 0, 128, 32512, 32640};
  for (int index = 0; index <= 88; ++index)
    for (int pred : predictors)
      for (int bias = 0; bias < 3; ++bias) {
        const std::vector<uint8_t> codes = random_codes(bias);
        ASSERT_EQ(sonpak_decode(make_block(codes, pred, index)), ref.decode(codes, pred, index))
            << "index " << index << " predictor " << pred << " bias " << bias;
      }
  // A long random stream, block by block from random start states.
  for (int trial = 0; trial < 3000; ++trial) {
    const std::vector<uint8_t> codes = random_codes(trial % 3);
    const int pred = static_cast<int16_t>(rng() & 0xFF80u);
    const int index = static_cast<int>(rng() % 89);
    ASSERT_EQ(sonpak_decode(make_block(codes, pred, index)), ref.decode(codes, pred, index))
        << "trial " << trial;
  }
}

TEST(SonpakDecode, MatchesLibavcodecOnSpeechLikeAudio) {
  ImaReference ref;
  ASSERT_TRUE(ref.ok());
  int blocks = 0;
  for (unsigned seed = 1; seed <= 8; ++seed) {
    const std::vector<int16_t> pcm = speech_like(8000, seed);
    const std::vector<ImaPacket> packets = ima_encode(pcm);
    ASSERT_FALSE(packets.empty());
    for (const ImaPacket& p : packets) {
      // The whole packet as one block from its exact start state reproduces the audio.
      const std::vector<int16_t> ours = sonpak_decode(make_block(p.codes, p.predictor, p.index));
      ASSERT_EQ(ours.size(), 2 * p.codes.size());
      double err = 0, sig = 0;
      for (size_t i = 0; i < ours.size() && p.first_sample + i < pcm.size(); ++i) {
        const double src = pcm[p.first_sample + i];
        err += (ours[i] - src) * (ours[i] - src);
        sig += src * src;
      }
      EXPECT_GT(10 * std::log10(sig / std::max(err, 1.0)), 15.0) << "seed " << seed;
      // Its codes, 32 bytes at a time, sample for sample against the reference.
      for (size_t at = 0; at + 32 <= p.codes.size(); at += 32) {
        const std::vector<uint8_t> part(p.codes.begin() + static_cast<long>(at),
                                        p.codes.begin() + static_cast<long>(at) + 32);
        const int index = index_after(p.codes, at, p.index);
        const int pred = ours[2 * at] & ~0x7F;  // near the signal, as the reference can carry it
        ASSERT_EQ(sonpak_decode(make_block(part, pred, index)), ref.decode(part, pred, index))
            << "seed " << seed << " at " << at;
        ++blocks;
      }
    }
  }
  EXPECT_GT(blocks, 500);
}

struct EncodeResult {
  std::vector<uint8_t> bytes;
  int result = 0;
};

EncodeResult encode(std::vector<int16_t> pcm, size_t room = 0) {
  EncodeResult r;
  r.bytes.assign(room ? room : pcm.size() / 2 + 8, 0xEE);
  AUDIO_ENC_PARAM p{};
  p.input = pcm.data();
  p.sample_count = static_cast<int32_t>(pcm.size());
  p.output = r.bytes.data();
  r.result = ADPCM_Encode(&p);
  r.bytes.resize(static_cast<size_t>(p.output_length));
  return r;
}

TEST(SonpakEncode, HandVectorsFollowTheEncoderRulesAndOddCountsKeepTheLastCode) {
  AUDIO_ENC_INIT_PARAM init{};
  ASSERT_EQ(ADPCM_Initialize(&init), 1);
  // 0 -> code 0; 100 -> 7 (predictor 11, index 8); -100 -> 15 (-17, 16); 32767 -> 7 (42, 24).
  const EncodeResult r = encode({0, 100, -100, 32767});
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.bytes, (std::vector<uint8_t>{0x07, 0xF7, 0x2A, 0x00, 0x18, 0x00}));
  ADPCM_Initialize(&init);
  const EncodeResult three = encode({0, 100, -100});
  // Last code in the high nibble of byte 1, the trailer (-17, index 16) after it.
  ASSERT_EQ(three.bytes.size(), 6u);
  EXPECT_EQ(std::vector<uint8_t>(three.bytes.begin(), three.bytes.begin() + 5),
            (std::vector<uint8_t>{0x07, 0xF0, static_cast<uint8_t>(-17 & 0xFF), 0xFF, 16}));
  ADPCM_Initialize(&init);
  const EncodeResult one = encode({100}, 16);
  ASSERT_EQ(one.bytes.size(), 5u);
  EXPECT_EQ(one.bytes[0], 0x70);
  EXPECT_EQ(one.bytes[1], 11);
}

TEST(SonpakEncode, StatePersistsBetweenCallsUntilInitialised) {
  const std::vector<int16_t> pcm = speech_like(512, 3);
  AUDIO_ENC_INIT_PARAM init{};
  ADPCM_Initialize(&init);
  const EncodeResult whole = encode(pcm);
  ADPCM_Initialize(&init);
  const EncodeResult a = encode(std::vector<int16_t>(pcm.begin(), pcm.begin() + 256));
  const EncodeResult b = encode(std::vector<int16_t>(pcm.begin() + 256, pcm.end()));
  // Two halves continue one stream: their codes join into the whole call's codes, and the
  // second trailer is the whole call's trailer.
  std::vector<uint8_t> joined(a.bytes.begin(), a.bytes.begin() + 128);
  joined.insert(joined.end(), b.bytes.begin(), b.bytes.end());
  EXPECT_EQ(joined, whole.bytes);
  ADPCM_Initialize(&init);
  EXPECT_EQ(encode(pcm).bytes, whole.bytes);

  AUDIO_ENC_PARAM bad{};
  bad.sample_count = 4;
  EXPECT_EQ(ADPCM_Encode(&bad), 0);
  EXPECT_EQ(ADPCM_Encode(nullptr), 0);
}

}  // namespace
