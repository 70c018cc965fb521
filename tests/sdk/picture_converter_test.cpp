// CPictureConverter: hand values of both colour formulas, every colour conversion against
// libswscale on random pictures (chroma resampling done by hand around it, so only the colour
// arithmetic and the layouts are compared), the packed layouts against each other, line
// doubling, and the refusals that keep a conversion inside its buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "sdk/PictureConverter.h"

namespace {

struct Planes {
  int w = 0, h = 0, cw = 0, ch = 0;  // luma and chroma sizes
  std::vector<uint8_t> y, u, v;
  PLANAR_SRC src() const { return {y.data(), u.data(), v.data(), w, cw}; }
  PLANAR_DST dst() { return {y.data(), u.data(), v.data(), w, cw}; }
};

Planes random_planes(int w, int h, int cw, int ch, uint32_t seed) {
  std::mt19937 rng(seed);
  Planes p{w, h, cw, ch, {}, {}, {}};
  for (auto* plane : {&p.y, &p.u, &p.v}) {
    plane->resize(plane == &p.y ? size_t(w) * h : size_t(cw) * ch);
    for (auto& b : *plane) b = uint8_t(rng());
  }
  return p;
}

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> b(n);
  for (auto& x : b) x = uint8_t(rng());
  return b;
}

// Full-size chroma by nearest sample: what the converter does inside, done apart here so
// libswscale only has to do the colour arithmetic.
Planes to_444(const Planes& p) {
  Planes f{p.w,
           p.h,
           p.w,
           p.h,
           p.y,
           std::vector<uint8_t>(size_t(p.w) * p.h),
           std::vector<uint8_t>(size_t(p.w) * p.h)};
  const int xdiv = p.cw == p.w ? 1 : 2, ydiv = p.ch == p.h ? 1 : 2;
  for (int r = 0; r < p.h; ++r)
    for (int c = 0; c < p.w; ++c) {
      f.u[size_t(r) * p.w + c] = p.u[size_t(r / ydiv) * p.cw + c / xdiv];
      f.v[size_t(r) * p.w + c] = p.v[size_t(r / ydiv) * p.cw + c / xdiv];
    }
  return f;
}

// libswscale's conversion of one picture between two formats at the same size, with the
// BT.601 coefficients in full (JFIF) or video range; packed output rows are returned top down.
std::vector<uint8_t> sws(int w, int h, AVPixelFormat from, const uint8_t* const in[4],
                         const int in_stride[4], AVPixelFormat to, bool full_range) {
  SwsContext* ctx = sws_getContext(
      w, h, from, w, h, to, SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP,
      nullptr, nullptr, nullptr);
  const int* coef = sws_getCoefficients(SWS_CS_ITU601);
  sws_setColorspaceDetails(ctx, coef, full_range, coef, full_range, 0, 1 << 16, 1 << 16);
  std::vector<uint8_t> out(size_t(av_image_get_buffer_size(to, w, h, 1)));
  uint8_t* dst[4];
  int dst_stride[4];
  av_image_fill_arrays(dst, dst_stride, out.data(), to, w, h, 1);
  sws_scale(ctx, in, in_stride, 0, h, dst, dst_stride);
  sws_freeContext(ctx);
  return out;
}

std::vector<uint8_t> sws_from_444(const Planes& f, AVPixelFormat to, bool full_range) {
  const uint8_t* in[4] = {f.y.data(), f.u.data(), f.v.data(), nullptr};
  const int stride[4] = {f.w, f.w, f.w, 0};
  return sws(f.w, f.h, AV_PIX_FMT_YUV444P, in, stride, to, full_range);
}

std::vector<uint8_t> sws_from_bgr(const std::vector<uint8_t>& bgr, int w, int h) {
  const uint8_t* in[4] = {bgr.data(), nullptr, nullptr, nullptr};
  const int stride[4] = {w * 3, 0, 0, 0};
  return sws(w, h, AV_PIX_FMT_BGR24, in, stride, AV_PIX_FMT_YUV444P, true);
}

// Rows of a packed picture in the other vertical order.
std::vector<uint8_t> flip(const uint8_t* p, int row_bytes, int rows) {
  std::vector<uint8_t> out(size_t(row_bytes) * rows);
  for (int r = 0; r < rows; ++r)
    std::memcpy(&out[size_t(r) * row_bytes], p + size_t(rows - 1 - r) * row_bytes,
                size_t(row_bytes));
  return out;
}

int max_diff(const uint8_t* a, const uint8_t* b, size_t n) {
  int m = 0;
  for (size_t i = 0; i < n; ++i) m = std::max(m, std::abs(int(a[i]) - int(b[i])));
  return m;
}

TEST(PictureConverter, HandValuesOfBothFormulas) {
  CPictureConverter conv;
  ASSERT_EQ(conv.AllocateBuffers(2, 2, false), 1);
  struct Case {
    const char* name;
    int y, u, v;
    int b, g, r;
  } to_bgr[] = {
      {"jfif grey", 128, 128, 128, 128, 128, 128},
      {"jfif black", 0, 128, 128, 0, 0, 0},
      {"jfif clamps red", 255, 128, 255, 255, 164, 255},
      {"video black", 16, 128, 128, 0, 0, 0},
      {"video below black", 3, 128, 128, 0, 0, 0},
      {"video white", 235, 128, 128, 255, 255, 255},
      {"video blue", 41, 240, 110, 255, 0, 0},
  };
  for (const Case& c : to_bgr) {
    SCOPED_TRACE(c.name);
    Planes p = random_planes(2, 2, 1, 1, 1);
    std::fill(p.y.begin(), p.y.end(), uint8_t(c.y));
    p.u[0] = uint8_t(c.u);
    p.v[0] = uint8_t(c.v);
    const bool video = c.name[0] == 'v';
    ASSERT_EQ(video ? conv.I420ToBGR32(p.src(), 2, 2) : conv.I420ToBGR24(p.src(), 2, 2), 1);
    const uint8_t* px = conv.GetBuffer1();
    EXPECT_EQ(px[0], c.b);
    EXPECT_EQ(px[1], c.g);
    EXPECT_EQ(px[2], c.r);
    if (video) { EXPECT_EQ(px[3], 0); }
  }
  struct Rgb {
    uint8_t b, g, r, y, u, v;
  } to_yuv[] = {{255, 255, 255, 255, 128, 128},
                {0, 0, 0, 0, 128, 128},
                {0, 0, 255, 76, 85, 255},
                {255, 0, 0, 29, 255, 107}};
  for (const Rgb& c : to_yuv) {
    const std::vector<uint8_t> bgr = {c.b, c.g, c.r};
    uint8_t y = 0, u = 0, v = 0;
    ASSERT_EQ(conv.BGR24ToYUV444(bgr.data(), 0, 1, 1, {&y, &u, &v, 1, 1}), 1);
    EXPECT_EQ(std::vector<int>({y, u, v}), std::vector<int>({c.y, c.u, c.v}))
        << int(c.b) << "," << int(c.g) << "," << int(c.r);
  }
}

TEST(PictureConverter, ColourConversionsAgreeWithLibswscale) {
  const int w = 64, h = 48;
  CPictureConverter conv;
  ASSERT_EQ(conv.AllocateBuffers(w, h, false), 1);
  const Planes i420 = random_planes(w, h, w / 2, h / 2, 11), p444 = random_planes(w, h, w, h, 13);
  // The video-range formula floors Y - 16 at 0 where libswscale goes below black, so its
  // pictures stay inside the video range (the hand values cover the floor).
  Planes video = random_planes(w, h, w / 2, h / 2, 12), p422 = random_planes(w, h, w / 2, h, 12);
  for (Planes* p : {&video, &p422}) {
    for (auto& b : p->y) b = uint8_t(16 + b % 220);
    for (auto* c : {&p->u, &p->v})
      for (auto& b : *c) b = uint8_t(16 + b % 225);
  }
  struct ToBgr {
    const char* name;
    const Planes* in;
    std::function<int()> convert;
    int bytes_per_pixel;
    bool full_range;
  } to_bgr[] = {
      {"I420 to BGR24", &i420, [&] { return conv.I420ToBGR24(i420.src(), w, h); }, 3, true},
      {"4:4:4 to BGR24", &p444, [&] { return conv.YUV444ToBGR24(p444.src(), w, h); }, 3, true},
      {"4:2:2 to BGR24", &p422, [&] { return conv.YUV422ToBGR24(p422.src(), w, h); }, 3, false},
      {"I420 to BGR32", &video, [&] { return conv.I420ToBGR32(video.src(), w, h); }, 4, false},
  };
  for (const ToBgr& c : to_bgr) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.convert(), 1);
    auto ref = sws_from_444(
        to_444(*c.in), c.bytes_per_pixel == 3 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_BGR0, c.full_range);
    if (c.bytes_per_pixel == 4)
      for (size_t i = 3; i < ref.size(); i += 4) ref[i] = 0;  // our fourth byte is 0
    const auto ours = flip(conv.GetBuffer1(), w * c.bytes_per_pixel, h);
    EXPECT_LE(max_diff(ours.data(), ref.data(), ref.size()), c.full_range ? 1 : 3);
  }

  // YUY2 to BGR24: the packed form of the same 4:2:2 picture (a pure repack in libswscale).
  const uint8_t* in422[4] = {p422.y.data(), p422.u.data(), p422.v.data(), nullptr};
  const int stride422[4] = {w, w / 2, w / 2, 0};
  const auto yuy2 = sws(w, h, AV_PIX_FMT_YUV422P, in422, stride422, AV_PIX_FMT_YUYV422, false);
  ASSERT_EQ(conv.YUY2ToBGR24(yuy2.data(), 0, w, h), 1);
  const auto ref422 = sws_from_444(to_444(p422), AV_PIX_FMT_BGR24, true);
  EXPECT_LE(max_diff(flip(conv.GetBuffer1(), w * 3, h).data(), ref422.data(), ref422.size()), 1);

  // BGR24 to YUV: libswscale's full-size planes; I420 keeps the first pixel of each 2 x 2
  // group, as 4:4:4 to 4:2:0 does, and so does YUY2 taken back to I420. BGR24 to YUY2 and
  // the bottom-up I420 read rows bottom up.
  const std::vector<uint8_t> bgr = random_bytes(size_t(w) * h * 3, 14);
  const std::vector<uint8_t> bgr_up = flip(bgr.data(), w * 3, h);
  const auto ref = sws_from_bgr(bgr, w, h);
  Planes f = random_planes(w, h, w, h, 0), q = random_planes(w, h, w / 2, h / 2, 0), q_up = q,
         sub = q, back = q;
  ASSERT_EQ(conv.BGR24ToYUV444(bgr.data(), 0, w, h, f.dst()), 1);
  for (const auto* plane : {&f.y, &f.u, &f.v})
    EXPECT_LE(max_diff(plane->data(), ref.data() + (plane - &f.y) * f.y.size(), f.y.size()), 1);
  ASSERT_EQ(conv.BGR24ToI420(bgr.data(), 0, w, h, false, q.dst()), 1);
  ASSERT_EQ(conv.BGR24ToI420(bgr_up.data(), 0, w, h, true, q_up.dst()), 1);
  ASSERT_EQ(conv.YUV444ToI420(f.src(), w, h, sub.dst()), 1);
  ASSERT_EQ(conv.BGR24ToYUY2(bgr_up.data(), 0, w, h), 1);
  ASSERT_EQ(conv.YUY2ToI420(conv.GetBuffer1(), 0, w, h, back.dst()), 1);
  EXPECT_EQ(q.u[size_t(w / 2 + 3)], f.u[size_t(2 * w + 6)]);  // chroma (3, 1) is pixel (6, 2)
  for (const Planes* other : {&q_up, &sub, &back}) {
    EXPECT_EQ(other->y, q.y);
    EXPECT_EQ(other->u, q.u);
    EXPECT_EQ(other->v, q.v);
  }
}

TEST(PictureConverter, FasterPathsWriteThePlainPathsBytes) {
  // 72 x 36 leaves a tail after the 16-pixel steps; across the random pictures every value
  // of every plane occurs.
  const int w = 72, h = 36;
  CPictureConverter probe;
  if (!probe.GetFastPath()) GTEST_SKIP() << "no faster path on this processor";
  for (uint32_t seed = 1; seed <= 24; ++seed) {
    SCOPED_TRACE(seed);
    const Planes i420 = random_planes(w, h, w / 2, h / 2, seed),
                 p422 = random_planes(w, h, w / 2, h, seed + 100),
                 p444 = random_planes(w, h, w, h, seed + 200);
    const std::vector<uint8_t> bgr = random_bytes(size_t(w) * h * 3, seed + 300),
                               yuy2 = random_bytes(size_t(w) * h * 2, seed + 400);
    const struct {
      const char* name;
      std::function<int(CPictureConverter&, Planes&)> convert;  // planar output into the Planes
    } cases[] = {
        {"I420 to BGR24",
         [&](CPictureConverter& c, Planes&) { return c.I420ToBGR24(i420.src(), w, h); }},
        {"4:2:2 to BGR24",
         [&](CPictureConverter& c, Planes&) { return c.YUV422ToBGR24(p422.src(), w, h); }},
        {"I420 to BGR32",
         [&](CPictureConverter& c, Planes&) { return c.I420ToBGR32(i420.src(), w, h); }},
        {"4:4:4 to BGR24",
         [&](CPictureConverter& c, Planes&) { return c.YUV444ToBGR24(p444.src(), w, h); }},
        {"I420 to YUY2",
         [&](CPictureConverter& c, Planes&) { return c.I420ToYUY2(i420.src(), w, h); }},
        {"I420 to UYVY",
         [&](CPictureConverter& c, Planes&) { return c.I420ToUYVY(i420.src(), w, h); }},
        {"BGR24 to YUY2",
         [&](CPictureConverter& c, Planes&) { return c.BGR24ToYUY2(bgr.data(), 0, w, h); }},
        {"BGR24 to 4:4:4",
         [&](CPictureConverter& c, Planes& o) {
           return c.BGR24ToYUV444(bgr.data(), 0, w, h, o.dst());
         }},
        {"BGR24 to I420",
         [&](CPictureConverter& c, Planes& o) {
           o.cw = w / 2;
           return c.BGR24ToI420(bgr.data(), 0, w, h, true, o.dst());
         }},
        {"YUY2 to I420",
         [&](CPictureConverter& c, Planes& o) {
           o.cw = w / 2;
           return c.YUY2ToI420(yuy2.data(), 0, w, h, o.dst());
         }},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      CPictureConverter plain, fast;
      plain.SetFastPath(false);
      ASSERT_EQ(plain.AllocateBuffers(w, h, false), 1);
      ASSERT_EQ(fast.AllocateBuffers(w, h, false), 1);
      Planes po = random_planes(w, h, w, h, 0), fo = po;
      ASSERT_EQ(c.convert(plain, po), 1);
      ASSERT_EQ(c.convert(fast, fo), 1);
      ASSERT_EQ(std::memcmp(plain.GetBuffer1(), fast.GetBuffer1(), plain.GetBufferSize()), 0);
      ASSERT_EQ(po.y, fo.y);
      ASSERT_EQ(po.u, fo.u);
      ASSERT_EQ(po.v, fo.v);
    }
  }
}

TEST(PictureConverter, PackedLayoutsMatchLibswscaleAndEachOther) {
  const int w = 48, h = 20;
  CPictureConverter conv;
  ASSERT_EQ(conv.AllocateBuffers(w, h, true), 1);
  const Planes p = random_planes(w, h, w / 2, h / 2, 21);
  const uint8_t* in[4] = {p.y.data(), p.u.data(), p.v.data(), nullptr};
  const int stride[4] = {w, w / 2, w / 2, 0};
  const size_t bytes = size_t(w) * h * 2;

  ASSERT_EQ(conv.I420ToUYVY(p.src(), w, h), 1);
  EXPECT_EQ(std::vector<uint8_t>(conv.GetBuffer1(), conv.GetBuffer1() + bytes),
            sws(w, h, AV_PIX_FMT_YUV420P, in, stride, AV_PIX_FMT_UYVY422, false));
  ASSERT_EQ(conv.I420ToYUY2(p.src(), w, h), 1);
  const std::vector<uint8_t> yuy2(conv.GetBuffer1(), conv.GetBuffer1() + bytes);
  EXPECT_EQ(yuy2, sws(w, h, AV_PIX_FMT_YUV420P, in, stride, AV_PIX_FMT_YUYV422, false));

  // Back to I420 gives the source again (its chroma comes from the even rows).
  Planes back = random_planes(w, h, w / 2, h / 2, 0);
  ASSERT_EQ(conv.YUY2ToI420(yuy2.data(), 0, w, h, back.dst()), 1);
  EXPECT_EQ(back.y, p.y);
  EXPECT_EQ(back.u, p.u);
  EXPECT_EQ(back.v, p.v);

  // The fields are the even and odd rows of the whole conversion, in either buffer order.
  for (bool odd_first : {false, true}) {
    ASSERT_EQ(conv.I420ToYUY2Fields(p.src(), w, h, odd_first), 1);
    for (int r = 0; r < h; ++r) {
      const uint8_t* buf = (r % 2 == 1) == odd_first ? conv.GetBuffer1() : conv.GetBuffer2();
      ASSERT_EQ(std::memcmp(buf + size_t(r / 2) * w * 2, &yuy2[size_t(r) * w * 2], size_t(w) * 2),
                0)
          << "row " << r << (odd_first ? " odd first" : "");
    }
  }
}

TEST(PictureConverter, LineDoublingTakesTheChosenFieldAtAnyWidth) {
  struct Case {
    int w, h, field;
  } cases[] = {{720, 576, 1}, {720, 576, 0}, {18, 6, 1}, {18, 6, 0}, {2, 2, 1}};
  CPictureConverter conv;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " field " << c.field);
    const Planes src = random_planes(c.w, c.h, c.w / 2, c.h / 2, uint32_t(c.w + c.h));
    Planes dst = random_planes(c.w, c.h, c.w / 2, c.h / 2, 99);
    ASSERT_EQ(conv.Deinterlace(c.w, c.h, src.src(), dst.dst(), c.field), 1);
    const struct {
      const std::vector<uint8_t>& s;
      const std::vector<uint8_t>& d;
      int bytes, rows;
    } planes[] = {{src.y, dst.y, c.w, c.h},
                  {src.u, dst.u, c.w / 2, c.h / 2},
                  {src.v, dst.v, c.w / 2, c.h / 2}};
    for (const auto& pl : planes)
      for (int r = 0; r < pl.rows; ++r) {
        // Rows 2k and 2k+1 both come from row 2k + field; a last odd-count row from the
        // field's nearest row.
        int from = (r & ~1) + c.field;
        if (from >= pl.rows) from = pl.rows >= 3 ? from - 2 : 0;
        ASSERT_EQ(std::memcmp(&pl.d[size_t(r) * pl.bytes], &pl.s[size_t(from) * pl.bytes],
                              size_t(pl.bytes)),
                  0)
            << "row " << r << " of " << pl.rows;
      }
    Planes in_place = src;
    ASSERT_EQ(conv.DeinterlaceInPlace(c.w, c.h, in_place.dst(), c.field), 1);
    EXPECT_EQ(in_place.y, dst.y);
    EXPECT_EQ(in_place.u, dst.u);
    EXPECT_EQ(in_place.v, dst.v);
  }
  Planes p = random_planes(16, 4, 8, 2, 1);
  EXPECT_EQ(conv.DeinterlaceInPlace(16, 4, p.dst(), 2), 0);
  EXPECT_EQ(conv.DeinterlaceInPlace(15, 4, p.dst(), 0), 0);
}

TEST(PictureConverter, BuffersAndRefusalsKeepConversionsInBounds) {
  CPictureConverter conv;
  EXPECT_EQ(conv.GetState(), 1);
  const Planes p = random_planes(32, 32, 16, 16, 5);
  EXPECT_EQ(conv.I420ToBGR24(p.src(), 32, 32), 0);  // no buffers yet

  ASSERT_EQ(conv.AllocateBuffers(16, 16, false), 1);
  EXPECT_EQ(conv.GetState(), 0);
  EXPECT_EQ(conv.GetBufferSize(), 16u * 16 * 4);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(conv.GetBuffer1()) % 16, 0u);
  EXPECT_TRUE(std::all_of(conv.GetBuffer1(), conv.GetBuffer1() + conv.GetBufferSize(),
                          [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(conv.GetBuffer2(), nullptr);

  // A picture larger than the buffers, odd sizes, missing planes or buffer 2: nothing written.
  const PLANAR_SRC no_v{p.y.data(), p.u.data(), nullptr, 0, 0};
  const PLANAR_SRC short_chroma{p.y.data(), p.u.data(), p.v.data(), 32, 7};
  const struct {
    const char* name;
    int result;
  } refused[] = {
      {"too large", conv.I420ToBGR32(p.src(), 32, 32)},
      {"odd width", conv.I420ToBGR24(p.src(), 15, 16)},
      {"odd height", conv.I420ToYUY2(p.src(), 16, 15)},
      {"no plane", conv.I420ToBGR24(no_v, 16, 16)},
      {"chroma stride below half width", conv.I420ToBGR24(short_chroma, 16, 16)},
      {"no buffer 2", conv.I420ToYUY2Fields(p.src(), 16, 16, false)},
      {"zero size", conv.YUV444ToBGR24(p.src(), 0, 16)},
  };
  for (const auto& r : refused) EXPECT_EQ(r.result, 0) << r.name;
  EXPECT_TRUE(std::all_of(conv.GetBuffer1(), conv.GetBuffer1() + conv.GetBufferSize(),
                          [](uint8_t b) { return b == 0; }));

  // 16 x 16 at 4 bytes is exactly the buffer.
  EXPECT_EQ(conv.I420ToBGR32({p.y.data(), p.u.data(), p.v.data(), 32, 16}, 16, 16), 1);
  EXPECT_EQ(conv.AllocateBuffers(0, 16, true), 0);
  EXPECT_EQ(conv.GetState(), 1);
  EXPECT_EQ(conv.GetBuffer1(), nullptr);
}

}  // namespace
