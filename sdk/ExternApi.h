// Records that cross the library's boundary: their layouts are fixed (offsets below), so the
// application may zero or read them byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
// One channel entry of _SDK_DVR_INFO (39 bytes).
struct _SDK_DVR_CHANNEL_INFO {
  char szName[32];      // not terminated when 32 bytes long
  uint8_t abValue[6];   // the fourth (abValue[3]) is the channel kind
  uint8_t bValue7;
};
#pragma pack(pop)
static_assert(sizeof(_SDK_DVR_CHANNEL_INFO) == 39);

// The DVR's system information (772 bytes), filled from the control connection's reply.
struct _SDK_DVR_INFO {
  uint8_t bValue0;
  uint8_t nChannels;          // channel entries filled below (at most 16)
  uint8_t bValue2, bValue3, bValue4;
  uint8_t abPad5[3];
  uint32_t dwValue8;
  uint8_t bValue12, bValue13;
  uint16_t wValue14;
  uint8_t abValue16[3];
  uint8_t abValue19[3];
  uint8_t bValue22;
  uint8_t abAddress[5][4];    // IPv4 addresses, network order
  uint8_t bPad43;
  uint16_t wPort44, wPort46;
  char szText48[32];          // copied without terminator
  uint8_t bValue80;
  char szText81[65];          // copied without terminator
  uint16_t wValue146;
  _SDK_DVR_CHANNEL_INFO aChannel[16];
};
static_assert(sizeof(_SDK_DVR_INFO) == 772);
static_assert(offsetof(_SDK_DVR_INFO, dwValue8) == 8 && offsetof(_SDK_DVR_INFO, wValue14) == 14);
static_assert(offsetof(_SDK_DVR_INFO, abAddress) == 23 && offsetof(_SDK_DVR_INFO, wPort44) == 44);
static_assert(offsetof(_SDK_DVR_INFO, szText48) == 48 && offsetof(_SDK_DVR_INFO, szText81) == 81);
static_assert(offsetof(_SDK_DVR_INFO, wValue146) == 146 && offsetof(_SDK_DVR_INFO, aChannel) == 148);

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
  uint32_t nChannels;                   // entries of aChannel, aItem13 and aItem14 (<= 16)
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
  uint8_t abItem11[2][3];               // bool, byte, byte; twice
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
  uint8_t abItem16a[5][4];              // five entries kept column by column
  uint32_t adwItem16b[5];
  uint8_t abItem16c[5][10];
  uint8_t bItem17;
  char szItem17a[64], szItem17b[64];
  char szItem18[5][64];                 // five entries kept column by column
  uint8_t abItem18[5][10];
};
