// Video tiles (tiles.h): the surfaces and the window, the channels' cells and the views,
// selection, and the hooks handed to the decoder threads and the connections. The picture
// adjustments and zoom are in tile_adjust.cpp, the saving in tile_save.cpp, the refresh timer
// in refresh_timer.cpp; tiles_internal.h holds what they share. The panel's own connection
// hooks are in panel_hooks.cpp.
#include "client/screens/tiles.h"

#include <SDL/SDL_syswm.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "client/foundation/channel_table.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sdl_lock.h"
#include "client/foundation/user_events.h"
#include "client/links/connection.h"
#include "client/links/decoder_thread.h"
#include "client/links/recording.h"
#include "client/links/video_adjust.h"
#include "client/screens/layouts.h"
#include "client/screens/master_link.h"
#include "client/screens/osd.h"
#include "client/screens/panel.h"
#include "client/screens/panel_hooks.h"
#include "client/screens/skin.h"
#include "client/screens/tiles_internal.h"

namespace tiles_internal {

SDL_Rect to_sdl(const RECT16& r) { return SDL_Rect{r.x, r.y, r.w, r.h}; }

SDL_Surface* video_surface(APP_CONTEXT* ctx) { return ctx->surfaces[SURF_VIDEO]; }

int lookup(APP_CONTEXT* ctx, int32_t id, RECEIVER_INFO** rx_out, CHANNEL_INFO** ch_out) {
  RECEIVER_INFO* rx = find_receiver_by_channel(ctx, id);
  if (!rx) return -2;
  int k = find_channel(rx, id);
  if (k < 0 || k >= MAX_CHANNELS) return -3;
  *rx_out = rx;
  *ch_out = &rx->channels[k];
  return 0;
}

int clamp_int(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace tiles_internal

using namespace tiles_internal;

namespace {

constexpr Uint32 rgb(int r, int g, int b) {
  return (static_cast<Uint32>(r) << 16) | (static_cast<Uint32>(g) << 8) | static_cast<Uint32>(b);
}
constexpr Uint32 kYellow = rgb(255, 255, 0);
constexpr Uint32 kBlack = rgb(0, 0, 0);
constexpr Uint32 kWhite = rgb(255, 255, 255);
constexpr Uint32 kGrey64 = rgb(64, 64, 64);
constexpr Uint32 kGrey128 = rgb(128, 128, 128);

Uint32 map_rgb(SDL_Surface* s, Uint32 c) {
  return SDL_MapRGB(s->format, (c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
}

// The part of a 'Q' picture that carries video: the DVRs pad their frames with a border.
SDL_Rect crop_q_picture(SDL_Rect src, int total_channels) {
  const int w = src.w, h = src.h;
  if (w == 720) {
    src.x = static_cast<Sint16>(src.x + 12);
    src.w = static_cast<Uint16>(w > 16 ? w - 16 : w);
  } else {
    src.x = static_cast<Sint16>(src.x + 4);
    src.w = static_cast<Uint16>(w > 6 ? w - 6 : w);
  }
  const bool tall = h > 288;
  src.y = static_cast<Sint16>(src.y + (tall ? 16 : 8));
  int cut = total_channels == 8 ? (tall ? 16 : 8) : (tall ? 32 : 16);
  src.h = static_cast<Uint16>(h > cut ? h - cut : h);
  return src;
}

// Draws `picture` at alpha 224, centred horizontally in the cell, its bottom 2 pixels above
// the cell's bottom.
void draw_state_image(SDL_Surface* video, SDL_Surface* picture, const RECT16& cell) {
  if (!video || !picture) return;
  int x = cell.x;
  if (cell.w > picture->w) x += (cell.w - picture->w) / 2;
  int y = cell.y + cell.h - picture->h - 2;
  SDL_SetAlpha(picture, SDL_SRCALPHA, 224);
  SDL_Rect dst{static_cast<Sint16>(x), static_cast<Sint16>(y), 0, 0};
  SDL_BlitSurface(picture, nullptr, video, &dst);
  SDL_SetAlpha(picture, 0, SDL_ALPHA_OPAQUE);
}

const char* mark_name(int layout, const char* base, char* out, size_t cap) {
  if (layout >= 4 && layout <= 7)
    snprintf(out, cap, "%s_22", base);
  else if (layout >= 8 && layout <= 12)
    snprintf(out, cap, "%s_11", base);
  else
    snprintf(out, cap, "%s", base);
  return out;
}

void draw_marks(APP_CONTEXT* ctx, SDL_Surface* video, const CHANNEL_INFO& ch) {
  const char* bases[4];
  int n = 0;
  if (ch.recording) bases[n++] = "record_icon";
  if (ch.surface && ch.pic_rect.w != 0 && ch.pic_rect.w != ch.surface->w)
    bases[n++] = "zoomed_icon";
  const bool blink_on = frac_part(ch.frame_time) < 0.75;
  const uint8_t marks = ch.event_marks.load();
  if ((marks & 0x02) && blink_on) bases[n++] = "motion_icon";
  if ((marks & 0x20) && blink_on) bases[n++] = "sensor_icon";
  int right = ch.rect.x + ch.rect.w - 2;
  for (int i = 0; i < n; ++i) {
    char name[64];
    SDL_Surface* pic =
        find_widget_by_name(ctx->skin_window, mark_name(ctx->layout, bases[i], name, sizeof name));
    if (!pic) continue;
    if (ctx->layout < 4) SDL_SetColorKey(pic, SDL_SRCCOLORKEY, SDL_MapRGB(pic->format, 0, 0, 0));
    right -= pic->w;
    SDL_Rect dst{static_cast<Sint16>(right), static_cast<Sint16>(ch.rect.y + 2), 0, 0};
    SDL_BlitSurface(pic, nullptr, video, &dst);
  }
}

// A blank tile: grey frame, darker inside.
void draw_blank_cell(APP_CONTEXT* ctx, const RECT16& cell) {
  SDL_Surface* video = video_surface(ctx);
  if (!video || cell.w < 3 || cell.h < 3) return;
  if (create_display_frame(ctx, cell.w, cell.h, kGrey128, kGrey64) != 0) return;
  SDL_Rect dst = to_sdl(cell);
  SDL_BlitSurface(ctx->surfaces[SURF_FRAME], nullptr, video, &dst);
}

// Decoder hooks: a fresh picture of `ch` goes into its tile, or into the enlarged window.
int hook_draw_channel(APP_CONTEXT* ctx, RECEIVER_INFO* rx, CHANNEL_INFO* ch) {
  if (ctx->single_view != VIEW_TILES && ch->id == ctx->single_channel) return draw_pip_window(ctx);
  if (!is_on_current_page(ctx, ch->id)) return -1;
  if (int rc = draw_channel(rx, ch->id)) return rc;
  render_osd_text(rx, ch->id);
  update_channel_cell(rx, ch->id);
  // Pictures still queued when the link dropped are decoded after its notice drew the
  // "connecting" mark: they keep the mark until the link is up again, so a dropped DVR's
  // tiles show its state rather than a picture that looks live.
  const int32_t status = rx->status.load();
  const int k = static_cast<int>(ch - rx->channels);
  if ((status == RX_FAILED || status == RX_CONNECTING) && (rx->channel_mask & (1u << k)))
    draw_state_image(video_surface(ctx), find_widget_by_name(ctx->skin_window, "connecting"),
                     ch->rect);
  return 0;
}

void hook_redraw_receiver(APP_CONTEXT* ctx, RECEIVER_INFO* rx) {
  const uint32_t nv = rx->num_video > MAX_CHANNELS ? MAX_CHANNELS : rx->num_video;
  for (uint32_t k = 0; k < nv; ++k) {
    CHANNEL_INFO& ch = rx->channels[k];
    if (ch.video_state.load() == VIDEO_PRESENT && is_on_current_page(ctx, ch.id))
      hook_draw_channel(ctx, rx, &ch);
  }
}

}  // namespace

void install_tile_hooks() {
  DECODER_HOOKS hooks{};
  hooks.draw_channel = hook_draw_channel;
  hooks.redraw_receiver = hook_redraw_receiver;
  set_decoder_hooks(hooks);
  CONNECTION_HOOKS conn{};
  conn.load_receiver_fonts = [](RECEIVER_INFO* rx) {
    // Camera name, DVR name, frame time and picture size on every tile.
    rx->osd_mask = 0x0F;
    load_osd_fonts(rx, app_options.program_dir);
  };
  conn.set_layout = [](APP_CONTEXT* ctx, int layout) { set_layout(ctx, layout); };
  conn.send_channels_to_master = hand_back_channels;
  conn.after_stop = [](APP_OPTIONS* opts) {
    APP_CONTEXT* ctx = opts->context ? opts->context : &app_context;
    fade_display(ctx);
    hide_wait_indicator(ctx);
    redraw_all_channels(ctx);
    hide_network_indicator(ctx);
  };
  conn.after_connect = panel_after_connect;
  conn.after_disconnect = panel_after_disconnect;
  set_connection_hooks(conn);
  set_recording_hooks({switch_q_dvrs_on, switch_q_dvrs_off});
}

// ---------------------------------------------------------------- helpers

SDL_Surface* create_tile_surface(const APP_CONTEXT* ctx, int w, int h) {
  if (w <= 0 || h <= 0) return nullptr;
  const SDL_PixelFormat& f = ctx->pixel_format;
  Uint32 rm = 0xFF0000, gm = 0xFF00, bm = 0xFF;
  if (f.BitsPerPixel == 32 && (f.Rmask | f.Gmask | f.Bmask) != 0) {
    rm = f.Rmask;
    gm = f.Gmask;
    bm = f.Bmask;
  }
  return SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 32, rm, gm, bm, 0);
}

void fill_rect(SDL_Surface* dst, int x, int y, int w, int h, Uint32 colour) {
  if (!dst || w <= 0 || h <= 0) return;
  int x0 = clamp_int(x, 0, dst->w), y0 = clamp_int(y, 0, dst->h);
  int x1 = clamp_int(x + w, 0, dst->w), y1 = clamp_int(y + h, 0, dst->h);
  if (x1 <= x0 || y1 <= y0) return;
  SDL_Rect r{static_cast<Sint16>(x0), static_cast<Sint16>(y0), static_cast<Uint16>(x1 - x0),
             static_cast<Uint16>(y1 - y0)};
  SDL_FillRect(dst, &r, colour);
}

static bool clamp_rect(const SDL_Surface* s, SDL_Rect* r) {
  int x0 = clamp_int(r->x, 0, s->w), y0 = clamp_int(r->y, 0, s->h);
  int x1 = clamp_int(r->x + r->w, 0, s->w), y1 = clamp_int(r->y + r->h, 0, s->h);
  if (x1 <= x0 || y1 <= y0) return false;
  *r = SDL_Rect{static_cast<Sint16>(x0), static_cast<Sint16>(y0), static_cast<Uint16>(x1 - x0),
                static_cast<Uint16>(y1 - y0)};
  return true;
}

bool clamp_stretch_rects(const SDL_Surface* from, SDL_Rect* src, const SDL_Surface* to,
                         SDL_Rect* dst) {
  if (!from || !to || !src || !dst) return false;
  return clamp_rect(from, src) && clamp_rect(to, dst);
}

int stretch_blit(SDL_Surface* from, SDL_Rect src, SDL_Surface* to, SDL_Rect dst) {
  if (!from || !to || from == to) return -1;
  if (from->format->BytesPerPixel != to->format->BytesPerPixel) return -1;
  if (!clamp_stretch_rects(from, &src, to, &dst)) return -1;
  return SDL_SoftStretch(from, &src, to, &dst) == 0 ? 0 : -1;
}

// ---------------------------------------------------------------- window and surfaces

void set_window_geometry(APP_CONTEXT* ctx, int width, int height) {
  if (ctx->fullscreen && ctx->desktop_w > 0 && ctx->desktop_h > 0) {
    ctx->win_w = ctx->desktop_w;
    ctx->win_h = ctx->desktop_h;
    ctx->video_rect = {0, 0, static_cast<uint16_t>(ctx->desktop_w),
                       static_cast<uint16_t>(ctx->desktop_h)};
    return;
  }
  SDL_Rect skin_size = get_skin_size(ctx->skin_window);
  if (ctx->skin && skin_size.w > 0 && skin_size.h > 0) {
    SDL_Rect v = get_video_rect(ctx->skin_window);
    ctx->win_w = skin_size.w;
    ctx->win_h = skin_size.h;
    ctx->video_rect = {v.x, v.y, v.w, v.h};
    return;
  }
  if (width <= 0 || height <= 0) {
    width = 640;
    height = 480;
  }
  ctx->win_w = width;
  ctx->win_h = height;
  ctx->video_rect = {0, 0, static_cast<uint16_t>(width), static_cast<uint16_t>(height)};
}

int create_video_mode(APP_CONTEXT* ctx) {
  static bool hooks_installed = false;
  if (!hooks_installed) {
    // Before the first connection starts any decoder thread.
    install_tile_hooks();
    hooks_installed = true;
  }
  Uint32 flags = SDL_ANYFORMAT;
  if (ctx->fullscreen)
    flags |= SDL_NOFRAME;
  else
    flags |= SDL_HWACCEL | SDL_ASYNCBLIT | (ctx->frame ? SDL_RESIZABLE : SDL_NOFRAME);
  // A fatal box waits for the operator: it is shown after the display mutex is let go, so
  // the refresh timer and the decoders are not held up behind it.
  const char* fatal = nullptr;
  int rc = 0;
  {
    SdlLock display(ctx->display_mutex);
    if (ctx->surfaces[SURF_SCREEN]) {
      printf("Destroying primary surface.\n");
      ctx->surfaces[SURF_SCREEN] = nullptr;  // owned by SDL, replaced by the next mode
    }
    if (ctx->surfaces[SURF_VIDEO]) {
      printf("Destroying video surface.\n");
      SDL_FreeSurface(ctx->surfaces[SURF_VIDEO]);
      ctx->surfaces[SURF_VIDEO] = nullptr;
    }
    printf("Creating primary surface.\n");
    SDL_Surface* screen = SDL_SetVideoMode(ctx->win_w, ctx->win_h, 32, flags);
    if (!screen) {
      fatal = "SDL_SetVideoMode() failed.\n";
      rc = -1;
    } else {
      ctx->surfaces[SURF_SCREEN] = screen;
      ctx->pixel_format = *screen->format;
      ctx->pixel_format.palette = nullptr;
      if (screen->format->BitsPerPixel != 32) {
        fatal = "The bit depth of the display is not supported.\n";
        rc = -2;
      }
    }
    if (!fatal) {
      printf("Creating video surface.\n");
      ctx->surfaces[SURF_VIDEO] = create_tile_surface(ctx, ctx->video_rect.w, ctx->video_rect.h);
      if (!ctx->surfaces[SURF_VIDEO]) {
        fatal = "SDL_CreateRGBSurface() failed.\n";
        rc = -1;
      }
    }
    if (!fatal) {
      ctx->dirty.store(1);
      // Decoder threads halve wide pictures into the work surface under this mutex: it is
      // replaced inside the same section, never while one of them draws through it.
      if (ctx->surfaces[SURF_WORK]) SDL_FreeSurface(ctx->surfaces[SURF_WORK]);
      ctx->surfaces[SURF_WORK] = create_tile_surface(ctx, ctx->win_w, ctx->win_h);
    }
  }
  if (fatal) {
    fatal_box(fatal);
    return rc;
  }
  printf(ctx->surfaces[SURF_SCREEN]->flags & SDL_HWSURFACE ? "Hardware surface created!\n"
                                                           : "Can't get a hardware surface!\n");
  if (!ctx->surfaces[SURF_WORK]) {
    fatal_box("SDL_CreateRGBSurface() failed.\n");
    return -3;
  }
  if (!ctx->fullscreen && ctx->skin && ctx->win_w > 0 && ctx->win_h > 0) {
    SdlLock display(ctx->display_mutex);
    draw_skin_window(ctx->surfaces[SURF_SCREEN], ctx->skin_window);
  }
  return 0;
}

void set_window_size(APP_CONTEXT* ctx, int width, int height, int keep43) {
  if (keep43) height = static_cast<int>(width / 1.3333333333333333);
  set_window_geometry(ctx, width, height);
  build_grid_layouts(ctx);
  if (create_video_mode(ctx) != 0) return;
  redraw_all_channels(ctx);
}

bool in_video_rect(const APP_CONTEXT* ctx, int x, int y) {
  const RECT16& v = ctx->video_rect;
  return x >= v.x && x < v.x + v.w && y >= v.y && y < v.y + v.h;
}

void fit_window_to_decoder_notice(APP_CONTEXT* ctx, const SDL_Event& ev) {
  int w = 0, h = 0;
  frame_size_of(ev, &w, &h);
  if (w > 0 && h > 0) set_window_size(ctx, w, h, 1);
}

int toggle_fullscreen(APP_CONTEXT* ctx) {
  if (!ctx->fullscreen) {
    if (ctx->video_rect.w == 0 || ctx->video_rect.h == 0) return -1;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWMInfo(&info) <= 0) return -1;
    if (ctx->desktop_w <= 0 || ctx->desktop_h <= 0) {
      // The largest full-screen mode is the desktop under X11.
      SDL_Rect** modes = SDL_ListModes(nullptr, SDL_FULLSCREEN);
      if (!modes || modes == reinterpret_cast<SDL_Rect**>(-1) || !modes[0]) return -1;
      ctx->desktop_w = modes[0]->w;
      ctx->desktop_h = modes[0]->h;
    }
    const double aspect = static_cast<double>(ctx->video_rect.w) / ctx->video_rect.h;
    ctx->saved_w = ctx->win_w;
    ctx->saved_h = static_cast<int>(ctx->win_w / aspect);
  }
  ctx->fullscreen = !ctx->fullscreen;
  set_window_geometry(ctx, ctx->saved_w, ctx->saved_h);
  build_grid_layouts(ctx);
  rescale_user_layouts(ctx);
  if (create_video_mode(ctx) != 0) return -1;
  redraw_all_channels(ctx);
  return 0;
}

void fade_display(APP_CONTEXT* ctx) {
  SDL_Surface* shade;
  {
    SdlLock display(ctx->display_mutex);
    shade = create_tile_surface(ctx, ctx->video_rect.w, ctx->video_rect.h);
  }
  if (!shade) return;
  SDL_FillRect(shade, nullptr, SDL_MapRGB(shade->format, 32, 32, 32));
  SDL_SetAlpha(shade, SDL_SRCALPHA, 64);
  ModalWait modal;  // half a second of the window loop, on top of the disconnect before it
  for (int i = 0; i < 20; ++i) {
    {
      SdlLock display(ctx->display_mutex);
      SDL_Surface* video = video_surface(ctx);
      if (video && video->w == shade->w && video->h == shade->h) {
        SDL_BlitSurface(shade, nullptr, video, nullptr);
        ctx->dirty.store(1);
      }
    }
    SDL_Delay(25);
  }
  SDL_FreeSurface(shade);
}

// ---------------------------------------------------------------- channels and cells

void place_channel_cell(APP_CONTEXT* ctx, CHANNEL_INFO* ch) {
  const int cells = get_layout_cells(ctx, ctx->layout);
  if (cells == 0 || ch->id < 0) return;
  ch->rect = ctx->layouts[ctx->layout].cells[ch->id % cells];
}

int create_display_frame(APP_CONTEXT* ctx, int w, int h, Uint32 border_rgb, Uint32 inner_rgb) {
  SDL_Surface*& frame = ctx->surfaces[SURF_FRAME];
  if (frame && (frame->w != w || frame->h != h)) {
    SDL_FreeSurface(frame);
    frame = nullptr;
  }
  if (!frame) {
    frame = create_tile_surface(ctx, w, h);
    if (!frame) {
      printf("SDL_CreateRGBSurface() failed.\n");
      return -1;
    }
  }
  SDL_SetColorKey(frame, SDL_SRCCOLORKEY, SDL_MapRGB(frame->format, 0, 0, 0));
  SDL_SetAlpha(frame, 0, SDL_ALPHA_OPAQUE);
  SDL_FillRect(frame, nullptr, map_rgb(frame, border_rgb));
  fill_rect(frame, 1, 1, w - 2, h - 2, map_rgb(frame, inner_rgb));
  if (SDL_Surface* bg = find_widget_by_name(ctx->skin_window, "background")) {
    SDL_Rect src{0, 0, static_cast<Uint16>(bg->w), static_cast<Uint16>(bg->h)};
    SDL_Rect dst{1, 1, static_cast<Uint16>(w > 2 ? w - 2 : 0),
                 static_cast<Uint16>(h > 2 ? h - 2 : 0)};
    stretch_blit(bg, src, frame, dst);
  }
  return 0;
}

int draw_channel(RECEIVER_INFO* rx, int32_t id) {
  const int k = rx ? find_channel(rx, id) : -1;
  if (k < 0 || k >= MAX_CHANNELS) {
    printf("find_channel() failed.\n");
    return -1;
  }
  APP_CONTEXT* ctx = rx->context ? rx->context : &app_context;
  CHANNEL_INFO& ch = rx->channels[k];
  SdlLock display(ctx->display_mutex);
  SDL_Surface* video = video_surface(ctx);
  place_channel_cell(ctx, &ch);
  if (!video) return 0;
  const RECT16 cell = ch.rect;
  SDL_Rect dst = to_sdl(cell);
  if (ch.selected) {
    if (create_display_frame(ctx, cell.w, cell.h, kYellow, kBlack) != 0) return -4;
    SDL_Rect at = dst;
    SDL_BlitSurface(ctx->surfaces[SURF_FRAME], nullptr, video, &at);
    dst.x = static_cast<Sint16>(dst.x + 1);
    dst.y = static_cast<Sint16>(dst.y + 1);
    dst.w = static_cast<Uint16>(dst.w > 2 ? dst.w - 2 : 0);
    dst.h = static_cast<Uint16>(dst.h > 2 ? dst.h - 2 : 0);
  }
  const uint8_t state = ch.video_state.load();
  if (state != VIDEO_PRESENT) {
    ch.selected = 0;
    ch.audio_on.store(0);
  }
  bool have_picture = false;
  {
    SdlLock picture(ch.mutex);
    SDL_Surface* pic = ch.surface;
    if (pic) {
      have_picture = true;
      RECT16 pr = ch.pic_rect;
      if (pr.w == 0 || pr.h == 0) pr = {0, 0, uint16_t(pic->w), uint16_t(pic->h)};
      SDL_Rect src = to_sdl(pr);
      if (rx->protocol == 'Q') src = crop_q_picture(src, ctx->num_channels);
      if (ctx->aspect43) {
        const int w43 = cell.h * 4 / 3;
        if (!ch.selected)
          fill_rect(video, cell.x, cell.y, cell.w, cell.h, SDL_MapRGB(video->format, 0, 0, 0));
        dst.w = static_cast<Uint16>(w43 < dst.w ? w43 : dst.w);
        dst.x = static_cast<Sint16>(dst.x + (cell.w - dst.w) / 2);
      }
      if (src.w > 0 && src.h > 0) {
        const double area = static_cast<double>(src.w) * src.h;
        ch.zoom_factor = static_cast<double>(pic->w) * pic->h / area;
        ch.scale_factor = static_cast<double>(dst.w) * dst.h / area;
      }
      if (src.w == dst.w && src.h == dst.h) {
        SDL_Rect s = src, d = dst;
        if (clamp_stretch_rects(pic, &s, video, &d) && s.w == d.w && s.h == d.h)
          SDL_BlitSurface(pic, &s, video, &d);
      } else if (src.w > dst.w && src.w > 704) {
        // The whole picture is halved into the work surface; the cut is halved with it.
        SDL_Surface* work = ctx->surfaces[SURF_WORK];
        uint16_t w = static_cast<uint16_t>(pic->w), h = static_cast<uint16_t>(pic->h);
        if (work && work->w >= pic->w / 2 && work->h >= pic->h &&
            shrink_picture(pic, work, &w, &h, 704, pic->h) == 0) {
          SDL_Rect half{static_cast<Sint16>(src.x / 2), src.y, static_cast<Uint16>(src.w / 2),
                        src.h};
          stretch_blit(work, half, video, dst);
        } else {
          stretch_blit(pic, src, video, dst);
        }
      } else {
        if (src.h >= 448) src.h = static_cast<Uint16>(src.h / 2);
        stretch_blit(pic, src, video, dst);
      }
    }
  }
  const char* state_pic = state == 1   ? "cam_disabled"
                          : state == 2 ? "cam_secret"
                          : state == 3 ? "cam_nosignal"
                                       : nullptr;
  if (state_pic) {
    if (SDL_Surface* p = find_widget_by_name(ctx->skin_window, state_pic))
      stretch_blit(p, SDL_Rect{0, 0, Uint16(p->w), Uint16(p->h)}, video, to_sdl(cell));
  } else if (!have_picture && ctx->surfaces[SURF_FRAME]) {
    SDL_Surface* f = ctx->surfaces[SURF_FRAME];
    stretch_blit(f, SDL_Rect{0, 0, Uint16(f->w), Uint16(f->h)}, video, to_sdl(cell));
  }
  draw_marks(ctx, video, ch);
  ctx->dirty.store(1);
  return 0;
}

int draw_channel_state(APP_CONTEXT* ctx, int32_t id) {
  if (!is_on_current_page(ctx, id)) return -1;
  RECEIVER_INFO* rx;
  CHANNEL_INFO* ch;
  if (int rc = lookup(ctx, id, &rx, &ch)) return rc;
  const int k = static_cast<int>(ch - rx->channels);
  if (ch->stopped) {
    SdlLock display(ctx->display_mutex);
    place_channel_cell(ctx, ch);
    draw_blank_cell(ctx, ch->rect);
  } else {
    if (draw_channel(rx, id) == -4) return -4;
    update_channel_cell(rx, id);
  }
  if (rx->channel_mask & (1u << k)) {
    const char* name = nullptr;
    if (rx->status.load() == RX_RECEIVING) {
      if (ch->stopped) name = "waiting";
    } else {
      name = "connecting";
    }
    if (name) {
      SdlLock display(ctx->display_mutex);
      draw_state_image(video_surface(ctx), find_widget_by_name(ctx->skin_window, name), ch->rect);
    }
  }
  ctx->dirty.store(1);
  return 0;
}

int draw_connecting_marks(int receiver_index, APP_CONTEXT* ctx) {
  SDL_Surface* pic = find_widget_by_name(ctx->skin_window, "connecting");
  if (!pic) return -1;
  if (receiver_index < 0 || receiver_index >= ctx->num_receivers || receiver_index >= MAX_RECEIVERS)
    return 0;
  RECEIVER_INFO& rx = ctx->receivers[receiver_index];
  const uint32_t nv = rx.num_video > MAX_CHANNELS ? MAX_CHANNELS : rx.num_video;
  for (uint32_t k = 0; k < nv; ++k) {
    CHANNEL_INFO& ch = rx.channels[k];
    if (!ch.shown) continue;
    SdlLock display(ctx->display_mutex);
    place_channel_cell(ctx, &ch);
    draw_state_image(video_surface(ctx), pic, ch.rect);
    ctx->dirty.store(1);
  }
  return 0;
}

static int redraw_all(APP_CONTEXT* ctx, bool with_text) {
  SdlLock display(ctx->display_mutex);
  SDL_Surface* video = video_surface(ctx);
  if (!video) return 0;
  SDL_FillRect(video, nullptr, SDL_MapRGB(video->format, 64, 64, 64));
  const int cells = get_layout_cells(ctx, ctx->layout);
  if (cells > 0) {
    const int page = ctx->page;
    const int first = cells * (page < 0 ? 0 : page);
    for (int id = first; id < first + cells && id < 1024; ++id) {
      if (!is_on_current_page(ctx, id)) continue;
      if (RECEIVER_INFO* rx = find_receiver_by_channel(ctx, id)) {
        int k = find_channel(rx, id);
        if (k >= 0 && k < MAX_CHANNELS) place_channel_cell(ctx, &rx->channels[k]);
        draw_channel(rx, id);
        if (with_text) {
          render_osd_text(rx, id);
          update_channel_cell(rx, id);
        }
      } else {
        draw_blank_cell(ctx, ctx->layouts[ctx->layout].cells[id % cells]);
      }
    }
  }
  ctx->dirty.store(1);
  return 0;
}

int redraw_all_channels(APP_CONTEXT* ctx) { return redraw_all(ctx, true); }
int redraw_all_channels_plain(APP_CONTEXT* ctx) { return redraw_all(ctx, false); }

int create_pip_surface(APP_CONTEXT* ctx, int pic_w, int pic_h, Uint32 border_rgb,
                       Uint32 inner_rgb) {
  if (pic_w <= 0 || pic_h <= 0) return -1;
  int w = pic_w;
  if (w > ctx->video_rect.w / 2) w = ctx->video_rect.w / 2;
  if (w <= 0) return -1;
  const int h = w * pic_h / pic_w;
  SDL_Surface*& s = ctx->surfaces[SURF_ENLARGED];
  if (s && (s->w != w + 8 || s->h != h + 8)) {
    SDL_FreeSurface(s);
    s = nullptr;
  }
  if (!s) s = create_tile_surface(ctx, w + 8, h + 8);
  if (!s) {
    printf("SDL_CreateRGBSurface() failed.\n");
    return -1;
  }
  SDL_FillRect(s, nullptr, map_rgb(s, border_rgb));
  fill_rect(s, 4, 4, w, h, map_rgb(s, inner_rgb));
  return 0;
}

int draw_pip_window(APP_CONTEXT* ctx) {
  if (ctx->single_view == VIEW_TILES) return -1;
  RECEIVER_INFO* rx;
  CHANNEL_INFO* ch;
  if (int rc = lookup(ctx, ctx->single_channel, &rx, &ch)) return rc;
  SdlLock display(ctx->display_mutex);
  SdlLock enlarged(ctx->enlarged_mutex);
  SdlLock picture(ch->mutex);
  SDL_Surface* pic = ch->surface;
  if (!pic) return 0;
  if (create_pip_surface(ctx, pic->w, pic->h, kWhite, kGrey64) != 0) return 0;
  SDL_Surface* s = ctx->surfaces[SURF_ENLARGED];
  SDL_Rect src{0, 0, static_cast<Uint16>(pic->w), static_cast<Uint16>(pic->h)};
  // The enlarged picture loses 8 lines (16 when taller than 288) whatever the channel
  // count: the eight-channel cut.
  if (rx->protocol == 'Q') src = crop_q_picture(src, 8);
  SDL_Rect dst{4, 4, static_cast<Uint16>(s->w - 8), static_cast<Uint16>(s->h - 8)};
  stretch_blit(pic, src, s, dst);
  if (ch->osd_lines && ch->num_osd_lines > 0) blit_osd_line(ch, 0, s, 4, 4);
  ctx->enlarged_rect = {static_cast<int16_t>(ctx->video_rect.x + ctx->video_rect.w - s->w - 44),
                        static_cast<int16_t>(ctx->video_rect.y + ctx->video_rect.h - s->h - 44),
                        static_cast<uint16_t>(s->w), static_cast<uint16_t>(s->h)};
  return 0;
}

static void leave_enlarged_view(APP_CONTEXT* ctx) {
  ctx->single_view = VIEW_TILES;
  {
    SdlLock display(ctx->display_mutex);
    SdlLock enlarged(ctx->enlarged_mutex);
    if (ctx->surfaces[SURF_ENLARGED]) SDL_FreeSurface(ctx->surfaces[SURF_ENLARGED]);
    ctx->surfaces[SURF_ENLARGED] = nullptr;
    ctx->dirty.store(1);  // the next tick covers the floating window with the tiles again
  }
  update_shown_masks(ctx);
}

int toggle_pip(APP_CONTEXT* ctx) {
  if (ctx->num_channels <= 0) return -1;
  if (ctx->single_view != VIEW_TILES) {
    leave_enlarged_view(ctx);
    return 0;
  }
  if (get_layout_cells(ctx, ctx->layout) == 1 && ctx->num_channels > 1) {
    ctx->single_view = VIEW_PIP;
    ctx->single_channel = (ctx->page + 1) % ctx->num_channels;
    update_shown_masks(ctx);
    clear_channel_selection(ctx);
  }
  return 0;
}

int toggle_single_view(APP_CONTEXT* ctx, int32_t id) {
  if (ctx->num_channels <= 0) return -1;
  if (ctx->single_view != VIEW_TILES) {
    leave_enlarged_view(ctx);
    return 0;
  }
  ctx->single_view = VIEW_SINGLE;
  ctx->single_channel = id;
  update_shown_masks(ctx);
  return 0;
}

// ---------------------------------------------------------------- selection

// Sets or clears one channel's selection and redraws its frame; select_channel's results.
static int mark_selected(APP_CONTEXT* ctx, int32_t id, int selected) {
  if (ctx->single_view == VIEW_PIP) return -1;
  RECEIVER_INFO* rx;
  CHANNEL_INFO* ch;
  if (int rc = lookup(ctx, id, &rx, &ch)) return rc;
  ch->selected = selected;
  draw_channel_state(ctx, id);
  return 1;
}

int select_channel(APP_CONTEXT* ctx, int32_t id) { return mark_selected(ctx, id, 1); }

int deselect_channel(APP_CONTEXT* ctx, int32_t id) { return mark_selected(ctx, id, 0); }

int clear_channel_selection(APP_CONTEXT* ctx) {
  int32_t was[MAX_RECEIVERS * MAX_CHANNELS];
  int n = 0;
  for_each_channel(ctx, [&](RECEIVER_INFO&, CHANNEL_INFO& ch, int) {
    if (ch.selected) was[n++] = ch.id;
    ch.selected = 0;
  });
  // Take the yellow frames off the tiles that had them.
  for (int i = 0; i < n; ++i) draw_channel_state(ctx, was[i]);
  return 0;
}

int select_channels_in_rect(APP_CONTEXT* ctx, int32_t a, int32_t b) {
  if (ctx->single_view == VIEW_PIP) return -1;
  RECEIVER_INFO *ra, *rb;
  CHANNEL_INFO *ca, *cb;
  if (int rc = lookup(ctx, a, &ra, &ca)) return rc;
  if (int rc = lookup(ctx, b, &rb, &cb)) return rc;
  place_channel_cell(ctx, ca);
  place_channel_cell(ctx, cb);
  // The rectangle spanned by both cells, whichever corner the drag started from: a
  // diagonal drag from top right to bottom left selects its square too.
  const int left = std::min(ca->rect.x, cb->rect.x), top = std::min(ca->rect.y, cb->rect.y);
  const int right = std::max(ca->rect.x + ca->rect.w, cb->rect.x + cb->rect.w);
  const int bottom = std::max(ca->rect.y + ca->rect.h, cb->rect.y + cb->rect.h);
  int32_t ids[MAX_RECEIVERS * MAX_CHANNELS];
  int m = 0;
  for_each_channel(ctx, [&](RECEIVER_INFO&, CHANNEL_INFO& ch, int) {
    if (!ch.shown || ch.id < 0) return;
    place_channel_cell(ctx, &ch);
    const int x = ch.rect.x, y = ch.rect.y;
    // Right and bottom edges excluded: a cell that starts where the second one ends lies
    // outside the rectangle.
    if (left <= x && x < right && top <= y && y < bottom) ids[m++] = ch.id;
  });
  for (int i = 0; i < m; ++i) select_channel(ctx, ids[i]);
  return 1;
}

void save_channel_selection(APP_CONTEXT* ctx) {
  for_each_channel(ctx, [](RECEIVER_INFO&, CHANNEL_INFO& ch, int) {
    ch.saved_selected = ch.selected;
    ch.saved_audio = ch.audio_on.load();
  });
}

void restore_channel_selection(APP_CONTEXT* ctx) {
  int32_t sel[MAX_RECEIVERS * MAX_CHANNELS], aud[MAX_RECEIVERS * MAX_CHANNELS];
  int ns = 0, na = 0;
  for_each_channel(ctx, [&](RECEIVER_INFO&, CHANNEL_INFO& ch, int) {
    if (ch.saved_selected == 1) sel[ns++] = ch.id;
    if (ch.saved_audio == 1) aud[na++] = ch.id;
  });
  for (int i = 0; i < ns; ++i) select_channel(ctx, sel[i]);
  for (int i = 0; i < na; ++i) set_channel_audio(ctx, aud[i]);
}

int disable_channel(APP_CONTEXT* ctx, int32_t id) {
  RECEIVER_INFO* rx;
  CHANNEL_INFO* ch;
  int rc = lookup(ctx, id, &rx, &ch);
  if (rc == -2) return -1;
  if (rc == -3) return -2;
  const int k = static_cast<int>(ch - rx->channels);
  rx->channel_mask &= ~(1u << k);
  ch->selected = 0;
  ch->hidden = 1;
  ch->stopped = 1;
  ctx->num_channels = count_enabled_channels(ctx);
  draw_channel_state(ctx, id);
  return 0;
}
