// The network monitor and the disk share over fixture /proc and /sys trees.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "client/foundation/app_state.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/win_helpers.h"
#include "platform/system/host_stats.h"

namespace {

TEST(HostLoad, network_load_is_a_share_of_the_link_speed) {
  const std::string root = std::string(testing::TempDir()) + "netload-" + std::to_string(getpid());
  for (const char* d :
       {"", "/proc", "/proc/net", "/sys", "/sys/class", "/sys/class/net", "/sys/class/net/eth0"})
    mkdir((root + d).c_str(), 0700);
  set_host_stats_roots((root + "/proc").c_str(), (root + "/sys").c_str());
  auto counters = [&](uint64_t in, uint64_t out) {
    const std::string tmp = root + "/proc/net/dev.new";
    std::ofstream(tmp) << "h1\nh2\n    lo: 1 0 0 0 0 0 0 0 1 0 0 0 0 0 0 0\n  eth0: " << in
                       << " 0 0 0 0 0 0 0 " << out << " 0 0 0 0 0 0 0\n";
    std::rename(tmp.c_str(), (root + "/proc/net/dev").c_str());
  };
  counters(5000000000ull, 100);
  std::ofstream(root + "/sys/class/net/eth0/speed") << "100\n";
  auto ctx = std::make_unique<APP_CONTEXT>();
  ctx->net_load.store(-1);
  app_quit.store(0);
  testing::internal::CaptureStdout();
  std::thread watcher([&] { watch_net_adapter("", ctx.get()); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  // A reading without traffic first: the counters then move between two readings.
  while (ctx->net_load.load() != 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  // 6.25 MB in and out: 100 Mbit, all of a 100 Mbit/s link.
  counters(5000000000ull + 6250000, 100 + 6250000);
  while (ctx->net_load.load() != 100 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(100, ctx->net_load.load());
  // Counters that start again from zero (the interface was reset) give no reading, never a
  // load out of range: the next one without traffic is 0.
  counters(1000, 1000);
  int seen = 100;
  while ((seen = ctx->net_load.load()) == 100 &&
         std::chrono::steady_clock::now() < deadline + std::chrono::seconds(5))
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(0, seen);
  app_quit.store(1);
  watcher.join();
  app_quit.store(0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos, out.find("There are 1 adapters.\nThere first adapter is eth0.\n"));
  set_host_stats_roots(nullptr, nullptr);
  (void)std::system(("rm -rf " + root).c_str());
}

TEST(HostLoad, cpu_load_is_the_busy_share_between_two_samples) {
  const std::string root = std::string(testing::TempDir()) + "cpuload-" + std::to_string(getpid());
  for (const char* d : {"", "/proc"}) mkdir((root + d).c_str(), 0700);
  const std::string stat = root + "/proc/stat", next = root + "/proc/stat.next";
  ASSERT_EQ(0, mkfifo(stat.c_str(), 0600));
  std::ofstream(next) << "cpu  400 0 0 1600 0 0 0 0\n";
  set_host_stats_roots((root + "/proc").c_str(), (root + "/sys").c_str());
  app_quit.store(0);
  int load = -1;
  std::thread reader([&] { load = read_perf_counter("\\Processor(_Total)\\% Processor Time"); });
  // The open meets the first sample's; the second sample, a second later, reads the file
  // put in the pipe's place meanwhile.
  const int fd = open(stat.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, std::rename(next.c_str(), stat.c_str()));
  const std::string first = "cpu  100 0 0 900 0 0 0 0\n";
  EXPECT_EQ(ssize_t(first.size()), write(fd, first.data(), first.size()));
  close(fd);
  reader.join();
  EXPECT_EQ(30, load);  // 300 busy of 1000 ticks
  set_host_stats_roots(nullptr, nullptr);
  (void)std::system(("rm -rf " + root).c_str());
}

TEST(HostLoad, disk_share_of_a_missing_path_or_an_empty_file_system_is_zero) {
  EXPECT_EQ(0, get_disk_free_percent("/nonexistent/vigilo"));
  EXPECT_EQ(0, get_disk_free_percent("/proc"));  // no blocks at all
  const int here = get_disk_free_percent(".");
  EXPECT_GE(here, 0);
  EXPECT_LE(here, 100);
}

}  // namespace
