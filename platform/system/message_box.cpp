// Modal message box: a small Xlib window with wrapped text and one or two buttons.
#include "platform/system/message_box.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include "platform/system/x11_session.h"

namespace {

// One box at a time: a second thread's box waits for the first, as stacked modal boxes
// would confuse the operator, and the stderr lines of unattended runs never interleave.
std::mutex g_box_mutex;

constexpr int kMaxTextWidth = 520;  // pixels before a line wraps
constexpr int kMaxLines = 40;       // keeps a runaway text from pushing buttons off screen
constexpr int kMargin = 16;
constexpr int kButtonW = 80;
constexpr int kButtonH = 26;
constexpr int kButtonGap = 12;

std::string_view trim_line_end(const char* text) {
  std::string_view v = text ? text : "";
  while (!v.empty() && (v.back() == '\n' || v.back() == '\r')) v.remove_suffix(1);
  return v;
}

void write_unattended_line(const char* title, const char* text) {
  std::string line = title ? title : "";
  line += ": ";
  line += trim_line_end(text);
  line += '\n';
  fwrite(line.data(), 1, line.size(), stderr);
  fflush(stderr);
}

BoxAnswer default_answer(BoxButtons buttons) {
  return buttons == BoxButtons::ok ? BoxAnswer::ok : BoxAnswer::no;
}

BoxAnswer unattended_answer(const char* value, BoxButtons buttons) {
  if (buttons == BoxButtons::ok) return BoxAnswer::ok;
  std::string_view v = value;
  return (v == "yes" || v == "ok") ? BoxAnswer::yes : BoxAnswer::no;
}

using Glyphs = std::vector<XChar2b>;

// Decodes UTF-8 into the 16-bit glyph codes of the box font. A byte that is not part of a
// valid sequence counts as Latin-1, so Latin-1 text still reads; characters beyond what
// the font covers show as '?'.
Glyphs to_glyphs(std::string_view text, bool wide_font) {
  Glyphs out;
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    uint32_t cp = c;
    size_t len = 1;
    if (c >= 0xC2 && c <= 0xF4) {
      size_t need = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
      uint32_t v = c & (0x3F >> need);
      bool ok = i + need < text.size();
      for (size_t k = 1; ok && k <= need; ++k) {
        unsigned char cc = static_cast<unsigned char>(text[i + k]);
        ok = (cc & 0xC0) == 0x80;
        v = (v << 6) | (cc & 0x3F);
      }
      if (ok) {
        cp = v;
        len = need + 1;
      }
    }
    if (cp > 0xFFFF || (!wide_font && cp > 0xFF)) cp = '?';
    XChar2b g;
    g.byte1 = static_cast<unsigned char>(cp >> 8);
    g.byte2 = static_cast<unsigned char>(cp & 0xFF);
    out.push_back(g);
    i += len;
  }
  return out;
}

int glyph_width(XFontStruct* font, const Glyphs& g, size_t from, size_t n) {
  return XTextWidth16(font, g.data() + from, static_cast<int>(n));
}

bool is_space(const XChar2b& g) { return g.byte1 == 0 && g.byte2 == ' '; }

// Splits `text` at line ends and wraps each paragraph at spaces to `max_px`; a word wider
// than the box is cut between characters.
std::vector<Glyphs> wrap_text(std::string_view text, XFontStruct* font, bool wide, int max_px) {
  std::vector<Glyphs> lines;
  size_t start = 0;
  while (static_cast<int>(lines.size()) < kMaxLines) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view para = text.substr(start, end - start);
    if (!para.empty() && para.back() == '\r') para.remove_suffix(1);
    Glyphs g = to_glyphs(para, wide);
    size_t pos = 0;
    do {
      // Longest run from pos that fits, preferring to end at a space.
      size_t n = 0, last_space = 0;
      while (pos + n < g.size() && glyph_width(font, g, pos, n + 1) <= max_px) {
        ++n;
        if (pos + n < g.size() && is_space(g[pos + n])) last_space = n;
      }
      if (pos + n < g.size()) {
        if (last_space > 0) n = last_space;
        if (n == 0) n = 1;  // even one glyph is wider than the box
      }
      lines.emplace_back(g.begin() + pos, g.begin() + pos + n);
      pos += n;
      while (pos < g.size() && is_space(g[pos])) ++pos;
    } while (pos < g.size() && static_cast<int>(lines.size()) < kMaxLines);
    if (end == text.size()) break;
    start = end + 1;
  }
  if (static_cast<int>(lines.size()) > kMaxLines) lines.resize(kMaxLines);
  return lines;
}

struct Button {
  const char* label;
  BoxAnswer answer;
  int x, y;
};

class BoxWindow {
 public:
  BoxWindow(X11Session& x, const char* title, std::string_view text, BoxButtons buttons)
      : x_(x), dpy_(x.dpy()) {
    // A Unicode font shows every message as written; the core "fixed" font is the fallback
    // that every X server has.
    font_ = XLoadQueryFont(dpy_, "-misc-fixed-medium-r-normal--13-*-*-*-*-*-iso10646-1");
    wide_ = font_ != nullptr;
    if (!font_) font_ = XLoadQueryFont(dpy_, "fixed");
    if (!font_) font_ = XLoadQueryFont(dpy_, "*");
    if (buttons == BoxButtons::ok) {
      buttons_ = {{"OK", BoxAnswer::ok, 0, 0}};
      cancel_ = BoxAnswer::ok;
    } else {
      buttons_ = {{"Yes", BoxAnswer::yes, 0, 0}, {"No", BoxAnswer::no, 0, 0}};
      cancel_ = BoxAnswer::no;
    }
    if (!font_) return;
    lines_ = wrap_text(text, font_, wide_, kMaxTextWidth);
    line_h_ = font_->ascent + font_->descent + 2;

    int text_w = 0;
    for (const auto& l : lines_) text_w = std::max(text_w, glyph_width(font_, l, 0, l.size()));
    int n = static_cast<int>(buttons_.size());
    int buttons_w = n * kButtonW + (n - 1) * kButtonGap;
    width_ = std::max({text_w, buttons_w, 200}) + 2 * kMargin;
    int text_h = static_cast<int>(lines_.size()) * line_h_;
    height_ = kMargin + text_h + kMargin + kButtonH + kMargin;
    int bx = (width_ - buttons_w) / 2;
    for (auto& b : buttons_) {
      b.x = bx;
      b.y = height_ - kMargin - kButtonH;
      bx += kButtonW + kButtonGap;
    }

    int screen = DefaultScreen(dpy_);
    int sx = std::max(0, (DisplayWidth(dpy_, screen) - width_) / 2);
    int sy = std::max(0, (DisplayHeight(dpy_, screen) - height_) / 2);
    unsigned long bg = WhitePixel(dpy_, screen);
    unsigned long fg = BlackPixel(dpy_, screen);
    win_ = XCreateSimpleWindow(dpy_, RootWindow(dpy_, screen), sx, sy, width_, height_, 1, fg, bg);
    XSelectInput(
        dpy_, win_,
        ExposureMask | KeyPressMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask);
    set_title(title ? title : "");
    set_dialog_hints(sx, sy);
    gc_ = XCreateGC(dpy_, win_, 0, nullptr);
    XSetForeground(dpy_, gc_, fg);
    XSetBackground(dpy_, gc_, bg);
    XSetFont(dpy_, gc_, font_->fid);
    XMapRaised(dpy_, win_);
  }

  ~BoxWindow() {
    if (gc_) XFreeGC(dpy_, gc_);
    if (win_) XDestroyWindow(dpy_, win_);
    if (font_) XFreeFont(dpy_, font_);
    XSync(dpy_, False);
  }

  bool ok() const { return win_ != 0; }

  // Waits for a button, Enter (the focused button), Escape or the window manager's close.
  BoxAnswer run() {
    Atom wm_delete = XInternAtom(dpy_, "WM_DELETE_WINDOW", False);
    for (;;) {
      XEvent ev;
      XNextEvent(dpy_, &ev);
      switch (ev.type) {
        case MapNotify:
          // Without a window manager nobody gives the box the keyboard; take it.
          XSetInputFocus(dpy_, win_, RevertToParent, CurrentTime);
          x_.sync_had_error();
          break;
        case Expose:
          if (ev.xexpose.count == 0) draw();
          break;
        case ButtonPress:
          if (ev.xbutton.button == Button1) pressed_ = hit(ev.xbutton.x, ev.xbutton.y);
          break;
        case ButtonRelease:
          if (ev.xbutton.button == Button1 && pressed_ >= 0 &&
              hit(ev.xbutton.x, ev.xbutton.y) == pressed_)
            return buttons_[pressed_].answer;
          pressed_ = -1;
          break;
        case KeyPress: {
          KeySym sym = XLookupKeysym(&ev.xkey, 0);
          if (sym == XK_Return || sym == XK_KP_Enter || sym == XK_space)
            return buttons_[focus_].answer;
          if (sym == XK_Escape) return cancel_;
          if (sym == XK_Tab || sym == XK_Left || sym == XK_Right) {
            focus_ = (focus_ + 1) % static_cast<int>(buttons_.size());
            draw();
          }
          break;
        }
        case ClientMessage:
          if (static_cast<Atom>(ev.xclient.data.l[0]) == wm_delete) return cancel_;
          break;
        default: break;
      }
    }
  }

 private:
  void set_title(const char* title) {
    XStoreName(dpy_, win_, title);
    Atom net_name = XInternAtom(dpy_, "_NET_WM_NAME", False);
    Atom utf8 = XInternAtom(dpy_, "UTF8_STRING", False);
    XChangeProperty(dpy_, win_, net_name, utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title), static_cast<int>(strlen(title)));
    XClassHint cls;
    char name[] = "vigilo-box";
    char klass[] = "Vigilo";
    cls.res_name = name;
    cls.res_class = klass;
    XSetClassHint(dpy_, win_, &cls);
    unsigned long pid = static_cast<unsigned long>(getpid());
    XChangeProperty(dpy_, win_, XInternAtom(dpy_, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&pid), 1);
  }

  void set_dialog_hints(int x, int y) {
    Atom wm_delete = XInternAtom(dpy_, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(dpy_, win_, &wm_delete, 1);
    Atom type = XInternAtom(dpy_, "_NET_WM_WINDOW_TYPE", False);
    Atom dialog = XInternAtom(dpy_, "_NET_WM_WINDOW_TYPE_DIALOG", False);
    XChangeProperty(dpy_, win_, type, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&dialog), 1);
    Atom state = XInternAtom(dpy_, "_NET_WM_STATE", False);
    Atom states[2] = {XInternAtom(dpy_, "_NET_WM_STATE_ABOVE", False),
                      XInternAtom(dpy_, "_NET_WM_STATE_MODAL", False)};
    XChangeProperty(dpy_, win_, state, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(states), 2);
    XSizeHints* hints = XAllocSizeHints();
    if (hints) {
      hints->flags = PPosition | PMinSize | PMaxSize;
      hints->x = x;
      hints->y = y;
      hints->min_width = hints->max_width = width_;
      hints->min_height = hints->max_height = height_;
      XSetWMNormalHints(dpy_, win_, hints);
      XFree(hints);
    }
  }

  int hit(int px, int py) const {
    for (size_t i = 0; i < buttons_.size(); ++i) {
      const Button& b = buttons_[i];
      if (px >= b.x && px < b.x + kButtonW && py >= b.y && py < b.y + kButtonH)
        return static_cast<int>(i);
    }
    return -1;
  }

  void draw() {
    XClearWindow(dpy_, win_);
    int y = kMargin + font_->ascent;
    for (const auto& l : lines_) {
      XDrawString16(dpy_, win_, gc_, kMargin, y, l.data(), static_cast<int>(l.size()));
      y += line_h_;
    }
    for (size_t i = 0; i < buttons_.size(); ++i) {
      const Button& b = buttons_[i];
      XDrawRectangle(dpy_, win_, gc_, b.x, b.y, kButtonW, kButtonH);
      if (static_cast<int>(i) == focus_)
        XDrawRectangle(dpy_, win_, gc_, b.x + 2, b.y + 2, kButtonW - 4, kButtonH - 4);
      int len = static_cast<int>(strlen(b.label));
      int tw = XTextWidth(font_, b.label, len);
      int ty = b.y + (kButtonH + font_->ascent - font_->descent) / 2;
      XDrawString(dpy_, win_, gc_, b.x + (kButtonW - tw) / 2, ty, b.label, len);
    }
    XFlush(dpy_);
  }

  X11Session& x_;
  Display* dpy_;
  XFontStruct* font_ = nullptr;
  Window win_ = 0;
  GC gc_ = nullptr;
  bool wide_ = false;
  std::vector<Glyphs> lines_;
  std::vector<Button> buttons_;
  BoxAnswer cancel_ = BoxAnswer::ok;
  int line_h_ = 14;
  int width_ = 0;
  int height_ = 0;
  int focus_ = 0;
  int pressed_ = -1;
};

}  // namespace

namespace {
// Caller holds g_box_mutex.
bool answer_unattended(const char* title, const char* text, BoxButtons buttons, BoxAnswer* answer) {
  const char* value = getenv("VIGILO_BOX_ANSWER");
  if (!value || !*value) return false;
  write_unattended_line(title, text);
  BoxAnswer a = unattended_answer(value, buttons);
  if (answer) *answer = a;
  return true;
}
}  // namespace

bool unattended_box_answer(const char* title, const char* text, BoxButtons buttons,
                           BoxAnswer* answer) {
  std::lock_guard<std::mutex> lock(g_box_mutex);
  return answer_unattended(title, text, buttons, answer);
}

BoxAnswer show_message_box(const char* title, const char* text, BoxButtons buttons) {
  std::lock_guard<std::mutex> lock(g_box_mutex);
  BoxAnswer preset;
  if (answer_unattended(title, text, buttons, &preset)) return preset;
  X11Session x;
  if (x.ok()) {
    BoxWindow box(x, title, trim_line_end(text), buttons);
    if (box.ok()) return box.run();
  }
  write_unattended_line(title, text);
  return default_answer(buttons);
}
