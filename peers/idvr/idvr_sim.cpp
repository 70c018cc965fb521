// idvr_sim: one simulated 'I' DVR on 127.0.0.1 for the demo and manual tests.
//   idvr_sim --live 9201 --playback 9203 --control 9205 --user admin --password secret
// runs until interrupted. With --log it prints the records the client sends ("record KIND
// SUB") and its control commands ("command TEXT").
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "peers/idvr/idvr_peer.h"
#include "peers/sim_main.h"

namespace {
void usage() {
  std::printf(
      "usage: idvr_sim [--live N] [--playback N] [--control N] [--channels N] [--size WxH]\n"
      "                [--fps N] [--interlaced] [--user NAME] [--password PASS] [--no-mix]\n"
      "                [--drop-after N] [--stall] [--unknown N] [--refuse] [--log]\n");
}
}  // namespace

int main(int argc, char** argv) {
  idvr::PeerConfig cfg;
  bool log = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&] { return sim::option_value(argc, argv, i, usage); };
    if (a == "--live")
      cfg.live_port = uint16_t(std::atoi(next()));
    else if (a == "--playback")
      cfg.pb_port = uint16_t(std::atoi(next()));
    else if (a == "--control")
      cfg.ctrl_port = uint16_t(std::atoi(next()));
    else if (a == "--channels")
      cfg.channels = std::atoi(next());
    else if (a == "--size") {
      if (std::sscanf(next(), "%dx%d", &cfg.width, &cfg.height) != 2) {
        usage();
        return 2;
      }
    } else if (a == "--fps")
      cfg.fps = std::atoi(next());
    else if (a == "--interlaced")
      cfg.interlaced = true;
    else if (a == "--user")
      cfg.user = next();
    else if (a == "--password")
      cfg.password = next();
    else if (a == "--no-mix")
      cfg.mix = false;
    else if (a == "--drop-after")
      cfg.drop_after = std::atoi(next());
    else if (a == "--stall")
      cfg.stall = true;
    else if (a == "--unknown")
      cfg.unknown_every = std::atoi(next());
    else if (a == "--refuse")
      cfg.refuse = true;
    else if (a == "--log")
      log = true;
    else {
      usage();
      return a == "--help" ? 0 : 2;
    }
  }
  sim::catch_stop_signals();
  idvr::IdvrPeer peer(cfg);
  if (!peer.start()) {
    std::fprintf(stderr, "idvr_sim: cannot listen\n");
    return 1;
  }
  std::printf("idvr_sim listening on 127.0.0.1: live %u playback %u control %u\n",
              unsigned(peer.live_port()), unsigned(peer.pb_port()), unsigned(peer.ctrl_port()));
  std::fflush(stdout);
  size_t records = 0, commands = 0;
  while (!sim::stop_requested()) {
    usleep(100000);
    if (!log) continue;
    const auto r = peer.records();
    for (; records < r.size(); ++records)
      std::printf("record %u %u\n", r[records].kind, r[records].sub);
    const auto c = peer.commands();
    for (; commands < c.size(); ++commands) std::printf("command %s\n", c[commands].text.c_str());
    std::fflush(stdout);
  }
  peer.stop();
  return 0;
}
