// libFuzzer target: a session's frame list fed as its data connection feeds it (stream objects
// and frames of its channel, split frames among them) and drained by GetPacket as an
// application does, without decoding. The input is a list of records: an operation byte, a
// 16-bit length, then that many bytes. At most 256 records an input.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/quellaud/quellaud.h"
#include "platform/quellvid/quellvid.h"
#include "platform/tessra/tessra.h"
#include "sdk/ClientSite.h"
#include "sdk/OrvoSDKApp.h"

// The outside decoders are not reached without decoding; these stand in at link time.
namespace quellvid {
void* Ex_Initialize(const uint8_t*, PICTUREINFO*) { return nullptr; }
int Ex_Decode(void*, const uint8_t*, int, uint8_t* [3]) { return 0; }
int Ex_ClearBuffer(void*) { return 0; }
int Ex_Close(void*) { return 0; }
}  // namespace quellvid
namespace quellaud {
int Ex_Initialize(AUDIO_DEC_INIT_PARAM*) { return 0; }
int Ex_Decode(AUDIO_DEC_PARAM*, AUDIO_DEC_FRAME_INFO*) { return 0; }
int Ex_ClearBuf(AUDIO_DEC_PARAM*) { return 0; }
}  // namespace quellaud
extern "C" CVDecoder* CreateVDecoder() { return nullptr; }

namespace {
// A tall picture's second field is waited for up to 20 s; a watchdog ends such a wait (as
// SDK_CancelWait would) so an input costs milliseconds.
std::mutex g_lock;
std::condition_variable g_cv;
CClientSite* g_inside = nullptr;
std::chrono::steady_clock::time_point g_since;

void Watchdog() {
  std::unique_lock<std::mutex> lk(g_lock);
  for (;;) {
    g_cv.wait_for(lk, std::chrono::milliseconds(2));
    if (g_inside && std::chrono::steady_clock::now() - g_since > std::chrono::milliseconds(5))
      g_inside->CancelWait();
  }
}

int Drain(CClientSite& s, _SDK_PACKET* pk, int most) {
  _SDK_FRAME_INFO fi;
  int got = 0;
  for (; got < most && s.QueuedFrames() > 0; ++got) {
    {
      std::lock_guard<std::mutex> lk(g_lock);
      g_inside = &s;
      g_since = std::chrono::steady_clock::now();
    }
    const int r = s.GetPacket(pk, &fi);
    {
      std::lock_guard<std::mutex> lk(g_lock);
      g_inside = nullptr;
    }
    if (r != 1) break;
    if (pk->dwLength > SDK_FIRST_BUFFER_SIZE || pk->dwLength2 > SDK_SECOND_BUFFER_SIZE)
      __builtin_trap();
  }
  return got;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static COrvoSDKApp app;
  static const bool watching = [] {
    std::thread(Watchdog).detach();
    return true;
  }();
  (void)watching;
  static std::vector<uint8_t> first(SDK_FIRST_BUFFER_SIZE), second(SDK_SECOND_BUFFER_SIZE);
  if (size < 1) return 0;
  CClientSite s(&app);
  s.SetWaitTimeout(1);
  _SDK_PACKET_PARAM param{uint8_t(data[0] & 1), 0, 0};
  s.SetPacketParam(param);
  _SDK_PACKET pk{};
  pk.pBuffer = first.data();
  pk.pBuffer2 = second.data();
  size_t at = 1;
  for (int records = 0; records < 256 && at + 3 <= size; ++records) {
    const uint8_t op = data[at];
    const size_t n = std::min<size_t>(size_t(data[at + 1]) << 8 | data[at + 2], size - at - 3);
    const uint8_t* body = data + at + 3;
    at += 3 + n;
    switch (op % 4) {
      case 0:
      case 1:
        // A packet of the data connection: the channel byte (0, the session's, or another),
        // then the object. Copied to a buffer of exactly its size, so overreads are caught.
        {
          std::unique_ptr<uint8_t[]> packet(new uint8_t[n + 1]);
          packet[0] = op & 0x80 ? 1 : 0;
          if (n) std::memcpy(packet.get() + 1, body, n);
          s.OnPacket(op % 4 == 0 ? DSF_STREAM_FRAME : DSF_STREAM_OBJECT, packet.get(), int(n + 1));
          break;
        }
      case 2: Drain(s, &pk, 1 + (op >> 2)); break;
      default:
        pk.pBuffer = op & 0x40 ? nullptr : first.data();
        pk.pBuffer2 = op & 0x80 ? nullptr : second.data();
        break;
    }
  }
  pk.pBuffer = first.data();
  Drain(s, &pk, 1 << 20);
  return 0;
}
