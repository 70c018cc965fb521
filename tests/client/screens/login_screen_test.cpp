// The login screen of the real program on a private X server: its size, a refused pair, the
// keypad with Num Lock off, the way in, and every way out without a LOGIN line.
#include "tests/client/screens/gui_harness.h"

#include "client/foundation/config/utils.h"
#include "tests/client/screens/eventually.h"

namespace {

class LoginScreen : public gui::GuiTest {
 protected:
  // The demo accounts plus "op" whose password is typed on the keypad.
  void start_login() {
    write_setup(9101, 9102, [](std::string& cfg) {
      const std::string pw = uuencode_line("2468");
      cfg.replace(cfg.find("num_user=1"), 10, "num_user=2");
      cfg.insert(cfg.find("[SYSTEM]"),
                 "op=Operator, " + pw + " ,0, $1D9&1@`` , (1D9&1D9&1D8` ,desk\n");
    });
    ASSERT_NO_FATAL_FAILURE(start_vigilo({}));
    // SDL names its window before it gives it the login skin's size.
    int w = 0, h = 0;
    EXPECT_TRUE(wait_for([&] { return shot_->size(win_, &w, &h) && w == 420 && h == 250; }))
        << "the login screen is " << w << "x" << h;
    user_ = widget(1, "username");
    password_ = widget(1, "password");
    // The fields and buttons answer once the screen is drawn.
    ASSERT_TRUE(wait_for([&] { return at(gui::GuiTest::inner(widget(1, "ok"), 4)).light > 20; }));
  }
  // Repeats a way out until the program ends (at most 60 s): under load a key or click
  // can reach the window before its loop listens. Its exit code, -1000 when it ran on (and
  // was killed). Either way its window is gone on return, so that the next start finds
  // the new program's window and not the last one's.
  int exit_by(const std::function<void()>& way) {
    int code = -1000;
    for (int i = 0; i < 12 && code == -1000; ++i) {
      way();
      if (wait_process(vigilo_, 5000, &code) != 0) code = -1000;
    }
    if (code == -1000) {
      kill(vigilo_, SIGKILL);
      wait_process(vigilo_, 5000, nullptr);
    }
    EXPECT_TRUE(eventually([] { return x11_find_window("ZOL Main") == 0; }));
    return code;
  }
  // Typed characters show as light text in a field.
  bool has_text(const SDL_Rect& field) { return at(inner(field, 3)).light > 8; }

  SDL_Rect user_{}, password_{};
};

TEST_F(LoginScreen, wrong_pair_is_refused_then_the_keypad_logs_in) {
  ASSERT_NO_FATAL_FAILURE(start_login());
  click(cx(user_), cy(user_));
  type("admin");
  key("Tab");
  type("nope");
  key("Return");
  EXPECT_TRUE(wait_output("ZOL Main: Invalid ID or password!", true)) << err();
  EXPECT_TRUE(wait_for([&] { return has_text(user_) && !has_text(password_); }))
      << "the id stays, the password is cleared";
  EXPECT_EQ(err().find("nope"), std::string::npos);
  EXPECT_EQ(out().find("nope"), std::string::npos) << "the password is never printed";

  // A fresh id, then the keypad's digits with Num Lock off (their cursor keys), and Enter.
  click(cx(user_), cy(user_));
  // SDL takes a release and a press of the same key in one millisecond for the server's own
  // repeat and drops both, so one of several quick BackSpaces can go: press until empty.
  ASSERT_TRUE(wait_for([&] {
    key("BackSpace");
    return !has_text(user_);
  }));
  type("op");
  click(cx(password_), cy(password_));
  for (const char* k : {"KP_Down", "KP_Left", "KP_Right", "KP_Up"}) key(k);  // 2 4 6 8
  key("KP_Enter");
  int w = 0, h = 0;
  EXPECT_TRUE(wait_for([&] { return shot_->size(win_, &w, &h) && w == 1280 && h == 1024; }))
      << "the main window opens at the skin's size; now " << w << "x" << h << "\n"
      << out();
  EXPECT_TRUE(wait_for([&] { return system_log().find("|LOGIN|") != std::string::npos; }))
      << system_log();
  EXPECT_EQ(exit_by([&] { key("Escape"); }), 0) << err();
}

TEST_F(LoginScreen, esc_cancel_and_closing_end_with_0_without_a_login_line) {
  for (int way = 0; way < 3; ++way) {
    SCOPED_TRACE(way);
    ASSERT_NO_FATAL_FAILURE(start_login());
    const SDL_Rect cancel = widget(1, "cancel");
    EXPECT_EQ(exit_by([&] {
                if (way == 0) key("Escape");
                if (way == 1) click(cx(cancel), cy(cancel));
                if (way == 2) x11_close_window(win_);
              }),
              0)
        << err();
    const std::string log = system_log();
    EXPECT_NE(log.find("|START|"), std::string::npos) << log;
    EXPECT_NE(log.find("|EXIT|"), std::string::npos) << log;
    EXPECT_EQ(log.find("|LOGIN|"), std::string::npos) << log;
    std::filesystem::remove_all(dir_ / "logs");
  }
}

}  // namespace
