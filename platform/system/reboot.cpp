#include "platform/system/reboot.h"

#include <cstdio>
#include <cstdlib>

#include "platform/system/process.h"

int reboot_machine() {
  const char* chosen = std::getenv("VIGILO_REBOOT_COMMAND");
  const char* custom[] = {chosen, nullptr};
  const char* systemd[] = {"systemctl", "reboot", nullptr};
  const char* const* argv = (chosen && *chosen) ? custom : systemd;
  const int pid = start_process(argv);
  if (pid <= 0) {
    std::printf("Reboot refused: %s could not be started.\n", argv[0]);
    return -1;
  }
  int code = 0;
  if (wait_process(pid, REBOOT_WAIT_MS, &code) == 0 && code != 0) {
    std::printf("Reboot refused: %s ended with %d.\n", argv[0], code);
    return -1;
  }
  return 0;
}
