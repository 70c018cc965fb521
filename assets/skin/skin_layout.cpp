// Placement of the default skin's widgets for both resolutions.
#include "assets/skin/skin_layout.h"

#include <cstring>
#include <map>

#include "client/screens/skin_tables.h"

using art::Look;

namespace skin_layout {

namespace {

struct Builder {
  WindowLayout& lay;
  void add(const std::string& name, int x, int y, int w, int h, Look look,
           const std::string& label = "", int param = 0) {
    lay.places.push_back({name, x, y, w, h, look, label, param});
  }
  void deco(Deco::Kind k, int x, int y, int w, int h, const std::string& label = "", int pt = 10,
            int align = 1) {
    lay.decos.push_back({k,
                         {static_cast<Sint16>(x), static_cast<Sint16>(y), static_cast<Uint16>(w),
                          static_cast<Uint16>(h)},
                         label,
                         pt,
                         align});
  }
};

// The title bar shared by all windows; returns its height.
void title_bar(Builder& b, int width, int height, const std::string& title,
               const std::string& subtitle) {
  b.deco(Deco::bar, 0, 0, width, height);
  b.deco(Deco::text, 14, 0, 110, height, title, height >= 40 ? 18 : 14, 0);
  b.deco(Deco::dim_text, 120, 0, 320, height, subtitle, height >= 40 ? 10 : 9, 0);
}

// Pictures that the tiles take by name, parked hidden inside the video area.
void tile_pictures(Builder& b, const SDL_Rect& v, bool marks_only) {
  int x = v.x + 16, y = v.y + 16;
  b.add("zoomed_icon", x, y, 24, 24, Look::icon, "", 1);
  b.add("record_icon", x + 30, y, 24, 24, Look::icon, "", 0);
  b.add("background", x, y + 40, 160, 120, Look::tile_bg);
  if (marks_only) return;
  b.add("zoomed_icon_22", x + 60, y, 18, 18, Look::icon, "", 1);
  b.add("zoomed_icon_11", x + 84, y, 12, 12, Look::icon, "", 1);
  b.add("motion_icon", x + 102, y, 24, 24, Look::icon, "", 2);
  b.add("motion_icon_22", x + 132, y, 18, 18, Look::icon, "", 2);
  b.add("motion_icon_11", x + 156, y, 12, 12, Look::icon, "", 2);
  b.add("sensor_icon", x + 174, y, 24, 24, Look::icon, "", 3);
  b.add("sensor_icon_22", x + 204, y, 18, 18, Look::icon, "", 3);
  b.add("sensor_icon_11", x + 228, y, 12, 12, Look::icon, "", 3);
  b.add("record_icon_22", x + 246, y, 18, 18, Look::icon, "", 0);
  b.add("record_icon_11", x + 270, y, 12, 12, Look::icon, "", 0);
  b.add("cam_disabled", x + 170, y + 40, 160, 120, Look::plate, "CAMERA OFF", 1);
  b.add("cam_nosignal", x + 340, y + 40, 160, 120, Look::plate, "NO SIGNAL", 2);
  b.add("cam_secret", x + 510, y + 40, 160, 120, Look::plate, "COVERT", 3);
  b.add("freeze", x, y + 170, 160, 44, Look::plate, "FREEZE", 4);
  b.add("connecting", x + 170, y + 170, 62, 14, Look::plate, "CONNECTING", 4);
  b.add("waiting", x + 240, y + 170, 62, 14, Look::plate, "WAITING", 5);
}

// The frame the main and search windows share: window size, video area, the right panel's
// column, the strip below the video and the title bar with its square buttons.
struct VideoWindowFrame {
  SDL_Rect v;
  int W, H;    // window size
  int px, pw;  // right panel column
  int by;      // first row below the video area
  int tb, bs;  // title bar height, title button size
};

VideoWindowFrame video_window_frame(WindowLayout& lay, bool hd) {
  lay.width = hd ? 1280 : 1024;
  lay.height = hd ? 1024 : 768;
  lay.video = hd ? SDL_Rect{8, 56, 960, 720} : SDL_Rect{8, 48, 768, 576};
  const SDL_Rect v = lay.video;
  const int px = v.x + v.w + 8, tb = v.y - 8;
  return {v, lay.width, lay.height, px, lay.width - px - 8, v.y + v.h + (hd ? 8 : 6), tb, tb - 12};
}

// The DVR/group list block that the main and search windows share: the panel behind it, the
// two tabs, the list and its four scroll buttons. Returns the y below the block.
int dvr_list_block(Builder& b, int px, int top, int pw, int bottom, bool hd, int list_h) {
  b.deco(Deco::panel, px - 4, top - 4, pw + 8, bottom - top);
  int y = top;
  const int tab_h = hd ? 26 : 22;
  b.add("dvrtab", px, y, pw / 2 - 1, tab_h, Look::toggle, "DVR");
  b.add("grouptab", px + pw / 2 + 1, y, pw / 2 - 1, tab_h, Look::toggle, "GROUP");
  y += tab_h + 2;
  b.add("dvr_list", px, y, pw, list_h, Look::list);
  y += list_h + 4;
  const int sbw = (pw - 6) / 4, sbh = hd ? 22 : 20;
  b.add("scrollup", px, y, sbw, sbh, Look::arrow, "", 0);
  b.add("scrolldn", px + (sbw + 2), y, sbw, sbh, Look::arrow, "", 4);
  b.add("pageup", px + 2 * (sbw + 2), y, sbw, sbh, Look::button, "PG UP");
  b.add("pagedown", px + 3 * (sbw + 2), y, sbw, sbh, Look::button, "PG DN");
  return y + sbh + 4;
}

WindowLayout login(int) {
  WindowLayout lay;
  Builder b{lay};
  lay.width = 420;
  lay.height = 250;
  lay.video = {0, 0, 0, 0};
  title_bar(b, 420, 40, "VIGILO", "Operator login");
  b.deco(Deco::panel, 12, 50, 396, 188);
  b.deco(Deco::text, 30, 64, 90, 30, "User ID", 11, 0);
  b.deco(Deco::text, 30, 108, 90, 30, "Password", 11, 0);
  b.add("ok", 130, 170, 124, 36, Look::button, "OK");
  b.add("cancel", 266, 170, 124, 36, Look::button, "CANCEL");
  b.add("username", 130, 64, 260, 30, Look::field);
  b.add("password", 130, 108, 260, 30, Look::field);
  b.add("tooltip", 20, 216, 240, 20, Look::tooltip);
  return lay;
}

WindowLayout main_window(int res, art::Painter& painter) {
  const bool hd = res == 1280;
  WindowLayout lay;
  Builder b{lay};
  const auto [v, W, H, px, pw, by, tb, bs] = video_window_frame(lay, hd);

  // Title bar: title, meters, clock, link indicator, minimise and power.
  title_bar(b, W, tb, "VIGILO", hd ? "Central Monitoring Station" : "Monitoring Station");
  b.add("power", W - 8 - bs, 6, bs, bs, Look::button, "OFF");
  b.add("minimize", W - 8 - 2 * bs - 6, 6, bs, bs, Look::button, "_");
  const int net_w = hd ? 80 : 64;
  const int net_x = W - 8 - 2 * bs - 18 - net_w;
  b.add("network", net_x, (tb - 20) / 2, net_w, 20, Look::indicator, "LINK");
  const int dw = hd ? 14 : 12, dh = hd ? 24 : 20, dy = (tb - dh) / 2;
  // Clock: YYYY-MM-DD WWW HH:MM:SS, laid out right to left before the link indicator.
  struct Item {
    const char* name;
    int w;
    const char* sep;
  };
  const Item clock[] = {
      {"1st_year", dw, nullptr},  {"2nd_year", dw, nullptr},  {"3rd_year", dw, nullptr},
      {"4th_year", dw, nullptr},  {nullptr, dw / 2 + 4, "-"}, {"1st_month", dw, nullptr},
      {"2nd_month", dw, nullptr}, {nullptr, dw / 2 + 4, "-"}, {"1st_day", dw, nullptr},
      {"2nd_day", dw, nullptr},   {nullptr, 8, ""},           {"clock_weekday", dw * 3, nullptr},
      {nullptr, 8, ""},           {"1st_hour", dw, nullptr},  {"2nd_hour", dw, nullptr},
      {nullptr, dw / 2 + 2, ":"}, {"1st_min", dw, nullptr},   {"2nd_min", dw, nullptr},
      {nullptr, dw / 2 + 2, ":"}, {"1st_sec", dw, nullptr},   {"2nd_sec", dw, nullptr}};
  int clock_w = 0;
  for (const Item& it : clock) clock_w += it.w;
  int cx = net_x - 16 - clock_w;
  for (const Item& it : clock) {
    if (it.name) {
      Look look = std::strcmp(it.name, "clock_weekday") == 0 ? Look::weekday : Look::digits;
      b.add(it.name, cx, dy, it.w, dh, look);
    } else if (it.sep && it.sep[0]) {
      b.deco(Deco::text, cx, dy, it.w, dh, it.sep, hd ? 14 : 12);
    }
    cx += it.w;
  }
  // Meters between the title and the clock.
  const int mw = hd ? 90 : 60, ml = hd ? 34 : 28;
  int mx = net_x - 16 - clock_w - 24 - 3 * (ml + mw + 8);
  const char* meters[3][2] = {{"cpu_usage", "CPU"}, {"network_usage", "NET"}, {"HDD_usage", "HDD"}};
  for (auto& m : meters) {
    b.deco(Deco::dim_text, mx, (tb - 18) / 2, ml, 18, m[1], 9, 0);
    b.add(m[0], mx + ml, (tb - 18) / 2, mw, 18, Look::meter);
    mx += ml + mw + 8;
  }

  // Right panel: lists, connection, tools, PTZ, volume.
  int y = dvr_list_block(b, px, v.y, pw, H, hd, hd ? 260 : 170);
  const int cw = (pw - 4) / 2, rh = hd ? 30 : 26;
  b.add("connect", px, y, cw, rh, Look::button, "CONNECT");
  b.add("disconnect", px, y, cw, rh, Look::button, "DISCONNECT");
  b.add("search", px + cw + 4, y, cw, rh, Look::button, "SEARCH");
  y += rh + 6;
  const int tw = (pw - 8) / 3, th = hd ? 28 : 24;
  struct Tool {
    const char* name;
    const char* label;
  };
  const Tool tools[] = {{"setup", "SETUP"},       {"emap", "E-MAP"},       {"log_view", "LOGS"},
                        {"browse", "FILES"},      {"dvrsetup", "DVR SET"}, {"snapshot", "SNAP"},
                        {"record", "REC"},        {"spotout1", "SPOT"},    {"evt_button", "EVENTS"},
                        {"info_button", "STATS"}, {"mute", "SOUND"},       {"pip1", "PIP"}};
  for (int k = 0; k < 12; ++k) {
    int tx = px + (k % 3) * (tw + 4), ty = y + (k / 3) * (th + 4);
    b.add(tools[k].name, tx, ty, tw, th, Look::button, tools[k].label);
    if (k == 10) b.add("no_mute", tx, ty, tw, th, Look::button, "MUTE");
  }
  y += 4 * (th + 4) + 2;
  b.deco(Deco::dim_text, px, y, pw, 16, "PAN / TILT / ZOOM", 9, 0);
  y += 18;
  const int pc = hd ? 34 : 28, ps = pc + 2;
  const char* dirs[8] = {"ptz_nn", "ptz_ne", "ptz_ee", "ptz_es",
                         "ptz_ss", "ptz_sw", "ptz_ww", "ptz_wn"};
  const int cells[8][2] = {{1, 0}, {2, 0}, {2, 1}, {2, 2}, {1, 2}, {0, 2}, {0, 1}, {0, 0}};
  for (int k = 0; k < 8; ++k)
    b.add(dirs[k], px + cells[k][0] * ps, y + cells[k][1] * ps, pc, pc, Look::arrow, "", k);
  b.add("ptz_lbl", px + ps + 4, y + ps + 4, pc - 8, pc - 8, Look::speed);
  const int gx = px + 3 * ps + 4, gw = (px + pw - gx - 4) / 2, gh = (3 * ps - 2 - 4) / 3;
  b.add("zoom_button", gx, y, gw, gh, Look::toggle, "ZOOM");
  b.add("focus_button", gx, y + gh + 2, gw, gh, Look::toggle, "FOCUS");
  b.add("iris_button", gx, y + 2 * (gh + 2), gw, gh, Look::toggle, "IRIS");
  b.add("ptz_autopan", gx + gw + 4, y, gw, gh, Look::toggle, "AUTO");
  b.add("ptz_preset_on", gx + gw + 4, y + gh + 2, gw, gh, Look::toggle, "PRESET");
  y += 3 * ps + 4;
  const int fw = (pw - 8) / 5, fh = hd ? 24 : 20;
  struct Fn {
    const char* name;
    const char* label;
    bool lbl;
  };
  const Fn rows[3][5] = {{{"ptz_zoom_in", "ZOOM+", false},
                          {"ptz_zoom_out", "ZOOM-", false},
                          {"ptz_zspeed-", "-", false},
                          {"ptz_zspeed_lbl", "", true},
                          {"ptz_zspeed+", "+", false}},
                         {{"ptz_focus_near", "NEAR", false},
                          {"ptz_focus_far", "FAR", false},
                          {"ptz_fspeed-", "-", false},
                          {"ptz_fspeed_lbl", "", true},
                          {"ptz_fspeed+", "+", false}},
                         {{"ptz_iris_open", "OPEN", false},
                          {"ptz_iris_close", "CLOSE", false},
                          {"ptz_ptspeed-", "-", false},
                          {"ptz_ptspeed_lbl", "", true},
                          {"ptz_ptspeed+", "+", false}}};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 5; ++c)
      b.add(rows[r][c].name, px + c * (fw + 2), y + r * (fh + 2), fw, fh,
            rows[r][c].lbl ? Look::field : Look::button, rows[r][c].label);
  const int area_h = 3 * (fh + 2) - 2;
  b.add("ptz_preset_list", px, y, pw - fw - 4, area_h, Look::list);
  b.add("ptz_preset_go", px + pw - fw, y, fw, fh, Look::button, "GO");
  b.add("ptz_preset_set", px + pw - fw, y + fh + 2, fw, fh, Look::button, "SET");
  b.add("ptz_preset_clear", px + pw - fw, y + 2 * (fh + 2), fw, fh, Look::button, "CLEAR");
  y += area_h + 6;
  const int vw = hd ? 44 : 36, vh = hd ? 22 : 20;
  b.add("volume-", px, y, vw, vh, Look::button, "VOL-");
  b.add("volume_meter", px + vw + 4, y, pw - 2 * vw - 8, vh, Look::meter);
  b.add("volume+", px + pw - vw, y, vw, vh, Look::button, "VOL+");

  // Bottom panel: layout strip, user menu, events, camera information, statistics.
  b.deco(Deco::panel, 4, by - 4, v.x + v.w + 4 - 4, H - by);
  const int sh = hd ? 34 : 26, plate_w = hd ? 70 : 56, lw = hd ? 48 : 40;
  b.add("layout_control", 8, by, plate_w, sh, Look::button, "LAYOUT");
  b.add("layout_left", 8 + plate_w + 4, by, 24, sh, Look::arrow, "", 6);
  const int ox = 8 + plate_w + 4 + 24 + 4;
  struct Lb {
    const char* name;
    const char* label;
    int g;
    Look look;
  };
  const Lb strip[13] = {
      {"layout1", "1", 1, Look::grid},         {"layout4", "4", 2, Look::grid},
      {"layout9", "9", 3, Look::grid},         {"layout16", "16", 4, Look::grid},
      {"layout36", "36", 6, Look::grid},       {"layout64", "64", 8, Look::grid},
      {"layout144", "144", 12, Look::grid},    {"fullscreen", "FULL", 0, Look::button},
      {"cyclecam", "TOUR", 0, Look::toggle},   {"split_view", "SPLIT", 0, Look::button},
      {"switch_cam", "SWAP", 0, Look::button}, {"layout_ratio43", "4:3", 0, Look::toggle},
      {"add_layout", "+MENU", 0, Look::button}};
  int slot = 0;
  for (int k = 0; k < 13; ++k) {
    // The small strip never shows layout64 and layout144: their pictures are transparent
    // so they neither show nor take clicks where they stand.
    if (!hd && (k == 5 || k == 6)) {
      b.add(strip[k].name, ox, by, lw, sh, Look::clear);
      continue;
    }
    b.add(strip[k].name, ox + slot * lw, by, lw, sh, strip[k].look, strip[k].label, strip[k].g);
    ++slot;
  }
  const int visible_strip = hd ? 13 : 9;
  b.add("layout_right", ox + (hd ? 13 : 11) * lw + 4, by, 24, sh, Look::arrow, "", 2);
  b.add("layout_frame", ox - 2, by - 2, visible_strip * lw + 4, sh + 4, Look::frame);
  const int y2 = by + sh + (hd ? 6 : 4);
  const int visible_menu = hd ? 6 : 5, frame_w = visible_menu * tw + 8;
  b.add("scroll_left", 8, y2, 24, th, Look::arrow, "", 6);
  b.add("menu_frame", 36, y2 - 2, frame_w, th + 4, Look::frame);
  b.deco(Deco::video, 36, y2 - 2, frame_w, th + 4);
  b.add("user_menu", 40, y2, tw, th, Look::menu_slot);
  for (int k = 1; k <= 15; ++k)
    b.add("active_menu" + std::to_string(k), 40, y2, tw, th, Look::button,
          "USER " + std::to_string(k));
  b.add("inactive_menu", 40, y2, tw, th, Look::menu_slot);
  b.add("scroll_right", 36 + frame_w + 4, y2, 24, th, Look::arrow, "", 2);
  const int y3 = y2 + th + (hd ? 6 : 4);
  const int evt_lh = painter.line_height(hd ? 12 : 10), txt_lh = painter.line_height(12);
  const int evt_w = hd ? 372 : 276, evt_h = (hd ? 8 : 5) * evt_lh + 6;
  b.add("evt_list", 8, y3, evt_w, evt_h, Look::list);
  const int eb = (evt_h - 6) / 4;
  const char* evt_btn[4] = {"evt_scrlup", "evt_scrldn", "evt_pgup", "evt_pgdn"};
  const int evt_dir[4] = {0, 4, 0, 4};
  for (int k = 0; k < 4; ++k)
    b.add(evt_btn[k], 8 + evt_w + 4, y3 + k * (eb + 2), 24, eb, Look::arrow, "", evt_dir[k]);
  if (hd) {
    const int info_x = 8 + evt_w + 36;
    b.add("cam_info", info_x, y3, 300, 9 * txt_lh + 6, Look::list);
    const int sx = info_x + 308, sw = v.x + v.w - sx;
    b.add("frames_received", sx, y3, sw, 20, Look::field);
    b.add("frames_displayed", sx, y3 + 22, sw, 20, Look::field);
    b.add("bytes_received", sx, y3 + 44, sw, 20, Look::field);
  } else {
    // At 1024 x 768 the camera box and the statistics share the event list's place.
    b.add("cam_info", 8, y3, evt_w, evt_h, Look::list);
    const int sh3 = (evt_h - 4) / 3;
    b.add("frames_received", 8, y3, evt_w, sh3, Look::field);
    b.add("frames_displayed", 8, y3 + sh3 + 2, evt_w, sh3, Look::field);
    b.add("bytes_received", 8, y3 + 2 * (sh3 + 2), evt_w, sh3, Look::field);
  }

  // Floating pieces over the video area (hidden until the screens place them).
  b.add("message", v.x + (v.w - 420) / 2, v.y + (v.h - 48) / 2, 420, 48, Look::message);
  b.add("tooltip", v.x + 10, v.y + v.h - 30, 260, 20, Look::tooltip);
  b.add("busy", v.x + (v.w - 72) / 2, v.y + (v.h - 72) / 2, 72, 72, Look::spinner);
  b.add("pip_close", v.x + v.w - 28, v.y + 4, 24, 24, Look::button, "X");
  const int pbw = hd ? 40 : 34, pbh = hd ? 24 : 20;
  const int fx = v.x + 40, fy = v.y + 260;
  b.add("popup_frame", fx, fy, 1 + 7 * (pbw + 1), 2 * pbh + 9, Look::frame);
  const char* pad[7][2][2] = {{{"pip2", "PIP"}, {"spotout2", "SPOT"}},
                              {{"digital_zoom_in", "Z+"}, {"digital_zoom_out", "Z-"}},
                              {{"contrast+", "C+"}, {"contrast-", "C-"}},
                              {{"brightness+", "B+"}, {"brightness-", "B-"}},
                              {{"hue+", "H+"}, {"hue-", "H-"}},
                              {{"saturation+", "S+"}, {"saturation-", "S-"}},
                              {{"reset_colors", "RST"}, {"probe", "PROBE"}}};
  for (int k = 0; k < 7; ++k) {
    int bx = fx + 1 + k * (pbw + 1);
    b.add(pad[k][0][0], bx, fy + 3, pbw, pbh, Look::button, pad[k][0][1]);
    b.add(pad[k][1][0], bx, fy + pbh + 6, pbw, pbh, Look::button, pad[k][1][1]);
  }
  tile_pictures(b, v, false);
  return lay;
}

WindowLayout search_window(int res) {
  const bool hd = res == 1280;
  WindowLayout lay;
  Builder b{lay};
  const auto [v, W, H, px, pw, by, tb, bs] = video_window_frame(lay, hd);

  title_bar(b, W, tb, "VIGILO", "Search and remote playback");
  b.add("power", W - 8 - bs, 6, bs, bs, Look::button, "OFF");
  b.add("minimize", W - 8 - 2 * bs - 6, 6, bs, bs, Look::button, "_");
  b.add("fullscreen", W - 8 - 3 * bs - 12 - 20, 6, bs + 20, bs, Look::button, "FULL");
  b.add("network", W - 8 - 3 * bs - 36 - 100, (tb - 20) / 2, 80, 20, Look::indicator, "LINK");

  int y = dvr_list_block(b, px, v.y, pw, H, hd, hd ? 200 : 130);
  const int rh = hd ? 30 : 24;
  b.add("connect", px, y, pw, rh, Look::button, "CONNECT");
  b.add("disconnect", px, y, pw, rh, Look::button, "DISCONNECT");
  y += rh + 8;
  const int mh = hd ? 26 : 22;
  b.add("month_minus", px, y, 28, mh, Look::arrow, "", 6);
  b.add("month_year", px + 32, y, pw - 64, mh, Look::field);
  b.add("month_plus", px + pw - 28, y, 28, mh, Look::arrow, "", 2);
  y += mh + 4;
  const int dw = hd ? 40 : 30, dh = hd ? 26 : 20;
  const int cal_x = px + (pw - 7 * (dw + 2)) / 2;
  const char* wd[7] = {"S", "M", "T", "W", "T", "F", "S"};
  for (int k = 0; k < 7; ++k) b.deco(Deco::dim_text, cal_x + k * (dw + 2), y, dw, 14, wd[k], 9);
  y += 16;
  b.add("day", cal_x, y, dw, dh, Look::cell);
  y += 6 * dh + 8;
  b.add("evt_minus", px, y, 28, mh, Look::arrow, "", 6);
  b.add("event_type", px + 32, y, pw - 64, mh, Look::field);
  b.add("evt_plus", px + pw - 28, y, 28, mh, Look::arrow, "", 2);
  y += mh + 6;
  b.add("time_search", px, y, pw - 64, mh + 2, Look::field);
  b.add("ok", px + pw - 60, y, 60, mh + 2, Look::button, "GO TO");
  y += mh + 10;

  // Record bars and cameras along the bottom.
  b.deco(Deco::panel, 4, by - 4, v.x + v.w + 4 - 4, H - by);
  const int lx = hd ? 64 : 56;
  const int hour_w = hd ? 36 : 29, min_w = hd ? 14 : 11, bar_h = hd ? 22 : 16;
  b.deco(Deco::dim_text, 8, by + 2, lx - 12, bar_h, "HOUR", 9, 0);
  b.add("hour", lx, by + 2, hour_w, bar_h, Look::cell);
  b.deco(Deco::dim_text, 8, by + bar_h + 6, lx - 12, bar_h, "MIN", 9, 0);
  b.add("minute", lx, by + bar_h + 6, min_w, bar_h, Look::cell);
  const int cam_y = by + 2 * bar_h + 12, cam_w = hd ? 34 : 24, cam_h = hd ? 22 : 18;
  b.deco(Deco::dim_text, 8, cam_y, lx - 12, cam_h, "CAM", 9, 0);
  b.add("camera", lx, cam_y, cam_w, cam_h, Look::cell);

  struct Ctl {
    const char* name;
    const char* label;
    Look look;
  };
  const Ctl ctl[12] = {{"top", "GO", Look::button},     {"left", "-30s", Look::button},
                       {"prev", "-10s", Look::button},  {"play", "PLAY", Look::toggle},
                       {"next", "STOP", Look::button},  {"right", "+30s", Look::button},
                       {"bottom", "END", Look::button}, {"slower", "SLOW", Look::button},
                       {"speed", "", Look::field},      {"faster", "FAST", Look::button},
                       {"record", "REC", Look::toggle}, {"snapshot", "SNAP", Look::button}};
  if (hd) {
    const int cy = cam_y + 2 * cam_h + 12, cwid = 60, ch = 34;
    for (int k = 0; k < 12; ++k)
      b.add(ctl[k].name, lx + k * (cwid + 4), cy, cwid, ch, ctl[k].look, ctl[k].label);
  } else {
    const int cwid = (pw - 10) / 6, ch = 28;
    for (int k = 0; k < 12; ++k)
      b.add(ctl[k].name, px + (k % 6) * (cwid + 2), y + (k / 6) * (ch + 4), cwid, ch, ctl[k].look,
            ctl[k].label);
  }

  b.add("tooltip", v.x + 10, v.y + v.h - 30, 260, 20, Look::tooltip);
  b.add("busy", v.x + (v.w - 72) / 2, v.y + (v.h - 72) / 2, 72, 72, Look::spinner);
  b.add("loading", v.x + (v.w - 72) / 2, v.y + (v.h - 72) / 2, 72, 72, Look::spinner);
  tile_pictures(b, v, true);
  b.add("record_icon_22", v.x + 80, v.y + 16, 18, 18, Look::icon, "", 0);
  b.add("record_icon_11", v.x + 104, v.y + 16, 12, 12, Look::icon, "", 0);
  return lay;
}

// The file playback (4) and event playback (5) windows: the same controls, smaller.
WindowLayout player_window(int id) {
  WindowLayout lay;
  Builder b{lay};
  const bool file = id == skin_tables::kPlayback;
  lay.width = file ? 720 : 384;
  lay.height = file ? 580 : 330;
  const SDL_Rect v = file ? SDL_Rect{8, 40, 704, 480} : SDL_Rect{16, 36, 352, 240};
  lay.video = v;
  const int tb = v.y - 6, bs = tb - 10;
  title_bar(b, lay.width, tb, "VIGILO", file ? "File playback" : "Event playback");
  b.add("power", lay.width - 8 - bs, 5, bs, bs, Look::button, "OFF");
  b.add("minimize", lay.width - 8 - 2 * bs - 6, 5, bs, bs, Look::button, "_");
  b.deco(Deco::panel, 4, v.y + v.h + 4, lay.width - 8, lay.height - v.y - v.h - 8);
  b.add("progress", v.x, v.y + v.h + 6, v.w, 8, Look::progress);
  struct Ctl {
    const char* name;
    const char* label;
    Look look;
  };
  const Ctl ctl[10] = {{"top", "START", Look::button},  {"left", "-30s", Look::button},
                       {"prev", "-10s", Look::button},  {"play", "PLAY", Look::toggle},
                       {"next", "+10s", Look::button},  {"right", "+30s", Look::button},
                       {"bottom", "END", Look::button}, {"slower", "SLOW", Look::button},
                       {"speed", "", Look::field},      {"faster", "FAST", Look::button}};
  const int cw = file ? 64 : 30, ch = file ? 34 : 30, cy = v.y + v.h + 18;
  for (int k = 0; k < 10; ++k)
    b.add(ctl[k].name, v.x + k * (cw + 4), cy, cw, ch, ctl[k].look, ctl[k].label);
  b.add("tooltip", v.x + 10, v.y + v.h - 30, 200, 20, Look::tooltip);
  b.add("zoomed_icon", v.x + 8, v.y + 8, 24, 24, Look::icon, "", 1);
  b.add("background", v.x + 40, v.y + 8, 160, 120, Look::tile_bg);
  if (!file)
    b.add("network", lay.width - 8 - 2 * bs - 100, (tb - 20) / 2, 80, 20, Look::indicator, "LINK");
  return lay;
}

}  // namespace

WindowLayout layout_window(int id, int res, art::Painter& painter) {
  switch (id) {
    case skin_tables::kLogin: return login(res);
    case skin_tables::kMain: return main_window(res, painter);
    case skin_tables::kSearch: return search_window(res);
    default: return player_window(id);
  }
}

void paint_background(SDL_Surface* bg, const WindowLayout& lay, art::Painter& p) {
  p.gradient(bg, {0, 0, static_cast<Uint16>(lay.width), static_cast<Uint16>(lay.height)},
             art::kWindowTop, art::kWindowBottom);
  for (const Deco& d : lay.decos) {
    switch (d.kind) {
      case Deco::panel: p.panel(bg, d.r); break;
      case Deco::bar:
        p.fill(bg, d.r, art::kTopBar);
        p.fill(bg, {d.r.x, static_cast<Sint16>(d.r.y + d.r.h - 2), d.r.w, 2}, art::kAccent);
        break;
      case Deco::video: p.fill(bg, d.r, {20, 24, 30}); break;
      default: break;
    }
  }
  if (lay.video.w > 0) {
    SDL_Rect edge{static_cast<Sint16>(lay.video.x - 1), static_cast<Sint16>(lay.video.y - 1),
                  static_cast<Uint16>(lay.video.w + 2), static_cast<Uint16>(lay.video.h + 2)};
    p.fill(bg, edge, art::kPanelEdge);
    p.fill(bg, lay.video, art::kVideo);
  }
  for (const Deco& d : lay.decos) {
    if (d.kind == Deco::text) p.text(bg, d.r, d.label, art::kText, d.pt, true, d.align);
    if (d.kind == Deco::dim_text) p.text(bg, d.r, d.label, {140, 150, 164}, d.pt, true, d.align);
  }
  // Lists scroll over the background: give it the lists' interior colour.
  for (const Place& pl : lay.places)
    if (pl.look == Look::list)
      p.fill(bg,
             {static_cast<Sint16>(pl.x + 1), static_cast<Sint16>(pl.y + 1),
              static_cast<Uint16>(pl.w - 2), static_cast<Uint16>(pl.h - 2)},
             art::kListBg);
}

int find_index(int id, const std::string& name) {
  for (int i = 0; i < skin_tables::kWidgetCounts[id]; ++i)
    if (name == skin_tables::widget_def(id, i)->name) return i;
  return 0;
}

std::string caption_of(int id, const std::string& name) {
  static const std::map<std::string, std::string> common = {
      {"ok", "Log in"},
      {"cancel", "Quit"},
      {"username", "Operator ID"},
      {"password", "Password"},
      {"tooltip", "Hint"},
      {"connect", "Connect to the selected DVR or group"},
      {"disconnect", "Disconnect"},
      {"setup", "Client setup"},
      {"search", "Search window"},
      {"power", "Exit"},
      {"layout_control", "Layouts"},
      {"layout1", "Single view"},
      {"layout4", "2 x 2 view"},
      {"layout9", "3 x 3 view"},
      {"layout16", "4 x 4 view"},
      {"layout36", "6 x 6 view"},
      {"layout64", "8 x 8 view"},
      {"layout144", "12 x 12 view"},
      {"fullscreen", "Full screen"},
      {"cyclecam", "Camera tour"},
      {"split_view", "Split the selected cells"},
      {"switch_cam", "Rotate the selected cameras"},
      {"layout_ratio43", "Keep 4:3 pictures"},
      {"add_layout", "Keep this layout in the user menu"},
      {"layout_left", "Scroll layouts left"},
      {"layout_right", "Scroll layouts right"},
      {"scroll_left", "Scroll user menu left"},
      {"scroll_right", "Scroll user menu right"},
      {"snapshot", "Save a picture"},
      {"spotout1", "Open a spot monitor"},
      {"spotout2", "Move to the other monitor"},
      {"probe", "Probe"},
      {"brightness+", "Brighter"},
      {"brightness-", "Darker"},
      {"contrast+", "More contrast"},
      {"contrast-", "Less contrast"},
      {"hue+", "Hue up"},
      {"hue-", "Hue down"},
      {"saturation+", "More colour"},
      {"saturation-", "Less colour"},
      {"reset_colors", "Reset picture adjustments"},
      {"emap", "Electronic map"},
      {"pip1", "Picture in picture"},
      {"pip2", "Enlarge"},
      {"pip_close", "Close"},
      {"record", "Local recording"},
      {"browse", "Play a recorded file"},
      {"mute", "Sound on"},
      {"no_mute", "Sound off"},
      {"dvr_list", "DVRs and groups"},
      {"scrollup", "Scroll up"},
      {"scrolldn", "Scroll down"},
      {"pageup", "Page up"},
      {"pagedown", "Page down"},
      {"dvrtab", "DVR list"},
      {"grouptab", "Group list"},
      {"evt_list", "DVR events"},
      {"evt_scrlup", "Scroll events up"},
      {"evt_scrldn", "Scroll events down"},
      {"evt_pgup", "Events page up"},
      {"evt_pgdn", "Events page down"},
      {"dvrsetup", "Remote DVR setup"},
      {"cam_info", "Camera information"},
      {"volume+", "Louder"},
      {"volume-", "Quieter"},
      {"volume_meter", "Volume"},
      {"ptz_nn", "Tilt up"},
      {"ptz_ne", "Up and right"},
      {"ptz_ee", "Pan right"},
      {"ptz_es", "Down and right"},
      {"ptz_ss", "Tilt down"},
      {"ptz_sw", "Down and left"},
      {"ptz_ww", "Pan left"},
      {"ptz_wn", "Up and left"},
      {"ptz_zoom_in", "Zoom in"},
      {"ptz_zoom_out", "Zoom out"},
      {"ptz_focus_near", "Focus near"},
      {"ptz_focus_far", "Focus far"},
      {"ptz_iris_open", "Open iris"},
      {"ptz_iris_close", "Close iris"},
      {"ptz_ptspeed+", "Faster pan and tilt"},
      {"ptz_ptspeed-", "Slower pan and tilt"},
      {"ptz_zspeed+", "Faster zoom"},
      {"ptz_zspeed-", "Slower zoom"},
      {"ptz_fspeed+", "Faster focus"},
      {"ptz_fspeed-", "Slower focus"},
      {"ptz_autopan", "Auto pan"},
      {"ptz_preset_on", "Presets"},
      {"ptz_preset_list", "Preset positions"},
      {"ptz_preset_go", "Go to preset"},
      {"ptz_preset_set", "Store preset"},
      {"ptz_preset_clear", "Clear preset"},
      {"busy", "Please wait"},
      {"network", "Link"},
      {"cpu_usage", "CPU load"},
      {"network_usage", "Network load"},
      {"HDD_usage", "Disk use"},
      {"zoom_button", "Zoom controls"},
      {"focus_button", "Focus controls"},
      {"iris_button", "Iris controls"},
      {"log_view", "Event and system logs"},
      {"evt_button", "Show events"},
      {"info_button", "Show receive statistics"},
      {"minimize", "Minimise"},
      {"user_menu", "User menu"},
      {"top", "Start"},
      {"left", "Back 30 s"},
      {"prev", "Back 10 s"},
      {"play", "Play or pause"},
      {"slower", "Slower"},
      {"faster", "Faster"},
      {"speed", "Speed"},
      {"loading", "Loading"},
      {"time_search", "Date and time (yyyy/mm/dd hh:mm:ss)"},
      {"event_type", "Event type"},
      {"evt_plus", "Next event type"},
      {"evt_minus", "Previous event type"},
      {"month_year", "Month"},
      {"month_plus", "Next month"},
      {"month_minus", "Previous month"},
      {"day", "Day"},
      {"hour", "Hour"},
      {"minute", "Minute"},
      {"camera", "Camera"},
      {"progress", "Position"},
  };
  if (id == skin_tables::kSearch) {
    if (name == "next") return "Stop";
    if (name == "bottom") return "End";
    if (name == "right") return "Forward 30 s";
    if (name == "top") return "Start from the selection";
    if (name == "ok") return "Go to the typed time";
  }
  if (name == "next") return "Forward 10 s";
  if (name == "right") return "Forward 30 s";
  if (name == "bottom") return "End";
  auto it = common.find(name);
  return it != common.end() ? it->second : "-";
}

}  // namespace skin_layout
