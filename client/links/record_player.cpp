// Recorded ".zol" files: the key-frame index, the seek and the player thread.
#include <sys/stat.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "client/foundation/channel_table.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sdl_lock.h"
#include "client/foundation/sock_io.h"
#include "client/foundation/stats.h"
#include "client/links/decoder_thread.h"
#include "client/links/file_player.h"
#include "client/links/link_common.h"
#include "client/links/link_notices.h"
#include "client/links/frame_headers.h"
#include "client/links/receive_rings.h"
#include "client/links/recording.h"

int add_record_key_frame(KEY_FRAME_ENTRY* index, int* count, int max, uint32_t channel,
                         uint32_t sec, uint16_t msec, uint64_t offset) {
  if (*count >= max) return -1;
  index[*count] = {channel, sec, msec, offset};
  ++*count;
  return 0;
}

int find_key_frame(const KEY_FRAME_ENTRY* index, int count, double t) {
  auto time_of = [&](int i) { return index[i].sec + index[i].msec / 1000.0; };
  if (count <= 0 || t < time_of(0)) return -1;
  int lo = 0, hi = count - 1;
  while (hi - lo > 1) {
    const int mid = (lo + hi) / 2;
    if (t < time_of(mid))
      hi = mid;
    else if (t < time_of(hi))
      lo = mid;
    else
      return hi;  // at or after hi's time
  }
  return t >= time_of(hi) ? hi : lo;
}

namespace {

// Frame header size of a record kind; 0 for kinds passed on as they are.
size_t header_size(uint8_t protocol, uint8_t media) {
  if (media == 'Y') {
    if (protocol == 'Q' || protocol == 'S') return FRAME_HEADER_SIZE;
    if (protocol == 'I' || protocol == 'W') return PICTURE_HEADER_SIZE;
    return 0;
  }
  if (media == 'A' && protocol == 'Q') return AUDIO_FRAME_HEADER_SIZE;
  return 0;
}

// A record header that can start a whole record of a recorded file.
bool valid_record(const FRAME_RECORD_HEADER& rh) {
  return rh.start_key == FRAME_START_KEY && rh.size <= RECORD_MAX_SIZE &&
         rh.size >= header_size(rh.protocol, rh.media);
}

}  // namespace

int index_record_file(KEY_FRAME_ENTRY* index, int* count, RECEIVER_INFO* rx) {
  *count = 0;
  struct stat st {};
  if (!rx || !rx->file || ::stat(rx->file_name, &st) != 0) {
    std::printf("stat() failed.\n");
    return -1;
  }
  if (st.st_size < 13) {
    std::printf("invalid file size.\n");
    return -2;
  }
  FILE* f = rx->file;
  const uint64_t size = uint64_t(st.st_size);
  bool warned = false;
  uint64_t off = 0;
  // Every 'S' frame is a key frame (those recorded before they were marked so carry type 0).
  // One entry a second per channel is enough to seek by, and keeps the index for an hour of
  // such a channel rather than two and a half minutes.
  std::array<double, 256> last_s_entry;
  last_s_entry.fill(-1);
  SdlLock lock(rx->mutex);
  std::fseek(f, 0, SEEK_SET);
  // Only the headers are read: a record counts when it lies whole inside the file.
  uint8_t head[FRAME_RECORD_HEADER_SIZE + FRAME_HEADER_SIZE];
  while (off + FRAME_RECORD_HEADER_SIZE <= size) {
    if (fseeko(f, off_t(off), SEEK_SET) != 0 ||
        std::fread(head, 1, FRAME_RECORD_HEADER_SIZE, f) != FRAME_RECORD_HEADER_SIZE)
      break;
    const FRAME_RECORD_HEADER rh = decode_frame_record_header(head);
    if (!valid_record(rh)) {
      if (rh.size > RECORD_MAX_SIZE) std::printf("Invalid data size!\n");
      break;
    }
    if (off + FRAME_RECORD_HEADER_SIZE + rh.size > size) break;  // cut record
    const size_t hs = header_size(rh.protocol, rh.media);
    uint8_t* h = head + FRAME_RECORD_HEADER_SIZE;
    if (hs && std::fread(h, 1, hs, f) != hs) break;
    bool key = false;
    uint32_t channel = 0, sec = 0;
    uint16_t msec = 0;
    if (rh.media == 'Y' && hs == FRAME_HEADER_SIZE) {
      rx->protocol = rh.protocol;
      const FRAME_HEADER fh = decode_frame_header(h);
      if (rh.size != fh.size + FRAME_HEADER_SIZE)
        std::printf("Header data size does not match with data!\n");
      key = is_key_frame(fh.frame_type, rh.protocol) != 0;
      channel = fh.channel;
      sec = fh.sec;
      msec = fh.msec;
      if (key && rh.protocol == 'S') {
        const double t = sec + msec / 1000.0;
        double& last = last_s_entry[channel & 0xFF];
        key = last < 0 || t >= last + 1.0 || t < last;
        if (key) last = t;
      }
    } else if (rh.media == 'Y' && hs == PICTURE_HEADER_SIZE) {
      rx->protocol = rh.protocol;
      const PICTURE_HEADER ph = decode_picture_header(h);
      if (rh.size != ph.size + PICTURE_HEADER_SIZE)
        std::printf("Header data size does not match with data!\n");
      key = ph.vop_type == 0;
      channel = ph.channel;
      sec = ph.sec;
      msec = uint16_t(ph.usec / 1000);
    }
    if (key && add_record_key_frame(index, count, RECORD_INDEX_MAX, channel, sec, msec, off) != 0 &&
        !warned) {
      // The box is the window loop's: the player neither waits on it nor holds the file.
      post_link_error_box(rx->index, "Too many key frames inside the file.\n");
      warned = true;
    }
    off += FRAME_RECORD_HEADER_SIZE + rh.size;
    if (rx_stopping(rx)) return -7;  // a long file is not read to its end after a stop
  }
  std::fseek(f, 0, SEEK_SET);
  return 0;
}

int seek_record_file(RECEIVER_INFO* rx) {
  if (!rx) return 0;
  const double t = rx->position;
  with_player(rx, [&](PLAYER_STATE& st) {
    const int i = find_key_frame(st.index.data(), st.count, t);
    SdlLock lock(rx->mutex);
    if (rx->file) fseeko(rx->file, off_t(i < 0 ? 0 : st.index[size_t(i)].offset), SEEK_SET);
  });
  return 0;
}

namespace {

// One record read whole at the file position, under the receiver's mutex. A short read or an
// invalid header puts the position back at the record, where the player rests until a seek.
enum ReadResult { READ_OK, READ_SHORT, READ_INVALID };
ReadResult read_record(RECEIVER_INFO* rx, uint8_t* buf, FRAME_RECORD_HEADER* rh) {
  SdlLock lock(rx->mutex);
  FILE* f = rx->file;
  const off_t at = ftello(f);
  ReadResult r = READ_OK;
  if (std::fread(buf, 1, FRAME_RECORD_HEADER_SIZE, f) != FRAME_RECORD_HEADER_SIZE) {
    r = READ_SHORT;
  } else {
    *rh = decode_frame_record_header(buf);
    if (!valid_record(*rh))
      r = READ_INVALID;
    else if (std::fread(buf, 1, rh->size, f) != rh->size)
      r = READ_SHORT;
  }
  if (r != READ_OK) {
    std::clearerr(f);
    fseeko(f, at, SEEK_SET);
  }
  return r;
}

struct RecordPlayer {
  RECEIVER_INFO* rx = nullptr;
  APP_CONTEXT* ctx = nullptr;
  uint32_t seen = 0;  // channels whose video was fed
  PLAYER_PACER pacer;

  // The grid for the channels seen, with the file's first channel in cell 0 of page 0. It is
  // asked for only when a channel shows up first, so a layout the operator picks meanwhile
  // stays.
  void adapt_layout(uint32_t channel) {
    if ((seen >> channel) & 1u) return;
    if (seen == 0 && rx->channels[channel].id != 0) {
      // Ids stay unique: the channel that had id 0 takes this one's.
      const int32_t old_id = rx->channels[channel].id.load();
      for (CHANNEL_INFO& c : rx->channels)
        if (c.id.load() == 0) c.id.store(old_id);
      rx->channels[channel].id.store(0);
    }
    seen |= 1u << channel;
    int side = int(std::lround(std::sqrt(double(std::popcount(seen)))));
    show_grid(side < 1 ? 1 : side);
  }

  // Rewrites one record for the rings and feeds it. false when the receiver stopped.
  bool feed(const FRAME_RECORD_HEADER& rh, uint8_t* rec, int64_t pass_start) {
    const size_t hs = header_size(rh.protocol, rh.media);
    uint32_t channel = 0;
    double frame_ms = -1;
    bool video = rh.media == 'Y' && hs != 0;
    if (video && hs == PICTURE_HEADER_SIZE) {
      const PICTURE_HEADER ph = decode_picture_header(rec);
      frame_ms = ph.sec * 1000.0 + ph.usec / 1000;
      put_le16(rec + 30, 0);
      channel = ph.channel;
      if (rh.size != ph.size + PICTURE_HEADER_SIZE)
        std::printf("Header data size does not match with data!\n");
    } else if (video) {
      const FRAME_HEADER fh = decode_frame_header(rec);
      frame_ms = fh.sec * 1000.0 + fh.msec;
      rec[2] = 0;
      channel = fh.channel;
      // All 'Q' video of a file shows as channel 0.
      if (rh.protocol == 'Q') rec[8] = 0;
      if (rh.size != fh.size + FRAME_HEADER_SIZE)
        std::printf("Header data size does not match with data!\n");
    } else if (hs == AUDIO_FRAME_HEADER_SIZE) {
      if (ctx->playback_speed.load() != 1.0) return true;
      const AUDIO_FRAME_HEADER ah = decode_audio_frame_header(rec);
      frame_ms = ah.sec * 1000.0 + ah.msec;
      rec[2] = 0;
      put_le16(rec + 6, 0);
      channel = ah.channel;
      if (rh.size != ah.samples + AUDIO_FRAME_HEADER_SIZE)
        std::printf("Header data size does not match with data!\n");
    }
    // Channel numbers come from the file: beyond the 32 a receiver has, the record is skipped.
    if (channel >= uint32_t(MAX_CHANNELS)) return true;
    if (video) adapt_layout(rh.protocol == 'Q' ? 0 : channel);
    stats_add(STAT_RECEIVED, 1);
    stats_add(STAT_BYTES, rh.size);
    if (ctx->num_slots > 0) {
      const uint32_t slot = channel % ctx->num_slots;
      if (ring_write_record(ctx, slot, rx, rh.protocol, rh.media, rec, hs, rec + hs, rh.size - hs,
                            0, RING_WAIT_ROOM) < 0)
        return false;
    }
    if (frame_ms >= 0) pacer.pace(rx, frame_ms, pass_start);
    return true;
  }
};

}  // namespace

int play_record_file(RECEIVER_INFO* rx) {
  RecordPlayer p;
  p.rx = rx;
  p.ctx = rx ? rx->context : nullptr;
  uint8_t* buf = nullptr;
  bool resting = false;  // at the end of the file or a damaged record: reported once
  return run_file_player(
      rx, RECORD_INDEX_MAX,
      [&](PLAYER_STATE& st, uint8_t* b) {
        buf = b;
        return index_record_file(st.index.data(), &st.count, rx);
      },
      [&] {
        const int64_t pass_start = player_now_ms();
        FRAME_RECORD_HEADER rh;
        ReadResult r = read_record(rx, buf, &rh);
        if (r != READ_OK) {
          if (!resting) std::printf(r == READ_SHORT ? "fread() failed.\n" : "Invalid data size!\n");
          resting = true;
          player_sleep(rx, 250);
          return true;
        }
        resting = false;
        rx->protocol = rh.protocol;
        return p.feed(rh, buf, pass_start);
      });
}
