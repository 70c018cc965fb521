// Mailslot: one live reader, stale names taken over, message sizes checked.
#include "client/foundation/config/mailslot.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/net/local_dgram.h"

namespace {

class Mailslot : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vigilo-mailslot-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
    setenv("VIGILO_MAILSLOT_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    std::string cmd = "rm -rf " + dir_;
    (void)std::system(cmd.c_str());
    unsetenv("VIGILO_MAILSLOT_DIR");
  }
  std::string dir_;
};

TEST_F(Mailslot, notice_without_reader_is_reported_not_lost_silently) {
  EVENT_NOTICE n;
  testing::internal::CaptureStdout();
  EXPECT_EQ(1, send_event_mailslot(n));
  EXPECT_NE(std::string::npos,
            testing::internal::GetCapturedStdout().find("Error : Unable to create mailslot ! \n"));
}

TEST_F(Mailslot, reader_gets_each_notice_whole_and_in_order) {
  int rd = mailslot_create_reader();
  ASSERT_GE(rd, 0);
  for (int i = 0; i < 3; ++i) {
    EVENT_NOTICE n;
    n.time = 1700000000 + i;
    std::snprintf(n.dvr_name, sizeof n.dvr_name, "DVR-%d", i);
    n.kind = 0x22;
    n.mask_motion = n.mask_sensor = 1u << i;
    ASSERT_EQ(0, send_event_mailslot(n));
  }
  for (int i = 0; i < 3; ++i) {
    uint8_t buf[EVENT_NOTICE_SIZE];
    ASSERT_EQ(1, mailslot_read(rd, buf, sizeof buf));
    EVENT_NOTICE n = decode_event_notice(buf);
    EXPECT_EQ(1700000000 + i, n.time);
    EXPECT_EQ("DVR-" + std::to_string(i), n.dvr_name);
    EXPECT_EQ(1u << i, n.mask_sensor);
    EXPECT_EQ(0x22, buf[140]);
  }
  uint8_t buf[EVENT_NOTICE_SIZE];
  EXPECT_EQ(0, mailslot_read(rd, buf, sizeof buf));
  mailslot_close_reader(rd);
}

// A burst larger than the kernel's queue reaches a reader that is late, in order; beyond the
// send queue notices are dropped with one line for the run.
TEST_F(Mailslot, burst_reaches_a_late_reader_in_order_and_drops_are_reported_once) {
  struct Case {
    int burst;
    bool drops;
  } cases[] = {{40, false}, {150, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.burst);
    int rd = mailslot_create_reader();
    ASSERT_GE(rd, 0);
    testing::internal::CaptureStdout();
    int lost = 0;
    for (int i = 0; i < c.burst; ++i) {
      EVENT_NOTICE n;
      n.time = i;
      lost += send_event_mailslot(n);
    }
    std::string out = testing::internal::GetCapturedStdout();
    std::vector<int64_t> got;
    for (int idle = 0; idle < 500 && int(got.size()) + lost < c.burst;) {
      uint8_t buf[EVENT_NOTICE_SIZE];
      if (mailslot_read(rd, buf, sizeof buf) == 1) {
        got.push_back(decode_event_notice(buf).time);
        idle = 0;
      } else {
        ++idle;
        usleep(2000);
      }
    }
    EXPECT_EQ(int(got.size()) + lost, c.burst);
    EXPECT_GE(got.size(), std::min<size_t>(size_t(c.burst), MAILSLOT_SEND_QUEUE));
    for (size_t i = 1; i < got.size(); ++i) EXPECT_LT(got[i - 1], got[i]);
    EXPECT_EQ(c.drops, lost > 0);
    size_t lines = 0;
    for (size_t p = out.find("Error : Mailslot send fail."); p != std::string::npos;
         p = out.find("Error : Mailslot send fail.", p + 1))
      ++lines;
    EXPECT_EQ(lines, c.drops ? 1u : 0u);
    mailslot_close_reader(rd);
  }
}

TEST_F(Mailslot, wrong_sized_or_unterminated_messages_are_refused_or_terminated) {
  int rd = mailslot_create_reader();
  ASSERT_GE(rd, 0);
  uint8_t small[10] = {};
  ASSERT_EQ(0, local_dgram_send(MAILSLOT_NAME, small, sizeof small));
  uint8_t buf[MAILSLOT_REQUEST_SIZE];
  EXPECT_EQ(MAILSLOT_WRONG_SIZE, mailslot_read(rd, buf, sizeof buf));
  uint8_t big[400];
  std::memset(big, 'x', sizeof big);
  ASSERT_EQ(0, local_dgram_send(MAILSLOT_NAME, big, sizeof big));
  EXPECT_EQ(MAILSLOT_WRONG_SIZE, mailslot_read(rd, buf, sizeof buf));
  EXPECT_EQ(0, mailslot_read(rd, buf, sizeof buf, 50));  // nothing came within the wait
  uint8_t req[MAILSLOT_REQUEST_SIZE];
  std::memset(req, 'A', sizeof req);
  ASSERT_EQ(0, local_dgram_send(MAILSLOT_NAME, req, sizeof req));
  ASSERT_EQ(1, mailslot_read(rd, buf, sizeof buf));
  MAILSLOT_REQUEST r = decode_mailslot_request(buf);
  EXPECT_EQ(127u, std::strlen(r.target));
  mailslot_close_reader(rd);
}

TEST_F(Mailslot, second_live_reader_is_refused_and_stale_name_taken_over) {
  int rd = mailslot_create_reader();
  ASSERT_GE(rd, 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(-1, mailslot_create_reader());
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(0u, out.find("[mailslot.cpp:")) << out;  // no build machine path
  EXPECT_NE(std::string::npos, out.find("]Error : Don't create mailslot!"));
  // A reader that died leaves its socket file behind; closing without unlinking does the same.
  ::close(rd);
  int again = mailslot_create_reader();
  EXPECT_GE(again, 0);
  mailslot_close_reader(again);
}

TEST_F(Mailslot, directory_is_private_to_the_user) {
  char dir[256];
  ASSERT_EQ(0, local_dgram_dir(dir, sizeof dir));
  struct stat st {};
  ASSERT_EQ(0, ::stat(dir, &st));
  EXPECT_EQ(0u, st.st_mode & 077u);
}

}  // namespace
