// Screenshots of a private X display for the GUI tests: the root window's picture, window
// origins, and counts of picture features inside a rectangle; and a free loopback port.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

// Xlib's macros collide with GoogleTest's names: include this header after gtest.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

inline int free_tcp_port() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = -1;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(s);
  return port;
}

// Counts of picture features inside a rectangle of a screenshot.
struct Census {
  int white = 0, black = 0, red = 0, grey64 = 0, total = 0;
};

class Shot {
 public:
  explicit Shot(const char* display) : dpy_(XOpenDisplay(display)) {}
  ~Shot() {
    if (img_) XDestroyImage(img_);
    if (dpy_) XCloseDisplay(dpy_);
  }
  bool ok() const { return dpy_ != nullptr; }
  void take() {
    if (img_) XDestroyImage(img_);
    Window root = DefaultRootWindow(dpy_);
    XWindowAttributes wa;
    XGetWindowAttributes(dpy_, root, &wa);
    img_ = XGetImage(dpy_, root, 0, 0, wa.width, wa.height, AllPlanes, ZPixmap);
  }
  // Top-left of window `w` on the root window.
  bool origin(unsigned long w, int* x, int* y) {
    Window child;
    return XTranslateCoordinates(dpy_, w, DefaultRootWindow(dpy_), 0, 0, x, y, &child) != 0;
  }
  // 0xRRGGBB at (x, y) of the last picture taken; 0 outside it.
  unsigned long pixel(int x, int y) const {
    if (!img_ || x < 0 || y < 0 || x >= img_->width || y >= img_->height) return 0;
    return XGetPixel(img_, x, y) & 0xFFFFFF;
  }
  // A checksum of a rectangle's pixels: equal pictures give equal sums.
  uint64_t checksum(int x0, int y0, int w, int h) const {
    uint64_t sum = 1469598103934665603ull;
    for (int y = y0; y < y0 + h; ++y)
      for (int x = x0; x < x0 + w; ++x) sum = (sum ^ pixel(x, y)) * 1099511628211ull;
    return sum;
  }
  Census census(int x0, int y0, int w, int h) const {
    Census c;
    if (!img_) return c;
    for (int y = y0; y < y0 + h; ++y) {
      for (int x = x0; x < x0 + w; ++x) {
        unsigned long p = XGetPixel(img_, x, y);
        int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
        ++c.total;
        if (r > 215 && g > 215 && b > 215) ++c.white;
        if (r < 30 && g < 30 && b < 30) ++c.black;
        if (r > g + 50 && r > b + 50) ++c.red;
        if (r == 64 && g == 64 && b == 64) ++c.grey64;
      }
    }
    return c;
  }

 private:
  Display* dpy_;
  XImage* img_ = nullptr;
};
