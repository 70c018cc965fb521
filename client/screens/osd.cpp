#include "client/screens/osd.h"

#include <SDL/SDL_ttf.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <unordered_map>

#include "client/foundation/channel_table.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sdl_lock.h"
#include "client/screens/tiles.h"

namespace {

// The one OSD font and the number of line tables that use it.
std::mutex font_lock;
TTF_Font* osd_font = nullptr;
int font_users = 0;
// Every table handed out, by the channel record it went to. Receivers are re-initialised
// in place on each connection without freeing their tables, so a channel that comes back
// without one gets its old table again instead of leaking it.
std::unordered_map<const CHANNEL_INFO*, OSD_LINE*> tables;

APP_CONTEXT* context_of(RECEIVER_INFO* rx) { return rx->context ? rx->context : &app_context; }

CHANNEL_INFO* channel_of(RECEIVER_INFO* rx, int32_t id) {
  if (!rx) return nullptr;
  int k = find_channel(rx, id);
  return (k >= 0 && k < MAX_CHANNELS) ? &rx->channels[k] : nullptr;
}

}  // namespace

bool osd_font_open() {
  std::lock_guard<std::mutex> g(font_lock);
  return osd_font != nullptr;
}

void load_osd_fonts(RECEIVER_INFO* rx, const char* program_dir) {
  if (!rx) return;
  char path[256];
  snprintf(path, sizeof path, "%s%s", program_dir ? program_dir : "", OSD_FONT_FILE);
  // SDL_ttf's one FreeType library is shared with the skin's texts: opening a font is a
  // text call like any other.
  SdlLock text_lock(context_of(rx)->text_mutex);
  std::lock_guard<std::mutex> g(font_lock);
  if (!osd_font) {
    if (TTF_WasInit() == 0 && TTF_Init() < 0) return;
    osd_font = TTF_OpenFont(path, OSD_POINT_SIZE);
    if (!osd_font) {
      printf("Couldn't load %d pt font from %s: %s\n", OSD_POINT_SIZE, OSD_FONT_FILE,
             SDL_GetError());
      return;
    }
    TTF_SetFontStyle(osd_font, TTF_STYLE_NORMAL);
  }
  for (CHANNEL_INFO& ch : rx->channels) {
    if (ch.osd_lines) continue;
    auto it = tables.find(&ch);
    if (it != tables.end()) {
      OSD_LINE* lines = it->second;
      for (int k = 0; k < OSD_LINES; ++k) {
        if (lines[k].picture) SDL_FreeSurface(lines[k].picture);
        lines[k].picture = nullptr;
        lines[k].text[0] = '\0';
      }
      ch.osd_lines = lines;
      ch.num_osd_lines = OSD_LINES;
      continue;
    }
    OSD_LINE* lines = new (std::nothrow) OSD_LINE[OSD_LINES]();
    if (!lines) {
      fatal_box("Not enough memory.");
      return;
    }
    int y = 0;
    for (int k = 0; k < OSD_LINES; ++k) {
      OSD_LINE& l = lines[k];
      l.x = 0;
      l.y = y;
      snprintf(l.font_path, sizeof l.font_path, "%s", path);
      l.point_size = OSD_POINT_SIZE;
      l.fg = SDL_Color{255, 255, 0, 0};
      l.bg = SDL_Color{0, 0, 0, 0};
      y += l.height;
    }
    ch.osd_lines = lines;
    ch.num_osd_lines = OSD_LINES;
    tables[&ch] = lines;
    ++font_users;
  }
}

void close_osd_fonts(OSD_LINE* lines, int count) {
  if (!lines) return;
  SdlLock text_lock(app_context.text_mutex);
  std::lock_guard<std::mutex> g(font_lock);
  for (auto it = tables.begin(); it != tables.end(); ++it) {
    if (it->second == lines) {
      tables.erase(it);
      break;
    }
  }
  for (int k = 0; k < count; ++k)
    if (lines[k].picture) SDL_FreeSurface(lines[k].picture);
  delete[] lines;
  if (font_users > 0 && --font_users == 0 && osd_font) {
    TTF_CloseFont(osd_font);
    osd_font = nullptr;
  }
}

void free_channel_osd(CHANNEL_INFO* ch) {
  if (!ch || !ch->osd_lines) return;
  OSD_LINE* lines = ch->osd_lines;
  int count = ch->num_osd_lines;
  ch->osd_lines = nullptr;
  ch->num_osd_lines = 0;
  close_osd_fonts(lines, count);
}

void osd_line_text(const APP_CONTEXT* ctx, const RECEIVER_INFO* rx, const CHANNEL_INFO* ch, int k,
                   char* out, size_t cap) {
  if (!out || cap == 0) return;
  out[0] = '\0';
  const int index = static_cast<int>(ch - rx->channels);
  switch (k) {
    case 0:
      if (strcmp(ch->camera_name, "NULL") == 0) {
        if (rx->protocol == 'S')
          snprintf(out, cap, "All Cameras");
        else
          snprintf(out, cap, "Camera %d", index + 1);
      } else {
        snprintf(out, cap, "%s", ch->camera_name);
      }
      break;
    case 1: snprintf(out, cap, "%s", rx->name); break;
    case 2:
      if (ch->frame_time > 0) {
        // The zone is read once: tzset parses the environment and the zone file.
        static const bool zone_read = (tzset(), true);
        (void)zone_read;
        time_t t = static_cast<time_t>(ch->frame_time) + timezone;
        struct tm tm_local;
        if (localtime_r(&t, &tm_local)) strftime(out, cap, "%Y-%m-%d %H:%M:%S", &tm_local);
      }
      break;
    case 3:
      if (ch->surface) snprintf(out, cap, "%dx%d", ch->surface->w, ch->surface->h);
      break;
    case 4: snprintf(out, cap, "%5.1fX", ch->zoom_factor > 0 ? ch->zoom_factor : 1.0); break;
    case 5:
      if (ch->audio_on.load() && ctx->playback_speed == 1.0)
        snprintf(out, cap, "%18s", "");
      else
        snprintf(out, cap, "NO AUDIO PLAY MODE");
      break;
    default: break;
  }
}

bool osd_line_position(int k, const RECT16& cell, int w, int h, bool selected, int* x, int* y,
                       SDL_Rect* clip) {
  const int cx = cell.x, cy = cell.y, W = cell.w, H = cell.h;
  int px = cx + 2, py = cy + 2, dx = 1, dy = 1;
  switch (k) {
    case 0: break;
    case 1: py = cy + h + 3; break;
    // clang-format off
    case 2: py = cy + H - h - 2; dy = -2; break;
    case 3: px = cx + W - w - 2; py = cy + H - h - 2; dx = -2; dy = -2; break;
    case 4: px = cx + W - w - 2; dx = -2; break;
    case 5: px = cx + 4; dx = -2; dy = -2; break;
    // clang-format on
    default: return false;
  }
  if (selected) {
    px += dx;
    py += dy;
  }
  *x = px;
  *y = py;
  // Keep the line inside its tile (inside the yellow frame of a selected one), so a long
  // name never writes over the neighbouring tile.
  const int inset = selected ? 1 : 0;
  int left = px > cx + inset ? px : cx + inset;
  int top = py > cy + inset ? py : cy + inset;
  int right = px + w < cx + W - inset ? px + w : cx + W - inset;
  int bottom = py + h < cy + H - inset ? py + h : cy + H - inset;
  if (right <= left || bottom <= top) return false;
  *clip = SDL_Rect{static_cast<Sint16>(left), static_cast<Sint16>(top),
                   static_cast<Uint16>(right - left), static_cast<Uint16>(bottom - top)};
  return true;
}

int render_osd_text(RECEIVER_INFO* rx, int32_t id) {
  CHANNEL_INFO* ch = channel_of(rx, id);
  if (!ch) return -1;
  if (!ch->osd_lines) return 0;
  APP_CONTEXT* ctx = context_of(rx);
  for (int k = 0; k < ch->num_osd_lines && k < OSD_LINES; ++k) {
    if (!(rx->osd_mask & (1u << k))) continue;
    OSD_LINE& line = ch->osd_lines[k];
    char text[140];
    {
      SdlLock picture(ch->mutex);  // line 3 reads the picture's size
      osd_line_text(ctx, rx, ch, k, text, sizeof text);
    }
    if (text[0] == '\0' || strcmp(text, line.text) == 0) continue;
    SDL_Surface* fresh = nullptr;
    {
      SdlLock text_lock(ctx->text_mutex);
      std::lock_guard<std::mutex> g(font_lock);
      if (osd_font) fresh = TTF_RenderUTF8_Shaded(osd_font, text, line.fg, line.bg);
    }
    if (!fresh) {
      printf("TTF_RenderUTF8_Shaded() failed.\n");
      continue;
    }
    SDL_SetColorKey(fresh, SDL_SRCCOLORKEY, SDL_MapRGB(fresh->format, 0, 0, 0));
    SDL_Surface* old;
    {
      SdlLock display(ctx->display_mutex);
      old = line.picture;
      line.picture = fresh;
      snprintf(line.text, sizeof line.text, "%s", text);
      line.width = (fresh->w + 3) & ~3;
      line.height = fresh->h;
    }
    if (old) SDL_FreeSurface(old);
  }
  return 0;
}

int update_channel_cell(RECEIVER_INFO* rx, int32_t id) {
  CHANNEL_INFO* ch = channel_of(rx, id);
  if (!ch) {
    printf("find_channel() failed.\n");
    return -1;
  }
  APP_CONTEXT* ctx = context_of(rx);
  SdlLock display(ctx->display_mutex);
  SDL_Surface* video = ctx->surfaces[SURF_VIDEO];
  if (!video || !ch->osd_lines) return 0;
  place_channel_cell(ctx, ch);
  for (int k = 0; k < ch->num_osd_lines && k < OSD_LINES; ++k) {
    if (!(rx->osd_mask & (1u << k))) continue;
    SDL_Surface* pic = ch->osd_lines[k].picture;
    if (!pic) continue;
    int x, y;
    SDL_Rect clip;
    if (!osd_line_position(k, ch->rect, pic->w, pic->h, ch->selected != 0, &x, &y, &clip)) continue;
    SDL_SetClipRect(video, &clip);
    SDL_Rect dst{static_cast<Sint16>(x), static_cast<Sint16>(y), 0, 0};
    SDL_BlitSurface(pic, nullptr, video, &dst);
    SDL_SetClipRect(video, nullptr);
  }
  ctx->dirty.store(1);
  return 0;
}

void blit_osd_line(CHANNEL_INFO* ch, int k, SDL_Surface* dst, int x, int y) {
  if (!ch || !ch->osd_lines || k < 0 || k >= ch->num_osd_lines || !dst) return;
  SDL_Surface* pic = ch->osd_lines[k].picture;
  if (!pic) return;
  SDL_Rect at{static_cast<Sint16>(x), static_cast<Sint16>(y), 0, 0};
  SDL_BlitSurface(pic, nullptr, dst, &at);
}
