// The watchdog's restart: the command it runs, and that no test run can restart the machine.
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

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

}  // namespace
