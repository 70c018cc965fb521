// Shared helpers of the configuration store tests: a captured message box, a fresh
// temporary directory, and a complete setup.cfg text to mutate.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "client/foundation/config/setup_config.h"
#include "client/foundation/config/utils.h"

namespace cfgtest {

inline std::vector<std::string>& boxes() {
  static std::vector<std::string> all;
  return all;
}

inline BoxAnswer capture_box(const char* title, const char* text, BoxButtons) {
  boxes().push_back(std::string(title) + ": " + text);
  return BoxAnswer::ok;
}

// Replaces `from` (first occurrence) in `text`.
inline std::string replace(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

inline std::string to_crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

inline std::string cams() {
  std::string s;
  for (int i = 1; i <= 16; ++i) {
    char b[16];
    snprintf(b, sizeof b, ",C%d", i);
    s += b;
  }
  return s;
}

// Passwords "secret"/"op" (DVRs) and "pw1"/"pw2" (users); alice has rights 1F/FFFFFFFF,
// bob 0/0.
inline std::string base_text() {
  return std::string("#dvr_name=model,...\n") +
         "[DVR]\nnum_dvr=2\n"
         "Front Door=MW-2606QTR14,10.0.0.5,9101,9102,9103,9104,9105,80,9106,IP,4,"
         "\"Lobby\",\"Kim\",\"111\",\"112\",\"119\"" +
         cams() +
         ",viewer,&<V5C<F5T\n"
         "Yard=talve8,yard.example,1,2,3,4,5,6,7,NAME,8,\"Back\",\"Lee\",\"221\",\"222\",\"229\"" +
         cams() +
         ",op,\";W``\n"
         "[GROUP]\nnum_group=1\n[GROUP_1]\ngroup_name=All Cams\nnum_dvr=2\nFront Door=5\nYard=FF\n"
         "[USER]\nnum_user=2\n"
         "alice=Alice Park, #<'<Q ,3, \",48` , (1D9&1D9&1D8` ,desk\n"
         "bob=Bob Ray, #<'<R ,1, !,``` , !,``` ,none\n"
         "[SYSTEM]\nnum_decoder=4\ncycle_time=7\nrec_path=./rec/\nlog_path=./logs/\n"
         "buf_level= 2.50\nenable_debug=0\nenable_log=1\nenable_alarm=1\nenable_mail=1\n"
         "max_select=-3\nmotion_wav=motion.wav\nsensor_wav=sensor.wav\nlanguage=English\n"
         "resolution=1024x768\nwatchdog=1\nevent_popup_type=2\nevent_popup_time=9\n"
         "check_update=0\nrelay_duration=300\n"
         "[EMAIL]\nreceipient=ops@example.com\nfrom=dvr@example.com\nsubject=Alarm here\n"
         "attachment=1\ninline_msg=hi\nreplyto=r@example.com\ncc=\nbcc=b@example.com\n"
         "username=mailer\npassword=plain pw\nsmtpserver=smtp.example.com\ndomain=example.com\n"
         "delay=30\n"
         "[LANGUAGE]\nnum_language=2\nEnglish=english.txt\nKorean=korean.txt\n"
         "[RESOLUTION]\nnum_resolution=2\n1280x1024=skin.cfg\n1024x768=skin_small.cfg\n";
}

// A fresh temporary directory, removed with its contents at the end of the test.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/vigilo_cfg_XXXXXX";
    const char* p = mkdtemp(tmpl);
    path_ = p ? p : "";
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string write(const std::string& name, const std::string& text) const {
    std::string file = path_ + "/" + name;
    std::ofstream(file, std::ios::binary) << text;
    return file;
  }

 private:
  std::string path_;
};

// Box capture and a clean quit flag for every test of a suite.
class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    boxes().clear();
    app_quit.store(0);
    set_message_box_hook(capture_box);
  }
  void TearDown() override {
    set_message_box_hook(nullptr);
    app_quit.store(0);
  }
  int load_text(const std::string& text) {
    return load_setup_info(dir_.write("setup.cfg", text).c_str());
  }
  TempDir dir_;
};

}  // namespace cfgtest
