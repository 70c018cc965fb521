#include "platform/system/x11_windows.h"

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "platform/system/x11_session.h"

namespace {

// Windows managers nest clients inside frames; three levels below the root is enough for
// every reparenting manager in use and keeps a stray deep tree from costing much.
constexpr int kMaxDepth = 3;

bool title_matches(Display* dpy, Window w, const char* title) {
  bool match = false;
  Atom net_name = XInternAtom(dpy, "_NET_WM_NAME", False);
  Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(dpy, w, net_name, 0, 1024, False, utf8, &type, &format, &count, &after,
                         &data) == Success &&
      data) {
    if (type == utf8 && format == 8)
      match = std::string(reinterpret_cast<char*>(data), count) == title;
    XFree(data);
    if (match) return true;
  }
  char* name = nullptr;
  if (XFetchName(dpy, w, &name) && name) {
    match = strcmp(name, title) == 0;
    XFree(name);
  }
  return match;
}

int read_pid(Display* dpy, Window w) {
  Atom pid_atom = XInternAtom(dpy, "_NET_WM_PID", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  int pid = 0;
  if (XGetWindowProperty(dpy, w, pid_atom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after,
                         &data) == Success &&
      data) {
    if (type == XA_CARDINAL && format == 32 && count == 1)
      pid = static_cast<int>(*reinterpret_cast<unsigned long*>(data));
    XFree(data);
  }
  return pid;
}

Window search(Display* dpy, Window parent, const char* title, int pid, int depth) {
  Window root_ret = 0, parent_ret = 0;
  Window* kids = nullptr;
  unsigned int n = 0;
  if (!XQueryTree(dpy, parent, &root_ret, &parent_ret, &kids, &n)) return 0;
  Window found = 0;
  // Topmost first: the stacking order lists the lowest child first.
  for (unsigned int i = n; i-- > 0 && !found;) {
    if ((!title || title_matches(dpy, kids[i], title)) &&
        (pid <= 0 || read_pid(dpy, kids[i]) == pid))
      found = kids[i];
  }
  for (unsigned int i = n; i-- > 0 && !found && depth < kMaxDepth;)
    found = search(dpy, kids[i], title, pid, depth + 1);
  if (kids) XFree(kids);
  return found;
}

bool send_to_root(Display* dpy, Window w, const char* message, long l0, long l1) {
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = w;
  ev.xclient.message_type = XInternAtom(dpy, message, False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = l0;
  ev.xclient.data.l[1] = l1;
  return XSendEvent(dpy, DefaultRootWindow(dpy), False,
                    SubstructureRedirectMask | SubstructureNotifyMask, &ev) != 0;
}

}  // namespace

unsigned long x11_find_window(const char* title, int pid) {
  if (!title && pid <= 0) return 0;
  X11Session x;
  if (!x.ok()) return 0;
  Window w = search(x.dpy(), DefaultRootWindow(x.dpy()), title, pid, 0);
  // A window destroyed during the walk makes its queries fail; what was found still stands.
  x.sync_had_error();
  return w;
}

int x11_window_pid(unsigned long id) {
  if (!id) return 0;
  X11Session x;
  if (!x.ok()) return 0;
  int pid = read_pid(x.dpy(), id);
  return x.sync_had_error() ? 0 : pid;
}

namespace {

// The attributes of window `id` on the session's display: false when it is gone.
bool window_attributes(X11Session& x, unsigned long id, XWindowAttributes* attr) {
  return id && x.ok() && XGetWindowAttributes(x.dpy(), id, attr) && !x.sync_had_error();
}

}  // namespace

int x11_raise_window(unsigned long id) {
  X11Session x;
  XWindowAttributes attr;
  if (!window_attributes(x, id, &attr)) return -1;
  Display* dpy = x.dpy();
  XMapRaised(dpy, id);
  // A window manager raises and focuses on _NET_ACTIVE_WINDOW (source 1: an application);
  // without one the XMapRaised above already put it on top.
  send_to_root(dpy, id, "_NET_ACTIVE_WINDOW", 1, CurrentTime);
  if (x.sync_had_error()) return -1;
  if (attr.map_state == IsViewable) {
    XSetInputFocus(dpy, id, RevertToParent, CurrentTime);
    x.sync_had_error();  // focus may be refused; the window is raised all the same
  }
  return 0;
}

int x11_close_window(unsigned long id) {
  if (!id) return -1;
  X11Session x;
  if (!x.ok()) return -1;
  Display* dpy = x.dpy();
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = id;
  ev.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
  ev.xclient.data.l[1] = CurrentTime;
  XSendEvent(dpy, id, False, NoEventMask, &ev);
  return x.sync_had_error() ? -1 : 0;
}

int x11_set_window_pid(unsigned long id, int pid) {
  if (!id) return -1;
  X11Session x;
  if (!x.ok()) return -1;
  unsigned long value = static_cast<unsigned long>(pid);
  XChangeProperty(x.dpy(), id, XInternAtom(x.dpy(), "_NET_WM_PID", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<unsigned char*>(&value), 1);
  return x.sync_had_error() ? -1 : 0;
}

int x11_move_window_by(unsigned long id, int dx, int dy) {
  X11Session x;
  XWindowAttributes attr;
  if (!window_attributes(x, id, &attr)) return -1;
  Display* dpy = x.dpy();
  // Root coordinates: a window manager may have put the window into a frame of its own, and
  // it takes a client's move request as a position on the screen.
  int rx = 0, ry = 0;
  Window child = 0;
  XTranslateCoordinates(dpy, id, attr.root, 0, 0, &rx, &ry, &child);
  XMoveWindow(dpy, id, rx - attr.border_width + dx, ry - attr.border_width + dy);
  return x.sync_had_error() ? -1 : 0;
}

namespace {

// The child of the root that holds `w` (w itself when it is one); 0 when it is gone.
Window toplevel_of(Display* dpy, Window w) {
  Window root = DefaultRootWindow(dpy);
  for (int depth = 0; w && w != root && depth < 64; ++depth) {
    Window root_ret = 0, parent = 0;
    Window* kids = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(dpy, w, &root_ret, &parent, &kids, &n)) return 0;
    if (kids) XFree(kids);
    if (parent == root) return w;
    w = parent;
  }
  return 0;
}

// Every viewable window of `pid` among the root's children and their children (a reparenting
// manager nests the client one level down; the frame is what gets restacked).
void windows_of(Display* dpy, Window parent, int pid, int depth, Window frame,
                std::vector<Window>* out) {
  Window root_ret = 0, parent_ret = 0;
  Window* kids = nullptr;
  unsigned int n = 0;
  if (!XQueryTree(dpy, parent, &root_ret, &parent_ret, &kids, &n)) return;
  for (unsigned int i = 0; i < n; ++i) {
    Window top = depth == 0 ? kids[i] : frame;
    XWindowAttributes wa;
    if (read_pid(dpy, kids[i]) == pid && XGetWindowAttributes(dpy, top, &wa) &&
        wa.map_state == IsViewable)
      out->push_back(top);
    else if (depth < 1)
      windows_of(dpy, kids[i], pid, depth + 1, top, out);
  }
  if (kids) XFree(kids);
}

}  // namespace

unsigned long x11_active_window(X11Session* session) {
  std::optional<X11Session> own;
  X11Session& x = session ? *session : own.emplace();
  if (!x.ok()) return 0;
  if (session) x.sync_had_error();  // an error left from an earlier call is none of this one's
  Display* dpy = x.dpy();
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  Window active = 0;
  if (XGetWindowProperty(dpy, DefaultRootWindow(dpy), XInternAtom(dpy, "_NET_ACTIVE_WINDOW", False),
                         0, 1, False, XA_WINDOW, &type, &format, &count, &after,
                         &data) == Success &&
      data) {
    if (type == XA_WINDOW && format == 32 && count == 1) active = *reinterpret_cast<Window*>(data);
    XFree(data);
    if (active) return active;
  }
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(dpy, &focus, &revert);
  if (focus == None || focus == PointerRoot) return 0;
  Window top = toplevel_of(dpy, focus);
  return x.sync_had_error() ? 0 : top;
}

int x11_stack_windows_above(int pid, unsigned long above, X11Session* session) {
  if (pid <= 0 || !above) return 0;
  std::optional<X11Session> own;
  X11Session& x = session ? *session : own.emplace();
  if (!x.ok()) return 0;
  if (session) x.sync_had_error();  // an error left from an earlier call is none of this one's
  Display* dpy = x.dpy();
  std::vector<Window> wins;
  windows_of(dpy, DefaultRootWindow(dpy), pid, 0, 0, &wins);
  Window sibling = toplevel_of(dpy, above);
  int done = 0;
  for (Window w : wins) {
    if (!sibling || w == sibling) continue;
    XWindowChanges ch{};
    ch.sibling = sibling;
    ch.stack_mode = Above;
    // The manager's frame, when there is one, may refuse a sibling it does not own: then
    // a plain raise still brings the window over the E-Map.
    XConfigureWindow(dpy, w, CWSibling | CWStackMode, &ch);
    if (x.sync_had_error()) XRaiseWindow(dpy, w);
    if (!x.sync_had_error()) ++done;
  }
  return done;
}
