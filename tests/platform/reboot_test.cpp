// The watchdog's restart: the command it runs, and that no test run can restart the machine.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/system/reboot.h"
#include "tests/platform/env_guard.h"

namespace {

TEST(Reboot, every_test_runs_with_the_recorder) {
  const char* cmd = std::getenv("VIGILO_REBOOT_COMMAND");
  ASSERT_NE(cmd, nullptr) << "tests must run with VIGILO_REBOOT_COMMAND set";
  EXPECT_NE(std::string(cmd).find("reboot-recorder"), std::string::npos) << cmd;
}

TEST(Reboot, recorder_is_called_and_refusals_are_told) {
  const std::string log = std::string(testing::TempDir()) + "reboot-" + std::to_string(getpid());
  std::remove(log.c_str());
  EnvGuard to("VIGILO_REBOOT_LOG", log.c_str());
  EXPECT_EQ(0, reboot_machine());
  std::stringstream ss;
  ss << std::ifstream(log).rdbuf();
  EXPECT_EQ(0u, ss.str().rfind("reboot ", 0)) << ss.str();
  std::remove(log.c_str());

  for (const char* refusing : {"false", "/nonexistent/reboot"}) {
    EnvGuard cmd("VIGILO_REBOOT_COMMAND", refusing);
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, reboot_machine()) << refusing;
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Reboot refused"), std::string::npos);
  }
}

// Nothing else in this test touches the process module, so only the restart itself can reap.
TEST(Reboot, a_command_outliving_the_wait_is_still_reaped) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(testing::TempDir()) / ("reboot-slow-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path script = dir / "slow.sh", pids = dir / "pids", go = dir / "go";
  // Tells its pid, then ends only when released.
  std::ofstream(script) << "#!/bin/sh\necho $$ >> " << pids << "\nwhile [ ! -e " << go
                        << " ]; do sleep 0.01; done\n";
  fs::permissions(script, fs::perms::owner_all);
  EnvGuard cmd("VIGILO_REBOOT_COMMAND", script.c_str());

  EXPECT_EQ(0, reboot_machine(0));
  request_reboot();
  auto until = [](auto done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
  };
  std::vector<int> started;
  ASSERT_TRUE(until([&] {
    started.clear();
    std::ifstream in(pids);
    for (int p; in >> p;) started.push_back(p);
    return started.size() == 2;
  }));
  std::ofstream(go).put('\n');
  // A zombie keeps its /proc entry until its parent waits for it.
  for (int p : started)
    EXPECT_TRUE(until([&] { return !fs::exists("/proc/" + std::to_string(p)); })) << p;
  fs::remove_all(dir);
}

}  // namespace
