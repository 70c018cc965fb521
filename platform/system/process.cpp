#include "platform/system/process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <deque>
#include <fcntl.h>
#include <limits.h>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

static_assert(PROCESS_INPUT_MAX <= PIPE_BUF, "the input must fit an empty pipe");

namespace {

// The module's state is never destroyed: a detached waiter (the restart command's) may still
// be inside a call while exit() runs the program's destructors.
std::mutex& g_mutex = *new std::mutex;
std::vector<pid_t>& g_children = *new std::vector<pid_t>;  // started here and not yet reaped

// Children that some other call reaped (a start's sweep, a running test, a terminate) before
// their own waiter came: the waiter still gets the exit status. Children nobody waits for
// would pile up here, so the oldest make room.
struct Ended {
  pid_t pid;
  int status;
};
std::deque<Ended>& g_ended = *new std::deque<Ended>;
constexpr size_t kEndedKept = 256;

std::deque<Ended>::iterator find_ended_locked(pid_t pid) {
  return std::find_if(g_ended.begin(), g_ended.end(),
                      [pid](const Ended& e) { return e.pid == pid; });
}

int exit_code_of(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Collects `pid` when it has ended. Caller holds g_mutex. Returns 1 ended, 0 running. The
// status goes to *status when the caller is the child's waiter, else it is kept for the waiter.
int try_reap_locked(pid_t pid, int* status) {
  int st = 0;
  pid_t r = waitpid(pid, &st, WNOHANG);
  if (r == 0) return 0;
  // r == -1 (ECHILD: someone else reaped it) counts as ended.
  std::erase(g_children, pid);
  if (r != pid) st = 0;
  if (status) {
    *status = st;
  } else {
    if (g_ended.size() >= kEndedKept) g_ended.pop_front();
    g_ended.push_back({pid, st});
  }
  return 1;
}

int reap_locked() {
  std::vector<pid_t> copy = g_children;
  for (pid_t p : copy) try_reap_locked(p, nullptr);
  return static_cast<int>(g_children.size());
}

struct UniqueFd {
  int fd = -1;
  ~UniqueFd() {
    if (fd >= 0) close(fd);
  }
};

// posix_spawn file actions with RAII.
struct FileActions {
  posix_spawn_file_actions_t fa;
  FileActions() { posix_spawn_file_actions_init(&fa); }
  ~FileActions() { posix_spawn_file_actions_destroy(&fa); }
};

// The child starts with no signal blocked and every signal at its default action: a thread
// that starts it may block signals (SDL's threads block them all), and a child that inherited
// that mask would never see the SIGTERM that ends it.
struct SpawnAttr {
  posix_spawnattr_t attr;
  SpawnAttr() {
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnAttr() { posix_spawnattr_destroy(&attr); }
};

// Starts the child with `stdin_fd` (when >= 0) as its standard input.
int spawn(const char* const* argv, int stdin_fd, const char* stdout_path, const char* stderr_path) {
  if (!argv || !argv[0]) return -1;
  std::lock_guard<std::mutex> lock(g_mutex);
  reap_locked();
  // The files are opened here, not in the child, so a path that cannot be created is
  // reported as a failed start rather than as a child that exits at once.
  UniqueFd out, err;
  if (stdout_path &&
      (out.fd = open(stdout_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) < 0)
    return -1;
  if (stderr_path &&
      (err.fd = open(stderr_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) < 0)
    return -1;
  FileActions actions;
  if (stdin_fd >= 0 && posix_spawn_file_actions_adddup2(&actions.fa, stdin_fd, 0) != 0) return -1;
  if (out.fd >= 0 && posix_spawn_file_actions_adddup2(&actions.fa, out.fd, 1) != 0) return -1;
  if (err.fd >= 0 && posix_spawn_file_actions_adddup2(&actions.fa, err.fd, 2) != 0) return -1;
  // Sockets and files of the client must not live on in the child.
  if (posix_spawn_file_actions_addclosefrom_np(&actions.fa, 3) != 0) return -1;
  SpawnAttr attr;
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], &actions.fa, &attr.attr, const_cast<char* const*>(argv),
                   environ) != 0)
    return -1;
  // An ended child kept under this id is an older process whose id the system reused.
  if (auto e = find_ended_locked(pid); e != g_ended.end()) g_ended.erase(e);
  g_children.push_back(pid);
  return static_cast<int>(pid);
}

}  // namespace

int start_process(const char* const* argv, const char* stdout_path, const char* stderr_path) {
  return spawn(argv, -1, stdout_path, stderr_path);
}

int start_process_with_input(const char* const* argv, const char* input, unsigned input_len,
                             const char* stdout_path, const char* stderr_path) {
  if (input_len > PROCESS_INPUT_MAX || (input_len && !input)) return -1;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  UniqueFd read_end{fds[0]}, write_end{fds[1]};
  // Written before the child starts: an empty pipe holds PIPE_BUF bytes at least, so this
  // never blocks, and the child meets the end of its input once it has read them.
  size_t done = 0;
  while (done < input_len) {
    const ssize_t n = write(write_end.fd, input + done, input_len - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    done += size_t(n);
  }
  close(write_end.fd);
  write_end.fd = -1;
  return spawn(argv, read_end.fd, stdout_path, stderr_path);
}

int wait_process(int pid, int timeout_ms, int* exit_code) {
  using clock = std::chrono::steady_clock;
  auto deadline = clock::now() + std::chrono::milliseconds(std::max(0, timeout_ms));
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      if (auto e = find_ended_locked(pid); e != g_ended.end()) {
        if (exit_code) *exit_code = exit_code_of(e->status);
        g_ended.erase(e);
        return 0;
      }
      if (std::find(g_children.begin(), g_children.end(), pid) == g_children.end()) return -1;
      int status = 0;
      if (try_reap_locked(pid, &status)) {
        if (exit_code) *exit_code = exit_code_of(status);
        return 0;
      }
    }
    if (clock::now() >= deadline) return 1;
    std::this_thread::sleep_for(std::min<clock::duration>(pause, deadline - clock::now()));
    pause = std::min(pause * 2, std::chrono::milliseconds(20));
  }
}

int process_running(int pid) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (std::find(g_children.begin(), g_children.end(), pid) == g_children.end()) return 0;
  return try_reap_locked(pid, nullptr) ? 0 : 1;
}

int reap_children() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return reap_locked();
}

int terminate_process(int pid) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (pid <= 0 || std::find(g_children.begin(), g_children.end(), pid) == g_children.end())
    return -1;
  // Only this module reaps, and it holds the lock: a child found running here cannot be
  // reaped, and its pid reused, before the signal goes out.
  if (try_reap_locked(pid, nullptr)) return -1;
  return kill(pid, SIGTERM) == 0 ? 0 : -1;
}
