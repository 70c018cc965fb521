// Local recording of the selected channels to ".zol" files, and playback of such files.
//
// A ".zol" file is a plain sequence of ring records (FRAME_RECORD_HEADER, frame header,
// data), no file header. Receive threads hand every record of a recording channel to
// append_record, which only copies it into one bounded in-memory queue (RECORD_QUEUE_LIMIT
// bytes for the process, held while anything records); one writer thread appends the records
// to their files, each with a single write of the whole record; a sync thread syncs every
// open file about once a second and at close (so slow syncs never hold up the writes), and
// the directory after a file was created. So a killed process loses at most what was queued,
// and every file ends on a whole record.
//
// Threads: the switches (toggle/start/stop_recording) run on the window loop; append_record
// on receive threads; end_recordings on the thread that stops the receivers, after they were
// joined, or on the thread that ends the process when the X server goes away. Flags, masks
// and files of the channels change under the context's record mutex, so an append never
// meets a closed file.
//
// Failures: a file that cannot be created leaves its channel not recording; each such file is
// printed, and the first of a switch is also written to the system log ("ERROR" line) and
// posted for the window loop's error box, so one press that records nothing shows one box
// ("Recording to <file or folder> not started: <reason>"). When the queue is
// full a channel's records are dropped until its next key frame (each gap counted and printed
// once); the receive thread never waits. A failed or short write cuts the file back to its last
// whole record, closes it (deleted when no whole record is left), switches that channel off
// with one line naming the file and the error, and pushes user event 26 when no channel
// records any more; other channels go on. The first such line after recording was switched
// on is also posted for the window loop's error box (link_notices.h), so a full disk that
// stops every channel shows one box.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "client/foundation/app_state.h"

constexpr size_t RECORD_QUEUE_LIMIT = size_t(32) << 20;
// Files of at most this many bytes are deleted when the record switch stops them.
constexpr long RECORD_MIN_KEPT_SIZE = 0x20000;

// Name of the last recording closed by a switch ("" before the first).
extern char last_record_name[256];

// Switches recording of every selected channel (off when it records: the file is closed and,
// at RECORD_MIN_KEPT_SIZE bytes or less, deleted; else on, into a new file named by
// make_capture_name). Returns 0 after pushing user event 26 when no channel records any more,
// else the number of channels that record.
int toggle_recording(APP_CONTEXT* ctx);
// Opens a file for every selected channel: 0 (user event 26 pushed) when none records, else
// the number of channels that record.
int start_recording(APP_CONTEXT* ctx);
// Closes every recording (files kept whatever their size) and pushes user event 26: 0.
int stop_recording(APP_CONTEXT* ctx);

// The window side of the recording switch ('Q' DVRs told that local recording started or
// stopped); called in the main window only. Either may be null.
struct RECORDING_HOOKS {
  void (*switch_q_dvrs_on)(APP_CONTEXT* ctx);
  void (*switch_q_dvrs_off)(APP_CONTEXT* ctx);
};
void set_recording_hooks(const RECORDING_HOOKS& hooks);

// Receive threads: the record they just stored for `channel` of `rx` (the same arguments as
// ring_write_record). Queued when the channel records and the record's time stamp is later
// than that of the last record of its kind (video or audio) appended to the channel's file;
// for 'W' records, later than the channel's previous record, appended or not.
// Returns 1 queued, 0 not recording or not later, -1 dropped (queue full, or waiting for the
// key frame after a gap).
int append_record(RECEIVER_INFO* rx, int channel, uint8_t protocol, uint8_t media,
                  const uint8_t* fh, size_t fh_len, const uint8_t* data, size_t data_len,
                  size_t reserve);

// Closes every recording of ctx's receivers (files kept), lets the writer write everything
// queued, and ends the writer once no file is open anywhere. Called when receivers stop, and
// from whichever thread meets the X server's loss (receivers still running); callers on
// several threads at once each return once the files are closed.
void end_recordings(APP_CONTEXT* ctx);

// Process-wide figures since start (benchmarks and tests).
struct RECORD_COUNTERS {
  uint64_t queued;   // records queued
  uint64_t written;  // records written whole
  uint64_t bytes_written;
  uint64_t dropped;        // records dropped at the queue
  uint64_t gaps;           // runs of dropped records
  uint64_t failures;       // files closed by a failed write
  uint64_t writer_cpu_ns;  // CPU time of the writer thread (syncs not included)
};
RECORD_COUNTERS get_record_counters();

// Test seam: the write the writer uses (::write by default; null restores it).
using RECORD_WRITE_FN = ssize_t (*)(int fd, const void* data, size_t len);
void set_record_write(RECORD_WRITE_FN fn);

// ---- recorded-file playback --------------------------------------------------------------

// One key frame of the file being played (in file order).
struct KEY_FRAME_ENTRY {
  uint32_t channel;
  uint32_t sec;
  uint16_t msec;
  uint64_t offset;  // of the record's FRAME_RECORD_HEADER (".dat": two bytes before its pattern)
};
constexpr int RECORD_INDEX_MAX = 3600;
constexpr uint32_t RECORD_MAX_SIZE = 0x100000;  // largest record size field accepted
constexpr size_t PLAYER_BUFFER_SIZE = 1049600;  // one record or frame

// Appends one entry when count is below `max` (else returns -1 and adds nothing): 0.
int add_record_key_frame(KEY_FRAME_ENTRY* index, int* count, int max, uint32_t channel,
                         uint32_t sec, uint16_t msec, uint64_t offset);
// Builds the key-frame index of rx's open file (at most RECORD_INDEX_MAX entries). Every 'S'
// frame is a key frame, entered at most once a second per channel. A record that is not
// whole and valid ends the index there (a cut file plays to its last whole record). 0 with
// the file back at offset 0; -1 "stat() failed.\n"; -2 "invalid file size.\n" (below 13
// bytes); -3 no memory (fatal box); -7 the receiver was told to stop meanwhile. Beyond
// RECORD_INDEX_MAX entries "Too many key frames inside the file.\n" is posted once for a box
// on the window loop (link_notices.h).
int index_record_file(KEY_FRAME_ENTRY* index, int* count, RECEIVER_INFO* rx);
// The entry to seek to for time t (seconds): -1 for offset 0 (no entries, or t before the
// first), else the index of the entry found by the binary search.
int find_key_frame(const KEY_FRAME_ENTRY* index, int count, double t);
// Positions rx's file at the key frame for rx's seek time (rx->position), under rx's mutex: 0.
// Window loop.
int seek_record_file(RECEIVER_INFO* rx);
// Thread entry of the recorded-file player: 0 after the receiver stopped; -1 no memory;
// -2 no index ("Error in creating index file.\n" box).
int play_record_file(RECEIVER_INFO* rx);
