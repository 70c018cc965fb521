#include "client/screens/layouts.h"

#include <cstdio>
#include <cstring>

#include "client/foundation/channel_table.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sdl_lock.h"
#include "client/screens/panel.h"
#include "client/screens/skin.h"
#include "client/screens/tiles.h"

namespace {

bool valid_layout_number(int n) { return n >= 0 && n < NUM_LAYOUTS; }

DISPLAY_LAYOUT* current_layout_or_null(APP_CONTEXT* ctx) {
  return valid_layout_number(ctx->layout) ? &ctx->layouts[ctx->layout] : nullptr;
}

int current_cells(const APP_CONTEXT* ctx) { return get_layout_cells(ctx, ctx->layout); }

// The common tail of every page or layout step.
void show_page(APP_CONTEXT* ctx) {
  clear_channel_selection(ctx);
  update_shown_masks(ctx);
  redraw_all_channels(ctx);
}

int scale_to_unit(int value, double ratio, int unit) {
  double v = value * ratio;
  if (v < 0) v = 0;
  if (v > 32767) v = 32767;
  return round_to_step(static_cast<int>(v + 0.5), unit);
}

}  // namespace

int get_layout_cells(const APP_CONTEXT* ctx, int n) {
  if (!ctx || !valid_layout_number(n)) return 0;
  uint32_t c = ctx->layouts[n].num_cells;
  return c > MAX_LAYOUT_CELLS ? MAX_LAYOUT_CELLS : static_cast<int>(c);
}

int build_grid_layouts(APP_CONTEXT* ctx) {
  const int W = ctx->video_rect.w, H = ctx->video_rect.h;
  for (int g = 1; g <= 12; ++g) {
    DISPLAY_LAYOUT& l = ctx->layouts[g];
    l.num_cells = static_cast<uint32_t>(g * g);
    l.id = static_cast<uint32_t>(g);
    l.registered = 1;
    l.grid = static_cast<uint32_t>(g);
    for (int k = 0; k < g * g; ++k) {
      l.cells[k].x = static_cast<int16_t>((k % g) * (W / g));
      l.cells[k].y = static_cast<int16_t>((k / g) * (H / g));
      l.cells[k].w = static_cast<uint16_t>(W / g);
      l.cells[k].h = static_cast<uint16_t>(H / g);
    }
  }
  // A window that has never chosen a layout starts with the 4 x 4 grid.
  if (get_layout_cells(ctx, ctx->layout) == 0) ctx->layout = 4;
  return 0;
}

void rescale_user_layouts(APP_CONTEXT* ctx) {
  SDL_Rect skin = get_video_rect(ctx->skin_window);
  const double SW = skin.w, SH = skin.h, DW = ctx->desktop_w, DH = ctx->desktop_h;
  // Without a skin (or before the desktop is known) there is no pair of sizes to scale
  // between; the layouts stay as they are rather than dividing by zero.
  if (SW <= 0 || SH <= 0 || DW <= 0 || DH <= 0) return;
  const double rx = ctx->fullscreen ? DW / SW : SW / DW;
  const double ry = ctx->fullscreen ? DH / SH : SH / DH;
  const int W = ctx->video_rect.w, H = ctx->video_rect.h;
  for (int n = FIRST_USER_LAYOUT; n <= LAST_USER_LAYOUT; ++n) {
    DISPLAY_LAYOUT& l = ctx->layouts[n];
    int cells = get_layout_cells(ctx, n);
    if (cells == 0 || l.grid == 0) continue;
    const int uw = W / static_cast<int>(l.grid), uh = H / static_cast<int>(l.grid);
    if (uw <= 0 || uh <= 0) continue;
    for (int k = 0; k < cells; ++k) {
      RECT16& c = l.cells[k];
      c.x = static_cast<int16_t>(scale_to_unit(c.x, rx, uw));
      c.w = static_cast<uint16_t>(scale_to_unit(c.w, rx, uw));
      c.y = static_cast<int16_t>(scale_to_unit(c.y, ry, uh));
      c.h = static_cast<uint16_t>(scale_to_unit(c.h, ry, uh));
    }
  }
}

int set_layout(APP_CONTEXT* ctx, int n) {
  if (n < 1 || n >= NUM_LAYOUTS) {
    printf("Layout is out-of-bounds.\n");
    return -1;
  }
  int cells = get_layout_cells(ctx, n);
  if (cells == 0) {
    printf("Invalid layout.\n");
    return -2;
  }
  ctx->layout = n;
  ctx->page = 0;
  if (ctx->single_view == 1 && cells >= 2) ctx->single_view = 0;
  update_shown_masks(ctx);
  clear_channel_selection(ctx);
  clear_channel_audio(ctx);
  redraw_all_channels(ctx);
  return 0;
}

static void after_layout_step(APP_CONTEXT* ctx, int n) {
  ctx->layout = n;
  int cells = get_layout_cells(ctx, n);
  // A page past the channels would show an empty grid; page 0 then, as for a page number
  // beyond the new cell count.
  if (ctx->page >= cells || ctx->page * cells >= ctx->num_channels) ctx->page = 0;
  if (ctx->single_view == 1 && cells >= 2) ctx->single_view = 0;
  show_page(ctx);
}

int layout_up(APP_CONTEXT* ctx) {
  if (ctx->layout >= 6) return -1;
  int n = ctx->layout;
  for (int i = 0; i < NUM_LAYOUTS; ++i) {
    n = (n + 1) % NUM_LAYOUTS;
    if (get_layout_cells(ctx, n) > 0) break;
  }
  if (get_layout_cells(ctx, n) == 0) return -1;
  after_layout_step(ctx, n);
  return 0;
}

int layout_down(APP_CONTEXT* ctx) {
  if (ctx->layout < 2) return -1;
  int n = ctx->layout;
  for (int i = 0; i < NUM_LAYOUTS; ++i) {
    n = (n + NUM_LAYOUTS - 1) % NUM_LAYOUTS;
    if (get_layout_cells(ctx, n) > 0) break;
  }
  if (get_layout_cells(ctx, n) == 0) return -1;
  after_layout_step(ctx, n);
  return 0;
}

int set_layout_page(APP_CONTEXT* ctx, int p) {
  const int c = ctx->num_channels;
  if (c <= 0) return -1;
  if (p < 0) return -2;
  const long long cells = current_cells(ctx);
  ctx->page = (cells * p >= c) ? 0 : p;
  show_page(ctx);
  return 0;
}

// Steps the enlarged channel of the picture-in-picture view past the one in the tile. With
// a single channel no other channel exists, so at most c steps are taken.
static void step_enlarged(APP_CONTEXT* ctx, int dir) {
  const int c = ctx->num_channels;
  int id = ctx->single_channel;
  for (int i = 0; i < c; ++i) {
    id = dir > 0 ? (id + 1) % c : (c + id - 1) % c;
    if (id < 0) id += c;
    if (id != ctx->page) break;
  }
  ctx->single_channel = id;
  update_shown_masks(ctx);
}

static int page_checks(APP_CONTEXT* ctx) {
  if (ctx->num_channels <= 0) return -1;
  if (current_cells(ctx) == 0) return -2;
  if (ctx->num_channels < current_cells(ctx)) return -3;
  return 0;
}

int next_page(APP_CONTEXT* ctx) {
  if (int rc = page_checks(ctx)) return rc;
  if (ctx->single_view == 1) {
    step_enlarged(ctx, 1);
    return 0;
  }
  const int n = current_cells(ctx), c = ctx->num_channels;
  const int pages = c / n;
  ctx->page = (ctx->page + 1) % pages;
  if (ctx->page * n >= c) ctx->page = 0;
  show_page(ctx);
  return 0;
}

int prev_page(APP_CONTEXT* ctx) {
  if (int rc = page_checks(ctx)) return rc;
  if (ctx->single_view == 1) {
    step_enlarged(ctx, -1);
    return 0;
  }
  const int n = current_cells(ctx), c = ctx->num_channels;
  const int pages = c / n;
  int page = ctx->page;
  if (page < 0 || page >= pages) page = 0;
  // One page back, wrapping from the first to the last full page.
  page = (page + pages - 1) % pages;
  while (page > 0 && page * n >= c) --page;
  ctx->page = page;
  show_page(ctx);
  return 0;
}

int rotate_selected_channels(APP_CONTEXT* ctx) {
  int32_t ids[MAX_RECEIVERS * MAX_CHANNELS];
  int m = 0;
  for_each_channel(ctx, [&](RECEIVER_INFO&, CHANNEL_INFO& ch, int) {
    if (ch.selected) ids[m++] = ch.id;
  });
  if (m == 0) return -1;
  int j = 0;
  for_each_channel(ctx, [&](RECEIVER_INFO&, CHANNEL_INFO& ch, int) {
    if (ch.selected) {
      ch.id = ids[(j + m - 1) % m];
      ++j;
    }
  });
  clear_channel_selection(ctx);
  update_shown_masks(ctx);
  redraw_all_channels(ctx);
  return 0;
}

int find_free_user_layout(const APP_CONTEXT* ctx) {
  for (int n = FIRST_USER_LAYOUT; n <= LAST_USER_LAYOUT; ++n)
    if (ctx->layouts[n].registered == 0) return n;
  return -1;
}

void copy_current_layout(APP_CONTEXT* ctx, int n) {
  const DISPLAY_LAYOUT* cur = current_layout_or_null(ctx);
  if (!cur || n < FIRST_USER_LAYOUT || n > LAST_USER_LAYOUT) return;
  if (cur != &ctx->layouts[n]) ctx->layouts[n] = *cur;
  ctx->layouts[n].id = static_cast<uint32_t>(n);
  ctx->layouts[n].registered = 0;
}

void mark_layout_registered(APP_CONTEXT* ctx) {
  if (DISPLAY_LAYOUT* cur = current_layout_or_null(ctx)) cur->registered = 1;
}

int free_user_layout(APP_CONTEXT* ctx, int n) {
  if (n < FIRST_USER_LAYOUT || n > LAST_USER_LAYOUT) return -1;
  ctx->layouts[n].registered = 0;
  return 0;
}

int split_channel_cell(APP_CONTEXT* ctx, int channel_id) {
  int u = find_free_user_layout(ctx);
  if (u < 0) return -1;
  if (ctx->layout >= 9 && ctx->layout <= 12) return -2;
  const int count = current_cells(ctx);
  // Three more cells must still fit the 144 of a layout record.
  if (count == 0 || count + 3 > MAX_LAYOUT_CELLS) return -3;
  if (channel_id < 0) return -4;
  copy_current_layout(ctx, u);
  DISPLAY_LAYOUT& l = ctx->layouts[u];
  const int k = channel_id % count;
  RECT16 half = l.cells[k];
  half.w = static_cast<uint16_t>(half.w / 2);
  half.h = static_cast<uint16_t>(half.h / 2);
  l.cells[k] = half;
  const int dx[3] = {half.w, 0, half.w}, dy[3] = {0, half.h, half.h};
  for (int i = 0; i < 3; ++i) {
    RECT16 c = half;
    c.x = static_cast<int16_t>(c.x + dx[i]);
    c.y = static_cast<int16_t>(c.y + dy[i]);
    l.cells[count + i] = c;
  }
  l.num_cells = static_cast<uint32_t>(count + 3);
  // Keep the finest grid unit so that rescaling rounds to the new cell size.
  if (l.grid > 0 && l.grid < 6) l.grid *= 2;
  return set_layout(ctx, u);
}

void split_selected_cells(APP_CONTEXT* ctx) {
  // Each split re-shows the layout, which clears the selection: take the ids first.
  int32_t ids[MAX_RECEIVERS * MAX_CHANNELS];
  int m = 0;
  for_each_channel(ctx, [&](RECEIVER_INFO&, CHANNEL_INFO& ch, int) {
    if (ch.selected) ids[m++] = ch.id;
  });
  for (int i = 0; i < m; ++i) split_channel_cell(ctx, ids[i]);
}

int set_merge_rect(APP_CONTEXT* ctx, int cell_a, int cell_b) {
  const int count = current_cells(ctx);
  if (cell_a < 0 || cell_a >= count || cell_b < 0 || cell_b >= count) return -2;
  const DISPLAY_LAYOUT& l = ctx->layouts[ctx->layout];
  const RECT16 a = l.cells[cell_a], b = l.cells[cell_b];
  int left = a.x < b.x ? a.x : b.x;
  int top = a.y < b.y ? a.y : b.y;
  int right = a.x + a.w > b.x + b.w ? a.x + a.w : b.x + b.w;
  int bottom = a.y + a.h > b.y + b.h ? a.y + a.h : b.y + b.h;
  const int uw = a.w < b.w ? a.w : b.w, uh = a.h < b.h ? a.h : b.h;
  if (uw <= 0 || uh <= 0) return -2;
  const int cols = (right - left) / uw, rows = (bottom - top) / uh;
  if (rows > cols) bottom = top + cols * uh;
  if (rows < cols) right = left + rows * uw;
  if (right > ctx->video_rect.w || bottom > ctx->video_rect.h) return -3;
  for (int i = 0; i < count; ++i) {
    const RECT16& c = l.cells[i];
    const int cr = c.x + c.w, cb = c.y + c.h;
    const bool overlaps = c.x < right && cr > left && c.y < bottom && cb > top;
    const bool inside = c.x >= left && cr <= right && c.y >= top && cb <= bottom;
    if (overlaps && !inside) return -4;
  }
  ctx->merge_rect = {static_cast<int16_t>(left), static_cast<int16_t>(top),
                     static_cast<uint16_t>(right - left), static_cast<uint16_t>(bottom - top)};
  return create_selection_frame(ctx, right - left, bottom - top);
}

int merge_cells(APP_CONTEXT* ctx) {
  int u = find_free_user_layout(ctx);
  if (u < 0) {
    debug_message("Too many user layouts already defined.");
    return -1;
  }
  if (ctx->layout == 1 || ctx->layout == 2) {
    debug_message("Can't merge at 1 or 4 layouts.");
    return -2;
  }
  const RECT16 m = ctx->merge_rect;
  if (m.w == 0 || m.h == 0) return -3;
  copy_current_layout(ctx, u);
  DISPLAY_LAYOUT& l = ctx->layouts[u];
  int count = get_layout_cells(ctx, u);
  int removed = 0;
  bool kept = false;
  for (int i = 0; i < count; ++i) {
    RECT16& c = l.cells[i];
    if (!kept && c.x == m.x && c.y == m.y) {
      c.w = m.w;
      c.h = m.h;
      kept = true;
    } else if (c.x >= m.x && c.x < m.x + m.w && c.y >= m.y && c.y < m.y + m.h) {
      c = {0, 0, 0, 0};
      ++removed;
    }
  }
  // Close the gaps, keeping the order of the remaining cells.
  int out = 0;
  for (int i = 0; i < count; ++i)
    if (l.cells[i].w != 0 || l.cells[i].h != 0) l.cells[out++] = l.cells[i];
  for (int i = out; i < count; ++i) l.cells[i] = {0, 0, 0, 0};
  l.num_cells = static_cast<uint32_t>(count - removed);
  ctx->merge_rect = {0, 0, 0, 0};
  set_layout(ctx, u);
  return 1;
}

int create_selection_frame(APP_CONTEXT* ctx, int w, int h) {
  if (w <= 0 || h <= 0) return -1;
  SdlLock lock(ctx->selection_mutex);
  SDL_Surface*& frame = ctx->surfaces[SURF_SELECTION];
  if (frame && (frame->w != w || frame->h != h)) {
    SDL_FreeSurface(frame);
    frame = nullptr;
  }
  if (!frame) frame = create_tile_surface(ctx, w, h);
  if (!frame) {
    printf("SDL_CreateRGBSurface() failed.\n");
    return -1;
  }
  SDL_SetColorKey(frame, SDL_SRCCOLORKEY, 0);
  SDL_SetAlpha(frame, 0, SDL_ALPHA_OPAQUE);
  const Uint32 red = SDL_MapRGB(frame->format, 255, 0, 0);
  const Uint32 black = SDL_MapRGB(frame->format, 0, 0, 0);
  SDL_FillRect(frame, nullptr, red);
  fill_rect(frame, 2, 2, w - 4, h - 4, black);
  for (int x = 4; x < w - 4; x += 8) {
    fill_rect(frame, x, 0, 4, 2, black);
    fill_rect(frame, x, h - 2, 4, 2, black);
  }
  for (int y = 4; y < h - 4; y += 8) {
    fill_rect(frame, 0, y, 2, 4, black);
    fill_rect(frame, w - 2, y, 2, 4, black);
  }
  return 0;
}
