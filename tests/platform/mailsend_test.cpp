// The project's mailsend against the SMTP sink: what arrives, every way a mail fails, and
// what never shows or passes: the password, line breaks in addresses.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "peers/smtp/smtp_sink.h"
#include "platform/system/process.h"

namespace {

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::string without_line_breaks(std::string s) {
  std::string out;
  for (char c : s)
    if (c != '\r' && c != '\n') out += c;
  return out;
}

class Mailsend : public testing::Test {
 protected:
  void SetUp() override {
    const char* run = std::getenv("VIGILO_RUN_DIR");
    program_ = std::string(run ? run : "build/run") + "/mailsend";
    if (access(program_.c_str(), X_OK) != 0) GTEST_FAIL() << "no " << program_;
    dir_ = std::string(testing::TempDir()) + "mailsend-" + std::to_string(getpid());
    mkdir(dir_.c_str(), 0700);
    setenv("VIGILO_MAILSEND_TIMEOUT", "2", 1);
  }
  void TearDown() override {
    if (!dir_.empty()) (void)std::system(("rm -rf " + dir_).c_str());
  }

  // Runs mailsend with `words` and the password on its standard input, calling `running`
  // with its process id meanwhile: its exit code; its standard error in *err.
  int run(const std::vector<std::string>& words, std::string* err,
          const std::function<void(int)>& running = nullptr) {
    std::vector<const char*> argv{program_.c_str()};
    for (const std::string& w : words) argv.push_back(w.c_str());
    argv.push_back(nullptr);
    const std::string err_path = dir_ + "/err";
    const std::string pass = "s3cret pw";
    int pid = start_process_with_input(argv.data(), pass.data(), unsigned(pass.size()), nullptr,
                                       err_path.c_str());
    EXPECT_GT(pid, 0);
    if (running) running(pid);
    int code = -1;
    EXPECT_EQ(0, wait_process(pid, 30000, &code));
    *err = read_file(err_path);
    return code;
  }

  std::vector<std::string> words(const smtp::SmtpSink& sink, const std::string& attach,
                                 const std::string& user = "", const std::string& pass = "-") {
    // clang-format off
    return {"-starttls", "-auth", "-user", user, "-pass", pass, "-f", "cam@example.com",
            "-t", "ops@example.com, boss@example.com", "-smtp",
            "127.0.0.1:" + std::to_string(sink.port()), "-d", "station.example", "+cc",
            "-sub", "Motion on CH 02", "-attach", attach, "-M", "Look at camera 2"};
    // clang-format on
  }

  std::string program_, dir_;
};

TEST_F(Mailsend, delivers_subject_message_and_attachment) {
  // The failures below want short limits; a delivery on a busy machine, TLS handshake and
  // all, may need more than their 2 s.
  setenv("VIGILO_MAILSEND_TIMEOUT", "60", 1);
  const std::string jpg = dir_ + "/shot.jpg";
  std::string bytes;
  for (int i = 0; i < 3000; ++i) bytes += char(i * 7);
  std::ofstream(jpg, std::ios::binary) << bytes;
  struct Case {
    std::string attach;
    bool has_part;
  } cases[] = {{jpg, true}, {"", false}};
  for (const Case& c : cases) {
    smtp::SmtpSink sink;
    ASSERT_TRUE(sink.start());
    std::string err;
    ASSERT_EQ(0, run(words(sink, c.attach), &err)) << err;
    ASSERT_TRUE(sink.wait_messages(1, 1000));
    const smtp::Message m = sink.messages()[0];
    EXPECT_EQ("station.example", m.helo);
    EXPECT_EQ("cam@example.com", m.from);
    EXPECT_EQ((std::vector<std::string>{"ops@example.com", "boss@example.com"}), m.recipients);
    EXPECT_NE(std::string::npos, m.data.find("Subject: Motion on CH 02\r\n"));
    EXPECT_NE(std::string::npos, m.data.find("Look at camera 2"));
    EXPECT_EQ(c.has_part, m.data.find("Content-Type: image/jpeg") != std::string::npos);
    EXPECT_EQ(c.has_part,
              without_line_breaks(m.data).find(smtp::base64_encode(bytes)) != std::string::npos);
  }
}

TEST_F(Mailsend, failures_exit_non_zero_and_never_show_the_password) {
  struct Case {
    const char* name;
    smtp::SinkConfig sink;
    std::string user, pass;
    int code;
  } cases[] = {
      {"refused recipient", {"", "", true}, "", "-", 1},
      // A password typed as a word is wiped from /proc while the server keeps it waiting.
      {"stalled server", {"", "", false, true}, "", "s3cret pw", 1},
      {"server quiet after the body", {"", "", false, false, true}, "", "-", 1},
      {"credentials without TLS", {"mailer", "s3cret pw"}, "mailer", "-", 1},
  };
  for (const Case& c : cases) {
    smtp::SmtpSink sink(c.sink);
    ASSERT_TRUE(sink.start());
    std::string err, cmdline;
    auto look = [&](int pid) {
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (sink.connections() == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      cmdline = read_file("/proc/" + std::to_string(pid) + "/cmdline");
    };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.code, run(words(sink, "", c.user, c.pass), &err,
                          c.sink.stall ? std::function<void(int)>(look) : nullptr))
        << c.name << ": " << err;
    // Within the limits that VIGILO_MAILSEND_TIMEOUT shortened to 2 s.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << c.name;
    if (c.sink.stall) {
      EXPECT_NE(std::string::npos, cmdline.find("cam@example.com")) << c.name;
      EXPECT_EQ(std::string::npos, cmdline.find("s3cret")) << c.name;
    }
    EXPECT_TRUE(sink.messages().empty()) << c.name;
    EXPECT_EQ(std::string::npos, err.find("s3cret")) << c.name;
    for (const std::string& cmd : sink.commands())
      EXPECT_NE(0u, cmd.rfind("AUTH", 0)) << c.name << ": credentials went out in the clear";
  }
  std::string err;
  EXPECT_EQ(2, run({"-f", "a@b"}, &err));  // no -t, no -smtp
  smtp::SmtpSink sink;
  ASSERT_TRUE(sink.start());
  EXPECT_EQ(1, run(words(sink, dir_ + "/missing.jpg"), &err));
  EXPECT_TRUE(sink.messages().empty());
}

TEST_F(Mailsend, line_breaks_in_addresses_never_reach_the_server) {
  smtp::SmtpSink sink;
  ASSERT_TRUE(sink.start());
  struct Case {
    size_t at;  // the value's index in words()
    std::string value, option;
  } cases[] = {
      {9, "ops@example.com>\r\nRCPT TO:<extra@example.com", "-t"},
      {7, "cam@example.com>\nRCPT TO:<extra@example.com", "-f"},
      {13, "station.example\r\nRSET", "-d"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> w = words(sink, "");
    w[c.at] = c.value;
    std::string err;
    EXPECT_EQ(2, run(w, &err)) << c.option;
    EXPECT_NE(std::string::npos, err.find("mailsend: " + c.option + " holds a line break")) << err;
  }
  EXPECT_EQ(0, sink.connections());
}

}  // namespace
