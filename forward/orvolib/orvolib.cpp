#include "forward/orvolib/orvolib.h"

// Each export is one call in tail position: built with optimisation it is a single jump to
// the SDK function with the caller's arguments still in place.

extern "C" {
int ORVOSDK_CancelWait(void* handle) { return SDK_CancelWait(handle); }
int ORVOSDK_Close(void* handle) { return SDK_Close(handle); }
int ORVOSDK_Connect(const char* host, const char* user, const char* password, int port,
                    int logon_flag, _SDK_DVR_INFO* info) {
  return SDK_Connect(host, user, password, port, logon_flag, info);
}
int ORVOSDK_ControlPTZ(void* handle, int code) { return SDK_ControlPTZ(handle, code); }
int ORVOSDK_ControlPTZAutoPan(void* handle, int code) {
  return SDK_ControlPTZAutoPan(handle, code);
}
int ORVOSDK_ControlPTZAux1(void* handle, int on) { return SDK_ControlPTZAux1(handle, on); }
int ORVOSDK_ControlPTZAux2(void* handle, int on) { return SDK_ControlPTZAux2(handle, on); }
int ORVOSDK_ControlPTZBypass(void* handle, unsigned char* bytes, unsigned char count) {
  return SDK_ControlPTZBypass(handle, bytes, count);
}
int ORVOSDK_ControlPTZCameraPower(void* handle, int on) {
  return SDK_ControlPTZCameraPower(handle, on);
}
int ORVOSDK_ControlPTZFocus(void* handle, int code) { return SDK_ControlPTZFocus(handle, code); }
int ORVOSDK_ControlPTZIris(void* handle, int code) { return SDK_ControlPTZIris(handle, code); }
int ORVOSDK_ControlPTZLight(void* handle, int on) { return SDK_ControlPTZLight(handle, on); }
int ORVOSDK_ControlPTZMenuClose(void* handle) { return SDK_ControlPTZMenuClose(handle); }
int ORVOSDK_ControlPTZMenuOpen(void* handle) { return SDK_ControlPTZMenuOpen(handle); }
int ORVOSDK_ControlPTZMenuSelect(void* handle) { return SDK_ControlPTZMenuSelect(handle); }
int ORVOSDK_ControlPTZPump(void* handle) { return SDK_ControlPTZPump(handle); }
int ORVOSDK_ControlPTZTour(void* handle, int code) { return SDK_ControlPTZTour(handle, code); }
int ORVOSDK_ControlPTZWiper(void* handle) { return SDK_ControlPTZWiper(handle); }
int ORVOSDK_ControlPTZZoom(void* handle, int code) { return SDK_ControlPTZZoom(handle, code); }
int ORVOSDK_Disconnect(int dvr_id) { return SDK_Disconnect(dvr_id); }
int ORVOSDK_FastBackward(void* handle) { return SDK_FastBackward(handle); }
int ORVOSDK_FastForward(void* handle) { return SDK_FastForward(handle); }
int ORVOSDK_GetDVRHealthInfo(int dvr_id, _SDK_DVR_HEALTH_INFO* health) {
  return SDK_GetDVRHealthInfo(dvr_id, health);
}
int ORVOSDK_GetDVRSetup(void* handle, _SDK_DVRSETUP* setup) {
  return SDK_GetDVRSetup(handle, setup);
}
int ORVOSDK_GetDVRSystemInfo(int dvr_id, _SDK_DVR_INFO* info) {
  return SDK_GetDVRSystemInfo(dvr_id, info);
}
int ORVOSDK_GetDayOfMonthlyRecord(int dvr_id, int value, int year, int month, unsigned long* days) {
  return SDK_GetDayOfMonthlyRecord(dvr_id, value, year, month, days);
}
void ORVOSDK_GetLastErrorString(void* handle, char* buf, int size) {
  SDK_GetLastErrorString(handle, buf, size);
}
int ORVOSDK_GetPacket(void* handle, _SDK_PACKET* packet, _SDK_FRAME_INFO* info) {
  return SDK_GetPacket(handle, packet, info);
}
int ORVOSDK_GetRecordInfo(int dvr_id, int channel, int date, _SDK_REC_TIMETABLE* table) {
  return SDK_GetRecordInfo(dvr_id, channel, date, table);
}
int ORVOSDK_GetRecordInfoAllChannel(int dvr_id, int channel_count, int date,
                                    _SDK_REC_TIMETABLE_EX* table) {
  return SDK_GetRecordInfoAllChannel(dvr_id, channel_count, date, table);
}
int ORVOSDK_GetRelayState(void* handle, int* a, int* b) { return SDK_GetRelayState(handle, a, b); }
unsigned long ORVOSDK_GetSearchStatus(int dvr_id, _SDK_DVR_SEARCH_STATUS* status) {
  return SDK_GetSearchStatus(dvr_id, status);
}
int ORVOSDK_Initialize(SDK_INIT_CALLBACK callback, unsigned short event_port) {
  return SDK_Initialize(callback, event_port);
}
int ORVOSDK_NormalForward(void* handle) { return SDK_NormalForward(handle); }
void* ORVOSDK_Open(int dvr_id, int channel, _SDK_CONN_PARAM* param, SDK_OPEN_CALLBACK callback,
                   int channel2, void* user) {
  return SDK_Open(dvr_id, channel, param, callback, channel2, user);
}
int ORVOSDK_PlayGoto(void* handle, unsigned long date, unsigned long time) {
  return SDK_PlayGoto(handle, date, time);
}
int ORVOSDK_PresetRun(void* handle, int preset) { return SDK_PresetRun(handle, preset); }
int ORVOSDK_PresetSet(void* handle, int preset) { return SDK_PresetSet(handle, preset); }
int ORVOSDK_SetDVRSetup(void* handle, _SDK_DVRSETUP* setup) {
  return SDK_SetDVRSetup(handle, setup);
}
int ORVOSDK_SetDeinterlace(void* handle, int on) { return SDK_SetDeinterlace(handle, on); }
int ORVOSDK_SetPacketParam(void* handle, _SDK_PACKET_PARAM* param) {
  return SDK_SetPacketParam(handle, param);
}
int ORVOSDK_SetRelayState(void* handle, int relay, int on) {
  return SDK_SetRelayState(handle, relay, on);
}
unsigned long ORVOSDK_SetSearchStatus(int dvr_id, int status) {
  return SDK_SetSearchStatus(dvr_id, status);
}
int ORVOSDK_SetWaitTimeout(void* handle, unsigned long seconds) {
  return SDK_SetWaitTimeout(handle, seconds);
}
unsigned long ORVOSDK_StartRemoteSearch(int dvr_id, int date, int time, char kind, char divide,
                                        int channel) {
  return SDK_StartRemoteSearch(dvr_id, date, time, kind, divide, channel);
}
void ORVOSDK_Terminate() { SDK_Terminate(); }
}
