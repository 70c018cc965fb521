// Window look-ups by title: exact titles, process filter, raise and close, vanished windows.
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/system/x11_windows.h"

// Xlib defines macros (None, Bool, Status) that collide with GoogleTest: include it last.
#include "tests/platform/private_x_display.h"
#include <X11/Xatom.h>
#include <X11/Xutil.h>

namespace {

class X11Windows : public PrivateXDisplay {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(PrivateXDisplay::SetUp());
    title = "look-up-test-" + std::to_string(getpid());
    win = map_window(title.c_str(), 40, 30);
    XSync(dpy, False);
  }
  void TearDown() override {
    if (dpy && win) XDestroyWindow(dpy, win);
    PrivateXDisplay::TearDown();
  }

  Window win = 0;
  std::string title;
};

TEST_F(X11Windows, FindsOnlyTheExactTitle) {
  EXPECT_EQ(x11_find_window(title.c_str()), win);
  EXPECT_EQ(x11_find_window((title + "x").c_str()), 0u);
  EXPECT_EQ(x11_find_window(title.substr(0, title.size() - 1).c_str()), 0u);
  EXPECT_EQ(x11_find_window(nullptr), 0u);
}

TEST_F(X11Windows, ProcessFilterLeavesOtherProcessesWindowsAlone) {
  EXPECT_EQ(x11_find_window(title.c_str(), getpid()), 0u);  // no pid recorded yet
  ASSERT_EQ(x11_set_window_pid(win, getpid()), 0);
  EXPECT_EQ(x11_window_pid(win), getpid());
  EXPECT_EQ(x11_find_window(title.c_str(), getpid()), win);
  EXPECT_EQ(x11_find_window(title.c_str(), getpid() + 1), 0u);
  // Any window of a process: the title is left out.
  EXPECT_EQ(x11_find_window(nullptr, getpid()), win);
  EXPECT_EQ(x11_find_window(nullptr, getpid() + 1), 0u);
}

TEST_F(X11Windows, RaiseAndCloseReachTheWindow) {
  EXPECT_EQ(x11_raise_window(win), 0);
  ASSERT_EQ(x11_close_window(win), 0);
  // The close request arrives as the window manager's WM_DELETE_WINDOW message.
  EXPECT_TRUE(got_close_request(win, 2000));
}

TEST_F(X11Windows, VanishedWindowFailsWithoutEndingTheProcess) {
  Window gone = win;
  XDestroyWindow(dpy, win);
  XSync(dpy, False);
  win = 0;
  // Each of these would raise BadWindow; the default Xlib handler would exit the process.
  EXPECT_EQ(x11_raise_window(gone), -1);
  EXPECT_EQ(x11_close_window(gone), -1);
  EXPECT_EQ(x11_window_pid(gone), 0);
  EXPECT_EQ(x11_set_window_pid(gone, 1), -1);
  EXPECT_EQ(x11_find_window(title.c_str()), 0u);
}

}  // namespace
