#include "client/screens/panel.h"

#include <cstdio>
#include <cstring>

#include "client/foundation/app_state.h"
#include "client/foundation/channel_table.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/config/setup_lookup.h"
#include "client/foundation/sdl_lock.h"
#include "client/screens/layouts.h"
#include "client/screens/panel_internal.h"
#include "client/screens/skin.h"
#include "client/screens/widget_text.h"

using namespace panel_internal;

// ---------------------------------------------------------------- lists

namespace {
// Empties the "dvr_list" widget of the current window and refills it by `fill(display, window,
// list)` under the display lock and the setup read lock; nothing without a skin or that widget.
template <class Fill>
void refill_dvr_list_widget(APP_CONTEXT* ctx, Fill fill) {
  const int window = ctx->skin_window;
  const int list = find_widget(window, "dvr_list");
  if (!ctx->skin || list <= 0) return;
  SdlLock lock(ctx->display_mutex);
  SDL_Surface* display = screen_of(ctx);
  clear_widget_lines(display, window, list);
  auto read = setup_read_lock();
  fill(display, window, list);
}
}  // namespace

void draw_dvr_list(APP_CONTEXT* ctx) {
  refill_dvr_list_widget(ctx, [](SDL_Surface* display, int window, int list) {
    const RC_DVR_INFO* dvrs = get_dvr_table();
    const int n = get_num_dvr();
    for (int i = 0; i < n && dvrs; ++i)
      add_widget_line(display, window, list, dvrs[i].name, 0, i == n - 1);
  });
}

void draw_group_list(APP_CONTEXT* ctx) {
  refill_dvr_list_widget(ctx, [](SDL_Surface* display, int window, int list) {
    const RC_GROUP_INFO* groups = get_group_table();
    const int n = get_num_group();
    for (int g = 0; g < n && groups; ++g) {
      const bool members = window == kSearch && groups[g].dvr_info;
      const int m = members ? groups[g].num_dvr : 0;
      add_widget_line(display, window, list, groups[g].name, 0, g == n - 1 && m == 0);
      for (int k = 0; k < m; ++k)
        add_widget_line(display, window, list, groups[g].dvr_info[k].name, 1,
                        g == n - 1 && k == m - 1);
    }
  });
}

void select_list_tab(APP_CONTEXT* ctx) {
  const int tab = find_widget(ctx->skin_window, "dvrtab");
  if (tab > 0 && get_widget_attr(ctx->skin_window, tab, 3))
    draw_dvr_list(ctx);
  else
    draw_group_list(ctx);
}

void draw_camera_list(APP_OPTIONS* opts, APP_CONTEXT* ctx) {
  const int list = find_widget(kMain, "dvr_list");
  if (!ctx->skin || list <= 0) return;
  int is_group = -1, index = -1;
  find_target(opts->auto_start, &is_group, &index);
  if (is_group < 0) return;
  SdlLock lock(ctx->display_mutex);
  SDL_Surface* display = screen_of(ctx);
  clear_widget_lines(display, kMain, list);
  auto read = setup_read_lock();
  char line[32];
  if (!is_group) {
    const RC_DVR_INFO* dvr = find_dvr_info(opts->auto_start);
    if (!dvr) return;
    const int n = dvr->num_video;
    for (int k = 0; k < n; ++k) {
      if (dvr->protocol == 'S')
        snprintf(line, sizeof line, "ALL CAMERA");
      else
        snprintf(line, sizeof line, "CAMERA %d", k + 1);
      add_widget_line(display, kMain, list, line, 0, k == n - 1);
    }
    if (n == 0) redraw_widget(display, kMain, list);
    return;
  }
  const RC_GROUP_INFO* group = find_group_info(opts->auto_start);
  if (!group || !group->dvr_info) return;
  for (int m = 0; m < group->num_dvr; ++m) {
    const RC_DVR_INFO& dvr = group->dvr_info[m];
    const uint32_t mask = m < ctx->num_receivers
                              ? ctx->receivers[m].channel_mask
                              : (group->channel_filter ? group->channel_filter[m] : 0);
    for (int k = 0; k < dvr.num_video; ++k) {
      if (k == 0) add_widget_line(display, kMain, list, dvr.name, 0, 0);
      if (dvr.protocol == 'S') {
        add_widget_line(display, kMain, list, "ALL CAMERA", 1, 0);
      } else if (k < 32 && (mask & (1u << k))) {
        snprintf(line, sizeof line, "CAMERA %d", k + 1);
        add_widget_line(display, kMain, list, line, 1, 0);
      }
    }
  }
  add_widget_line(display, kMain, list, "", 0, 1);
}

int show_listed_camera(APP_CONTEXT* ctx) {
  const int list = find_widget(kMain, "dvr_list");
  const char* line = get_selected_line(kMain, list);
  if (!line || !strstr(line, "CAMERA")) return -1;
  int number = 1;
  if (!strstr(line, "ALL CAMERA") && sscanf(line, "CAMERA %d", &number) != 1) return -2;
  RECEIVER_INFO* rx = nullptr;
  if (ctx->num_receivers == 1) {
    rx = &ctx->receivers[0];
  } else {
    const char* header = get_line_header(kMain, list, get_selected_index(kMain, list));
    rx = header ? find_receiver_by_name(ctx, header) : nullptr;
  }
  // The number and the header come from the list: both are checked against the receivers.
  if (!rx || number < 1 || number > MAX_CHANNELS || uint32_t(number) > rx->num_video) return -2;
  const int32_t id = rx->channels[number - 1].id.load();
  if (id < 0) return -2;
  set_layout(ctx, 1);
  set_layout_page(ctx, id);
  return 0;
}
