// What a window of a real program shows on the private X server, and xdotool as the
// operator's hand.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/system/process.h"
#include "platform/system/x11_windows.h"

// Xlib's macros collide with GoogleTest's names: include it last.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

// A window's pixels as 0xRRGGBB values.
struct Picture {
  int w = 0, h = 0;
  std::vector<uint32_t> px;
  bool operator==(const Picture& o) const { return w == o.w && h == o.h && px == o.px; }
  int colours() const {
    std::vector<uint32_t> s = px;
    std::sort(s.begin(), s.end());
    return int(std::unique(s.begin(), s.end()) - s.begin());
  }
  // Pixels whose three channels are all below `below` (text and black labels).
  int dark(uint32_t below) const {
    int n = 0;
    for (uint32_t c : px)
      n += ((c >> 16) & 0xFF) < below && ((c >> 8) & 0xFF) < below && (c & 0xFF) < below;
    return n;
  }
  int differing(const Picture& o) const {
    int n = 0;
    for (size_t i = 0; i < px.size() && i < o.px.size(); ++i) n += px[i] != o.px[i];
    return n;
  }
};

// A window's area; empty while the window is not (yet) that large or not mapped.
inline Picture grab(unsigned long window, int x = 0, int y = 0, int w = 0, int h = 0) {
  Picture p;
  Display* d = XOpenDisplay(nullptr);
  if (!d) return p;
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  XWindowAttributes wa;
  if (XGetWindowAttributes(d, window, &wa) && wa.map_state == IsViewable && x + w <= wa.width &&
      y + h <= wa.height) {
    p.w = w ? w : wa.width;
    p.h = h ? h : wa.height;
    if (XImage* img = XGetImage(d, window, x, y, p.w, p.h, AllPlanes, ZPixmap)) {
      for (int r = 0; r < p.h; ++r)
        for (int c = 0; c < p.w; ++c) p.px.push_back(XGetPixel(img, c, r) & 0xFFFFFF);
      XDestroyImage(img);
    }
  }
  XCloseDisplay(d);
  return p;
}

// The size of a window (0 x 0 when it is gone).
inline std::pair<int, int> window_size(unsigned long window) {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return {0, 0};
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  XWindowAttributes wa{};
  std::pair<int, int> size{0, 0};
  if (XGetWindowAttributes(d, window, &wa)) size = {wa.width, wa.height};
  XCloseDisplay(d);
  return size;
}

// The mapped top-level window of process `pid` (a window without a title is found this
// way; GTK's hidden group leader carries the same process id); 0 when there is none.
inline unsigned long viewable_window_of(int pid) {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return 0;
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  Window root, parent, *kids = nullptr;
  unsigned n = 0;
  unsigned long found = 0;
  if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &kids, &n)) {
    for (unsigned i = 0; i < n && !found; ++i) {
      XWindowAttributes wa;
      if (XGetWindowAttributes(d, kids[i], &wa) && wa.map_state == IsViewable &&
          x11_window_pid(kids[i]) == pid)
        found = kids[i];
    }
    if (kids) XFree(kids);
  }
  XCloseDisplay(d);
  return found;
}

// Runs xdotool with `args` and waits for it.
inline void xdo(std::vector<std::string> args) {
  std::vector<const char*> argv{"xdotool"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  int pid = start_process(argv.data());
  ASSERT_GT(pid, 0);
  int code = -1;
  ASSERT_EQ(wait_process(pid, 10000, &code), 0);
}
// xdo, then a pause for a GTK program to take the input before the next step looks at it (an
// X event gives no sign of when the program has handled it).
inline void xdo_settled(std::vector<std::string> args) {
  xdo(std::move(args));
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
}
