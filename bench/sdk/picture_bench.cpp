// Prints the per-frame cost of each conversion of the SDK's picture converter at 720x576
// beside libswscale's conversion between the same layouts on the same frames (BGR output
// bottom-up for both), and of line doubling beside a memcpy of the same bytes.
// Single-threaded; build without sanitizers (Release) for meaningful figures.
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "bench/best_time.h"
#include "peers/media/media_gen.h"
#include "sdk/PictureConverter.h"

namespace {

constexpr int kW = 720, kH = 576;

// One libswscale conversion at kW x kH (or `h` rows) between fixed buffers.
struct Sws {
  SwsContext* ctx = nullptr;
  const uint8_t* src[4] = {};
  int src_stride[4] = {};
  uint8_t* dst[4] = {};
  int dst_stride[4] = {};
  int h = kH;
  Sws(AVPixelFormat from, AVPixelFormat to, bool full_range, int rows = kH) : h(rows) {
    ctx = sws_getContext(kW, rows, from, kW, rows, to, SWS_POINT, nullptr, nullptr, nullptr);
    const int* coef = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(ctx, coef, full_range, coef, full_range, 0, 1 << 16, 1 << 16);
  }
  ~Sws() { sws_freeContext(ctx); }
  void run() { sws_scale(ctx, src, src_stride, 0, h, dst, dst_stride); }
};

void row(const char* name, double ours, double theirs, const char* peer) {
  std::printf("%-26s %9.1f %9.1f   %5.2fx  (%s)\n", name, ours, theirs, ours / theirs, peer);
}

}  // namespace

int main() {
  media_gen::Yuv420 pic = media_gen::synth_picture(kW, kH, 5, 3);
  media_gen::add_sensor_noise(pic, 12, 7);
  const size_t n = size_t(kW) * kH;
  std::vector<uint8_t> u422(n / 2), v422(n / 2), u444(n), v444(n);
  for (int r = 0; r < kH; ++r)
    for (int c = 0; c < kW; ++c) {
      const size_t s = size_t(r / 2) * (kW / 2) + c / 2;
      u444[size_t(r) * kW + c] = pic.u[s];
      v444[size_t(r) * kW + c] = pic.v[s];
      if (c % 2 == 0) {
        u422[size_t(r) * (kW / 2) + c / 2] = pic.u[s];
        v422[size_t(r) * (kW / 2) + c / 2] = pic.v[s];
      }
    }
  CPictureConverter conv;
  conv.AllocateBuffers(kW, kH, true);
  const PLANAR_SRC i420{pic.y.data(), pic.u.data(), pic.v.data(), 0, 0};
  const PLANAR_SRC p422{pic.y.data(), u422.data(), v422.data(), 0, 0};
  const PLANAR_SRC p444{pic.y.data(), u444.data(), v444.data(), 0, 0};
  std::vector<uint8_t> out_y(n), out_u(n), out_v(n), out(n * 4);
  const PLANAR_DST planar{out_y.data(), out_u.data(), out_v.data(), 0, 0};
  const PLANAR_DST planar444{out_y.data(), out_u.data(), out_v.data(), kW, kW};

  // Packed inputs made by the converter itself.
  conv.I420ToYUY2(i420, kW, kH);
  const std::vector<uint8_t> yuy2(conv.GetBuffer1(), conv.GetBuffer1() + n * 2);
  conv.I420ToBGR24(i420, kW, kH);
  const std::vector<uint8_t> bgr(conv.GetBuffer1(), conv.GetBuffer1() + n * 3);

  std::printf("CPictureConverter at %dx%d, microseconds per frame (best of 5 rounds)\n", kW, kH);
  std::printf("%-26s %9s %9s   %6s\n", "conversion", "ours", "peer", "ratio");

  auto bind_planar = [&](Sws& s, const PLANAR_SRC& p, int c_stride) {
    s.src[0] = p.y;
    s.src[1] = p.u;
    s.src[2] = p.v;
    s.src_stride[0] = kW;
    s.src_stride[1] = s.src_stride[2] = c_stride;
  };
  // Bottom-up packed output for libswscale: start at the last row, negative stride.
  auto bind_packed_out = [&](Sws& s, int bytes_per_pixel, bool bottom_up) {
    const int stride = kW * bytes_per_pixel;
    s.dst[0] = bottom_up ? out.data() + size_t(s.h - 1) * stride : out.data();
    s.dst_stride[0] = bottom_up ? -stride : stride;
  };
  auto bind_planar_out = [&](Sws& s, int c_stride) {
    s.dst[0] = out_y.data();
    s.dst[1] = out_u.data();
    s.dst[2] = out_v.data();
    s.dst_stride[0] = kW;
    s.dst_stride[1] = s.dst_stride[2] = c_stride;
  };

  struct ToPacked {
    const char* name;
    std::function<int()> ours;
    const PLANAR_SRC* in;
    AVPixelFormat from, to;
    int c_stride, bytes_per_pixel;
    bool full_range, bottom_up;
  } to_packed[] = {
      {"I420 to BGR24", [&] { return conv.I420ToBGR24(i420, kW, kH); }, &i420, AV_PIX_FMT_YUV420P,
       AV_PIX_FMT_BGR24, kW / 2, 3, true, true},
      {"4:2:2 to BGR24", [&] { return conv.YUV422ToBGR24(p422, kW, kH); }, &p422,
       AV_PIX_FMT_YUV422P, AV_PIX_FMT_BGR24, kW / 2, 3, false, true},
      {"I420 to BGR32", [&] { return conv.I420ToBGR32(i420, kW, kH); }, &i420, AV_PIX_FMT_YUV420P,
       AV_PIX_FMT_BGRA, kW / 2, 4, false, true},
      {"4:4:4 to BGR24", [&] { return conv.YUV444ToBGR24(p444, kW, kH); }, &p444,
       AV_PIX_FMT_YUV444P, AV_PIX_FMT_BGR24, kW, 3, true, true},
      {"I420 to YUY2", [&] { return conv.I420ToYUY2(i420, kW, kH); }, &i420, AV_PIX_FMT_YUV420P,
       AV_PIX_FMT_YUYV422, kW / 2, 2, false, false},
      {"I420 to UYVY", [&] { return conv.I420ToUYVY(i420, kW, kH); }, &i420, AV_PIX_FMT_YUV420P,
       AV_PIX_FMT_UYVY422, kW / 2, 2, false, false},
  };
  for (const ToPacked& c : to_packed) {
    Sws s(c.from, c.to, c.full_range);
    bind_planar(s, *c.in, c.c_stride);
    bind_packed_out(s, c.bytes_per_pixel, c.bottom_up);
    row(c.name, time_us([&] { c.ours(); }), time_us([&] { s.run(); }), "libswscale");
  }

  {
    // A 4:2:0 field with every chroma row is a 4:2:2 picture of half the height.
    Sws s(AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUYV422, false, kH / 2);
    const double theirs = time_us([&] {
      for (int f = 0; f < 2; ++f) {
        s.src[0] = pic.y.data() + size_t(f) * kW;
        s.src[1] = pic.u.data();
        s.src[2] = pic.v.data();
        s.src_stride[0] = 2 * kW;
        s.src_stride[1] = s.src_stride[2] = kW / 2;
        bind_packed_out(s, 2, false);
        s.run();
      }
    });
    const double ours = time_us([&] { conv.I420ToYUY2Fields(i420, kW, kH, false); });
    row("I420 to YUY2 by fields", ours, theirs, "libswscale");
  }

  struct FromPacked {
    const char* name;
    std::function<int()> ours;
    const std::vector<uint8_t>* in;
    AVPixelFormat from, to;
    int in_bpp, out_bpp;  // out_bpp 0: planar output with chroma stride out_c
    int out_c;
    bool full_range, bottom_up_in, bottom_up_out;
  } from_packed[] = {
      {"YUY2 to BGR24", [&] { return conv.YUY2ToBGR24(yuy2.data(), 0, kW, kH); }, &yuy2,
       AV_PIX_FMT_YUYV422, AV_PIX_FMT_BGR24, 2, 3, 0, true, false, true},
      {"YUY2 to I420", [&] { return conv.YUY2ToI420(yuy2.data(), 0, kW, kH, planar); }, &yuy2,
       AV_PIX_FMT_YUYV422, AV_PIX_FMT_YUV420P, 2, 0, kW / 2, false, false, false},
      {"BGR24 to 4:4:4", [&] { return conv.BGR24ToYUV444(bgr.data(), 0, kW, kH, planar444); }, &bgr,
       AV_PIX_FMT_BGR24, AV_PIX_FMT_YUV444P, 3, 0, kW, true, false, false},
      {"BGR24 to YUY2", [&] { return conv.BGR24ToYUY2(bgr.data(), 0, kW, kH); }, &bgr,
       AV_PIX_FMT_BGR24, AV_PIX_FMT_YUYV422, 3, 2, 0, true, true, false},
      {"BGR24 to I420", [&] { return conv.BGR24ToI420(bgr.data(), 0, kW, kH, false, planar); },
       &bgr, AV_PIX_FMT_BGR24, AV_PIX_FMT_YUV420P, 3, 0, kW / 2, true, false, false},
      {"BGR24 to I420 bottom-up",
       [&] { return conv.BGR24ToI420(bgr.data(), 0, kW, kH, true, planar); }, &bgr,
       AV_PIX_FMT_BGR24, AV_PIX_FMT_YUV420P, 3, 0, kW / 2, true, true, false},
  };
  for (const FromPacked& c : from_packed) {
    Sws s(c.from, c.to, c.full_range);
    const int in_stride = kW * c.in_bpp;
    s.src[0] = c.bottom_up_in ? c.in->data() + size_t(kH - 1) * in_stride : c.in->data();
    s.src_stride[0] = c.bottom_up_in ? -in_stride : in_stride;
    if (c.out_bpp)
      bind_packed_out(s, c.out_bpp, c.bottom_up_out);
    else
      bind_planar_out(s, c.out_c);
    row(c.name, time_us([&] { c.ours(); }), time_us([&] { s.run(); }), "libswscale");
  }

  {
    Sws s(AV_PIX_FMT_YUV444P, AV_PIX_FMT_YUV420P, false);
    bind_planar(s, p444, kW);
    bind_planar_out(s, kW / 2);
    row("4:4:4 to 4:2:0", time_us([&] { conv.YUV444ToI420(p444, kW, kH, planar); }),
        time_us([&] { s.run(); }), "libswscale");
  }

  // Line doubling writes a whole I420 picture; the peer copies as many bytes.
  const std::vector<uint8_t> whole(n * 3 / 2, 0x55);
  std::vector<uint8_t> copy(n * 3 / 2);
  const double mem = time_us([&] { std::memcpy(copy.data(), whole.data(), whole.size()); });
  row("Deinterlace", time_us([&] { conv.Deinterlace(kW, kH, i420, planar, 1); }), mem, "memcpy");
  std::vector<uint8_t> y2 = pic.y, u2 = pic.u, v2 = pic.v;
  const PLANAR_DST in_place{y2.data(), u2.data(), v2.data(), 0, 0};
  row("DeinterlaceInPlace", time_us([&] { conv.DeinterlaceInPlace(kW, kH, in_place, 1); }), mem,
      "memcpy");
  return 0;
}
