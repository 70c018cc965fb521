#include "client/links/tir_receiver.h"

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "client/foundation/channel_table.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sock_io.h"
#include "client/foundation/stats.h"
#include "client/foundation/user_events.h"
#include "client/links/link_common.h"
#include "client/links/nc_receiver.h"
#include "client/links/receive_rings.h"
#include "client/links/recording.h"
#include "codecs/tir_dec/tir_dec.h"
#include "platform/net/net.h"

namespace {

enum : int { KIND_NONE = 0, KIND_VIDEO = 1, KIND_AUDIO = 2, KIND_CONTROL = 3 };

const char kHex[] = "0123456789ABCDEF";

int hex_digit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool has_magic(const uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == 0xFE; }

int num_video_of(const RECEIVER_INFO* rx) {
  return int(rx->num_video > uint32_t(MAX_CHANNELS) ? MAX_CHANNELS : rx->num_video);
}

// Reads one reply by its header length into reply[cap]: its length, -1 when the read
// failed, -2 when the header is not a packet header or its length does not fit.
int read_reply(int sock, RECEIVER_INFO* rx, uint8_t* reply, size_t cap) {
  if (recv_timeout(sock, reply, int(TIR_PACKET_HEADER_SIZE), rx_timeout_s(rx), &rx->status) < 0)
    return -1;
  if (!has_magic(reply)) return -2;
  const size_t len = tir_hex_to_word(reply + 4);
  if (len < TIR_PACKET_HEADER_SIZE || len > cap) return -2;
  const int rest = int(len - TIR_PACKET_HEADER_SIZE);
  if (rest > 0 &&
      recv_timeout(sock, reply + TIR_PACKET_HEADER_SIZE, rest, rx_timeout_s(rx), &rx->status) < 0)
    return -1;
  return int(len);
}

// Whatever has arrived, up to cap bytes, waiting at most wait_ms for the first: the count,
// 0 when nothing came, -1 when the link failed or the DVR closed it. `drained` says the last
// read emptied the socket, so this one waits before asking (one poll and one recv a burst).
int read_available(int sock, uint8_t* buf, size_t cap, int wait_ms, bool* drained) {
  bool waited = *drained;
  if (waited) net_poll(sock, true, false, wait_ms, nullptr, nullptr);
  for (;;) {
    long n = net_recv(sock, buf, cap);
    if (n > 0) {
      *drained = size_t(n) < cap;
      return int(n);
    }
    if (n == 0) return -1;
    const int err = net_last_error();
    if (err != NET_WOULDBLOCK) {
      std::printf("socket error: %d\n", err);
      return -1;
    }
    *drained = true;
    if (waited) return 0;
    net_poll(sock, true, false, wait_ms, nullptr, nullptr);
    waited = true;
  }
}

// Takes back the start code just recognised from the section it was stored in.
void unstore_start_code(TIR_SCANNER* sc) {
  if (sc->kind == KIND_VIDEO && sc->video_open)
    sc->video_count -= sc->video_count < 4 ? sc->video_count : 4;
}

void complete_video(RECEIVER_INFO* rx, TIR_SCANNER* sc) {
  sc->video_open = false;
  const uint32_t count = sc->video_count;
  sc->video_count = 0;
  const int idx = rx ? rx->index : 0;
  if (count > TIR_VIDEO_BUFFER_SIZE - 4) {
    std::printf("%d: video frame of %u bytes exceeds its buffer; dropped.\n", idx, count + 4);
    sc->oversized++;
    return;
  }
  const uint32_t len = count + 4;
  stats_add(STAT_RECEIVED, 1);
  TIR_FRAME_INFO info{};
  if (tir_get_info(sc->video.data(), len, &info) != 0) {
    std::printf("tir_get_info() failed.\n");
    sc->refused++;
    return;
  }
  sc->frames++;
  TIR_TIME_BASE spare;
  TIR_TIME_BASE* base =
      sc->bases && info.format_code < TIR_CHANNELS ? &sc->bases[info.format_code] : &spare;
  FRAME_HEADER fh;
  make_tir_frame_header(info, len, base, &fh);
  if (!rx) return;
  fh.receiver = uint8_t(rx->index);
  recv_tir_frame(fh, sc->video.data(), rx);
}

void open_section(TIR_SCANNER* sc, int kind) {
  sc->prev_kind = sc->kind;
  sc->kind = kind;
}

// One byte, in the order of the stream.
inline void scan_byte(RECEIVER_INFO* rx, TIR_SCANNER* sc, uint8_t b) {
  sc->shift = (sc->shift << 8) | b;
  switch (sc->kind) {
    case KIND_VIDEO:
      if (sc->video_open) {
        if (sc->video_count < TIR_VIDEO_BUFFER_SIZE - 4) sc->video[4 + sc->video_count] = b;
        sc->video_count++;
      }
      break;
    case KIND_AUDIO:
      if (sc->audio_open) sc->audio_count++;  // audio of this protocol is not used
      break;
    case KIND_CONTROL: {
      if (sc->control_count < TIR_CONTROL_BUFFER_SIZE) sc->control[sc->control_count] = b;
      sc->control_count++;
      if (sc->control_count == 8) {
        sc->control_len = tir_hex_to_word(sc->control.data() + 4);
        if (sc->control_len < TIR_PACKET_HEADER_SIZE || sc->control_len > TIR_CONTROL_BUFFER_SIZE) {
          // Nothing can be trusted up to the next start code. A frame it stood in ends
          // there short, and the decoder refuses it.
          sc->dropped_control++;
          sc->kind = sc->prev_kind = KIND_NONE;
          return;
        }
      }
      if (sc->control_count >= 8 && sc->control_count >= sc->control_len) {
        sc->kind = sc->prev_kind;
        sc->replies++;
        handle_tir_reply(sc->control.data(), sc->control_len);
        sc->control_count = 4;
      }
      return;  // a control packet's own bytes start nothing
    }
    default: break;
  }
  if ((sc->shift & 0xFFFFFF00u) != 0x00000100u) return;
  if (b == 0xF8 || b == 0xF9) {
    unstore_start_code(sc);
    if (sc->video_open) complete_video(rx, sc);
    sc->audio_open = false;
    sc->audio_count = 0;
    sc->video[0] = 0;
    sc->video[1] = 0;
    sc->video[2] = 1;
    sc->video[3] = b;
    sc->video_count = 0;
    sc->video_open = true;
    open_section(sc, KIND_VIDEO);
  } else if (b == 0xFA) {
    unstore_start_code(sc);
    if (sc->video_open) complete_video(rx, sc);
    sc->audio_open = true;
    sc->audio_count = 0;
    open_section(sc, KIND_AUDIO);
  } else if (b == 0xFE) {
    unstore_start_code(sc);
    open_section(sc, KIND_CONTROL);
    sc->control[0] = 0;
    sc->control[1] = 0;
    sc->control[2] = 1;
    sc->control[3] = 0xFE;
    sc->control_count = 4;
    sc->control_len = 0;
  }
}

}  // namespace

// ---- hexadecimal helpers and MD5 ------------------------------------------------------------

void tir_byte_to_hex(uint8_t b, char out[2]) {
  out[0] = kHex[b >> 4];
  out[1] = kHex[b & 15];
}

void tir_word_to_hex(uint16_t v, char out[4]) {
  tir_byte_to_hex(uint8_t(v >> 8), out);
  tir_byte_to_hex(uint8_t(v), out + 2);
}

uint16_t tir_hex_to_word(const uint8_t* digits) {
  uint16_t v = 0;
  for (int i = 0; i < 4; ++i) {
    const int d = hex_digit(digits[i]);
    if (d < 0) return 0;
    v = uint16_t((v << 4) | d);
  }
  return v;
}

void tir_bytes_to_hex(const uint8_t* in, size_t n, char* out) {
  for (size_t i = 0; i < n; ++i) tir_byte_to_hex(in[i], out + 2 * i);
}

int tir_md5(const void* data, size_t len, uint8_t digest[16]) {
  unsigned int n = 0;
  if (EVP_Digest(data, len, digest, &n, EVP_md5(), nullptr) != 1 || n != 16) return -1;
  return 0;
}

void make_tir_packet_header(uint16_t total, const char code[4],
                            uint8_t out[TIR_PACKET_HEADER_SIZE]) {
  out[0] = 0;
  out[1] = 0;
  out[2] = 1;
  out[3] = 0xFE;
  tir_word_to_hex(total, reinterpret_cast<char*>(out + 4));
  std::memcpy(out + 8, code, 4);
}

int build_tir_login(const char* password, uint8_t out[TIR_LOGIN_SIZE]) {
  uint8_t digest[16];
  if (tir_md5(password, std::strlen(password), digest) != 0) return -1;
  make_tir_packet_header(uint16_t(TIR_LOGIN_SIZE), "0081", out);
  tir_bytes_to_hex(digest, sizeof digest, reinterpret_cast<char*>(out + TIR_PACKET_HEADER_SIZE));
  std::memset(digest, 0, sizeof digest);
  return 0;
}

// ---- login --------------------------------------------------------------------------------

int recv_login_resp(const uint8_t* reply) {
  if (!has_magic(reply)) return -3;
  switch (tir_hex_to_word(reply + 8)) {
    case 1: return 1;
    case 3: return 3;
    case 2:
    case 4: return -1;
    default: return -2;
  }
}

int validate_login_result(const uint8_t* reply) {
  if (!has_magic(reply)) return -3;
  switch (tir_hex_to_word(reply + 8)) {
    case 3: return 0;
    case 4: return -1;
    default: return -2;
  }
}

int send_login_info(int sock, RECEIVER_INFO* rx) {
  uint8_t pkt[TIR_LOGIN_SIZE];
  if (build_tir_login(rx->password, pkt) != 0) return -1;
  const int sent = send_timeout(sock, pkt, int(sizeof pkt), rx_timeout_s(rx), &rx->status);
  std::memset(pkt, 0, sizeof pkt);  // the digest does not linger on the stack
  if (sent < 0) {
    std::printf("send_timeout() failed.\n");
    return -1;
  }
  uint8_t reply[TIR_CONTROL_BUFFER_SIZE];
  int n = read_reply(sock, rx, reply, sizeof reply);
  if (n == -1) {
    std::printf("recv_timeout() failed.\n");
    return -1;
  }
  const int first = n < 0 ? -3 : recv_login_resp(reply);
  if (first < 0) {
    std::printf("recv_login_resp() failed.\n");
    return -2;
  }
  if (first != 3) {
    n = read_reply(sock, rx, reply, sizeof reply);
    if (n == -1) {
      std::printf("recv_timeout() failed.\n");
      return -3;
    }
    if (n < 0 || validate_login_result(reply) != 0) {
      std::printf("recv_login_resp() failed.\n");
      return -4;
    }
  }
  push_user_event(UE_LOGGED_IN, rx);
  return 0;
}

int send_tir_poll(int sock, RECEIVER_INFO* rx, uint16_t value) {
  uint8_t pkt[TIR_POLL_SIZE];
  make_tir_packet_header(uint16_t(TIR_POLL_SIZE), "0085", pkt);
  tir_word_to_hex(value, reinterpret_cast<char*>(pkt + TIR_PACKET_HEADER_SIZE));
  return send_timeout(sock, pkt, int(sizeof pkt), rx_timeout_s(rx), &rx->status) < 0 ? -1 : 0;
}

int send_tir_logout(int sock, RECEIVER_INFO* rx) {
  uint8_t pkt[TIR_PACKET_HEADER_SIZE];
  make_tir_packet_header(uint16_t(TIR_PACKET_HEADER_SIZE), TIR_CLOSING_CODE, pkt);
  // One second at most: a DVR that stopped reading must not hold up the disconnect.
  return send_timeout(sock, pkt, int(sizeof pkt), 1, &rx->status) < 0 ? -1 : 0;
}

// ---- stream -----------------------------------------------------------------------------

int init_tir_scanner(TIR_SCANNER* sc, TIR_TIME_BASE* bases) {
  *sc = TIR_SCANNER{};
  sc->bases = bases;
  try {
    sc->video.assign(TIR_VIDEO_BUFFER_SIZE, 0);
    sc->control.assign(TIR_CONTROL_BUFFER_SIZE, 0);
  } catch (...) { return -1; }
  return 0;
}

void parse_tir_stream(RECEIVER_INFO* rx, const uint8_t* bytes, size_t count, TIR_SCANNER* sc) {
  size_t i = 0;
  while (i < count) {
    // Inside a frame only the byte after 00 00 01 can start something: the bytes up to the
    // next 01 go to the frame in one copy.
    if (sc->kind == KIND_VIDEO && sc->video_open && (sc->shift & 0xFFFFFFu) != 1u) {
      const void* one = std::memchr(bytes + i, 1, count - i);
      const size_t end = one ? size_t(static_cast<const uint8_t*>(one) - bytes) + 1 : count;
      const size_t k = end - i;
      if (k > 4) {
        const uint32_t room = sc->video_count < TIR_VIDEO_BUFFER_SIZE - 4
                                  ? TIR_VIDEO_BUFFER_SIZE - 4 - sc->video_count
                                  : 0;
        std::memcpy(sc->video.data() + 4 + sc->video_count, bytes + i, k < room ? k : room);
        sc->video_count += uint32_t(k);
        const uint8_t* t = bytes + end - 4;
        sc->shift = get_be32(t);
        i = end;
        continue;
      }
    }
    scan_byte(rx, sc, bytes[i++]);
  }
}

void handle_tir_reply(const uint8_t* packet, size_t len) {
  if (len < TIR_PACKET_HEADER_SIZE) return;
  const uint16_t code = tir_hex_to_word(packet + 8);
  if (code == 13 && len >= TIR_PACKET_HEADER_SIZE + 12) {
    for (int i = 0; i < 12; ++i) {
      const uint8_t c = packet[TIR_PACKET_HEADER_SIZE + size_t(i)];
      std::putchar(c >= 0x20 && c < 0x7F ? c : '.');
    }
    std::printf("\r\n");
  }
  // 7 and 8 are accepted as they are; other codes are ignored.
}

void make_tir_frame_header(const TIR_FRAME_INFO& info, uint32_t length, TIR_TIME_BASE* base,
                           FRAME_HEADER* fh) {
  if (!base->started || base->rebase) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    const uint32_t sec = uint32_t(ts.tv_sec), msec = uint32_t(ts.tv_nsec / 1000000);
    // Never back: a clock that ran ahead (a DVR sending faster than 40 ms a frame) goes on
    // from where it is, so a recording's times keep rising.
    if (!base->started || sec > base->sec || (sec == base->sec && msec > base->msec)) {
      base->sec = sec;
      base->msec = msec;
    }
    base->started = true;
    base->rebase = false;
  }
  *fh = FRAME_HEADER{};
  fh->start_key = FRAME_START_KEY;
  fh->size = length;
  fh->channel = uint8_t(info.format_code);
  fh->frame_type = 1;
  fh->width = info.width & 0x3FFF;
  fh->height = info.height & 0x3FFF;
  fh->sec = base->sec;
  fh->msec = uint16_t(base->msec);
  base->msec += info.height == 224 ? 33 : 40;
  if (base->msec >= 1000) {
    base->sec += 1;
    base->msec %= 1000;
  }
}

int validate_tir(const FRAME_HEADER& fh, int num_video) {
  if (int(fh.channel) >= num_video) return -1;
  if (fh.size > TIR_VIDEO_BUFFER_SIZE) return -2;
  return 0;
}

int recv_tir_frame(const FRAME_HEADER& fh, const uint8_t* frame, RECEIVER_INFO* rx) {
  if (validate_tir(fh, num_video_of(rx)) != 0) {
    std::printf("validate_tir() failed.\n");
    return -1;
  }
  const int ch = fh.channel;
  CHANNEL_INFO& c = rx->channels[ch];
  APP_CONTEXT* ctx = rx->context;
  stats_add_rx(ctx, rx, &c, STAT_RECEIVED, 1);
  stats_add_rx(ctx, rx, &c, STAT_BYTES, fh.size);
  uint8_t hdr[FRAME_HEADER_SIZE];
  encode_frame_header(fh, hdr);
  append_record(rx, ch, 'S', 'Y', hdr, sizeof hdr, frame, fh.size, 0);
  // Off screen: no ring room and no decoding (every 'S' frame is a key frame).
  if (!((rx->shown_mask.load() >> ch) & 1u)) return 0;
  if (!ctx || ctx->num_slots == 0) return 0;
  ring_write_record(ctx, decoder_slot_of_channel(rx, ch), rx, 'S', 'Y', hdr, sizeof hdr, frame,
                    fh.size, 0, RING_WAIT_ROOM);
  return 0;
}

// ---- receive thread ------------------------------------------------------------------------

namespace {

// One attempt, from the socket to the closing packet.
void run_tir_attempt(RECEIVER_INFO* rx, uint8_t* buf, TIR_TIME_BASE* bases) {
  const int idx = rx->index;
  std::printf("%d: creating sockets ...\n", idx);
  int sock = net_tcp_socket();
  if (sock < 0) {
    std::printf("socket() failed.\n");
    rx->status.store(RX_FAILED);
    return;
  }
  std::printf("%d: preparing socket ...\n", idx);
  if (std::strcmp(rx->host_type, "DDNS") == 0) {
    debug_message("DDNS is not yet supported.");
    rx->status.store(RX_FAILED);
    net_close(sock);
    return;
  }
  uint32_t addr = 0;
  const int have_addr = rx_direct_address(rx, &addr);
  std::printf("%d: connecting to server ...\n", idx);
  if (rx_stopping(rx)) {
    net_close(sock);
    return;
  }
  rx->status.store(RX_CONNECTING);
  const int c = have_addr == 0 ? net_connect(sock, addr, rx->live_port, rx_timeout_s(rx) * 1000,
                                             [rx] { return rx_stopping(rx); })
                               : -1;
  if (c != 0) {
    std::printf("%d: connect(%s) failed.\n", idx, rx->address);
    net_close(sock);
    rx_fail_status(rx, RX_CONNECTING);
    return;
  }
  int32_t expected = RX_CONNECTING;
  if (!rx->status.compare_exchange_strong(expected, RX_RECEIVING)) {
    net_close(sock);
    return;
  }
  if (send_login_info(sock, rx) < 0) {
    std::printf("send_login_info() failed.\n");
    rx_fail_status(rx, RX_RECEIVING);
    rx_fail_status(rx, RX_CONNECTING);
    net_close(sock);
    return;
  }
  // The replies' own I/O may have left 4 behind while it waited.
  expected = RX_CONNECTING;
  rx->status.compare_exchange_strong(expected, RX_RECEIVING);
  // The DVR sent nothing while the link was down: each clock starts again from the wall
  // clock at its channel's first frame of this session.
  for (int i = 0; i < TIR_CHANNELS; ++i) bases[i].rebase = true;
  auto sc = std::make_unique<TIR_SCANNER>();
  if (init_tir_scanner(sc.get(), bases) != 0) {
    fatal_box("Not enough memory.");
    rx->status.store(RX_FAILED);
    net_close(sock);
    return;
  }
  const uint64_t timeout_ms = uint64_t(rx_timeout_s(rx)) * 1000;
  uint64_t last_poll = net_now_ms(), last_data = last_poll;
  bool drained = false;
  while (rx->status.load() == RX_RECEIVING && !rx_stopping(rx)) {
    const int n = read_available(sock, buf, TIR_RECV_SIZE, 100, &drained);
    const uint64_t now = net_now_ms();
    if (n < 0 || (n == 0 && now - last_data > timeout_ms)) {
      std::printf("%d: recv_timeout() failed.\n", idx);
      rx_fail_status(rx, RX_RECEIVING);
      break;
    }
    if (n > 0) {
      last_data = now;
      stats_add(STAT_BYTES, uint32_t(n));
      for (size_t at = 0; at < size_t(n); at += TIR_READ_SIZE)
        parse_tir_stream(rx, buf + at, std::min(TIR_READ_SIZE, size_t(n) - at), sc.get());
    }
    if (net_now_ms() - last_poll > 1000) {
      last_poll = net_now_ms();
      if (send_tir_poll(sock, rx, 10) != 0) {
        std::printf("%d: send_timeout() failed.\n", idx);
        rx_fail_status(rx, RX_RECEIVING);
        break;
      }
    }
  }
  sc.reset();
  if (!receivers_stop.load())
    send_tir_logout(sock, rx);
  else {
    // Told to stop: the closing packet goes out only if the socket takes it at once.
    uint8_t pkt[TIR_PACKET_HEADER_SIZE];
    make_tir_packet_header(uint16_t(TIR_PACKET_HEADER_SIZE), TIR_CLOSING_CODE, pkt);
    net_send(sock, pkt, sizeof pkt);
  }
  net_close(sock);
}

}  // namespace

int recv_tir_data(RECEIVER_INFO* rx) {
  if (!rx) return -1;
  std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[TIR_RECV_SIZE]);
  std::unique_ptr<TIR_TIME_BASE[]> bases(new (std::nothrow) TIR_TIME_BASE[TIR_CHANNELS]);
  if (!buf || !bases) {
    fatal_box("Not enough memory.");
    rx->status.store(RX_ENDED);
    return -1;
  }
  while (winsock_start() >= 0) {
    run_tir_attempt(rx, buf.get(), bases.get());
    if (rx_stopping(rx)) {
      rx->status.store(RX_ENDED);
      std::printf("%d: recv_stream() exited.\n", rx->index);
      return 0;
    }
    post_receiver_notice(rx->index);
    // Every failed attempt waits before the next, so a DVR that refuses or is away is not
    // flooded and the window loop not flooded with notices.
    rx_pause_ms(rx, 500);
  }
  rx->status.store(RX_FAILED);
  return -1;
}
