// OrvoLib: the SDK's 46 operations under plain C names. Each ORVOSDK_<op> passes its
// arguments unchanged to SDK_<op> of libOrvoSDK.so and returns its result unchanged; nothing
// is checked, copied or kept here, no thread or lock is added, and every call runs on the
// caller's thread. What each one does, returns and how it fails is SDK_<op>'s (sdk/OrvoSDK.h).
//
// Binding: the library imports all 46 SDK_* functions at load time with immediate binding,
// so a libOrvoSDK.so that lacks one of them makes loading fail (and a program linked against
// OrvoLib does not start). It exports exactly these 46 names.
#pragma once

#include "sdk/OrvoSDK.h"

#define ORVOLIB_API __attribute__((visibility("default")))

extern "C" {
ORVOLIB_API int ORVOSDK_CancelWait(void* handle);
ORVOLIB_API int ORVOSDK_Close(void* handle);
ORVOLIB_API int ORVOSDK_Connect(const char* host, const char* user, const char* password, int port,
                                int logon_flag, _SDK_DVR_INFO* info);
ORVOLIB_API int ORVOSDK_ControlPTZ(void* handle, int code);
ORVOLIB_API int ORVOSDK_ControlPTZAutoPan(void* handle, int code);
ORVOLIB_API int ORVOSDK_ControlPTZAux1(void* handle, int on);
ORVOLIB_API int ORVOSDK_ControlPTZAux2(void* handle, int on);
ORVOLIB_API int ORVOSDK_ControlPTZBypass(void* handle, unsigned char* bytes, unsigned char count);
ORVOLIB_API int ORVOSDK_ControlPTZCameraPower(void* handle, int on);
ORVOLIB_API int ORVOSDK_ControlPTZFocus(void* handle, int code);
ORVOLIB_API int ORVOSDK_ControlPTZIris(void* handle, int code);
ORVOLIB_API int ORVOSDK_ControlPTZLight(void* handle, int on);
ORVOLIB_API int ORVOSDK_ControlPTZMenuClose(void* handle);
ORVOLIB_API int ORVOSDK_ControlPTZMenuOpen(void* handle);
ORVOLIB_API int ORVOSDK_ControlPTZMenuSelect(void* handle);
ORVOLIB_API int ORVOSDK_ControlPTZPump(void* handle);
ORVOLIB_API int ORVOSDK_ControlPTZTour(void* handle, int code);
ORVOLIB_API int ORVOSDK_ControlPTZWiper(void* handle);
ORVOLIB_API int ORVOSDK_ControlPTZZoom(void* handle, int code);
ORVOLIB_API int ORVOSDK_Disconnect(int dvr_id);
ORVOLIB_API int ORVOSDK_FastBackward(void* handle);
ORVOLIB_API int ORVOSDK_FastForward(void* handle);
ORVOLIB_API int ORVOSDK_GetDVRHealthInfo(int dvr_id, _SDK_DVR_HEALTH_INFO* health);
ORVOLIB_API int ORVOSDK_GetDVRSetup(void* handle, _SDK_DVRSETUP* setup);
ORVOLIB_API int ORVOSDK_GetDVRSystemInfo(int dvr_id, _SDK_DVR_INFO* info);
ORVOLIB_API int ORVOSDK_GetDayOfMonthlyRecord(int dvr_id, int value, int year, int month,
                                              unsigned long* days);
ORVOLIB_API void ORVOSDK_GetLastErrorString(void* handle, char* buf, int size);
ORVOLIB_API int ORVOSDK_GetPacket(void* handle, _SDK_PACKET* packet, _SDK_FRAME_INFO* info);
ORVOLIB_API int ORVOSDK_GetRecordInfo(int dvr_id, int channel, int date, _SDK_REC_TIMETABLE* table);
ORVOLIB_API int ORVOSDK_GetRecordInfoAllChannel(int dvr_id, int channel_count, int date,
                                                _SDK_REC_TIMETABLE_EX* table);
ORVOLIB_API int ORVOSDK_GetRelayState(void* handle, int* a, int* b);
ORVOLIB_API unsigned long ORVOSDK_GetSearchStatus(int dvr_id, _SDK_DVR_SEARCH_STATUS* status);
ORVOLIB_API int ORVOSDK_Initialize(SDK_INIT_CALLBACK callback, unsigned short event_port);
ORVOLIB_API int ORVOSDK_NormalForward(void* handle);
ORVOLIB_API void* ORVOSDK_Open(int dvr_id, int channel, _SDK_CONN_PARAM* param,
                               SDK_OPEN_CALLBACK callback, int channel2, void* user);
ORVOLIB_API int ORVOSDK_PlayGoto(void* handle, unsigned long date, unsigned long time);
ORVOLIB_API int ORVOSDK_PresetRun(void* handle, int preset);
ORVOLIB_API int ORVOSDK_PresetSet(void* handle, int preset);
ORVOLIB_API int ORVOSDK_SetDVRSetup(void* handle, _SDK_DVRSETUP* setup);
ORVOLIB_API int ORVOSDK_SetDeinterlace(void* handle, int on);
ORVOLIB_API int ORVOSDK_SetPacketParam(void* handle, _SDK_PACKET_PARAM* param);
ORVOLIB_API int ORVOSDK_SetRelayState(void* handle, int relay, int on);
ORVOLIB_API unsigned long ORVOSDK_SetSearchStatus(int dvr_id, int status);
ORVOLIB_API int ORVOSDK_SetWaitTimeout(void* handle, unsigned long seconds);
ORVOLIB_API unsigned long ORVOSDK_StartRemoteSearch(int dvr_id, int date, int time, char kind,
                                                    char divide, int channel);
ORVOLIB_API void ORVOSDK_Terminate();
}
