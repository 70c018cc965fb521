// Stands in for vigilo when the E-Map starts a spot window: writes its argument vector to
// spot-<pid>.txt in the working directory (one argument a line), maps a small window that
// carries its _NET_WM_PID, and waits to be ended.
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  const std::string path = "spot-" + std::to_string(getpid()) + ".txt";
  const std::string tmp = path + ".part";
  FILE* f = fopen(tmp.c_str(), "w");
  if (!f) return 1;
  for (int i = 0; i < argc; ++i) fprintf(f, "%s\n", argv[i]);
  fclose(f);
  rename(tmp.c_str(), path.c_str());  // the test never reads half a file
  if (Display* d = XOpenDisplay(nullptr)) {
    Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 64, 48, 0, 0, 0x336699);
    XStoreName(d, w, "ZOL Spot");
    unsigned long pid = static_cast<unsigned long>(getpid());
    XChangeProperty(d, w, XInternAtom(d, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&pid), 1);
    XMapWindow(d, w);
    XFlush(d);
  }
  for (;;) pause();  // SIGTERM ends it
}
