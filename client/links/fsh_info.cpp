#include "client/links/fsh_info.h"

int fsh_resolution(int layout, int code, int family, bool tall, uint16_t* width, uint16_t* height) {
  const uint16_t full = tall ? 576 : 480;
  const uint16_t half = tall ? 288 : 240;
  if (family > 2) return -1;
  if (layout == 1 && family == 1) code = 14;
  uint16_t w = 0, h = 0;
  switch (code) {
    case 0:
      if (family == 0) {
        w = 720;
        h = half;
      } else if (family == 2) {
        w = 720;
        h = full;
      } else
        return -1;
      break;
    case 1:
      w = 1920;
      h = 1080;
      break;
    case 2:
      w = 1280;
      h = 1024;
      break;
    case 4:
      w = 720;
      h = full;
      break;
    case 5:
      w = 720;
      h = half;
      break;
    case 6:
      w = 352;
      h = half;
      break;
    case 7:
      w = 176;
      h = 144;
      break;
    case 8:
      w = 640;
      h = 480;
      break;
    case 9:
      w = 320;
      h = 240;
      break;
    case 10:
      w = 160;
      h = 120;
      break;
    case 14:
      w = 720;
      h = full;
      break;
    default: return -1;  // 3, 11..13 and anything above
  }
  *width = w;
  *height = h;
  return 0;
}

namespace {
int family_of_code(int code) {
  switch (code) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 8: return 2;
    case 5:
    case 9: return 0;
    default: return 1;
  }
}
}  // namespace

int get_fsh_info(const uint8_t* p, size_t len, int* status, int layout, FRAME_HEADER* fh,
                 AUDIO_FRAME_HEADER* audio) {
  if (!p || !fh || layout < 0 || layout > 3) return 0;
  if (len < size_t(fsh_size_of_layout(layout))) return 0;
  if (!(p[0] == 0xFF && p[1] == 0x01 && p[2] == 0x00 && p[3] == 0x00)) return 0;
  int st = 1;
  uint32_t size;
  if (layout <= 1) {
    int code = p[4] & 0x1F;
    int family = (p[4] >> 6) & 3;
    bool tall = (p[16] & 0x40) != 0;
    size = get_le24(p + 17);
    fh->size = size;
    fh->channel = p[20] & 3;
    fh->frame_type = (p[16] & 0x80) ? 1 : 0;
    if (layout == 1 && family == 1) code = 14;
    fh->kind = uint8_t(code);
    fh->width = fh->height = 0;
    fsh_resolution(layout, code, family, tall, &fh->width, &fh->height);
    fh->dim_high = (p[16] & 0x20) ? 1 : 0;
    fh->sec = get_le32(p + 8);
    if (layout == 0 && size != 0 && (p[16] & 0x20)) fh->seq_cnt = p[13];
    if (audio) audio->samples = 0;
  } else {
    int code = p[9] & 0x0F;
    bool tall = (p[18] & 0x80) != 0;
    size = get_le24(p + 20) & 0xFFFFFu;  // 20 bits
    fh->size = size;
    fh->channel = p[8] & 0x0F;
    fh->frame_type = p[28] & 3;
    fh->byte3 = (p[28] >> 2) & 0x1F;  // carried value, kept in a byte the decoders ignore
    fh->kind = uint8_t(code);
    fh->width = fh->height = 0;
    fsh_resolution(layout, code, family_of_code(code), tall, &fh->width, &fh->height);
    fh->dim_high = (p[18] >> 5) & 3;
    fh->sec = get_le32(p + 12);
    if (size != 0) fh->seq_cnt = layout == 2 ? (p[7] & 0x3F) : p[7];
    if (layout == 3) fh->msec = get_le16(p + 26);
    if (audio) {
      audio->samples = 0;
      if (layout == 3) {
        bool present = p[23] != 0 || p[22] >= 16;
        int ch = 0;
        for (int b = 0; b < 4; ++b)
          if (p[24] & (1 << b)) {
            ch = b;
            break;
          }
        audio->samples = present ? uint16_t(AUDIO_PAYLOAD_SLOT) : 0;
        audio->channel = uint16_t(ch);
        audio->word8 = 1;
        audio->rate = 8000;
        put_le32(audio->raw + 12, 0);
        audio->sec = fh->sec;
        audio->msec = fh->msec;
      }
    }
  }
  int result = 1 << layout;  // 1, 2, 4, 8
  if (size == 0) {
    st = 2;
    if (layout != 1) result = FSH_NO_VIDEO;
  }
  if (status) *status = st;
  return result;
}
