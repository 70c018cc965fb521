#include "peers/smtp/smtp_sink.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>

namespace smtp {

namespace {

const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The address between < and > of a MAIL FROM / RCPT TO argument.
std::string address_of(const std::string& arg) {
  const size_t a = arg.find('<'), b = arg.find('>');
  if (a == std::string::npos || b == std::string::npos || b < a) return arg;
  return arg.substr(a + 1, b - a - 1);
}

// Line reader over one connection that gives up once the sink stops.
class Conn {
 public:
  Conn(int fd, const std::atomic<bool>& stop) : fd_(fd), stop_(stop) {}
  bool send(const std::string& line) {
    const std::string s = line + "\r\n";
    return ::send(fd_, s.data(), s.size(), MSG_NOSIGNAL) == ssize_t(s.size());
  }
  // One line without its CRLF: true, or false when the peer left or the sink stops.
  bool read_line(std::string* line) {
    for (;;) {
      const size_t eol = buf_.find("\r\n");
      if (eol != std::string::npos) {
        *line = buf_.substr(0, eol);
        buf_.erase(0, eol + 2);
        return true;
      }
      if (buf_.size() > (1u << 20)) return false;
      pollfd p{fd_, POLLIN, 0};
      const int r = ::poll(&p, 1, 100);
      if (stop_.load()) return false;
      if (r <= 0) continue;
      char chunk[4096];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return false;
      buf_.append(chunk, size_t(n));
    }
  }

 private:
  int fd_;
  const std::atomic<bool>& stop_;
  std::string buf_;
};

}  // namespace

std::string base64_encode(const std::string& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
    if (i + 1 < bytes.size()) v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
    if (i + 2 < bytes.size()) v |= uint8_t(bytes[i + 2]);
    out += kB64[(v >> 18) & 63];
    out += kB64[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kB64[(v >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kB64[v & 63] : '=';
  }
  return out;
}

std::string base64_decode(const std::string& text) {
  std::string out;
  uint32_t v = 0;
  int bits = 0;
  for (char c : text) {
    const char* p = std::strchr(kB64, c);
    if (!c || !p) continue;  // '=', line breaks and anything else carry nothing
    v = (v << 6) | uint32_t(p - kB64);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += char((v >> bits) & 0xFF);
    }
  }
  return out;
}

SmtpSink::SmtpSink(SinkConfig cfg) : cfg_(std::move(cfg)) {}

SmtpSink::~SmtpSink() { stop(); }

bool SmtpSink::start() {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(listen_fd_, 16) != 0 ||
      ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ::close(listen_fd_);
    listen_fd_ = -1;
    return false;
  }
  port_ = ntohs(a.sin_port);
  accept_thread_ = std::thread([this] { accept_loop(); });
  return true;
}

void SmtpSink::stop() {
  stop_.store(true);
  if (accept_thread_.joinable()) accept_thread_.join();
  std::vector<std::thread> sessions;
  {
    std::lock_guard<std::mutex> g(lock_);
    sessions.swap(sessions_);
  }
  for (std::thread& t : sessions) t.join();
  if (listen_fd_ >= 0) ::close(listen_fd_);
  listen_fd_ = -1;
}

std::vector<Message> SmtpSink::messages() const {
  std::lock_guard<std::mutex> g(lock_);
  return messages_;
}

bool SmtpSink::wait_messages(size_t n, int timeout_ms) const {
  std::unique_lock<std::mutex> g(lock_);
  return changed_.wait_for(g, std::chrono::milliseconds(timeout_ms),
                           [&] { return messages_.size() >= n; });
}

std::vector<std::string> SmtpSink::commands() const {
  std::lock_guard<std::mutex> g(lock_);
  return commands_;
}

void SmtpSink::accept_loop() {
  while (!stop_.load()) {
    pollfd p{listen_fd_, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++connections_;
    std::lock_guard<std::mutex> g(lock_);
    sessions_.emplace_back([this, fd] {
      serve(fd);
      ::close(fd);
    });
  }
}

void SmtpSink::serve(int fd) {
  Conn c(fd, stop_);
  if (cfg_.stall) {
    std::string ignored;
    while (c.read_line(&ignored)) {}
    return;
  }
  auto note = [&](const std::string& cmd) {
    std::lock_guard<std::mutex> g(lock_);
    commands_.push_back(cmd);
  };
  const bool need_auth = !cfg_.user.empty();
  bool authed = false;
  Message m;
  c.send("220 sink ESMTP ready");
  std::string line;
  while (c.read_line(&line)) {
    const std::string verb = upper(line.substr(0, line.find(' ')));
    const std::string arg =
        line.find(' ') == std::string::npos ? "" : line.substr(line.find(' ') + 1);
    note(verb == "AUTH" ? "AUTH " + upper(arg.substr(0, arg.find(' '))) : line);
    if (verb == "EHLO" || verb == "HELO") {
      m = Message{};
      m.helo = arg;
      if (verb == "HELO") {
        c.send("250 sink");
      } else {
        c.send("250-sink");
        if (need_auth) c.send("250-AUTH PLAIN LOGIN");
        c.send("250 8BITMIME");
      }
    } else if (verb == "AUTH") {
      const std::string mech = upper(arg.substr(0, arg.find(' ')));
      std::string user, pass;
      if (mech == "PLAIN") {
        std::string blob = arg.find(' ') == std::string::npos ? "" : arg.substr(arg.find(' ') + 1);
        if (blob.empty()) {
          c.send("334 ");
          if (!c.read_line(&blob)) return;
        }
        const std::string d = base64_decode(blob);  // authzid \0 user \0 password
        const size_t a = d.find('\0'), b = d.find('\0', a + 1);
        if (a != std::string::npos && b != std::string::npos) {
          user = d.substr(a + 1, b - a - 1);
          pass = d.substr(b + 1);
        }
      } else if (mech == "LOGIN") {
        std::string u, p;
        c.send("334 VXNlcm5hbWU6");
        if (!c.read_line(&u)) return;
        c.send("334 UGFzc3dvcmQ6");
        if (!c.read_line(&p)) return;
        user = base64_decode(u);
        pass = base64_decode(p);
      } else {
        c.send("504 mechanism not supported");
        continue;
      }
      authed = need_auth && user == cfg_.user && pass == cfg_.password;
      c.send(authed ? "235 authenticated" : "535 authentication failed");
    } else if (verb == "MAIL") {
      if (need_auth && !authed) {
        c.send("530 authentication required");
        continue;
      }
      m.from = address_of(arg);
      m.recipients.clear();
      c.send("250 ok");
    } else if (verb == "RCPT") {
      if (cfg_.refuse) {
        c.send("550 recipient refused");
        continue;
      }
      m.recipients.push_back(address_of(arg));
      c.send("250 ok");
    } else if (verb == "DATA") {
      if (m.recipients.empty()) {
        c.send("554 no valid recipients");
        continue;
      }
      c.send("354 end with .");
      std::string data, l;
      for (;;) {
        if (!c.read_line(&l)) return;
        if (l == ".") break;
        if (!l.empty() && l[0] == '.') l.erase(0, 1);
        data += l + "\r\n";
      }
      if (cfg_.stall_after_data) {
        while (c.read_line(&l)) {}
        return;
      }
      m.data = data;
      {
        std::lock_guard<std::mutex> g(lock_);
        messages_.push_back(m);
      }
      changed_.notify_all();
      c.send("250 queued");
    } else if (verb == "RSET") {
      m.from.clear();
      m.recipients.clear();
      c.send("250 ok");
    } else if (verb == "NOOP") {
      c.send("250 ok");
    } else if (verb == "QUIT") {
      c.send("221 bye");
      return;
    } else {
      c.send("502 command not implemented");
    }
  }
}

}  // namespace smtp
