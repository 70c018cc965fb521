#include "platform/quellaud/quellaud.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

namespace {

constexpr size_t kMaxStreams =
    4096;  // a caller that never clears cannot grow the table without end

struct Stream {
  AVCodecContext* ctx = nullptr;
  AVPacket* pkt = nullptr;
  AVFrame* frame = nullptr;
  ~Stream() {
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
  }
  bool open() {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_G723_1);
    if (!codec) return false;
    ctx = avcodec_alloc_context3(codec);
    pkt = av_packet_alloc();
    frame = av_frame_alloc();
    if (!ctx || !pkt || !frame) return false;
    ctx->sample_rate = 8000;
    av_channel_layout_default(&ctx->ch_layout, 1);
    return avcodec_open2(ctx, codec, nullptr) == 0;
  }
};

std::mutex g_lock;
std::map<const int16_t*, std::unique_ptr<Stream>> g_streams;

// The state of `output`'s stream, created on first use; null when it cannot be. Caller holds
// g_lock.
Stream* stream_for(const int16_t* output) {
  auto it = g_streams.find(output);
  if (it != g_streams.end()) return it->second.get();
  if (g_streams.size() >= kMaxStreams) return nullptr;
  auto s = std::make_unique<Stream>();
  if (!s->open()) return nullptr;
  return g_streams.emplace(output, std::move(s)).first->second.get();
}

}  // namespace

int quellaud::Ex_Initialize(AUDIO_DEC_INIT_PARAM* param) {
  if (!param) return 0;
  av_log_set_level(AV_LOG_FATAL);  // damaged frames are reported through the result
  return avcodec_find_decoder(AV_CODEC_ID_G723_1) ? 1 : 0;
}

int quellaud::Ex_Decode(AUDIO_DEC_PARAM* param, AUDIO_DEC_FRAME_INFO*) {
  if (!param) return 0;
  const int capacity = param->output_length;
  param->output_length = 0;
  if (!param->input || !param->output || param->input_length <= 0 || capacity < 0) return 0;

  std::lock_guard<std::mutex> lock(g_lock);
  Stream* s = stream_for(param->output);
  if (!s) return 0;
  s->pkt->data = param->input;
  s->pkt->size = param->input_length;
  const int rc = avcodec_send_packet(s->ctx, s->pkt);  // copies the bytes (padded) before reading
  s->pkt->data = nullptr;
  s->pkt->size = 0;
  if (rc < 0) return 0;
  // Take every frame of the packet, so that none is left inside for the next call; copy the
  // whole frames that fit.
  int written = 0;
  auto* out = reinterpret_cast<uint8_t*>(param->output);
  while (avcodec_receive_frame(s->ctx, s->frame) == 0) {
    const int bytes = s->frame->nb_samples * 2;
    const bool s16 =
        s->frame->format == AV_SAMPLE_FMT_S16P || s->frame->format == AV_SAMPLE_FMT_S16;
    if (s16 && bytes <= capacity - written) {
      std::memcpy(out + written, s->frame->data[0], size_t(bytes));
      written += bytes;
    }
    av_frame_unref(s->frame);
  }
  param->output_length = written;
  return written > 0 ? 1 : 0;
}

int quellaud::Ex_ClearBuf(AUDIO_DEC_PARAM* param) {
  if (!param) return 1;
  std::lock_guard<std::mutex> lock(g_lock);
  g_streams.erase(param->output);
  return 1;
}
