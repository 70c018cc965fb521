// The e-mail alert queue: templates, refusals, the sender's words, and the sender thread
// delivering through the project's mailsend to the SMTP sink.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "client/foundation/config/app_options.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/mail_queue.h"
#include "peers/smtp/smtp_sink.h"
#include "tests/client/screens/eventually.h"

namespace {

std::string email_section(const std::string& to, const std::string& server, int attachment,
                          int delay, const std::string& user = "") {
  return "[EMAIL]\nreceipient=" + to +
         "\nfrom=dvr@example.com\nsubject=%E on %D CH %C\n"
         "attachment=" +
         std::to_string(attachment) +
         "\ninline_msg=At %T: %E\nreplyto=\ncc=\n"
         "bcc=\nusername=" +
         user + "\npassword=s3cret-pw\nsmtpserver=" + server +
         "\ndomain=example.com\ndelay=" + std::to_string(delay) + "\n";
}

// Reads as "" a file that fails mid-read: the /proc scan below meets processes of parallel
// tests that end between the open and the read (ESRCH, which the stream throws as an error).
std::string read_file(const std::filesystem::path& path) {
  try {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  } catch (const std::exception&) { return {}; }
}

bool exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

class MailQueue : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::string(testing::TempDir()) + "mailq-" + std::to_string(getpid());
    mkdir(dir_.c_str(), 0700);
    setenv("TMPDIR", dir_.c_str(), 1);
    char cwd[512];
    ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
    cwd_ = cwd;
    ASSERT_EQ(0, chdir(dir_.c_str()));  // the system log goes to ./logs/
    mail_queue_init();
  }
  void TearDown() override {
    mail_queue_stop();
    if (sender_.joinable()) sender_.join();
    mail_queue_init();
    unsetenv("TMPDIR");
    ASSERT_EQ(0, chdir(cwd_.c_str()));
    (void)std::system(("rm -rf " + dir_).c_str());
  }
  std::string jpeg(const std::string& name) {
    const std::string p = dir_ + "/" + name;
    std::ofstream(p) << "JFIF";
    return p;
  }
  void start_sender() {
    const char* run = std::getenv("VIGILO_RUN_DIR");
    std::snprintf(app_options.program_dir, sizeof app_options.program_dir, "%s/",
                  run ? run : "build/run");
    sender_ = std::thread([] { mail_sender_thread(nullptr); });
  }
  std::string system_log() {
    const time_t now = time(nullptr);
    struct tm t {};
    localtime_r(&now, &t);
    char name[48];
    strftime(name, sizeof name, "/logs/sys%Y%m%d.txt", &t);
    return read_file(dir_ + name);
  }
  std::string dir_, cwd_;
  std::thread sender_;
};

TEST(MailTemplate, each_placeholder_once_in_order_and_bounded) {
  struct Case {
    std::string tmpl, dvr;
    std::string expect;  // with the time as "T"
  } cases[] = {
      {"%D/%C/%E/%D", "DVR-1", "DVR-1/2/MOTION/%D"},
      {"no placeholders", "DVR-1", "no placeholders"},
      {"%D then %C", "cam%C", "cam2 then %C"},  // later ones are found in the expanded text
      {"%E%E", "x", "MOTION%E"},
      {"", "x", ""},
  };
  char out[MAIL_FIELD_SIZE];
  for (const Case& c : cases) {
    mail_expand_template(out, c.tmpl.c_str(), c.dvr.c_str(), 2, "MOTION");
    EXPECT_EQ(c.expect, out) << c.tmpl;
  }
  mail_expand_template(out, "at %T.", "x", 1, "y");
  EXPECT_EQ(23u, std::strlen(out)) << out;  // "at " + "YYYY-MM-DD HH:MM:SS" + "."

  // A long template, or a value that makes it long, is cut to the field.
  const std::string long_tmpl(1500, 'a');
  mail_expand_template(out, long_tmpl.c_str(), "x", 1, "y");
  EXPECT_EQ(size_t(MAIL_FIELD_SIZE - 1), std::strlen(out));
  const std::string long_name(990, 'n');
  mail_expand_template(out, "%D%D and more text", long_name.c_str(), 1, "y");
  EXPECT_EQ(size_t(MAIL_FIELD_SIZE - 1), std::strlen(out));
}

TEST(MailWords, argument_vector_word_for_word) {
  MAIL_ITEM item{};
  auto set = [&](int f, const char* v) { std::snprintf(item.field[f], MAIL_FIELD_SIZE, "%s", v); };
  set(MAIL_USER, "");
  set(MAIL_PASSWORD, "p w");
  set(MAIL_FROM, "a@b");
  set(MAIL_TO, "c@d,e@f");
  set(MAIL_SMTP, "mx:2525");
  set(MAIL_DOMAIN, "");
  set(MAIL_SUBJECT, "Motion on DVR 1");
  set(MAIL_ATTACH, "");
  set(MAIL_MESSAGE, "two words");
  using W = std::vector<std::string>;
  EXPECT_EQ((W{"-starttls", "-auth",   "-user", "",         "-pass", "-", "-f",   "a@b",
               "-t",        "c@d,e@f", "-smtp", "mx:2525",  "-d",    "",  "-sub", "Motion on DVR 1",
               "-attach",   "",        "-M",    "two words"}),
            mail_send_words(item));
  set(MAIL_CC, "x@y");
  set(MAIL_BCC, "z@y");
  item.auth_method = 3;
  W w = mail_send_words(item);
  EXPECT_EQ("-auth-login", w[1]);
  EXPECT_EQ((W{"-d", "", "+cc", "+bcc", "-sub"}), W(w.begin() + 12, w.begin() + 17));
  item.sender_form = 1;
  EXPECT_EQ((W{"-f", "a@b", "-t", "c@d,e@f", "-smtp", "mx:2525", "-d", "", "+cc", "+bcc", "-sub",
               "Motion on DVR 1", "-attach", "", "-M", "two words"}),
            mail_send_words(item));
}

TEST_F(MailQueue, refusals_repeats_and_the_full_queue) {
  ASSERT_EQ(0, load_email_info(email_section("", "", 1, 60).c_str()));
  const std::string kept = jpeg("kept.jpg");
  EXPECT_EQ(-2, mail_enqueue(0, "DVR-1", 1, 0x02, kept.c_str()));
  EXPECT_TRUE(exists(kept));

  ASSERT_EQ(0, load_email_info(email_section("ops@example.com", "mx", 0, 60).c_str()));
  const std::string dropped = jpeg("dropped.jpg");
  EXPECT_EQ(0, mail_enqueue(0, "DVR-1", 1, 0x02, dropped.c_str()));
  EXPECT_FALSE(exists(dropped)) << "attachment 0 deletes the snapshot";

  ASSERT_EQ(0, load_email_info(email_section("ops@example.com", "mx", 1, 60).c_str()));
  const std::string repeat = jpeg("repeat.jpg");
  EXPECT_EQ(-1, mail_enqueue(0, "DVR-1", 1, 0x02, repeat.c_str()));
  EXPECT_FALSE(exists(repeat)) << "a repeat deletes its snapshot";
  // Another kind, channel, DVR, or a DVR id the table cannot hold is no repeat.
  EXPECT_EQ(0, mail_enqueue(0, "DVR-1", 1, 0x20, nullptr));
  EXPECT_EQ(0, mail_enqueue(0, "DVR-1", 2, 0x02, nullptr));
  EXPECT_EQ(0, mail_enqueue(0, "DVR-2", 1, 0x02, nullptr));
  EXPECT_EQ(0, mail_enqueue(-1, "DVR-3", 1, 0x02, nullptr));
  EXPECT_EQ(0, mail_enqueue(-1, "DVR-3", 1, 0x02, nullptr));
  EXPECT_EQ(0, mail_enqueue(5000, "DVR-3", 40, 0x02, nullptr));
  EXPECT_EQ(0, mail_enqueue(5000, "DVR-3", 40, 0x02, nullptr));
  EXPECT_EQ(8, mail_queue_count());

  for (int ch = 1; mail_queue_count() < MAIL_QUEUE_SLOTS; ++ch)
    ASSERT_EQ(0, mail_enqueue(7, "DVR-4", ch, 0x02, nullptr));
  testing::internal::CaptureStdout();
  EXPECT_EQ(-1, mail_enqueue(8, "DVR-5", 1, 0x02, nullptr));
  EXPECT_NE(std::string::npos, testing::internal::GetCapturedStdout().find(
                                   "Email queue is already full. SMTP server is unable to cope "
                                   "with the number of incoming events."));
  testing::internal::CaptureStdout();
  EXPECT_EQ(-1, mail_queue_stop());
  EXPECT_NE(std::string::npos,
            testing::internal::GetCapturedStdout().find(
                "There are unsent messages in the queue. They will be discarded."));
}

TEST_F(MailQueue, a_repeat_after_the_delay_is_queued) {
  ASSERT_EQ(0, load_email_info(email_section("ops@example.com", "mx", 1, 1).c_str()));
  ASSERT_EQ(0, mail_enqueue(0, "DVR-1", 3, 0x02, nullptr));
  const time_t first = time(nullptr);
  EXPECT_EQ(-1, mail_enqueue(0, "DVR-1", 3, 0x02, nullptr));
  while (time(nullptr) <= first + 1) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(0, mail_enqueue(0, "DVR-1", 3, 0x02, nullptr));
}

TEST_F(MailQueue, fields_over_the_limit_are_not_sent) {
  app_options.program_dir[0] = '\0';  // ./mailsend: not there, so a mail that goes fails
  for (int subject : {1, 2}) {        // with 999 characters of message: 1000 go, 1001 do not
    MAIL_ITEM item{};
    std::memset(item.field[MAIL_MESSAGE], 'm', MAIL_FIELD_SIZE - 1);
    std::memset(item.field[MAIL_SUBJECT], 's', size_t(subject));
    testing::internal::CaptureStdout();
    const int rc = mail_send(item);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(subject == 1 ? -1 : -2, rc);
    EXPECT_EQ(subject == 2,
              out.find("mailsend parameter exceeded!        1001") != std::string::npos);
  }
}

// Delivered mails go in order; a mail the server refuses leaves one system log line with
// the server's reason.
TEST_F(MailQueue, sender_delivers_in_order_logs_each_refusal_and_cleans_up) {
  smtp::SmtpSink sink, refusing({"", "", true});
  ASSERT_TRUE(sink.start());
  ASSERT_TRUE(refusing.start());
  const std::string server = "127.0.0.1:" + std::to_string(sink.port());
  ASSERT_EQ(0, load_email_info(email_section("ops@example.com", server, 1, 60).c_str()));
  const std::string shot = jpeg("DVR-1-01.jpg");
  ASSERT_EQ(0, mail_enqueue(0, "DVR-1", 2, 0x02, shot.c_str()));
  ASSERT_EQ(0, mail_enqueue(0, "DVR-1", 3, 0x20, nullptr));
  start_sender();
  ASSERT_TRUE(sink.wait_messages(2, 20000));
  const auto m = sink.messages();
  EXPECT_NE(std::string::npos, m[0].data.find("Subject: MOTION on DVR-1 CH 2\r\n"));
  EXPECT_NE(std::string::npos, m[0].data.find("Content-Type: image/jpeg"));
  EXPECT_NE(std::string::npos, m[1].data.find("Subject: SENSOR on DVR-1 CH 3\r\n"));
  EXPECT_EQ(std::string::npos, system_log().find("not sent")) << system_log();

  ASSERT_EQ(0, load_email_info(email_section("nobody@example.com",
                                             "127.0.0.1:" + std::to_string(refusing.port()), 1, 60)
                                   .c_str()));
  ASSERT_EQ(0, mail_enqueue(0, "DVR-1", 4, 0x02, nullptr));
  const std::string line =
      "|EVENT|Alert mail to <nobody@example.com> not sent (MOTION on DVR-1 CH 4): ";
  ASSERT_TRUE(eventually([&] { return system_log().find(line) != std::string::npos; }, 60000))
      << system_log();
  const std::string log = system_log();
  const size_t at = log.find(line);
  EXPECT_EQ(at, log.rfind(line));
  const std::string reason = log.substr(at + line.size(), log.find('\n', at) - at - line.size());
  EXPECT_NE(std::string::npos, reason.find("550")) << reason;
  EXPECT_EQ(0, mail_queue_stop());
  sender_.join();
  // The sender's work files are gone once each mailsend ended.
  DIR* d = opendir(dir_.c_str());
  ASSERT_NE(nullptr, d);
  int left = 0;
  while (dirent* e = readdir(d)) left += std::strncmp(e->d_name, "vigilo-mail-", 12) == 0;
  closedir(d);
  EXPECT_EQ(0, left);
}

TEST_F(MailQueue, stop_ends_a_stalled_send_and_discards_the_rest) {
  smtp::SmtpSink sink({"", "", false, true});
  ASSERT_TRUE(sink.start());
  const std::string server = "127.0.0.1:" + std::to_string(sink.port());
  ASSERT_EQ(0, load_email_info(email_section("ops@example.com", server, 1, 60).c_str()));
  ASSERT_EQ(0, mail_enqueue(0, "DVR-1", 1, 0x02, nullptr));
  ASSERT_EQ(0, mail_enqueue(0, "DVR-1", 2, 0x02, nullptr));
  start_sender();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (sink.connections() == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(1, sink.connections());
  // Any local user may read a command line: the password is not on mailsend's.
  std::string cmdline;
  std::error_code ec;
  const std::string ours = "\nPPid:\t" + std::to_string(getpid()) + "\n";
  for (const auto& e : std::filesystem::directory_iterator("/proc", ec))
    if (read_file(e.path() / "status").find(ours) != std::string::npos)
      cmdline = read_file(e.path() / "cmdline");
  EXPECT_NE(std::string::npos, cmdline.find(std::string("-pass\0-\0", 8))) << cmdline;
  EXPECT_EQ(std::string::npos, cmdline.find("s3cret")) << cmdline;
  const auto start = std::chrono::steady_clock::now();
  testing::internal::CaptureStdout();
  EXPECT_EQ(-1, mail_queue_stop());
  testing::internal::GetCapturedStdout();
  sender_.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start,
            std::chrono::seconds(20));  // of the 90 s send wait
  EXPECT_EQ(0, mail_queue_count());
}

}  // namespace
