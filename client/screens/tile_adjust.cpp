// Picture adjustment steps, digital zoom and pan of the video tiles (tiles.h).
#include "client/screens/tiles.h"

#include "client/foundation/channel_table.h"
#include "client/foundation/sdl_lock.h"
#include "client/screens/layouts.h"
#include "client/screens/tiles_internal.h"

using namespace tiles_internal;

namespace {

int adjust(APP_CONTEXT* ctx, int32_t id, bool all, void (*step)(CHANNEL_INFO&)) {
  for_each_channel(ctx, [&](RECEIVER_INFO&, CHANNEL_INFO& ch, int) {
    if (id >= 0 && ch.id != id) return;
    if (!all && !is_channel_shown(ctx, ch.id)) return;
    step(ch);
  });
  return 0;
}

// Stores a zoomed rectangle, clamped inside the picture, and the two factors.
void store_zoom(CHANNEL_INFO& ch, int pw, int ph, int x, int y, int w, int h) {
  w = clamp_int(w, 1, pw);
  h = clamp_int(h, 1, ph);
  x = clamp_int(x, 0, pw - w);
  y = clamp_int(y, 0, ph - h);
  ch.pic_rect = {static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<uint16_t>(w),
                 static_cast<uint16_t>(h)};
  ch.zoom_factor = static_cast<double>(pw) * ph / (static_cast<double>(w) * h);
  ch.scale_factor = static_cast<double>(ch.rect.w) * ch.rect.h / (static_cast<double>(w) * h);
}

// Runs `step(ch, pw, ph, shown)` on the picture (pw x ph) of channel `id` under the display
// and picture locks; `shown` is its zoomed part, or the whole picture when none is set or the
// part no longer fits it. What step returns; -2/-3 unknown receiver/channel; -4 no picture.
template <class Step>
int with_zoomed_picture(APP_CONTEXT* ctx, int32_t id, Step step) {
  RECEIVER_INFO* rx;
  CHANNEL_INFO* ch;
  if (int rc = lookup(ctx, id, &rx, &ch)) return rc;
  SdlLock display(ctx->display_mutex);
  SdlLock picture(ch->mutex);
  if (!ch->surface) return -4;
  const int pw = ch->surface->w, ph = ch->surface->h;
  RECT16 r = ch->pic_rect;
  if (r.w == 0 || r.h == 0 || r.x + r.w > pw || r.y + r.h > ph)
    r = {0, 0, uint16_t(pw), uint16_t(ph)};
  return step(*ch, pw, ph, r);
}

int zoom_step(APP_CONTEXT* ctx, int32_t id, int px, int py, bool in) {
  return with_zoomed_picture(ctx, id, [&](CHANNEL_INFO& ch, int pw, int ph, RECT16 r) {
    const int sx = r.x, sy = r.y, sw = r.w, sh = r.h;
    const int cx = ch.rect.x, cy = ch.rect.y;
    const int cw = ch.rect.w > 0 ? ch.rect.w : 1, chh = ch.rect.h > 0 ? ch.rect.h : 1;
    // The pointer in picture coordinates, so that the step keeps it in place.
    const double fx = static_cast<double>(px - cx) / cw * sw + sx;
    const double fy = static_cast<double>(py - cy) / chh * sh + sy;
    const int dh = static_cast<int>(static_cast<double>(ph) * 32 / pw);
    int nw, nh;
    if (in) {
      if (sw <= 32 || sh <= 32) return -5;
      nw = sw - 32;
      nh = sh - dh;
    } else {
      if (sw >= pw || sh >= ph) return -5;
      nw = sw + 32;
      nh = sh + dh;
    }
    nw = clamp_int(nw, 1, pw);
    nh = clamp_int(nh, 1, ph);
    const int nx = static_cast<int>((1.0 - static_cast<double>(nw) / pw) * fx);
    const int ny = static_cast<int>((1.0 - static_cast<double>(nh) / ph) * fy);
    store_zoom(ch, pw, ph, nx, ny, nw, nh);
    return 0;
  });
}

}  // namespace

// ---------------------------------------------------------------- adjustments

int brightness_up(APP_CONTEXT* ctx, int32_t id) {
  return adjust(ctx, id, false,
                [](CHANNEL_INFO& c) { c.brightness = clamp_int(c.brightness + 16, -255, 255); });
}
int brightness_down(APP_CONTEXT* ctx, int32_t id) {
  return adjust(ctx, id, false,
                [](CHANNEL_INFO& c) { c.brightness = clamp_int(c.brightness - 16, -255, 255); });
}
int contrast_up(APP_CONTEXT* ctx, int32_t id) {
  return adjust(ctx, id, false,
                [](CHANNEL_INFO& c) { c.contrast = clamp_int(c.contrast + 5, -100, 100); });
}
int contrast_down(APP_CONTEXT* ctx, int32_t id) {
  return adjust(ctx, id, false,
                [](CHANNEL_INFO& c) { c.contrast = clamp_int(c.contrast - 5, -100, 100); });
}
int hue_up(APP_CONTEXT* ctx, int32_t id) {
  return adjust(ctx, id, false, [](CHANNEL_INFO& c) {
    c.hue += 9.0f;
    if (c.hue > 360.0f) c.hue -= 360.0f;
  });
}
int hue_down(APP_CONTEXT* ctx, int32_t id) {
  return adjust(ctx, id, false, [](CHANNEL_INFO& c) {
    c.hue -= 9.0f;
    if (c.hue < 0.0f) c.hue += 360.0f;
  });
}
int saturation_up(APP_CONTEXT* ctx, int32_t id) {
  return adjust(ctx, id, false,
                [](CHANNEL_INFO& c) { c.saturation = clamp_int(c.saturation + 4, -128, 128); });
}
int saturation_down(APP_CONTEXT* ctx, int32_t id) {
  return adjust(ctx, id, false,
                [](CHANNEL_INFO& c) { c.saturation = clamp_int(c.saturation - 4, -128, 128); });
}
int reset_adjustments(APP_CONTEXT* ctx, int32_t id) {
  return adjust(ctx, id, true, [](CHANNEL_INFO& c) {
    c.brightness = 0;
    c.contrast = 0;
    c.hue = 0.0f;
    c.saturation = 0;
  });
}

// ---------------------------------------------------------------- zoom

int zoom_picture_in(APP_CONTEXT* ctx, int32_t id, int x, int y) {
  return zoom_step(ctx, id, x, y, true);
}
int zoom_picture_out(APP_CONTEXT* ctx, int32_t id, int x, int y) {
  return zoom_step(ctx, id, x, y, false);
}

bool wheel_over_video(APP_CONTEXT* ctx, int button, bool ctrl, int pos, int x, int y) {
  const bool up = button == SDL_BUTTON_WHEELUP;
  if (ctrl) {
    if (up)
      layout_down(ctx);
    else
      layout_up(ctx);
    return false;
  }
  if (pos < 0) return false;
  const int vx = x - ctx->video_rect.x, vy = y - ctx->video_rect.y;
  if (up)
    zoom_picture_out(ctx, pos, vx, vy);
  else
    zoom_picture_in(ctx, pos, vx, vy);
  return true;
}

int pan_zoomed_picture(APP_CONTEXT* ctx, int32_t id, int dx, int dy) {
  return with_zoomed_picture(ctx, id, [&](CHANNEL_INFO& ch, int pw, int ph, RECT16 r) {
    store_zoom(ch, pw, ph, r.x - dx, r.y - dy, r.w, r.h);
    return 0;
  });
}
