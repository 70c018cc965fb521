// A skin test's folder: made under /tmp, current while each test runs (boxes answered "ok",
// the skins loaded from it, the screen left alone, as the tests draw off screen), and removed
// with all it holds at the end. Test thread only; a step that fails fails the test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "client/screens/skin.h"

// A new folder "/tmp/<prefix>XXXXXX" into *dir.
inline void make_skin_dir(const char* prefix, std::string* dir) {
  std::string tmpl = std::string("/tmp/") + prefix + "XXXXXX";
  ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
  *dir = tmpl;
}

// Makes `dir` current and loads the skins from it.
inline void enter_skin_dir(const std::string& dir) {
  setenv("VIGILO_BOX_ANSWER", "ok", 1);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  init_skins();
  disable_screen_update();
}

inline void remove_skin_dir(const std::string& dir) {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}
