// libFuzzer target: the CMS reply readers on arbitrary packets, and the copies into the
// exported records; the first byte picks the reader.
#include <cstdint>
#include <cstring>
#include <memory>

#include "sdk/CMS/SocketCMS.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t n = size - 1;
  std::unique_ptr<uint8_t[]> pkt(new uint8_t[n ? n : 1]);
  if (n) std::memcpy(pkt.get(), data + 1, n);
  switch (data[0] % 5) {
    case 0: {
      CMS_SYSTEM_INFO info;
      if (CCMSPacket::ReadSystemInfo(pkt.get(), n, &info)) {
        _SDK_DVR_INFO out;
        CMSCopyDvrInfo(info, &out);
      }
      break;
    }
    case 1: {
      CMS_HEALTH_INFO h;
      if (CCMSPacket::ReadHealthInfo(pkt.get(), n, &h)) {
        _SDK_DVR_HEALTH_INFO out;
        CMSCopyHealthInfo(h, &out);
      }
      break;
    }
    case 2: {
      CMS_SEARCH_STATUS s;
      if (CCMSPacket::ReadSearchStatus(pkt.get(), n, &s)) {
        _SDK_DVR_SEARCH_STATUS out;
        CMSCopySearchStatus(s, &out);
      }
      break;
    }
    case 3: {
      CMS_INFO_A0070002 a;
      CCMSPacket::ReadInfoA0070002(pkt.get(), n, &a);
      break;
    }
    default: {
      CMS_INFO_A0070003 b;
      CCMSPacket::ReadInfoA0070003(pkt.get(), n, &b);
      break;
    }
  }
  return 0;
}
