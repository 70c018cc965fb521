#include "client/foundation/config/mailslot.h"

#include <cstdio>
#include <cstring>

#include "platform/net/local_dgram.h"

namespace {

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint32_t get32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

}  // namespace

void encode_event_notice(const EVENT_NOTICE& n, uint8_t* out) {
  std::memset(out, 0, EVENT_NOTICE_SIZE);
  uint64_t t = uint64_t(n.time);
  put32(out, uint32_t(t));
  put32(out + 4, uint32_t(t >> 32));
  std::memcpy(out + 8, n.dvr_name, sizeof n.dvr_name);
  out[8 + 130] = 0;
  out[139] = n.marker;
  out[140] = n.kind;
  put32(out + 152, n.mask_motion);
  put32(out + 160, n.mask_sensor);
  put32(out + 164, n.mask_40);
  put32(out + 168, n.mask_80);
}

EVENT_NOTICE decode_event_notice(const uint8_t* in) {
  EVENT_NOTICE n;
  n.time = int64_t(uint64_t(get32(in)) | (uint64_t(get32(in + 4)) << 32));
  std::memcpy(n.dvr_name, in + 8, sizeof n.dvr_name);
  n.dvr_name[sizeof n.dvr_name - 1] = 0;
  n.marker = in[139];
  n.kind = in[140];
  n.mask_motion = get32(in + 152);
  n.mask_sensor = get32(in + 160);
  n.mask_40 = get32(in + 164);
  n.mask_80 = get32(in + 168);
  return n;
}

void encode_mailslot_request(const MAILSLOT_REQUEST& r, uint8_t* out) {
  std::memset(out, 0, MAILSLOT_REQUEST_SIZE);
  const uint32_t words[8] = {r.kind, r.year, r.month, r.day, r.hour, r.minute, r.unused,
                             r.channel_mask};
  for (int i = 0; i < 8; ++i) put32(out + 4 * i, words[i]);
  std::memcpy(out + 32, r.target, sizeof r.target);
  out[MAILSLOT_REQUEST_SIZE - 1] = 0;
}

MAILSLOT_REQUEST decode_mailslot_request(const uint8_t* in) {
  MAILSLOT_REQUEST r;
  uint32_t* words[8] = {&r.kind, &r.year, &r.month, &r.day, &r.hour, &r.minute, &r.unused,
                        &r.channel_mask};
  for (int i = 0; i < 8; ++i) *words[i] = get32(in + 4 * i);
  std::memcpy(r.target, in + 32, sizeof r.target);
  r.target[sizeof r.target - 1] = 0;
  return r;
}

int send_event_mailslot(const EVENT_NOTICE& notice) {
  uint8_t buf[EVENT_NOTICE_SIZE];
  encode_event_notice(notice, buf);
  int r = local_dgram_send(MAILSLOT_NAME, buf, sizeof buf);
  if (r == 1) {
    std::printf("Error : Unable to create mailslot ! \n");
    return 1;
  }
  if (r != 0) {
    std::printf("Error : Mailslot send fail.\n");
    return 1;
  }
  return 0;
}

int mailslot_create_reader() {
  int fd = local_dgram_create(MAILSLOT_NAME);
  if (fd == -2) std::printf("[%s:%d]Error : Don't create mailslot!\n", __FILE__, __LINE__);
  return fd < 0 ? -1 : fd;
}

int mailslot_read(int reader, uint8_t* out, size_t size) {
  uint8_t buf[512];
  long n = local_dgram_read(reader, buf, sizeof buf);
  if (n == 0) return 0;  // also a zero-length datagram, which carries nothing
  if (n < 0 || size_t(n) != size || size > sizeof buf) return -1;
  std::memcpy(out, buf, size);
  return 1;
}

void mailslot_close_reader(int& reader) { local_dgram_close(reader, MAILSLOT_NAME); }
