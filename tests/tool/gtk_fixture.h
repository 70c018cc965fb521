// A ToolDir whose tests build the tool's GTK windows in-process, on one private X server and
// one GTK start for the whole test program (GTK cannot be started twice in a process).
#pragma once

#include <gtk/gtk.h>

#include <cstdlib>
#include <memory>

#include "tests/platform/private_x.h"
#include "tests/tool/tool_fixture.h"

// Runs the GTK events waiting now (window thread).
inline void pump() {
  while (gtk_events_pending()) gtk_main_iteration();
}

class GtkToolDir : public ToolDir {
 protected:
  void SetUp() override {
    ToolDir::SetUp();
    static std::unique_ptr<PrivateX> x;
    static bool gtk_ready = false;
    if (!x) {
      x = std::make_unique<PrivateX>();
      if (!x->display().empty()) {
        setenv("DISPLAY", x->display().c_str(), 1);
        gtk_ready = gtk_init_check(nullptr, nullptr);
      }
    }
    if (x->display().empty()) GTEST_FAIL() << "Xvfb did not start";
    ASSERT_TRUE(gtk_ready) << "GTK did not start";
  }
};
