// Protocol 'Q' receive thread and the requests the window thread sends on the same link.
//
// recv_nc_data runs on its own thread, one per 'Q' receiver: resolves the DVR (address, host
// name or DDNS), connects without blocking, logs in, keeps the DVR sending the selected and
// shown channels, and dispatches every packet until the receiver is told to stop; after any
// failure it reconnects. Every length read from the link is bounded by its packet and the
// buffer: a bad packet is skipped, a lost stream is dropped and re-made. The video-loss state
// follows the status of whole stream packets only; its notices, like the motion and sensor
// notices, name only the DVR's own channels (mask bits beyond them are dropped). The
// statistics count the bytes read from the link, once a packet, never a size a header
// announces. A page change
// reaches a live link within a tenth of a second, even while it waits for a packet; a DVR
// asked for no channel sends only its notices, and that silence never drops the link.
//
// Sends from any thread go through the receiver's send lock, and the link socket is closed
// under that lock, so sends never interleave and never hit a closed socket. The requests
// below (select, playback, PTZ, recording state) wait at most about 2 s in all and never
// change the receiver's status word: a stalled DVR neither holds the window loop nor ends
// the receive loop. A request cut off half-way shuts the link down for a fresh one. An
// operator's request that is not sent while the DVR is linked is told to the operator in a
// box through the notice queue ("The request could not be sent to the DVR.").
// Event notices, presets, search records and error messages for the operator reach the
// window loop through the notice queue of link_notices.h; this thread never shows a box.
#pragma once

#include <cstddef>
#include <cstdint>

#include "client/foundation/app_state.h"
#include "client/foundation/config/mailslot.h"
#include "client/links/frame_headers.h"
#include "client/links/nc_packets.h"

// Thread entry: 0 after a stop; -1 when memory fails (fatal box "Not enough memory.").
int recv_nc_data(RECEIVER_INFO* rx);

// Sends one request of `type`/`mode` on `sock` (header + the type's body from `body`, zeros
// when null) within 10 s: 0, or -1. Caller holds the receiver's send lock.
int nc_send_packet(int sock, int type, int mode, const uint8_t* body, std::atomic<int32_t>* status);
// The same on the receiver's link under its send lock: 0; -2 when there is no link; -1 failed.
int nc_send_request(RECEIVER_INFO* rx, int type, int mode, const uint8_t* body);

// The packet loop of one connection on `sock` (already logged in or not): reads and
// dispatches packets until the status word leaves RX_RECEIVING, as the receive thread does after
// its login request. buf[cap] is the receive buffer (NC_RECV_ALLOC). Returns 0. Used by the receive
// thread; exposed for the fuzz target of the packet stream.
int nc_read_packets(RECEIVER_INFO* rx, int sock, NC_LOGIN_STATE* st, uint8_t* buf, size_t cap);

// Requests (search and playback windows, PTZ, recording; select also after login). The
// operator's requests stop at the first packet that was not sent and post the box for it.
// nc_select_channels (the receive thread's, retried by it, no box): 0; -1 when no channel is
// selected and shown; -2 when it was not sent.
int nc_select_channels(RECEIVER_INFO* rx);
// nc_request_playback, nc_send_record_state: 0 (or no link); -1 not sent, box posted.
int nc_request_playback(RECEIVER_INFO* rx, int year, int month, int day, int channel, int hour);
int nc_send_record_state(RECEIVER_INFO* rx, int started);
// 0; -1 no rx; -2 no link; -3 not sent, box posted.
int nc_send_playback_command(RECEIVER_INFO* rx, int action, int speed);
int nc_send_ptz(RECEIVER_INFO* rx, int channel, int action, int value);

// 0; -1 channel not below num_video; -2 frame above 0x80000 bytes.
int validate_fh(const FRAME_HEADER& fh, int num_video);
// 0; -1 channel not below the audio channel count.
int validate_ah(const AUDIO_FRAME_HEADER& ah, int num_audio);

// Stores of the receive thread (public for tests): write one 'Q' record into the rings.
// recv_video_data: 0 stored; -1 unselected/invalid; -2 channel in video loss; -3 dropped
// (not shown and not recording, or no ring room).
int recv_video_data(const FRAME_HEADER& fh, const uint8_t* data, RECEIVER_INFO* rx);
// recv_audio_data: 0 stored; -1 invalid; -3 dropped (audio off or no room).
int recv_audio_data(const AUDIO_FRAME_HEADER& ah, const uint8_t* data, RECEIVER_INFO* rx);

// Parses one live/playback frame stream (FSH + video + four audio blocks) of `len` bytes and
// stores its frames: 0; -4 unparsable FSH; -5 sizes that do not fit the stream (skipped).
// Each camera mapped to an audio channel gets that channel's block; every stream header that
// carries audio, with a frame or without one (mode 64), maps the camera it names to the
// audio channel it names.
int nc_store_frame_stream(RECEIVER_INFO* rx, NC_LOGIN_STATE* st, const uint8_t* stream, size_t len,
                          bool video, bool audio, bool key_only);

// Hooks the window side registers (any may be null; defaults push the user events).
struct NC_HOOKS {
  // A time-playback window takes the search reply itself (window mode 7).
  void (*start_search_at_time)(RECEIVER_INFO* rx);
  // Receiver notice (UE_RECEIVER_NOTICE) for receiver `index`.
  void (*receiver_notice)(int index);
};
void set_nc_hooks(const NC_HOOKS& hooks);
// Pushes the receiver notice through the hook, else UE_RECEIVER_NOTICE with data1 = null and
// data2 = the receiver index.
void post_receiver_notice(int index);
