#include "client/screens/panel.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "client/foundation/app_state.h"
#include "client/foundation/channel_table.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sdl_lock.h"
#include "client/links/nc_packets.h"
#include "client/links/nc_receiver.h"
#include "client/screens/panel_internal.h"
#include "client/screens/skin.h"
#include "client/screens/widget_text.h"

using namespace panel_internal;

// ---------------------------------------------------------------- PTZ pad

namespace {
// The preset number of each line of ptz_preset_list, as the DVR numbers them.
int preset_numbers[NC_PRESET_ENTRIES];
int preset_lines = 0;

// The four buttons of a group (zoom 117, focus 118, iris 119) and its speed label.
void group_widgets(int kind, int out[4], int* label) {
  static const int buttons[3][4] = {{78, 79, 86, 87}, {80, 81, 88, 89}, {82, 83, 84, 85}};
  static const int labels[3] = {W_PTZ_ZSPEED_LBL, W_PTZ_FSPEED_LBL, W_PTZ_PTSPEED_LBL};
  const int g = std::clamp(kind - W_ZOOM_BUTTON, 0, 2);
  std::copy(buttons[g], buttons[g] + 4, out);
  *label = labels[g];
}
}  // namespace

void open_ptz_group(SDL_Surface* display, int kind) {
  for (int w = W_PTZ_DIR_FIRST; w <= W_PTZ_DIR_LAST; ++w) hide_widget(display, kMain, w);
  int buttons[4], label;
  group_widgets(kind, buttons, &label);
  for (int w : buttons) {
    set_widget_attr(kMain, w, 1, 0);
    set_widget_state(display, kMain, w, 0);
  }
  const int speed = get_widget_attr(kMain, label, 3);
  set_widget_attr(kMain, W_PTZ_LBL, 1, 0);
  set_widget_state(display, kMain, W_PTZ_LBL, speed - 1);
  set_widget_state(display, kMain, W_POWER, 0);
}

void close_ptz_group(SDL_Surface* display, int kind) {
  int buttons[4], label;
  group_widgets(kind, buttons, &label);
  for (int w : buttons) hide_widget(display, kMain, w);
  hide_widget(display, kMain, W_PTZ_LBL);
  for (int w = W_PTZ_DIR_FIRST; w <= W_PTZ_DIR_LAST; ++w) {
    set_widget_attr(kMain, w, 1, 0);
    set_widget_state(display, kMain, w, 0);
  }
  set_widget_state(display, kMain, W_POWER, 0);
}

namespace {
void toggle_group(SDL_Surface* display, int kind, int own, uint8_t open_flags[3]) {
  if (open_flags[own]) {
    close_ptz_group(display, kind);
    open_flags[own] = 0;
    return;
  }
  for (int g = 0; g < 3; ++g)
    if (g != own && open_flags[g]) {
      close_ptz_group(display, W_ZOOM_BUTTON + g);
      open_flags[g] = 0;
    }
  open_ptz_group(display, kind);
  open_flags[own] = 1;
}
}  // namespace

void toggle_zoom_group(SDL_Surface* display, int kind, uint8_t open_flags[3]) {
  toggle_group(display, kind, 0, open_flags);
}
void toggle_focus_group(SDL_Surface* display, int kind, uint8_t open_flags[3]) {
  toggle_group(display, kind, 1, open_flags);
}
void toggle_iris_group(SDL_Surface* display, int kind, uint8_t open_flags[3]) {
  toggle_group(display, kind, 2, open_flags);
}

void show_preset_controls(SDL_Surface* display) {
  for (int w = W_PTZ_FN_FIRST; w <= W_PTZ_FN_LAST; ++w) hide_widget(display, kMain, w);
  for (int w = W_PTZ_PTSPEED_LBL; w <= W_PTZ_FSPEED_LBL; ++w) hide_widget(display, kMain, w);
  for (int w = W_PTZ_PRESET_LIST; w <= W_PRESET_LAST; ++w) show_widget(display, kMain, w);
}

void show_speed_controls(SDL_Surface* display) {
  for (int w = W_PTZ_PRESET_LIST; w <= W_PRESET_LAST; ++w) hide_widget(display, kMain, w);
  for (int w = W_PTZ_FN_FIRST; w <= W_PTZ_FN_LAST; ++w) show_widget(display, kMain, w);
  for (int w = W_PTZ_PTSPEED_LBL; w <= W_PTZ_FSPEED_LBL; ++w) show_widget(display, kMain, w);
}

void fill_preset_list(APP_CONTEXT* ctx, const NC_PRESET_TABLE* presets) {
  SdlLock lock(ctx->display_mutex);
  SDL_Surface* display = screen_of(ctx);
  clear_widget_lines(display, kMain, W_PTZ_PRESET_LIST);
  preset_lines = 0;
  if (!presets) return;
  for (int i = 0; i < NC_PRESET_ENTRIES; ++i) {
    const NC_PRESET_ENTRY& e = presets->entry[i];
    if (e.number == 0) continue;
    // The name is bounded by its field whether or not the record ends it.
    const std::string name(e.preset_name, strnlen(e.preset_name, sizeof e.preset_name));
    if (add_widget_line(display, kMain, W_PTZ_PRESET_LIST, name.c_str(), 0, 0) == 0)
      preset_numbers[preset_lines++] = e.number;
  }
  redraw_widget(display, kMain, W_PTZ_PRESET_LIST);
}

int selected_preset_number() {
  const int line = get_selected_index(kMain, W_PTZ_PRESET_LIST);
  return line >= 0 && line < preset_lines ? preset_numbers[line] : -1;
}

int send_ptz_to_current(APP_CONTEXT* ctx, int command, int argument) {
  int32_t id;
  if (ctx->layout == 1) {
    id = ctx->page;
  } else {
    id = first_selected_channel(ctx);
    if (id < 0) {
      error_box("Please select a channel.");
      return -1;
    }
  }
  RECEIVER_INFO* rx = find_receiver_by_channel(ctx, id);
  if (!rx) return -2;
  const int k = find_channel(rx, id);
  if (k < 0) return -2;
  if (rx->protocol == 'Q') nc_send_ptz(rx, k, command, argument);
  return 0;
}
