// libFuzzer target: what the client takes from OrvoLib for a 'W' DVR, with OrvoLib's calls
// answered from the input: the recording calendar of a selection (the month's day bits and
// the day's slot tables) and then a run of the packet thread, each ORVOSDK_GetPacket giving
// the next packet of the input (type, key flag, size, claimed length, time stamp and data),
// video packets going into the rings as PICTURE_HEADER records. Work per input is bounded by
// the input (64 KiB); the rings are emptied first.
//
// Input: one byte of flags (bits 0-3 the channel context, bit 4 the channel in video loss),
// the calendar (135 bytes: selection, day bits, results, 4 x 240 slot bits), then packets of a
// 22-byte head each (result, type, key, width, height, length, year, month, day, hour, minute,
// second, milliseconds, data bytes) and their data.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "client/links/sdk_receiver.h"
#include "platform/wire/byte_reader.h"
#include "tests/client/fuzz/fuzz_rig.h"

namespace {
APP_CONTEXT* g_ctx = nullptr;
SDK_CHANNEL_CONTEXT* g_channel = nullptr;
std::vector<uint8_t>* g_memory = nullptr;
const uint8_t* g_at = nullptr;  // the input not yet taken
const uint8_t* g_end = nullptr;
const uint8_t* g_calendar = nullptr;

constexpr size_t kCalendarSize = 135;
constexpr size_t kPacketHead = 22;
}  // namespace

// OrvoLib's answers, from the input.
extern "C" int ORVOSDK_GetPacket(void*, _SDK_PACKET* packet, _SDK_FRAME_INFO* info) {
  if (g_end - g_at < ptrdiff_t(kPacketHead)) {
    g_channel->stop.store(1);  // the input is used up: the session is closed
    return 0;
  }
  const uint8_t* h = g_at;
  g_at += kPacketHead;
  packet->bType = h[1];
  packet->bKey = h[2];
  packet->wWidth = get_le16(h + 3);
  packet->wHeight = get_le16(h + 5);
  packet->dwLength = get_le32(h + 7);
  info->wYear = get_le16(h + 11);
  info->wMonth = h[13];
  info->wDay = h[14];
  info->wHour = h[15];
  info->wMinute = h[16];
  info->wSecond = h[17];
  info->wMilliseconds = get_le16(h + 18);
  const size_t n =
      std::min<size_t>({get_le16(h + 20), size_t(g_end - g_at), SDK_FIRST_BUFFER_SIZE});
  std::memcpy(packet->pBuffer, g_at, n);
  g_at += n;
  // No packet (0, or a closed session's SDK_ERR_ARGUMENT) makes the thread wait 20 ms for the
  // next one: here it ends the run instead.
  static const int kResults[4] = {1, -1, 0, SDK_ERR_ARGUMENT};
  const int r = kResults[h[0] & 3];
  if (r == 0 || r == SDK_ERR_ARGUMENT) g_channel->stop.store(1);
  return r;
}

extern "C" int ORVOSDK_GetDayOfMonthlyRecord(int, int, int, int, unsigned long* days) {
  *days = get_le32(g_calendar + 10);
  return g_calendar[14] & 1;
}

extern "C" int ORVOSDK_GetRecordInfoAllChannel(int, int, int, _SDK_REC_TIMETABLE_EX* table) {
  const uint8_t* bits = g_calendar + 15;
  for (int c = 0; c < 4; ++c)
    for (int k = 0; k < 240; ++k)
      table->aChannel[c].abSlot[k] =
          (bits[(c * 240 + k) / 8] >> (k % 8)) & 1 ? uint8_t(1 + k % 3) : 0;
  return g_calendar[14] >> 1 & 1;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_rig::quiet_stdout();
  g_ctx = fuzz_rig::make_context('W');
  g_channel = new SDK_CHANNEL_CONTEXT();
  g_memory = new std::vector<uint8_t>(SDK_CONTEXT_SIZE);
  g_channel->rx = &g_ctx->receivers[0];
  g_channel->buffer1 = g_memory->data();
  g_channel->buffer2 = g_channel->buffer1 + SDK_FIRST_BUFFER_SIZE;
  g_channel->output = g_channel->buffer2 + SDK_SECOND_BUFFER_SIZE;
  g_channel->output_size = SDK_CONTEXT_SIZE - SDK_FIRST_BUFFER_SIZE - SDK_SECOND_BUFFER_SIZE;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 + kCalendarSize || size > 65536) return 0;
  fuzz_rig::reset(g_ctx);
  RECEIVER_INFO* rx = &g_ctx->receivers[0];
  const int channel = (data[0] & 15) % SDK_CHANNELS;
  rx->channels[channel].video_state.store(data[0] & 16 ? 3 : 0);

  // The selection as the search window makes it: a date, its cameras, an hour or none.
  g_calendar = data + 1;
  const uint8_t* s = g_calendar;
  const int day = s[3] % 32 ? s[3] % 32 : 255;
  const int hour = s[8] % 25 == 24 ? 255 : s[8] % 25;
  sdk_set_playback_date(0, 1970 + get_le16(s) % 130, s[2] % 12, day, get_le32(s + 4), hour);
  sdk_load_record_calendar(rx, 1);
  sdk_set_playback_time(nullptr, s[9] % 60);
  sdk_take_calendar_done();

  g_at = data + 1 + kCalendarSize;
  g_end = data + size;
  g_channel->channel = channel;
  g_channel->since_key = 0;
  g_channel->session.store(g_channel);
  g_channel->stop.store(0);
  recv_sdk_packets(g_channel);
  g_channel->session.store(nullptr);
  return 0;
}
