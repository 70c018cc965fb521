// A stand-in libOrvoSDK.so for OrvoLib's tests: every SDK_* function notes its name and its
// arguments (as 64-bit words) and returns the result the test set. Built twice: whole, and
// without SDK_PresetRun (FAKE_SDK_GAP) to show that OrvoLib then refuses to load.
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "sdk/OrvoSDK.h"
#include "tests/forward/call_words.h"

namespace {
const char* g_name = "";
uint64_t g_args[6];
uint64_t g_result = 0;

template <class... A>
void note(const char* name, A... a) {
  g_name = name;
  std::memset(g_args, 0, sizeof g_args);
  uint64_t v[] = {word(a)..., 0};
  std::memcpy(g_args, v, sizeof(uint64_t) * sizeof...(A));
}
// The set result as the function's return type.
template <class R>
R result() {
  if constexpr (std::is_void_v<R>)
    return;
  else if constexpr (std::is_pointer_v<R>)
    return reinterpret_cast<R>(uintptr_t(g_result));
  else
    return static_cast<R>(g_result);
}
}  // namespace

// The test's view of the last call.
extern "C" __attribute__((visibility("default"))) const char* fake_sdk_last(uint64_t* args) {
  std::memcpy(args, g_args, sizeof g_args);
  return g_name;
}
extern "C" __attribute__((visibility("default"))) void fake_sdk_set_result(uint64_t r) {
  g_result = r;
}

// FAKE(return type, name, (parameters), arguments...): notes the call, returns the set result.
#define FAKE(R, name, params, ...)          \
  R name params {                           \
    note(#name __VA_OPT__(, ) __VA_ARGS__); \
    return result<R>();                     \
  }
FAKE(int, SDK_CancelWait, (void* handle), handle)
FAKE(int, SDK_Close, (void* handle), handle)
FAKE(int, SDK_Connect,
     (const char* host, const char* user, const char* password, int port, int logon_flag,
      _SDK_DVR_INFO* info),
     host, user, password, port, logon_flag, info)
FAKE(int, SDK_ControlPTZ, (void* handle, int code), handle, code)
FAKE(int, SDK_ControlPTZAutoPan, (void* handle, int code), handle, code)
FAKE(int, SDK_ControlPTZAux1, (void* handle, int on), handle, on)
FAKE(int, SDK_ControlPTZAux2, (void* handle, int on), handle, on)
FAKE(int, SDK_ControlPTZBypass, (void* handle, unsigned char* bytes, unsigned char count), handle,
     bytes, count)
FAKE(int, SDK_ControlPTZCameraPower, (void* handle, int on), handle, on)
FAKE(int, SDK_ControlPTZFocus, (void* handle, int code), handle, code)
FAKE(int, SDK_ControlPTZIris, (void* handle, int code), handle, code)
FAKE(int, SDK_ControlPTZLight, (void* handle, int on), handle, on)
FAKE(int, SDK_ControlPTZMenuClose, (void* handle), handle)
FAKE(int, SDK_ControlPTZMenuOpen, (void* handle), handle)
FAKE(int, SDK_ControlPTZMenuSelect, (void* handle), handle)
FAKE(int, SDK_ControlPTZPump, (void* handle), handle)
FAKE(int, SDK_ControlPTZTour, (void* handle, int code), handle, code)
FAKE(int, SDK_ControlPTZWiper, (void* handle), handle)
FAKE(int, SDK_ControlPTZZoom, (void* handle, int code), handle, code)
FAKE(int, SDK_Disconnect, (int dvr_id), dvr_id)
FAKE(int, SDK_FastBackward, (void* handle), handle)
FAKE(int, SDK_FastForward, (void* handle), handle)
FAKE(int, SDK_GetDVRHealthInfo, (int dvr_id, _SDK_DVR_HEALTH_INFO* health), dvr_id, health)
FAKE(int, SDK_GetDVRSetup, (void* handle, _SDK_DVRSETUP* setup), handle, setup)
FAKE(int, SDK_GetDVRSystemInfo, (int dvr_id, _SDK_DVR_INFO* info), dvr_id, info)
FAKE(int, SDK_GetDayOfMonthlyRecord,
     (int dvr_id, int value, int year, int month, unsigned long* days), dvr_id, value, year, month,
     days)
FAKE(void, SDK_GetLastErrorString, (void* handle, char* buf, int size), handle, buf, size)
FAKE(int, SDK_GetPacket, (void* handle, _SDK_PACKET* packet, _SDK_FRAME_INFO* info), handle, packet,
     info)
FAKE(int, SDK_GetRecordInfo, (int dvr_id, int channel, int date, _SDK_REC_TIMETABLE* table), dvr_id,
     channel, date, table)
FAKE(int, SDK_GetRecordInfoAllChannel,
     (int dvr_id, int channel_count, int date, _SDK_REC_TIMETABLE_EX* table), dvr_id, channel_count,
     date, table)
FAKE(int, SDK_GetRelayState, (void* handle, int* a, int* b), handle, a, b)
FAKE(unsigned long, SDK_GetSearchStatus, (int dvr_id, _SDK_DVR_SEARCH_STATUS* status), dvr_id,
     status)
FAKE(int, SDK_Initialize, (SDK_INIT_CALLBACK callback, unsigned short event_port), callback,
     event_port)
FAKE(int, SDK_NormalForward, (void* handle), handle)
FAKE(void*, SDK_Open,
     (int dvr_id, int channel, _SDK_CONN_PARAM* param, SDK_OPEN_CALLBACK callback, int channel2,
      void* user),
     dvr_id, channel, param, callback, channel2, user)
FAKE(int, SDK_PlayGoto, (void* handle, unsigned long date, unsigned long time), handle, date, time)
#ifndef FAKE_SDK_GAP
FAKE(int, SDK_PresetRun, (void* handle, int preset), handle, preset)
#endif
FAKE(int, SDK_PresetSet, (void* handle, int preset), handle, preset)
FAKE(int, SDK_SetDVRSetup, (void* handle, _SDK_DVRSETUP* setup), handle, setup)
FAKE(int, SDK_SetDeinterlace, (void* handle, int on), handle, on)
FAKE(int, SDK_SetPacketParam, (void* handle, _SDK_PACKET_PARAM* param), handle, param)
FAKE(int, SDK_SetRelayState, (void* handle, int relay, int on), handle, relay, on)
FAKE(unsigned long, SDK_SetSearchStatus, (int dvr_id, int status), dvr_id, status)
FAKE(int, SDK_SetWaitTimeout, (void* handle, unsigned long seconds), handle, seconds)
FAKE(unsigned long, SDK_StartRemoteSearch,
     (int dvr_id, int date, int time, char kind, char divide, int channel), dvr_id, date, time,
     kind, divide, channel)
FAKE(void, SDK_Terminate, ())
