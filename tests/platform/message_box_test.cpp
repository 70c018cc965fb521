// Message boxes: the unattended form, the no-display fallback, and the real X11 box
// answered from the keyboard while it runs on a worker thread.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/system/message_box.h"
#include "platform/system/x11_windows.h"
#include "tests/platform/env_guard.h"
#include "tests/platform/private_x.h"

// Xlib defines macros (None, Bool, Status) that collide with GoogleTest: include it last.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

TEST(UnattendedBox, AnswersWithTheConfiguredButtonAndWritesOneLine) {
  struct Case {
    const char* env;
    BoxButtons buttons;
    BoxAnswer answer;
  } cases[] = {
      {"ok", BoxButtons::ok, BoxAnswer::ok},       {"no", BoxButtons::ok, BoxAnswer::ok},
      {"yes", BoxButtons::yes_no, BoxAnswer::yes}, {"no", BoxButtons::yes_no, BoxAnswer::no},
      {"ok", BoxButtons::yes_no, BoxAnswer::yes},
  };
  for (const Case& c : cases) {
    EnvGuard env("VIGILO_BOX_ANSWER", c.env);
    testing::internal::CaptureStderr();
    BoxAnswer a = show_message_box("ZOL Main", "SDL_AddTimer() failed.\r\n", c.buttons);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(a, c.answer) << c.env;
    EXPECT_EQ(err, "ZOL Main: SDL_AddTimer() failed.\n") << c.env;
  }
}

TEST(UnattendedBox, NoDisplayFallsBackToTheDefaultAnswer) {
  EnvGuard env("VIGILO_BOX_ANSWER", nullptr);
  EnvGuard display("DISPLAY", ":987654");  // no such server
  testing::internal::CaptureStderr();
  EXPECT_EQ(show_message_box("Warning MessageBox", "Exit?", BoxButtons::yes_no), BoxAnswer::no);
  EXPECT_EQ(show_message_box("ZOL Main", "Note", BoxButtons::ok), BoxAnswer::ok);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Warning MessageBox: Exit?\nZOL Main: Note\n");
}

// Sends a key press to window `w` the way a keyboard would reach the focused box.
void send_key(unsigned long w, KeySym sym) {
  Display* dpy = XOpenDisplay(nullptr);
  ASSERT_NE(dpy, nullptr);
  XEvent ev{};
  ev.xkey.type = KeyPress;
  ev.xkey.display = dpy;
  ev.xkey.window = w;
  ev.xkey.root = DefaultRootWindow(dpy);
  ev.xkey.same_screen = True;
  ev.xkey.keycode = XKeysymToKeycode(dpy, sym);
  XSendEvent(dpy, w, True, KeyPressMask, &ev);
  XSync(dpy, False);
  XCloseDisplay(dpy);
}

unsigned long wait_for_window(const std::string& title) {
  for (int i = 0; i < 500; ++i) {  // at most 5 s
    if (unsigned long w = x11_find_window(title.c_str())) return w;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return 0;
}

class RealBox : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(x_.display().empty()) << "Xvfb did not start";
    display_ = std::make_unique<EnvGuard>("DISPLAY", x_.display().c_str());
  }
  EnvGuard unattended{"VIGILO_BOX_ANSWER", nullptr};
  PrivateX x_;  // the box takes the keyboard focus: keep it away from other tests
  std::unique_ptr<EnvGuard> display_;
};

TEST_F(RealBox, KeysAndCloseAnswerABoxShownFromAWorkerThread) {
  struct Case {
    KeySym key;  // 0: the window manager closes the box
    BoxButtons buttons;
    BoxAnswer answer;
  } cases[] = {
      {XK_Return, BoxButtons::yes_no, BoxAnswer::yes},  // Enter takes the focused Yes
      {XK_Escape, BoxButtons::yes_no, BoxAnswer::no},
      {XK_Escape, BoxButtons::ok, BoxAnswer::ok},
      {0, BoxButtons::yes_no, BoxAnswer::no},  // like Escape
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string title = "box-test-" + std::to_string(getpid()) + "-" + std::to_string(n++);
    std::atomic<int> answer{-1};
    std::thread worker([&] {
      answer = static_cast<int>(show_message_box(
          title.c_str(), "A line long enough to be wrapped inside the box at a word break.\n",
          c.buttons));
    });
    unsigned long w = wait_for_window(title);
    ASSERT_NE(w, 0u) << title;
    EXPECT_EQ(x11_window_pid(w), getpid());
    if (c.key)
      send_key(w, c.key);
    else
      EXPECT_EQ(x11_close_window(w), 0);
    worker.join();
    EXPECT_EQ(answer.load(), static_cast<int>(c.answer)) << title;
    EXPECT_EQ(x11_find_window(title.c_str()), 0u) << "box still on screen";
  }
}

}  // namespace
