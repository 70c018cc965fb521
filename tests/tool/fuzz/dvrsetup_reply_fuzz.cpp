// libFuzzer target: the DVR Setup client's replies. A DVR of setup.cfg points at a loopback
// listener that answers each connection with the input (after its first byte) and then ends
// it; the client logs in, fetches the settings (writing eeprom_data.dat), asks for the DVR's
// information and, when the first byte says so, sends the file back, each exchange reading
// whatever the input holds for it.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/net/net.h"
#include "tests/tool/fuzz/tool_fuzz_rig.h"
#include "tool/kpt4100/client/dvrsetup_client.h"
#include "tool/kpt4100/eeprom_file.h"

namespace {

int g_listener = -1;

// Takes the client's connection, sends `reply` whole, ends the sending side and reads the
// client's requests until it closes.
void answer(const uint8_t* reply, size_t size) {
  int fd = net_accept(g_listener, 2000);
  if (fd < 0) return;
  for (size_t off = 0; off < size;) {
    const long n = net_send(fd, reply + off, size - off);
    if (n <= 0) break;
    off += size_t(n);
  }
  ::shutdown(fd, SHUT_WR);
  uint8_t sink[4096];
  while (net_recv(fd, sink, sizeof sink) > 0) {}
  net_close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tool_fuzz::quiet_stdout();
  // setup.cfg and eeprom_data.dat are read and written in the working directory.
  uint16_t port = 0;
  g_listener = net_listen_loopback(0, &port);
  if (g_listener < 0) std::abort();
  const std::string p = std::to_string(port);
  std::string cfg = "[DVR]\nnum_dvr=1\nFuzz=MW-2606QTR14,127.0.0.1";
  for (int i = 0; i < 5; ++i) cfg += "," + p;
  cfg += ",80," + p + ",IP,16,\"x\",\"y\",\"1\",\"2\",\"3\"";
  for (int i = 1; i <= 16; ++i) cfg += ",C" + std::to_string(i);
  cfg += ",admin,x\n";
  tool_fuzz::write_file("setup.cfg", reinterpret_cast<const uint8_t*>(cfg.data()), cfg.size());
  dvrsetup_set_timeouts(1000, 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 65536) return 0;
  dvrsetup_client_reset();
  std::thread dvr(answer, data + 1, size - 1);
  if (dvrsetup_client("Fuzz", "admin", "1234", DVRSETUP_LOGIN) == 1) {
    dvrsetup_client("Fuzz", "admin", "1234", DVRSETUP_FETCH);
    dvrsetup_client("Fuzz", "admin", "1234", DVRSETUP_INFO);
    if (data[0] & 1) dvrsetup_client("Fuzz", "admin", "1234", DVRSETUP_SEND);
  }
  close_dvr_socket();
  dvr.join();
  ::unlink(kEepromFile);
  return 0;
}
