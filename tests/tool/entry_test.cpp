// The command line of auxdesk as the client uses it: the usage text, a configuration that
// does not load, an unknown operator, an unknown mode, and the DVR setup window's title and
// the name it prints with or without a model.
#include "tests/tool/auxdesk_run.h"
#include "tests/tool/tool_fixture.h"

namespace {

class Entry : public RealAuxdesk {
 protected:
  void SetUp() override {
    RealAuxdesk::SetUp();
    if (!IsSkipped()) std::ofstream(dir_ / "setup.cfg") << fixture_setup_cfg();
  }
};

constexpr const char* kUsage =
    "USAGE: ./auxdesk <browse, setup, emap, dvrsetup, logview> <username> <password> <passval1> "
    "<passval2>\n";

TEST_F(Entry, refusals_end_with_their_exit_codes_and_no_window) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    bool without_setup;
    int code;
    std::string out, err;
  } cases[] = {
      {"one value after the mode", {"setup", "admin"}, false, 255, kUsage, ""},
      {"no setup.cfg",
       {"setup", "admin", "admin", "x", "x"},
       true,
       255,
       "load_setup_info() failed.\n",
       "ZOL Main: Unable to get setup.cfg file information.stat() failed.\n"},
      {"wrong password in logview", {"logview", "admin", "nimda", "x", "x"}, false, 255, "", ""},
      {"an id longer than any account",
       {"setup", std::string(200, 'a'), "admin"},
       false,
       255,
       "",
       ""},
      {"the mode word Setup", {"Setup", "admin", "admin", "x", "x"}, false, 255, kUsage, ""},
      {"dvrsetup of a 'W' model",
       {"dvrsetup", "admin", "admin", "Yard", "MW-2606QA14"},
       false,
       252,
       "",
       "Error: \nDVR Setup is not available for the selected DVR model.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.without_setup) std::filesystem::rename(dir_ / "setup.cfg", dir_ / "setup.keep");
    start(c.args);
    EXPECT_EQ(finish(), c.code);
    EXPECT_EQ(out(), c.out);
    EXPECT_EQ(err(), c.err);
    if (c.without_setup) std::filesystem::rename(dir_ / "setup.keep", dir_ / "setup.cfg");
  }
}

TEST_F(Entry, dvr_setup_window_carries_its_title_and_closing_it_ends_the_tool) {
  struct Case {
    std::vector<std::string> args;
    const char* title;
    std::string out;
  } cases[] = {
      {{"dvrsetup", "admin", "admin", "Lobby"}, "ZOL DVR Setup", ""},
      {{"dvrsetup", "admin", "admin", "Lobby", "MW-2606QTR14"}, "ZOL DVR Setup", "dvrname:Lobby\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    start(c.args);
    unsigned long w = window(c.title);
    ASSERT_NE(w, 0u) << err();
    EXPECT_EQ(x11_close_window(w), 0);
    EXPECT_EQ(finish(), 0) << err();
    // A DVR setup closed while it connects may also print how the connection ended.
    EXPECT_EQ(out().substr(0, c.out.size()), c.out);
  }
}

TEST_F(Entry, the_password_is_wiped_from_the_command_line) {
  start({"setup", "admin", "admin", "x", "x"});
  ASSERT_NE(window("ZOL Client Setup"), 0u) << err();
  std::string cmdline = read_file("/proc/" + std::to_string(pid_) + "/cmdline");
  EXPECT_EQ(cmdline.find(std::string("admin\0admin", 11)), std::string::npos);
  EXPECT_NE(cmdline.find("setup"), std::string::npos);
}

}  // namespace
