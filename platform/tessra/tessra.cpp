#include "platform/tessra/tessra.h"

#include <new>

#include "platform/avdec/av_video_decoder.h"

namespace {

class TessraDecoder final : public CVDecoder {
 public:
  int Initialize(const uint8_t* config, PICTUREINFO* info) override {
    dec_.close();
    PICTUREINFO out = info ? *info : PICTUREINFO{};
    if (!set_up_picture(AV_CODEC_ID_H264, config, TESSRA_CONFIG_SIZE, &out, false, pic_)) return 0;
    // Chunks: a picture is finished when its last slice arrives, not at the next packet.
    if (!dec_.open(AV_CODEC_ID_H264, true)) return 0;
    *info = out;
    return 1;
  }

  int DecodeNAL(const uint8_t* nal, int length, uint8_t* planes[3]) override {
    if (!nal || length <= 0 || !planes || !dec_.is_open()) return 0;
    return pic_.deliver(dec_.decode(nal, length), planes);
  }

  void Release() override { delete this; }

 private:
  AvVideoDecoder dec_;
  PaddedPicture pic_;
};

}  // namespace

extern "C" CVDecoder* CreateVDecoder() { return new (std::nothrow) TessraDecoder; }
