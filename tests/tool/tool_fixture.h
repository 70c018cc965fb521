// A fresh working directory per test holding a fixture setup.cfg (three DVRs, two groups,
// three accounts) and the generated language file, as auxdesk finds them beside it.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "client/foundation/config/utils.h"
#include "tests/client/screens/run_tree.h"
#include "tool/language.h"
#include "tool/setup_snapshot.h"

inline std::string enc(const char* text) { return uuencode_line(text); }

// The fixture file; `eol` ends every line ("\n" or "\r\n").
inline std::string fixture_setup_cfg(const std::string& eol = "\n") {
  std::string nulls;
  for (int i = 0; i < 12; ++i) nulls += ",NULL";
  std::string yard_cams;
  for (char c = 'A'; c <= 'P'; ++c) yard_cams += std::string(",Cam ") + c;
  std::string gate_cams = ",CHANNEL ALL";
  for (int i = 0; i < 15; ++i) gate_cams += ",NULL";
  const std::string lines[] = {
      "#comment",
      "[DVR]",
      "num_dvr=3",
      "Lobby=MW-2606QTR14,192.168.0.10,3490,2200,3492,9205,9203,80,9202,IP,4,\"Main hall\","
      "\"Kim\",\"0212345678\",\"112\",\"119\",CHANNEL  1,CHANNEL  2,CHANNEL  3,CHANNEL  4" +
          nulls + ",admin," + enc("1234"),
      "Gate 2=TALVE8,gate.example,3490,2200,3492,9205,9203,80,9202,NAME,1,\"North gate\","
      "\"Lee\",\"0299\",\"112\",\"119\"" +
          gate_cams + ",guard," + enc("gatepw"),
      "Yard=MW-2606QA14,10.0.0.5,3490,9010,3492,9205,9203,80,9202,IP,4,"
      "\"Yard behind the warehouse, north side\",\"Park\","
      "\"0311\",\"112\",\"119\"" +
          yard_cams + ",yarduse," + enc("yardpas"),
      "[GROUP]",
      "num_group=2",
      "[GROUP_1]",
      "group_name=Entrances",
      "num_dvr=2",
      "Lobby=5",
      "Gate 2=1",
      "[GROUP_2]",
      "group_name=Wide",
      "num_dvr=1",
      "Yard=80000001",
      "[USER]",
      "num_user=3",
      "admin=Administrator, " + enc("admin") + " ,1, " + enc("3FF") + " , " + enc("FFFFFFFF") +
          " ,admin@example.com",
      "tovek=Service, " + enc("tovekpw") + " ,1, " + enc("3FF") + " , " + enc("FFFFFFFF") +
          " ,svc@example.com",
      "op=Operator One, " + enc("oppw") + " ,2, " + enc("21") + " , " + enc("7") +
          " ,op@example.com",
      "[SYSTEM]",
      // clang-format off
      "num_decoder=2", "cycle_time=5", "rec_path=./record/", "buf_level= 0.50",
      "enable_debug=0", "enable_log=1", "enable_mail=0", "log_path=./logs/", "enable_alarm=1",
      "max_select=16", "motion_wav=wave\\ding2.wav", "sensor_wav=wave\\chord.wav",
      "language=English", "resolution=1280x1024", "watchdog=1", "event_popup_type=2",
      "event_popup_time=7", "check_update=1", "relay_duration=30",
      "[EMAIL]",
      "from=dvr@example.com", "receipient=alarm-one@example.com;alarm-two@example.com;alarm-three@example.com", "cc=", "bcc=",
      "subject=DVR event", "attachment=1", "inline_msg=See the picture", "replyto=",
      "username=mailer", "password=secret", "smtpserver=smtp.example.com", "domain=example.com",
      // clang-format on
      "delay=60",
      "[LANGUAGE]",
      "num_language=1",
      "English=english.txt",
      "[RESOLUTION]",
      "num_resolution=1",
      "1280x1024=skin.cfg",
  };
  std::string out;
  for (const std::string& l : lines) out += l + eol;
  return out;
}

class ToolDir : public ::testing::Test {
 protected:
  void SetUp() override {
    set_message_box_hook([](const char*, const char*, BoxButtons) { return BoxAnswer::yes; });
    char tmpl[] = "/tmp/auxdesk-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    std::filesystem::copy_file(run_tree_dir() / "english.txt", dir_ / "english.txt");
    snprintf(selected_language_file, sizeof selected_language_file, "%s",
             (dir_ / "english.txt").c_str());
    clear_config_cache();
  }
  void TearDown() override {
    std::filesystem::current_path(old_cwd_);
    std::filesystem::remove_all(dir_);
    set_message_box_hook(nullptr);
  }

  void write(const char* name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }
  std::string read(const char* name) { return read_file(dir_ / name); }
  // Writes setup.cfg and loads it as the tool does.
  void load(const std::string& text) {
    write("setup.cfg", text);
    ASSERT_EQ(reload_setup_cfg(), 0);
  }

  std::filesystem::path dir_, old_cwd_;
};
