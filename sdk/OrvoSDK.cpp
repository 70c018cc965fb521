// The 46 exports: each checks its arguments in its table's order, looks the session or DVR up
// and hands the call to the application object or the session.
#include "sdk/OrvoSDK.h"

#include <cstring>

#include "sdk/OrvoSDKApp.h"

namespace {
COrvoSDKApp& App() { return COrvoSDKApp::Instance(); }
int ZeroOne(int v) { return v ? 1 : 0; }
}  // namespace

int SDK_Initialize(SDK_INIT_CALLBACK callback, unsigned short event_port) {
  if (!callback) return 8;
  return App().Initialize(callback, nullptr, event_port ? event_port : 8003);
}

void SDK_Terminate() { App().Terminate(); }

int SDK_Connect(const char* host, const char* user, const char* password, int port, int logon_flag,
                _SDK_DVR_INFO* info) {
  if (port < 0 || port > 65535 || !host || !user || !password || !info) return -3;
  return App().Connect(host, user, password, port, logon_flag, info);
}

int SDK_Disconnect(int dvr_id) { return App().Disconnect(dvr_id); }

void* SDK_Open(int dvr_id, int channel, _SDK_CONN_PARAM* param, SDK_OPEN_CALLBACK callback,
               int channel2, void* user) {
  if (!param || !callback) return nullptr;
  if (param->cLive < 0 || param->cLive > 1) param->cLive = 1;
  SITE_OPEN_PARAM p{};
  p.nDvrId = dvr_id;
  p.bLiveByte = 1;
  p.bValue0 = param->bValue0;
  p.dwValue2 = param->wValue2;
  p.dwValue8 = param->dwValue8;
  p.dwValue12 = param->dwValue12;
  p.dwPlayDate = param->dwPlayDate;
  p.dwPlayTime = param->dwPlayTime;
  return App().Open(dvr_id, channel, p, callback, channel2, param->cLive, user).get();
}

int SDK_Close(void* handle) { return App().Close(handle); }

int SDK_GetPacket(void* handle, _SDK_PACKET* packet, _SDK_FRAME_INFO* info) {
  auto s = App().FindSite(handle);
  if (!s) return 0;
  if (!packet) return SDK_ERR_ARGUMENT;
  const bool missing = !packet->pBuffer || !packet->pOutput || !info;
  if (missing && (s->OutputFormat() != 0 || packet->pOutput)) return SDK_ERR_ARGUMENT;
  return ZeroOne(s->GetPacket(packet, info));
}

int SDK_SetPacketParam(void* handle, _SDK_PACKET_PARAM* param) {
  if (!param) return SDK_ERR_ARGUMENT;
  auto s = App().FindSite(handle);
  if (!s) return 0;
  s->SetPacketParam(*param);
  return 1;
}

int SDK_SetWaitTimeout(void* handle, unsigned long seconds) {
  auto s = App().FindSite(handle);
  if (!s) return 0;
  const unsigned long cap = 0xFFFFFFFEul / 1000;  // the millisecond value must stay finite
  s->SetWaitTimeout(uint32_t((seconds > cap ? cap : seconds) * 1000));
  return 1;
}

int SDK_CancelWait(void* handle) {
  auto s = App().FindSite(handle);
  if (!s) return 0;
  s->CancelWait();
  return 1;
}

void SDK_GetLastErrorString(void* handle, char* buf, int size) {
  if (!buf || size < 1) return;
  auto s = App().FindSite(handle);
  if (!s) {
    buf[0] = 0;
    return;
  }
  s->GetLastError(buf, size);
}

#define SITE_CALL(expr)              \
  do {                               \
    auto s = App().FindSite(handle); \
    if (!s) return 0;                \
    return ZeroOne(s->expr);         \
  } while (0)

int SDK_ControlPTZ(void* handle, int code) { SITE_CALL(ControlPTZ(code)); }
int SDK_ControlPTZAutoPan(void* handle, int code) { SITE_CALL(ControlPTZ(code)); }
int SDK_ControlPTZTour(void* handle, int code) { SITE_CALL(ControlPTZ(code)); }
int SDK_ControlPTZZoom(void* handle, int code) { SITE_CALL(ControlPTZ(code)); }
int SDK_ControlPTZFocus(void* handle, int code) { SITE_CALL(ControlPTZ(code)); }
int SDK_ControlPTZIris(void* handle, int code) { SITE_CALL(ControlPTZ(code)); }

int SDK_ControlPTZBypass(void* handle, unsigned char* bytes, unsigned char count) {
  auto s = App().FindSite(handle);
  if (!s) return 0;
  if (!bytes && count) return 0;  // nothing to read the bytes from
  return ZeroOne(s->ControlPTZBypass(bytes, count));
}

int SDK_ControlPTZWiper(void* handle) { SITE_CALL(SendPTZFunction(0x1F, 0, 0)); }
int SDK_ControlPTZPump(void* handle) { SITE_CALL(SendPTZFunction(0x20, 0, 0)); }
// The switch value goes in the second value byte, the first staying 0, as for Aux1.
int SDK_ControlPTZCameraPower(void* handle, int on) {
  SITE_CALL(SendPTZFunction(0x23, 0, uint8_t(on)));
}
int SDK_ControlPTZLight(void* handle, int on) { SITE_CALL(SendPTZFunction(0x24, 0, uint8_t(on))); }
int SDK_ControlPTZAux1(void* handle, int on) { SITE_CALL(SendPTZFunction(0x25, 0, uint8_t(on))); }
int SDK_ControlPTZAux2(void* handle, int on) { SITE_CALL(SendPTZFunction(0x25, 1, uint8_t(on))); }
int SDK_ControlPTZMenuOpen(void* handle) { SITE_CALL(SendPTZMenu(0x33)); }
int SDK_ControlPTZMenuSelect(void* handle) { SITE_CALL(SendPTZMenu(0x34)); }
int SDK_ControlPTZMenuClose(void* handle) { SITE_CALL(SendPTZMenu(0x35)); }

int SDK_PresetSet(void* handle, int preset) {
  if (preset < 0 || preset > 255) return 0;
  SITE_CALL(PresetSet(preset));
}

int SDK_PresetRun(void* handle, int preset) {
  if (preset < 0 || preset > 255) return 0;
  SITE_CALL(PresetRun(preset));
}

int SDK_GetDVRSetup(void* handle, _SDK_DVRSETUP* setup) {
  if (!setup) return SDK_ERR_ARGUMENT;
  SITE_CALL(GetDVRSetup(setup));
}

int SDK_SetDVRSetup(void* handle, _SDK_DVRSETUP* setup) {
  if (!setup) return SDK_ERR_ARGUMENT;
  SITE_CALL(SetDVRSetup(setup));
}

int SDK_SetDeinterlace(void* handle, int on) {
  auto s = App().FindSite(handle);
  if (!s) return 0;
  s->SetDeinterlace(on);
  return 1;
}

#define SITE_AS_IS(expr)             \
  do {                               \
    auto s = App().FindSite(handle); \
    if (!s) return 0;                \
    return s->expr;                  \
  } while (0)

int SDK_NormalForward(void* handle) { SITE_AS_IS(NormalForward()); }
int SDK_FastForward(void* handle) { SITE_AS_IS(FastForward()); }
int SDK_FastBackward(void* handle) { SITE_AS_IS(FastBackward()); }
int SDK_PlayGoto(void* handle, unsigned long date, unsigned long time) {
  SITE_AS_IS(PlayGoto(uint32_t(date), uint32_t(time)));
}

int SDK_GetRelayState(void* handle, int* a, int* b) {
  if (!a || !b) return 0;
  SITE_AS_IS(GetRelayState(a, b));
}

int SDK_SetRelayState(void* handle, int relay, int on) {
  relay = relay < 0 ? 0 : relay > 3 ? 3 : relay;
  on = on < 0 ? 0 : on > 1 ? 1 : on;
  SITE_AS_IS(SetRelayState(relay, on));
}

int SDK_GetDVRSystemInfo(int dvr_id, _SDK_DVR_INFO* info) {
  if (!info) return 0;
  return App().GetDVRSystemInfo(dvr_id, info);
}

int SDK_GetDVRHealthInfo(int dvr_id, _SDK_DVR_HEALTH_INFO* health) {
  if (!health) return 0;
  return App().GetDVRHealthInfo(dvr_id, health);
}

int SDK_GetRecordInfo(int dvr_id, int channel, int date, _SDK_REC_TIMETABLE* table) {
  if (!table || dvr_id < 0) return 0;
  return App().GetRecordInfo(dvr_id, channel, date, table);
}

int SDK_GetRecordInfoAllChannel(int dvr_id, int channel_count, int date,
                                _SDK_REC_TIMETABLE_EX* table) {
  if (!table || dvr_id < 0) return 0;
  return App().GetRecordInfoAllChannel(dvr_id, channel_count, date, table);
}

int SDK_GetDayOfMonthlyRecord(int dvr_id, int value, int year, int month, unsigned long* days) {
  if (!days || dvr_id < 0) return 0;
  return App().GetDayOfMonthlyRecord(dvr_id, value, year, month, days);
}

unsigned long SDK_StartRemoteSearch(int dvr_id, int date, int time, char kind, char divide,
                                    int channel) {
  if (date < 19700101 || date > 20380118 || time < 0 || time > 235959 || kind < 0 || kind > 1 ||
      channel < 0 || channel > 15 || (divide != 1 && divide != 4 && divide != 9 && divide != 16))
    return 0;
  return unsigned(App().StartRemoteSearch(dvr_id, date, time, kind, divide, channel));
}

unsigned long SDK_GetSearchStatus(int dvr_id, _SDK_DVR_SEARCH_STATUS* status) {
  if (!status) return 0;
  return unsigned(App().GetSearchStatus(dvr_id, status));
}

unsigned long SDK_SetSearchStatus(int dvr_id, int status) {
  if (status < 0 || status > 7) return 0;
  return unsigned(App().SetSearchStatus(dvr_id, status));
}
