// The machine-load readers on fixture /proc and /sys trees.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

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
  void write(const std::string& rel, const std::string& text) {
    std::ofstream(root_ + rel) << text;
  }
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

// The NET meter watches the first interface: never an ifb or dummy one that carries nothing.
TEST_F(HostStats, the_interface_that_carries_the_traffic_comes_first) {
  write("/proc/net/dev",
        "h1\nh2\n"
        "    lo: 500 5 0 0 0 0 0 0 500 5 0 0 0 0 0 0\n"
        "  ifb0: 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
        "dummy0: 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
        "  eth0: 10 1 0 0 0 0 0 0 20 2 0 0 0 0 0 0\n"
        "  eth1: 10 1 0 0 0 0 0 0 20 2 0 0 0 0 0 0\n");
  const char* heading =
      "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\tMTU\tWindow\tIRTT\n";
  struct Case {
    const char* what;
    const char* flags[4];  // ifb0, dummy0, eth0, eth1 (nullptr: no file)
    std::string route;     // "" no file
    std::vector<std::string> want;
  } cases[] = {
      {"first up that is no dummy",
       {"0x82", "0xc3", "0x1002", "0x1003"},
       "",
       {"eth1", "ifb0", "dummy0", "eth0"}},
      {"the default route's",
       {"0x83", "0xc3", "0x1003", "0x1003"},
       std::string(heading) + "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n" +
           "eth1\t00000000\t010200C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n" +
           "eth0\t00000000\t010200C0\t0003\t0\t0\t200\t00000000\t0\t0\t0\n",
       {"eth1", "ifb0", "dummy0", "eth0"}},
      {"a default route that is down counts for nothing",
       {"0x83", "0xc3", "0x1003", "0x1003"},
       std::string(heading) + "eth1\t00000000\t010200C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n",
       {"eth0", "ifb0", "dummy0", "eth1"}},
      {"nothing up", {nullptr, "0x82", "0x1002", nullptr}, "", {"ifb0", "dummy0", "eth0", "eth1"}},
  };
  const char* names[] = {"ifb0", "dummy0", "eth0", "eth1"};
  for (const char* n : names) {
    mkdir((root_ + "/sys/class/net/" + n).c_str(), 0700);
    write(std::string("/sys/class/net/") + n + "/type", "1\n");
  }
  for (const Case& c : cases) {
    for (int i = 0; i < 4; ++i) {
      const std::string f = std::string("/sys/class/net/") + names[i] + "/flags";
      std::remove((root_ + f).c_str());
      if (c.flags[i]) write(f, std::string(c.flags[i]) + "\n");
    }
    std::remove((root_ + "/proc/net/route").c_str());
    if (!c.route.empty()) write("/proc/net/route", c.route);
    EXPECT_EQ(c.want, list_net_interfaces()) << c.what;
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
