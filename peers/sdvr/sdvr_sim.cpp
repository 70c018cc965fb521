// sdvr_sim: one or more simulated 'S' DVRs on 127.0.0.1 for the demo and manual tests.
//   sdvr_sim --port 9301 --password secret
// runs until interrupted. With --log-packets it prints the code of every packet the client
// sends ("packet 0085").
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "peers/sdvr/sdvr_peer.h"
#include "peers/sim_main.h"

namespace {
void usage() {
  std::printf(
      "usage: sdvr_sim [--port N]... [--channels 1-4] [--height 224|272] [--fps N] [--clip "
      "FRAMES]\n"
      "                [--password PASS] [--answer 13|3|2|4|14|magic|silent] [--lower]\n"
      "                [--no-audio] [--no-control] [--garbage] [--drop-after N]\n"
      "                [--oversize N] [--bad-control N] [--stall] [--log-packets]\n");
}
}  // namespace

int main(int argc, char** argv) {
  sdvr::PeerConfig cfg;
  std::vector<uint16_t> ports;
  bool log = false;
  cfg.clip_frames = 2;  // encoding is slow under the sanitizers: listen soon
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&] { return sim::option_value(argc, argv, i, usage); };
    if (a == "--port")
      ports.push_back(uint16_t(std::atoi(next())));
    else if (a == "--channels")
      cfg.channels = std::atoi(next());
    else if (a == "--height")
      cfg.height = std::atoi(next());
    else if (a == "--fps")
      cfg.fps = std::atoi(next());
    else if (a == "--clip")
      cfg.clip_frames = std::atoi(next());
    else if (a == "--password")
      cfg.password = next();
    else if (a == "--answer") {
      const std::string v = next();
      cfg.answer = v == "3"        ? sdvr::Answer::Three
                   : v == "2"      ? sdvr::Answer::Two
                   : v == "4"      ? sdvr::Answer::Four
                   : v == "14"     ? sdvr::Answer::OneThenFour
                   : v == "magic"  ? sdvr::Answer::BadMagic
                   : v == "silent" ? sdvr::Answer::Silent
                                   : sdvr::Answer::OneThenThree;
    } else if (a == "--lower")
      cfg.lower_case = true;
    else if (a == "--no-audio")
      cfg.audio = false;
    else if (a == "--no-control")
      cfg.control = false;
    else if (a == "--garbage")
      cfg.garbage = true;
    else if (a == "--drop-after")
      cfg.drop_after = std::atoi(next());
    else if (a == "--oversize")
      cfg.oversize_every = std::atoi(next());
    else if (a == "--bad-control")
      cfg.bad_control_every = std::atoi(next());
    else if (a == "--stall")
      cfg.stall = true;
    else if (a == "--log-packets")
      log = true;
    else {
      usage();
      return a == "--help" ? 0 : 2;
    }
  }
  if (ports.empty()) ports.push_back(0);
  sim::catch_stop_signals();
  const auto peers =
      sim::start_each<sdvr::SdvrPeer>("sdvr_sim", cfg, ports, [](const sdvr::SdvrPeer& p) {
        std::printf("sdvr_sim listening on 127.0.0.1:%u\n", unsigned(p.port()));
      });
  if (peers.empty()) return 1;
  std::vector<size_t> seen(peers.size(), 0);
  while (!sim::stop_requested()) {
    usleep(100000);
    if (!log) continue;
    for (size_t k = 0; k < peers.size(); ++k) {
      const auto all = peers[k]->packets();
      for (; seen[k] < all.size(); ++seen[k]) std::printf("packet %s\n", all[seen[k]].code.c_str());
    }
    std::fflush(stdout);
  }
  for (auto& p : peers) p->stop();
  return 0;
}
