// The H.264 stand-in's YUV 4:2:0 to BGR24 conversion: within three levels of libswscale's,
// and the same pixels whether a picture ends inside or outside the 32-pixel steps, with
// nothing written past its rows.
#include "platform/pixtree/yuv_to_bgr24.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

namespace {

struct Planes {
  int w, h, cw;
  std::vector<uint8_t> y, u, v;
  Planes(int w_, int h_) : w(w_), h(h_), cw((w_ + 1) / 2) {
    const int ch = (h + 1) / 2;
    y.resize(size_t(w) * h);
    u.resize(size_t(cw) * ch);
    v.resize(size_t(cw) * ch);
    for (size_t i = 0; i < y.size(); ++i) y[i] = uint8_t(i * 37 + i / 7);
    for (size_t i = 0; i < u.size(); ++i) {
      u[i] = uint8_t(i * 13 + 40);
      v[i] = uint8_t(255 - i * 11);
    }
  }
};

// The top-left w x h of `p` (its strides kept), rows `stride` bytes apart plus a canary tail.
std::vector<uint8_t> convert(const Planes& p, int w, int h, int stride) {
  const uint8_t* const planes[3] = {p.y.data(), p.u.data(), p.v.data()};
  const int strides[3] = {p.w, p.cw, p.cw};
  std::vector<uint8_t> out(size_t(stride) * h + 16, 0xEE);
  yuv420_to_bgr24(planes, strides, w, h, out.data(), stride);
  return out;
}

}  // namespace

TEST(YuvToBgr24, MatchesLibswscaleWithinThreeLevels) {
  for (auto [w, h] : {std::pair{32, 2}, std::pair{48, 4}, std::pair{352, 288}}) {
    SCOPED_TRACE(w);
    Planes p(w, h);
    std::vector<uint8_t> ours = convert(p, w, h, w * 3);
    std::vector<uint8_t> ref(size_t(w) * h * 3);
    SwsContext* sws = sws_getContext(w, h, AV_PIX_FMT_YUV420P, w, h, AV_PIX_FMT_BGR24, SWS_POINT,
                                     nullptr, nullptr, nullptr);
    ASSERT_NE(sws, nullptr);
    const uint8_t* const planes[3] = {p.y.data(), p.u.data(), p.v.data()};
    const int strides[3] = {w, p.cw, p.cw};
    uint8_t* dst[1] = {ref.data()};
    const int dst_stride[1] = {w * 3};
    sws_scale(sws, planes, strides, 0, h, dst, dst_stride);
    sws_freeContext(sws);
    int worst = 0;
    for (size_t i = 0; i < ref.size(); ++i) worst = std::max(worst, std::abs(ours[i] - ref[i]));
    EXPECT_LE(worst, 3);
  }
}

TEST(YuvToBgr24, PicturesEndingInsideAStepMatchAWiderOneAndStayInTheirRows) {
  Planes big(96, 6);
  const std::vector<uint8_t> whole = convert(big, 96, 6, 96 * 3);
  for (auto [w, h] : {std::pair{33, 3}, std::pair{17, 1}, std::pair{70, 5}, std::pair{95, 6}}) {
    SCOPED_TRACE(w);
    const int stride = w * 3 + 5;  // a gap after each row, which must stay untouched
    std::vector<uint8_t> part = convert(big, w, h, stride);
    for (int r = 0; r < h; ++r) {
      for (int i = 0; i < w * 3; ++i)
        ASSERT_EQ(part[size_t(r) * stride + i], whole[size_t(r) * 96 * 3 + i]) << r << " " << i;
      for (int i = w * 3; i < stride; ++i) ASSERT_EQ(part[size_t(r) * stride + i], 0xEE) << r;
    }
    for (size_t i = size_t(stride) * h; i < part.size(); ++i) ASSERT_EQ(part[i], 0xEE);
  }
}
