#include "platform/quellvid/quellvid.h"

#include <memory>

#include "platform/avdec/av_video_decoder.h"

namespace {

struct QuellvidDecoder {
  AvVideoDecoder dec;
  PaddedPicture pic;
};

bool start_code_at(const uint8_t* p, int i, uint8_t lo, uint8_t hi) {
  return p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] >= lo && p[i + 3] <= hi;
}

// Bytes of stream headers (VOS, VO, VOL, ...) in front of the first VOP of the configuration,
// or 0 when it holds no complete VOL header.
int header_length(const uint8_t* config) {
  bool vol = false;
  for (int i = 0; i + 3 < QUELLVID_CONFIG_SIZE; ++i) {
    if (start_code_at(config, i, 0x20, 0x2F)) vol = true;
    if (start_code_at(config, i, 0xB6, 0xB6)) return vol ? i : 0;
  }
  return 0;
}

}  // namespace

void* quellvid::Ex_Initialize(const uint8_t* config, PICTUREINFO* info) {
  auto d = std::make_unique<QuellvidDecoder>();
  PICTUREINFO out = info ? *info : PICTUREINFO{};
  if (!set_up_picture(AV_CODEC_ID_MPEG4, config, QUELLVID_CONFIG_SIZE, &out, true, d->pic))
    return nullptr;
  // Later key frames may come without their VOL header; the configuration's copy serves them.
  const int header = header_length(config);
  if (!d->dec.open(AV_CODEC_ID_MPEG4, false, header ? config : nullptr, header)) return nullptr;
  *info = out;
  return d.release();
}

int quellvid::Ex_Decode(void* handle, const uint8_t* data, int length, uint8_t* planes[3]) {
  auto* d = static_cast<QuellvidDecoder*>(handle);
  if (!d || !data || length <= 0 || !planes) return 0;
  return d->pic.deliver(d->dec.decode(data, length), planes);
}

int quellvid::Ex_ClearBuffer(void* handle) {
  auto* d = static_cast<QuellvidDecoder*>(handle);
  if (!d) return 0;
  d->dec.flush();
  return 1;
}

int quellvid::Ex_Close(void* handle) {
  auto* d = static_cast<QuellvidDecoder*>(handle);
  if (!d) return 0;
  delete d;
  return 1;
}
