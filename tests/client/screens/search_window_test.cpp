// The search window on the run tree's skin, drawn into a software surface (no display): the
// calendar, the record bars, typed times, the routing of search replies by byte position,
// and the layout chosen for the cameras.
#include <SDL/SDL_ttf.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "client/foundation/config/app_options.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/user_events.h"
#include "client/links/nc_packets.h"
#include "client/screens/event_loop.h"
#include "client/screens/master_link.h"
#include "client/screens/search_window.h"
#include "client/screens/skin.h"
#include "tests/client/screens/run_tree.h"
#include "tests/client/screens/screens_fixture.h"

namespace {

class SearchWindow : public ScreensTest {
 protected:
  void SetUp() override {
    ScreensTest::SetUp();
    setenv("TZ", "UTC", 1);
    tzset();
    setenv("VIGILO_BOX_ANSWER", "ok", 1);
    ASSERT_EQ(chdir(run_tree_dir().c_str()), 0);
    ASSERT_EQ(TTF_Init(), 0);
    init_skins();
    testing::internal::CaptureStdout();
    ASSERT_EQ(load_skin("skin.cfg", SEARCH_WINDOW), 0);
    testing::internal::GetCapturedStdout();
    SDL_Rect size = get_skin_size(SEARCH_WINDOW);
    ctx->surfaces[SURF_SCREEN] =
        SDL_CreateRGBSurface(SDL_SWSURFACE, size.w, size.h, 32, 0xFF0000, 0xFF00, 0xFF, 0);
    ctx->skin = 1;
    ctx->skin_window = SEARCH_WINDOW;
    search_selection() = SEARCH_SELECTION{124, 2, 5, 10, 0, 0, 0, 0, 6, 16, -1, -1};
    search_replay_guard() = 0;
    draw_search_window(ctx);
  }
  void TearDown() override {
    free_skins();
    TTF_Quit();
    ScreensTest::TearDown();
  }
  static SKIN_WIDGET* widget(int w) { return get_skin_widget(SEARCH_WINDOW, w); }
};

Uint32 rgb(SDL_Surface* s, int x, int y) {
  SDL_LockSurface(s);
  const Uint8* p =
      static_cast<const Uint8*>(s->pixels) + y * s->pitch + x * s->format->BytesPerPixel;
  Uint32 v = 0;
  std::memcpy(&v, p, s->format->BytesPerPixel);
  SDL_UnlockSurface(s);
  Uint8 r, g, b;
  SDL_GetRGB(v, s->format, &r, &g, &b);
  return Uint32(r) << 16 | Uint32(g) << 8 | b;
}

TEST_F(SearchWindow, calendar_lays_out_each_month) {
  struct Case {
    int year, month, days, first_column;
  };
  // February 2012 and 2011; March 2025 starts on a Saturday and needs a sixth row.
  const Case cases[] = {{112, 1, 29, 3}, {111, 1, 28, 2}, {125, 2, 31, 6}};
  const SKIN_WIDGET* one = widget(SW_DAY1);
  const int ox = search_selection().origin_x, oy = search_selection().origin_y;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.year + 1900);
    draw_calendar(ctx, c.month, c.year);
    EXPECT_EQ(c.days, days_in_month(c.month, c.year));
    for (int d = 28; d <= 31; ++d)
      EXPECT_EQ(d > c.days ? 1 : 0, widget(SW_DAY1 + d - 1)->hidden) << "day " << d;
    EXPECT_EQ(ox + c.first_column * (one->w + 2), widget(SW_DAY1)->x);
    EXPECT_EQ(oy, widget(SW_DAY1)->y);
    const int last = c.first_column + c.days - 1;
    EXPECT_EQ(ox + (last % 7) * (one->w + 2), widget(SW_DAY1 + c.days - 1)->x);
    EXPECT_EQ(oy + (last / 7) * one->h, widget(SW_DAY1 + c.days - 1)->y);
    EXPECT_STREQ(std::to_string(c.days).c_str(),
                 get_widget_text(SEARCH_WINDOW, SW_DAY1 + c.days - 1));
  }
}

TEST_F(SearchWindow, months_step_with_the_year_and_stop_at_2000) {
  search_selection().year = 124;
  search_selection().month = 11;
  next_month(ctx);
  EXPECT_EQ(125, search_selection().year);
  EXPECT_EQ(0, search_selection().month);
  EXPECT_STREQ("January 2025", get_widget_text(SEARCH_WINDOW, SW_MONTH_YEAR));
  previous_month(ctx);
  EXPECT_EQ(11, search_selection().month);
  search_selection().year = 100;
  search_selection().month = 0;
  previous_month(ctx);
  EXPECT_EQ(100, search_selection().year);
  EXPECT_EQ(0, search_selection().month);
}

TEST(SearchBars, stripes_keep_every_kind_inside_the_cell) {
  constexpr Uint32 kBlue = 0x0000FF, kYellow = 0xFFFF00, kCyan = 0x00FFFF, kBlack = 0,
                   kWhite = 0xFFFFFF, kRing = 0x020202, kUntouched = 0x123456;
  struct Case {
    uint8_t kinds;
    int framed, rc;
    std::vector<std::pair<int, Uint32>> rows;  // row at x = 3, colour
  };
  const Case cases[] = {
      {0x01, 0, 0, {{0, kBlue}, {11, kBlue}}},
      {0x03, 0, 0, {{5, kBlue}, {6, kYellow}, {11, kYellow}}},
      {0x07, 0, 0, {{3, kBlue}, {4, kYellow}, {8, kCyan}, {11, kCyan}}},
      {0x21, 0, 0, {{5, kBlue}, {6, kBlack}, {11, kBlack}}},  // a sensor hour stays visible
      {0x40, 0, 0, {{0, kBlack}, {11, kBlack}}},
      {0x03,
       1,
       0,
       {{0, kWhite}, {1, kRing}, {2, kBlue}, {5, kBlue}, {6, kYellow}, {9, kYellow}, {10, kRing}}},
      {0x00, 0, -1, {{0, kUntouched}}},
      {0x80, 1, -1, {{0, kUntouched}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "kinds " << int(c.kinds) << " framed " << c.framed);
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, 8, 12, 32, 0xFF0000, 0xFF00, 0xFF, 0);
    SDL_FillRect(s, nullptr, kUntouched);
    EXPECT_EQ(c.rc, paint_record_bar(s, c.kinds, c.framed));
    for (auto [row, colour] : c.rows) EXPECT_EQ(colour, rgb(s, 3, row)) << "row " << row;
    SDL_FreeSurface(s);
  }
  EXPECT_EQ(-1, paint_record_bar(nullptr, 1, 0));
}

TEST_F(SearchWindow, typed_time_takes_only_what_the_form_allows) {
  struct Case {
    const char* text;
    int key, accepted;
  };
  const Case cases[] = {
      // clang-format off
      {"", '2', 1}, {"", '3', 0}, {"", '/', 0}, {"2", '9', 1}, {"2010", '/', 1}, {"2010", '1', 0},
      {"2010/", '1', 1}, {"2010/", '3', 0}, {"2010/12/", '3', 1}, {"2010/12/", '4', 0},
      {"2010/12/31", ' ', 1}, {"2010/12/31", '2', 0}, {"2010/12/31 ", '2', 1},
      {"2010/12/31 ", '3', 0}, {"2010/12/31 23", ':', 1}, {"2010/12/31 23:", '5', 1},
      {"2010/12/31 23:", '6', 0}, {"2010/12/31 23:59:", '6', 0}, {"2010/12/31 23:59:5", '9', 1},
      {"2010/12/31 23:59:59", '0', 0}, {"2010/12/31 23:59:59", 8, 1}, {"2", 127, 1},
      // clang-format on
  };
  char* text = get_widget_text(SEARCH_WINDOW, SW_TIME_SEARCH);
  for (const Case& c : cases) {
    std::snprintf(text, 256, "%s", c.text);
    EXPECT_EQ(c.accepted, accepts_time_key(c.key)) << '"' << c.text << "\" key " << c.key;
  }
  // Typed through the key handler: the separators come by themselves; Delete takes one off.
  text[0] = '\0';
  set_focused_widget(SW_TIME_SEARCH);
  auto press = [&](SDLKey key) {
    SDL_Event ev{};
    ev.type = SDL_KEYDOWN;
    ev.key.keysym.sym = key;
    handle_search_key(ev, ctx, &app_options);
  };
  for (SDLKey k : {SDLK_2, SDLK_0, SDLK_1, SDLK_0}) press(k);
  EXPECT_STREQ("2010/", text);
  press(SDLK_3);
  EXPECT_STREQ("2010/", text);
  press(SDLK_DELETE);
  EXPECT_STREQ("2010", text);
  for (SDLKey k : {SDLK_SLASH, SDLK_KP1, SDLK_2, SDLK_0, SDLK_5, SDLK_1, SDLK_0}) press(k);
  EXPECT_STREQ("2010/12/05 10:", text);
}

// A 132-byte 'Q' record or a 160-byte 'W' record, byte by byte as the links fill them.
struct Reply {
  uint8_t protocol;
  uint32_t day, mask, hour;
  std::vector<std::pair<int, uint8_t>> bytes;
  std::vector<std::pair<int, int>> states;  // widget, state (-1: hidden)
};

std::vector<uint8_t> record_of(const Reply& r) {
  std::vector<uint8_t> rec(r.protocol == 'W' ? SEARCH_RECORD_SIZE_W : SEARCH_RECORD_SIZE_Q, 0);
  if (r.protocol == 'W') {
    std::memcpy(&rec[8], &r.day, 4);
    std::memcpy(&rec[12], &r.mask, 4);
    std::memcpy(&rec[16], &r.hour, 4);
  } else {
    rec[3] = uint8_t(r.day);
    std::memcpy(&rec[4], &r.mask, 4);
    rec[8] = uint8_t(r.hour);
  }
  for (auto [at, v] : r.bytes) rec[size_t(at)] = v;
  return rec;
}

TEST_F(SearchWindow, replies_go_to_the_row_they_answer_by_byte_position) {
  static_assert(sizeof(NC_SEARCH_RECORD) == SEARCH_RECORD_SIZE_Q);
  const Reply replies[] = {
      {'Q', 255, 0, 255, {{16 + 4, 0x01}}, {{SW_DAY1 + 4, 0}, {SW_DAY1 + 5, 4}}},
      {'Q', 5, 0, 255, {{12, 0x05}}, {{SW_CAMERA1, 0}, {SW_CAMERA1 + 1, 4}, {SW_CAMERA1 + 2, 0}}},
      {'Q', 5, 1, 255, {{47 + 10, 0x01}}, {{SW_HOUR0 + 10, 0}, {SW_HOUR0 + 11, -1}}},
      {'Q', 5, 1, 10, {{71 + 7, 0x20}}, {{SW_MINUTE0 + 7, 0}, {SW_MINUTE0 + 8, -1}}},
      {'W', 255, 0, 255, {{28 + 1, 1}}, {{SW_DAY1 + 1, 0}, {SW_DAY1, 4}}},
      {'W', 5, 0, 255, {{59 + 2, 1}}, {{SW_CAMERA1 + 2, 0}, {SW_CAMERA1, 4}}},
      {'W', 5, 1, 255, {{75 + 3, 1}}, {{SW_HOUR0 + 3, 0}, {SW_HOUR0 + 4, -1}}},
      {'W', 5, 1, 3, {{99 + 59, 1}}, {{SW_MINUTE0 + 59, 0}, {SW_MINUTE0, -1}}},
  };
  for (const Reply& r : replies) {
    SCOPED_TRACE(::testing::Message()
                 << r.protocol << " day " << r.day << " mask " << r.mask << " hour " << r.hour);
    const std::vector<uint8_t> rec = record_of(r);
    dispatch_search_reply(ctx, rec.data(), r.protocol);
    for (auto [w, state] : r.states) {
      if (state < 0) {
        EXPECT_EQ(1, widget(w)->hidden) << w;
        continue;
      }
      EXPECT_EQ(0, widget(w)->hidden) << w;
      EXPECT_EQ(state, widget(w)->state) << w;
    }
  }
  // The sensor-only minute is black, not the key colour: it can still be seen and clicked.
  dispatch_search_reply(ctx, record_of(replies[3]).data(), 'Q');
  EXPECT_EQ(0u, rgb(widget(SW_MINUTE0 + 7)->pictures[0], 2, 2));
  EXPECT_EQ(SW_MINUTE0 + 7, find_widget_at(SEARCH_WINDOW, widget(SW_MINUTE0 + 7)->x + 2,
                                           widget(SW_MINUTE0 + 7)->y + 2));
}

TEST_F(SearchWindow, cameras_choose_the_smallest_layout_on_the_page_of_the_lowest) {
  add_channels(16, 'Q');
  struct Case {
    std::vector<int> cameras;
    int cells, page;
  };
  const Case cases[] = {{{3, 5}, 3, 0}, {{6, 7}, 2, 1}, {{9}, 1, 8}};
  for (const Case& c : cases) {
    for (int i = 0; i < 32; ++i) set_widget_attr(SEARCH_WINDOW, SW_CAMERA1 + i, 3, 0);
    for (int cam : c.cameras) set_widget_attr(SEARCH_WINDOW, SW_CAMERA1 + cam - 1, 3, 1);
    testing::internal::CaptureStderr();  // no DVR chosen: the search itself is refused
    select_cameras(ctx, &app_options, SW_CAMERA1 + c.cameras[0] - 1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(layout_for_cells(ctx, c.cells), ctx->layout.load()) << c.cameras[0];
    EXPECT_EQ(c.page, ctx->page.load()) << c.cameras[0];
  }
}

TEST_F(SearchWindow, event_playback_reply_paints_the_search_bars) {
  make_video_surface();
  ctx->skin_window = 5;  // its loop paints the search window's records without drawing them
  NC_SEARCH_RECORD rec{};
  rec.day = 5;
  rec.channel = 1;
  rec.hour = 255;
  rec.hour_info[10] = 0x03;
  handle_event_playback_user_event(user_event(UE_SEARCH_DATA, &rec), ctx, &app_options);
  const SKIN_WIDGET* hour = widget(SW_HOUR0 + 10);
  EXPECT_EQ(0, hour->hidden);
  EXPECT_EQ(0x0000FFu, rgb(hour->pictures[0], 1, 1));
  EXPECT_EQ(0xFFFF00u, rgb(hour->pictures[0], 1, hour->h - 2));
  EXPECT_EQ(0xFFFFFFu, rgb(hour->pictures[1], 0, 0));
  EXPECT_EQ(1, widget(SW_HOUR0 + 11)->hidden);
}

TEST_F(SearchWindow, layout_commands_out_of_range_keep_the_view) {
  add_channels(16, 'Q');
  set_layout(ctx, 2);
  for (auto [layout, page] : {std::pair{99, 0}, std::pair{0, 0}, std::pair{3, -1}}) {
    uint8_t bytes[COMM_MESSAGE_SIZE];
    handle_search_user_event(layout_command(layout, page, bytes), ctx, &app_options);
    EXPECT_EQ(layout == 3 ? 3 : 2, ctx->layout.load()) << layout;
    EXPECT_EQ(0, ctx->page.load());
  }
}

// The playback requests on a link the test reads: what goes to which DVR, and from where.
TEST_F(SearchWindow, playback_requests_reach_only_q_dvrs_and_go_on_from_the_picture) {
  add_channels(4, 'Q');
  RECEIVER_INFO& rx = ctx->receivers[0];
  int fds[2];
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, fds));
  rx.sock.store(fds[0]);
  app_options.context = ctx;
  app_options.conn_state.store(CONN_CONNECTED);
  auto sent = [&] {
    std::vector<uint8_t> all(4096);
    const ssize_t n = recv(fds[1], all.data(), all.size(), MSG_DONTWAIT);
    all.resize(n > 0 ? size_t(n) : 0);
    return all;
  };
  // The last type-6 request in `bytes`: cameras and position.
  auto play_of = [](const std::vector<uint8_t>& bytes, uint32_t* cams, uint32_t* pos) {
    bool found = false;
    for (size_t at = 0; at + 20 <= bytes.size(); at += 8 + bytes[at + 7])
      if (bytes[at + 2] == 6) {
        const uint8_t* b = &bytes[at + 8];
        *cams = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
        *pos = uint32_t(b[4]) << 24 | uint32_t(b[5]) << 16 | uint32_t(b[6]) << 8 | b[7];
        found = true;
      }
    return found;
  };
  // An 'I' DVR is asked nothing, so the window never waits on it.
  ASSERT_EQ(0, load_setup_info("setup.cfg"));
  std::snprintf(app_options.auto_start, sizeof app_options.auto_start, "DVR-4");
  rx.protocol = 'I';
  EXPECT_EQ(0, request_search(ctx, &app_options));
  EXPECT_EQ(0, ctx->search_state.load());
  search_selection().camera_mask = 1;
  EXPECT_EQ(0, start_playback_at_selection(ctx));
  EXPECT_EQ(0, jump_playback(30, 0));
  pause_playback();
  resume_playback();
  restart_playback();
  EXPECT_TRUE(sent().empty()) << "no 'Q' packet to another DVR";

  // A 'Q' DVR is asked; the window waits until its answer comes.
  rx.protocol = 'Q';
  EXPECT_EQ(0, request_search(ctx, &app_options));
  EXPECT_EQ(2, ctx->search_state.load());
  const std::vector<uint8_t> asked = sent();
  bool searched = false;
  for (size_t at = 0; at + 8 <= asked.size(); at += 8 + asked[at + 7])
    searched |= asked[at + 2] == 162;
  EXPECT_TRUE(searched);
  NC_SEARCH_RECORD answer{};
  answer.day = 255;
  handle_search_user_event(user_event(UE_SEARCH_DATA, &answer), ctx, &app_options);
  EXPECT_EQ(0, ctx->search_state.load());

  rx.pending_frames = 3;
  rx.pending_bytes = 3000;
  rx.position = 100;
  rx.last_frame_time = 250.6;
  pause_playback();
  resume_playback();  // on from the paused picture
  uint32_t cams = 0, pos = 0;
  ASSERT_TRUE(play_of(sent(), &cams, &pos));
  EXPECT_EQ(250u, pos);
  EXPECT_EQ(0, jump_playback(30, 0));
  ASSERT_TRUE(play_of(sent(), &cams, &pos));
  EXPECT_EQ(280u, pos);
  EXPECT_EQ(0, rx.pending_frames.load()) << "what the rings held is dropped with its counts";
  EXPECT_EQ(0u, rx.pending_bytes.load());
  // No picture of the new stream yet: a speed change goes on from the jump, and a window
  // that chose no camera keeps the receiver's.
  search_selection().camera_mask = 0;
  rx.sel_vid_ch = 0x4;
  restart_playback();
  ASSERT_TRUE(play_of(sent(), &cams, &pos));
  EXPECT_EQ(280u, pos);
  EXPECT_EQ(0x4u, cams);

  rx.sock.store(-1);
  close(fds[0]);
  close(fds[1]);
  app_options.conn_state.store(CONN_DISCONNECTED);
  app_options.context = nullptr;
  app_options.auto_start[0] = '\0';
  free_setup_info();
}

TEST(SearchPlayback, speed_halves_and_doubles_within_its_bounds) {
  app_context.playback_speed = 1.0;
  for (int i = 0; i < 6; ++i) slower_playback();
  EXPECT_DOUBLE_EQ(0.0625, app_context.playback_speed.load());
  faster_playback();
  EXPECT_DOUBLE_EQ(0.125, app_context.playback_speed.load());
  for (int i = 0; i < 10; ++i) faster_playback();
  EXPECT_DOUBLE_EQ(16.0, app_context.playback_speed.load());
  app_context.playback_speed = 1.0;
}

}  // namespace
