// A private Xvfb server for one test: windows, focus and keys of tests that run at the
// same time on the shared display cannot reach it or be reached from it.
#pragma once

#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

class PrivateX {
 public:
  // Starts Xvfb with one screen of the given depth and size ("WxH"); display() is empty when
  // it failed.
  explicit PrivateX(int depth = 24, const char* size = "1024x768") {
    int fds[2];
    if (pipe(fds) != 0) return;
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      // The server ends with the test process however that ends: left behind, it would hold
      // the test's output open and the runner would wait for it until its time-out.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (getppid() != parent) _exit(127);
      close(fds[0]);
      std::string fd = std::to_string(fds[1]);
      std::string screen = std::string(size) + "x" + std::to_string(depth);
      // -r: no server key repeat, which a loaded machine would start between a test's press
      // and release.
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten",
             "tcp", "-noreset", "-r", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (pid_ > 0 && poll(&p, 1, 30000) > 0) {  // a busy machine starts it late
      char c;
      if (read(fds[0], &c, 1) != 1 || c == '\n') break;
      number += c;
    }
    close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }
  ~PrivateX() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      // 10 s to close its clients and remove its lock, then killed.
      bool ended = false;
      for (int i = 0; i < 200 && !(ended = waitpid(pid_, nullptr, WNOHANG) != 0); ++i)
        usleep(50000);
      if (!ended) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
      }
    }
  }
  PrivateX(const PrivateX&) = delete;
  PrivateX& operator=(const PrivateX&) = delete;

  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};
