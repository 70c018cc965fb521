// Look-ups of the client's windows by title: a second main window is found through X, and
// a window of another process is neither raised nor closed.
#include <chrono>
#include <string>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "client/foundation/win_helpers.h"
#include "platform/system/x11_windows.h"
#include "tests/platform/private_x.h"

// Xlib's macros collide with GoogleTest's names: include it last.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

class WindowLookup : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(x_.display().empty()) << "Xvfb did not start";
    setenv("DISPLAY", x_.display().c_str(), 1);
    dpy = XOpenDisplay(nullptr);
    ASSERT_NE(dpy, nullptr);
    title = "ZOL Main " + std::to_string(getpid());
    target = make_window(title.c_str());
    cover = make_window("cover");  // mapped later, so it lies above the target
    XSync(dpy, False);
  }
  void TearDown() override {
    if (dpy) XCloseDisplay(dpy);
  }

  Window make_window(const char* name) {
    Window w = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 50, 50, 0, 0, 0);
    XStoreName(dpy, w, name);
    Atom wm_delete = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(dpy, w, &wm_delete, 1);
    XSelectInput(dpy, w, StructureNotifyMask);
    XMapWindow(dpy, w);
    return w;
  }

  // True when `w` is the topmost child of the root window.
  bool on_top(Window w) {
    XSync(dpy, False);
    Window root, parent, *kids = nullptr;
    unsigned int n = 0;
    XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &kids, &n);
    bool top = n > 0 && kids[n - 1] == w;
    if (kids) XFree(kids);
    return top;
  }

  bool got_close_request(int wait_ms) {
    Atom wm_delete = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    for (int i = 0; i < wait_ms / 10; ++i) {
      while (XPending(dpy)) {
        XEvent ev;
        XNextEvent(dpy, &ev);
        if (ev.type == ClientMessage && ev.xclient.window == target &&
            static_cast<Atom>(ev.xclient.data.l[0]) == wm_delete)
          return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  PrivateX x_;
  Display* dpy = nullptr;
  Window target = 0, cover = 0;
  std::string title;
};

TEST_F(WindowLookup, RaiseWindowFindsAndRaisesARunningWindow) {
  EXPECT_EQ(raise_window("no such window"), 0);
  EXPECT_EQ(window_exists(title.c_str()), 1);
  ASSERT_FALSE(on_top(target));
  EXPECT_EQ(raise_window(title.c_str()), 1);
  EXPECT_TRUE(on_top(target));
}

TEST_F(WindowLookup, AnotherProcessesWindowIsLeftAlone) {
  ASSERT_EQ(x11_set_window_pid(target, getpid() + 1), 0);  // as if another program's
  EXPECT_EQ(raise_own_window(title.c_str(), getpid()), -1);
  EXPECT_FALSE(on_top(target));
  EXPECT_EQ(close_own_window(title.c_str(), getpid()), 0);
  EXPECT_FALSE(got_close_request(200));

  EXPECT_EQ(raise_own_window(title.c_str(), getpid() + 1), 0);
  EXPECT_TRUE(on_top(target));
  EXPECT_EQ(close_own_window(title.c_str(), getpid() + 1), 0);
  EXPECT_TRUE(got_close_request(2000));
}

}  // namespace
