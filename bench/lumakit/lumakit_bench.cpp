// Prints the per-frame cost of Lumakit's hot operations beside the nearest libswscale or
// libavfilter equivalent on the same frames: CIF, D1 and 1080p in planar IYUV and packed YUY2,
// camera-like content (synthetic picture plus sensor noise). Single-threaded; build in Release
// without sanitizers for meaningful figures. Mpixel/s counts the source frame's pixels.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include "bench/best_time.h"
#include "lumakit/lumakit.h"
#include "peers/media/media_gen.h"

namespace {

double time_ms(const std::function<void()>& fn) { return time_us(fn) / 1e3; }

bool is_packed(int format) { return format == 2; }
AVPixelFormat pix_fmt(int format) {
  return is_packed(format) ? AV_PIX_FMT_YUYV422 : AV_PIX_FMT_YUV420P;
}
size_t bytes_of(int format, int w, int h) {
  return is_packed(format) ? size_t(2) * w * h : size_t(w) * h * 3 / 2;
}

// Plane pointers and strides of a contiguous frame (PAL8: indexes then the palette).
void planes(uint8_t* f, int w, int h, AVPixelFormat pf, uint8_t* p[4], int ls[4],
            const uint32_t* palette = nullptr) {
  std::fill(p, p + 4, nullptr);
  std::fill(ls, ls + 4, 0);
  if (pf == AV_PIX_FMT_YUV420P) {
    p[0] = f, p[1] = f + w * h, p[2] = f + w * h * 5 / 4, ls[0] = w, ls[1] = ls[2] = w / 2;
  } else if (pf == AV_PIX_FMT_PAL8) {
    p[0] = f, ls[0] = w, p[1] = reinterpret_cast<uint8_t*>(const_cast<uint32_t*>(palette)),
    ls[1] = 4;
  } else {
    p[0] = f, ls[0] = 2 * w;
  }
}

// One libswscale conversion, set up once and timed per frame.
struct Sws {
  SwsContext* ctx;
  uint8_t *sp[4], *dp[4];
  int sl[4], dl[4];
  Sws(uint8_t* src, int sw, int sh, AVPixelFormat sf, uint8_t* dst, int dw, int dh,
      AVPixelFormat df, int flags, const uint32_t* palette = nullptr) {
    ctx = sws_getContext(sw, sh, sf, dw, dh, df, flags, nullptr, nullptr, nullptr);
    if (palette) {
      const int* co = sws_getCoefficients(SWS_CS_ITU601);
      sws_setColorspaceDetails(ctx, co, 1, co, 1, 0, 1 << 16, 1 << 16);
    }
    planes(src, sw, sh, sf, sp, sl, palette);
    planes(dst, dw, dh, df, dp, dl);
    height = sh;
  }
  ~Sws() { sws_freeContext(ctx); }
  void run() { sws_scale(ctx, sp, sl, 0, height, dp, dl); }
  int height;
};

// yadif through a libavfilter graph; one frame in, one frame out (after the first).
struct Yadif {
  AVFilterGraph* graph = avfilter_graph_alloc();
  AVFilterContext *src = nullptr, *sink = nullptr;
  AVFrame *in = av_frame_alloc(), *out = av_frame_alloc();
  int64_t pts = 0;
  bool ok = false;
  Yadif(const uint8_t* frame, int w, int h) {
    char args[128];
    std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=1/25:pixel_aspect=1/1",
                  w, h, int(AV_PIX_FMT_YUV420P));
    AVFilterContext* yadif = nullptr;
    if (avfilter_graph_create_filter(&src, avfilter_get_by_name("buffer"), "in", args, nullptr,
                                     graph) < 0 ||
        avfilter_graph_create_filter(&yadif, avfilter_get_by_name("yadif"), "yadif", "mode=0",
                                     nullptr, graph) < 0 ||
        avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "out", nullptr,
                                     nullptr, graph) < 0 ||
        avfilter_link(src, 0, yadif, 0) < 0 || avfilter_link(yadif, 0, sink, 0) < 0 ||
        avfilter_graph_config(graph, nullptr) < 0)
      return;
    in->format = AV_PIX_FMT_YUV420P, in->width = w, in->height = h;
    if (av_frame_get_buffer(in, 0) < 0) return;
    for (int y = 0; y < h; ++y) std::memcpy(in->data[0] + y * in->linesize[0], frame + y * w, w);
    for (int p = 1; p < 3; ++p)
      for (int y = 0; y < h / 2; ++y)
        std::memcpy(in->data[p] + y * in->linesize[p],
                    frame + w * h * (p == 1 ? 4 : 5) / 4 + y * (w / 2), w / 2);
    in->interlaced_frame = 1, in->top_field_first = 1;
    ok = true;
  }
  ~Yadif() {
    av_frame_free(&in), av_frame_free(&out);
    avfilter_graph_free(&graph);
  }
  void run() {
    in->pts = pts++;
    if (av_buffersrc_add_frame_flags(src, in, AV_BUFFERSRC_FLAG_KEEP_REF) < 0) return;
    while (av_buffersink_get_frame(sink, out) >= 0) av_frame_unref(out);
  }
};

void row(const char* op, const char* layout, const char* size, double pixels, double ours,
         const char* peer, double theirs) {
  std::printf("%-30s %-5s %-9s %9.3f %8.1f   %-28s", op, layout, size, ours, pixels / ours / 1e3,
              peer);
  if (theirs > 0)
    std::printf(" %9.3f %8.1f %6.2f\n", theirs, pixels / theirs / 1e3, ours / theirs);
  else
    std::printf(" %9s %8s %6s\n", "-", "-", "-");
}

}  // namespace

int main() {
  av_log_set_level(AV_LOG_ERROR);
  struct Size {
    const char* name;
    int w, h;
  } sizes[] = {{"CIF", 352, 288}, {"D1", 720, 576}, {"1080p", 1920, 1080}};
  std::printf("%-30s %-5s %-9s %9s %8s   %-28s %9s %8s %6s\n", "operation", "fmt", "size",
              "ms/frame", "Mpix/s", "nearest equivalent", "ms/frame", "Mpix/s", "ratio");
  for (const Size& s : sizes) {
    const int w = s.w, h = s.h;
    const double px = double(w) * h;
    // Camera-like content in both layouts.
    media_gen::Yuv420 pic = media_gen::synth_picture(w, h, 3, 7);
    media_gen::add_sensor_noise(pic, 6, 11);
    std::vector<uint8_t> iyuv(bytes_of(1, w, h)), yuy2(bytes_of(2, w, h));
    std::memcpy(iyuv.data(), pic.y.data(), pic.y.size());
    std::memcpy(iyuv.data() + w * h, pic.u.data(), pic.u.size());
    std::memcpy(iyuv.data() + w * h * 5 / 4, pic.v.data(), pic.v.size());
    Sws(iyuv.data(), w, h, AV_PIX_FMT_YUV420P, yuy2.data(), w, h, AV_PIX_FMT_YUYV422, SWS_POINT)
        .run();

    // A palettised picture (as rendered text is) with a colour ramp palette.
    std::vector<uint8_t> indexes(pic.y);
    uint32_t palette[256];
    SDL_Color colours[256];
    for (int i = 0; i < 256; ++i) {
      colours[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2 + 64), 0};
      palette[i] =
          0xFF000000u | uint32_t(colours[i].r) << 16 | uint32_t(colours[i].g) << 8 | colours[i].b;
    }
    SDL_Surface* surface = SDL_CreateRGBSurfaceFrom(indexes.data(), w, h, 8, w, 0, 0, 0, 0);
    SDL_SetColors(surface, colours, 0, 256);

    for (int format : {1, 2}) {
      const char* fmt = format == 1 ? "IYUV" : "YUY2";
      const AVPixelFormat pf = pix_fmt(format);
      uint8_t* src = format == 1 ? iyuv.data() : yuy2.data();
      std::vector<uint8_t> out(bytes_of(format, 2 * w, 2 * h)), ref(out.size());
      auto peer = [&](uint8_t* from, int sw, int sh, AVPixelFormat sf, int dw, int dh, int flags,
                      const uint32_t* pal = nullptr) {
        Sws sws(from, sw, sh, sf, ref.data(), dw, dh, pf, flags, pal);
        return time_ms([&] { sws.run(); });
      };

      row("sdl2yuv", fmt, s.name, px, time_ms([&] { sdl2yuv(surface, out.data(), format); }),
          "swscale PAL8 (full range)",
          peer(indexes.data(), w, h, AV_PIX_FMT_PAL8, w, h, SWS_POINT, palette));
      row("yuv_shrink 1/2", fmt, s.name, px,
          time_ms([&] { yuv_shrink(src, w, h, out.data(), w / 2, h / 2, format); }),
          "swscale area 1/2", peer(src, w, h, pf, w / 2, h / 2, SWS_AREA));
      row("yuv_shrink 1/2 width", fmt, s.name, px,
          time_ms([&] { yuv_shrink(src, w, h, out.data(), w / 2, h, format); }),
          "swscale area 1/2 width", peer(src, w, h, pf, w / 2, h, SWS_AREA));
      if (format == 2 && w == 1920)
        row("yuv_shrink_any 1280x720", fmt, s.name, px,
            time_ms([&] { yuv_shrink_any(src, w, h, out.data(), 1280, 720, format); }),
            "swscale fast-bilinear", peer(src, w, h, pf, 1280, 720, SWS_FAST_BILINEAR));
      if (format == 1) {
        row("yuv_stretch x2", fmt, s.name, px,
            time_ms([&] { yuv_stretch(src, w, h, out.data(), 2 * w, 2 * h, format); }),
            "swscale point x2", peer(src, w, h, pf, 2 * w, 2 * h, SWS_POINT));
      }
      row("yuv_expand x2", fmt, s.name, px,
          time_ms([&] { yuv_expand(src, w, h, out.data(), 2 * w, 2 * h, format); }),
          "swscale point x2", peer(src, w, h, pf, 2 * w, 2 * h, SWS_POINT));
      YUV_IMAGE from{src, uint16_t(w), uint16_t(h), uint32_t(format)};
      YUV_IMAGE to{out.data(), uint16_t(w / 4), uint16_t(h / 4), uint32_t(format)};
      row("yuv_downscale 1/4", fmt, s.name, px, time_ms([&] { yuv_downscale(&from, &to); }),
          "swscale area 1/4", peer(src, w, h, pf, w / 4, h / 4, SWS_AREA));

      // Deinterlace: both bob operations work in place on a copy of the frame.
      std::vector<uint8_t> work(src, src + bytes_of(format, w, h));
      const double bob = time_ms([&] { yuv_bob_region(work.data(), w, h, format, 0, 0, w, h, 1); });
      std::vector<uint8_t> all_cells((w / 16) * (h / 16) / 8 + 1, 0xFF);
      const double selective =
          time_ms([&] { yuv_selective_bob(work.data(), w, h, format, all_cells.data(), 16, 16); });
      // One field to full height by point scaling is the same amount of work.
      std::vector<uint8_t> field(bytes_of(format, w, h / 2));
      const double field_up = peer(field.data(), w, h / 2, pf, w, h, SWS_POINT);
      row("yuv_bob_region whole frame", fmt, s.name, px, bob, "swscale point field x2", field_up);
      row("yuv_selective_bob all cells", fmt, s.name, px, selective, "swscale point field x2",
          field_up);
      if (format == 1) {
        Yadif yadif(src, w, h);
        row("  (orientation)", fmt, s.name, px, bob, "libavfilter yadif",
            yadif.ok ? time_ms([&] { yadif.run(); }) : -1);
      }
    }
    SDL_FreeSurface(surface);
  }
  return 0;
}
