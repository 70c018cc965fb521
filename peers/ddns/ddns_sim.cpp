// ddns_sim: a simulated DDNS server on 127.0.0.1.
//   ddns_sim --port 1800 --name DVR1=127.0.0.1:9101 [--mode answer|silent|nomagic|short]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "peers/ddns/ddns_peer.h"
#include "peers/sim_main.h"

int main(int argc, char** argv) {
  uint16_t port = 1800;
  ddns::Mode mode = ddns::Mode::Answer;
  struct Entry {
    std::string name, addr;
    uint16_t port;
  };
  std::vector<Entry> entries;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i], v = argv[i + 1];
    if (a == "--port") {
      port = uint16_t(std::atoi(v.c_str()));
    } else if (a == "--name") {
      size_t eq = v.find('='), colon = v.rfind(':');
      if (eq == std::string::npos || colon == std::string::npos || colon < eq) return 2;
      entries.push_back({v.substr(0, eq), v.substr(eq + 1, colon - eq - 1),
                         uint16_t(std::atoi(v.c_str() + colon + 1))});
    } else if (a == "--mode") {
      mode = v == "silent"    ? ddns::Mode::Silent
             : v == "nomagic" ? ddns::Mode::NoMagic
             : v == "short"   ? ddns::Mode::Short
                              : ddns::Mode::Answer;
    } else {
      std::fprintf(stderr, "usage: ddns_sim --port N --name NAME=ADDR:PORT [--mode M]\n");
      return 2;
    }
  }
  ddns::DdnsPeer peer(mode, port);
  for (auto& e : entries) peer.add(e.name, e.addr, e.port);
  if (!peer.start()) {
    std::fprintf(stderr, "ddns_sim: cannot listen on 127.0.0.1:%u\n", unsigned(port));
    return 1;
  }
  std::printf("ddns_sim: listening on 127.0.0.1:%u\n", unsigned(peer.port()));
  std::fflush(stdout);
  sim::serve_until_stopped();
  peer.stop();
  return 0;
}
