#include "platform/pixtree/pixtree_h264_dec.h"

#include <cstring>

extern "C" {
#include <libswscale/swscale.h>
}

#include "platform/avdec/av_video_decoder.h"
#include "platform/pixtree/yuv_to_bgr24.h"

namespace {

struct PtDecoder {
  AvVideoDecoder dec;
  SwsContext* sws = nullptr;
  ~PtDecoder() { sws_freeContext(sws); }
};

PtDecoder* get_ptr(const uint8_t* rec) {
  PtDecoder* d;
  std::memcpy(&d, rec, sizeof d);
  return d;
}

void put_ptr(uint8_t* rec, PtDecoder* d) { std::memcpy(rec, &d, sizeof d); }

uint32_t get_word(const uint8_t* rec, int off) {
  uint32_t v;
  std::memcpy(&v, rec + off, 4);
  return v;
}

void put_word(uint8_t* rec, int off, uint32_t v) { std::memcpy(rec + off, &v, 4); }

static_assert(sizeof(void*) <= 8, "decoder pointer must fit bytes 0-7 of the record");

// Writes the decoded picture as packed B, G, R rows.
int write_picture(PtDecoder* d, const AVFrame* f, uint8_t* rec, uint8_t* output) {
  int w = f->width, h = f->height;
  uint64_t need = uint64_t(w) * uint64_t(h) * 3;
  if (w <= 0 || h <= 0 || need > get_word(rec, PT_OFF_CAPACITY)) return PT_TOO_LARGE;
  if (f->format == AV_PIX_FMT_YUV420P) {
    // What DVRs send: one vectorised pass, a good deal faster than libswscale's 24-bit path.
    const uint8_t* const planes[3] = {f->data[0], f->data[1], f->data[2]};
    const int strides[3] = {f->linesize[0], f->linesize[1], f->linesize[2]};
    yuv420_to_bgr24(planes, strides, w, h, output, w * 3);
  } else {
    d->sws = sws_getCachedContext(d->sws, w, h, AVPixelFormat(f->format), w, h, AV_PIX_FMT_BGR24,
                                  SWS_POINT, nullptr, nullptr, nullptr);
    if (!d->sws) return PT_DECODE_ERROR;
    uint8_t* dst[4] = {output, nullptr, nullptr, nullptr};
    int dst_stride[4] = {w * 3, 0, 0, 0};
    if (sws_scale(d->sws, f->data, f->linesize, 0, h, dst, dst_stride) != h) return PT_DECODE_ERROR;
  }
  bool changed =
      get_word(rec, PT_OFF_WIDTH) != uint32_t(w) || get_word(rec, PT_OFF_HEIGHT) != uint32_t(h);
  bool first = get_word(rec, PT_OFF_WIDTH) == 0;
  put_word(rec, PT_OFF_WIDTH, uint32_t(w));
  put_word(rec, PT_OFF_HEIGHT, uint32_t(h));
  return changed && !first ? PT_OK_NEW_SIZE : PT_OK;
}

}  // namespace

extern "C" int PT_H264dec_Init(void* record) {
  if (!record) return -1;
  auto* rec = static_cast<uint8_t*>(record);
  if (get_ptr(rec)) return 0;
  auto* d = new PtDecoder;
  if (!d->dec.open(AV_CODEC_ID_H264, false)) {
    delete d;
    return -2;
  }
  put_ptr(rec, d);
  put_word(rec, PT_OFF_WIDTH, 0);
  put_word(rec, PT_OFF_HEIGHT, 0);
  return 0;
}

extern "C" int PT_H264dec_GetOneFrame(void* record, const uint8_t* input, int input_length,
                                      uint8_t* output) {
  if (!record || !input || !output || input_length < 0) return PT_BAD_ARGS;
  auto* rec = static_cast<uint8_t*>(record);
  if (get_word(rec, PT_OFF_FORMAT) != uint32_t(PT_FORMAT_RGB24)) return PT_BAD_ARGS;
  PtDecoder* d = get_ptr(rec);
  if (!d) return PT_REINIT;

  int rc = d->dec.send(input, input_length);
  if (rc == AVERROR(EAGAIN)) {
    // A picture is still held: hand it out; the frame is retried by the caller.
    if (AVFrame* f = d->dec.receive()) {
      int r = write_picture(d, f, rec, output);
      av_frame_unref(f);
      return r == PT_OK || r == PT_OK_NEW_SIZE ? PT_AGAIN : r;
    }
    return PT_REINIT;
  }
  if (rc == AVERROR_EOF || rc == AVERROR(EINVAL) || rc == AVERROR(ENOMEM)) return PT_REINIT;
  if (rc < 0) return PT_DECODE_ERROR;

  AVFrame* f = d->dec.receive(&rc);
  if (rc == AVERROR(EAGAIN)) return PT_NO_PICTURE;
  if (!f) return PT_DECODE_ERROR;
  int r = write_picture(d, f, rec, output);
  av_frame_unref(f);
  return r;
}

extern "C" int PT_H264dec_Uninit(void* record) {
  if (!record) return -1;
  auto* rec = static_cast<uint8_t*>(record);
  delete get_ptr(rec);
  put_ptr(rec, nullptr);
  put_word(rec, PT_OFF_WIDTH, 0);
  put_word(rec, PT_OFF_HEIGHT, 0);
  return 0;
}
