// The machine-load readers on fixture /proc and /sys trees.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/system/host_stats.h"

namespace {

class HostStats : public testing::Test {
 protected:
  void SetUp() override {
    root_ = std::string(testing::TempDir()) + "host-" + std::to_string(getpid());
    for (const char* d : {"", "/proc", "/proc/net", "/sys", "/sys/class", "/sys/class/net",
                          "/sys/class/net/lo", "/sys/class/net/loop9", "/sys/class/net/eth0"})
      mkdir((root_ + d).c_str(), 0700);
    set_host_stats_roots((root_ + "/proc").c_str(), (root_ + "/sys").c_str());
  }
  void TearDown() override {
    set_host_stats_roots(nullptr, nullptr);
    (void)std::system(("rm -rf " + root_).c_str());
  }
  void write(const std::string& rel, const std::string& text) { std::ofstream(root_ + rel) << text; }
  std::string root_;
};

TEST_F(HostStats, cpu_times_add_busy_and_idle_columns) {
  write("/proc/stat", "cpu  100 20 30 400 50 6 7 8 9 0\ncpu0 1 2 3 4\n");
  uint64_t busy = 0, total = 0;
  ASSERT_EQ(0, read_cpu_times(&busy, &total));
  EXPECT_EQ(100u + 20 + 30 + 6 + 7 + 8, busy);
  EXPECT_EQ(busy + 400 + 50, total);
  write("/proc/stat", "intr 1 2 3\n");
  EXPECT_EQ(-1, read_cpu_times(&busy, &total));
}

TEST_F(HostStats, interfaces_skip_loopback_and_keep_64_bit_counters) {
  write("/proc/net/dev",
        "Inter-|   Receive                            |  Transmit\n"
        " face |bytes packets errs drop fifo frame compressed multicast|bytes packets ...\n"
        "    lo: 500 5 0 0 0 0 0 0 500 5 0 0 0 0 0 0\n"
        " loop9: 1 1 0 0 0 0 0 0 1 1 0 0 0 0 0 0\n"
        "  eth0: 9000000000 7 0 0 0 0 0 0 4294967297 3 0 0 0 0 0 0\n"
        "  wlan0: 10 1 0 0 0 0 0 0 20 2 0 0 0 0 0 0\n");
  write("/sys/class/net/loop9/type", "772\n");
  EXPECT_EQ((std::vector<std::string>{"eth0", "wlan0"}), list_net_interfaces());
  uint64_t in = 0, out = 0;
  ASSERT_EQ(0, read_net_octets("eth0", &in, &out));
  EXPECT_EQ(9000000000u, in);
  EXPECT_EQ(4294967297u, out);
  EXPECT_EQ(-1, read_net_octets("eth9", &in, &out));

  struct Case {
    const char* text;  // nullptr: no file
    uint64_t mbps;
  } cases[] = {{"1000\n", 1000}, {"-1\n", 0}, {nullptr, 0}, {"junk", 0}};
  for (const Case& c : cases) {
    std::remove((root_ + "/sys/class/net/eth0/speed").c_str());
    if (c.text) write("/sys/class/net/eth0/speed", c.text);
    EXPECT_EQ(c.mbps, read_net_speed_mbps("eth0")) << (c.text ? c.text : "(none)");
  }
}

TEST_F(HostStats, disk_space_of_a_missing_path_fails) {
  uint64_t free_bytes = 0, total = 0;
  EXPECT_EQ(-1, read_disk_space((root_ + "/nowhere").c_str(), &free_bytes, &total));
  ASSERT_EQ(0, read_disk_space(root_.c_str(), &free_bytes, &total));
  EXPECT_GT(total, 0u);
  EXPECT_LE(free_bytes, total);
}

}  // namespace
