// Path helpers, directory creation, the cached key = value lookup and capture file names.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cctype>
#include <cstring>

#include "client/foundation/config/app_options.h"
#include "tests/client/foundation/config_test_support.h"

using namespace cfgtest;

TEST(UtilsPaths, directory_file_and_drive_parts) {
  char out[64];
  path_dir(out, sizeof out, "/opt/vigilo/vigilo");
  EXPECT_STREQ(out, "/opt/vigilo/");
  path_dir(out, sizeof out, "c:\\zol\\vigilo.exe");
  EXPECT_STREQ(out, "c:\\zol\\");
  char cwd[PATH_MAX];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  path_dir(out, sizeof out, "vigilo");
  EXPECT_EQ(std::string(out), (std::string(cwd) + "/").substr(0, sizeof out - 1));

  path_file_name(out, sizeof out, "/opt/vigilo/vigilo");
  EXPECT_STREQ(out, "vigilo");
  path_file_name(out, sizeof out, "vigilo");
  EXPECT_STREQ(out, "vigilo");

  path_drive(out, sizeof out, "d:\\rec\\x");
  EXPECT_STREQ(out, "d:");
  path_drive(out, sizeof out, "noseparator");  // keeps the previous result
  EXPECT_STREQ(out, "d:");
  path_drive(out, sizeof out, "/opt/x");
  EXPECT_STREQ(out, "c:");

  char tiny[6];
  path_dir(tiny, sizeof tiny, "/a/very/long/path/file");
  EXPECT_EQ(strlen(tiny), 5u);  // bounded by the caller's buffer
}

TEST(UtilsPaths, make_dirs_creates_every_level_and_reports_failure) {
  TempDir dir;
  std::string deep = dir.path() + "/a/b/c/";
  EXPECT_EQ(make_dirs(deep.c_str()), 0);
  struct stat st {};
  EXPECT_EQ(stat((dir.path() + "/a/b/c").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(make_dirs(deep.c_str()), 0);  // already there
  std::string blocked = dir.write("file", "x") + "/sub";
  EXPECT_EQ(make_dirs(blocked.c_str()), -1);
  EXPECT_EQ(make_dirs_ret0(blocked.c_str()), 0);
}

TEST(UtilsConfigValue, first_occurrence_wins_and_errors_are_texts) {
  TempDir dir;
  std::string file =
      dir.write("lang.txt", "lbl_EMAILCFG = Mail setup\r\nlbl_EMAIL=Mail\r\ndef_OK = OK\r\n");
  clear_config_cache();
  EXPECT_STREQ(get_config_value("def_OK", file.c_str()), "OK");  // no carriage return
  // The key first occurs inside the longer key, so that line's value is returned.
  EXPECT_STREQ(get_config_value("lbl_EMAIL", file.c_str()), "Mail setup");
  EXPECT_STREQ(get_config_value("missing", file.c_str()), "strstr() failed.");
  EXPECT_STREQ(get_config_value("x", (dir.path() + "/none.txt").c_str()), "stat() failed.");

  // Cached by name: a rewrite is not seen until another file was read.
  dir.write("lang.txt", "def_OK=Fine\n");
  EXPECT_STREQ(get_config_value("def_OK", file.c_str()), "OK");
  clear_config_cache();
  EXPECT_STREQ(get_config_value("def_OK", file.c_str()), "Fine");

  std::string longline = dir.write("long.txt", "key=" + std::string(5000, 'v') + "\n");
  EXPECT_EQ(strlen(get_config_value("key", longline.c_str())), 1023u);
  std::string nosep = dir.write("nosep.txt", "key\n");
  EXPECT_STREQ(get_config_value("key", nosep.c_str()), "sscanf() failed.");
}

class CaptureNameTest : public ConfigTest {
 protected:
  void load_rec_path(const std::string& rec) {
    ASSERT_EQ(load_text(replace(base_text(), "rec_path=./rec/", "rec_path=" + rec)), 0);
  }
};

TEST_F(CaptureNameTest, capture_name_creates_directory_without_changing_cwd) {
  std::string rec = dir_.path() + "/record/day";
  load_rec_path(rec);
  char before[PATH_MAX], after[PATH_MAX];
  ASSERT_NE(getcwd(before, sizeof before), nullptr);
  char name[512];
  ASSERT_EQ(make_capture_name(nullptr, name, sizeof name, "Front Door", 3, "bmp"), 0);
  ASSERT_NE(getcwd(after, sizeof after), nullptr);
  EXPECT_STREQ(before, after);
  struct stat st {};
  EXPECT_EQ(stat(rec.c_str(), &st), 0);
  // "<dir>/<dvr>-<ch>-<14 digits of time>-<counter>.bmp"
  std::string prefix = rec + "/Front Door-03-";
  std::string s(name);
  ASSERT_EQ(s.rfind(prefix, 0), 0u) << name;
  std::string rest = s.substr(prefix.size());
  ASSERT_GE(rest.size(), 14u + 1 + 2 + 4);
  for (int i = 0; i < 14; ++i) EXPECT_TRUE(isdigit(static_cast<unsigned char>(rest[i]))) << name;
  EXPECT_EQ(rest[14], '-');
  EXPECT_EQ(rest.substr(rest.size() - 4), ".bmp");

  char second[512];
  ASSERT_EQ(make_capture_name(nullptr, second, sizeof second, "Front Door", 3, "bmp"), 0);
  EXPECT_STRNE(name, second);  // the counter moves on
  char small[16];
  EXPECT_EQ(make_capture_name(nullptr, small, sizeof small, "Yard", 2, "bmp"), -1);
}

TEST_F(CaptureNameTest, dvr_name_cannot_leave_the_record_directory) {
  load_rec_path(dir_.path() + "/rec/");
  char name[512];
  ASSERT_EQ(make_capture_name(nullptr, name, sizeof name, "../../etc/x", 0, "jpg"), 0);
  std::string s(name);
  std::string rest = s.substr((dir_.path() + "/rec/").size());
  EXPECT_EQ(rest.find('/'), std::string::npos) << name;
  EXPECT_EQ(rest.find(".."), std::string::npos) << name;
  ASSERT_EQ(make_snapshot_name(nullptr, name, sizeof name, "a\\..\\b", 1, "bmp"), 0);
  rest = std::string(name).substr((dir_.path() + "/rec/").size());
  EXPECT_EQ(rest.find('\\'), std::string::npos) << name;
}

TEST_F(CaptureNameTest, dot_path_means_the_program_directory) {
  load_rec_path(".\\");
  APP_OPTIONS opts{};
  std::string prog = dir_.path() + "/prog/";
  ASSERT_EQ(mkdir(prog.c_str(), 0755), 0);
  snprintf(opts.program_dir, sizeof opts.program_dir, "%s", prog.c_str());
  char name[512];
  ASSERT_EQ(make_capture_name(&opts, name, sizeof name, "Yard", 12, "zol"), 0);
  EXPECT_EQ(std::string(name).rfind(prog + "Yard-12-", 0), 0u) << name;
}
