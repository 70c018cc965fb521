// The run tree the build lays out beside the tests (program, skin, fonts, demo setup.cfg),
// found and copied the same way by every test that runs the real program or its files.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

// The whole file, or "" when it cannot be read.
inline std::string read_file(const std::filesystem::path& p) {
  std::ifstream f(p);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// $VIGILO_RUN_DIR, else build/run seen from the test binary in build/tests/bin.
inline std::filesystem::path run_tree_dir() {
  if (const char* run = std::getenv("VIGILO_RUN_DIR")) return run;
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path().parent_path() /
         "run";
}

// Fills `to` with the run tree `from` without the logs and recordings of earlier runs (the
// demo leaves both), and without its setup.cfg unless `with_setup`. Files are hard links
// where possible: the program finds its setup.cfg beside its own resolved path, so the
// copy's own setup.cfg is the one it reads.
inline void copy_run_tree(const std::filesystem::path& from, const std::filesystem::path& to,
                          bool with_setup) {
  namespace fs = std::filesystem;
  for (const auto& e : fs::directory_iterator(from)) {
    fs::path name = e.path().filename();
    if (name == "logs" || name == "record" || (!with_setup && name == "setup.cfg")) continue;
    if (e.is_directory()) {
      fs::copy(e.path(), to / name, fs::copy_options::recursive);
      continue;
    }
    std::error_code ec;
    fs::create_hard_link(e.path(), to / name, ec);
    if (ec) fs::copy_file(e.path(), to / name);
  }
}

// A TCP port on 127.0.0.1 that is free now, or -1.
inline int free_loopback_port() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = -1;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(s);
  return port;
}

// A main window listens for its extension windows: every test that starts one gives it a
// link port of its own (inherited by the programs it starts), so tests running side by
// side never meet on the default port.
inline void use_own_link_port() {
  setenv("VIGILO_LINK_PORT", std::to_string(free_loopback_port()).c_str(), 1);
}
