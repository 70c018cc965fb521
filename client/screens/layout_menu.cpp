#include "client/screens/panel.h"

#include <algorithm>

#include "client/foundation/app_state.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sdl_lock.h"
#include "client/screens/layouts.h"
#include "client/screens/panel_internal.h"
#include "client/screens/skin.h"

using namespace panel_internal;

namespace {

constexpr int kMenuSlots = 15;

struct LayoutStrip {
  bool ready = false;
  int first = 0;
  int x = 0, y = 0, w = 0, h = 0;
  int visible = 13;
  int right = 0;
} strip;

struct UserMenu {
  bool ready = false;
  int x = 0, y = 0;
  int source[kMenuSlots] = {};
  int layout[kMenuSlots] = {};
  bool look_in_use[kMenuSlots] = {};
  int count = 0, first = 0, next = 0, visible = 0;
} menu;

}  // namespace

// ---------------------------------------------------------------- layout strip

void init_layout_strip(APP_CONTEXT* ctx) {
  get_widget_position(kMain, W_LAYOUT1, &strip.x, &strip.y);
  get_widget_size(kMain, W_LAYOUT1, &strip.w, &strip.h);
  strip.visible = small_window(ctx) ? 9 : 13;
  strip.right = strip.x + (strip.visible + 1) * strip.w;
  strip.ready = true;
}

void draw_layout_strip(APP_CONTEXT* ctx) {
  if (!ctx->skin || ctx->fullscreen) return;
  if (!strip.ready) init_layout_strip(ctx);
  SdlLock lock(ctx->display_mutex);
  SDL_Surface* display = screen_of(ctx);
  const bool small = small_window(ctx);
  int x = strip.x;
  for (int i = 0; i < 13; ++i) {
    const int w = (strip.first + i) % 13 + W_LAYOUT1;
    if (small && (w == W_LAYOUT64 || w == W_LAYOUT144)) continue;
    if (x + strip.w < strip.right) {
      set_widget_position(kMain, w, x, strip.y);
      show_widget(display, kMain, w);
    } else {
      set_widget_attr(kMain, w, 1, 1);
      set_widget_position(kMain, w, 0, 0);
    }
    x += strip.w;
  }
}

void scroll_layout_strip_left(APP_CONTEXT* ctx) {
  strip.first = ((strip.first == 7 ? 5 : strip.first) + 12) % 13;
  draw_layout_strip(ctx);
}

void scroll_layout_strip_right(APP_CONTEXT* ctx) {
  strip.first = ((strip.first == 5 ? 7 : strip.first) + 14) % 13;
  draw_layout_strip(ctx);
}

int layout_strip_first() { return strip.first; }

// ---------------------------------------------------------------- user menu

void init_user_menu() {
  get_widget_position(kMain, W_USER_MENU_FIRST, &menu.x, &menu.y);
  for (int i = 0; i < kMenuSlots; ++i) {
    menu.source[i] = 0;
    menu.layout[i] = -1;
    menu.look_in_use[i] = false;
    copy_widget_look(kMain, W_INACTIVE_MENU, W_USER_MENU_FIRST + i);
    set_widget_attr(kMain, W_USER_MENU_FIRST + i, 4, 1);
  }
  menu.count = menu.first = menu.next = 0;
  menu.ready = true;
}

void draw_user_menu(APP_CONTEXT* ctx) {
  if (!menu.ready) init_user_menu();
  if (!ctx->skin || ctx->fullscreen) return;
  SdlLock lock(ctx->display_mutex);
  SDL_Surface* display = screen_of(ctx);
  int fx, fy, fw, fh, sw, sh;
  get_widget_position(kMain, W_MENU_FRAME, &fx, &fy);
  get_widget_size(kMain, W_MENU_FRAME, &fw, &fh);
  get_widget_size(kMain, W_USER_MENU_FIRST, &sw, &sh);
  int x = menu.x;
  menu.visible = 0;
  for (int i = 0; i < kMenuSlots; ++i) {
    const int slot = (menu.first + i) % kMenuSlots + W_USER_MENU_FIRST;
    if (x + sw >= menu.x + fw) {
      set_widget_attr(kMain, slot, 1, 1);
      set_widget_position(kMain, slot, 0, 0);
    } else {
      set_widget_position(kMain, slot, x, menu.y);
      show_widget(display, kMain, slot);
      ++menu.visible;
    }
    x += sw;
  }
}

void scroll_user_menu_left(APP_CONTEXT* ctx) {
  menu.first = (menu.first + 14) % kMenuSlots;
  draw_user_menu(ctx);
}

void scroll_user_menu_right(APP_CONTEXT* ctx) {
  menu.first = (menu.first + 1) % kMenuSlots;
  draw_user_menu(ctx);
}

int add_user_menu_entry(APP_CONTEXT* ctx, int widget) {
  if (widget == 0) return -1;
  if (!menu.ready) init_user_menu();
  if (!is_active_menu_item(widget))
    for (int i = 0; i < kMenuSlots; ++i)
      if (menu.source[i] == widget) return 0;
  const int idx = menu.next;
  const int slot = idx + W_USER_MENU_FIRST;
  if (copy_widget_look(kMain, widget, slot) != 0) {
    debug_message("Unable to register a button of a different size.");
    return -2;
  }
  // The look's attributes came along: a menu entry (a hidden template) is shown and enabled.
  set_widget_attr(kMain, slot, 1, 0);
  set_widget_attr(kMain, slot, 4, 1);
  if (is_active_menu_item(menu.source[idx])) free_user_layout(ctx, menu.layout[idx]);
  menu.source[idx] = widget;
  menu.count = std::min(kMenuSlots, menu.count + 1);
  if (menu.visible > 0 && menu.first <= idx && idx < menu.first + menu.visible) {
    if (ctx->skin && !ctx->fullscreen) {
      SdlLock lock(ctx->display_mutex);
      redraw_widget(screen_of(ctx), kMain, slot);
    }
  } else {
    // Bring the new entry into view as the last visible slot.
    menu.first = idx >= menu.visible ? idx - std::max(menu.visible, 1) + 1 : idx;
    draw_user_menu(ctx);
  }
  menu.next = (menu.next + 1) % kMenuSlots;
  return slot;
}

int remove_user_menu_entry(APP_CONTEXT* ctx, int slot) {
  if (slot == 0) return -1;
  if (menu.count == 0) return -2;
  const int idx = slot - W_USER_MENU_FIRST;
  if (idx < 0 || idx >= kMenuSlots) return -1;
  if (is_active_menu_item(menu.source[idx])) {
    free_user_layout(ctx, menu.layout[idx]);
    menu.look_in_use[menu.source[idx] - W_ACTIVE_MENU1] = false;
  }
  for (int j = idx; j + 1 < kMenuSlots && j + 1 < menu.count; ++j) {
    menu.source[j] = menu.source[j + 1];
    menu.layout[j] = menu.layout[j + 1];
    copy_widget_look(kMain, W_USER_MENU_FIRST + j + 1, W_USER_MENU_FIRST + j);
    set_widget_attr(kMain, W_USER_MENU_FIRST + j, 1, 0);
    set_widget_attr(kMain, W_USER_MENU_FIRST + j, 4, 1);
  }
  menu.count -= 1;
  for (int j = menu.count; j < kMenuSlots; ++j) {
    menu.source[j] = 0;
    menu.layout[j] = 0;
    copy_widget_look(kMain, W_INACTIVE_MENU, W_USER_MENU_FIRST + j);
    set_widget_attr(kMain, W_USER_MENU_FIRST + j, 4, 1);
    set_widget_attr(kMain, W_USER_MENU_FIRST + j, 1, 0);
  }
  menu.first = menu.next = menu.count % kMenuSlots;
  draw_user_menu(ctx);
  return 0;
}

int user_menu_source(int slot) {
  if (slot == 0) return -1;
  if (menu.count == 0) return -2;
  const int idx = slot - W_USER_MENU_FIRST;
  return idx >= 0 && idx < kMenuSlots ? menu.source[idx] : -1;
}

int user_menu_layout(int slot) {
  const int idx = slot - W_USER_MENU_FIRST;
  return idx >= 0 && idx < kMenuSlots ? menu.layout[idx] : -1;
}

int mirror_user_menu_entry(APP_CONTEXT*, int slot) {
  const int idx = slot - W_USER_MENU_FIRST;
  if (idx < 0 || idx >= kMenuSlots || menu.source[idx] == 0) return -1;
  const int src = menu.source[idx];
  set_widget_attr(kMain, src, 3, static_cast<uint8_t>(get_widget_attr(kMain, slot, 3)));
  if (SKIN_WIDGET* w = get_skin_widget(kMain, src)) w->state = get_widget_state(kMain, slot);
  return 0;
}

void mirror_user_menu(APP_CONTEXT*) {
  for (int i = 0; i < kMenuSlots; ++i) {
    if (menu.source[i] == 0) continue;
    const int slot = W_USER_MENU_FIRST + i;
    set_widget_attr(kMain, slot, 3,
                    static_cast<uint8_t>(get_widget_attr(kMain, menu.source[i], 3)));
    if (SKIN_WIDGET* w = get_skin_widget(kMain, slot))
      w->state = get_widget_state(kMain, menu.source[i]);
  }
}

int register_layout_in_menu(APP_CONTEXT* ctx) {
  if (!menu.ready) init_user_menu();
  for (int i = 0; i < kMenuSlots; ++i)
    if (menu.source[i] != 0 && menu.layout[i] == ctx->layout) {
      debug_message("Layout already registered in user menu.");
      return -1;
    }
  if (menu.count >= kMenuSlots) {
    error_box("Maximum register in user menu.");
    return -2;
  }
  int look = 0;
  while (look < kMenuSlots && menu.look_in_use[look]) ++look;
  if (look == kMenuSlots) {
    error_box("Maximum register in user menu.");
    return -2;
  }
  const int slot = add_user_menu_entry(ctx, W_ACTIVE_MENU1 + look);
  // A look is used up only by an entry that was added; a refusal leaves it free.
  if (slot > 0) {
    menu.layout[slot - W_USER_MENU_FIRST] = ctx->layout;
    mark_layout_registered(ctx);
    menu.look_in_use[look] = true;
  }
  return 0;
}

int select_menu_layout(APP_CONTEXT* ctx, int slot) {
  const int layout = user_menu_layout(slot);
  if (layout > 0) set_layout(ctx, layout);
  return 0;
}

int user_menu_count() { return menu.count; }

void reset_user_menu() { menu = UserMenu{}; }
