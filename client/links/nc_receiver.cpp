#include "client/links/nc_receiver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "client/foundation/channel_table.h"
#include "client/foundation/config/app_options.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/dvr_events.h"
#include "client/foundation/sock_io.h"
#include "client/foundation/stats.h"
#include "client/foundation/user_events.h"
#include "client/links/ddns.h"
#include "client/links/fsh_info.h"
#include "client/links/link_common.h"
#include "client/links/link_notices.h"
#include "client/links/receive_rings.h"
#include "client/links/recording.h"
#include "platform/net/net.h"

namespace {

// Hands a DVR event to the main window's event worker; with no worker running (the other
// windows act on no DVR event) it goes with the link notices, which the loops pass over.
void post_dvr_event(const EVENT_NOTICE& note, int receiver) {
  if (queue_dvr_event(note, receiver) == -1)
    post_link_notice(UE_DVR_EVENT, &note, sizeof note, receiver);
}

// A length beyond this is a corrupt stream, not a packet: reading it through would blank a
// live DVR for minutes while it looks connected, so the link is dropped and made anew.
constexpr uint32_t kMaxDiscard = 2u << 20;
constexpr uint32_t kMaxScan = 2u << 20;  // bytes searched for the magic before giving up
// Requests of the window thread wait at most this long for the send lock, and as long again
// for the socket.
constexpr auto kRequestLockWait = std::chrono::milliseconds(1000);
constexpr int kRequestSendSeconds = 1;
constexpr const char* kNotSentBox = "The request could not be sent to the DVR.";
// Reconnect back-off after refused logins: 500 ms, doubling up to 30 s.
constexpr int kFirstBackoffMs = 500, kMaxBackoffMs = 30000;

// What a receive thread keeps across its connections.
struct LinkRetry {
  int refusals = 0;       // refused logins in a row
  bool refused = false;   // the connection under way was refused
  uint16_t last_box = 0;  // error code last put in a box for the operator, 0 none
};

NC_HOOKS g_hooks{};
std::mutex g_hooks_lock;

NC_HOOKS hooks() {
  std::lock_guard<std::mutex> g(g_hooks_lock);
  return g_hooks;
}

void pause_ms(const RECEIVER_INFO* rx, int ms) { rx_pause_ms(rx, ms); }

void fail_status(RECEIVER_INFO* rx, int32_t from) { rx_fail_status(rx, from); }

// The link's reader, counting the bytes it hands over: the statistics count what came, never
// the size a header announces, which a refused header may put at a gigabyte.
class CountedReader {
 public:
  CountedReader(int sock, RECEIVER_INFO* rx) : rd_(sock, rx) {}
  int read(uint8_t* out, uint32_t n, const std::function<bool()>& hold = {}) {
    const int r = rd_.read(out, n, hold);
    if (r == 1) taken_ += n;
    return r;
  }
  const uint8_t* view(uint32_t n, int* result) {
    const uint8_t* p = rd_.view(n, result);
    if (p) taken_ += n;
    return p;
  }
  // Adds what was read since the last call to the statistics: once a packet.
  void count() {
    if (taken_ != 0) stats_add(STAT_BYTES, taken_);
    taken_ = 0;
  }

 private:
  LinkReader rd_;
  uint32_t taken_ = 0;  // at most a packet: a header, kMaxScan and kMaxDiscard or the buffer
};

// Reads exactly n bytes (counted once per packet by the packet loop): 1 read, 0 short (held or
// failed; the packet ends).
int read_full(CountedReader& rd, uint8_t* buf, uint32_t n, RECEIVER_INFO* rx) {
  if (n == 0) return 1;
  int r = rd.read(buf, n);
  if (r == 1) return 1;
  if (r < 0) {
    std::printf("recv_timeout() failed.\n");
    fail_status(rx, RX_RECEIVING);  // the stream is out of step: make the link anew
  }
  return 0;
}

// Reads and throws away n bytes so the stream stays in step: 0, or -1 (link is lost).
int discard(CountedReader& rd, uint8_t* buf, size_t cap, uint32_t n, RECEIVER_INFO* rx) {
  if (n > kMaxDiscard) {
    fail_status(rx, RX_RECEIVING);
    return -1;
  }
  while (n > 0) {
    uint32_t k = n < cap ? n : uint32_t(cap);
    if (!read_full(rd, buf, k, rx)) return -1;
    n -= k;
  }
  return 0;
}

int num_video_of(const RECEIVER_INFO* rx) {
  return int(rx->num_video > uint32_t(MAX_CHANNELS) ? MAX_CHANNELS : rx->num_video);
}

uint32_t selected_and_shown(const RECEIVER_INFO* rx) {
  return rx->shown_mask & rx->sel_vid_ch.load();
}

long tz_west_seconds() {
  tzset();
  return timezone;
}

// The bits of the DVR's own channels. A DVR may set bits beyond them in its masks; the event
// worker would log, mark and mail a channel for each.
uint32_t own_channels(const RECEIVER_INFO* rx) {
  const int n = num_video_of(rx);
  return n >= 32 ? 0xFFFFFFFFu : ((1u << n) - 1);
}

// Video-loss check on every status prefix: pushes a notice when the set of lost channels
// changes.
void check_video_loss(RECEIVER_INFO* rx, uint16_t loss) {
  int n = num_video_of(rx);
  uint32_t lost = 0;
  for (int k = 0; k < n; ++k)
    if (rx->channels[k].video_state.load() == VIDEO_LOST) lost |= 1u << k;
  uint32_t now_lost = uint32_t(loss) & own_channels(rx);
  if (now_lost == lost) return;
  for (int k = 0; k < n; ++k)
    rx->channels[k].video_state.store((now_lost >> k) & 1 ? VIDEO_LOST : VIDEO_PRESENT);
  EVENT_NOTICE note;
  note.marker = 1;
  // Only the DVR's own channels: the window loop marks every bit of the mask as lost.
  if (now_lost != 0) {
    note.mask_80 = now_lost;
    std::snprintf(note.dvr_name, sizeof note.dvr_name, "%s", rx->name);
    note.time = int64_t(std::time(nullptr));
  }
  post_dvr_event(note, rx->index);
}

int login(const uint8_t* body, size_t len, RECEIVER_INFO* rx, NC_LOGIN_STATE* st) {
  if (len < 1 || body[0] == 0) {
    std::printf("login() failed.\n");
    return -1;
  }
  std::printf("login() ok!\n");
  int layout = nc_parse_login_reply(body, len, st);
  if (layout < 0) {
    std::printf("client software mismatched!\n");
    return -2;
  }
  push_user_event(UE_LOGGED_IN, rx);
  return layout;
}

// Login errors (group 0x10): the DVR refused this client's account or session.
bool is_login_refusal(uint16_t code) { return code >= 0x1021 && code <= 0x1024; }

// The search window's busy word ends with the answer it waits for: a search reply, an error
// reply or a login.
void end_search_busy(RECEIVER_INFO* rx) {
  if (rx->context) rx->context->search_state.store(SEARCH_IDLE);
}

int recv_error_info(CountedReader& rd, const NC_PACKET_HEADER& h, uint8_t* buf, size_t cap,
                    RECEIVER_INFO* rx, LinkRetry* retry) {
  uint32_t n = h.packet_size;
  uint32_t take = n < cap ? n : uint32_t(cap);
  if (!read_full(rd, buf, take, rx)) return -1;
  if (n > take && discard(rd, buf, cap, n - take, rx) != 0) return -1;
  end_search_busy(rx);
  if (take < 2) return 0;
  uint16_t code = get_be16(buf);
  const NC_ERROR_TEXT* e = nc_error_text(code);
  if (!e) return 0;
  std::printf("%s", e->debug);
  if (is_login_refusal(code)) retry->refused = true;
  // The box is the window loop's: a modal box here would stall this link and the disconnect
  // that joins it. A DVR refusing each reconnection shows its box once, until its error
  // changes; every answer to a request of the operator shows its own.
  if (e->box && (code != retry->last_box || !is_login_refusal(code))) {
    retry->last_box = code;
    post_link_error_box(rx->index, e->box);
  }
  return 0;
}

// Reads a fixed-size reply whatever packet_size claims, then skips what the packet holds
// beyond it so the next header is read in step.
int read_fixed_reply(CountedReader& rd, const NC_PACKET_HEADER& h, uint8_t* buf, size_t cap,
                     uint32_t size, RECEIVER_INFO* rx) {
  if (!read_full(rd, buf, size, rx)) return -1;
  if (h.packet_size > size && discard(rd, buf + size, cap - size, h.packet_size - size, rx) != 0)
    return -1;
  return 0;
}

int recv_nc_event(CountedReader& rd, const NC_PACKET_HEADER& h, uint8_t* buf, size_t cap,
                  RECEIVER_INFO* rx) {
  if (read_fixed_reply(rd, h, buf, cap, 9, rx) != 0) return -1;
  EVENT_NOTICE note = nc_event_notice(buf, rx->name, tz_west_seconds());
  // Only the DVR's own channels, as for a loss. A kind whose mask is left empty still goes:
  // it ends that kind's marks.
  const uint32_t own = own_channels(rx);
  note.mask_motion &= own;
  note.mask_sensor &= own;
  note.mask_40 &= own;
  note.mask_80 &= own;
  post_dvr_event(note, rx->index);
  return 0;
}

int recv_preset(CountedReader& rd, const NC_PACKET_HEADER& h, uint8_t* buf, size_t cap,
                RECEIVER_INFO* rx) {
  if (read_fixed_reply(rd, h, buf, cap, 256, rx) != 0) return -1;
  auto t = std::make_unique<NC_PRESET_TABLE>();
  if (nc_fill_preset_table(buf, rx->name, t.get()) > 0)
    post_link_notice(UE_PRESET_LIST, t.get(), sizeof *t, rx->index);
  return 0;
}

int recv_search_result(CountedReader& rd, const NC_PACKET_HEADER& h, uint8_t* buf, size_t cap,
                       RECEIVER_INFO* rx) {
  end_search_busy(rx);
  if (app_options.mode == 7) {
    NC_HOOKS hk = hooks();
    if (hk.start_search_at_time) hk.start_search_at_time(rx);
    // The body stays unread; the header scan of the next packet steps over it.
    return 0;
  }
  uint32_t n = h.packet_size;
  uint32_t take = n < cap ? n : uint32_t(cap);
  if (!read_full(rd, buf, take, rx)) return -1;
  if (n > take && discard(rd, buf, cap, n - take, rx) != 0) return -1;
  NC_SEARCH_RECORD r;
  nc_fill_search_record(buf, take, &r);
  nc_print_search_info(buf, take);
  post_link_notice(UE_SEARCH_DATA, &r, sizeof r, rx->index);
  return 0;
}

// The frame stream's header and whether the sizes it claims fit the `len` bytes: 0; -4
// unparsable header; -5 sizes beyond the stream.
int parse_frame_stream(const RECEIVER_INFO* rx, const NC_LOGIN_STATE* st, const uint8_t* stream,
                       size_t len, FRAME_HEADER* fh, AUDIO_FRAME_HEADER* ah, int* kind) {
  int status = 0;
  *kind = get_fsh_info(stream, len, &status, st->fsh_layout, fh, ah);
  if (*kind == 0) {
    std::printf("get_fsh_info() failed.\n");
    return -4;
  }
  const size_t hsz = size_t(st->fsh_size);
  const size_t vsz = fh->size;
  const size_t n = ah->samples;
  if (hsz + vsz > len || (n != 0 && hsz + vsz + 4 * n > len)) {
    std::printf("%d: frame sizes exceed their packet; skipped.\n", rx->index);
    return -5;
  }
  return 0;
}

// Types 3 and 17: packet_size counts the 8 header bytes.
int recv_stream_packet(CountedReader& rd, const NC_PACKET_HEADER& h, uint8_t* buf, size_t cap,
                       RECEIVER_INFO* rx, NC_LOGIN_STATE* st, bool live) {
  if (h.packet_size < NC_HEADER_SIZE) return -5;
  uint32_t body = h.packet_size - uint32_t(NC_HEADER_SIZE);
  bool audio_only = live && h.cmd_mode == 64;
  uint8_t status[NC_PACKET_STATUS_SIZE];
  if (!audio_only) {
    if (body < NC_PACKET_STATUS_SIZE) { return discard(rd, buf, cap, body, rx) == 0 ? -5 : -1; }
    if (!read_full(rd, status, uint32_t(sizeof status), rx)) return 0;
    body -= uint32_t(NC_PACKET_STATUS_SIZE);
  }
  // The status of a packet that is skipped is as untrustworthy as its frame: the loss check
  // waits until the packet is known to be whole.
  if (body > cap) {
    std::printf("%d: packet of %u bytes exceeds the receive buffer; skipped.\n", rx->index, body);
    return discard(rd, buf, cap, body, rx) == 0 ? -5 : -1;
  }
  int vr = 0;
  const uint8_t* stream = rd.view(body, &vr);
  if (!stream) {
    if (vr < 0) {
      std::printf("recv_timeout() failed.\n");
      fail_status(rx, RX_RECEIVING);
    }
    return 0;
  }
  if (live && !audio_only) {
    FRAME_HEADER fh;
    AUDIO_FRAME_HEADER ah;
    int kind = 0;
    const int parsed = parse_frame_stream(rx, st, stream, body, &fh, &ah, &kind);
    if (parsed != 0) return parsed;
    check_video_loss(rx, decode_nc_packet_status(status).loss);
  }
  APP_CONTEXT* ctx = rx->context;
  double speed = ctx ? ctx->playback_speed.load() : 1.0;
  bool key_only = !live && speed > 1.0;
  bool audio = live || speed == 1.0;
  return nc_store_frame_stream(rx, st, stream, body, !audio_only, audio, key_only);
}

// A live receiver asks for its shown channels from the packet loop, before its next read.
void nc_after_login(RECEIVER_INFO* rx) {
  if (rx->op_mode == 1) {
    return;
  } else if (rx->op_mode == 5) {
    nc_send_playback_command(rx, 80, 0);
  } else if (app_options.mode == 7) {
    nc_request_playback(rx, int(app_options.start_year), int(app_options.start_month) - 1,
                        int(app_options.start_day), int(app_options.start_channel),
                        int(app_options.start_hour));
  }
}

int find_magic_code(CountedReader& rd, NC_PACKET_HEADER* h, RECEIVER_INFO* rx) {
  std::printf("inside find_magic_code()\n");
  uint8_t prev = 0, cur = 0;
  bool have_prev = false;
  for (uint32_t scanned = 0; scanned < kMaxScan; ++scanned) {
    if (rd.read(&cur, 1) != 1) return -1;
    if (have_prev && prev == 0x54 && cur == 0x71) {
      uint8_t tm[2];
      if (rd.read(tm, 2) != 1) return -2;
      if (tm[0] == 3 || tm[0] == 17) {
        uint8_t len[4];
        if (rd.read(len, 4) != 1) return -3;
        h->magic_code = NC_MAGIC;
        h->cmd_type = tm[0];
        h->cmd_mode = tm[1];
        h->packet_size = get_be32(len);
        return 0;
      }
      have_prev = false;  // the two bytes read are not scanned again
      continue;
    }
    prev = cur;
    have_prev = true;
  }
  return -1;
}

// Target address by host type: 0 with the address, -1 none.
int target_address(RECEIVER_INFO* rx, uint32_t* addr) {
  if (std::strcmp(rx->host_type, "IP") == 0) return net_parse_ipv4(rx->address, addr);
  if (std::strcmp(rx->host_type, "NAME") == 0) return resolve_interruptible(rx->address, addr, rx);
  if (std::strcmp(rx->host_type, "DDNS") == 0) {
    winsock_start();
    int s = connectToDDNS(ddns_server_address(), ddns_server_port());
    if (s < 0) return -1;
    char dotted[32] = {};
    if (loginDDNS(s, rx->address, dotted, sizeof dotted) < 0) {
      std::printf("loginDDNS Error\r\n");
      return -1;
    }
    return net_parse_ipv4(dotted, addr);
  }
  // Any other host type: an address that parses as one is still used.
  return net_parse_ipv4(rx->address, addr);
}

void close_link(RECEIVER_INFO* rx) {
  std::lock_guard<std::timed_mutex> g(rx->send_lock);
  int fd = rx->sock.exchange(-1);
  net_close(fd);
}

void dispatch(CountedReader& rd, const NC_PACKET_HEADER& h, uint8_t* buf, size_t cap, uint32_t got,
              RECEIVER_INFO* rx, NC_LOGIN_STATE* st, LinkRetry* retry) {
  const int idx = rx->index;
  switch (h.cmd_type) {
    case DVR_CMD_LOGIN: {
      std::printf("%d: received DVR_CMD_LOGIN\n", idx);
      size_t len = got < 128 ? got : 128;
      int r = login(buf, len, rx, st);
      // A layout-0 DVR answers 0; it is logged in as well and needs its channels too.
      if (r >= 0) {
        end_search_busy(rx);
        rx->logged_in.store(1);
        retry->refusals = 0;
        retry->last_box = 0;
        nc_after_login(rx);
      } else {
        // Nothing more comes of this link: end it and try again after the back-off.
        retry->refused = true;
        fail_status(rx, RX_RECEIVING);
      }
      break;
    }
    case DVR_CMD_LIVE: recv_stream_packet(rd, h, buf, cap, rx, st, true); break;
    case 4:
    case 19:
    case 33:
    case 49: std::printf("%d: received DVR_CMD_STATUS etc\n", idx); break;
    case DVR_CMD_PLAYBACK: recv_stream_packet(rd, h, buf, cap, rx, st, false); break;
    case DVR_CMD_FINISH: std::printf("%d: received DVR_CMD_FINISH\n", idx); break;
    case DVR_CMD_SSEARCH:
      std::printf("%d: received DVR_CMD_SSEARCH\n", idx);
      recv_search_result(rd, h, buf, cap, rx);
      break;
    case DVR_CMD_EVENT: recv_nc_event(rd, h, buf, cap, rx); break;
    case DVR_CMD_PRESET: recv_preset(rd, h, buf, cap, rx); break;
    case DVR_CMD_ERROR:
      std::printf("%d received DVR_CMD_ERROR\n", idx);
      recv_error_info(rd, h, buf, cap, rx, retry);
      break;
    default: std::printf("%d: received unknown command type.\n", idx); break;
  }
}

void read_packets(RECEIVER_INFO* rx, int sock, NC_LOGIN_STATE* st, uint8_t* buf, size_t cap,
                  LinkRetry* retry);

// One connection: steps from socket creation to the leaving packet.
void run_connection(RECEIVER_INFO* rx, NC_LOGIN_STATE* st, uint8_t* buf, size_t cap,
                    LinkRetry* retry) {
  const int idx = rx->index;
  std::printf("%d: creating sockets ...\n", idx);
  int sock = net_tcp_socket();
  if (sock < 0) {
    std::printf("socket() failed.\n");
    rx->status.store(RX_FAILED);
    pause_ms(rx, 500);
    return;
  }
  std::printf("%d: preparing socket ...\n", idx);
  uint32_t addr = 0;
  int have_addr = target_address(rx, &addr);
  std::printf("%d: connecting to server ...\n", idx);
  if (rx_stopping(rx)) {
    net_close(sock);
    return;
  }
  rx->status.store(RX_CONNECTING);
  int c = have_addr == 0 ? net_connect(sock, addr, rx->live_port,
                                       int(rx->sock_timeout ? rx->sock_timeout : 30) * 1000,
                                       [rx] { return rx_stopping(rx); })
                         : -1;
  if (c != 0) {
    std::printf("%d: connect(%s) failed.\n", idx, rx->address);
    net_close(sock);
    fail_status(rx, RX_CONNECTING);
    pause_ms(rx, 500);
    return;
  }
  {
    std::lock_guard<std::timed_mutex> g(rx->send_lock);
    rx->sock.store(sock);
  }
  int32_t expected = RX_CONNECTING;
  if (!rx->status.compare_exchange_strong(expected, RX_RECEIVING)) {
    close_link(rx);
    return;
  }
  // Socket is already non-blocking (the connect left it so); every transfer is timed.
  *st = NC_LOGIN_STATE{};
  rx->logged_in.store(0);
  uint8_t body[20];
  nc_login_body(rx->username, rx->password, body);
  pause_ms(rx, 500);
  nc_send_request(rx, DVR_CMD_LOGIN, 1, body);
  std::memset(body, 0, sizeof body);  // the password does not linger on the stack

  read_packets(rx, sock, st, buf, cap, retry);
  uint8_t leave[12];
  nc_leave_body(leave);
  nc_send_request(rx, DVR_CMD_LEAVE, 4, leave);
  close_link(rx);
  rx->logged_in.store(0);
}

}  // namespace

int nc_read_packets(RECEIVER_INFO* rx, int sock, NC_LOGIN_STATE* st, uint8_t* buf, size_t cap) {
  LinkRetry retry;
  read_packets(rx, sock, st, buf, cap, &retry);
  return 0;
}

namespace {

// Reads and dispatches packets until the status word leaves 5.
void read_packets(RECEIVER_INFO* rx, int sock, NC_LOGIN_STATE* st, uint8_t* buf, size_t cap,
                  LinkRetry* retry) {
  const int idx = rx->index;
  CountedReader rd(sock, rx);
  // The channels this link last asked the DVR to stream; 0 until it asked for any.
  uint32_t asked = 0;
  auto live = [rx] { return rx->logged_in.load() && rx->op_mode == 1; };
  // A live DVR asked for nothing streams nothing, so waiting for its next packet must neither
  // time out (its silence is no fault) nor outlast a page change that shows its channels:
  // the wait gives up every quarter second while nothing was asked, and at once when the
  // shown channels differ from those asked for.
  uint64_t wait_from = 0;
  auto hold_for_page = [&] {
    if (!live()) return false;
    const uint32_t mask = selected_and_shown(rx);
    if (mask != 0 && mask != asked) return true;
    return asked == 0 && net_now_ms() - wait_from >= 250;
  };
  while (rx->status.load() == RX_RECEIVING) {
    rd.count();  // the bytes of the packet before
    // Reading goes on with nothing of this DVR on screen, so its events are still seen; the
    // video of channels not shown is dropped as it comes (recv_video_data).
    const uint32_t mask = selected_and_shown(rx);
    if (live() && mask != 0 && mask != asked && nc_select_channels(rx) == 0) asked = mask;
    uint8_t hb[NC_HEADER_SIZE];
    wait_from = net_now_ms();
    int hr = rd.read(hb, uint32_t(sizeof hb), hold_for_page);
    if (hr == 0) continue;  // held: the page changed, or a quiet DVR asked for nothing
    if (hr < 0) {
      std::printf("%d: recv_timeout() failed.\n", idx);
      fail_status(rx, RX_RECEIVING);
      break;
    }
    NC_PACKET_HEADER h = decode_nc_header(hb);
    if (h.magic_code != NC_MAGIC) {
      if (find_magic_code(rd, &h, rx) != 0) {
        std::printf("%d: find_magic_code() failed.\n", idx);
        fail_status(rx, RX_RECEIVING);
        break;
      }
    }
    if (!nc_type_accepted(h.cmd_type)) {
      std::printf("Invalid command received.\n");
      continue;
    }
    uint32_t got = 0;
    int t = h.cmd_type;
    if (t != 3 && t != 17 && t != 162 && t != 163 && t != 164 && t != 238 && h.packet_size > 0) {
      std::printf("SHOULD NOT BE IN HERE!\n");
      got = h.packet_size < cap ? h.packet_size : uint32_t(cap);
      if (!read_full(rd, buf, got, rx) ||
          (h.packet_size > got &&
           discard(rd, buf + got, cap - got, h.packet_size - got, rx) != 0)) {
        std::printf("%d: recv_timeout() failed.\n", idx);
        fail_status(rx, RX_RECEIVING);
        break;
      }
    }
    dispatch(rd, h, buf, cap, got, rx, st, retry);
  }
  rd.count();
}

}  // namespace

void set_nc_hooks(const NC_HOOKS& h) {
  std::lock_guard<std::mutex> g(g_hooks_lock);
  g_hooks = h;
}

void post_receiver_notice(int index) {
  NC_HOOKS hk = hooks();
  if (hk.receiver_notice) {
    hk.receiver_notice(index);
    return;
  }
  push_user_event(UE_RECEIVER_NOTICE, nullptr, reinterpret_cast<void*>(intptr_t(index)));
}

int validate_fh(const FRAME_HEADER& fh, int num_video) {
  if (int(fh.channel) >= num_video) return -1;
  if (fh.size > 0x80000u) return -2;
  return 0;
}

int validate_ah(const AUDIO_FRAME_HEADER& ah, int num_audio) {
  return int(ah.channel) >= num_audio ? -1 : 0;
}

namespace {

// Header and body of a request into pkt: the packet's length.
int build_request(int type, int mode, const uint8_t* body,
                  uint8_t (&pkt)[NC_HEADER_SIZE + NC_SEARCH_INFO_SIZE]) {
  int n = nc_request_body_size(type);
  std::memset(pkt, 0, sizeof pkt);
  NC_PACKET_HEADER h;
  h.cmd_type = uint8_t(type);
  h.cmd_mode = uint8_t(mode);
  h.packet_size = uint32_t(n);
  encode_nc_header(h, pkt);
  if (n > 0 && body) std::memcpy(pkt + NC_HEADER_SIZE, body, size_t(n));
  if (type == DVR_CMD_SSEARCH)
    std::printf("sizeof(NC_PACKET_HEADER) = %d + main_pkt_len = %d\n", int(NC_HEADER_SIZE), n);
  return int(NC_HEADER_SIZE) + n;
}

// Takes the send lock within `wait`: true when held. Tries again every millisecond rather
// than waiting in try_lock_for: libstdc++ waits for a timed_mutex on the monotonic clock
// through pthread_mutex_clocklock, which GCC 12's ThreadSanitizer does not see, and its
// report of the unlock that follows as unpaired was made with the lock still held - long
// enough under load for an operator's request to give up.
bool lock_within(std::unique_lock<std::timed_mutex>& g, std::chrono::milliseconds wait) {
  const auto end = std::chrono::steady_clock::now() + wait;
  while (!g.try_lock()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// A request of the window thread: waits for the send lock and then for the socket, each
// for a bounded time, with a status word of its own, so a stalled DVR can neither hold
// the window up for long nor end the receive loop through the receiver's status. A request
// cut off half-way would leave the DVR reading out of step: the link is then shut down and
// the receive thread makes it anew.
int send_request(RECEIVER_INFO* rx, int type, int mode, const uint8_t* body) {
  if (!rx) return -1;
  std::unique_lock<std::timed_mutex> g(rx->send_lock, std::defer_lock);
  if (!lock_within(g, kRequestLockWait)) return -1;
  int sock = rx->sock.load();
  if (sock < 0) return -2;
  uint8_t pkt[NC_HEADER_SIZE + NC_SEARCH_INFO_SIZE];
  const int len = build_request(type, mode, body, pkt);
  const uint64_t end = net_now_ms() + uint64_t(kRequestSendSeconds) * 1000;
  int sent = 0;
  while (sent < len) {
    long n = net_send(sock, pkt + sent, size_t(len - sent));
    if (n > 0) {
      sent += int(n);
      continue;
    }
    const uint64_t now = net_now_ms();
    if ((n < 0 && net_last_error() != NET_WOULDBLOCK) || now >= end || app_quit.load()) break;
    net_poll(sock, false, true, int(std::min<uint64_t>(end - now, 100)), nullptr, nullptr);
  }
  if (sent == len) return 0;
  if (sent > 0) net_shutdown(sock);
  return -1;
}

// A request the operator asked for: send_request's result. One that was not sent while the
// DVR was linked (-1) is told to the operator in a box; without a link (-2) the receiver's
// own notice already shows the DVR as not connected.
int operator_request(RECEIVER_INFO* rx, int type, int mode, const uint8_t* body) {
  const int r = send_request(rx, type, mode, body);
  if (r == -1 && rx) post_link_error_box(rx->index, kNotSentBox);
  return r;
}

}  // namespace

int nc_send_packet(int sock, int type, int mode, const uint8_t* body,
                   std::atomic<int32_t>* status) {
  if (sock < 0) return -1;
  uint8_t pkt[NC_HEADER_SIZE + NC_SEARCH_INFO_SIZE];
  const int len = build_request(type, mode, body, pkt);
  return send_timeout(sock, pkt, len, 10, status) > 0 ? 0 : -1;
}

int nc_send_request(RECEIVER_INFO* rx, int type, int mode, const uint8_t* body) {
  if (!rx) return -1;
  std::lock_guard<std::timed_mutex> g(rx->send_lock);
  int sock = rx->sock.load();
  if (sock < 0) return -2;
  return nc_send_packet(sock, type, mode, body, &rx->status);
}

int nc_select_channels(RECEIVER_INFO* rx) {
  uint32_t mask = selected_and_shown(rx);
  if (mask == 0) return -1;
  uint8_t body[12];
  nc_select_body(mask, num_video_of(rx), body);
  return send_request(rx, DVR_CMD_LIVE, 1, body) == 0 ? 0 : -2;
}

int nc_request_playback(RECEIVER_INFO* rx, int year, int month, int day, int channel, int hour) {
  uint8_t body[NC_SEARCH_INFO_SIZE];
  nc_code_body(20, body);
  if (operator_request(rx, DVR_CMD_PLAYBACK, 2, body) == -1) return -1;
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  nc_search_body(year, month, day, channel, hour, body);
  return operator_request(rx, DVR_CMD_SSEARCH, 80, body) == -1 ? -1 : 0;
}

int nc_send_playback_command(RECEIVER_INFO* rx, int action, int speed) {
  if (!rx) return -1;
  if (rx->sock.load() < 0) return -2;
  uint8_t body[12];
  // Each step is sent only when the one before it was: the operator hears of the first
  // that was not, once.
  auto code = [&](int type, uint8_t c) {
    nc_code_body(c, body);
    return operator_request(rx, type, 2, body) == -1 ? -3 : 0;
  };
  auto play = [&](uint8_t c) {
    nc_play_body(rx->sel_vid_ch.load(), uint32_t(rx->position > 0 ? rx->position : 0), c,
                 num_video_of(rx), speed, body);
    return operator_request(rx, DVR_CMD_PLAYBACK_STREAM, 2, body) == -1 ? -3 : 0;
  };
  auto gap = [] { std::this_thread::sleep_for(std::chrono::milliseconds(10)); };
  switch (action) {
    case 69: return code(DVR_CMD_PLAYBACK, 17);
    case 75:
      if (code(DVR_CMD_PLAYBACK, 20) != 0) return -3;
      gap();
      if (play(speed >= 1 ? 18 : 23) != 0) return -3;
      gap();
      return code(DVR_CMD_PLAYBACK, 17);
    case 80:
      if (play(3) != 0) return -3;
      gap();
      return code(DVR_CMD_PLAYBACK, 17);
    case 83: return code(DVR_CMD_LEAVE, 4);
    case 85: return code(DVR_CMD_PLAYBACK, 20);
    default: return 0;
  }
}

int nc_send_ptz(RECEIVER_INFO* rx, int channel, int action, int value) {
  if (!rx) return -1;
  if (rx->sock.load() < 0) return -2;
  // clang-format off
  struct Row { uint8_t c1, c2; int value_at; const char* line; };
  static const Row kRows[25] = {
      {'3', 0, 10, "sending CMD_PTZ_NN to channel %d\n"}, {'3', '2', 10, "sending CMD_PTZ_NE\n"},
      {'2', 0, 10, "sending CMD_PTZ_EE\n"}, {'2', '4', 10, "sending CMD_PTZ_ES\n"},
      {'4', 0, 10, "sending CMD_PTZ_SS\n"}, {'4', '1', 10, "sending CMD_PTZ_SW\n"},
      {'1', 0, 10, "sending CMD_PTZ_WW\n"}, {'1', '3', 10, "sending CMD_PTZ_WN\n"},
      {'5', 0, 10, nullptr}, {'6', 0, 10, nullptr}, {'8', 0, 10, nullptr}, {'7', 0, 10, nullptr},
      {160, 0, 10, nullptr}, {161, 0, 10, nullptr},
      {0, 0, 0, nullptr}, {0, 0, 0, nullptr}, {0, 0, 0, nullptr}, {0, 0, 0, nullptr},
      {0, 0, 0, nullptr}, {0, 0, 0, nullptr},
      {168, 0, 0, nullptr}, {162, 0, 11, nullptr}, {163, 0, 11, nullptr}, {164, 0, 11, nullptr},
      // clang-format on
      {169, 0, 0, nullptr},
  };
  if (action < 0 || action > 24 || kRows[action].c1 == 0) return 0;
  const Row& row = kRows[action];
  if (row.line) std::printf(row.line, channel);
  uint8_t body[12];
  nc_ptz_body(channel, row.c1, row.value_at, uint8_t(value), body);
  if (operator_request(rx, DVR_CMD_PRESET, 112, body) == -1) return -3;
  if (row.c2) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    nc_ptz_body(channel, row.c2, row.value_at, uint8_t(value), body);
    if (operator_request(rx, DVR_CMD_PRESET, 112, body) == -1) return -3;
  }
  return 0;
}

int nc_send_record_state(RECEIVER_INFO* rx, int started) {
  uint8_t body[12];
  nc_record_state_body(started != 0, body);
  return operator_request(rx, DVR_CMD_RECORD_STATE, 144, body) == -1 ? -1 : 0;
}

int recv_video_data(const FRAME_HEADER& fh_in, const uint8_t* data, RECEIVER_INFO* rx) {
  const int ch = fh_in.channel;
  if (ch >= MAX_CHANNELS || !((rx->sel_vid_ch.load() >> ch) & 1u)) {
    std::printf("received an unselected video channel.\n");
    return -1;
  }
  if (validate_fh(fh_in, num_video_of(rx)) != 0) {
    std::printf("validate_fh() failed.\n");
    return -1;
  }
  CHANNEL_INFO& c = rx->channels[ch];
  if (c.video_state.load() == VIDEO_LOST) return -2;
  c.video_state.store(VIDEO_PRESENT);
  if (!((rx->shown_mask.load() >> ch) & 1u) && !c.recording) {
    // Not on screen and not recorded: no ring room, no decoding. Its decoder starts again
    // at a key frame once the channel is shown.
    c.key_request.store(1);
    return -3;
  }
  APP_CONTEXT* ctx = rx->context;
  stats_add_rx(ctx, rx, &c, STAT_RECEIVED, 1);
  stats_add_rx(ctx, rx, &c, STAT_BYTES, fh_in.size);
  FRAME_HEADER fh = fh_in;
  fh.start_key = FRAME_START_KEY;
  fh.receiver = uint8_t(rx->index);
  uint8_t hdr[FRAME_HEADER_SIZE];
  encode_frame_header(fh, hdr);
  append_record(rx, ch, 'Q', 'Y', hdr, sizeof hdr, data, fh.size, 0);
  if (!ctx || ctx->num_slots == 0) return -3;
  uint32_t slot = decoder_slot_of_channel(rx, ch);
  int r =
      ring_write_record(ctx, slot, rx, 'Q', 'Y', hdr, sizeof hdr, data, fh.size, 0, RING_WAIT_ROOM);
  return r == 1 ? 0 : -3;
}

int recv_audio_data(const AUDIO_FRAME_HEADER& ah_in, const uint8_t* data, RECEIVER_INFO* rx) {
  if (validate_ah(ah_in, 4) != 0 || ah_in.samples > AUDIO_PAYLOAD_SLOT) {
    std::printf("validate_ah() failed.\n");
    return -1;
  }
  const int ch = ah_in.channel;
  AUDIO_FRAME_HEADER ah = ah_in;
  ah.receiver = uint8_t(rx->index);
  uint8_t hdr[AUDIO_FRAME_HEADER_SIZE];
  encode_audio_frame_header(ah, hdr);
  // Recorded whether or not anybody listens.
  append_record(rx, ch, 'Q', 'A', hdr, sizeof hdr, data, ah.samples, AUDIO_PAYLOAD_SLOT);
  if (!rx->channels[ch].audio_on.load()) return -3;  // nobody listens to this channel
  APP_CONTEXT* ctx = rx->context;
  if (!ctx || ctx->num_slots == 0) return -3;
  uint32_t slot = decoder_slot_of_channel(rx, ch);
  int r = ring_write_record(ctx, slot, rx, 'Q', 'A', hdr, sizeof hdr, data, ah.samples,
                            AUDIO_PAYLOAD_SLOT, RING_WAIT_ROOM);
  return r == 1 ? 0 : -3;
}

int nc_store_frame_stream(RECEIVER_INFO* rx, NC_LOGIN_STATE* st, const uint8_t* stream, size_t len,
                          bool video, bool audio, bool key_only) {
  FRAME_HEADER fh;
  AUDIO_FRAME_HEADER ah;
  int kind = 0;
  const int parsed = parse_frame_stream(rx, st, stream, len, &fh, &ah, &kind);
  if (parsed != 0) return parsed;
  const size_t hsz = size_t(st->fsh_size);
  const size_t vsz = fh.size;
  const size_t n = ah.samples;
  if (video && kind != FSH_NO_VIDEO && vsz != 0 && (!key_only || fh.frame_type == 1)) {
    recv_video_data(fh, stream + hsz, rx);
    stats_add(STAT_RECEIVED, 1);
  }
  if (audio && n != 0) {
    // The header names the camera whose audio this is, with a frame or without one.
    if (fh.channel < 4 && ah.channel < 4) st->audio_map[fh.channel] = ah.channel;
    for (int c = 0; c < 4; ++c) {
      int m = st->audio_map[c];
      if (m < 0 || m > 3) continue;
      AUDIO_FRAME_HEADER one = ah;
      one.channel = uint16_t(c);
      recv_audio_data(one, stream + hsz + vsz + size_t(3 - m) * n, rx);
    }
  }
  return 0;
}

int recv_nc_data(RECEIVER_INFO* rx) {
  if (!rx) return -1;
  auto st = std::make_unique<NC_LOGIN_STATE>();
  std::vector<uint8_t> buffer;
  try {
    buffer.resize(NC_RECV_ALLOC);
  } catch (...) {
    fatal_box("Not enough memory.");
    rx->status.store(RX_ENDED);
    return -1;
  }
  rx->nc_state = st.get();
  LinkRetry retry;
  while (winsock_start() >= 0) {
    retry.refused = false;
    run_connection(rx, st.get(), buffer.data(), buffer.size(), &retry);
    // Told to stop (the flag, or this receiver's status word 0) or quitting: leave for good
    // rather than spin through attempts that can only fail.
    if (receivers_stop.load() || app_quit.load() || rx->status.load() == RX_STOP) {
      rx->nc_state = nullptr;
      rx->status.store(RX_ENDED);
      std::printf("%d: recv_stream() exited.\n", rx->index);
      return 0;
    }
    post_receiver_notice(rx->index);
    if (retry.refused) {
      // A DVR that refuses the login is asked again less and less often.
      int shift = retry.refusals < 6 ? retry.refusals : 6;
      retry.refusals++;
      pause_ms(rx, std::min(kFirstBackoffMs << shift, kMaxBackoffMs));
    }
  }
  rx->nc_state = nullptr;
  rx->status.store(RX_FAILED);
  return -1;
}
