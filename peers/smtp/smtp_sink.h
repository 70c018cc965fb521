// SMTP sink for tests: listens on 127.0.0.1 and speaks the server side of EHLO/HELO, AUTH
// PLAIN and LOGIN (checked against configured credentials when a user is set), MAIL, RCPT,
// DATA, RSET, NOOP and QUIT; it stores every accepted message. It never offers STARTTLS. It
// can refuse every mail at RCPT, stall (accept the connection and never answer), or go quiet
// once it has read a message body (the message is then not accepted).
//
// Threads: one accept thread and one thread per connection, owned and joined by the sink;
// the public calls are thread-safe.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace smtp {

struct SinkConfig {
  std::string user;  // non-empty: AUTH is offered and required before MAIL
  std::string password;
  bool refuse = false;            // every RCPT gets 550
  bool stall = false;             // no greeting, no answer
  bool stall_after_data = false;  // reads the body, then never answers
};

struct Message {
  std::string helo;                     // the EHLO/HELO name
  std::string from;                     // MAIL FROM address, without <>
  std::vector<std::string> recipients;  // RCPT TO addresses
  std::string data;                     // the message as sent, dot-unstuffed, CRLF kept
};

class SmtpSink {
 public:
  explicit SmtpSink(SinkConfig cfg = {});
  ~SmtpSink();
  SmtpSink(const SmtpSink&) = delete;
  SmtpSink& operator=(const SmtpSink&) = delete;

  // Listens on a free port of 127.0.0.1: true, or false when it cannot.
  bool start();
  void stop();
  uint16_t port() const { return port_; }

  std::vector<Message> messages() const;
  // Waits up to timeout_ms until at least n messages were accepted: true, or false.
  bool wait_messages(size_t n, int timeout_ms) const;
  // Every command line received (AUTH lines as "AUTH <mechanism>" only), oldest first.
  std::vector<std::string> commands() const;
  int connections() const { return connections_.load(); }

 private:
  void accept_loop();
  void serve(int fd);

  SinkConfig cfg_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread accept_thread_;
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  std::vector<Message> messages_;
  std::vector<std::string> commands_;
  std::vector<std::thread> sessions_;
  std::vector<int> session_fds_;
};

// Standard base64 (for AUTH and for tests that look for an attachment's bytes).
std::string base64_encode(const std::string& bytes);
std::string base64_decode(const std::string& text);

}  // namespace smtp
