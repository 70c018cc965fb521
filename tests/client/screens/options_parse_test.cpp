// Command-line parsing into APP_OPTIONS: scan order, results, field bounds, the mode box, and
// the password wiped from the command line of a running spot window.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "client/foundation/config/app_options.h"
#include "client/screens/options.h"
#include "tests/client/screens/gui_harness.h"

namespace {

struct Parsed {
  int result;
  std::string out;
  std::string err;
  std::vector<std::string> argv;  // the words as parsing left them, program name first
};

class OptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VIGILO_BOX_ANSWER", "ok", 1);
    init_app_options(&opts);
  }

  Parsed parse(std::vector<std::string> words) {
    words.insert(words.begin(), "vigilo");
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int r = parse_options(static_cast<int>(words.size()), argv.data(), &opts);
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    return {r, out, err, words};
  }

  APP_OPTIONS opts;
};

TEST_F(OptionsTest, ResultCountsTheWordsLeftAfterTheOptions) {
  struct Case {
    std::vector<std::string> words;
    int result;
  } cases[] = {
      {{}, -1},
      {{"-k"}, -1},
      {{"-k", "file.zol"}, 0},                  // one stray word: usage
      {{"-k", "a", "b"}, -1},                   // two stray words are ignored
      {{"-m", "3", "-u", "admin,secret"}, -1},  // the launcher's line
      {{"--", "x"}, 0},                         // "--" is skipped
      {{"-", "x"}, -1},                         // "-" is a word and ends the scan
      {{"-m"}, -1},                             // missing argument
  };
  for (auto& c : cases) {
    init_app_options(&opts);
    EXPECT_EQ(parse(c.words).result, c.result) << testing::PrintToString(c.words);
  }
}

TEST_F(OptionsTest, WordsAreNotReorderedSoOptionsAfterAStrayWordAreNotTaken) {
  Parsed p = parse({"-k", "stray", "-m", "3", "-e"});
  EXPECT_EQ(p.result, -1);
  EXPECT_EQ(opts.skin, 0);
  EXPECT_EQ(opts.mode, 0);
  EXPECT_EQ(opts.frame, 0);
}

TEST_F(OptionsTest, ModeComesFromTheLaterOfModeAndFileAndASlaveIsNoMaster) {
  struct Case {
    std::vector<std::string> words;
    int mode;
    unsigned master;
  } cases[] = {
      {{"-m", "3", "-u", "admin,pa,ss"}, 3, 1},  // the launcher's line
      {{"-m1"}, 1, 0},                           // argument in the same word
      {{"-f", "a.zol", "-m", "2"}, 2, 1},
      {{"-m", "2", "-f", "a.zol"}, 4, 1},
  };
  for (auto& c : cases) {
    init_app_options(&opts);
    parse(c.words);
    EXPECT_EQ(opts.mode, c.mode) << testing::PrintToString(c.words);
    EXPECT_EQ(opts.master, c.master) << testing::PrintToString(c.words);
  }
  EXPECT_STREQ(opts.input_file, "a.zol");
  init_app_options(&opts);
  const Parsed p = parse(cases[0].words);
  EXPECT_STREQ(opts.user_id, "admin");
  EXPECT_STREQ(opts.password, "pa,ss");  // split at the first comma only
  // Copied, then wiped from the command line that /proc shows every local user.
  EXPECT_EQ(p.argv[4], std::string("admin,\0\0\0\0\0", 11));
}

TEST_F(OptionsTest, BadModeShowsTheBoxAndRunsTheMainWindow) {
  for (const char* m : {"6", "9", "-1"}) {
    init_app_options(&opts);
    Parsed p = parse({"-m", m});
    EXPECT_EQ(opts.mode, 0) << m;
    EXPECT_NE(p.err.find("Invalid application mode. Using default mode."), std::string::npos);
  }
  init_app_options(&opts);
  Parsed ok = parse({"-m", "7"});
  EXPECT_EQ(opts.mode, 7);
  EXPECT_EQ(ok.err, "");
}

TEST_F(OptionsTest, FlagLettersShareOneWord) {
  parse({"-keMz"});
  EXPECT_EQ(opts.skin, 0);
  EXPECT_EQ(opts.frame, 1);
  EXPECT_EQ(opts.mail, 0);
  EXPECT_EQ(opts.auto_resize, 1);
}

TEST_F(OptionsTest, BadLetterAndMissingArgumentPrintTheirCodeAndOneUsageLine) {
  Parsed p = parse({"-x", "-s"});
  const std::string usage_line = p.out.substr(std::min(p.out.size(), size_t(52)));
  EXPECT_EQ(p.out.substr(0, 52), "getopt_long() returned 63\ngetopt_long() returned 63\n");
  EXPECT_EQ(usage_line.rfind("usage: vigilo [-keMz] [-m mode] ", 0), 0u) << p.out;
  EXPECT_NE(usage_line.find(" [-u user,password] "), std::string::npos) << p.out;
  EXPECT_EQ(std::count(usage_line.begin(), usage_line.end(), '\n'), 1) << p.out;
  EXPECT_EQ(usage_line.back(), '\n');
  EXPECT_EQ(opts.seek, 0);

  // --help is asked for, not a bad option: no code, no line, and the scan ends there.
  init_app_options(&opts);
  p = parse({"-k", "--help", "-e"});
  EXPECT_EQ(p.result, 1);
  EXPECT_EQ(p.out, "");
  EXPECT_EQ(opts.skin, 0);
  EXPECT_EQ(opts.frame, 0);
  EXPECT_EQ(opts.start_day, 0u);
  // An unknown long option is one bad option.
  p = parse({"--mode", "2", "x"});
  EXPECT_EQ(p.out.rfind("getopt_long() returned 63\nusage: vigilo [", 0), 0u) << p.out;
  EXPECT_EQ(opts.mode, 0);
}

TEST_F(OptionsTest, NumbersAreTruncatedNotChecked) {
  parse({"-l", "70000", "-p", "junk", "-v", "-1", "-s", "12abc", "-b", "2024", "-h", "31"});
  EXPECT_EQ(opts.live_port, 70000 & 0xFFFF);
  EXPECT_EQ(opts.pb_port, 0);
  EXPECT_EQ(opts.video_mask, 0xFFFFFFFFu);
  EXPECT_EQ(opts.seek, 12);
  EXPECT_EQ(opts.start_year, 2024u);
  EXPECT_EQ(opts.start_day, 31u);  // -h is the day, not help
}

TEST_F(OptionsTest, WindowPositionAndUserNeedAComma) {
  parse({"-w", "100", "-u", "admin"});
  EXPECT_EQ(opts.win_left, -1);
  EXPECT_EQ(opts.win_top, -1);
  EXPECT_STREQ(opts.user_id, "");
  init_app_options(&opts);
  parse({"-w", "100,-20"});
  EXPECT_EQ(opts.win_left, 100);
  EXPECT_EQ(opts.win_top, -20);
}

TEST_F(OptionsTest, LongTextsStayInsideTheirFields) {
  // Canary bytes in the fields that follow the ones written must survive.
  memset(opts.program_file, 'Z', sizeof(opts.program_file));
  memset(opts.name_text, 'Z', sizeof(opts.name_text));
  std::string long_name(400, 'n');
  std::string long_ip(40, '9');
  parse({"-S", long_name, "-i", long_ip, "-o", long_name});
  EXPECT_EQ(strlen(opts.skin_file), 255u);
  EXPECT_EQ(strlen(opts.master_address), 15u);
  EXPECT_EQ(strlen(opts.output_file), 255u);
  EXPECT_EQ(opts.program_file[0], 'Z');
  EXPECT_EQ(opts.program_file[255], 'Z');
  EXPECT_EQ(opts.name_text[0], 'Z');
}

TEST_F(OptionsTest, AutoStartIsCutOnACharacterBoundary) {
  std::string name;
  for (int i = 0; i < 60; ++i) name += "\xEA\xB0\x80";  // 3-byte characters, 180 bytes
  parse({"-A", name});
  size_t n = strlen(opts.auto_start);
  EXPECT_LE(n, 129u);
  EXPECT_EQ(n % 3, 0u);
  EXPECT_EQ(std::string(opts.auto_start), name.substr(0, n));
}

TEST_F(OptionsTest, OverlongUserPartsStoreNothing) {
  std::string pw(300, 'p');
  const Parsed p = parse({"-uadmin," + pw});
  EXPECT_STREQ(opts.user_id, "");
  EXPECT_STREQ(opts.password, "");
  EXPECT_EQ(p.argv[1], "-uadmin," + std::string(300, '\0')) << "wiped all the same";
  init_app_options(&opts);
  std::string id(120, 'i');
  std::string pw2(150, 'q');
  parse({"-u", id + "," + pw2});  // longer than 99 but fits both fields
  EXPECT_EQ(std::string(opts.user_id), id);
  EXPECT_EQ(std::string(opts.password), pw2);
}

// A spot window as the launcher and the E-Map start it: its password is gone from /proc once
// the window shows, and the login was still skipped with it.
class SpotWindowRun : public gui::GuiTest {};

TEST_F(SpotWindowRun, password_is_gone_from_the_command_line) {
  write_setup(gui::free_tcp_port());
  ASSERT_NO_FATAL_FAILURE(start_vigilo({"-m2", "-k", "-e", "-uadmin,admin"}, "ZOL Spot Window"));
  const std::string cmdline = read_file("/proc/" + std::to_string(vigilo_) + "/cmdline");
  EXPECT_NE(cmdline.find(std::string("-m2\0-k\0-e\0-uadmin,\0", 19)), std::string::npos);
  EXPECT_EQ(cmdline.find("admin,admin"), std::string::npos);
  int w = 0, h = 0;
  EXPECT_TRUE(wait_for([&] { return shot_->size(win_, &w, &h) && w == 352 && h == 240; }))
      << w << "x" << h << " is not the spot window without skin: " << out() << err();
}

TEST(UsageText, StartsWithUsageAndEndsWithAnEmptyLine) {
  testing::internal::CaptureStdout();
  print_usage();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("usage: vigilo\n\t--mode, -m <0,1,2,3>: full, slave, spot, playback\n", 0),
            0u);
  EXPECT_NE(out.find("\t--user, -u <username,password>: username and password\n\n"),
            std::string::npos);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\t'), 18);
}

}  // namespace
