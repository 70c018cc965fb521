// A stand-in libOrvoSDK.so for OrvoLib's tests: every SDK_* function notes its name and its
// arguments (as 64-bit words) and returns the result the test set. Built twice: whole, and
// without SDK_PresetRun (FAKE_SDK_GAP) to show that OrvoLib then refuses to load.
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "sdk/OrvoSDK.h"

namespace {
const char* g_name = "";
uint64_t g_args[6];
uint64_t g_result = 0;

template <class T>
uint64_t word(T v) {
  if constexpr (std::is_pointer_v<T>) return uint64_t(reinterpret_cast<uintptr_t>(v));
  else return uint64_t(v);
}
template <class... A>
void note(const char* name, A... a) {
  g_name = name;
  std::memset(g_args, 0, sizeof g_args);
  uint64_t v[] = {word(a)..., 0};
  std::memcpy(g_args, v, sizeof(uint64_t) * sizeof...(A));
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

int SDK_CancelWait(void* handle) {
  note("SDK_CancelWait", handle);
  return int(g_result);
}
int SDK_Close(void* handle) {
  note("SDK_Close", handle);
  return int(g_result);
}
int SDK_Connect(const char* host, const char* user, const char* password, int port,
                int logon_flag, _SDK_DVR_INFO* info) {
  note("SDK_Connect", host, user, password, port, logon_flag, info);
  return int(g_result);
}
int SDK_ControlPTZ(void* handle, int code) {
  note("SDK_ControlPTZ", handle, code);
  return int(g_result);
}
int SDK_ControlPTZAutoPan(void* handle, int code) {
  note("SDK_ControlPTZAutoPan", handle, code);
  return int(g_result);
}
int SDK_ControlPTZAux1(void* handle, int on) {
  note("SDK_ControlPTZAux1", handle, on);
  return int(g_result);
}
int SDK_ControlPTZAux2(void* handle, int on) {
  note("SDK_ControlPTZAux2", handle, on);
  return int(g_result);
}
int SDK_ControlPTZBypass(void* handle, unsigned char* bytes, unsigned char count) {
  note("SDK_ControlPTZBypass", handle, bytes, count);
  return int(g_result);
}
int SDK_ControlPTZCameraPower(void* handle, int on) {
  note("SDK_ControlPTZCameraPower", handle, on);
  return int(g_result);
}
int SDK_ControlPTZFocus(void* handle, int code) {
  note("SDK_ControlPTZFocus", handle, code);
  return int(g_result);
}
int SDK_ControlPTZIris(void* handle, int code) {
  note("SDK_ControlPTZIris", handle, code);
  return int(g_result);
}
int SDK_ControlPTZLight(void* handle, int on) {
  note("SDK_ControlPTZLight", handle, on);
  return int(g_result);
}
int SDK_ControlPTZMenuClose(void* handle) {
  note("SDK_ControlPTZMenuClose", handle);
  return int(g_result);
}
int SDK_ControlPTZMenuOpen(void* handle) {
  note("SDK_ControlPTZMenuOpen", handle);
  return int(g_result);
}
int SDK_ControlPTZMenuSelect(void* handle) {
  note("SDK_ControlPTZMenuSelect", handle);
  return int(g_result);
}
int SDK_ControlPTZPump(void* handle) {
  note("SDK_ControlPTZPump", handle);
  return int(g_result);
}
int SDK_ControlPTZTour(void* handle, int code) {
  note("SDK_ControlPTZTour", handle, code);
  return int(g_result);
}
int SDK_ControlPTZWiper(void* handle) {
  note("SDK_ControlPTZWiper", handle);
  return int(g_result);
}
int SDK_ControlPTZZoom(void* handle, int code) {
  note("SDK_ControlPTZZoom", handle, code);
  return int(g_result);
}
int SDK_Disconnect(int dvr_id) {
  note("SDK_Disconnect", dvr_id);
  return int(g_result);
}
int SDK_FastBackward(void* handle) {
  note("SDK_FastBackward", handle);
  return int(g_result);
}
int SDK_FastForward(void* handle) {
  note("SDK_FastForward", handle);
  return int(g_result);
}
int SDK_GetDVRHealthInfo(int dvr_id, _SDK_DVR_HEALTH_INFO* health) {
  note("SDK_GetDVRHealthInfo", dvr_id, health);
  return int(g_result);
}
int SDK_GetDVRSetup(void* handle, _SDK_DVRSETUP* setup) {
  note("SDK_GetDVRSetup", handle, setup);
  return int(g_result);
}
int SDK_GetDVRSystemInfo(int dvr_id, _SDK_DVR_INFO* info) {
  note("SDK_GetDVRSystemInfo", dvr_id, info);
  return int(g_result);
}
int SDK_GetDayOfMonthlyRecord(int dvr_id, int value, int year, int month, unsigned long* days) {
  note("SDK_GetDayOfMonthlyRecord", dvr_id, value, year, month, days);
  return int(g_result);
}
void SDK_GetLastErrorString(void* handle, char* buf, int size) {
  note("SDK_GetLastErrorString", handle, buf, size);
}
int SDK_GetPacket(void* handle, _SDK_PACKET* packet, _SDK_FRAME_INFO* info) {
  note("SDK_GetPacket", handle, packet, info);
  return int(g_result);
}
int SDK_GetRecordInfo(int dvr_id, int channel, int date, _SDK_REC_TIMETABLE* table) {
  note("SDK_GetRecordInfo", dvr_id, channel, date, table);
  return int(g_result);
}
int SDK_GetRecordInfoAllChannel(int dvr_id, int channel_count, int date,
                                _SDK_REC_TIMETABLE_EX* table) {
  note("SDK_GetRecordInfoAllChannel", dvr_id, channel_count, date, table);
  return int(g_result);
}
int SDK_GetRelayState(void* handle, int* a, int* b) {
  note("SDK_GetRelayState", handle, a, b);
  return int(g_result);
}
unsigned long SDK_GetSearchStatus(int dvr_id, _SDK_DVR_SEARCH_STATUS* status) {
  note("SDK_GetSearchStatus", dvr_id, status);
  return static_cast<unsigned long>(g_result);
}
int SDK_Initialize(SDK_INIT_CALLBACK callback, unsigned short event_port) {
  note("SDK_Initialize", callback, event_port);
  return int(g_result);
}
int SDK_NormalForward(void* handle) {
  note("SDK_NormalForward", handle);
  return int(g_result);
}
void* SDK_Open(int dvr_id, int channel, _SDK_CONN_PARAM* param, SDK_OPEN_CALLBACK callback,
               int channel2, void* user) {
  note("SDK_Open", dvr_id, channel, param, callback, channel2, user);
  return reinterpret_cast<void*>(uintptr_t(g_result));
}
int SDK_PlayGoto(void* handle, unsigned long date, unsigned long time) {
  note("SDK_PlayGoto", handle, date, time);
  return int(g_result);
}
#ifndef FAKE_SDK_GAP
int SDK_PresetRun(void* handle, int preset) {
  note("SDK_PresetRun", handle, preset);
  return int(g_result);
}
#endif
int SDK_PresetSet(void* handle, int preset) {
  note("SDK_PresetSet", handle, preset);
  return int(g_result);
}
int SDK_SetDVRSetup(void* handle, _SDK_DVRSETUP* setup) {
  note("SDK_SetDVRSetup", handle, setup);
  return int(g_result);
}
int SDK_SetDeinterlace(void* handle, int on) {
  note("SDK_SetDeinterlace", handle, on);
  return int(g_result);
}
int SDK_SetPacketParam(void* handle, _SDK_PACKET_PARAM* param) {
  note("SDK_SetPacketParam", handle, param);
  return int(g_result);
}
int SDK_SetRelayState(void* handle, int relay, int on) {
  note("SDK_SetRelayState", handle, relay, on);
  return int(g_result);
}
unsigned long SDK_SetSearchStatus(int dvr_id, int status) {
  note("SDK_SetSearchStatus", dvr_id, status);
  return static_cast<unsigned long>(g_result);
}
int SDK_SetWaitTimeout(void* handle, unsigned long seconds) {
  note("SDK_SetWaitTimeout", handle, seconds);
  return int(g_result);
}
unsigned long SDK_StartRemoteSearch(int dvr_id, int date, int time, char kind, char divide,
                                    int channel) {
  note("SDK_StartRemoteSearch", dvr_id, date, time, kind, divide, channel);
  return static_cast<unsigned long>(g_result);
}
void SDK_Terminate() {
  note("SDK_Terminate");
}
