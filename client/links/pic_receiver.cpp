#include "client/links/pic_receiver.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "client/foundation/channel_table.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sock_io.h"
#include "client/foundation/stats.h"
#include "client/foundation/user_events.h"
#include "client/links/decoder_thread.h"
#include "client/links/link_common.h"
#include "client/links/nc_receiver.h"
#include "client/links/receive_rings.h"
#include "client/links/recording.h"
#include "platform/net/net.h"

namespace {

int num_video_of(const RECEIVER_INFO* rx) {
  return int(rx->num_video > uint32_t(MAX_CHANNELS) ? MAX_CHANNELS : rx->num_video);
}

// user and password, each char[8], not terminated when 8 long.
void login_body(const RECEIVER_INFO* rx, uint8_t body[16]) {
  std::memset(body, 0, 16);
  std::memcpy(body, rx->username, strnlen(rx->username, 8));
  std::memcpy(body + 8, rx->password, strnlen(rx->password, 8));
}

int send_record(int sock, RECEIVER_INFO* rx, uint32_t kind, uint32_t sub, const uint8_t* body,
                size_t body_len, int timeout_s) {
  uint8_t rec[PIC_RECORD_SIZE];
  build_pic_record(kind, sub, body, body_len, rec);
  const int r = send_timeout(sock, rec, int(sizeof rec), timeout_s, &rx->status);
  std::memset(rec, 0, sizeof rec);  // the login's password does not linger
  return r;
}

// What one connection keeps.
struct PicLink {
  int pic = -1;
  int ctrl = -1;
  bool logged_in = false;
  int ctrl_pid = 0;
  bool pid_known = false;
  bool sent_request = false;
  bool sent_seek = false;
  bool sent_mask = false;
  uint32_t last_mask = 0, last_mask2 = 0;
  long pictures = 0;
};

// Reads and drops n bytes in chunks of the frame buffer: 0, or -1 when the link failed.
int drop_bytes(LinkReader& rd, uint8_t* buf, size_t cap, uint32_t n) {
  while (n > 0) {
    const uint32_t k = n < cap ? n : uint32_t(cap);
    if (rd.read(buf, k) != 1) return -1;
    n -= k;
  }
  return 0;
}

// The record loop of one connection; returns when the status word leaves 5 or a length is
// out of range (status -1).
void read_records(RECEIVER_INFO* rx, PicLink* link, uint8_t* frame, size_t cap) {
  const bool playback = rx->file_name[0] != 0;
  LinkReader rd(link->pic, rx);
  uint8_t rec[PIC_RECORD_SIZE];
  while (rx->status.load() == RX_RECEIVING && !rx_stopping(rx)) {
    const uint32_t shown = rx->shown_mask.load();
    if (link->logged_in && shown == 0) {
      rx_pause_ms(rx, 250);
      continue;
    }
    if (playback && link->pid_known && link->ctrl >= 0) {
      if (!link->sent_request) {
        link->sent_request = true;
        const std::string pid = std::to_string(link->ctrl_pid);
        std::printf("sending msgqtype%s ...", pid.c_str());
        send_playback_command(link->ctrl, "msgqtype\n", pid.c_str(), rx_timeout_s(rx), &rx->status);
        rx_pause_ms(rx, 500);
        std::printf("sending requestfile%s\n", rx->file_name);
        send_playback_command(link->ctrl, "requestfile", rx->file_name, rx_timeout_s(rx),
                              &rx->status);
      } else if (!link->sent_seek && link->pictures > 0) {
        link->sent_seek = true;
        const std::string pos = std::to_string(int(rx->position));
        std::printf("sending seek%s\n", pos.c_str());
        send_playback_command(link->ctrl, "seek", pos.c_str(), rx_timeout_s(rx), &rx->status);
      }
    }
    const uint32_t mask2 = 0;  // no second view in this client
    if (link->logged_in &&
        (!link->sent_mask || shown != link->last_mask || mask2 != link->last_mask2)) {
      std::printf("sending CMD_CONTROL:CTL_CMD_CHANNEL_CHANGE:0x%x\n", shown);
      link->sent_mask = true;
      link->last_mask = shown;
      link->last_mask2 = mask2;
      uint8_t body[8];
      put_le32(body, shown);
      put_le32(body + 4, mask2);
      send_record(link->pic, rx, CMD_CONTROL, 0, body, sizeof body, rx_timeout_s(rx));
    }
    if (rd.read(rec, uint32_t(sizeof rec)) != 1) {
      if (rx_stopping(rx)) break;
      std::printf("Error receiving data from socket.\n");
      rx_fail_status(rx, RX_RECEIVING);
      rx_fail_status(rx, RX_CONNECTING);
      break;
    }
    stats_add(STAT_BYTES, uint32_t(sizeof rec));
    const uint32_t kind = get_le32(rec + 8);
    const uint32_t len = get_le32(rec + 12);
    bool lost = false;
    switch (kind) {
      case CMD_LOGIN_LOGOUT:
        std::printf("CMD_LOGIN_LOGOUT received.\n");
        link->ctrl_pid = parse_ctrl_pid(rec);
        link->pid_known = true;
        std::printf("ctrl_pid = %d\n", link->ctrl_pid);
        // A DVR may answer kind 1 again and again; the window hears of the login once an
        // attempt, or each record would be a system-log line and an entry of SDL's queue.
        if (!link->logged_in) push_user_event(UE_LOGGED_IN, rx);
        link->logged_in = true;
        rx->logged_in.store(1);
        break;
      case PIC_KIND_VIDEO: {
        if (len > PIC_MAX_FRAME) {
          // No marker to find the next record by: the link is made again.
          std::printf("MP4 data size exceeds maximum: %u/%u.\n", len, PIC_MAX_FRAME);
          lost = true;
          break;
        }
        const uint32_t extra = playback ? get_le32(rec + 60) : 0;
        if (extra > PIC_MAX_EXTRA) {
          std::printf("%d: playback block of %u bytes exceeds %u.\n", rx->index, extra,
                      PIC_MAX_EXTRA);
          lost = true;
          break;
        }
        if (rd.read(frame, len) != 1) {
          lost = true;
          break;
        }
        stats_add(STAT_RECEIVED, 1);
        stats_add(STAT_BYTES, len);
        if (len > 0) link->pictures++;
        recv_picture_frame(rec + 12, frame, rx);
        if (extra > 0) {
          if (drop_bytes(rd, frame, cap, extra) != 0)
            lost = true;
          else
            stats_add(STAT_BYTES, extra);
        }
        break;
      }
      case PIC_KIND_DROP:
        if (len > PIC_MAX_DROP) {
          std::printf("%d: data block of %u bytes exceeds %u.\n", rx->index, len, PIC_MAX_DROP);
          lost = true;
        } else if (rd.read(frame, len) != 1) {
          lost = true;
        } else {
          stats_add(STAT_BYTES, len);
        }
        break;
      case CMD_CONTROL: std::printf("CMD_CONTROL received.\n"); break;
      case CMD_GEN_INFO:
        std::printf("CMD_GEN_INFO received.\n");
        if (rd.read(frame, PIC_GEN_INFO_SIZE) != 1) lost = true;
        break;
      default: {
        char text[PIC_RECORD_SIZE + 1];
        printable_record(rec, text);
        std::printf("Unknown data received: %s\n", text);
        break;
      }
    }
    if (lost) {
      if (!rx_stopping(rx)) std::printf("Error receiving data from socket.\n");
      rx_fail_status(rx, RX_RECEIVING);
      rx_fail_status(rx, RX_CONNECTING);
      break;
    }
  }
}

// Connects `sock` to the receiver's address on `port`: 0, or -1.
int connect_to(RECEIVER_INFO* rx, int sock, uint32_t addr, uint16_t port) {
  return net_connect(sock, addr, port, rx_timeout_s(rx) * 1000, [rx] { return rx_stopping(rx); }) ==
                 0
             ? 0
             : -1;
}

// One attempt, from the sockets to the logout.
void run_pic_attempt(RECEIVER_INFO* rx, uint8_t* frame, size_t cap) {
  const bool playback = rx->file_name[0] != 0;
  PicLink link;
  std::printf("creating sockets ...\n");
  link.pic = net_tcp_socket();
  if (playback) link.ctrl = net_tcp_socket();
  if (link.pic < 0 || (playback && link.ctrl < 0)) {
    std::printf("socket() failed.\n");
    net_close(link.pic);
    net_close(link.ctrl);
    rx->status.store(RX_FAILED);
    return;
  }
  uint16_t port = rx->live_port;
  if (playback) {
    std::printf("connecting to playback video stream %d %d ...\n", int(rx->pb_port),
                int(rx->ctrl_port));
    port = rx->pb_port;
  } else {
    std::printf("connecting to live video stream ...\n");
  }
  if (std::strcmp(rx->host_type, "DDNS") == 0) {
    debug_message("DDNS is not yet supported.");
    rx->status.store(RX_FAILED);
    net_close(link.pic);
    net_close(link.ctrl);
    return;
  }
  uint32_t addr = 0;
  const int have_addr = rx_direct_address(rx, &addr);
  if (rx_stopping(rx)) {
    net_close(link.pic);
    net_close(link.ctrl);
    return;
  }
  rx->status.store(RX_CONNECTING);
  std::printf("connecting to server ...\n");
  if (have_addr != 0 || connect_to(rx, link.pic, addr, port) != 0) {
    std::printf("connect(%s) failed.\n", rx->address);
    rx_fail_status(rx, RX_CONNECTING);
    net_close(link.pic);
    net_close(link.ctrl);
    return;
  }
  if (playback && connect_to(rx, link.ctrl, addr, rx->ctrl_port) != 0) {
    std::printf("connect(%s:%d) failed.\n", rx->address, int(rx->ctrl_port));
    rx_fail_status(rx, RX_CONNECTING);
    net_close(link.pic);
    net_close(link.ctrl);
    return;
  }
  int32_t expected = RX_CONNECTING;
  if (!rx->status.compare_exchange_strong(expected, RX_RECEIVING)) {
    net_close(link.pic);
    net_close(link.ctrl);
    return;
  }
  // The connects left both sockets non-blocking; every transfer is timed.
  std::printf("logging in to server ...\n");
  uint8_t body[16];
  login_body(rx, body);
  send_record(link.pic, rx, CMD_LOGIN_LOGOUT, 1, body, sizeof body, rx_timeout_s(rx));
  std::printf("start receiving data ...\n");
  read_records(rx, &link, frame, cap);
  std::printf("leaving ...\n");
  if (!rx_stopping(rx)) {
    // The logout and one more record, each within a second: a DVR that stopped reading
    // or answering must not hold up the next attempt.
    send_record(link.pic, rx, CMD_LOGIN_LOGOUT, 2, body, sizeof body, 1);
    uint8_t rec[PIC_RECORD_SIZE];
    recv_timeout(link.pic, rec, int(sizeof rec), 1, nullptr);
  } else {
    uint8_t rec[PIC_RECORD_SIZE];
    build_pic_record(CMD_LOGIN_LOGOUT, 2, body, sizeof body, rec);
    net_send(link.pic, rec, sizeof rec);  // only if the socket takes it at once
    std::memset(rec, 0, sizeof rec);
  }
  std::memset(body, 0, sizeof body);
  rx->logged_in.store(0);
  net_close(link.pic);
  net_close(link.ctrl);
}

}  // namespace

void build_pic_record(uint32_t kind, uint32_t sub_kind, const uint8_t* body, size_t body_len,
                      uint8_t out[PIC_RECORD_SIZE]) {
  std::memset(out, 0, PIC_RECORD_SIZE);
  for (int i = 0; i < 8; ++i) out[i] = uint8_t(i + 1);
  put_le32(out + 8, kind);
  put_le32(out + 12, sub_kind);
  if (body && body_len) std::memcpy(out + 16, body, body_len < 60 ? body_len : 60);
}

int parse_ctrl_pid(const uint8_t record[PIC_RECORD_SIZE]) {
  const uint8_t* p = record + 16;
  size_t i = 0;
  while (i < 60 && (p[i] == ' ' || p[i] == '\t')) ++i;
  long v = 0;
  for (; i < 60 && p[i] >= '0' && p[i] <= '9'; ++i) {
    v = v * 10 + (p[i] - '0');
    if (v > 0x7FFFFFFF) return 0;
  }
  return int(v);
}

void printable_record(const uint8_t record[PIC_RECORD_SIZE], char out[PIC_RECORD_SIZE + 1]) {
  for (size_t i = 0; i < PIC_RECORD_SIZE; ++i)
    out[i] = record[i] >= 0x20 && record[i] < 0x7F ? char(record[i]) : '.';
  out[PIC_RECORD_SIZE] = 0;
}

int validate_picture_header(const PICTURE_HEADER& ph, int num_video) {
  if (ph.start_key != FRAME_START_KEY) return -1;
  if (int(ph.channel) >= num_video) return -2;
  if (ph.size > PIC_MAX_FRAME) return -3;
  if (ph.interval > 30) return -4;
  if (ph.vop_type == 2 || ph.vop_type == 3) return -5;
  return 0;
}

int recv_picture_frame(const uint8_t* wire, const uint8_t* data, RECEIVER_INFO* rx) {
  const uint32_t channel = get_le32(wire + 20);
  if (channel >= uint32_t(MAX_CHANNELS) || !((rx->sel_vid_ch.load() >> channel) & 1u)) {
    std::printf("received an unselected video channel.\n");
    return -1;
  }
  const uint32_t size = get_le32(wire);
  if (size < 1 || size > PIC_MAX_FRAME) {
    std::printf("MP4 data size exceeds maximum: %u/%u.\n", size, PIC_MAX_FRAME);
    return -1;
  }
  PICTURE_HEADER ph = make_picture_header(wire);
  ph.receiver = uint16_t(rx->index);
  const int v = validate_picture_header(ph, num_video_of(rx));
  if (v != 0) {
    std::printf("Invalid header! (%d)\n", v);
    return -1;
  }
  CHANNEL_INFO& c = rx->channels[channel];
  APP_CONTEXT* ctx = rx->context;
  stats_add_rx(ctx, rx, &c, STAT_RECEIVED, 1);
  stats_add_rx(ctx, rx, &c, STAT_BYTES, size + uint32_t(PICTURE_HEADER_SIZE));
  uint8_t hdr[PICTURE_HEADER_SIZE];
  encode_picture_header(ph, hdr);
  append_record(rx, int(channel), 'I', 'Y', hdr, sizeof hdr, data, size, 0);
  if (!((rx->shown_mask.load() >> channel) & 1u)) {
    c.key_request.store(1);  // its decoder starts again at a key frame once shown
    return 0;
  }
  if (!ctx || ctx->num_slots == 0) return 0;
  ring_write_record(ctx, decoder_slot_of_channel(rx, int(channel)), rx, 'I', 'Y', hdr, sizeof hdr,
                    data, size, 0, RING_WAIT_ROOM);
  return 0;
}

void read_pic_records(RECEIVER_INFO* rx, int pic, int ctrl, uint8_t* frame, size_t cap) {
  PicLink link;
  link.pic = pic;
  link.ctrl = ctrl;
  read_records(rx, &link, frame, cap);
}

int send_playback_command(int sock, const char* command, const char* argument, int timeout_s,
                          std::atomic<int>* status) {
  char text[512];
  const int n = std::snprintf(text, sizeof text, PIC_COMMAND_FORMAT, command, argument);
  if (n < 0 || size_t(n) >= sizeof text) return -1;
  return send_timeout(sock, text, n, timeout_s, status);
}

int recv_data(RECEIVER_INFO* rx) {
  if (!rx) return -1;
  std::vector<uint8_t> frame;
  try {
    frame.resize(PIC_MAX_FRAME);
  } catch (...) {
    fatal_box("Not enough memory.");
    rx->status.store(RX_ENDED);
    return -1;
  }
  if (winsock_start() < 0) {
    rx->status.store(RX_FAILED);
    return -1;
  }
  for (;;) {
    run_pic_attempt(rx, frame.data(), frame.size());
    if (rx_stopping(rx)) {
      std::printf("exiting recv_data thread ...\n");
      rx->status.store(RX_ENDED);
      return 0;
    }
    post_receiver_notice(rx->index);
    rx_pause_ms(rx, 500);
  }
}
