// Stand-in for the programs the launcher starts (vigilo copies, auxdesk, the siblings,
// xdg-open), copied into a test's run tree under their names. It appends its argument
// vector to $LAUNCH_STUB_LOG as one line of tab-separated words, then shows the window the
// real program would show (title by its name and words, _NET_WM_PID set) until that window
// is asked to close. Programs without a window end at once.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

std::string title_of(const std::string& name, int argc, char** argv) {
  if (name == "auxdesk" && argc > 1) {
    const std::string mode = argv[1];
    if (mode == "setup") return "ZOL Client Setup";
    if (mode == "emap") return "ZOL E-Map";
    if (mode == "dvrsetup") return "ZOL DVR Setup";
    if (mode == "logview") return "ZOL - Log View";
    return "";
  }
  if (name == "loadmeter") return "ZOL CPU Monitor";
  if (name == "linkmeter") return "ZOL Network Monitor";
  if (name == "probe") return "ZOL - DVR Status Info";
  if (name == "vigilo") {
    for (int i = 1; i < argc; ++i) {
      if (strncmp(argv[i], "-m", 2) != 0) continue;
      switch (atoi(argv[i] + 2)) {
        case 1: return "ZOL Extension Window";
        case 2: return "ZOL Spot Window";
        case 3: return "ZOL Search";
        case 4: return "ZOL Playback";
        case 7: return "ZOL Main";
        default: return "";
      }
    }
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  const char* slash = strrchr(argv[0], '/');
  const std::string name = slash ? slash + 1 : argv[0];
  std::string line = argv[0];
  for (int i = 1; i < argc; ++i) line += std::string("\t") + argv[i];
  line += "\n";
  if (const char* log = getenv("LAUNCH_STUB_LOG")) {
    int fd = open(log, O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd >= 0) {
      if (write(fd, line.data(), line.size()) != ssize_t(line.size())) return 3;
      close(fd);
    }
  }
  const std::string title = title_of(name, argc, argv);
  if (title.empty()) return 0;
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) return 2;
  Window w = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 64, 48, 0, 0, 0);
  XStoreName(dpy, w, title.c_str());
  unsigned long pid = static_cast<unsigned long>(getpid());
  XChangeProperty(dpy, w, XInternAtom(dpy, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&pid), 1);
  Atom del = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(dpy, w, &del, 1);
  XMapWindow(dpy, w);
  XFlush(dpy);
  for (;;) {
    XEvent ev;
    XNextEvent(dpy, &ev);
    if (ev.type == ClientMessage && static_cast<Atom>(ev.xclient.data.l[0]) == del) break;
  }
  XDestroyWindow(dpy, w);
  XCloseDisplay(dpy);
  return 0;
}
