#include "platform/system/reboot.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/sync/thread_name.h"
#include "platform/system/process.h"

namespace {

const char* const kSystemd[] = {"systemctl", "reboot", nullptr};

// The chosen command's name (copied: the environment may change while it runs), and its pid
// or -1 (the refusal told).
int start_reboot_command(std::string* name) {
  const char* chosen = std::getenv("VIGILO_REBOOT_COMMAND");
  const char* custom[] = {chosen, nullptr};
  const char* const* argv = (chosen && *chosen) ? custom : kSystemd;
  *name = argv[0];
  const int pid = start_process(argv);
  if (pid <= 0) std::printf("Reboot refused: %s could not be started.\n", name->c_str());
  return pid;
}

int judge(const std::string& name, int code) {
  if (code == 0) return 0;
  std::printf("Reboot refused: %s ended with %d.\n", name.c_str(), code);
  return -1;
}

// Waits for `pid` without a limit, so it never stays a zombie however long it runs.
void wait_in_background(int pid, const std::string& name, bool tell_refusal) {
  std::thread([pid, name, tell_refusal] {
    set_current_thread_name("reboot wait");
    int code = 0;
    int w = 1;
    while (w == 1) w = wait_process(pid, 1000, &code);
    if (w == 0 && tell_refusal) judge(name, code);
  }).detach();
}

}  // namespace

int reboot_machine(int wait_ms) {
  std::string name;
  const int pid = start_reboot_command(&name);
  if (pid <= 0) return -1;
  int code = 0;
  if (wait_process(pid, wait_ms, &code) == 1) {
    wait_in_background(pid, name, false);
    return 0;
  }
  return judge(name, code);
}

void request_reboot() {
  std::string name;
  const int pid = start_reboot_command(&name);
  if (pid > 0) wait_in_background(pid, name, true);
}
