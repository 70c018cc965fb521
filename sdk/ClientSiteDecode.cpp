// CClientSite's video decoding on the GetPacket caller's thread: starting and closing the
// MPEG-4 (Quellvid) or H.264 (Tessra, one decoder a field of a tall picture) decoder, decoding a
// frame into the session's I420 picture and writing it out in the format asked for.
#include <algorithm>
#include <cstring>

#include "platform/debug/debug_output.h"
#include "platform/quellvid/quellvid.h"
#include "platform/tessra/tessra.h"
#include "platform/wire/byte_reader.h"
#include "sdk/ClientSite.h"

namespace {
constexpr int kMaxSide = 8192;
}  // namespace

// ---------------------------------------------------------------------------------------
// Decoding (all under m_decoderLock).

void CClientSite::CloseVideoDecoder() {
  if (m_hMpeg4) quellvid::Ex_Close(m_hMpeg4);
  m_hMpeg4 = nullptr;
  for (CVDecoder*& d : m_pH264) {
    if (d) d->Release();
    d = nullptr;
  }
  m_config.clear();
}

int CClientSite::StartVideoDecoder(const uint8_t* config, size_t length) {
  CloseVideoDecoder();
  uint8_t cfg[128] = {};
  std::memcpy(cfg, config, std::min(length, sizeof cfg));
  int w, h;
  {
    std::lock_guard<std::mutex> lk(m_listLock);
    w = m_nStreamWidth;
    h = m_nStreamHeight;
  }
  int out_w = 0, out_h = 0;
  if (get_be32(cfg) == 1) {
    const bool tall = h > 479;
    for (int i = 0; i < (tall ? 2 : 1); ++i) {
      PICTUREINFO pi{};
      pi.size = PICTUREINFO_SIZE;
      pi.width = w;
      pi.height = tall ? h / 2 : h;
      m_pH264[i] = CreateVDecoder();
      if (!m_pH264[i] || !m_pH264[i]->Initialize(cfg, &pi)) {
        CloseVideoDecoder();
        SetError("video decoder failure");
        return 0;
      }
      out_w = pi.width;
      out_h = tall ? pi.height * 2 : pi.height;
    }
  } else {
    PICTUREINFO pi{};
    pi.size = PICTUREINFO_SIZE;
    pi.width = w;
    pi.height = h;
    m_hMpeg4 = quellvid::Ex_Initialize(cfg, &pi);
    if (!m_hMpeg4) {
      SetError("video decoder failure");
      return 0;
    }
    out_w = pi.width;
    out_h = pi.height;
  }
  // Every buffer below is sized from the picture; a picture they cannot hold is refused.
  if (out_w < 2 || out_h < 2 || out_w > kMaxSide || out_h > kMaxSide || (out_w | out_h) & 1) {
    CloseVideoDecoder();
    SetError("picture size not supported");
    return 0;
  }
  if (out_w != m_nWidth || out_h != m_nHeight || m_picture.empty()) {
    m_nWidth = out_w;
    m_nHeight = out_h;
    m_picture.assign(size_t(out_w) * out_h * 3 / 2, 0);
    m_deinterlaced.clear();
    m_converter.AllocateBuffers(out_w, out_h, false);
  }
  m_config.assign(cfg, cfg + sizeof cfg);
  debug_outputf("[SDK TRACE]-Start Video Decocer(%d) \n", int(m_nChannel));
  return 1;
}

void CClientSite::CopyPlanes(uint8_t* const planes[3], int rows, int row_step, int first_row,
                             bool h264) {
  const int w = m_nWidth, cw = w / 2;
  const int stride = w + 32;
  const int cstride = h264 ? (w + 32) / 2 : w + 32;
  uint8_t* y = m_picture.data();
  uint8_t* u = y + size_t(w) * m_nHeight;
  uint8_t* v = u + size_t(cw) * (m_nHeight / 2);
  for (int r = 0; r < rows; ++r)
    std::memcpy(y + size_t(first_row + r * row_step) * w, planes[0] + size_t(r) * stride,
                size_t(w));
  for (int r = 0; r < rows / 2; ++r) {
    const size_t dst = size_t(first_row + r * row_step) * cw;
    std::memcpy(u + dst, planes[1] + size_t(r) * cstride, size_t(cw));
    std::memcpy(v + dst, planes[2] + size_t(r) * cstride, size_t(cw));
  }
}

bool CClientSite::DecodeH264(CVDecoder* dec, const std::vector<uint8_t>& frame,
                             uint8_t* planes[3]) {
  const size_t work = size_t(m_nWidth) * m_nHeight * 3 / 2;
  const uint8_t* p = frame.data();
  const size_t n = frame.size();
  auto start_code = [&](size_t i) -> size_t {  // length of a start code at i, or 0
    if (i + 3 <= n && p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) return 3;
    if (i + 4 <= n && p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 0 && p[i + 3] == 1) return 4;
    return 0;
  };
  if (!start_code(0)) debug_output("ERROR: no Start Code at the begin of the NALU\n");
  bool got = false;
  size_t i = 0;
  while (i < n) {
    size_t j = i + std::max<size_t>(start_code(i), 1);
    while (j < n && !start_code(j)) ++j;
    const size_t len = j - i;
    if (len <= work) {  // a unit larger than the work buffer is refused
      m_work.assign(p + i, p + j);
      uint8_t* out[3] = {};
      if (dec->DecodeNAL(m_work.data(), int(len), out) == 1) {
        planes[0] = out[0];
        planes[1] = out[1];
        planes[2] = out[2];
        got = true;
      }
    }
    i = j;
  }
  return got;
}

bool CClientSite::DecodeVideo(const FrameItem& first, const FrameItem* second) {
  const bool h264_frame = first.data.size() >= 4 && get_be32(first.data.data()) == 1;
  const bool have_decoder = h264_frame ? m_pH264[0] != nullptr : m_hMpeg4 != nullptr;
  if (!have_decoder) {
    if (!first.key) return false;
    if (!StartVideoDecoder(first.data.data(), first.data.size())) return false;
  }
  uint8_t* planes[3] = {};
  if (m_pH264[0]) {
    const bool tall = m_pH264[1] != nullptr;
    if (!DecodeH264(m_pH264[0], first.data, planes)) return false;
    if (!tall) {
      CopyPlanes(planes, m_nHeight, 1, 0, true);
    } else {
      CopyPlanes(planes, m_nHeight / 2, 2, 0, true);  // the first field: even rows
      uint8_t* planes2[3] = {};
      if (second && DecodeH264(m_pH264[1], second->data, planes2))
        CopyPlanes(planes2, m_nHeight / 2, 2, 1, true);
      else
        CopyPlanes(planes, m_nHeight / 2, 2, 1, true);  // no second field: line doubling
    }
  } else {
    if (quellvid::Ex_Decode(m_hMpeg4, first.data.data(), int(first.data.size()), planes) != 1)
      return false;
    CopyPlanes(planes, m_nHeight, 1, 0, false);
  }
  return true;
}

int CClientSite::WriteOutput(_SDK_PACKET* packet) {
  const int w = m_nWidth, h = m_nHeight;
  const size_t ysize = size_t(w) * h, csize = ysize / 4;
  const uint8_t* pic = m_picture.data();
  if (h > 479 && m_nDeinterlace) {
    m_deinterlaced.resize(m_picture.size());
    PLANAR_SRC src{pic, pic + ysize, pic + ysize + csize, w, w / 2};
    PLANAR_DST dst{m_deinterlaced.data(), m_deinterlaced.data() + ysize,
                   m_deinterlaced.data() + ysize + csize, w, w / 2};
    if (m_converter.Deinterlace(w, h, src, dst, 0)) pic = m_deinterlaced.data();
  }
  PLANAR_SRC src{pic, pic + ysize, pic + ysize + csize, w, w / 2};
  switch (m_nOutput) {
    case SDK_OUTPUT_I420:
      std::memcpy(packet->pOutput, pic, ysize + 2 * csize);
      packet->dwOutLength = uint32_t(ysize + 2 * csize);
      return 1;
    case SDK_OUTPUT_BGR24:
      if (!m_converter.I420ToBGR24(src, w, h)) break;
      std::memcpy(packet->pOutput, m_converter.GetBuffer1(), ysize * 3);
      packet->dwOutLength = uint32_t(ysize * 3);
      return 1;
    case SDK_OUTPUT_BGR24_VIDEO: {
      // Chroma rows doubled: the 4:2:2 input of the video-range conversion.
      m_packed422.resize(ysize);
      uint8_t* u = m_packed422.data();
      uint8_t* v = u + ysize / 2;
      for (int r = 0; r < h; ++r) {
        std::memcpy(u + size_t(r) * (w / 2), src.u + size_t(r / 2) * (w / 2), size_t(w / 2));
        std::memcpy(v + size_t(r) * (w / 2), src.v + size_t(r / 2) * (w / 2), size_t(w / 2));
      }
      PLANAR_SRC s422{pic, u, v, w, w / 2};
      if (!m_converter.YUV422ToBGR24(s422, w, h)) break;
      std::memcpy(packet->pOutput, m_converter.GetBuffer1(), ysize * 3);
      packet->dwOutLength = uint32_t(ysize * 3);
      return 1;
    }
    default: packet->dwOutLength = 0; return 1;
  }
  SetError("picture conversion failure");
  return 0;
}
