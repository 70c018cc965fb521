#include "peers/media/media_gen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include "codecs/sonpak/sonpak.h"

namespace media_gen {

namespace {

// Seven-segment digit shapes: bits a..g = top, top-right, bottom-right, bottom, bottom-left,
// top-left, middle.
constexpr uint8_t kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

int digit_count(int channel) {
  if (channel < 0) channel = -channel;
  int n = 1;
  while (channel >= 10) {
    channel /= 10;
    ++n;
  }
  return n;
}

void fill_y(Yuv420& p, int x, int y, int w, int h, uint8_t value) {
  int x0 = std::clamp(x, 0, p.width), x1 = std::clamp(x + w, 0, p.width);
  int y0 = std::clamp(y, 0, p.height), y1 = std::clamp(y + h, 0, p.height);
  for (int r = y0; r < y1; ++r) std::memset(&p.y[size_t(r) * p.width + x0], value, size_t(x1 - x0));
}

void fill_uv(Yuv420& p, int x, int y, int w, int h, uint8_t u, uint8_t v) {
  int cw = p.width / 2, ch = p.height / 2;
  int x0 = std::clamp(x / 2, 0, cw), x1 = std::clamp((x + w) / 2, 0, cw);
  int y0 = std::clamp(y / 2, 0, ch), y1 = std::clamp((y + h) / 2, 0, ch);
  for (int r = y0; r < y1; ++r) {
    std::memset(&p.u[size_t(r) * cw + x0], u, size_t(x1 - x0));
    std::memset(&p.v[size_t(r) * cw + x0], v, size_t(x1 - x0));
  }
}

// Encoder chatter (libx264's statistics) would drown test output.
void quiet_av_log() { av_log_set_level(AV_LOG_ERROR); }

uint8_t clip8(int v) { return uint8_t(std::clamp(v, 0, 255)); }

// Gives `num/30000` seconds per frame with num coprime to 30000, so that libavcodec keeps
// 30000 as the VOL time resolution instead of reducing the fraction.
int mpeg4_tick(int fps) {
  int num = std::max(1, 30000 / std::max(1, fps));
  while (std::gcd(num, 30000) != 1) ++num;
  return num;
}

struct Codec {
  AVCodecContext* ctx = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* pkt = nullptr;
  int64_t pts = 0;

  ~Codec() {
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
  }

  bool alloc_frame(int w, int h) {
    frame = av_frame_alloc();
    pkt = av_packet_alloc();
    if (!frame || !pkt) return false;
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = w;
    frame->height = h;
    return av_frame_get_buffer(frame, 0) == 0;
  }

  // Opens the set-up context `c` (taken over; freed when it does not open) and the frame of
  // its size; the codec stays closed (ctx null) when either fails.
  void open(AVCodecContext* c, const AVCodec* codec) {
    if (avcodec_open2(c, codec, nullptr) < 0) {
      avcodec_free_context(&c);
      return;
    }
    ctx = c;
    if (!alloc_frame(c->width, c->height)) avcodec_free_context(&ctx);
  }

  // One picture in, one packet out (both encoders are set up without delay).
  int encode(const Yuv420& pic, std::vector<uint8_t>& out, bool& key) {
    if (!ctx || pic.width != ctx->width || pic.height != ctx->height) return -1;
    if (av_frame_make_writable(frame) < 0) return -1;
    for (int r = 0; r < pic.height; ++r)
      std::memcpy(frame->data[0] + size_t(r) * frame->linesize[0], &pic.y[size_t(r) * pic.width],
                  size_t(pic.width));
    int cw = pic.width / 2;
    for (int r = 0; r < pic.height / 2; ++r) {
      std::memcpy(frame->data[1] + size_t(r) * frame->linesize[1], &pic.u[size_t(r) * cw],
                  size_t(cw));
      std::memcpy(frame->data[2] + size_t(r) * frame->linesize[2], &pic.v[size_t(r) * cw],
                  size_t(cw));
    }
    frame->pts = pts++;
    if (avcodec_send_frame(ctx, frame) < 0) return -1;
    int rc = avcodec_receive_packet(ctx, pkt);
    if (rc < 0) return -1;
    out.assign(pkt->data, pkt->data + pkt->size);
    key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
    av_packet_unref(pkt);
    return 0;
  }
};

}  // namespace

void segment_centres(const Rect& d, int count, int i, int out[7][2]) {
  const int dw = count ? d.w / count : 0, t = std::max(2, d.h / 10);
  const int x0 = d.x + i * dw + t, w = dw - 2 * t, y0 = d.y + t, h = d.h - 2 * t, hm = h / 2;
  const int centres[7][2] = {{x0 + w / 2, y0 + t / 2},
                             {x0 + w - t / 2, y0 + hm / 2},
                             {x0 + w - t / 2, y0 + hm + (h - hm) / 2},
                             {x0 + w / 2, y0 + h - t / 2},
                             {x0 + t / 2, y0 + hm + (h - hm) / 2},
                             {x0 + t / 2, y0 + hm / 2},
                             {x0 + w / 2, y0 + hm}};
  for (int k = 0; k < 7; ++k) {
    out[k][0] = centres[k][0];
    out[k][1] = centres[k][1];
  }
}

Rect digits_rect(int width, int height, int channel) {
  int n = digit_count(channel);
  Rect r;
  r.h = height / 3;
  int dw = std::min(r.h / 2, (width / 2) / n);
  r.w = dw * n;
  r.x = width / 16;
  r.y = height / 8;
  return r;
}

void add_sensor_noise(Yuv420& pic, int amplitude, uint32_t seed) {
  if (amplitude <= 0) return;
  uint32_t x = seed * 2654435761u + 1;
  auto noise = [&](std::vector<uint8_t>& plane) {
    for (uint8_t& v : plane) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      int n = int(x % uint32_t(2 * amplitude + 1)) - amplitude;
      v = clip8(int(v) + n);
    }
  };
  noise(pic.y);
  noise(pic.u);
  noise(pic.v);
}

Rect square_rect(int width, int height, int frame_index) {
  Rect r;
  r.w = r.h = std::max(8, (height / 6) & ~1);
  int span = std::max(1, width - r.w);
  int x = (frame_index * 4) % (2 * span);
  if (x >= span) x = 2 * span - x;
  r.x = x & ~1;
  r.y = (height * 5 / 8) & ~1;
  return r;
}

Yuv420 synth_picture(int width, int height, int channel, int frame_index) {
  Yuv420 p;
  p.width = width;
  p.height = height;
  p.y.resize(size_t(width) * height);
  p.u.resize(size_t(width / 2) * (height / 2));
  p.v.resize(p.u.size());
  // Smooth background so encoders spend their bits on the digits and the square.
  for (int r = 0; r < height; ++r)
    for (int c = 0; c < width; ++c)
      p.y[size_t(r) * width + c] = uint8_t(50 + (c * 60) / width + (r * 30) / height);
  for (int r = 0; r < height / 2; ++r)
    for (int c = 0; c < width / 2; ++c) {
      p.u[size_t(r) * (width / 2) + c] = uint8_t(118 + (c * 20) / width);
      p.v[size_t(r) * (width / 2) + c] = uint8_t(122 + (r * 20) / height);
    }

  // Channel number: a dark plate with white seven-segment digits.
  Rect d = digits_rect(width, height, channel);
  fill_y(p, d.x, d.y, d.w, d.h, 20);
  int n = digit_count(channel);
  int dw = n ? d.w / n : 0;
  int t = std::max(2, d.h / 10);  // stroke thickness
  char text[16];
  std::snprintf(text, sizeof text, "%d", channel < 0 ? -channel : channel);
  for (int i = 0; i < n && text[i]; ++i) {
    uint8_t seg = kSegments[text[i] - '0'];
    int x0 = d.x + i * dw + t, w = dw - 2 * t, y0 = d.y + t, h = d.h - 2 * t, hm = h / 2;
    if (seg & 0x01) fill_y(p, x0, y0, w, t, 235);
    if (seg & 0x02) fill_y(p, x0 + w - t, y0, t, hm, 235);
    if (seg & 0x04) fill_y(p, x0 + w - t, y0 + hm, t, h - hm, 235);
    if (seg & 0x08) fill_y(p, x0, y0 + h - t, w, t, 235);
    if (seg & 0x10) fill_y(p, x0, y0 + hm, t, h - hm, 235);
    if (seg & 0x20) fill_y(p, x0, y0, t, hm, 235);
    if (seg & 0x40) fill_y(p, x0, y0 + hm - t / 2, w, t, 235);
  }

  // Moving square on the lower part of the picture, reddish so chroma moves too.
  Rect s = square_rect(width, height, frame_index);
  fill_y(p, s.x, s.y, s.w, s.h, 200);
  fill_uv(p, s.x, s.y, s.w, s.h, 90, 200);
  return p;
}

// An encoder context for YUV 4:2:0 pictures of the size, or null without the encoder.
static AVCodecContext* picture_context(const AVCodec* codec, int width, int height) {
  AVCodecContext* c = codec ? avcodec_alloc_context3(codec) : nullptr;
  if (!c) return nullptr;
  c->width = width;
  c->height = height;
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  return c;
}

struct H264Encoder::Impl : Codec {};

H264Encoder::H264Encoder(int width, int height, int fps, int gop) : impl_(new Impl) {
  quiet_av_log();
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  AVCodecContext* c = picture_context(codec, width, height);
  if (!c) return;
  c->time_base = AVRational{1, fps};
  c->framerate = AVRational{fps, 1};
  c->gop_size = gop;
  c->max_b_frames = 0;
  c->thread_count = 1;
  av_opt_set(c->priv_data, "preset", "ultrafast", 0);
  av_opt_set(c->priv_data, "tune", "zerolatency", 0);
  // Regular IDRs only: no scene-cut I frames, so a GOP is exactly `gop` frames.
  char params[96];
  std::snprintf(params, sizeof params,
                "keyint=%d:min-keyint=%d:scenecut=0:bframes=0:repeat-headers=1", gop, gop);
  av_opt_set(c->priv_data, "x264-params", params, 0);
  c->bit_rate = 0;
  av_opt_set(c->priv_data, "crf", "20", 0);
  impl_->open(c, codec);
}

H264Encoder::~H264Encoder() { delete impl_; }
bool H264Encoder::ok() const { return impl_->ctx != nullptr; }
int H264Encoder::encode(const Yuv420& pic, std::vector<uint8_t>& access_unit, bool& key) {
  return impl_->encode(pic, access_unit, key);
}

struct Mpeg4Encoder::Impl : Codec {};

Mpeg4Encoder::Mpeg4Encoder(int width, int height, int fps, int gop, bool interlaced)
    : impl_(new Impl) {
  quiet_av_log();
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  AVCodecContext* c = picture_context(codec, width, height);
  if (!c) return;
  c->time_base = AVRational{mpeg4_tick(fps), 30000};
  c->framerate = AVRational{30000, mpeg4_tick(fps)};
  c->gop_size = gop;
  c->max_b_frames = 0;
  c->thread_count = 1;
  c->bit_rate = 0;
  c->global_quality = 3 * FF_QP2LAMBDA;
  c->flags |= AV_CODEC_FLAG_QSCALE;
  if (interlaced) c->flags |= AV_CODEC_FLAG_INTERLACED_DCT;
  av_opt_set_int(c->priv_data, "mpeg_quant", 1, 0);
  av_opt_set_int(c->priv_data, "data_partitioning", 0, 0);
  av_opt_set_int(c, "sc_threshold", 1000000000, 0);  // no scene-cut key frames
  impl_->open(c, codec);
}

Mpeg4Encoder::~Mpeg4Encoder() { delete impl_; }
bool Mpeg4Encoder::ok() const { return impl_->ctx != nullptr; }
int Mpeg4Encoder::encode_with_headers(const Yuv420& pic, std::vector<uint8_t>& frame, bool& key) {
  return impl_->encode(pic, frame, key);
}

int Mpeg4Encoder::encode(const Yuv420& pic, std::vector<uint8_t>& vop, bool& key) {
  std::vector<uint8_t> pkt;
  if (impl_->encode(pic, pkt, key) != 0) return -1;
  for (size_t i = 0; i + 3 < pkt.size(); ++i) {
    if (pkt[i] == 0 && pkt[i + 1] == 0 && pkt[i + 2] == 1 && pkt[i + 3] == 0xB6) {
      vop.assign(pkt.begin() + long(i), pkt.end());
      return 0;
    }
  }
  return -1;
}

double psnr_y(const uint8_t* a, const uint8_t* b, int width, int height, int stride_a,
              int stride_b) {
  double sse = 0;
  for (int r = 0; r < height; ++r)
    for (int c = 0; c < width; ++c) {
      int d = int(a[size_t(r) * stride_a + c]) - int(b[size_t(r) * stride_b + c]);
      sse += double(d) * d;
    }
  if (sse == 0 || width <= 0 || height <= 0) return 99.0;
  double mse = sse / (double(width) * height);
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}

std::vector<uint8_t> bgra_to_y(const uint8_t* bgra, int width, int height, int stride) {
  std::vector<uint8_t> y(size_t(width) * height);
  for (int r = 0; r < height; ++r)
    for (int c = 0; c < width; ++c) {
      const uint8_t* p = bgra + size_t(r) * stride + size_t(c) * 4;
      int v = (66 * p[2] + 129 * p[1] + 25 * p[0] + 128) / 256 + 16;
      y[size_t(r) * width + c] = clip8(v);
    }
  return y;
}

std::vector<uint8_t> yuv_to_bgra(const Yuv420& pic) {
  std::vector<uint8_t> out(size_t(pic.width) * pic.height * 4);
  int cw = pic.width / 2;
  for (int r = 0; r < pic.height; ++r)
    for (int c = 0; c < pic.width; ++c) {
      int yy = (pic.y[size_t(r) * pic.width + c] - 16) * 298;
      int u = pic.u[size_t(r / 2) * cw + c / 2] - 128;
      int v = pic.v[size_t(r / 2) * cw + c / 2] - 128;
      uint8_t* p = &out[(size_t(r) * pic.width + c) * 4];
      p[0] = clip8((yy + 516 * u + 128) >> 8);
      p[1] = clip8((yy - 100 * u - 208 * v + 128) >> 8);
      p[2] = clip8((yy + 409 * v + 128) >> 8);
      p[3] = 0;
    }
  return out;
}

double mean_y(const uint8_t* y, int stride, Rect r) {
  if (r.w <= 0 || r.h <= 0) return 0;
  double sum = 0;
  for (int i = 0; i < r.h; ++i)
    for (int j = 0; j < r.w; ++j) sum += y[size_t(r.y + i) * stride + r.x + j];
  return sum / (double(r.w) * r.h);
}

std::vector<int16_t> tone(int samples, double hz, double amplitude, int rate) {
  std::vector<int16_t> s(size_t(std::max(samples, 0)), 0);
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = int16_t(std::lround(amplitude * std::sin(2 * M_PI * hz * double(i) / rate)));
  return s;
}

std::vector<uint8_t> g723_encode(const std::vector<int16_t>& pcm) {
  std::vector<uint8_t> out;
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_G723_1);
  AVCodecContext* c = codec ? avcodec_alloc_context3(codec) : nullptr;
  AVFrame* f = av_frame_alloc();
  AVPacket* pkt = av_packet_alloc();
  if (c && f && pkt) {
    c->sample_rate = 8000;
    c->bit_rate = 6300;
    c->sample_fmt = AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&c->ch_layout, 1);
  }
  if (c && f && pkt && avcodec_open2(c, codec, nullptr) == 0) {
    for (size_t at = 0; at + 240 <= pcm.size(); at += 240) {
      f->nb_samples = 240;
      f->format = AV_SAMPLE_FMT_S16;
      av_channel_layout_default(&f->ch_layout, 1);
      if (av_frame_get_buffer(f, 0) < 0) break;
      std::memcpy(f->data[0], &pcm[at], 480);
      avcodec_send_frame(c, f);
      av_frame_unref(f);
      while (avcodec_receive_packet(c, pkt) == 0) {
        out.insert(out.end(), pkt->data, pkt->data + pkt->size);
        av_packet_unref(pkt);
      }
    }
  }
  av_packet_free(&pkt);
  av_frame_free(&f);
  avcodec_free_context(&c);
  return out;
}

std::vector<std::vector<uint8_t>> adpcm_blocks(const std::vector<int16_t>& pcm, int block_samples) {
  AUDIO_ENC_INIT_PARAM init{};
  ADPCM_Initialize(&init);
  std::vector<std::vector<uint8_t>> blocks;
  const size_t n = size_t(block_samples) / 2;
  uint8_t state[3] = {0, 0, 0};  // predictor and index after ADPCM_Initialize
  for (size_t at = 0; block_samples > 0 && at + size_t(block_samples) <= pcm.size();
       at += size_t(block_samples)) {
    std::vector<int16_t> in(pcm.begin() + long(at), pcm.begin() + long(at) + block_samples);
    std::vector<uint8_t> enc(n + 8);
    AUDIO_ENC_PARAM p{};
    p.input = in.data();
    p.sample_count = block_samples;
    p.output = enc.data();
    ADPCM_Encode(&p);
    std::vector<uint8_t> block(n + 4, 0);
    for (size_t i = 0; i < n; ++i) block[i] = uint8_t(enc[i] << 4 | enc[i] >> 4);
    std::memcpy(&block[n], state, 3);
    std::memcpy(state, &enc[n], 3);
    blocks.push_back(block);
  }
  return blocks;
}

}  // namespace media_gen
