// The search and time-playback windows of the real program against the simulated 'Q' DVR
// with recordings, on a private X server in UTC: the walk down month, day, camera, hour and
// minute checked on screen and on the wire, the playback controls, typed times, and the
// replies and DVRs that must leave the window usable.
#include <ctime>
#include <string>
#include <vector>

#include "platform/wire/byte_reader.h"
#include "tests/client/screens/gui_harness.h"

namespace {

namespace fs = std::filesystem;

// One request the DVR logged ("request TYPE MODE HEX").
struct Wire {
  int type = 0, mode = 0;
  std::vector<uint8_t> body;
  uint32_t be32(size_t at) const { return get_be32(body.data() + at); }
};

int64_t utc(int year, int month1, int day, int hour, int minute) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month1 - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  return int64_t(timegm(&t));
}

class SearchGui : public gui::GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    const time_t now = time(nullptr);
    gmtime_r(&now, &today_);
    year_ = today_.tm_year + 1900;
    month_ = today_.tm_mon + 1;
    day_a_ = today_.tm_mday;
    day_b_ = day_a_ > 1 ? day_a_ - 1 : 2;  // another day of this month
  }

  // A DVR holding: day B cameras 1-4 from 10:15 to 11:30 and camera 1 from 10:20 to 10:25
  // of the second kind; day A camera 1 from 02:00 to 03:00 of a sensor kind.
  int start_recording_dvr() {
    auto span = [&](int day, const char* times, const char* rest) {
      char text[96];
      std::snprintf(text, sizeof text, "%04d-%02d-%02dT%s,%s", year_, month_, day, times, rest);
      return std::string(text);
    };
    return start_dvr({"--log-requests", "--record", span(day_b_, "10:15/11:30", "cams=0-3,kind=1"),
                      "--record", span(day_b_, "10:20/10:25", "cams=0,kind=2"), "--record",
                      span(day_a_, "02:00/03:00", "cams=0,kind=4")});
  }

  void start_search(int port) {
    write_setup(port);
    start_vigilo({"-m", "3", "-u", "admin,admin"}, "ZOL Search", {"TZ=UTC"});
    ASSERT_TRUE(wait_for([&] { return at(inner(widget(3, "month_year"), 3)).light > 10; }))
        << "the window is drawn, its month label too";
  }
  // Picks DVR-1 in the list and connects to it.
  void connect_first_dvr() {
    const SDL_Rect list = widget(3, "dvr_list"), connect = widget(3, "connect");
    click(list.x + 20, list.y + 8);
    click(cx(connect), cy(connect));
  }

  std::vector<Wire> wire() const {
    std::vector<Wire> all;
    const std::string text = read_file(dir_ / "dvr0.out");
    size_t at = 0;
    while ((at = text.find("request ", at)) != std::string::npos) {
      const size_t end = text.find('\n', at);
      if (end == std::string::npos) break;
      Wire w;
      char hex[400] = {};
      if (std::sscanf(text.c_str() + at, "request %d %d %399s", &w.type, &w.mode, hex) >= 2)
        for (size_t i = 0; hex[i] && hex[i + 1]; i += 2)
          w.body.push_back(uint8_t(std::stoi(std::string(hex + i, 2), nullptr, 16)));
      all.push_back(w);
      at = end;
    }
    return all;
  }
  // Waits for the first request from index `from` on that `pred` accepts; its index or -1.
  int wait_wire(size_t from, const std::function<bool(const Wire&)>& pred, int seconds = 30) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
      const std::vector<Wire> all = wire();
      for (size_t i = from; i < all.size(); ++i)
        if (pred(all[i])) return int(i);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return -1;
  }
  static bool search_of(const Wire& w, int day, int mask, int hour) {
    return w.type == 162 && w.body.size() >= 7 && w.body[3] == day &&
           get_le16(w.body.data() + 4) == mask && w.body[6] == hour;
  }
  static bool code_of(const Wire& w, int type, int code) {
    return w.type == type && w.body.size() >= 12 && w.body[8] == code;
  }

  // Cells laid out as the window does from the first cell of each row in the skin.
  SDL_Rect day_cell(int day) {
    const SDL_Rect first = widget(3, "day");
    std::tm t{};
    t.tm_year = year_ - 1900;
    t.tm_mon = month_ - 1;
    t.tm_mday = 1;
    timegm(&t);
    const int c = t.tm_wday + day - 1;
    return SDL_Rect{Sint16(first.x + (c % 7) * (first.w + 2)), Sint16(first.y + (c / 7) * first.h),
                    first.w, first.h};
  }
  SDL_Rect row_cell(const char* name, int i) {
    const SDL_Rect first = widget(3, name);
    return SDL_Rect{Sint16(first.x + i * (first.w + 1)), first.y, first.w, first.h};
  }
  // Red channel of a cell's left edge: the skin draws enabled cells' edges lighter.
  int edge(const SDL_Rect& r) const {
    return int((shot_->pixel(wx_ + r.x, wy_ + r.y + r.h / 2) >> 16) & 0xFF);
  }
  bool enabled(const SDL_Rect& r) const { return edge(r) > 50; }
  SDL_Rect video() {
    SKIN_WINDOW w;
    const std::string text = read_file(dir_ / "skin.cfg");
    EXPECT_EQ(parse_skins_line("search", text.c_str(), &w), 0);
    return w.video_rect;
  }
  // Keys through the XTEST extension to the window under the pointer. Keys sent to a window
  // carry no time, and SDL takes a release and a press of one key at the same time for the
  // keyboard's auto-repeat and drops the press: "00" or two BackSpaces would lose one.
  void press_keys(const std::vector<std::string>& names) {
    for (const std::string& n : names) gui::run({"xdotool", "key", n});
  }
  void type_keys(const std::string& text) {
    std::vector<std::string> names;
    for (char c : text) names.push_back(c == ' ' ? "space" : std::string(1, c));
    press_keys(names);
  }
  // Moves the pointer off the widgets so that none shows its hover look.
  void rest_pointer() { mouse(4, 4, {}); }

  std::tm today_{};
  int year_ = 0, month_ = 0, day_a_ = 0, day_b_ = 0;
};

TEST_F(SearchGui, walk_down_the_recordings_and_steer_the_playback) {
  const int port = start_recording_dvr();
  ASSERT_GT(port, 0);
  start_search(port);

  // Connected, the window asks the DVR for this month.
  connect_first_dvr();
  const int month_req = wait_wire(0, [&](const Wire& w) { return search_of(w, 255, 0, 255); });
  ASSERT_GE(month_req, 0) << out() << err();
  EXPECT_EQ(year_, get_le16(wire()[size_t(month_req)].body.data()));
  EXPECT_EQ(month_ - 1, wire()[size_t(month_req)].body[2]) << "months go out 0-based";
  const int other = day_a_ != 3 && day_b_ != 3 ? 3 : 4;
  ASSERT_TRUE(wait_for([&] {
    return enabled(day_cell(day_a_)) && enabled(day_cell(day_b_)) && !enabled(day_cell(other));
  })) << "days with recordings enabled, the others not";

  // Day B: cameras 1-4 recorded.
  click(cx(day_cell(day_b_)), cy(day_cell(day_b_)));
  ASSERT_GE(
      wait_wire(size_t(month_req), [&](const Wire& w) { return search_of(w, day_b_, 0, 255); }), 0);
  rest_pointer();
  const SDL_Rect cam1 = row_cell("camera", 0), cam5 = row_cell("camera", 4);
  ASSERT_TRUE(wait_for([&] { return enabled(row_cell("camera", 3)) && !enabled(cam5); }));

  // Camera 1: hours 10 and 11, hour 10 in both kinds' colours; no other hour cell.
  click(cx(cam1), cy(cam1));
  ASSERT_GE(wait_wire(0, [&](const Wire& w) { return search_of(w, day_b_, 1, 255); }), 0);
  rest_pointer();
  ASSERT_TRUE(wait_for([&] {
    const gui::Census h10 = at(row_cell("hour", 10)), h11 = at(row_cell("hour", 11));
    return h10.blue > 20 && h10.yellow > 20 && h11.blue > 40 && h11.yellow == 0;
  }));
  for (int h : {0, 9, 12, 23}) {
    const gui::Census c = at(row_cell("hour", h));
    EXPECT_EQ(0, c.blue + c.yellow) << "hour " << h;
  }

  // Hour 10: minutes from 15, minutes 20-24 of both kinds.
  click(cx(row_cell("hour", 10)), cy(row_cell("hour", 10)));
  ASSERT_GE(wait_wire(0, [&](const Wire& w) { return search_of(w, day_b_, 1, 10); }), 0);
  rest_pointer();
  ASSERT_TRUE(wait_for([&] {
    return at(row_cell("minute", 15)).blue > 10 && at(row_cell("minute", 22)).yellow > 10 &&
           at(row_cell("minute", 14)).blue == 0 && at(row_cell("minute", 25)).yellow == 0;
  }));

  // Minute 20: the DVR stops, leaves and plays from the chosen time one hour on.
  const size_t before = wire().size();
  click(cx(row_cell("minute", 20)), cy(row_cell("minute", 20)));
  const int stop = wait_wire(before, [](const Wire& w) { return code_of(w, 17, 20); });
  const int leave = wait_wire(
      before, [](const Wire& w) { return w.type == 7 && w.mode == 2 && code_of(w, 7, 4); });
  const int play = wait_wire(before, [](const Wire& w) { return code_of(w, 6, 3); });
  const int start = wait_wire(before, [](const Wire& w) { return code_of(w, 17, 17); });
  ASSERT_TRUE(stop >= 0 && leave > stop && play > leave && start > play)
      << stop << leave << play << start;
  const Wire p = wire()[size_t(play)];
  EXPECT_EQ(uint32_t(utc(year_, month_, day_b_, 11, 20)), p.be32(4));
  EXPECT_EQ(1u, p.be32(0)) << "camera 1";
  EXPECT_EQ(0, p.body[10]) << "real time";
  const SDL_Rect v = video();
  ASSERT_TRUE(wait_for([&] { return at(v).white > 300; })) << "camera 1's picture in the tile";

  // right: 30 s on from the picture shown; faster and slower: the speed byte.
  size_t mark = wire().size();
  press(3, "right");
  int j = wait_wire(mark, [](const Wire& w) { return code_of(w, 6, 3); });
  ASSERT_GE(j, 0);
  const uint32_t jumped = wire()[size_t(j)].be32(4);
  EXPECT_GE(jumped, p.be32(4) + 30);
  EXPECT_LE(jumped, p.be32(4) + 30 + 60);
  // left: 30 s back from the picture shown.
  mark = wire().size();
  press(3, "left");
  j = wait_wire(mark, [](const Wire& w) { return code_of(w, 6, 3); });
  ASSERT_GE(j, 0);
  const uint32_t back = wire()[size_t(j)].be32(4);
  EXPECT_GE(back, jumped - 30);
  EXPECT_LE(back, jumped - 30 + 60);
  for (auto [name, speed] : {std::pair{"faster", 1}, std::pair{"slower", 0}}) {
    mark = wire().size();
    press(3, name);
    j = wait_wire(mark, [](const Wire& w) { return code_of(w, 6, 3); });
    ASSERT_GE(j, 0) << name;
    EXPECT_EQ(speed, wire()[size_t(j)].body[10]) << name;
    EXPECT_GE(wire()[size_t(j)].be32(4), back) << name << " goes on from the picture shown";
  }

  // record: the playback of the selected tile goes to a file, and stops with the button.
  const SDL_Rect rec = widget(3, "record");
  click(cx(rec), cy(rec));
  ASSERT_TRUE(wait_for([&] {
    if (!fs::exists(dir_ / "record")) return false;
    for (const auto& e : fs::directory_iterator(dir_ / "record"))
      if (e.path().extension() == ".zol" && fs::file_size(e.path()) > 20000) return true;
    return false;
  })) << out();
  click(cx(rec), cy(rec));

  // play: pauses the DVR.
  mark = wire().size();
  press(3, "play");
  EXPECT_GE(wait_wire(mark, [](const Wire& w) { return code_of(w, 17, 20); }), 0);

  // A typed time plays every camera from it; one outside the recordings shows its box.
  const SDL_Rect field = widget(3, "time_search"), ok = widget(3, "ok");
  char typed[32];
  std::snprintf(typed, sizeof typed, "%04d%02d%02d100500", year_, month_, day_b_);
  click(cx(field), cy(field));
  type_keys(typed);
  mark = wire().size();
  click(cx(ok), cy(ok));
  j = wait_wire(mark, [](const Wire& w) { return code_of(w, 6, 3); });
  ASSERT_GE(j, 0) << out();
  EXPECT_EQ(0xFFFFFFFFu, wire()[size_t(j)].be32(0));
  EXPECT_EQ(uint32_t(utc(year_, month_, day_b_, 11, 5)), wire()[size_t(j)].be32(4));
  click(cx(field), cy(field));
  press_keys(std::vector<std::string>(9, "BackSpace"));
  type_keys(" 124000");  // 12:40: an hour on is past the recording
  click(cx(ok), cy(ok));
  EXPECT_TRUE(wait_output("There is not a search data.", true)) << err();

  // A sensor-only hour is painted and can be clicked.
  click(cx(day_cell(day_a_)), cy(day_cell(day_a_)));
  ASSERT_GE(wait_wire(0, [&](const Wire& w) { return search_of(w, day_a_, 0, 255); }), 0);
  rest_pointer();
  ASSERT_TRUE(wait_for([&] { return enabled(cam1) && !enabled(row_cell("camera", 1)); }))
      << "the day's answer came: only camera 1 recorded";
  click(cx(cam1), cy(cam1));
  ASSERT_GE(wait_wire(0, [&](const Wire& w) { return search_of(w, day_a_, 1, 255); }), 0);
  rest_pointer();
  ASSERT_TRUE(wait_for([&] {
    return at(inner(row_cell("hour", 2), 1)).black > at(inner(row_cell("hour", 3), 1)).black + 300;
  }));
  click(cx(row_cell("hour", 2)), cy(row_cell("hour", 2)));
  EXPECT_GE(wait_wire(0, [&](const Wire& w) { return search_of(w, day_a_, 1, 2); }), 0);

  press(3, "power");
  EXPECT_EQ(0, wait_exit());
  EXPECT_NE(std::string::npos, system_log().find("SEARCH"));
}

TEST_F(SearchGui, empty_month_and_silent_dvr_leave_the_window_usable) {
  // Recordings only next month: this month's reply has no day at all.
  const int next_month = month_ % 12 + 1, next_year = year_ + (month_ == 12);
  char span[64];
  std::snprintf(span, sizeof span, "%04d-%02d-03T10:00/11:00", next_year, next_month);
  const int port = start_dvr({"--log-requests", "--record", span});
  ASSERT_GT(port, 0);
  start_search(port);
  connect_first_dvr();
  const int first = wait_wire(0, [](const Wire& w) { return search_of(w, 255, 0, 255); });
  ASSERT_GE(first, 0);
  ASSERT_TRUE(wait_for([&] {
    for (int d : {1, 3, 15, 28})
      if (enabled(day_cell(d))) return false;
    return true;
  })) << "no day of an empty month can be picked";
  // The next month is asked for once the reply has come (a busy window takes no click).
  const SDL_Rect plus = widget(3, "month_plus");
  int second = -1;
  for (int attempt = 0; attempt < 20 && second < 0; ++attempt) {
    click(cx(plus), cy(plus));
    second = wait_wire(
        size_t(first) + 1, [](const Wire& w) { return search_of(w, 255, 0, 255); }, 2);
  }
  ASSERT_GE(second, 0) << "the window still asks";
  EXPECT_EQ(next_month - 1, wire()[size_t(second)].body[2]);
  press(3, "power");
  EXPECT_EQ(0, wait_exit());
}

TEST_F(SearchGui, a_dvr_that_never_answers_still_lets_the_operator_disconnect_and_leave) {
  const int port = start_dvr({"--log-requests", "--stall"});
  ASSERT_GT(port, 0);
  start_search(port);
  connect_first_dvr();
  ASSERT_GE(wait_wire(0, [](const Wire& w) { return w.type == 2; }), 0);
  press(3, "disconnect");
  const int left = wait_wire(0, [](const Wire& w) { return w.type == 7 && w.mode == 4; });
  ASSERT_GE(left, 0) << "the link was left";
  // Connect is back: the DVR is asked to log in again.
  connect_first_dvr();
  EXPECT_GE(wait_wire(size_t(left), [](const Wire& w) { return w.type == 2; }), 0);
  press(3, "power");
  EXPECT_EQ(0, wait_exit());
}

TEST_F(SearchGui, time_playback_window_plays_its_camera_from_its_start_time) {
  const int port = start_recording_dvr();
  ASSERT_GT(port, 0);
  write_setup(port);
  start_vigilo(
      {"-m", "7", "-A", "DVR-1", "-b", std::to_string(year_), "-g", std::to_string(month_), "-h",
       std::to_string(day_b_), "-j", "10", "-q", "25", "-v", "4", "-u", "admin,admin"},
      "ZOL Main", {"TZ=UTC"});
  const int search = wait_wire(0, [&](const Wire& w) { return search_of(w, day_b_, 0, 10); });
  ASSERT_GE(search, 0) << out();
  EXPECT_EQ(month_ - 1, wire()[size_t(search)].body[2]) << "months go out 0-based";
  const int play = wait_wire(size_t(search), [](const Wire& w) { return code_of(w, 6, 3); });
  ASSERT_GE(play, 0) << out();
  EXPECT_EQ(uint32_t(utc(year_, month_, day_b_, 10, 25)), wire()[size_t(play)].be32(4))
      << "no hour added";
  EXPECT_EQ(4u, wire()[size_t(play)].be32(0)) << "camera 3 of -v";
  const SDL_Rect v = video_rect();
  EXPECT_TRUE(wait_for([&] { return at(v).white > 300; })) << "camera 3's pictures appear";
}

}  // namespace
