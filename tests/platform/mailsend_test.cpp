// The project's mailsend against the SMTP sink: what arrives, and every way a mail fails.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
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
    if (access(program_.c_str(), X_OK) != 0) GTEST_SKIP() << "no " << program_;
    dir_ = std::string(testing::TempDir()) + "mailsend-" + std::to_string(getpid());
    mkdir(dir_.c_str(), 0700);
    setenv("VIGILO_MAILSEND_TIMEOUT", "2", 1);
  }
  void TearDown() override {
    if (!dir_.empty()) (void)std::system(("rm -rf " + dir_).c_str());
  }

  // Runs mailsend with `words`: its exit code; its standard error in *err.
  int run(const std::vector<std::string>& words, std::string* err) {
    std::vector<const char*> argv{program_.c_str()};
    for (const std::string& w : words) argv.push_back(w.c_str());
    argv.push_back(nullptr);
    const std::string err_path = dir_ + "/err";
    int pid = start_process(argv.data(), nullptr, err_path.c_str());
    EXPECT_GT(pid, 0);
    int code = -1;
    EXPECT_EQ(0, wait_process(pid, 30000, &code));
    *err = read_file(err_path);
    return code;
  }

  std::vector<std::string> words(const smtp::SmtpSink& sink, const std::string& attach,
                                 const std::string& user = "") {
    return {"-starttls", "-auth", "-user", user, "-pass", "s3cret pw", "-f", "cam@example.com",
            "-t", "ops@example.com, boss@example.com", "-smtp",
            "127.0.0.1:" + std::to_string(sink.port()), "-d", "station.example", "+cc",
            "-sub", "Motion on CH 02", "-attach", attach, "-M", "Look at camera 2"};
  }

  std::string program_, dir_;
};

TEST_F(Mailsend, delivers_subject_message_and_attachment) {
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
    EXPECT_EQ(c.has_part, without_line_breaks(m.data).find(smtp::base64_encode(bytes)) !=
                              std::string::npos);
  }
}

TEST_F(Mailsend, failures_exit_non_zero_and_never_print_the_password) {
  struct Case {
    const char* name;
    smtp::SinkConfig sink;
    std::string user;
    int code;
  } cases[] = {
      {"refused recipient", {"", "", true, false}, "", 1},
      {"stalled server", {"", "", false, true}, "", 1},
      {"credentials without TLS", {"mailer", "s3cret pw", false, false}, "mailer", 1},
  };
  for (const Case& c : cases) {
    smtp::SmtpSink sink(c.sink);
    ASSERT_TRUE(sink.start());
    std::string err;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.code, run(words(sink, "", c.user), &err)) << c.name << ": " << err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << c.name;
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

}  // namespace
