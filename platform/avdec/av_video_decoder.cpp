#include "platform/avdec/av_video_decoder.h"

#include <cstring>

extern "C" {
#include <libavutil/log.h>
}

AvVideoDecoder::~AvVideoDecoder() { close(); }

void AvVideoDecoder::close() {
  av_frame_free(&frame_);
  av_packet_free(&pkt_);
  avcodec_free_context(&ctx_);
}

bool AvVideoDecoder::open(AVCodecID codec_id, bool chunks, const uint8_t* extra, int extra_size) {
  close();
  av_log_set_level(AV_LOG_FATAL);  // broken frames are reported through result codes
  const AVCodec* codec = avcodec_find_decoder(codec_id);
  if (!codec) return false;
  ctx_ = avcodec_alloc_context3(codec);
  pkt_ = av_packet_alloc();
  frame_ = av_frame_alloc();
  if (!ctx_ || !pkt_ || !frame_) {
    close();
    return false;
  }
  ctx_->flags |= AV_CODEC_FLAG_LOW_DELAY;
  if (chunks) ctx_->flags2 |= AV_CODEC_FLAG2_CHUNKS;
  // Each stream has its own decoder and the SDK runs one per session already.
  ctx_->thread_count = 1;
  if (extra && extra_size > 0) {
    ctx_->extradata =
        static_cast<uint8_t*>(av_mallocz(size_t(extra_size) + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!ctx_->extradata) {
      close();
      return false;
    }
    std::memcpy(ctx_->extradata, extra, size_t(extra_size));
    ctx_->extradata_size = extra_size;
  }
  if (avcodec_open2(ctx_, codec, nullptr) < 0) {
    close();
    return false;
  }
  return true;
}

int AvVideoDecoder::send(const uint8_t* data, int size) {
  if (!ctx_) return AVERROR(EINVAL);
  pkt_->data = const_cast<uint8_t*>(data);
  pkt_->size = size;
  int rc = avcodec_send_packet(ctx_, pkt_);
  pkt_->data = nullptr;
  pkt_->size = 0;
  return rc;
}

AVFrame* AvVideoDecoder::receive(int* rc) {
  int r = ctx_ ? avcodec_receive_frame(ctx_, frame_) : AVERROR(EINVAL);
  if (rc) *rc = r;
  return r == 0 ? frame_ : nullptr;
}

AVFrame* AvVideoDecoder::decode(const uint8_t* data, int size) {
  int rc = send(data, size);
  if (rc == AVERROR(EAGAIN)) {
    while (AVFrame* stale = receive()) av_frame_unref(stale);
    rc = send(data, size);
  }
  return rc < 0 ? nullptr : receive();
}

void AvVideoDecoder::flush() {
  if (ctx_) avcodec_flush_buffers(ctx_);
}

bool probe_picture_size(AVCodecID codec_id, const uint8_t* data, int size, int* width,
                        int* height) {
  if (!data || size <= 0) return false;
  av_log_set_level(AV_LOG_FATAL);  // the bytes are a stream's start, often cut mid-picture
  AVCodecParserContext* parser = av_parser_init(codec_id);
  AVCodecContext* ctx = avcodec_alloc_context3(avcodec_find_decoder(codec_id));
  // The parser reads past the end by up to the padding size.
  std::vector<uint8_t> copy(size_t(size) + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  std::memcpy(copy.data(), data, size_t(size));
  bool found = false;
  if (parser && ctx) {
    parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
    uint8_t* out = nullptr;
    int out_size = 0;
    av_parser_parse2(parser, ctx, &out, &out_size, copy.data(), size, AV_NOPTS_VALUE,
                     AV_NOPTS_VALUE, 0);
    // The H.264 parser fills its own fields, the MPEG-4 one the codec context's.
    int w = parser->width > 0 ? parser->width : ctx->width;
    int h = parser->height > 0 ? parser->height : ctx->height;
    if (w > 0 && h > 0) {
      *width = w;
      *height = h;
      found = true;
    }
  }
  av_parser_close(parser);
  avcodec_free_context(&ctx);
  return found;
}

namespace {
constexpr int kMaxSide =
    4096;  // beyond any DVR picture; keeps a bogus size from allocating gigabytes
}

bool PaddedPicture::resize(int width, int height, int chroma_stride) {
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide || (width | height) & 1 ||
      chroma_stride < width / 2)
    return false;
  width_ = width;
  height_ = height;
  chroma_stride_ = chroma_stride;
  planes_[0].assign(size_t(width + 32) * size_t(height), 0);
  planes_[1].assign(size_t(chroma_stride) * size_t(height / 2), 128);
  planes_[2].assign(size_t(chroma_stride) * size_t(height / 2), 128);
  return true;
}

int PaddedPicture::deliver(AVFrame* f, uint8_t* planes[3]) {
  if (!f) return 0;
  const bool fits = f->width == width_ && f->height == height_ && width_ > 0 &&
                    (f->format == AV_PIX_FMT_YUV420P || f->format == AV_PIX_FMT_YUVJ420P);
  if (!fits) {
    av_frame_unref(f);
    return 0;
  }
  for (int p = 0; p < 3; ++p) {
    const int rows = p ? height_ / 2 : height_;
    const int bytes = p ? width_ / 2 : width_;
    const int stride = p ? chroma_stride_ : width_ + 32;
    for (int r = 0; r < rows; ++r)
      std::memcpy(planes_[p].data() + size_t(r) * size_t(stride),
                  f->data[p] + size_t(r) * size_t(f->linesize[p]), size_t(bytes));
    planes[p] = planes_[p].data();
  }
  av_frame_unref(f);
  return 1;
}

bool set_up_picture(AVCodecID codec, const uint8_t* config, int config_size, PICTUREINFO* info,
                    bool wide_chroma, PaddedPicture& pic) {
  if (!config || !info || info->size != PICTUREINFO_SIZE) return false;
  int width = info->width, height = info->height;
  probe_picture_size(codec, config, config_size, &width, &height);
  if (!pic.resize(width, height, wide_chroma ? width + 32 : (width + 32) / 2)) return false;
  info->width = width;
  info->height = height;
  info->planes = 3;
  info->bit_count = 12;
  info->compression = PICTUREINFO_I420;
  info->image_size = uint32_t(width) * uint32_t(height) * 3 / 2;
  return true;
}
