#include "peers/ddns/ddns_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/net/net.h"
#include "platform/wire/byte_reader.h"

namespace ddns {

DdnsPeer::DdnsPeer(Mode mode, uint16_t port) : mode_(mode), want_port_(port) {}
DdnsPeer::~DdnsPeer() { stop(); }

void DdnsPeer::add(const std::string& name, const std::string& address, uint16_t port) {
  std::lock_guard<std::mutex> g(lock_);
  names_[name.substr(0, 17)] = {address, port};
}

bool DdnsPeer::start() {
  listen_fd_ = net_listen_loopback(want_port_, &port_);
  if (listen_fd_ < 0) return false;
  accept_thread_ = std::thread([this] { accept_loop(); });
  return true;
}

void DdnsPeer::stop() {
  stop_.store(true);
  if (accept_thread_.joinable()) accept_thread_.join();
  std::vector<std::thread> t;
  {
    std::lock_guard<std::mutex> g(lock_);
    t.swap(threads_);
  }
  for (auto& th : t)
    if (th.joinable()) th.join();
  if (listen_fd_ >= 0) ::close(listen_fd_);
  listen_fd_ = -1;
}

std::vector<std::string> DdnsPeer::asked() const {
  std::lock_guard<std::mutex> g(lock_);
  return asked_;
}

void DdnsPeer::accept_loop() {
  while (!stop_.load()) {
    pollfd pf{listen_fd_, POLLIN, 0};
    if (::poll(&pf, 1, 50) <= 0) continue;
    int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> g(lock_);
    threads_.emplace_back([this, fd] { serve(fd); });
  }
}

void DdnsPeer::serve(int fd) {
  uint8_t req[24];
  size_t have = 0;
  while (have < sizeof req && !stop_.load()) {
    pollfd pf{fd, POLLIN, 0};
    if (::poll(&pf, 1, 50) <= 0) continue;
    ssize_t n = ::recv(fd, req + have, sizeof req - have, 0);
    if (n <= 0) break;
    have += size_t(n);
  }
  if (have == sizeof req) {
    std::string name(reinterpret_cast<const char*>(req + 4),
                     strnlen(reinterpret_cast<const char*>(req + 4), 17));
    std::pair<std::string, uint16_t> target{"0.0.0.0", 0};
    {
      std::lock_guard<std::mutex> g(lock_);
      asked_.push_back(name);
      auto it = names_.find(name);
      if (it != names_.end()) target = it->second;
    }
    bool magic_ok = req[0] == 0x55 && req[1] == 0xAA && req[2] == 0x55 && req[3] == 0xAA;
    if (mode_ == Mode::Silent) {
      while (!stop_.load()) {
        pollfd pf{fd, POLLIN, 0};
        if (::poll(&pf, 1, 50) > 0) {
          uint8_t b[64];
          if (::recv(fd, b, sizeof b, 0) <= 0) break;
        }
      }
    } else if (magic_ok) {
      uint8_t rep[16] = {0x55, 0xAA, 0x55, 0xAA};
      if (mode_ == Mode::NoMagic) rep[0] = 0x00;
      in_addr a{};
      inet_pton(AF_INET, target.first.c_str(), &a);
      std::memcpy(rep + 4, &a.s_addr, 4);
      put_be16(rep + 8, target.second);
      size_t len = mode_ == Mode::Short ? 6 : sizeof rep;
      ::send(fd, rep, len, MSG_NOSIGNAL);
    }
  }
  ::close(fd);
}

}  // namespace ddns
