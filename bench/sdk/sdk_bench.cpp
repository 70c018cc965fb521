// sdk_bench: frame delivery through SDK_GetPacket (output option 0) of D1 MPEG-4 channels
// from simulated SDK DVRs run as separate wdvr_sim processes, so the process CPU measured is
// the SDK's and its readers' alone. Prints frames/s, MB/s and CPU ns per byte beside a raw
// loopback TCP copy of the same bytes in packets of the same size, and the CPU of idle open
// sessions (connected, no frames flowing).
//   sdk_bench [--seconds N] [--channels N] [--noise N] [--sim PATH]
// --noise (default 3, about 23 KB a frame) adds sensor noise to the simulator's pictures, so
// frames have a camera's sizes rather than those of a still synthetic picture.
#include <arpa/inet.h>
#include <netinet/in.h>
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

#include "sdk/OrvoSDK.h"

namespace {

using Clock = std::chrono::steady_clock;

double process_cpu_s() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
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
    std::vector<const char*> argv = {path.c_str(), "--port", "0", "--channels", ch.c_str(),
                                     "--size", "720x480", "--fps", f.c_str(), "--video", "mpeg4",
                                     "--noise", n.c_str()};
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

struct Result {
  double fps = 0, mbs = 0, ns_per_byte = 0;
  long frames = 0;
  double bytes = 0, mean_packet = 0;
};

// Opens `channels` live sessions on each of `dvrs` simulators and reads them for `seconds`.
Result deliver(const std::string& sim, int dvrs, int channels, int fps, double seconds) {
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
  std::atomic<bool> stop{false};
  std::atomic<long> frames{0};
  std::atomic<long long> bytes{0};
  std::vector<std::thread> readers;
  for (void* h : handles)
    readers.emplace_back([&, h] {
      std::vector<uint8_t> buf(SDK_FIRST_BUFFER_SIZE);
      _SDK_PACKET pk{};
      pk.pBuffer = buf.data();
      _SDK_FRAME_INFO fi{};
      // Long enough that idle readers do not poll (their wake-ups would be counted as the
      // SDK's), short enough to notice the stop.
      SDK_SetWaitTimeout(h, 200);
      while (!stop)
        if (SDK_GetPacket(h, &pk, &fi) == 1) {
          frames.fetch_add(1, std::memory_order_relaxed);
          bytes.fetch_add(pk.dwLength, std::memory_order_relaxed);
        }
    });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // settle
  const long f0 = frames;
  const long long b0 = bytes;
  const double c0 = process_cpu_s();
  const auto t0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double dt = std::chrono::duration<double>(Clock::now() - t0).count();
  const double cpu = process_cpu_s() - c0;
  r.frames = frames - f0;
  r.bytes = double(bytes - b0);
  stop = true;
  for (auto& t : readers) t.join();
  SDK_Terminate();
  for (auto& s : sims) stop_sim(s);
  r.fps = double(r.frames) / dt;
  r.mbs = r.bytes / dt / 1e6;
  r.ns_per_byte = r.bytes > 0 ? cpu * 1e9 / r.bytes : 0;
  r.mean_packet = r.frames ? r.bytes / double(r.frames) : 0;
  return r;
}

// A connected loopback TCP pair: *cs writes, *ss reads.
void loopback_pair(int* cs, int* ss) {
  int ls = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  bind(ls, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(ls, 1);
  getsockname(ls, reinterpret_cast<sockaddr*>(&a), &len);
  *cs = socket(AF_INET, SOCK_STREAM, 0);
  connect(*cs, reinterpret_cast<sockaddr*>(&a), sizeof a);
  *ss = accept(ls, nullptr, nullptr);
  close(ls);
}

// The same bytes through loopback TCP connections, in packets of the mean frame size. With
// `rate` > 0 (packets a second in all) `streams` writers pace their packets as the DVRs do and
// only the readers' CPU counts (the DVRs' sending is not the SDK's either), so a reader wakes
// per packet as a paced session does; 0 copies as fast as it can, both ends counted.
double raw_copy_ns_per_byte(double total, size_t packet, double rate = 0, int streams = 1) {
  if (rate > 0) {
    std::vector<std::thread> pairs;
    std::atomic<long long> cpu_ns{0}, got_all{0};
    for (int i = 0; i < streams; ++i)
      pairs.emplace_back([&] {
        int cs, ss;
        loopback_pair(&cs, &ss);
        const double per_stream = total / streams;
        const auto gap = std::chrono::duration<double>(streams / rate);
        std::thread writer([&] {
          std::vector<uint8_t> buf(packet, 0x5A);
          auto next = Clock::now();
          for (double left = per_stream; left > 0; left -= double(packet)) {
            const size_t n = size_t(std::min<double>(left, double(packet)));
            for (size_t off = 0; off < n;) {
              const ssize_t w = write(cs, buf.data() + off, n - off);
              if (w <= 0) return;
              off += size_t(w);
            }
            next += std::chrono::duration_cast<Clock::duration>(gap);
            std::this_thread::sleep_until(next);
          }
          shutdown(cs, SHUT_WR);
        });
        std::vector<uint8_t> in(packet);
        for (;;) {
          const ssize_t n = read(ss, in.data(), in.size());
          if (n <= 0) break;
          got_all += n;
        }
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        cpu_ns += (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
        writer.join();
        close(cs);
        close(ss);
      });
    for (auto& t : pairs) t.join();
    return got_all > 0 ? double(cpu_ns.load()) / double(got_all) : 0;
  }
  int cs, ss;
  loopback_pair(&cs, &ss);
  packet = packet ? packet : 65536;
  const double c0 = process_cpu_s();
  std::thread writer([&] {
    std::vector<uint8_t> buf(packet, 0x5A);
    double left = total;
    while (left > 0) {
      const size_t n = size_t(std::min<double>(left, double(packet)));
      size_t off = 0;
      while (off < n) {
        const ssize_t w = write(cs, buf.data() + off, n - off);
        if (w <= 0) return;
        off += size_t(w);
      }
      left -= double(n);
    }
    shutdown(cs, SHUT_WR);
  });
  std::vector<uint8_t> in(packet);
  double got = 0;
  for (;;) {
    const ssize_t n = read(ss, in.data(), in.size());
    if (n <= 0) break;
    got += double(n);
  }
  writer.join();
  const double cpu = process_cpu_s() - c0;
  close(cs);
  close(ss);
  return got > 0 ? cpu * 1e9 / got : 0;
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
  double seconds = 3;
  int channels = 9;
  std::string sim;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--channels")) channels = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--noise")) g_noise = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--sim")) sim = argv[i + 1];
  }
  if (sim.empty()) {
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) > 0) {
      std::string dir(self);
      dir = dir.substr(0, dir.rfind('/'));
      sim = dir + "/../peers/wdvr_sim";
    }
  }
  std::printf("sdk_bench: %d channels of 720x480 MPEG-4 per DVR through SDK_GetPacket (output 0)\n",
              channels);
  std::printf("%-22s %10s %9s %9s %12s %14s %8s\n", "case", "frames/s", "MB/s", "frame B",
              "CPU ns/B", "raw copy ns/B", "ratio");
  for (int dvrs : {1, 16}) {
    for (int fps : {30, 0}) {
      const Result r = deliver(sim, dvrs, channels, fps, seconds);
      // Paced cases are set beside a copy paced the same way (one stream per session).
      const double raw = fps ? raw_copy_ns_per_byte(r.bytes, size_t(r.mean_packet), r.fps, dvrs * channels)
                             : raw_copy_ns_per_byte(std::max(r.bytes, 1e6), size_t(r.mean_packet));
      char name[64];
      std::snprintf(name, sizeof name, "%d DVR%s, %s", dvrs, dvrs > 1 ? "s" : "",
                    fps ? "30 fps" : "unpaced");
      std::printf("%-22s %10.0f %9.1f %9.0f %12.3f %14.3f %8.2f\n", name, r.fps, r.mbs, r.mean_packet,
                  r.ns_per_byte, raw, raw > 0 ? r.ns_per_byte / raw : 0);
      std::fflush(stdout);
    }
  }
  std::printf("idle: %d open sessions, no frames: %.2f%% of one core\n", channels,
              idle_cpu_share(sim, channels, seconds) * 100);
  return 0;
}
