// libavcodec plumbing shared by the stand-ins of the outside video decoders (pixtree_h264_dec,
// Quellvid, Tessra): opening a decoder the way they all want it, one packet in and pictures
// out, probing a stream's picture size, and the padded planes the SDK's decoders hand out.
// Objects are not shared between threads; separate objects may be used from separate threads.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/avdec/picture_info.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

class AvVideoDecoder {
 public:
  AvVideoDecoder() = default;
  ~AvVideoDecoder();
  AvVideoDecoder(const AvVideoDecoder&) = delete;
  AvVideoDecoder& operator=(const AvVideoDecoder&) = delete;

  // Opens libavcodec's decoder for `codec` on one thread with low delay (the DVRs send no
  // B-frames, so one picture comes out per frame in). `chunks`: packets may hold part of a
  // picture (H.264 fed one NAL unit at a time); the picture comes out once its last slice is
  // in. `extra` (may be null) is handed over as the stream's header bytes. False when
  // libavcodec has no such decoder or cannot open it; the object is then closed.
  bool open(AVCodecID codec, bool chunks, const uint8_t* extra = nullptr, int extra_size = 0);
  bool is_open() const { return ctx_ != nullptr; }
  void close();

  // Hands one packet to the decoder: libavcodec's result (0, AVERROR(EAGAIN) while a picture
  // waits to be taken, another negative code when the data is refused or the decoder is closed).
  int send(const uint8_t* data, int size);
  // The next decoded picture, valid until the next receive, flush or close; null with `*rc`
  // (when given) set to libavcodec's reason when there is none.
  AVFrame* receive(int* rc = nullptr);
  // Sends one packet and takes the picture it completes (valid as for receive), or null: no
  // picture yet, data refused, decoder closed. A picture nobody took is dropped first.
  AVFrame* decode(const uint8_t* data, int size);
  // Drops pictures and references held inside the decoder (a jump in the stream).
  void flush();

 private:
  AVCodecContext* ctx_ = nullptr;
  AVPacket* pkt_ = nullptr;
  AVFrame* frame_ = nullptr;
};

// Picture size announced by the first bytes of a stream, as far as libavcodec's parser reads it
// from them (an MPEG-4 VOL header; an H.264 slice after its parameter sets). False when the
// bytes do not tell.
bool probe_picture_size(AVCodecID codec, const uint8_t* data, int size, int* width, int* height);

// A 4:2:0 picture in planes whose luma rows lie `width + 32` bytes apart, as the SDK's video
// decoders hand their pictures out; the chroma row distance is the decoder's (set by `resize`).
class PaddedPicture {
 public:
  // Sizes the planes for width x height (both even, 2..4096); false otherwise.
  bool resize(int width, int height, int chroma_stride);
  // Copies a decoded planar 4:2:0 picture of exactly the planes' size and stores the plane
  // pointers in planes[0..2]: 1. 0 (nothing copied or stored) for a null picture or another
  // size or layout. The picture is released either way.
  int deliver(AVFrame* frame, uint8_t* planes[3]);
  uint8_t* plane(int i) { return planes_[i].data(); }
  int width() const { return width_; }
  int height() const { return height_; }
  int luma_stride() const { return width_ + 32; }
  int chroma_stride() const { return chroma_stride_; }

 private:
  int width_ = 0, height_ = 0, chroma_stride_ = 0;
  std::vector<uint8_t> planes_[3];
};

// Set-up of a decoder's picture from its configuration and the caller's description: the size
// is the configuration's when probe_picture_size finds one, else info's. Sizes `pic` with
// chroma rows `wide_chroma ? width + 32 : (width + 32) / 2` apart and fills info's output
// fields. False (info untouched) for a null or wrong-sized record or no usable size.
bool set_up_picture(AVCodecID codec, const uint8_t* config, int config_size, PICTUREINFO* info,
                    bool wide_chroma, PaddedPicture& pic);
