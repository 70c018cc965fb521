// The outside decoders' stand-ins: Quellvid and Quellaud export the same names, and each call
// must reach its own library; Quellvid and Tessra hand out pictures close to the encoded source
// in planes of the strides the SDK copies from, and refuse what does not fit their set-up.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <string>
#include <vector>

#include "peers/media/media_gen.h"
#include "platform/quellaud/quellaud.h"
#include "platform/quellvid/quellvid.h"
#include "platform/tessra/tessra.h"

namespace {

using media_gen::Yuv420;

// MPEG-4 part 2 frames that carry their VOS/VOL headers on every key frame, as a DVR sends them.
std::vector<std::vector<uint8_t>> mpeg4_frames(int w, int h, int count, std::vector<Yuv420>& pics) {
  std::vector<std::vector<uint8_t>> out;
  media_gen::Mpeg4Encoder enc(w, h, 25, 4);
  for (int i = 0; i < count && enc.ok(); ++i) {
    pics.push_back(media_gen::synth_picture(w, h, 7, i));
    std::vector<uint8_t> frame;
    bool key = false;
    if (enc.encode_with_headers(pics.back(), frame, key) != 0) break;
    out.push_back(frame);
  }
  return out;
}

std::vector<uint8_t> config_of(const std::vector<uint8_t>& key_frame) {
  std::vector<uint8_t> cfg(QUELLVID_CONFIG_SIZE, 0);
  std::memcpy(cfg.data(), key_frame.data(), std::min(cfg.size(), key_frame.size()));
  return cfg;
}

// Luma and chroma PSNR of a decoded picture in padded planes against its source.
void expect_close(uint8_t* planes[3], int y_stride, int c_stride, const Yuv420& src) {
  const int w = src.width, h = src.height;
  EXPECT_GT(media_gen::psnr_y(planes[0], src.y.data(), w, h, y_stride, w), 30.0);
  EXPECT_GT(media_gen::psnr_y(planes[1], src.u.data(), w / 2, h / 2, c_stride, w / 2), 30.0);
  EXPECT_GT(media_gen::psnr_y(planes[2], src.v.data(), w / 2, h / 2, c_stride, w / 2), 30.0);
}

std::string library_of(void* fn) {
  Dl_info info{};
  return dladdr(fn, &info) && info.dli_fname ? info.dli_fname : "";
}

TEST(OutsideDecoders, EachSharedNameReachesItsOwnLibrary) {
  const struct {
    void* fn;
    const char* library;
  } cases[] = {
      {reinterpret_cast<void*>(&quellvid::Ex_Initialize), "libQuellvid.so"},
      {reinterpret_cast<void*>(&quellvid::Ex_Decode), "libQuellvid.so"},
      {reinterpret_cast<void*>(&quellaud::Ex_Initialize), "libQuellaud.so"},
      {reinterpret_cast<void*>(&quellaud::Ex_Decode), "libQuellaud.so"},
  };
  for (const auto& c : cases)
    EXPECT_NE(library_of(c.fn).find(c.library), std::string::npos) << c.library;

  AUDIO_DEC_INIT_PARAM init = {16, 0, 2};
  EXPECT_EQ(quellaud::Ex_Initialize(&init),
            1);  // takes the audio record, where Quellvid's would fail
}

TEST(OutsideDecoders, QuellvidDecodesMpeg4InPlanesWidthPlus32Apart) {
  std::vector<Yuv420> pics;
  const auto frames = mpeg4_frames(720, 576, 9, pics);
  ASSERT_EQ(frames.size(), 9u);
  PICTUREINFO info{};
  info.size = PICTUREINFO_SIZE;  // no size given: the configuration's VOL header tells it
  void* h = quellvid::Ex_Initialize(config_of(frames[0]).data(), &info);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(info.width, 720);
  EXPECT_EQ(info.height, 576);
  EXPECT_EQ(info.image_size, 720u * 576 * 3 / 2);
  for (size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE(i);
    if (i == 6) {
      EXPECT_EQ(quellvid::Ex_ClearBuffer(h), 1);  // frames 4.. form a GOP; 6 is a P frame
    }
    uint8_t* planes[3] = {};
    const int r = quellvid::Ex_Decode(h, frames[i].data(), int(frames[i].size()), planes);
    if (i == 6) continue;  // its reference is gone: whatever comes out, nothing breaks
    ASSERT_EQ(r, 1);
    if (i < 6) expect_close(planes, 752, 752, pics[i]);
  }
  EXPECT_EQ(quellvid::Ex_Close(h), 1);
}

TEST(OutsideDecoders, QuellvidRefusesWhatDoesNotFitItsSetUp) {
  std::vector<Yuv420> small_pics, big_pics;
  const auto small = mpeg4_frames(176, 144, 1, small_pics);
  const auto big = mpeg4_frames(352, 288, 1, big_pics);
  ASSERT_FALSE(small.empty());
  ASSERT_FALSE(big.empty());
  PICTUREINFO info{};
  info.size = 39;
  EXPECT_EQ(quellvid::Ex_Initialize(config_of(small[0]).data(), &info), nullptr);
  EXPECT_EQ(quellvid::Ex_Initialize(config_of(small[0]).data(), nullptr), nullptr);

  // The caller's size stands when the configuration has no VOL header.
  info = PICTUREINFO{};
  info.size = PICTUREINFO_SIZE;
  info.width = 176;
  info.height = 144;
  std::vector<uint8_t> no_vol(QUELLVID_CONFIG_SIZE, 0);
  void* h = quellvid::Ex_Initialize(no_vol.data(), &info);
  ASSERT_NE(h, nullptr);
  uint8_t* planes[3] = {};
  EXPECT_EQ(quellvid::Ex_Decode(h, small[0].data(), int(small[0].size()), planes), 1);
  // A picture of another size would overrun the caller's copy: refused, planes untouched.
  uint8_t* untouched[3] = {};
  EXPECT_EQ(quellvid::Ex_Decode(h, big[0].data(), int(big[0].size()), untouched), 0);
  EXPECT_EQ(untouched[0], nullptr);
  quellvid::Ex_Close(h);
}

// NAL units of an Annex-B access unit, start codes included.
std::vector<std::vector<uint8_t>> nal_units(const std::vector<uint8_t>& au) {
  std::vector<size_t> starts;
  for (size_t i = 0; i + 3 <= au.size(); ++i)
    if (au[i] == 0 && au[i + 1] == 0 && au[i + 2] == 1) {
      starts.push_back(i > 0 && au[i - 1] == 0 ? i - 1 : i);
      i += 2;
    }
  std::vector<std::vector<uint8_t>> out;
  for (size_t k = 0; k < starts.size(); ++k)
    out.emplace_back(au.begin() + long(starts[k]),
                     k + 1 < starts.size() ? au.begin() + long(starts[k + 1]) : au.end());
  return out;
}

TEST(OutsideDecoders, TessraTakesOneNalUnitAtATimeAndDeliversAtTheLastSlice) {
  const int w = 720, h = 576;
  media_gen::H264Encoder enc(w, h, 30, 4);
  ASSERT_TRUE(enc.ok());
  CVDecoder* dec = CreateVDecoder();
  ASSERT_NE(dec, nullptr);
  uint8_t* planes[3] = {};
  const uint8_t nal[] = {0, 0, 0, 1, 0x09, 0x10};
  EXPECT_EQ(dec->DecodeNAL(nal, sizeof nal, planes), 0);  // not set up yet

  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    const Yuv420 pic = media_gen::synth_picture(w, h, 3, i);
    std::vector<uint8_t> au;
    bool key = false;
    ASSERT_EQ(enc.encode(pic, au, key), 0);
    if (i == 0) {
      PICTUREINFO bad{};
      bad.size = 41;
      EXPECT_EQ(dec->Initialize(config_of(au).data(), &bad), 0);
      PICTUREINFO info{};
      info.size = PICTUREINFO_SIZE;
      info.width = w;
      info.height = h;
      ASSERT_EQ(dec->Initialize(config_of(au).data(), &info), 1);
      EXPECT_EQ(info.width, w);
      EXPECT_EQ(info.height, h);
    }
    const auto units = nal_units(au);
    ASSERT_FALSE(units.empty());
    for (size_t k = 0; k < units.size(); ++k) {
      const int r = dec->DecodeNAL(units[k].data(), int(units[k].size()), planes);
      EXPECT_EQ(r, k + 1 == units.size() ? 1 : 0) << "unit " << k;
    }
    expect_close(planes, w + 32, (w + 32) / 2, pic);
  }

  // Set up again for a smaller stream: the big pictures no longer fit and are refused.
  PICTUREINFO info{};
  info.size = PICTUREINFO_SIZE;
  info.width = 352;
  info.height = 288;
  media_gen::H264Encoder big(w, h, 30, 4);
  std::vector<uint8_t> au;
  bool key = false;
  ASSERT_EQ(big.encode(media_gen::synth_picture(w, h, 1, 0), au, key), 0);
  ASSERT_EQ(dec->Initialize(std::vector<uint8_t>(TESSRA_CONFIG_SIZE, 0).data(), &info), 1);
  int pictures = 0;
  for (const auto& u : nal_units(au)) pictures += dec->DecodeNAL(u.data(), int(u.size()), planes);
  EXPECT_EQ(pictures, 0);
  dec->Release();
}

}  // namespace
