// Simulated DDNS server for the 'Q' DVRs' name look-up: listens on 127.0.0.1, reads the
// 24-byte login request and answers with the registered DVR's address and port. Behaviours:
// answer, accept and never answer, answer without the magic, answer short. One accept thread
// and one thread per connection, owned and joined by the peer.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ddns {

enum class Mode { Answer, Silent, NoMagic, Short };

class DdnsPeer {
 public:
  explicit DdnsPeer(Mode mode = Mode::Answer, uint16_t port = 0);
  ~DdnsPeer();
  DdnsPeer(const DdnsPeer&) = delete;
  DdnsPeer& operator=(const DdnsPeer&) = delete;

  // Registers `name` (at most 17 characters) at address:port.
  void add(const std::string& name, const std::string& address, uint16_t port);
  bool start();
  void stop();
  uint16_t port() const { return port_; }
  // Names asked for so far.
  std::vector<std::string> asked() const;

 private:
  void accept_loop();
  void serve(int fd);

  Mode mode_;
  uint16_t want_port_;
  uint16_t port_ = 0;
  int listen_fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread accept_thread_;
  mutable std::mutex lock_;
  std::map<std::string, std::pair<std::string, uint16_t>> names_;
  std::vector<std::string> asked_;
  std::vector<std::thread> threads_;
};

}  // namespace ddns
