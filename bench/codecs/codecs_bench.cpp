// Prints the per-frame cost of tir_decode at 640x272 (BGRX32 and I420) beside libavcodec's
// MPEG-2 intra decoding of the same picture (with and without a swscale conversion to BGRA),
// and the samples per second of ADPCM_Decode beside libavcodec's adpcm_ima_wav and
// adpcm_ima_qt. Single-threaded; build without sanitizers for meaningful figures.
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <random>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include "bench/best_time.h"
#include "codecs/sonpak/sonpak.h"
#include "codecs/tir_dec/tir_dec.h"
#include "peers/media/media_gen.h"
#include "peers/tirenc/tirenc.h"

namespace {

constexpr int kW = 640, kH = 272;

std::vector<uint8_t> mpeg2_intra_frame(const media_gen::Yuv420& pic, int qscale) {
  std::vector<uint8_t> out;
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
  if (!codec) return out;
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  ctx->width = kW;
  ctx->height = kH;
  ctx->pix_fmt = AV_PIX_FMT_YUV420P;
  ctx->time_base = AVRational{1, 25};
  ctx->gop_size = 0;  // intra only
  ctx->flags |= AV_CODEC_FLAG_QSCALE;
  AVFrame* f = av_frame_alloc();
  AVPacket* pkt = av_packet_alloc();
  if (avcodec_open2(ctx, codec, nullptr) == 0) {
    f->format = AV_PIX_FMT_YUV420P;
    f->width = kW;
    f->height = kH;
    av_frame_get_buffer(f, 0);
    for (int y = 0; y < kH; ++y) std::memcpy(f->data[0] + y * f->linesize[0], &pic.y[y * kW], kW);
    for (int y = 0; y < kH / 2; ++y) {
      std::memcpy(f->data[1] + y * f->linesize[1], &pic.u[y * kW / 2], kW / 2);
      std::memcpy(f->data[2] + y * f->linesize[2], &pic.v[y * kW / 2], kW / 2);
    }
    f->quality = FF_QP2LAMBDA * qscale;
    f->pts = 0;
    if (avcodec_send_frame(ctx, f) == 0) avcodec_send_frame(ctx, nullptr);
    if (avcodec_receive_packet(ctx, pkt) == 0) out.assign(pkt->data, pkt->data + pkt->size);
  }
  av_packet_free(&pkt);
  av_frame_free(&f);
  avcodec_free_context(&ctx);
  return out;
}

}  // namespace

int main() {
  av_log_set_level(AV_LOG_ERROR);
  for (int textured = 0; textured < 2; ++textured) {
    media_gen::Yuv420 pic = media_gen::synth_picture(kW, kH, 1, 3);
    if (textured) {
      // Camera-like detail: a fixed pseudo-random texture of +-12 over the whole picture.
      std::mt19937 tex(99);
      for (auto* plane : {&pic.y, &pic.u, &pic.v})
        for (auto& v : *plane)
          v = static_cast<uint8_t>(std::clamp(int(v) + int(tex() % 25) - 12, 0, 255));
    }
    std::vector<uint8_t> i420(pic.y);
    i420.insert(i420.end(), pic.u.begin(), pic.u.end());
    i420.insert(i420.end(), pic.v.begin(), pic.v.end());

    std::printf("Block-DCT video, 640x272 intra frame of the %s test picture\n",
                textured ? "textured" : "plain");
    for (int q : {2, 6}) {
      tirenc::Options o;
      o.quant_scale = q;
      tirenc::Frame f;
      if (tirenc::encode_frame(i420.data(), kW, kH, o, f) != 0) {
        std::printf("encode failed\n");
        return 1;
      }
      std::vector<uint8_t> dst(kW * kH * 4);
      const unsigned len = static_cast<unsigned>(f.bytes.size());
      const double t3 = time_us([&] { tir_decode(f.bytes.data(), len, dst.data(), 3); });
      const double t0 = time_us([&] { tir_decode(f.bytes.data(), len, dst.data(), 0); });
      std::printf(
          "  tir_decode q%-2d %6u bytes: type 3 (BGRX32) %8.1f us/frame %7.0f fps; type 0 (I420) "
          "%8.1f us/frame %7.0f fps\n",
          q, len, t3, 1e6 / t3, t0, 1e6 / t0);

      // MPEG-2 reconstructs level x W x qscale / 8, this format level x W x scale / 4: the same
      // quantisation is MPEG-2 qscale 2q.
      const std::vector<uint8_t> m2 = mpeg2_intra_frame(pic, 2 * q);
      const AVCodec* dec = avcodec_find_decoder(AV_CODEC_ID_MPEG2VIDEO);
      if (m2.empty() || !dec) {
        std::printf("  libavcodec MPEG-2 not available\n");
        continue;
      }
      AVCodecContext* ctx = avcodec_alloc_context3(dec);
      ctx->thread_count = 1;
      avcodec_open2(ctx, dec, nullptr);
      AVPacket* pkt = av_packet_alloc();
      AVFrame* fr = av_frame_alloc();
      SwsContext* sws = sws_getContext(kW, kH, AV_PIX_FMT_YUV420P, kW, kH, AV_PIX_FMT_BGRA,
                                       SWS_POINT, nullptr, nullptr, nullptr);
      uint8_t* bgra[1] = {dst.data()};
      int bgra_stride[1] = {kW * 4};
      auto decode_mpeg2 = [&](bool convert) {
        av_new_packet(pkt, static_cast<int>(m2.size()));
        std::memcpy(pkt->data, m2.data(), m2.size());
        avcodec_send_packet(ctx, pkt);
        av_packet_unref(pkt);
        while (avcodec_receive_frame(ctx, fr) == 0) {
          if (convert) sws_scale(sws, fr->data, fr->linesize, 0, kH, bgra, bgra_stride);
          av_frame_unref(fr);
        }
      };
      // The decoder delays by one frame; flushing would end the stream, so it is primed once.
      const double m0 = time_us([&] { decode_mpeg2(false); });
      const double m3 = time_us([&] { decode_mpeg2(true); });
      std::printf(
          "  libavcodec MPEG-2 intra q%-2d %6zu bytes: YUV %8.1f us/frame; + swscale BGRA %8.1f "
          "us/frame\n",
          2 * q, m2.size(), m0, m3);
      std::printf("  ratio tir_decode / MPEG-2: type 0 vs YUV %.2f, type 3 vs BGRA %.2f\n", t0 / m0,
                  t3 / m3);
      sws_freeContext(sws);
      av_frame_free(&fr);
      av_packet_free(&pkt);
      avcodec_free_context(&ctx);
    }
  }

  std::printf("IMA ADPCM, mono blocks of 1024 code bytes (2048 samples)\n");
  std::mt19937 rng(7);
  std::vector<uint8_t> block(1028);
  for (auto& b : block) b = static_cast<uint8_t>(rng());
  block[1024] = 0;
  block[1025] = 0;
  block[1026] = 40;
  std::vector<int16_t> pcm(4096);
  const double ts = time_us([&] {
    AUDIO_DEC_PARAM p{static_cast<int32_t>(block.size()), block.data(),
                      static_cast<int32_t>(pcm.size() * 2), pcm.data()};
    ADPCM_Decode(&p, nullptr);
  });
  std::printf("  ADPCM_Decode            %8.2f us/block %8.1f Msamples/s\n", ts, 2048 / ts);

  struct Ref {
    AVCodecID id;
    const char* name;
    int packet;
    int samples;
  };
  for (const Ref& r : {Ref{AV_CODEC_ID_ADPCM_IMA_WAV, "adpcm_ima_wav", 1028, 2049},
                       Ref{AV_CODEC_ID_ADPCM_IMA_QT, "adpcm_ima_qt", 34 * 32, 64 * 32}}) {
    const AVCodec* dec = avcodec_find_decoder(r.id);
    if (!dec) continue;
    AVCodecContext* ctx = avcodec_alloc_context3(dec);
    ctx->sample_rate = 8000;
    av_channel_layout_default(&ctx->ch_layout, 1);
    ctx->bits_per_coded_sample = 4;
    ctx->block_align = r.packet;
    if (avcodec_open2(ctx, dec, nullptr) < 0) continue;
    std::vector<uint8_t> data(static_cast<size_t>(r.packet));
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    for (int i = 0; i < r.packet; i += (r.id == AV_CODEC_ID_ADPCM_IMA_QT ? 34 : r.packet)) {
      data[static_cast<size_t>(i)] = 0;
      data[static_cast<size_t>(i) + 1] = 40;  // index in range for both header forms
      if (r.id == AV_CODEC_ID_ADPCM_IMA_WAV)
        data[static_cast<size_t>(i) + 2] = 40, data[static_cast<size_t>(i) + 3] = 0;
    }
    AVPacket* pkt = av_packet_alloc();
    AVFrame* fr = av_frame_alloc();
    const double tr = time_us([&] {
      av_new_packet(pkt, r.packet);
      std::memcpy(pkt->data, data.data(), data.size());
      avcodec_send_packet(ctx, pkt);
      av_packet_unref(pkt);
      while (avcodec_receive_frame(ctx, fr) == 0) av_frame_unref(fr);
    });
    std::printf("  libavcodec %-13s %8.2f us/block %8.1f Msamples/s (%d samples per packet)\n",
                r.name, tr, r.samples / tr, r.samples);
    av_frame_free(&fr);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
  }
  return 0;
}
