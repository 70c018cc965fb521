// A test fixture connected to its own private X server, with plain top-level windows that
// take close requests the way the client's windows do. Includes Xlib, whose macros collide
// with GoogleTest's names: include this header last.
#pragma once

#include <chrono>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "tests/platform/private_x.h"

#include <X11/Xlib.h>

class PrivateXDisplay : public ::testing::Test {
 protected:
  // Points DISPLAY at the private server and opens dpy; a fatal failure when either fails.
  void SetUp() override {
    ASSERT_FALSE(x_.display().empty()) << "Xvfb did not start";
    setenv("DISPLAY", x_.display().c_str(), 1);
    dpy = XOpenDisplay(nullptr);
    ASSERT_NE(dpy, nullptr);
  }
  void TearDown() override {
    if (dpy) XCloseDisplay(dpy);
  }

  // A mapped w x h window at the origin named `title` that listens for WM_DELETE_WINDOW.
  Window map_window(const char* title, unsigned w, unsigned h) {
    Window win = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, w, h, 0, 0, 0);
    XStoreName(dpy, win, title);
    Atom wm_delete = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(dpy, win, &wm_delete, 1);
    XSelectInput(dpy, win, StructureNotifyMask);
    XMapWindow(dpy, win);
    return win;
  }

  // True when `win` receives the window manager's WM_DELETE_WINDOW message within wait_ms.
  bool got_close_request(Window win, int wait_ms) {
    Atom wm_delete = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    for (int i = 0; i < wait_ms / 10; ++i) {
      while (XPending(dpy)) {
        XEvent ev;
        XNextEvent(dpy, &ev);
        if (ev.type == ClientMessage && ev.xclient.window == win &&
            static_cast<Atom>(ev.xclient.data.l[0]) == wm_delete)
          return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  PrivateX x_;
  Display* dpy = nullptr;
};
