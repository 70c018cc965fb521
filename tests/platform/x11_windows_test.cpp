// Window look-ups by title: exact titles, process filter, raise and close, vanished windows.
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/system/x11_windows.h"
#include "tests/platform/private_x.h"

// Xlib defines macros (None, Bool, Status) that collide with GoogleTest: include it last.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

class X11Windows : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(x_.display().empty()) << "Xvfb did not start";
    setenv("DISPLAY", x_.display().c_str(), 1);
    dpy = XOpenDisplay(nullptr);
    ASSERT_NE(dpy, nullptr);
    title = "look-up-test-" + std::to_string(getpid());
    win = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 40, 30, 0, 0, 0);
    XStoreName(dpy, win, title.c_str());
    Atom wm_delete = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(dpy, win, &wm_delete, 1);
    XSelectInput(dpy, win, StructureNotifyMask);
    XMapWindow(dpy, win);
    XSync(dpy, False);
  }
  void TearDown() override {
    if (!dpy) return;
    if (win) XDestroyWindow(dpy, win);
    XCloseDisplay(dpy);
  }

  PrivateX x_;
  Display* dpy = nullptr;
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
}

TEST_F(X11Windows, RaiseAndCloseReachTheWindow) {
  EXPECT_EQ(x11_raise_window(win), 0);
  ASSERT_EQ(x11_close_window(win), 0);
  // The close request arrives as the window manager's WM_DELETE_WINDOW message.
  bool got = false;
  for (int i = 0; i < 200 && !got; ++i) {
    while (XPending(dpy)) {
      XEvent ev;
      XNextEvent(dpy, &ev);
      if (ev.type == ClientMessage &&
          static_cast<Atom>(ev.xclient.data.l[0]) == XInternAtom(dpy, "WM_DELETE_WINDOW", False))
        got = true;
    }
    if (!got) usleep(10000);
  }
  EXPECT_TRUE(got);
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
