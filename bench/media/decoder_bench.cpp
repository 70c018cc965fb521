// Decoder-thread path (ring record in, 32-bit picture in the channel surface out) for 16
// channels of CIF and D1, H.264 and MPEG-4, beside plain libavcodec decoding of the same
// streams in the same run. The reference delivers what the pipeline delivers: each decoded
// picture converted once by libswscale into a 32-bit picture (B, G, R, A, its fastest 32-bit
// layout, so the reference is not slowed by the fourth byte); its decoding alone (YUV, no
// conversion) is shown beside it. MPEG-4 is also shown beside plain Xvid, the decoder the
// pipeline must use, writing the same 32-bit pictures (B, G, R, A) with nothing around it: that
// is the MPEG-4 pipeline's limit. Single thread each, CPU time of that thread, so the figures
// are frames per second per core. The pacing sleeps are stubbed out: they wait for time
// stamps, they do not decode.
//
// Usage: decoder_bench [frames per channel, default 50] [configuration 0-3, default all]
#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}
#include <xvid.h>

#include "client/foundation/app_state.h"
#include "client/foundation/stats.h"
#include "client/links/decoder_thread.h"
#include "client/links/frame_headers.h"
#include "client/links/video_adjust.h"
#include "client/links/video_decoders.h"
#include "peers/media/media_gen.h"
#include "platform/sync/test_clock.h"

namespace {

constexpr int kChannels = 16;
constexpr int kRounds = 5;  // timed rounds over the streams; the fastest counts (shared machines)

double thread_cpu_s() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// Bytes handed out by malloc (heap and mmapped blocks): what the decoders and buffers hold.
long heap_kib() {
  struct mallinfo2 mi = mallinfo2();
  return long((mi.uordblks + mi.hblkhd) / 1024);
}

uint32_t no_clock() { return 1000; }
void no_sleep(uint32_t) {}
uint32_t stats_clock() { return 5; }

struct Stream {
  std::vector<std::vector<uint8_t>> units;  // per frame
  std::vector<bool> keys;
};

// One stream per channel, each showing its own number.
std::vector<Stream> make_streams(bool h264, int w, int h, int frames, int noise) {
  std::vector<Stream> s(kChannels);
  for (int c = 0; c < kChannels; ++c) {
    std::unique_ptr<media_gen::H264Encoder> he;
    std::unique_ptr<media_gen::Mpeg4Encoder> me;
    if (h264)
      he.reset(new media_gen::H264Encoder(w, h, 30, 25));
    else
      me.reset(new media_gen::Mpeg4Encoder(w, h, 30, 25));
    for (int i = 0; i < frames; ++i) {
      media_gen::Yuv420 p = media_gen::synth_picture(w, h, c + 1, i);
      media_gen::add_sensor_noise(p, noise, uint32_t(c * 1000 + i));
      std::vector<uint8_t> au;
      bool key = false;
      int rc = h264 ? he->encode(p, au, key) : me->encode(p, au, key);
      if (rc != 0) {
        std::fprintf(stderr, "encoder failed\n");
        std::exit(1);
      }
      s[size_t(c)].units.push_back(std::move(au));
      s[size_t(c)].keys.push_back(key);
    }
  }
  return s;
}

std::vector<uint8_t> record_body(bool h264, const std::vector<uint8_t>& au, bool key, int ch, int w,
                                 int h, int i) {
  std::vector<uint8_t> b;
  if (h264) {
    FRAME_HEADER fh;
    fh.size = uint32_t(au.size());
    fh.channel = uint8_t(ch);
    fh.frame_type = key ? 1 : 0;
    fh.width = uint16_t(w);
    fh.height = uint16_t(h);
    fh.sec = 100;
    b.resize(FRAME_HEADER_SIZE + au.size());
    encode_frame_header(fh, b.data());
    std::memcpy(b.data() + FRAME_HEADER_SIZE, au.data(), au.size());
  } else {
    PICTURE_HEADER ph;
    ph.size = uint32_t(au.size());
    ph.vop_type = key ? 0 : 1;
    ph.seq_cnt = uint16_t(i % 25);
    ph.channel = uint8_t(ch & 0xF);
    ph.scale = 2;
    ph.hsize = uint16_t(w);
    ph.vsize = uint16_t(h);
    ph.sec = 100;
    b.resize(PICTURE_HEADER_SIZE + au.size());
    encode_picture_header(ph, b.data());
    std::memcpy(b.data() + PICTURE_HEADER_SIZE, au.data(), au.size());
  }
  return b;
}

// Frame i of a stream as a decoder takes it: an MPEG-4 key frame behind the same VOL the
// client puts in front of key frames.
void frame_input(const Stream& s, int i, bool mpeg4, int w, int h, std::vector<uint8_t>* input) {
  input->clear();
  if (mpeg4 && s.keys[size_t(i)]) {
    uint8_t vol[MPEG4_VOL_TEMPLATE_SIZE];
    build_mpeg4_vol(vol, w, h, 2);
    input->assign(vol, vol + sizeof vol);
  }
  input->insert(input->end(), s.units[size_t(i)].begin(), s.units[size_t(i)].end());
}

// Each way of decoding the streams runs in rounds over all of them; main() alternates the
// rounds of the ways so that they meet the same load on a shared machine, and keeps each way's
// fastest round. A round returns the thread's CPU seconds and counts the pictures it made.

// The decoder thread's passes over a ring fed one frame of every channel at a time.
class PipelineRun {
 public:
  PipelineRun(bool h264, int w, int h, const std::vector<Stream>& streams, int frames)
      : h264_(h264), w_(w), h_(h), streams_(streams), frames_(frames), ctx_(new APP_CONTEXT()) {
    const uint8_t proto = h264 ? 'Q' : 'I';
    init_app_context(ctx_.get());
    ctx_->num_slots = 1;
    ctx_->ring_size = DEFAULT_RING_SIZE;
    ctx_->slots[0].ring = static_cast<uint8_t*>(std::calloc(DEFAULT_RING_SIZE + 1024, 1));
    ctx_->slots[0].mutex = SDL_CreateMutex();
    ctx_->num_receivers = receivers();
    for (int r = 0; r < receivers(); ++r) {
      RECEIVER_INFO& rx = ctx_->receivers[r];
      init_receiver(&rx);
      rx.protocol = proto;
      rx.num_video = uint32_t(per_rx());
      for (int k = 0; k < per_rx(); ++k) rx.channels[k].id = rx.channels[k].slot = r * per_rx() + k;
    }
    ctx_->layout = 1;
    ctx_->layouts[1].num_cells = kChannels;
    ctx_->playback_speed = 1.0;
    ctx_->decoder_state = DECODER_RUNNING;
    // Fresh pools, so every run creates its 16 decoders and its memory can be told apart.
    free_video_decoders();
    init_video_decoders();
    reset_decoder_slots();
    const long heap0 = heap_kib();
    decoder_begin(ctx_.get(), &st_);
    heap_thread_ = heap_kib();
    thread_kib = heap_thread_ - heap0;
  }
  ~PipelineRun() {
    decoder_end(&st_);
    free_app_context(ctx_.get());
  }
  // The first round creates the decoders and surfaces: it is the warm-up, and what memory
  // the channels then hold is their share.
  void warm() {
    long shown = 0;
    round(&shown);
    per_channel_kib = (heap_kib() - heap_thread_) / kChannels;
  }
  double round(long* shown) {
    DISPLAY_SLOT& slot = ctx_->slots[0];
    const uint8_t proto = h264_ ? 'Q' : 'I';
    double cpu = 0;
    for (int i = 0; i < frames_; ++i) {
      for (int c = 0; c < kChannels; ++c) {
        const int r = c / per_rx(), k = c % per_rx();
        auto body = record_body(h264_, streams_[size_t(c)].units[size_t(i)],
                                streams_[size_t(c)].keys[size_t(i)], k, w_, h_, i);
        body[h264_ ? 2 : 30] = uint8_t(r);
        const uint32_t len = uint32_t(FRAME_RECORD_HEADER_SIZE + body.size());
        if (slot.write_pos + len >= ctx_->ring_size) {
          std::memset(slot.ring + slot.write_pos, 0, ctx_->ring_size - slot.write_pos);
          slot.write_pos = 0;
        }
        FRAME_RECORD_HEADER rh;
        rh.protocol = proto;
        rh.media = 'Y';
        rh.size = uint32_t(body.size());
        encode_frame_record_header(rh, slot.ring + slot.write_pos);
        std::memcpy(slot.ring + slot.write_pos + FRAME_RECORD_HEADER_SIZE, body.data(),
                    body.size());
        slot.write_pos += len;
      }
      const double t0 = thread_cpu_s();
      for (int c = 0; c < kChannels; ++c)
        if (decoder_pass(&st_) == PASS_SHOWN) ++*shown;
      cpu += thread_cpu_s() - t0;
    }
    last_shown = *shown;
    return cpu;
  }
  long last_shown = 0;       // pictures the last round showed
  long thread_kib = 0;       // allocated by the thread's start (its buffers)
  long per_channel_kib = 0;  // allocated per channel: its decoder, surface, touched buffers

 private:
  // 'I' carries a 4-bit channel: 16 channels as two receivers of 8.
  int receivers() const { return h264_ ? 1 : 2; }
  int per_rx() const { return kChannels / receivers(); }
  bool h264_;
  int w_, h_;
  const std::vector<Stream>& streams_;
  int frames_;
  std::unique_ptr<APP_CONTEXT> ctx_;
  DECODER_STATE st_;
  long heap_thread_ = 0;
};

// Plain libavcodec, one decoder per channel: decoding only, or decoding and converting every
// picture once with libswscale into 32 bits.
class LavcRun {
 public:
  LavcRun(bool h264, int w, int h, const std::vector<Stream>& streams, int frames, bool convert)
      : h264_(h264),
        w_(w),
        h_(h),
        streams_(streams),
        frames_(frames),
        convert_(convert),
        ctx_(kChannels),
        sws_(kChannels, nullptr),
        rgb_(kChannels, std::vector<uint8_t>(size_t(w) * h * 4)) {
    const AVCodec* codec = avcodec_find_decoder(h264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MPEG4);
    for (auto& c : ctx_) {
      c = avcodec_alloc_context3(codec);
      c->thread_count = 1;
      c->flags |= AV_CODEC_FLAG_LOW_DELAY;
      avcodec_open2(c, codec, nullptr);
    }
    pkt_ = av_packet_alloc();
    frame_ = av_frame_alloc();
  }
  ~LavcRun() {
    for (auto* s : sws_) sws_freeContext(s);
    av_frame_free(&frame_);
    av_packet_free(&pkt_);
    for (auto& c : ctx_) avcodec_free_context(&c);
  }
  double round(long* decoded) {
    double cpu = 0;
    for (int i = 0; i < frames_; ++i)
      for (int c = 0; c < kChannels; ++c) {
        frame_input(streams_[size_t(c)], i, !h264_, w_, h_, &input_);
        const double t0 = thread_cpu_s();
        pkt_->data = input_.data();
        pkt_->size = int(input_.size());
        if (avcodec_send_packet(ctx_[size_t(c)], pkt_) == 0)
          while (avcodec_receive_frame(ctx_[size_t(c)], frame_) == 0) {
            if (convert_) {
              SwsContext*& sw = sws_[size_t(c)];
              sw = sws_getCachedContext(
                  sw, frame_->width, frame_->height, AVPixelFormat(frame_->format), frame_->width,
                  frame_->height, AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr, nullptr);
              uint8_t* dst[4] = {rgb_[size_t(c)].data(), nullptr, nullptr, nullptr};
              int stride[4] = {frame_->width * 4, 0, 0, 0};
              if (!sw || frame_->width * frame_->height > w_ * h_ ||
                  sws_scale(sw, frame_->data, frame_->linesize, 0, frame_->height, dst, stride) !=
                      frame_->height)
                continue;
            }
            ++*decoded;
          }
        cpu += thread_cpu_s() - t0;
      }
    return cpu;
  }

 private:
  bool h264_;
  int w_, h_;
  const std::vector<Stream>& streams_;
  int frames_;
  bool convert_;
  std::vector<AVCodecContext*> ctx_;
  std::vector<SwsContext*> sws_;
  std::vector<std::vector<uint8_t>> rgb_;
  AVPacket* pkt_ = nullptr;
  AVFrame* frame_ = nullptr;
  std::vector<uint8_t> input_;
};

// Plain Xvid: one decoder per channel, key frames behind the same VOL the client puts in
// front of them, each picture written as 32-bit B, G, R, A into a buffer of its own.
class XvidRun {
 public:
  XvidRun(int w, int h, const std::vector<Stream>& streams, int frames)
      : w_(w),
        h_(h),
        streams_(streams),
        frames_(frames),
        dec_(kChannels, nullptr),
        out_(kChannels, std::vector<uint8_t>(size_t(w) * h * 4)) {
    xvid_gbl_init_t gbl{};
    gbl.version = XVID_API_VERSION;
    xvid_global(nullptr, XVID_GBL_INIT, &gbl, nullptr);
    for (auto& d : dec_) {
      xvid_dec_create_t create{};
      create.version = XVID_API_VERSION;
      xvid_decore(nullptr, XVID_DEC_CREATE, &create, nullptr);
      d = create.handle;
    }
  }
  ~XvidRun() {
    for (void* d : dec_) xvid_decore(d, XVID_DEC_DESTROY, nullptr, nullptr);
  }
  double round(long* decoded) {
    double cpu = 0;
    for (int i = 0; i < frames_; ++i)
      for (int c = 0; c < kChannels; ++c) {
        frame_input(streams_[size_t(c)], i, true, w_, h_, &input_);
        const double t0 = thread_cpu_s();
        size_t pos = 0;
        for (int call = 0; call < 3 && pos < input_.size(); ++call) {
          xvid_dec_frame_t frame{};
          frame.version = XVID_API_VERSION;
          frame.general = XVID_LOWDELAY;
          frame.bitstream = input_.data() + pos;
          frame.length = int(input_.size() - pos);
          frame.output.csp = XVID_CSP_BGRA;
          frame.output.plane[0] = out_[size_t(c)].data();
          frame.output.stride[0] = w_ * 4;
          xvid_dec_stats_t stats{};
          stats.version = XVID_API_VERSION;
          const int used = xvid_decore(dec_[size_t(c)], XVID_DEC_DECODE, &frame, &stats);
          if (used <= 0) break;
          pos += size_t(used);
          if (stats.type > 0) {
            ++*decoded;
            break;
          }
        }
        cpu += thread_cpu_s() - t0;
      }
    return cpu;
  }

 private:
  int w_, h_;
  const std::vector<Stream>& streams_;
  int frames_;
  std::vector<void*> dec_;
  std::vector<std::vector<uint8_t>> out_;
  std::vector<uint8_t> input_;
};

// Pictures per second of each way: its fastest round of kRounds, the rounds alternating.
template <typename... Runs>
std::vector<double> alternate_rounds(Runs&... runs) {
  std::vector<double> best(sizeof...(Runs), 0.0);
  for (int round = 0; round < kRounds; ++round) {
    size_t i = 0;
    auto one = [&](auto& run) {
      long made = 0;
      const double cpu = run.round(&made);
      const double fps = cpu > 0 ? double(made) / cpu : 0;
      if (fps > best[i]) best[i] = fps;
      ++i;
    };
    (one(runs), ...);
  }
  return best;
}

// Decode-only frames per second of plain libavcodec (H.264), for the adjustment costs.
double lavc_decode_fps(int w, int h, const std::vector<Stream>& streams, int frames) {
  LavcRun run(true, w, h, streams, frames, false);
  long warm = 0;
  run.round(&warm);
  return alternate_rounds(run)[0];
}

// Cost per frame of each picture adjustment at CIF and D1 on a 32-bit picture, beside
// decoding one frame of that size (H.264, from the decode-only pass above) and a memcpy of
// the picture. Each adjustment runs with a non-zero amount, so none takes its no-op path.
template <typename Out>
void adjustment_costs(int frames, Out out_line) {
  out_line("\npicture adjustments, microseconds per 32-bit frame, one core\n");
  out_line("%-4s %10s %10s %10s %10s %10s %10s\n", "size", "bright", "histo", "hue", "contrast",
           "decode", "memcpy");
  struct Size {
    int w, h;
    const char* name;
  } sizes[] = {{352, 288, "CIF"}, {704, 576, "D1"}};
  for (const Size& sz : sizes) {
    const size_t bytes = size_t(sz.w) * sz.h * 4;
    std::vector<uint8_t> pic(bytes), copy(bytes);
    for (size_t i = 0; i < bytes; ++i) pic[i] = uint8_t(i * 7 + i / 4096);
    auto per_frame_us = [&](auto op) {
      double best = 0;
      for (int round = 0; round < kRounds; ++round) {
        const double t0 = thread_cpu_s();
        for (int n = 0; n < 40; ++n) op();
        const double t = (thread_cpu_s() - t0) / 40 * 1e6;
        if (best == 0 || t < best) best = t;
      }
      return best;
    };
    const double bright = per_frame_us([&] { adjust_brightness(pic.data(), sz.w, sz.h, 32, 4); });
    const double histo = per_frame_us([&] { equalize_histogram(pic.data(), sz.w, sz.h, 50, 4); });
    const double hue = per_frame_us([&] { adjust_hue(pic.data(), sz.w, sz.h, 30.0f, 4); });
    const double contrast = per_frame_us([&] { adjust_contrast(pic.data(), sz.w, sz.h, 10, 4); });
    const double mem = per_frame_us([&] { std::memcpy(copy.data(), pic.data(), bytes); });
    auto streams = make_streams(true, sz.w, sz.h, std::min(frames, 25), 0);
    const double fps = lavc_decode_fps(sz.w, sz.h, streams, std::min(frames, 25));
    out_line("%-4s %10.1f %10.1f %10.1f %10.1f %10.1f %10.1f\n", sz.name, bright, histo, hue,
             contrast, fps > 0 ? 1e6 / fps : 0.0, mem);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int frames = argc > 1 ? std::max(2, std::atoi(argv[1])) : 50;
  set_test_clock(TEST_CLOCK_DECODERS, no_clock, no_sleep);
  set_test_clock(TEST_CLOCK_STATS, stats_clock);
  // The decoders print progress lines of their own; the table comes last, in one piece.
  char table[4096];
  size_t used = 0;
  auto out_line = [&](const char* fmt, auto... args) {
    if (used < sizeof table)
      used += size_t(std::snprintf(table + used, sizeof table - used, fmt, args...));
  };
  init_video_decoders();

  out_line(
      "decoder thread path vs plain libavcodec and plain Xvid, %d channels x %d frames, one core\n",
      kChannels, frames);
  out_line("%-8s %-4s %-6s %12s %12s %8s %12s %8s %12s %8s %10s\n", "codec", "size", "noise",
           "pipeline/s", "lavc+rgb32/s", "ratio", "decode only", "ratio", "xvid+rgb32/s", "ratio",
           "KiB/chan");
  struct Run {
    bool h264;
    int w, h;
    const char* name;
  } runs[] = {{true, 352, 288, "CIF"},
              {true, 704, 576, "D1"},
              {false, 352, 288, "CIF"},
              {false, 704, 576, "D1"}};
  long thread_kib = 0;
  const int only = argc > 2 ? std::atoi(argv[2]) : -1;  // one configuration (0-3), for profiling
  // Plain synthetic pictures are nearly static and cheap to decode; with sensor noise the
  // decoders work as on camera pictures.
  for (int noise : {0, 6})
    for (const Run& r : runs) {
      if (only >= 0 && &r != &runs[only]) continue;
      auto streams = make_streams(r.h264, r.w, r.h, frames, noise);
      PipelineRun pipeline(r.h264, r.w, r.h, streams, frames);
      pipeline.warm();
      thread_kib = pipeline.thread_kib;
      LavcRun lavc_rgb(r.h264, r.w, r.h, streams, frames, true),
          lavc(r.h264, r.w, r.h, streams, frames, false);
      XvidRun xvid(r.w, r.h, streams, frames);
      long warm = 0;
      lavc_rgb.round(&warm);
      lavc.round(&warm);
      if (!r.h264) xvid.round(&warm);
      std::vector<double> fps = r.h264 ? alternate_rounds(pipeline, lavc_rgb, lavc)
                                       : alternate_rounds(pipeline, lavc_rgb, lavc, xvid);
      char xv[2][16] = {"-", "-"};
      if (!r.h264) {
        std::snprintf(xv[0], sizeof xv[0], "%.1f", fps[3]);
        std::snprintf(xv[1], sizeof xv[1], "%.1f%%", fps[3] > 0 ? 100.0 * fps[0] / fps[3] : 0.0);
      }
      out_line("%-8s %-4s %-6s %12.1f %12.1f %7.1f%% %12.1f %7.1f%% %12s %8s %10ld\n",
               r.h264 ? "H.264" : "MPEG-4", r.name, noise ? "+-6" : "none", fps[0], fps[1],
               fps[1] > 0 ? 100.0 * fps[0] / fps[1] : 0.0, fps[2],
               fps[2] > 0 ? 100.0 * fps[0] / fps[2] : 0.0, xv[0], xv[1], pipeline.per_channel_kib);
      if (pipeline.last_shown != long(frames) * kChannels)
        out_line("  (only %ld of %d pictures shown)\n", pipeline.last_shown, frames * kChannels);
    }
  out_line(
      "ratio: pipeline against libavcodec decoding plus one libswscale conversion to 32 bits (the\n"
      "pipeline's output), then against decoding alone, then (MPEG-4) against plain Xvid writing\n"
      "the same 32-bit pictures.\n");
  out_line(
      "KiB/chan: memory allocated per channel while decoding (its decoder and its 32-bit "
      "surface).\n"
      "per decoder thread: frame buffer %zu KiB, picture buffer %zu KiB (pages become resident "
      "only\n"
      "as far as pictures reach); %ld KiB allocated by its start\n",
      DECODER_FRAME_BUFFER_SIZE / 1024, DECODER_PICTURE_BUFFER_SIZE / 1024, thread_kib);
  if (only < 0) adjustment_costs(frames, out_line);
  free_video_decoders();
  std::fputs(table, stdout);
  return 0;
}
