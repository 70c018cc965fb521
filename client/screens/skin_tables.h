// Built-in widget tables of the five skin windows: names and behaviour attributes.
//
// This header is the one source of the widget set: the client builds its SKIN_WIDGET
// records from it and the default-skin generator (assets/skin/) writes one skin.cfg line
// per name from it, so the two cannot drift. No SDL, no state: constant tables only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace skin_tables {

// One row of a window's table: kind, hidden, edit, on, enabled, num_states (the seventh
// column of the original tables is always 0 and never read, so it is not kept).
struct WidgetDef {
  const char* name;
  uint8_t kind = 1;
  uint8_t hidden = 0;
  uint8_t edit = 0;
  uint8_t on = 0;
  uint8_t enabled = 1;
  uint8_t states = 5;
};

constexpr int kWindowCount = 6;  // id 0 "null" is never used
constexpr const char* kWindowNames[kWindowCount] = {"null",   "login",    "main",
                                                    "search", "playback", "event"};
constexpr int kWidgetCounts[kWindowCount] = {0, 6, 179, 189, 17, 18};

enum WindowId : int { kLogin = 1, kMain = 2, kSearch = 3, kPlayback = 4, kEvent = 5 };

// Widget ids of the main window's built-in table (kMainNames), with the names of the
// ranges the handlers test (FIRST/LAST).
namespace main_widgets {
enum : int {
  // clang-format off
  W_CONNECT = 1, W_DISCONNECT = 2, W_SETUP = 3, W_SEARCH = 4, W_POWER = 5, W_MENU_FRAME = 8,
  W_LAYOUT1 = 9, W_LAYOUT4 = 10, W_LAYOUT9 = 11, W_LAYOUT16 = 12, W_LAYOUT36 = 13, W_LAYOUT64 = 14,
  W_LAYOUT144 = 15, W_FULLSCREEN = 16, W_CYCLECAM = 17, W_SPLIT = 18, W_SWITCH = 19,
  W_RATIO43 = 20, W_ADD_LAYOUT = 21, W_LAYOUT_LEFT = 22, W_LAYOUT_RIGHT = 23, W_SCROLL_LEFT = 24,
  W_SCROLL_RIGHT = 25, W_SNAPSHOT = 26, W_SPOTOUT1 = 27, W_POPUP_FIRST = 28, W_SPOTOUT2 = 28,
  W_PROBE = 29, W_BRIGHT_UP = 30, W_BRIGHT_DOWN = 31, W_CONTRAST_UP = 32, W_CONTRAST_DOWN = 33,
  W_HUE_UP = 34, W_HUE_DOWN = 35, W_SATURATION_UP = 36, W_SATURATION_DOWN = 37, W_POPUP_LAST = 38,
  W_RESET_COLORS = 38, W_EMAP = 39, W_PIP1 = 40, W_PIP2 = 41, W_PIP_CLOSE = 42, W_RECORD = 43,
  W_BROWSE = 44, W_MUTE = 46, W_NO_MUTE = 47, W_DVR_LIST = 48, W_SCROLLUP = 49, W_SCROLLDN = 50,
  W_PAGEUP = 51, W_PAGEDOWN = 52, W_DVRTAB = 53, W_GROUPTAB = 54, W_EVT_LIST = 55,
  W_EVT_SCRLUP = 56, W_EVT_SCRLDN = 57, W_EVT_PGUP = 58, W_EVT_PGDN = 59, W_DVRSETUP = 61,
  W_CAM_INFO = 62, W_FRAMES_RECEIVED = 63, W_VOLUME_UP = 67, W_VOLUME_DOWN = 68,
  W_VOLUME_METER = 69, W_PTZ_DIR_FIRST = 70, W_PTZ_FIRST = 70, W_PTZ_DIR_LAST = 77, W_PTZ_WN = 77,
  W_PTZ_FN_FIRST = 78, W_PTZ_ZOOM_OUT = 79, W_PTZ_FOCUS_FAR = 81, W_PTZ_LAST = 83,
  W_PTSPEED_UP = 84, W_PTSPEED_DOWN = 85, W_ZSPEED_UP = 86, W_ZSPEED_DOWN = 87, W_FSPEED_UP = 88,
  W_FSPEED_DOWN = 89, W_PTZ_FN_LAST = 89, W_PTZ_AUTOPAN = 90, W_PTZ_PRESET_ON = 91,
  W_PTZ_PRESET_LIST = 92, W_PTZ_PRESET_GO = 93, W_PTZ_PRESET_SET = 94, W_PRESET_LAST = 95,
  W_PTZ_PRESET_CLEAR = 95, W_PTZ_PTSPEED_LBL = 96, W_PTZ_ZSPEED_LBL = 97, W_PTZ_FSPEED_LBL = 98,
  W_CPU_USAGE = 114, W_NETWORK_USAGE = 115, W_HDD_USAGE = 116, W_ZOOM_BUTTON = 117,
  W_FOCUS_BUTTON = 118, W_IRIS_BUTTON = 119, W_PTZ_LBL = 120, W_LOG_VIEW = 121,
  W_CLOCK_FIRST = 122, W_CLOCK_LAST = 136, W_DIGITAL_ZOOM_IN = 142, W_DIGITAL_ZOOM_OUT = 143,
  W_POPUP_FRAME = 144, W_EVT_BUTTON = 145, W_INFO_BUTTON = 146, W_MINIMIZE = 147,
  W_ACTIVE_MENU1 = 148, W_ACTIVE_MENU15 = 162, W_INACTIVE_MENU = 163, W_USER_MENU_FIRST = 164,
  W_USER_MENU_LAST = 178,
  // clang-format on
};
}  // namespace main_widgets

namespace detail {

template <size_t N>
constexpr void set_range(std::array<WidgetDef, N>& t, int from, int to, WidgetDef row) {
  for (int i = from; i <= to; ++i) {
    const char* keep = t[i].name;
    t[i] = row;
    t[i].name = keep;
  }
}

constexpr WidgetDef push{nullptr, 1, 0, 0, 0, 1, 5};
constexpr WidgetDef hidden_push{nullptr, 1, 1, 0, 0, 1, 5};
constexpr WidgetDef toggle{nullptr, 2, 0, 0, 0, 1, 5};
constexpr WidgetDef owner_drawn{nullptr, 0, 0, 0, 0, 1, 5};
constexpr WidgetDef hidden_icon{nullptr, 6, 1, 0, 0, 1, 1};

constexpr std::array<WidgetDef, 6> make_login() {
  std::array<WidgetDef, 6> t{};
  t[0] = {"null", 0, 0, 0, 0, 1, 5};
  t[1] = {"ok", 1, 0, 0, 0, 1, 5};
  t[2] = {"cancel", 1, 0, 0, 0, 1, 5};
  t[3] = {"username", 4, 0, 1, 0, 1, 5};
  t[4] = {"password", 4, 0, 2, 0, 1, 5};
  t[5] = {"tooltip", 4, 1, 0, 0, 1, 1};
  return t;
}

// clang-format off
constexpr const char* kMainNames[179] = {
    "null", "connect", "disconnect", "setup", "search", "power", "layout_control", "layout_frame",
    "menu_frame", "layout1", "layout4", "layout9", "layout16", "layout36", "layout64", "layout144",
    "fullscreen", "cyclecam", "split_view", "switch_cam", "layout_ratio43", "add_layout",
    "layout_left", "layout_right", "scroll_left", "scroll_right", "snapshot", "spotout1",
    "spotout2", "probe", "brightness+", "brightness-", "contrast+", "contrast-", "hue+", "hue-",
    "saturation+", "saturation-", "reset_colors", "emap", "pip1", "pip2", "pip_close", "record",
    "browse", "connecting", "mute", "no_mute", "dvr_list", "scrollup", "scrolldn", "pageup",
    "pagedown", "dvrtab", "grouptab", "evt_list", "evt_scrlup", "evt_scrldn", "evt_pgup",
    "evt_pgdn", "waiting", "dvrsetup", "cam_info", "frames_received", "frames_displayed",
    "bytes_received", "message", "volume+", "volume-", "volume_meter", "ptz_nn", "ptz_ne",
    "ptz_ee", "ptz_es", "ptz_ss", "ptz_sw", "ptz_ww", "ptz_wn", "ptz_zoom_in", "ptz_zoom_out",
    "ptz_focus_near", "ptz_focus_far", "ptz_iris_open", "ptz_iris_close", "ptz_ptspeed+",
    "ptz_ptspeed-", "ptz_zspeed+", "ptz_zspeed-", "ptz_fspeed+", "ptz_fspeed-", "ptz_autopan",
    "ptz_preset_on", "ptz_preset_list", "ptz_preset_go", "ptz_preset_set", "ptz_preset_clear",
    "ptz_ptspeed_lbl", "ptz_zspeed_lbl", "ptz_fspeed_lbl", "tooltip", "busy", "network",
    "zoomed_icon", "zoomed_icon_22", "zoomed_icon_11", "motion_icon", "motion_icon_22",
    "motion_icon_11", "sensor_icon", "sensor_icon_22", "sensor_icon_11", "record_icon",
    "record_icon_22", "record_icon_11", "cpu_usage", "network_usage", "HDD_usage", "zoom_button",
    "focus_button", "iris_button", "ptz_lbl", "log_view", "1st_year", "2nd_year", "3rd_year",
    "4th_year", "1st_month", "2nd_month", "1st_day", "2nd_day", "clock_weekday", "1st_hour",
    "2nd_hour", "1st_min", "2nd_min", "1st_sec", "2nd_sec", "freeze", "background",
    "cam_disabled", "cam_nosignal", "cam_secret", "digital_zoom_in", "digital_zoom_out",
    "popup_frame", "evt_button", "info_button", "minimize", "active_menu1", "active_menu2",
    "active_menu3", "active_menu4", "active_menu5", "active_menu6", "active_menu7",
    "active_menu8", "active_menu9", "active_menu10", "active_menu11", "active_menu12",
    "active_menu13", "active_menu14", "active_menu15", "inactive_menu", "user_menu", "user_menu",
    "user_menu", "user_menu", "user_menu", "user_menu", "user_menu", "user_menu", "user_menu",
    "user_menu", "user_menu", "user_menu", "user_menu", "user_menu", "user_menu"};
// clang-format on

constexpr std::array<WidgetDef, 179> make_main() {
  std::array<WidgetDef, 179> t{};
  for (int i = 0; i < 179; ++i) {
    t[i] = push;
    t[i].name = kMainNames[i];
  }
  for (int i : {0, 45, 60}) set_range(t, i, i, owner_drawn);
  for (int i : {2, 142, 143}) set_range(t, i, i, hidden_push);
  set_range(t, 28, 38, hidden_push);
  set_range(t, 40, 42, hidden_push);
  set_range(t, 78, 89, hidden_push);
  set_range(t, 93, 95, hidden_push);
  for (int i : {7, 8, 144}) set_range(t, i, i, {nullptr, 6, 1, 0, 0, 0, 1});
  for (int i : {17, 20, 54, 90, 91, 117, 118, 119}) set_range(t, i, i, toggle);
  set_range(t, 53, 53, {nullptr, 2, 0, 0, 1, 1, 5});
  set_range(t, 48, 48, {nullptr, 5, 0, 0, 0, 1, 5});
  set_range(t, 62, 62, {nullptr, 5, 0, 0, 0, 1, 1});
  set_range(t, 92, 92, {nullptr, 5, 1, 0, 0, 1, 5});
  set_range(t, 55, 55, {nullptr, 8, 0, 0, 0, 1, 5});
  set_range(t, 63, 65, {nullptr, 4, 0, 0, 0, 1, 1});
  for (int i : {66, 99}) set_range(t, i, i, {nullptr, 4, 1, 0, 0, 1, 1});
  set_range(t, 69, 69, {nullptr, 4, 0, 0, 0, 0, 11});
  set_range(t, 114, 116, {nullptr, 4, 0, 0, 0, 1, 11});
  set_range(t, 96, 96, {nullptr, 1, 1, 0, 5, 1, 1});
  set_range(t, 97, 98, {nullptr, 1, 1, 0, 2, 1, 1});
  set_range(t, 120, 120, {nullptr, 1, 1, 0, 0, 1, 9});
  set_range(t, 100, 100, {nullptr, 0, 1, 0, 0, 1, 8});
  set_range(t, 101, 101, {nullptr, 6, 0, 0, 0, 1, 2});
  set_range(t, 102, 113, hidden_icon);
  set_range(t, 137, 141, hidden_icon);
  set_range(t, 122, 129, {nullptr, 1, 0, 0, 0, 1, 10});
  set_range(t, 131, 136, {nullptr, 1, 0, 0, 0, 1, 10});
  set_range(t, 130, 130, {nullptr, 1, 0, 0, 0, 1, 7});
  set_range(t, 148, 163, {nullptr, 1, 1, 0, 0, 0, 5});
  return t;
}

constexpr const char* kSearchHead[42] = {
    "none",           "dvrtab",        "grouptab",    "dvr_list",
    "connect",        "disconnect",    "scrollup",    "scrolldn",
    "pageup",         "pagedown",      "top",         "left",
    "prev",           "play",          "next",        "right",
    "bottom",         "slower",        "faster",      "speed",
    "power",          "fullscreen",    "record",      "snapshot",
    "tooltip",        "busy",          "zoomed_icon", "loading",
    "background",     "time_search",   "ok",          "network",
    "event_type",     "evt_plus",      "evt_minus",   "month_year",
    "month_plus",     "month_minus",   "minimize",    "record_icon",
    "record_icon_22", "record_icon_11"};

constexpr std::array<WidgetDef, 189> make_search() {
  std::array<WidgetDef, 189> t{};
  for (int i = 0; i < 189; ++i) {
    t[i] = push;
    t[i].name = i < 42    ? kSearchHead[i]
                : i < 73  ? "day"
                : i < 97  ? "hour"
                : i < 157 ? "minute"
                          : "camera";
  }
  set_range(t, 0, 0, owner_drawn);
  set_range(t, 1, 1, {nullptr, 2, 0, 0, 1, 1, 5});
  for (int i : {2, 13, 22}) set_range(t, i, i, toggle);
  set_range(t, 157, 188, toggle);
  set_range(t, 3, 3, {nullptr, 5, 0, 0, 0, 1, 5});
  for (int i : {5, 16}) set_range(t, i, i, hidden_push);
  set_range(t, 19, 19, {nullptr, 4, 0, 0, 0, 1, 1});
  set_range(t, 24, 24, {nullptr, 4, 1, 0, 0, 1, 1});
  for (int i : {32, 35}) set_range(t, i, i, {nullptr, 4, 0, 0, 0, 1, 5});
  set_range(t, 29, 29, {nullptr, 4, 0, 1, 0, 1, 5});
  for (int i : {25, 27}) set_range(t, i, i, {nullptr, 0, 1, 0, 0, 1, 8});
  for (int i : {26, 28, 39, 40, 41}) set_range(t, i, i, hidden_icon);
  set_range(t, 31, 31, {nullptr, 6, 0, 0, 0, 1, 2});
  set_range(t, 42, 72, {nullptr, 3, 0, 0, 0, 1, 5});
  set_range(t, 73, 156, {nullptr, 3, 1, 0, 0, 1, 5});
  return t;
}

constexpr const char* kPlaybackNames[17] = {
    "none",  "top",         "left",       "prev",    "play",     "next",
    "right", "bottom",      "slower",     "faster",  "progress", "speed",
    "power", "zoomed_icon", "background", "tooltip", "minimize"};

constexpr std::array<WidgetDef, 17> make_playback() {
  std::array<WidgetDef, 17> t{};
  for (int i = 0; i < 17; ++i) {
    t[i] = push;
    t[i].name = kPlaybackNames[i];
  }
  set_range(t, 0, 0, owner_drawn);
  set_range(t, 4, 4, toggle);
  set_range(t, 10, 10, {nullptr, 7, 1, 0, 0, 1, 5});
  set_range(t, 11, 11, {nullptr, 4, 0, 0, 0, 1, 1});
  set_range(t, 13, 14, hidden_icon);
  set_range(t, 15, 15, {nullptr, 4, 1, 0, 0, 1, 1});
  return t;
}

constexpr const char* kEventNames[18] = {
    "none",  "top",         "left",       "prev",    "play",     "next",
    "right", "bottom",      "slower",     "faster",  "progress", "speed",
    "power", "zoomed_icon", "background", "tooltip", "network",  "minimize"};

constexpr std::array<WidgetDef, 18> make_event() {
  std::array<WidgetDef, 18> t{};
  for (int i = 0; i < 18; ++i) {
    t[i] = push;
    t[i].name = kEventNames[i];
  }
  set_range(t, 0, 0, owner_drawn);
  for (int i : {1, 2, 3, 5, 6, 7}) set_range(t, i, i, {nullptr, 1, 1, 0, 0, 5, 5});
  set_range(t, 4, 4, toggle);
  for (int i : {12, 17}) set_range(t, i, i, hidden_push);
  set_range(t, 10, 10, {nullptr, 7, 1, 0, 0, 1, 5});
  for (int i : {11, 15}) set_range(t, i, i, {nullptr, 4, 1, 0, 0, 1, 1});
  set_range(t, 13, 14, hidden_icon);
  set_range(t, 16, 16, {nullptr, 6, 1, 0, 0, 1, 2});
  return t;
}

}  // namespace detail

inline constexpr auto kLoginTable = detail::make_login();
inline constexpr auto kMainTable = detail::make_main();
inline constexpr auto kSearchTable = detail::make_search();
inline constexpr auto kPlaybackTable = detail::make_playback();
inline constexpr auto kEventTable = detail::make_event();

// The row of widget `index` of window `id`, or nullptr outside the tables.
constexpr const WidgetDef* widget_def(int id, int index) {
  if (id < 1 || id >= kWindowCount || index < 0 || index >= kWidgetCounts[id]) return nullptr;
  switch (id) {
    case kLogin: return &kLoginTable[index];
    case kMain: return &kMainTable[index];
    case kSearch: return &kSearchTable[index];
    case kPlayback: return &kPlaybackTable[index];
    default: return &kEventTable[index];
  }
}

static_assert(kMainTable[53].on == 1 && kMainTable[53].kind == 2);
static_assert(kMainTable[178].name[0] == 'u' && kSearchTable[188].kind == 2);
static_assert(kMainTable[69].states == 11 && kMainTable[130].states == 7);

}  // namespace skin_tables
