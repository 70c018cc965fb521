#include "client/links/dat_file.h"

#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "client/foundation/config/utils.h"
#include "client/foundation/sdl_lock.h"
#include "client/foundation/sock_io.h"
#include "client/foundation/stats.h"
#include "client/links/file_player.h"
#include "client/links/fsh_info.h"
#include "client/links/link_common.h"
#include "client/links/link_notices.h"
#include "client/links/receive_rings.h"

namespace {

constexpr uint32_t kPattern = 0x000001FF;  // FF 01 00 00 read little-endian
constexpr long kIndexScan = 0x80001;
constexpr long kPlayScan = 0x80000;

// Reads byte by byte from the position until the last four bytes are the start pattern, at
// most `limit` bytes: the offset of the pattern, or -1 (end of file or no pattern).
int64_t scan_pattern(FILE* f, long limit) {
  uint32_t last = 0xFFFFFFFFu;
  for (long n = 0; n < limit; ++n) {
    int c = std::getc(f);
    if (c == EOF) return -1;
    last = (last >> 8) | (uint32_t(c) << 24);
    if (n >= 3 && last == kPattern) return int64_t(ftello(f)) - 4;
  }
  return -1;
}

// One frame behind a pattern at `at`: its FSH parsed and its sizes checked.
struct Frame {
  int kind = 0;  // get_fsh_info's result
  FRAME_HEADER fh;
  AUDIO_FRAME_HEADER ah;
  size_t video = 0, audio = 0;  // data bytes; bytes of one audio block
};
enum FrameRead { FRAME_OK, FRAME_SHORT, FRAME_BAD_FSH, FRAME_IMPOSSIBLE };

// Reads the rest of the FSH after the pattern into fsh[]; then the sizes. The position is left
// after the FSH.
FrameRead read_fsh(FILE* f, const DAT_FILE_INFO& info, uint8_t* fsh, Frame* fr) {
  put_le32(fsh, kPattern);
  const size_t rest = size_t(info.fsh_size - 4);
  if (std::fread(fsh + 4, 1, rest, f) != rest) return FRAME_SHORT;
  int status = 0;
  fr->kind = get_fsh_info(fsh, size_t(info.fsh_size), &status, info.layout, &fr->fh, &fr->ah);
  if (fr->kind == 0) return FRAME_BAD_FSH;
  fr->video = fr->fh.size;
  fr->audio = info.layout == 3 ? fr->ah.samples : 0;
  if (fr->video + 4 * fr->audio > RECORD_MAX_SIZE) return FRAME_IMPOSSIBLE;
  return FRAME_OK;
}

}  // namespace

int read_dat_file_header(FILE* f, DAT_FILE_INFO* info) {
  uint8_t h[8];
  info->layout = 3;
  if (!f || std::fread(h, 1, sizeof h, f) != sizeof h) {
    info->fsh_size = fsh_size_of_layout(info->layout);
    return 0;
  }
  const uint16_t version = get_le16(h), sub = get_le16(h + 2);
  const bool known = version >= 0x2200 && version <= 0x2202;
  if (known) info->layout = sub == 0x0303 ? 3 : sub == 0x0202 ? 2 : sub == 0x0101 ? 1 : 0;
  info->fsh_size = fsh_size_of_layout(info->layout);
  return known ? 1 : 0;
}

int index_dat_file(KEY_FRAME_ENTRY* index, int* count, RECEIVER_INFO* rx,
                   const DAT_FILE_INFO& info) {
  *count = 0;
  struct stat st {};
  if (!rx || !rx->file || ::stat(rx->file_name, &st) != 0) {
    std::printf("stat() failed.\n");
    return -1;
  }
  if (st.st_size < DAT_MIN_FILE_SIZE) {
    std::printf("invalid file size.\n");
    return -2;
  }
  FILE* f = rx->file;
  SdlLock lock(rx->mutex);
  std::fseek(f, 0, SEEK_SET);
  uint8_t fsh[FSH_SIZE_LARGE];
  bool warned = false;
  int rc = 0;
  for (;;) {
    const int64_t at = scan_pattern(f, kIndexScan);
    if (at < 0) {
      std::printf("fread() failed.\n");
      break;
    }
    Frame fr;
    FrameRead r = read_fsh(f, info, fsh, &fr);
    if (r == FRAME_SHORT) break;  // a cut tail ends the index
    if (r == FRAME_BAD_FSH) {
      std::printf("get_fsh_info() failed.\n");
      rc = -4;
      break;
    }
    if (r == FRAME_IMPOSSIBLE) {
      // Damage, not the end: the scan goes on after this pattern.
      std::printf("Invalid data size!\n");
      fseeko(f, off_t(at + 4), SEEK_SET);
      continue;
    }
    const uint64_t end = uint64_t(at) + uint64_t(info.fsh_size) + fr.video + 4 * fr.audio;
    if (end > uint64_t(st.st_size)) break;
    rx->protocol = 'Q';
    if (fr.kind != FSH_NO_VIDEO && fr.fh.frame_type == 1 && fr.fh.channel < DAT_CHANNELS &&
        add_record_key_frame(index, count, DAT_INDEX_MAX, fr.fh.channel, fr.fh.sec, fr.fh.msec,
                             uint64_t(at >= 2 ? at - 2 : 0)) != 0 &&
        !warned) {
      // The box is the window loop's: the player neither waits on it nor holds the file.
      post_link_error_box(rx->index, "Too many key frames inside the file.\n");
      warned = true;
    }
    if (end >= uint64_t(st.st_size)) break;
    if (rx_stopping(rx)) {
      rc = -7;  // a long file is not read to its end after a stop
      break;
    }
    fseeko(f, off_t(end), SEEK_SET);
  }
  std::clearerr(f);
  std::fseek(f, 0, SEEK_SET);
  return rc;
}

int find_dat_key_frame(const KEY_FRAME_ENTRY* index, int count, double t, double step) {
  const int i = find_key_frame(index, count, t);
  if (step >= 0 || i <= 0) return i;
  const KEY_FRAME_ENTRY& e = index[i];
  if (!(t > e.sec + e.msec / 1000.0 + 1.0)) return i;
  // Backwards and well past the key frame found: three key frames of that channel earlier.
  int found = 0;
  for (int j = i - 1; j >= 0; --j)
    if (index[j].channel == e.channel && ++found == 3) return j;
  return i;
}

int seek_dat_file(RECEIVER_INFO* rx, double step) {
  if (!rx) return 0;
  const double t = rx->position;
  with_player(rx, [&](PLAYER_STATE& st) {
    const int i = find_dat_key_frame(st.index.data(), st.count, t, step);
    SdlLock lock(rx->mutex);
    if (rx->file) {
      std::clearerr(rx->file);
      fseeko(rx->file, off_t(i < 0 ? 0 : st.index[size_t(i)].offset), SEEK_SET);
    }
    for (uint8_t& k : st.key_request) k = 1;
  });
  return 0;
}

namespace {

struct DatPlayer {
  RECEIVER_INFO* rx = nullptr;
  APP_CONTEXT* ctx = nullptr;
  DAT_FILE_INFO info;
  PLAYER_STATE* state = nullptr;
  uint8_t* buf = nullptr;  // video data, then the four audio blocks
  bool waiting[DAT_CHANNELS] = {true, true, true, true};
  int audio_map[DAT_CHANNELS] = {-1, -1, -1, -1};
  uint32_t seen = 0;
  PLAYER_PACER pacer;
  bool resting = false;

  void rest(const char* why) {
    if (!resting) std::printf("%s", why);
    resting = true;
    player_sleep(rx, 250);
  }

  // One frame read under the receiver's mutex. false when nothing was read (the player rested
  // or skipped damage).
  bool read_frame(Frame* fr) {
    uint8_t fsh[FSH_SIZE_LARGE];
    const char* rest_why = nullptr;
    {
      SdlLock lock(rx->mutex);
      FILE* f = rx->file;
      const int64_t at = scan_pattern(f, kPlayScan);
      if (at < 0) {
        std::clearerr(f);
        rest_why = "fread() failed.\n";
      } else {
        FrameRead r = read_fsh(f, info, fsh, fr);
        take_key_requests();
        if (r == FRAME_OK &&
            std::fread(buf, 1, fr->video + 4 * fr->audio, f) == fr->video + 4 * fr->audio) {
          resting = false;
          return true;
        }
        if (r == FRAME_BAD_FSH) {
          std::printf("get_fsh_info() failed.\n");
          return false;
        }
        if (r == FRAME_IMPOSSIBLE) {
          std::printf("Invalid data size!\n");
          fseeko(f, off_t(at + 4), SEEK_SET);
          return false;
        }
        // Cut tail: back to the pattern, where playback rests until a seek.
        std::clearerr(f);
        fseeko(f, off_t(at), SEEK_SET);
        rest_why = "fread() failed.\n";
      }
    }
    rest(rest_why);
    return false;
  }

  // Seeks ask every channel to resume at a key frame. The seek writes the requests under the
  // receiver's mutex, which the caller holds.
  void take_key_requests() {
    for (int k = 0; k < DAT_CHANNELS; ++k)
      if (state->key_request[k]) {
        waiting[k] = true;
        state->key_request[k] = 0;
      }
  }

  // Asked for only when a channel shows up first, so a layout the operator picks meanwhile
  // stays.
  void adapt_layout(int channel) {
    if ((seen >> channel) & 1u) return;
    seen |= 1u << channel;
    const int highest = 31 - __builtin_clz(seen);
    show_grid(int(std::floor(std::sqrt(double(highest)))) + 1);
  }

  // false when the receiver stopped.
  bool feed_video(Frame& fr) {
    const int c = fr.fh.channel;
    adapt_layout(c);
    if (waiting[c]) {
      if (fr.fh.frame_type != 1) return true;
      waiting[c] = false;
    }
    FRAME_HEADER fh = fr.fh;
    fh.start_key = FRAME_START_KEY;
    fh.receiver = uint8_t(rx->index);
    uint8_t hdr[FRAME_HEADER_SIZE];
    encode_frame_header(fh, hdr);
    stats_add(STAT_RECEIVED, 1);
    stats_add(STAT_BYTES, uint32_t(FRAME_HEADER_SIZE + fr.video));
    if (ctx->num_slots == 0) return true;
    return ring_write_record(ctx, uint32_t(c) % ctx->num_slots, rx, 'Q', 'Y', hdr, sizeof hdr, buf,
                             fr.video, 0, RING_WAIT_ROOM) >= 0;
  }

  bool feed_audio(const Frame& fr) {
    if (fr.fh.channel < DAT_CHANNELS && fr.ah.channel < DAT_CHANNELS)
      audio_map[fr.fh.channel] = fr.ah.channel;
    for (int k = 0; k < DAT_CHANNELS; ++k) {
      const int a = audio_map[k];
      if (a < 0 || a >= DAT_CHANNELS || waiting[k] || ctx->num_slots == 0) continue;
      AUDIO_FRAME_HEADER ah = fr.ah;
      ah.channel = uint16_t(k);
      ah.receiver = uint8_t(rx->index);
      uint8_t hdr[AUDIO_FRAME_HEADER_SIZE];
      encode_audio_frame_header(ah, hdr);
      const uint8_t* block = buf + fr.video + size_t(3 - a) * fr.audio;
      if (ring_write_record(ctx, uint32_t(k) % ctx->num_slots, rx, 'Q', 'A', hdr, sizeof hdr, block,
                            fr.audio, AUDIO_PAYLOAD_SLOT, RING_WAIT_ROOM) < 0)
        return false;
    }
    return true;
  }

  // false when the receiver stopped.
  bool pass() {
    const int64_t pass_start = player_now_ms();
    Frame fr;
    if (!read_frame(&fr)) return true;
    // A channel the player keeps no state for (layouts 2 and 3 name 16) is skipped.
    if (fr.fh.channel >= DAT_CHANNELS) return true;
    const double frame_ms = fr.fh.sec * 1000.0 + fr.fh.msec;
    const bool video = fr.kind != FSH_NO_VIDEO && fr.video != 0;
    const bool was_waiting = waiting[fr.fh.channel];
    if (video && !feed_video(fr)) return false;
    const double speed = ctx->playback_speed.load();
    if (info.layout == 3 && fr.audio != 0 && fr.audio <= AUDIO_PAYLOAD_SLOT && speed == 1.0 &&
        !feed_audio(fr))
      return false;
    if (video && was_waiting && waiting[fr.fh.channel])
      pacer.skip(frame_ms);  // dropped while waiting for a key frame: no time spent on it
    else if (video || fr.audio != 0)
      pacer.pace(rx, frame_ms, pass_start);
    return true;
  }
};

}  // namespace

int play_dat_file(RECEIVER_INFO* rx) {
  DatPlayer p;
  p.rx = rx;
  p.ctx = rx ? rx->context : nullptr;
  p.pacer.compensate = true;
  return run_file_player(
      rx, DAT_INDEX_MAX,
      [&](PLAYER_STATE& st, uint8_t* buf) {
        p.state = &st;
        p.buf = buf;
        {
          SdlLock lock(rx->mutex);
          read_dat_file_header(rx->file, &p.info);
          std::fseek(rx->file, 0, SEEK_SET);
        }
        return index_dat_file(st.index.data(), &st.count, rx, p.info);
      },
      [&] { return p.pass(); });
}
