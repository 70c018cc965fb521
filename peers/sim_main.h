// Start-up and stopping steps the simulated-DVR programs (*_sim) share: an option's value,
// starting one peer per port, and serving until SIGINT or SIGTERM.
// Called from the programs' main thread only; a missing option value ends the program with
// status 2 after its usage text.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace sim {

namespace detail {
inline volatile std::sig_atomic_t g_stop = 0;
inline void on_signal(int) { g_stop = 1; }
}  // namespace detail

// The value after option argv[i] (i moves on to it); with none, prints `usage()` and ends
// the program with status 2.
inline const char* option_value(int argc, char** argv, int& i, void (*usage)()) {
  if (i + 1 >= argc) {
    usage();
    std::exit(2);
  }
  return argv[++i];
}

// From now on SIGINT and SIGTERM only set the flag stop_requested() reads.
inline void catch_stop_signals() {
  std::signal(SIGINT, detail::on_signal);
  std::signal(SIGTERM, detail::on_signal);
}

inline bool stop_requested() { return detail::g_stop != 0; }

// Catches the stop signals and returns once one has come, looking every 100 ms.
inline void serve_until_stopped() {
  catch_stop_signals();
  while (!stop_requested()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

// Starts a Peer of `cfg` on each of `ports` (0: a free port), calling announce(peer) as each
// listens: the peers, or none after telling standard error "PROGRAM: cannot listen on
// 127.0.0.1:PORT" (the ones already started stop again).
template <class Peer, class Config, class Announce>
std::vector<std::unique_ptr<Peer>> start_each(const char* program, Config cfg,
                                              const std::vector<uint16_t>& ports,
                                              Announce announce) {
  std::vector<std::unique_ptr<Peer>> peers;
  for (uint16_t port : ports) {
    cfg.port = port;
    auto peer = std::make_unique<Peer>(cfg);
    if (!peer->start()) {
      std::fprintf(stderr, "%s: cannot listen on 127.0.0.1:%u\n", program, unsigned(port));
      return {};
    }
    announce(*peer);
    peers.push_back(std::move(peer));
  }
  std::fflush(stdout);
  return peers;
}

}  // namespace sim
