// CDSFProtocol: the codec of the SDK's session protocol with a DVR. Builds request packets
// from request records, reads reply and event payloads into the caller's records, and walks
// the media stream's objects (a header block, then one frame object per frame). No I/O.
//
// Packets: a 12-byte header of three big-endian u32 (number, flag or result, payload length)
// and the payload; payload integers are big-endian, stream objects little-endian.
//
// Every reader sits on CByteReader: a payload whose lengths or counts do not fit is refused
// whole (result 0) and nothing of it reaches the caller's record or the kept stream state.
//
// Threads: one session owns the object and calls it one call at a time, except the kept
// record pointers (KeepRecord, ForgetRecord, ParseKeptReply), which any thread may use: a
// session forgets a record before freeing it, so a late reply never writes into it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "sdk/OrvoSDK.h"

// Requests.
constexpr uint32_t DSF_LIVE_START = 0x00020001;
constexpr uint32_t DSF_PLAYBACK_START = 0x00020003;
constexpr uint32_t DSF_STREAM_READY = 0x00020006;
constexpr uint32_t DSF_STREAM_HOLD = 0x00020008;
constexpr uint32_t DSF_PTZ_MOVE_REQ = 0x00030201;
constexpr uint32_t DSF_PTZ_FUNCTION_REQ = 0x00030202;
constexpr uint32_t DSF_PRESET_SET_REQ = 0x00030205;
constexpr uint32_t DSF_PRESET_RUN_REQ = 0x00030207;
constexpr uint32_t DSF_PTZ_MENU_REQ = 0x0003020B;
constexpr uint32_t DSF_PTZ_BYPASS_REQ = 0x0003020F;
constexpr uint32_t DSF_RELAY_GET = 0x00031000;
constexpr uint32_t DSF_RELAY_SET_REQ = 0x00031001;
constexpr uint32_t DSF_PLAY_FAST = 0x00060005;
constexpr uint32_t DSF_PLAY_NORMAL = 0x00060007;
constexpr uint32_t DSF_PLAY_UPKEEP = 0x00060008;
constexpr uint32_t DSF_PLAY_GOTO_REQ = 0x00060009;
constexpr uint32_t DSF_KEEP_ALIVE = 0x007F0001;
constexpr uint32_t DSF_SETUP_GET = 0x00080001;
constexpr uint32_t DSF_SETUP_SET = 0x00080002;
// Replies and events.
constexpr uint32_t DSF_STREAM_OBJECT = 0x00020101;
constexpr uint32_t DSF_STREAM_FRAME = 0x00020102;
constexpr uint32_t DSF_CHANNEL_INFO_REPLY = 0xA0000002;
constexpr uint32_t DSF_EVENT_SENSOR = 0x00050001;
constexpr uint32_t DSF_EVENT_SHUTDOWN = 0x00050201;

// Stream object kinds (ParseObject).
constexpr uint32_t DSF_STREAM_HEADER_TYPE = 0xFFF10000;
constexpr uint32_t DSF_VIDEO_TYPE = 0xFFF20000;
constexpr uint32_t DSF_AUDIO_TYPE = 0xFFF30000;
constexpr uint32_t DSF_INFO_A_TYPE = 0xFFF40000;
constexpr uint32_t DSF_INFO_B_TYPE = 0xFFF50000;
constexpr uint32_t DSF_MARK_TYPE = 0xFFF60000;
constexpr uint32_t DSF_MARK_END_TYPE = 0xFFFF0000;
constexpr uint32_t DSF_FRAME_KIND = 0xFFF70000;
constexpr uint32_t DSF_UNKNOWN_KIND = 0xFFF00000;

// Request records (PackPayload).
struct DSF_LIVE_REQUEST {  // 0x00020001
  uint8_t channel;
};
struct DSF_PLAYBACK_REQUEST {  // 0x00020003
  char szAddress[260];
  uint32_t dwStart, dwEnd;
  uint8_t channel;
};
struct DSF_HOLD_REQUEST {  // 0x00020008 (flag word 0, built by the session)
  uint8_t value;
};
struct DSF_PTZ_MOVE {  // 0x00030201
  uint8_t channel, code;
};
struct DSF_PTZ_FUNCTION {  // 0x00030202
  uint8_t channel, function, valueA, valueB;
};
struct DSF_PRESET_SET {  // 0x00030205
  uint8_t channel, preset;
  uint16_t reserved;
};
struct DSF_PRESET_RUN {  // 0x00030207
  uint8_t channel, preset, reserved;
};
struct DSF_PTZ_MENU {  // 0x0003020B
  uint8_t channel, key;
};
struct DSF_PTZ_BYPASS {  // 0x0003020F
  uint8_t channel, count;
  uint8_t bytes[255];
};
struct DSF_RELAY_SET {  // 0x00031001
  uint8_t state, relay;
};
struct DSF_PLAY_SPEED {  // 0x00060005, 0x00060007
  uint32_t position;
  uint8_t direction;  // 1 forward, 0 backward
};
struct DSF_PLAY_GOTO {  // 0x00060009
  uint32_t date, time;
  uint8_t value;
};
// 0x00080002 takes an _SDK_DVRSETUP.

// Reply records (ParseReply).
struct DSF_STREAM_DATA {  // 0x00020101, 0x00020102
  uint8_t channel;
  uint32_t length;
  const uint8_t* data;  // into the caller's payload
};
struct DSF_STREAM_BLOCK {  // 0xA0020001, 0xA0020003: the header block
  uint32_t length;
  const uint8_t* data;  // into the caller's payload
};
struct DSF_CHANNEL_ENTRY {
  uint32_t p, q;
  uint8_t r, s, t, u;
};
struct DSF_CHANNEL_INFO {  // 0xA0000002
  uint32_t dwDataRequest;  // the data log-on's value
  uint16_t nChannels;      // <= 32
  uint8_t abFlags[5][32];  // the five bit fields, a byte 0/1 per channel
  DSF_CHANNEL_ENTRY aEntry[16];
  uint8_t abPresetCount[16];
  uint16_t wPresetField;
};
struct DSF_RELAY_STATE {  // 0xA0031000
  uint8_t count;
  uint8_t state[255];
};
struct DSF_SENSOR_EVENT {  // 0x00050001
  uint32_t a;
  uint8_t b;
  uint8_t flags[32];
  uint32_t c;
};
struct DSF_SHUTDOWN_EVENT {  // 0x00050201
  uint32_t a, b;
};
// 0xA0060005, 0xA0060007, 0xA0060009 fill a uint32_t; 0xA0080001 an _SDK_DVRSETUP.

// Kept stream objects (texts at most 255 bytes, terminated).
struct DSF_STREAM_HEADER_OBJECT {
  uint32_t type, size;
  uint8_t b8;
  uint32_t d9, d13;
  uint16_t w17;
  uint16_t year;
  uint8_t month, day, hour, minute, second;
  uint8_t dateValue;  // low 4 bits of byte 26
  uint8_t flag;       // top bit of byte 26
  uint16_t w27;
  uint8_t b29;
  uint32_t d30, d34, d38;
  uint8_t b42, b43;
  uint16_t w44;
  uint8_t b46;
  char text1[256], text2[256];
};
struct DSF_VIDEO_OBJECT {
  uint32_t type, size;
  uint8_t codec[16];
  uint8_t track;  // 0xFF: no video object in the header
  uint8_t b25;
  uint16_t width, height;
  uint8_t b30, b31, b32;
  uint16_t motionBits;
  const uint8_t* motionCells;  // the protocol object's motion-cell array
  char text1[256], text2[256];
};
struct DSF_AUDIO_OBJECT {
  uint32_t type, size;
  uint8_t codec[16];
  uint8_t track;  // 0xFF: no audio object in the header
  uint16_t samplesPerSecond;
  uint8_t b27;
  uint8_t setupValue;
  uint16_t w29;
  char text[256];
};
struct DSF_INFO_OBJECT {
  uint32_t type, size;
  uint32_t value;
  char text[256];
};
struct DSF_MARK_OBJECT {
  uint32_t type, value;
};
struct DSF_FRAME_OBJECT {
  uint16_t length;  // header and data
  uint8_t flags;
  uint8_t key;               // bit 7
  uint8_t extension;         // bit 6: a part of a split video frame
  uint8_t flagC;             // bit 5
  uint8_t kind;              // bits 0-3: 0 video, 1 audio
  uint32_t timeOffset;       // ms from the stream header's base date and time
  uint8_t parts, partIndex;  // with the extension
  uint32_t wholeSize;        // with the extension
  uint8_t motionPresent;
  uint8_t m1, m2;
  uint16_t motionBits;
  char text1[256], text2[256];
  uint32_t headerLength;
  const uint8_t* data;  // into the object; set when dataLength > 0 or kind 2
  uint32_t dataLength;
};

// A bit buffer: bit i is bit (7 - i mod 8) of byte i div 8.
class CBitArray {
 public:
  void Clear() {
    m_buffer.clear();
    m_nBits = 0;
  }
  void Free() { Clear(); }
  // ceil(n / 8) zeroed bytes.
  void Resize(size_t bits);
  // Copies the buffer's byte length from `data`, at most `available` bytes.
  void Load(const uint8_t* data, size_t available);
  // 0, or -1 for an index past the buffer or a value other than 0 and 1.
  int SetBit(size_t i, int value);
  int GetBit(size_t i, uint8_t* out) const;
  size_t Bits() const { return m_nBits; }
  size_t Bytes() const { return m_buffer.size(); }

 private:
  std::vector<uint8_t> m_buffer;
  size_t m_nBits = 0;
};

class CDSFProtocol {
 public:
  CDSFProtocol();

  // Writes the packet of `number` at `out` (which must hold 12 + the payload): with flag 1 and
  // a record the payload of PackPayload, otherwise none. Returns 12 + the payload length.
  int BuildPacket(uint32_t number, uint32_t flag, const void* record, uint8_t* out);
  // The payload of request `number` from `record` at `out`; its length (0 for requests
  // without one, and for unknown numbers, traced). Keeps `record` for the number.
  int PackPayload(uint32_t number, const void* record, uint8_t* out);
  // The largest payload PackPayload writes (the setup record).
  static size_t MaxPayload();

  // Reads the payload of reply or event `number` into `record`: 1 filled; 0 when the number
  // is not read or the payload does not fit (record untouched).
  int ParseReply(uint32_t number, const uint8_t* payload, size_t length, void* record);
  // The record pointer last given for a number; the session keeps and forgets it around a
  // request's wait. ParseKeptReply reads `reply_number` into the record kept for
  // `request_number` under the same lock: 0 when none is kept or the payload is refused.
  void KeepRecord(uint32_t number, void* record);
  void ForgetRecord(uint32_t number);
  void* KeptRecord(uint32_t number) const;
  int ParseKeptReply(uint32_t reply_number, uint32_t request_number, const uint8_t* payload,
                     size_t length);

  // Walks a stream header block: 1 when every object was read; 0 at the first unknown or
  // malformed object (traced), which is not kept (the objects before it are).
  int ParseStreamHeader(const uint8_t* block, size_t length);
  // Reads one object and keeps it: its type word for a header object, DSF_FRAME_KIND for a
  // frame object, DSF_UNKNOWN_KIND for an unknown or malformed one (nothing kept).
  uint32_t ParseObject(const uint8_t* object, size_t length);
  uint32_t ParseFrame(const uint8_t* object, size_t length) { return ParseObject(object, length); }
  void ResetSession();

  // A string16 (u16 length, text) at `data` of `available` bytes: bytes consumed, or -1.
  static int ReadString16(const uint8_t* data, size_t available, std::string* text);
  // n bytes of 0/1 from the first ceil(n / 8) bytes of data, MSB first.
  static void UnpackBits(uint8_t* out, size_t n, const uint8_t* data);

  // Kept state.
  const DSF_STREAM_HEADER_OBJECT& StreamHeader() const { return m_header; }
  const DSF_VIDEO_OBJECT& Video() const { return m_video; }
  const DSF_AUDIO_OBJECT& Audio() const { return m_audio; }
  const DSF_INFO_OBJECT& InfoA() const { return m_infoA; }
  const DSF_INFO_OBJECT& InfoB() const { return m_infoB; }
  const DSF_MARK_OBJECT& Mark() const { return m_mark; }
  const DSF_FRAME_OBJECT& Frame() const { return m_frame; }
  const std::vector<uint8_t>& MotionCells() const { return m_motionCells; }
  bool HasInfoA() const { return m_bInfoA; }
  const uint8_t* LastHeaderBlock() const { return m_pLastHeaderBlock; }
  const uint8_t* ChannelFlags(int which) const { return m_abChannelFlags[which]; }
  const std::vector<std::string>& PresetNames() const { return m_presetNames; }
  const std::string& CurrentPreset() const { return m_strCurrentPreset; }
  uint32_t GotoResult() const { return m_dwGotoResult; }

 private:
  int ParseChannelInfo(const uint8_t* payload, size_t length, DSF_CHANNEL_INFO* info);
  uint32_t ReadHeaderObject(uint32_t type, const uint8_t* object, size_t length);
  uint32_t ReadFrameObject(const uint8_t* object, size_t length);
  size_t MotionCellCount() const;

  mutable std::mutex m_recordLock;
  std::unordered_map<uint32_t, void*> m_records;

  uint8_t m_abChannelFlags[3][32];
  std::vector<std::string> m_presetNames;
  std::string m_strCurrentPreset;
  uint32_t m_dwGotoResult = 0;

  DSF_STREAM_HEADER_OBJECT m_header;
  DSF_VIDEO_OBJECT m_video;
  DSF_AUDIO_OBJECT m_audio;
  DSF_INFO_OBJECT m_infoA, m_infoB;
  DSF_MARK_OBJECT m_mark;
  DSF_FRAME_OBJECT m_frame;
  std::vector<uint8_t> m_motionCells;  // one byte per 16 x 16 block of the picture
  CBitArray m_bits;
  bool m_bInfoA = false;
  const uint8_t* m_pLastHeaderBlock = nullptr;
};
