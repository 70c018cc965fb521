// Look-ups of the client's windows by title: a second main window is found through X, and
// a window of another process is neither raised nor closed.
#include <chrono>
#include <string>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "client/foundation/win_helpers.h"
#include "platform/system/x11_windows.h"

// Xlib's macros collide with GoogleTest's names: include it last.
#include "tests/platform/private_x_display.h"
#include <X11/Xutil.h>

namespace {

class WindowLookup : public PrivateXDisplay {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(PrivateXDisplay::SetUp());
    title = "ZOL Main " + std::to_string(getpid());
    target = map_window(title.c_str(), 50, 50);
    cover = map_window("cover", 50, 50);  // mapped later, so it lies above the target
    XSync(dpy, False);
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
  EXPECT_FALSE(got_close_request(target, 200));

  EXPECT_EQ(raise_own_window(title.c_str(), getpid() + 1), 0);
  EXPECT_TRUE(on_top(target));
  EXPECT_EQ(close_own_window(title.c_str(), getpid() + 1), 0);
  EXPECT_TRUE(got_close_request(target, 2000));
}

}  // namespace
