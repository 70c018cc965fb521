// OrvoSDK's public face: the records, the two callback types, the capacities the library
// assumes of its callers' buffers and the 46 SDK_* exports of libOrvoSDK.so. This is the one
// header an application (OrvoLib, the client) includes.
//
// Linkage: the exports keep C++ linkage, so their symbol names carry their argument types;
// OrvoLib re-exports them under plain C names. Records without pointers have fixed layouts
// (asserted below): the application may zero or read them byte by byte. `unsigned long`
// stays where the exports take or return it.
//
// Threads: every export may be called from any thread of the application. The callbacks run
// on the library's own threads (see SDK_INIT_CALLBACK, SDK_OPEN_CALLBACK).
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
// One channel entry of _SDK_DVR_INFO (39 bytes).
struct _SDK_DVR_CHANNEL_INFO {
  char szName[32];     // not terminated when 32 bytes long
  uint8_t abValue[6];  // the fourth (abValue[3]) is the channel kind
  uint8_t bValue7;
};
#pragma pack(pop)
static_assert(sizeof(_SDK_DVR_CHANNEL_INFO) == 39);

// The DVR's system information (772 bytes), filled from the control connection's reply.
struct _SDK_DVR_INFO {
  uint8_t bValue0;
  uint8_t nChannels;  // channel entries filled below (at most 16)
  uint8_t bValue2, bValue3, bValue4;
  uint8_t abPad5[3];
  uint32_t dwValue8;
  uint8_t bValue12, bValue13;
  uint16_t wValue14;
  uint8_t abValue16[3];
  uint8_t abValue19[3];
  uint8_t bValue22;
  uint8_t abAddress[5][4];  // IPv4 addresses, network order
  uint8_t bPad43;
  uint16_t wPort44, wPort46;
  char szText48[32];  // copied without terminator
  uint8_t bValue80;
  char szText81[65];  // copied without terminator
  uint16_t wValue146;
  _SDK_DVR_CHANNEL_INFO aChannel[16];
};
static_assert(sizeof(_SDK_DVR_INFO) == 772);
static_assert(offsetof(_SDK_DVR_INFO, dwValue8) == 8 && offsetof(_SDK_DVR_INFO, wValue14) == 14);
static_assert(offsetof(_SDK_DVR_INFO, abAddress) == 23 && offsetof(_SDK_DVR_INFO, wPort44) == 44);
static_assert(offsetof(_SDK_DVR_INFO, szText48) == 48 && offsetof(_SDK_DVR_INFO, szText81) == 81);
static_assert(offsetof(_SDK_DVR_INFO, wValue146) == 146 &&
              offsetof(_SDK_DVR_INFO, aChannel) == 148);

// The DVR's health (36 bytes).
struct _SDK_DVR_HEALTH_INFO {
  uint32_t adwValue[6];
  uint16_t awValue[2];
  uint32_t adwValue2[2];
};
static_assert(sizeof(_SDK_DVR_HEALTH_INFO) == 36);

// The remote search status (2 bytes).
struct _SDK_DVR_SEARCH_STATUS {
  uint8_t bValue0, bValue1;
};
static_assert(sizeof(_SDK_DVR_SEARCH_STATUS) == 2);

// The DVR setup record, item by item in wire order. Texts are terminated char arrays; the
// per-channel groups have room for 16 entries of which nChannels are used.
struct _SDK_DVRSETUP_CAMERA {
  uint8_t bUse;
  char szText1[16], szText2[16], szText3[16];
  uint8_t abValue[11];
  uint32_t dwValue;
};
struct _SDK_DVRSETUP_ITEM8 {
  uint8_t bUse;
  uint32_t dwValue1, dwValue2;
  char szText[32];
};
struct _SDK_DVRSETUP_CHANNEL {
  char szName[16];
  uint32_t adwValue1[4];
  uint8_t bFlag1;
  uint32_t adwValue2[5];
  uint8_t abSchedule[7][24];  // a row a day, a byte an hour
  uint8_t abValue3[24];
  uint32_t dwValue4;
  uint8_t bFlag2, bFlag3;
  uint32_t dwValue5;
  uint8_t abGrid[12][12];
  uint32_t adwValue6[5];
};
struct _SDK_DVRSETUP_ITEM13 {
  uint8_t bUse;
  uint32_t dwValue1, dwValue2;
  uint16_t wValue1, wValue2;
};
struct _SDK_DVRSETUP_ITEM14 {
  uint8_t bUse;
  uint32_t dwValue1, dwValue2;
};
struct _SDK_DVRSETUP {
  uint32_t nChannels;  // entries of aChannel, aItem13 and aItem14 (<= 16)
  uint8_t abItem2[6];
  uint32_t dwItem3;
  char szItem4[32];
  uint32_t adwItem5[11];
  uint32_t adwItem5b[4];
  uint8_t abItem6a[4];
  uint32_t dwItem6b, dwItem6c;
  uint8_t abItem6d[6];
  _SDK_DVRSETUP_CAMERA aCamera[16];
  _SDK_DVRSETUP_ITEM8 aItem8[32];
  _SDK_DVRSETUP_CHANNEL aChannel[16];
  uint8_t bItem10;
  uint32_t adwItem10[3];
  uint8_t abItem11[2][3];  // bool, byte, byte; twice
  uint8_t bItem12a;
  char szItem12b[32];
  uint8_t abItem12c[4][4];
  uint16_t wItem12d, wItem12e;
  uint8_t bItem12f;
  char szItem12g[33];
  uint16_t wItem12h;
  _SDK_DVRSETUP_ITEM13 aItem13[16];
  _SDK_DVRSETUP_ITEM14 aItem14[16];
  uint8_t bItem15a;
  uint32_t dwItem15b, dwItem15c;
  uint8_t bItem15d;
  uint32_t dwItem15e, dwItem15f, dwItem15g;
  uint8_t bItem15h;
  uint32_t dwItem15i, dwItem15j;
  uint8_t bItem15k;
  uint32_t dwItem15l, dwItem15m;
  uint8_t bItem15n;
  uint8_t abItem16a[5][4];  // five entries kept column by column
  uint32_t adwItem16b[5];
  uint8_t abItem16c[5][10];
  uint8_t bItem17;
  char szItem17a[64], szItem17b[64];
  char szItem18[5][64];  // five entries kept column by column
  uint8_t abItem18[5][10];
};

// The recording table of one channel for one day: a byte per 6-minute slot from 00:00
// (nonzero = recorded).
struct _SDK_REC_TIMETABLE {
  uint8_t abSlot[240];
};
static_assert(sizeof(_SDK_REC_TIMETABLE) == 240);

// Sixteen such tables, channel 0 first.
struct _SDK_REC_TIMETABLE_EX {
  _SDK_REC_TIMETABLE aChannel[16];
};
static_assert(sizeof(_SDK_REC_TIMETABLE_EX) == 3840);

#pragma pack(push, 1)
// Session parameters of SDK_Open (24 bytes).
struct _SDK_CONN_PARAM {
  uint8_t bValue0;  // passed to the session as given (the client sets 1)
  uint8_t bPad1;
  uint16_t wValue2;  // passed widened to 32 bits (the client sets 5)
  int8_t cLive;      // 1 live, 0 playback; other values are rewritten to 1 by SDK_Open
  uint8_t abPad5[3];
  uint32_t dwValue8;    // passed as given
  uint32_t dwValue12;   // passed as given
  uint32_t dwPlayDate;  // playback: decimal yyyymmdd
  uint32_t dwPlayTime;  // playback: decimal hhmmss
};

// Packet options of SDK_SetPacketParam (3 bytes).
struct _SDK_PACKET_PARAM {
  uint8_t bNoAudio;      // 0: audio frames are delivered (and decoded into the output buffer)
  uint8_t bOutput;       // SDK_OUTPUT_*: the decoded picture written to the output buffer
  uint8_t bDeinterlace;  // nonzero: pictures of 480 lines and more are deinterlaced
};
#pragma pack(pop)
static_assert(sizeof(_SDK_CONN_PARAM) == 24);
static_assert(offsetof(_SDK_CONN_PARAM, cLive) == 4 && offsetof(_SDK_CONN_PARAM, dwValue8) == 8);
static_assert(offsetof(_SDK_CONN_PARAM, dwPlayDate) == 16 &&
              offsetof(_SDK_CONN_PARAM, dwPlayTime) == 20);
static_assert(sizeof(_SDK_PACKET_PARAM) == 3);

// Picture output formats (_SDK_PACKET_PARAM::bOutput). Both RGB formats write 3 bytes a pixel,
// B, G, R, rows bottom to top (width x height x 3 bytes):
//   SDK_OUTPUT_BGR24      full-range BT.601 (JFIF) from the I420 picture (I420ToBGR24);
//   SDK_OUTPUT_BGR24_VIDEO video-range BT.601 (Y 16..235), from the picture's chroma rows
//                          doubled to 4:2:2 (YUV422ToBGR24).
// SDK_OUTPUT_I420 writes the planar picture: Y, then U, then V (width x height x 3 / 2 bytes).
enum : uint8_t {
  SDK_OUTPUT_NONE = 0,
  SDK_OUTPUT_BGR24 = 1,
  SDK_OUTPUT_BGR24_VIDEO = 2,
  SDK_OUTPUT_I420 = 3
};

// Delivery header codec words (_SDK_PACKET::wCodec).
enum : uint16_t {
  SDK_CODEC_MPEG4 = 0x100,
  SDK_CODEC_H264 = 0x101,
  SDK_CODEC_AUDIO_MPEG4 = 0x200,
  SDK_CODEC_AUDIO_H264 = 0x202
};

// Capacities the library assumes of the caller's buffers. A frame that would not fit is
// dropped (SDK_GetPacket gives 0) and the session's last error text says so.
constexpr uint32_t SDK_FIRST_BUFFER_SIZE = 256 * 1024;   // the compressed frame or raw audio
constexpr uint32_t SDK_SECOND_BUFFER_SIZE = 256 * 1024;  // the second field of a tall picture
// The output buffer: the picture in the asked format (width x height x 3, or x 3 / 2 for
// I420; a session refuses pictures larger than 8192 x 8192) or decoded audio of at most
// SDK_AUDIO_OUTPUT_SIZE bytes (a stream asking for more has no audio decoder).
constexpr uint32_t SDK_AUDIO_OUTPUT_SIZE = 256 * 1024;

// One delivered frame. Fields and order are the contract (the record holds pointers).
struct _SDK_PACKET {
  // The 16-byte delivery header, written by SDK_GetPacket.
  uint8_t bType;  // 0 video, 1 audio
  uint8_t bSpare1;
  uint16_t wCodec;   // SDK_CODEC_*
  uint8_t bTall;     // an H.264 picture taller than 479 lines (two fields)
  uint8_t bKey;      // key frame
  uint16_t wWidth;   // 0 for audio
  uint16_t wHeight;  // 0 for audio
  uint8_t abSpare10[2];
  uint32_t dwLength;  // bytes written to pBuffer
  // The caller's buffers (SDK_FIRST_BUFFER_SIZE, SDK_SECOND_BUFFER_SIZE; pOutput see above).
  uint8_t* pBuffer;
  uint32_t dwLength2;  // bytes written to pBuffer2 (the second field of a tall picture)
  uint8_t* pBuffer2;
  uint32_t dwOutLength;  // bytes written to pOutput, 0 when nothing was
  uint8_t* pOutput;
};
static_assert(offsetof(_SDK_PACKET, wCodec) == 2 && offsetof(_SDK_PACKET, bTall) == 4 &&
              offsetof(_SDK_PACKET, wWidth) == 6 && offsetof(_SDK_PACKET, dwLength) == 12);

// The delivered frame's description (48 bytes): its time stamp, the stream's base date and
// time plus the frame's offset. Bytes 0..33 are left as the caller had them.
struct _SDK_FRAME_INFO {
  uint8_t abReserved[34];
  uint16_t wYear, wMonth, wDay, wHour, wMinute, wSecond, wMilliseconds;
};
static_assert(sizeof(_SDK_FRAME_INFO) == 48 && offsetof(_SDK_FRAME_INFO, wYear) == 34);

// Result of an invalid argument.
constexpr int SDK_ERR_ARGUMENT = 0x800;

// The application callback of SDK_Initialize, called on the library's threads (the timer,
// a DVR-level caller, a session's notify thread, the event server). The result is ignored;
// it must not call SDK_Terminate.
//   source 1, code 0x1000, data NULL: a DVR stopped answering (value = DVR id);
//   source 1, a session status code, data = the session handle (value = the session's);
//   source 2, an event code 0x10000001..0x10010000, data = the event text, value = DVR id
//            (-1 for an address not connected).
typedef int (*SDK_INIT_CALLBACK)(int source, int code, void* data, const char* ip, int channel,
                                 int value);
// The session callback of SDK_Open: state 1 when the stream started, 0 when it stopped or
// could not start (once per start). Called on the session's threads or the library timer's;
// it may call SDK_Close on its own handle.
typedef int (*SDK_OPEN_CALLBACK)(void* handle, int dvr_id, int channel, int state, void* user);

#define ORVOSDK_API __attribute__((visibility("default")))

// Library.
// 8 for a NULL callback; 1 started (port 0 means 8003; a port that cannot be bound only
// means no events), 0 when it could not start.
ORVOSDK_API int SDK_Initialize(SDK_INIT_CALLBACK callback, unsigned short event_port);
// Closes every session and DVR connection and stops the library's threads.
ORVOSDK_API void SDK_Terminate();

// DVRs. SDK_Connect: the DVR id (1001 and up), -3 for a port outside 0..65535 or a NULL
// pointer, -2 when the DVR refuses the user or password, -1 when it cannot be reached or
// its system information not read.
ORVOSDK_API int SDK_Connect(const char* host, const char* user, const char* password, int port,
                            int logon_flag, _SDK_DVR_INFO* info);
// 1 done, 0 when no DVR is connected at all, -1 for a negative or unknown id.
ORVOSDK_API int SDK_Disconnect(int dvr_id);
// The DVR-level requests: 1 filled (or sent and answered), 0 refused or failed.
ORVOSDK_API int SDK_GetDVRSystemInfo(int dvr_id, _SDK_DVR_INFO* info);
ORVOSDK_API int SDK_GetDVRHealthInfo(int dvr_id, _SDK_DVR_HEALTH_INFO* health);
ORVOSDK_API int SDK_GetRecordInfo(int dvr_id, int channel, int date, _SDK_REC_TIMETABLE* table);
ORVOSDK_API int SDK_GetRecordInfoAllChannel(int dvr_id, int channel_count, int date,
                                            _SDK_REC_TIMETABLE_EX* table);
ORVOSDK_API int SDK_GetDayOfMonthlyRecord(int dvr_id, int value, int year, int month,
                                          unsigned long* days);
ORVOSDK_API unsigned long SDK_StartRemoteSearch(int dvr_id, int date, int time, char kind,
                                                char divide, int channel);
ORVOSDK_API unsigned long SDK_GetSearchStatus(int dvr_id, _SDK_DVR_SEARCH_STATUS* status);
ORVOSDK_API unsigned long SDK_SetSearchStatus(int dvr_id, int status);

// Sessions. SDK_Open: the handle, or NULL. Every call below that takes a handle gives 0 for
// a handle that is not open (closed, or the library not initialised).
ORVOSDK_API void* SDK_Open(int dvr_id, int channel, _SDK_CONN_PARAM* param,
                           SDK_OPEN_CALLBACK callback, int channel2, void* user);
ORVOSDK_API int SDK_Close(void* handle);
ORVOSDK_API int SDK_SetPacketParam(void* handle, _SDK_PACKET_PARAM* param);
ORVOSDK_API int SDK_SetWaitTimeout(void* handle, unsigned long seconds);
// Waits for the next frame and writes it: 1 written, 0 none (time-out, cancelled, dropped),
// SDK_ERR_ARGUMENT for missing buffers.
ORVOSDK_API int SDK_GetPacket(void* handle, _SDK_PACKET* packet, _SDK_FRAME_INFO* info);
ORVOSDK_API int SDK_CancelWait(void* handle);
// Copies the session's last error text, cut to size - 1 characters; nothing for size < 1.
ORVOSDK_API void SDK_GetLastErrorString(void* handle, char* buf, int size);
ORVOSDK_API int SDK_ControlPTZ(void* handle, int code);
ORVOSDK_API int SDK_ControlPTZAutoPan(void* handle, int code);
ORVOSDK_API int SDK_ControlPTZTour(void* handle, int code);
ORVOSDK_API int SDK_ControlPTZZoom(void* handle, int code);
ORVOSDK_API int SDK_ControlPTZFocus(void* handle, int code);
ORVOSDK_API int SDK_ControlPTZIris(void* handle, int code);
ORVOSDK_API int SDK_ControlPTZBypass(void* handle, unsigned char* bytes, unsigned char count);
ORVOSDK_API int SDK_ControlPTZWiper(void* handle);
ORVOSDK_API int SDK_ControlPTZPump(void* handle);
ORVOSDK_API int SDK_ControlPTZCameraPower(void* handle, int on);
ORVOSDK_API int SDK_ControlPTZLight(void* handle, int on);
ORVOSDK_API int SDK_ControlPTZAux1(void* handle, int on);
ORVOSDK_API int SDK_ControlPTZAux2(void* handle, int on);
ORVOSDK_API int SDK_ControlPTZMenuOpen(void* handle);
ORVOSDK_API int SDK_ControlPTZMenuSelect(void* handle);
ORVOSDK_API int SDK_ControlPTZMenuClose(void* handle);
// Commands of a connected live session (playback: the last four): 1 answered, 0 not (the
// reason in SDK_GetLastErrorString: "not connected yet", "VOD not support!", ...).
ORVOSDK_API int SDK_PresetSet(void* handle, int preset);
ORVOSDK_API int SDK_PresetRun(void* handle, int preset);
// *a = the DVR's relay count, *b = bit i set when relay i is on.
ORVOSDK_API int SDK_GetRelayState(void* handle, int* a, int* b);
ORVOSDK_API int SDK_SetRelayState(void* handle, int relay, int on);
ORVOSDK_API int SDK_GetDVRSetup(void* handle, _SDK_DVRSETUP* setup);
ORVOSDK_API int SDK_SetDVRSetup(void* handle, _SDK_DVRSETUP* setup);
ORVOSDK_API int SDK_SetDeinterlace(void* handle, int on);
ORVOSDK_API int SDK_NormalForward(void* handle);
ORVOSDK_API int SDK_FastForward(void* handle);
ORVOSDK_API int SDK_FastBackward(void* handle);
ORVOSDK_API int SDK_PlayGoto(void* handle, unsigned long date, unsigned long time);
