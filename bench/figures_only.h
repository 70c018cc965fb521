// Benchmarks print only their figures. The code under test writes diagnostics to standard
// output while a bench runs: the client's statistics line once a second (stats_add), the
// printf lines of its receive, decoder and recording threads ("Exiting decoder thread...",
// "Allocating memory ..."), and what the programs it starts print. A bench keeps its own
// standard output for its figures and points file descriptor 1 at a log file, so all of that
// lands in the log and nothing of the client changes.
//
// Standard error stays where it was: the bench's own errors, sanitizer reports, and the SDK's
// "[SDK TRACE]-" lines, which platform/debug writes there only when VIGILO_DEBUG_OUTPUT=1 asks
// for them.
//
// Call figures_only() first thing in main, before any thread starts; then print every figure
// with figure() (or to figures()).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <string>

namespace bench {

// The stream of the bench's figures: standard output until figures_only() moved fd 1.
inline FILE*& figures() {
  static FILE* stream = stdout;
  return stream;
}

// printf to the figures' stream.
inline void figure(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline void figure(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::vfprintf(figures(), format, ap);
  va_end(ap);
}

// The log of a bench called `name`: `--log PATH` of the command line, else "<name>.log" in
// the working directory.
inline std::string log_path(const char* name, int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == "--log") return argv[i + 1];
  return std::string(name) + ".log";
}

// Keeps the standard output the bench was started with for the figures (a descriptor of its
// own, not inherited by the programs the bench starts) and points fd 1 at `log`, truncated.
// False, with one line on standard error and every figure and diagnostic still on standard
// output, when the log cannot be opened.
inline bool figures_only(const std::string& log) {
  std::fflush(stdout);
  const int log_fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (log_fd < 0) {
    std::perror(log.c_str());
    return false;
  }
  const int kept = fcntl(1, F_DUPFD_CLOEXEC, 3);
  FILE* stream = kept >= 0 ? fdopen(kept, "w") : nullptr;
  if (!stream || dup2(log_fd, 1) < 0) {
    std::perror("figures_only");
    if (stream)
      std::fclose(stream);
    else if (kept >= 0)
      close(kept);
    close(log_fd);
    return false;
  }
  close(log_fd);
  // Each line shows as soon as it is printed, as it did on a terminal, and the log is
  // written as the run goes.
  std::setvbuf(stream, nullptr, _IOLBF, 0);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  figures() = stream;
  return true;
}

}  // namespace bench
