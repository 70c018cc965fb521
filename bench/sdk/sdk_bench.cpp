// sdk_bench: frame delivery through SDK_GetPacket (output option 0) of D1 MPEG-4 channels
// from simulated SDK DVRs run as separate wdvr_sim processes, so the process CPU measured is
// the SDK's and its readers' alone. Prints frames/s, MB/s and CPU ns per byte (and the part
// of it spent on the GetPacket callers' threads) beside a raw read of the same streams, and
// the CPU of idle open sessions (connected, no frames flowing).
//   sdk_bench [--seconds N] [--channels N] [--noise N] [--sim PATH] [--dvrs 1|16] [--fps 30|0]
//             [--log PATH]
// --noise (default 3, about 23 KB a frame) adds sensor noise to the simulator's pictures, so
// frames have a camera's sizes rather than those of a still synthetic picture. --dvrs and
// --fps run one case alone (for a profiler); --dvrs 1 --fps 30 runs the pausing case too.
// Only the figures reach standard output; whatever else writes to it meanwhile goes to --log,
// sdk_bench.log by default (bench/figures_only.h).
//
// The raw peer of each case is measured exactly as the SDK is: the same simulators (separate
// processes, paced or flat out), the same number of sessions and data connections with the
// same frames, and the process CPU over the same window, but each data connection read by a
// bare thread with plain read() into one buffer. Earlier peers were not the same work: the
// unpaced one was a single in-process stream copied flat out with its writer's CPU counted,
// which both hid the per-connection wake-ups of 144 sessions and charged the peer with the
// sending that the SDK's figure leaves to the simulators.
//
// The pausing case reads the paced streams with consumers that all stop calling GetPacket for
// 300 ms of every second (a viewer busy elsewhere): "in pauses" is the rate at which bytes
// still reached the process's sockets while they paused, as a share of the whole window's
// (1.00: the DVRs were never held back); "max late" the longest a frame waited beyond the
// quickest one of its session, from the DVR's time stamp to its GetPacket; "lost" the frames
// missing from the time stamps' sequence.
//
// Unpaced, the simulators send far more than the readers take (the raw read takes several
// GB/s), so the live sessions' frame lists drop most of it. "in" counts the bytes that reached
// the process's sockets (TCP_INFO): "ratio" sets the CPU per byte handed out beside the raw
// read, "ratio in" the CPU per byte received, which is the raw read's own measure.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <linux/tcp.h>  // tcp_info with tcpi_bytes_received
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "bench/figures_only.h"
#include "platform/wire/byte_reader.h"
#include "sdk/OrvoSDK.h"

namespace {

using Clock = std::chrono::steady_clock;

double process_cpu_s() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

// Bytes received so far on every TCP connection of this process (the SDK's sockets included):
// in a flood more arrives than the application takes, and the session lists drop the rest.
double tcp_bytes_received() {
  rlimit rl{};
  getrlimit(RLIMIT_NOFILE, &rl);
  double sum = 0;
  for (int fd = 0; fd < int(std::min<rlim_t>(rl.rlim_cur, 65536)); ++fd) {
    tcp_info ti{};
    socklen_t len = sizeof ti;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &ti, &len) == 0)
      sum += double(ti.tcpi_bytes_received);
  }
  return sum;
}

struct Sim {
  pid_t pid = -1;
  int port = 0;
};

// Starts wdvr_sim and reads its base port from its first line.
int g_noise = 3;

Sim start_sim(const std::string& path, int channels, int fps, bool silent) {
  int fd[2];
  if (pipe(fd) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fd[1], 1);
    close(fd[0]);
    close(fd[1]);
    const std::string ch = std::to_string(channels), f = std::to_string(fps),
                      n = std::to_string(g_noise);
    std::vector<const char*> argv = {path.c_str(), "--port",  "0",      "--channels", ch.c_str(),
                                     "--size",     "720x480", "--fps",  f.c_str(),    "--video",
                                     "mpeg4",      "--noise", n.c_str()};
    if (silent) {
      argv.push_back("--fault");
      argv.push_back("frame:silent:-1");
    }
    argv.push_back(nullptr);
    execv(path.c_str(), const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  close(fd[1]);
  Sim s;
  s.pid = pid;
  std::string line;
  char c;
  while (read(fd[0], &c, 1) == 1 && c != '\n') line += c;
  close(fd[0]);
  // The port is the last number on the line.
  const size_t p = line.find_last_of("0123456789");
  if (p != std::string::npos) {
    size_t b = p;
    while (b > 0 && std::isdigit(static_cast<unsigned char>(line[b - 1]))) --b;
    s.port = std::atoi(line.c_str() + b);
  }
  return s;
}

void stop_sim(Sim& s) {
  if (s.pid > 0) {
    kill(s.pid, SIGTERM);
    waitpid(s.pid, nullptr, 0);
  }
  s.pid = -1;
}

int OnInit(int, int, void*, const char*, int, int) { return 0; }
std::atomic<int> g_started{0};
int OnOpen(void*, int, int, int state, void*) {
  if (state) ++g_started;
  return 0;
}

// The TCP sockets open now, and the bytes received so far on a set of them.
std::vector<int> tcp_sockets() {
  rlimit rl{};
  getrlimit(RLIMIT_NOFILE, &rl);
  std::vector<int> fds;
  for (int fd = 0; fd < int(std::min<rlim_t>(rl.rlim_cur, 65536)); ++fd) {
    tcp_info ti{};
    socklen_t len = sizeof ti;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &ti, &len) == 0) fds.push_back(fd);
  }
  return fds;
}
double tcp_bytes_received(const std::vector<int>& fds) {
  double sum = 0;
  for (int fd : fds) {
    tcp_info ti{};
    socklen_t len = sizeof ti;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &ti, &len) == 0)
      sum += double(ti.tcpi_bytes_received);
  }
  return sum;
}

constexpr auto kPauseEvery = std::chrono::milliseconds(1000);
constexpr auto kPause = std::chrono::milliseconds(300);

struct Result {
  double fps = 0, mbs = 0, ns_per_byte = 0;
  double caller_ns_per_byte = 0;  // of ns_per_byte: the GetPacket callers' threads
  long frames = 0;
  double bytes = 0, mean_packet = 0;
  double received = 0;  // bytes that reached the process's sockets
  // Pausing consumers: the arrival rate during the pauses over the window's, the longest wait
  // beyond a session's quickest frame (ms), frames missing by time stamp.
  double in_pauses = 0, max_late_ms = 0;
  long lost = 0;
};

// A frame's time stamp in ms of its day (the simulators stamp their wall clock; a run across
// midnight would count its step back as no loss).
int64_t stamp_ms(const _SDK_FRAME_INFO& fi) {
  return ((int64_t(fi.wHour) * 60 + fi.wMinute) * 60 + fi.wSecond) * 1000 + fi.wMilliseconds;
}

// Opens `channels` live sessions on each of `dvrs` simulators and reads them for `seconds`;
// `pausing`: the readers pause kPause of every kPauseEvery.
Result deliver(const std::string& sim, int dvrs, int channels, int fps, double seconds,
               bool pausing = false) {
  Result r;
  std::vector<Sim> sims;
  for (int d = 0; d < dvrs; ++d) sims.push_back(start_sim(sim, channels, fps, false));
  SDK_Initialize(OnInit, 0);
  std::vector<void*> handles;
  g_started = 0;
  for (auto& s : sims) {
    _SDK_DVR_INFO info{};
    const int id = SDK_Connect("127.0.0.1", "admin", "", s.port, 1, &info);
    if (id < 0) {
      std::fprintf(stderr, "connect to %d failed: %d\n", s.port, id);
      continue;
    }
    for (int c = 0; c < channels; ++c) {
      _SDK_CONN_PARAM p{};
      p.bValue0 = 1;
      p.wValue2 = 5;
      p.cLive = 1;
      if (void* h = SDK_Open(id, c, &p, OnOpen, c, nullptr)) handles.push_back(h);
    }
  }
  const auto wait_end = Clock::now() + std::chrono::seconds(20);
  while (g_started < int(handles.size()) && Clock::now() < wait_end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::atomic<bool> stop{false}, measuring{false};
  std::atomic<long> frames{0};
  std::atomic<long long> bytes{0};
  std::vector<std::thread> readers;
  std::vector<clockid_t> reader_clocks(handles.size());
  struct Timing {
    int64_t quickest = INT64_MAX, slowest = INT64_MIN;  // arrival less time stamp, ms
    long lost = 0;
  };
  std::vector<Timing> timings(handles.size());
  std::atomic<size_t> clocks_known{0};
  const auto epoch = Clock::now();  // pauses start at whole periods from here
  for (void* h : handles)
    readers.emplace_back([&, h, i = readers.size()] {
      pthread_getcpuclockid(pthread_self(), &reader_clocks[i]);
      ++clocks_known;
      std::vector<uint8_t> buf(SDK_FIRST_BUFFER_SIZE);
      _SDK_PACKET pk{};
      pk.pBuffer = buf.data();
      _SDK_FRAME_INFO fi{};
      Timing& t = timings[i];
      int64_t last_stamp = -1;
      // A second (the value is in seconds): idle readers hardly poll (their wake-ups would
      // be counted as the SDK's), and a reader of a stalled session still sees the stop.
      SDK_SetWaitTimeout(h, 1);
      while (!stop) {
        if (pausing) {
          const auto now = Clock::now();
          const auto phase = (now - epoch) % kPauseEvery;
          if (phase < kPause) std::this_thread::sleep_until(now - phase + kPause);
        }
        if (SDK_GetPacket(h, &pk, &fi) == 1) {
          frames.fetch_add(1, std::memory_order_relaxed);
          bytes.fetch_add(pk.dwLength, std::memory_order_relaxed);
          if (!pausing) continue;
          const int64_t stamp = stamp_ms(fi);
          if (measuring) {
            const int64_t now =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - epoch).count();
            t.quickest = std::min(t.quickest, now - stamp);
            t.slowest = std::max(t.slowest, now - stamp);
            // Frames are 1000 / fps ms apart: a wider step skipped some.
            if (last_stamp >= 0 && fps > 0 && stamp - last_stamp > 1500 / fps)
              t.lost += long((stamp - last_stamp) * fps / 1000) - 1;
          }
          last_stamp = stamp;
        }
      }
    });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // settle
  while (clocks_known < handles.size()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const std::vector<int> sockets = tcp_sockets();
  if (pausing) {
    // The window starts just after a pause has ended, so its pauses are whole.
    const auto phase = (Clock::now() - epoch) % kPauseEvery;
    std::this_thread::sleep_for(kPauseEvery - phase + kPause);
    measuring = true;
  }
  auto callers_cpu_s = [&] {
    double s = 0;
    for (clockid_t c : reader_clocks) {
      timespec ts{};
      clock_gettime(c, &ts);
      s += double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
    }
    return s;
  };
  const long f0 = frames;
  const long long b0 = bytes;
  const double r0 = callers_cpu_s();
  const double in0 = tcp_bytes_received();
  const double c0 = process_cpu_s();
  const auto t0 = Clock::now();
  const auto t_end =
      t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  // Pausing: the bytes that arrive while every reader pauses (from 50 ms into a pause, when
  // the last reader's GetPacket under way has returned, to its end).
  double paused_bytes = 0, paused_s = 0;
  if (pausing) {
    for (auto p = t0 - (t0 - epoch) % kPauseEvery + kPauseEvery; p + kPause <= t_end;
         p += kPauseEvery) {
      std::this_thread::sleep_until(p + std::chrono::milliseconds(50));
      const double a = tcp_bytes_received(sockets);
      const auto ta = Clock::now();
      std::this_thread::sleep_until(p + kPause);
      paused_bytes += tcp_bytes_received(sockets) - a;
      paused_s += std::chrono::duration<double>(Clock::now() - ta).count();
    }
  }
  std::this_thread::sleep_until(t_end);
  const double dt = std::chrono::duration<double>(Clock::now() - t0).count();
  const double cpu = process_cpu_s() - c0;
  const double callers = callers_cpu_s() - r0;
  r.received = tcp_bytes_received() - in0;
  r.frames = frames - f0;
  r.bytes = double(bytes - b0);
  measuring = false;
  stop = true;
  for (auto& t : readers) t.join();
  SDK_Terminate();
  for (auto& s : sims) stop_sim(s);
  if (pausing) {
    r.in_pauses =
        paused_s > 0 && r.received > 0 ? (paused_bytes / paused_s) / (r.received / dt) : 0;
    for (const Timing& t : timings) {
      if (t.slowest >= t.quickest)
        r.max_late_ms = std::max(r.max_late_ms, double(t.slowest - t.quickest));
      r.lost += t.lost;
    }
  }
  r.fps = double(r.frames) / dt;
  r.mbs = r.bytes / dt / 1e6;
  r.ns_per_byte = r.bytes > 0 ? cpu * 1e9 / r.bytes : 0;
  r.caller_ns_per_byte = r.bytes > 0 ? callers * 1e9 / r.bytes : 0;
  r.mean_packet = r.frames ? r.bytes / double(r.frames) : 0;
  return r;
}

// The raw peer of a case: the same simulators, sessions and streams, read by a bare client
// (one thread a data connection, plain read() into one buffer) instead of the SDK. Its
// log-on, control log-on, data log-on and stream request are the least the simulator takes.
// Appends the n (2 or 4) low bytes of x, high byte first.
void append_be(std::vector<uint8_t>& v, uint32_t x, size_t n) {
  uint8_t b[4];
  put_be32(b, x);
  v.insert(v.end(), b + 4 - n, b + 4);
}
void put_text(std::vector<uint8_t>& v, const std::string& t) {
  append_be(v, uint16_t(t.size() + 1), 2);
  v.insert(v.end(), t.begin(), t.end());
  v.push_back(0);
}
bool read_exact(int fd, uint8_t* p, size_t n) {
  while (n > 0) {
    const ssize_t k = read(fd, p, n);
    if (k <= 0) return false;
    p += k;
    n -= size_t(k);
  }
  return true;
}
// Sends one packet and reads its reply: result 1 and the payload, or false.
bool exchange(int fd, uint32_t number, uint32_t flag, const std::vector<uint8_t>& payload,
              std::vector<uint8_t>* reply) {
  std::vector<uint8_t> pkt;
  append_be(pkt, number, 4);
  append_be(pkt, flag, 4);
  append_be(pkt, uint32_t(payload.size()), 4);
  pkt.insert(pkt.end(), payload.begin(), payload.end());
  if (write(fd, pkt.data(), pkt.size()) != ssize_t(pkt.size())) return false;
  uint8_t h[12];
  if (!read_exact(fd, h, 12) || get_be32(h + 4) != 1) return false;
  reply->resize(get_be32(h + 8));
  return read_exact(fd, reply->data(), reply->size());
}
int connect_port(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(uint16_t(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}
struct RawSession {
  int logon = -1, control = -1, data = -1;
  void Close() {
    for (int fd : {logon, control, data})
      if (fd >= 0) close(fd);
  }
};
// A live stream of `channel` from the simulator at `base`: its data connection is `data`.
RawSession open_raw(int base, int channel) {
  RawSession s;
  std::vector<uint8_t> p, reply;
  put_text(p, "admin");
  put_text(p, "");
  p.push_back(0);
  put_text(p, "127.0.0.1");
  append_be(p, 0xFFFFFFFF, 4);
  append_be(p, 0xFFFFFFFF, 4);
  p.push_back(0xFF);
  p.push_back(uint8_t(channel));
  append_be(p, 1, 4);
  s.logon = connect_port(base);
  if (s.logon < 0 || !exchange(s.logon, 0x00000001, 0, p, &reply) || reply.size() < 2) return s;
  const std::string token(reinterpret_cast<const char*>(reply.data()) + 2);
  p = {1, 2, 0};
  put_text(p, "admin");
  put_text(p, token);
  put_text(p, "wdvr");
  p.push_back(0);
  put_text(p, "127.0.0.1");
  s.control = connect_port(base + 3);
  if (s.control < 0 || !exchange(s.control, 0x00000002, 0, p, &reply) || reply.size() < 4) return s;
  p.clear();
  append_be(p, get_be32(reply.data()), 4);
  s.data = connect_port(base + 4);
  if (s.data < 0 || !exchange(s.data, 0x007F0002, 0, p, &reply) ||
      !exchange(s.control, 0x00020001, 1, {uint8_t(channel)}, &reply)) {
    s.Close();
    s = {};
  }
  return s;
}

Result raw_read(const std::string& sim, int dvrs, int channels, int fps, double seconds) {
  Result r;
  std::vector<Sim> sims;
  for (int d = 0; d < dvrs; ++d) sims.push_back(start_sim(sim, channels, fps, false));
  std::vector<RawSession> sessions;
  for (auto& s : sims)
    for (int c = 0; c < channels; ++c) {
      RawSession rs = open_raw(s.port, c);
      if (rs.data < 0)
        std::fprintf(stderr, "raw stream %d of %d failed\n", c, s.port);
      else
        sessions.push_back(rs);
    }
  std::atomic<bool> stop{false};
  std::atomic<long long> bytes{0};
  std::vector<std::thread> readers;
  for (const RawSession& rs : sessions)
    readers.emplace_back([&, fd = rs.data] {
      std::vector<uint8_t> buf(65536);
      for (;;) {
        const ssize_t n = read(fd, buf.data(), buf.size());
        if (n <= 0 || stop) break;
        bytes.fetch_add(n, std::memory_order_relaxed);
      }
    });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // settle
  const long long b0 = bytes;
  const double c0 = process_cpu_s();
  const auto t0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double dt = std::chrono::duration<double>(Clock::now() - t0).count();
  const double cpu = process_cpu_s() - c0;
  r.bytes = double(bytes - b0);
  stop = true;
  for (RawSession& rs : sessions) shutdown(rs.data, SHUT_RDWR);
  for (auto& t : readers) t.join();
  for (RawSession& rs : sessions) rs.Close();
  for (auto& s : sims) stop_sim(s);
  r.mbs = r.bytes / dt / 1e6;
  r.ns_per_byte = r.bytes > 0 ? cpu * 1e9 / r.bytes : 0;
  return r;
}

double idle_cpu_share(const std::string& sim, int channels, double seconds) {
  Sim s = start_sim(sim, channels, 30, true);
  SDK_Initialize(OnInit, 0);
  _SDK_DVR_INFO info{};
  const int id = SDK_Connect("127.0.0.1", "admin", "", s.port, 1, &info);
  g_started = 0;
  for (int c = 0; c < channels && id > 0; ++c) {
    _SDK_CONN_PARAM p{};
    p.cLive = 1;
    SDK_Open(id, c, &p, OnOpen, c, nullptr);
  }
  const auto end = Clock::now() + std::chrono::seconds(10);
  while (g_started < channels && Clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const double c0 = process_cpu_s();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double share = (process_cpu_s() - c0) / seconds;
  SDK_Terminate();
  stop_sim(s);
  return share;
}

}  // namespace

int main(int argc, char** argv) {
  bench::figures_only(bench::log_path("sdk_bench", argc, argv));
  double seconds = 3;
  int channels = 9;
  int only_dvrs = 0, only_fps = -1;  // one case alone (for profiling): --dvrs 1|16, --fps 30|0
  std::string sim;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--seconds"))
      seconds = std::atof(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--channels"))
      channels = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--noise"))
      g_noise = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--sim"))
      sim = argv[i + 1];
    else if (!std::strcmp(argv[i], "--dvrs"))
      only_dvrs = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--fps"))
      only_fps = std::atoi(argv[i + 1]);
  }
  if (sim.empty()) {
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) > 0) {
      std::string dir(self);
      dir = dir.substr(0, dir.rfind('/'));
      sim = dir + "/../peers/wdvr_sim";
    }
  }
  bench::figure(
      "sdk_bench: %d channels of 720x480 MPEG-4 per DVR through SDK_GetPacket (output 0)\n",
      channels);
  // CPU ns/B is per byte handed out by GetPacket (callers: the part on their threads); "in"
  // counts every byte that reached the SDK's sockets, dropped frames' too.
  bench::figure("%-22s %10s %9s %9s %12s %10s %9s %11s %9s %14s %8s %8s\n", "case", "frames/s",
                "MB/s", "frame B", "CPU ns/B", "callers", "in MB/s", "ns/B in", "raw MB/s",
                "raw read ns/B", "ratio", "ratio in");
  auto row = [&](const char* name, const Result& r, const Result& rr) {
    const double raw = rr.ns_per_byte;
    const double per_received = r.received > 0 ? r.ns_per_byte * r.bytes / r.received : 0;
    bench::figure("%-22s %10.0f %9.1f %9.0f %12.3f %10.3f %9.1f %11.3f %9.1f %14.3f %8.2f %8.2f\n",
                  name, r.fps, r.mbs, r.mean_packet, r.ns_per_byte, r.caller_ns_per_byte,
                  r.received / seconds / 1e6, per_received, rr.mbs, raw,
                  raw > 0 ? r.ns_per_byte / raw : 0, raw > 0 ? per_received / raw : 0);
    std::fflush(bench::figures());
  };
  Result paced_raw;  // the raw read of one paced DVR, the pausing case's peer too
  for (int dvrs : {1, 16}) {
    if (only_dvrs && dvrs != only_dvrs) continue;
    for (int fps : {30, 0}) {
      if (only_fps >= 0 && fps != only_fps) continue;
      const Result r = deliver(sim, dvrs, channels, fps, seconds);
      const Result rr = raw_read(sim, dvrs, channels, fps, seconds);
      if (dvrs == 1 && fps == 30) paced_raw = rr;
      char name[64];
      std::snprintf(name, sizeof name, "%d DVR%s, %s", dvrs, dvrs > 1 ? "s" : "",
                    fps ? "30 fps" : "unpaced");
      row(name, r, rr);
    }
  }
  if ((!only_dvrs || only_dvrs == 1) && only_fps != 0) {
    if (paced_raw.ns_per_byte == 0) paced_raw = raw_read(sim, 1, channels, 30, seconds);
    const Result r = deliver(sim, 1, channels, 30, seconds, true);
    row("1 DVR, 30 fps, pausing", r, paced_raw);
    bench::figure(
        "pausing readers (%d ms of every %d): in pauses %.2f of the window's rate, "
        "max late %.0f ms, lost %ld frames\n",
        int(kPause.count()), int(kPauseEvery.count()), r.in_pauses, r.max_late_ms, r.lost);
  }
  bench::figure("idle: %d open sessions, no frames: %.2f%% of one core\n", channels,
                idle_cpu_share(sim, channels, seconds) * 100);
  return 0;
}
