// Skin windows and widgets: records, skin.cfg loading, states, drawing and hit-testing.
#include "client/screens/skin.h"

#include <SDL/SDL_image.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "client/foundation/app_state.h"
#include "client/foundation/config/utils.h"
#include "client/screens/skin_tables.h"
#include "client/screens/widget_text.h"
#include "platform/wire/byte_reader.h"

namespace {

SKIN_WINDOW g_windows[skin_tables::kWindowCount];
std::atomic<int> g_focused{0};
std::atomic<int> g_screen_update{0};

void skin_copy(char* dst, size_t size, const char* src) {
  if (size == 0) return;
  std::snprintf(dst, size, "%s", src ? src : "");
}

// Reads a whole file into a zeroed buffer of whole KiB so the text is always terminated.
// 0; -1 stat, -2 fopen, -3 memory, -4 nothing read. `verbose_path` selects the messages of
// load_skin (with the path) or of load_widget_captions (without).
int read_text_file(const char* path, std::unique_ptr<char[]>& out, bool verbose_path) {
  struct stat st {};
  if (!path || stat(path, &st) != 0) {
    if (verbose_path)
      std::printf("stat(%s) failed.\n", path ? path : "");
    else
      std::printf("stat() failed.\n");
    return -1;
  }
  FILE* f = std::fopen(path, "rb");
  if (!f) {
    if (verbose_path)
      std::printf("fopen(%s) failed.\n", path);
    else
      std::printf("fopen() failed.\n");
    return -2;
  }
  size_t size = static_cast<size_t>(st.st_size);
  size_t cap = (size / 1024 + 1) * 1024;
  out.reset(new (std::nothrow) char[cap]());
  if (!out) {
    std::fclose(f);
    fatal_box("Not enough memory.");
    return -3;
  }
  size_t got = size ? std::fread(out.get(), 1, size, f) : 0;
  std::fclose(f);
  if (got == 0) {
    if (verbose_path) std::printf("fread() failed.\n");
    return -4;
  }
  out[got < cap ? got : cap - 1] = '\0';
  return 0;
}

bool has_ext(const char* name, const char* a, const char* b) {
  return std::strstr(name, a) || std::strstr(name, b);
}

SDL_Surface* load_picture(const char* name, bool* known) {
  *known = true;
  if (has_ext(name, ".jpg", ".JPG") || has_ext(name, ".png", ".PNG")) return IMG_Load(name);
  if (has_ext(name, ".bmp", ".BMP")) return SDL_LoadBMP(name);
  *known = false;
  return nullptr;
}

bool valid_id(int id) { return id >= 1 && id < skin_tables::kWindowCount; }

// The picture draw_widget shows for the widget's state and on flag.
SDL_Surface* current_picture(const SKIN_WIDGET& w) {
  int pic;
  if (w.edit > 0 && g_focused.load() == w.index) {
    pic = 1;
  } else if (w.kind == 2 || w.kind == 3) {
    switch (w.state) {
      case 0: pic = w.on ? 1 : 0; break;
      case 1:
      case 2: pic = w.on ? 3 : 2; break;
      case 4: pic = 4; break;
      default: return nullptr;
    }
  } else {
    pic = w.state;
  }
  return (pic >= 0 && pic < 12) ? w.pictures[pic] : nullptr;
}

}  // namespace

// ---------------------------------------------------------------- set-up and teardown

void init_skin_record(SKIN_WINDOW* window, int id, const char* name, int count) {
  if (!window) return;
  free_widgets(window);
  free_skin_background(window);
  window->id = id;
  skin_copy(window->name, sizeof window->name, name);
  window->image[0] = '\0';
  window->video_rect = SDL_Rect{0, 0, 0, 0};
  window->num_widgets = count;
  window->key_r = window->key_g = window->key_b = 0;
  window->colour_key_on = 1;
}

int init_widgets(SKIN_WINDOW* window) {
  if (!window) return -1;
  free_widgets(window);
  int n = window->num_widgets;
  if (n <= 0) return 0;
  window->widgets = new (std::nothrow) SKIN_WIDGET[n]();
  if (!window->widgets) {
    window->num_widgets = 0;
    fatal_box("Not enough memory.");
    return -1;
  }
  for (int i = 0; i < n; ++i) {
    SKIN_WIDGET& w = window->widgets[i];
    w.index = i;
    const skin_tables::WidgetDef* def = skin_tables::widget_def(window->id, i);
    if (def) {
      w.kind = def->kind;
      w.hidden = def->hidden;
      w.edit = def->edit;
      w.on = def->on;
      w.enabled = def->enabled;
      w.num_states = def->states;
      skin_copy(w.name, sizeof w.name, def->name);
    }
    for (int& c : w.column_width) c = 32;
    if (w.kind == 5 || w.kind == 8) {
      w.line_store.reset(new (std::nothrow) char[size_t(kSkinLines) * kSkinLineSize]());
      if (!w.line_store) {
        std::printf("malloc() failed.\n");
        continue;
      }
      for (int l = 0; l < kSkinLines; ++l) w.lines[l] = w.line_store.get() + l * kSkinLineSize;
    }
  }
  return 0;
}

void init_skins() {
  for (int id = 1; id < skin_tables::kWindowCount; ++id) {
    // Records are addressed by their table position; the id word is informational.
    init_skin_record(&g_windows[id], id, skin_tables::kWindowNames[id],
                     skin_tables::kWidgetCounts[id]);
    init_widgets(&g_windows[id]);
  }
  g_focused = 0;
}

void free_widgets(SKIN_WINDOW* window) {
  if (!window || !window->widgets) return;
  for (int i = 0; i < window->num_widgets; ++i) {
    SKIN_WIDGET& w = window->widgets[i];
    for (SDL_Surface*& p : w.pictures) free_surface(p);
    free_surface(w.text_picture);
  }
  delete[] window->widgets;
  window->widgets = nullptr;
}

void free_skin_background(SKIN_WINDOW* window) {
  if (window) free_surface(window->background);
}

void free_skins() {
  for (int id = 1; id < skin_tables::kWindowCount; ++id) {
    free_widgets(&g_windows[id]);
    free_skin_background(&g_windows[id]);
  }
  g_focused = 0;
  close_skin_fonts();
}

// ---------------------------------------------------------------- skin.cfg parsing

int parse_skins_line(const char* window_name, const char* text, SKIN_WINDOW* window) {
  if (!window_name || !text || !window) return -2;
  const char* skins = std::strstr(text, "[SKINS]");
  if (!skins) {
    std::printf("[SKINS] not found in %s.\n", "skin.cfg");
    return -2;
  }
  const char* line = std::strstr(skins, window_name);
  if (!line) {
    std::printf("tag: %s not found in %s.\n", window_name, "skin.cfg");
    return -3;
  }
  char name[130] = {};
  char image[258] = {};
  int id = 0, x = 0, y = 0, w = 0, h = 0, r = 0, g = 0, b = 0;
  int n = std::sscanf(line,
                      "%129[^\t =]%*[\t =]%d%*[\t ,]%257[^\t ,]%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d"
                      "%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d",
                      name, &id, image, &x, &y, &w, &h, &r, &g, &b);
  if (n < 10) {
    std::printf("sscanf() failed: %d.\n", n);
    return -4;
  }
  window->id = id;
  skin_copy(window->image, sizeof window->image, image);
  window->video_rect.x = static_cast<Sint16>(x);
  window->video_rect.y = static_cast<Sint16>(y);
  window->video_rect.w = static_cast<Uint16>(w < 0 ? 0 : w);
  window->video_rect.h = static_cast<Uint16>(h < 0 ? 0 : h);
  window->key_r = static_cast<uint8_t>(r);
  window->key_g = static_cast<uint8_t>(g);
  window->key_b = static_cast<uint8_t>(b);
  window->colour_key_on = 1;
  return 0;
}

namespace {
// Picture name, then 28 integers: width, height, 12 source pairs and one more pair.
constexpr char kWidgetLineFormat[] =
    "%131[^\t =]%*[\t =]%255[^\t ,]"
    "%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d"
    "%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d"
    "%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d"
    "%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d%*[\t ,]%d"
    "%*[\t ,]";
}  // namespace

int config_to_props(const char* name, int n, const char* text, const char* window_name,
                    WIDGET_PROPS* props) {
  if (!props) return -1;
  std::memset(props, 0, sizeof *props);
  for (int i = 0; i < 12; ++i) props->src_x[i] = props->src_y[i] = -1;
  if (!name || !text || !window_name) return -2;
  char header[140];
  std::snprintf(header, sizeof header, "[%s]", window_name);
  const char* section = std::strstr(text, header);
  if (!section) {
    std::printf("%s not found in %s.\n", window_name, "skin.cfg");
    return -2;
  }
  const char* line = std::strstr(section + std::strlen(header), name);
  if (!line) {
    std::printf("tag: %s not found in %s.\n", name, "skin.cfg");
    return -3;
  }
  if (n < 0) n = 0;
  if (n > 12) n = 12;  // a widget has at most 12 pictures; pair 12 is the last one read
  int v[28];
  for (int& i : v) i = -1;
  int got = std::sscanf(line, kWidgetLineFormat, props->name, props->image, &v[0], &v[1], &v[2],
                        &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9], &v[10], &v[11], &v[12],
                        &v[13], &v[14], &v[15], &v[16], &v[17], &v[18], &v[19], &v[20], &v[21],
                        &v[22], &v[23], &v[24], &v[25], &v[26], &v[27]);
  if (got < 2 * n + 6 || v[0] <= 0 || v[1] <= 0) {
    std::printf("sscanf() failed.\n");
    return -3;
  }
  props->width = v[0];
  props->height = v[1];
  // Only the n state pairs are sources; the pair after them is the destination, so it must
  // not also be cut as a picture of a state the widget does not have.
  for (int i = 0; i < n; ++i) {
    props->src_x[i] = v[2 + 2 * i];
    props->src_y[i] = v[3 + 2 * i];
  }
  props->dest_x = v[2 + 2 * n];
  props->dest_y = v[3 + 2 * n];
  return 0;
}

int cut_widget_states(SDL_Surface* source, SKIN_WIDGET* widget, const WIDGET_PROPS* props) {
  if (!source || !widget || !props) return -1;
  const SDL_PixelFormat* f = source->format;
  Uint32 src_flags = source->flags;
  Uint8 src_alpha = f->alpha;
  // Copy the source's pixels as they are (alpha included) rather than blending them.
  if (src_flags & SDL_SRCALPHA) SDL_SetAlpha(source, 0, 255);
  int result = 0;
  for (int i = 0; i < 12; ++i) {
    if (props->src_x[i] < 0 || props->src_y[i] < 0) continue;
    SDL_Surface* pic =
        SDL_CreateRGBSurface(SDL_SWSURFACE, props->width, props->height, f->BitsPerPixel, f->Rmask,
                             f->Gmask, f->Bmask, f->Amask);
    if (!pic) {
      std::printf("SDL_CreateSurface() failed.\n");
      result = -1;
      break;
    }
    if (f->palette && pic->format->palette)
      SDL_SetColors(pic, f->palette->colors, 0, f->palette->ncolors);
    SDL_Rect src{static_cast<Sint16>(props->src_x[i]), static_cast<Sint16>(props->src_y[i]),
                 static_cast<Uint16>(props->width), static_cast<Uint16>(props->height)};
    SDL_Rect dst{0, 0, static_cast<Uint16>(props->width), static_cast<Uint16>(props->height)};
    SDL_SetClipRect(pic, &dst);
    if (SDL_BlitSurface(source, &src, pic, &dst) != 0) {
      std::printf("SDL_BlitSurface() failed.\n");
      SDL_FreeSurface(pic);
      result = -1;
      break;
    }
    SDL_SetClipRect(pic, nullptr);
    free_surface(widget->pictures[i]);
    widget->pictures[i] = pic;
  }
  if (src_flags & SDL_SRCALPHA) SDL_SetAlpha(source, SDL_SRCALPHA, src_alpha);
  return result;
}

int load_skin(const char* path, int id) {
  SKIN_WINDOW* window = get_skin_window(id);
  if (!window) return -1;
  std::unique_ptr<char[]> text;
  if (read_text_file(path, text, true) != 0) return -1;

  parse_skins_line(window->name, text.get(), window);  // problems are printed; go on

  free_skin_background(window);
  window->background = window->image[0] ? IMG_Load(window->image) : nullptr;
  if (!window->background) {
    error_box("Unable to load image (skin) file for the current mode.");
    return -1;
  }
  if (window->num_widgets < 2 || !window->widgets) return 0;

  SDL_Surface* last = nullptr;
  char last_name[256] = {};
  for (int i = 1; i < window->num_widgets; ++i) {
    SKIN_WIDGET& w = window->widgets[i];
    WIDGET_PROPS props;
    if (config_to_props(w.name, w.num_states, text.get(), window->name, &props) != 0) {
      std::printf("config_to_props(%s) failed.\n", w.name);
      continue;
    }
    w.x = props.dest_x;
    w.y = props.dest_y;
    w.w = props.width;
    w.h = props.height;
    if (!last || std::strcmp(props.image, last_name) != 0) {
      bool known = false;
      SDL_Surface* pic = load_picture(props.image, &known);
      if (!known) continue;
      if (!pic) {
        error_box("Missing skin file.");
        continue;
      }
      free_surface(last);
      last = pic;
      skin_copy(last_name, sizeof last_name, props.image);
    }
    cut_widget_states(last, &w, &props);
    if (w.edit > 0 && g_focused.load() == 0) g_focused = i;
  }
  free_surface(last);
  return 0;
}

int load_widget_captions(const char* path, int id) {
  SKIN_WINDOW* window = get_skin_window(id);
  if (!window) return -1;
  std::unique_ptr<char[]> text;
  int rc = read_text_file(path, text, false);
  if (rc == -1 || rc == -2 || rc == -3) return rc;
  if (rc != 0) return 0;  // an empty file holds no captions
  char header[140];
  std::snprintf(header, sizeof header, "[%s]", window->name);
  const char* section = std::strstr(text.get(), header);
  if (!section) {
    std::printf("strstr() failed.\n");
    return 0;
  }
  section += std::strlen(header);
  for (int i = 0; i < window->num_widgets && window->widgets; ++i) {
    SKIN_WIDGET& w = window->widgets[i];
    if (!w.name[0]) continue;
    const char* at = std::strstr(section, w.name);
    if (!at) continue;
    char caption[64] = {};
    // Longer captions are cut at 63 characters; the rest of the line is not read.
    if (std::sscanf(at, "%*[^\t =]%*[\t =]%63[^\r\n]", caption) == 1)
      skin_copy(w.caption, sizeof w.caption, caption);
  }
  return 0;
}

// ---------------------------------------------------------------- lookups and accessors

SKIN_WINDOW* get_skin_window(int id) { return valid_id(id) ? &g_windows[id] : nullptr; }

SKIN_WIDGET* get_skin_widget(int id, int widget) {
  SKIN_WINDOW* w = get_skin_window(id);
  if (!w || !w->widgets || widget < 0 || widget >= w->num_widgets) return nullptr;
  return &w->widgets[widget];
}

int find_widget(int id, const char* name) {
  SKIN_WINDOW* w = get_skin_window(id);
  if (!w || !w->widgets || !name) return 0;
  for (int i = 0; i < w->num_widgets; ++i)
    if (std::strcmp(w->widgets[i].name, name) == 0) return i;
  return 0;
}

SDL_Surface* find_widget_by_name(int id, const char* name) {
  SKIN_WINDOW* w = get_skin_window(id);
  if (!w || !w->widgets || !name) return nullptr;
  for (int i = 0; i < w->num_widgets; ++i)
    if (std::strcmp(w->widgets[i].name, name) == 0) return w->widgets[i].pictures[0];
  return nullptr;
}

SDL_Surface* get_widget_state_image(int id, int widget, int state) {
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  if (!w || state < 0 || state >= 12) return nullptr;
  return w->pictures[state];
}

int get_widget_attr(int id, int widget, int attribute) {
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  if (!w) return 0;
  switch (attribute) {
    case 0: return w->kind;
    case 1: return w->hidden;
    case 2: return w->edit;
    case 3: return w->on;
    case 4: return w->enabled;
    case 5: return w->num_states;
    case 6: return w->align;
    default: return 0;
  }
}

int set_widget_attr(int id, int widget, int attribute, uint8_t value) {
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  if (!w) return -1;
  switch (attribute) {
    case 0: w->kind = value; break;
    case 1: w->hidden = value; break;
    case 3: w->on = value; break;
    case 4: w->enabled = value; break;
    case 6: w->align = value; break;
    default: break;
  }
  return 0;
}

int set_widget_position(int id, int widget, int x, int y) {
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  if (!w) return -1;
  w->x = x;
  w->y = y;
  return 0;
}

int get_widget_position(int id, int widget, int* x, int* y) {
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  if (!w) return -1;
  if (x) *x = w->x;
  if (y) *y = w->y;
  return 0;
}

int get_widget_size(int id, int widget, int* width, int* height) {
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  if (!w) return -1;
  if (width) *width = w->w;
  if (height) *height = w->h;
  return 0;
}

int get_widget_state(int id, int widget) {
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  return w ? w->state : -1;
}

int get_widget_state_count(int id, int widget) {
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  return w ? w->num_states : 0;
}

char* get_widget_text(int id, int widget) {
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  return w ? w->text : nullptr;
}

SDL_Surface* get_widget_text_surface(int id, int widget) {
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  return w ? w->text_picture : nullptr;
}

const char* get_widget_caption(int id, int widget) {
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  return w ? w->caption : nullptr;
}

SDL_Rect get_video_rect(int id) {
  SKIN_WINDOW* w = get_skin_window(id);
  return w ? w->video_rect : SDL_Rect{0, 0, 0, 0};
}

SDL_Rect get_skin_size(int id) {
  SKIN_WINDOW* w = get_skin_window(id);
  if (!w || !w->background) return SDL_Rect{0, 0, 0, 0};
  return SDL_Rect{0, 0, static_cast<Uint16>(w->background->w),
                  static_cast<Uint16>(w->background->h)};
}

int get_focused_widget() { return g_focused.load(); }
void set_focused_widget(int widget) { g_focused = widget < 0 ? 0 : widget; }
void enable_screen_update() { g_screen_update = 1; }
void disable_screen_update() { g_screen_update = 0; }
bool screen_update_enabled() { return g_screen_update.load() != 0; }

// ---------------------------------------------------------------- drawing

void update_surface(SDL_Surface* surface) {
  if (surface && surface == SDL_GetVideoSurface()) SDL_UpdateRect(surface, 0, 0, 0, 0);
}

void update_display_rect(SDL_Surface* display, int x, int y, int w, int h) {
  if (!display || display != SDL_GetVideoSurface()) return;
  // SDL 1.2 does not clip update rectangles; X11 rejects ones beyond the window.
  int x0 = x < 0 ? 0 : x, y0 = y < 0 ? 0 : y;
  int x1 = x + w > display->w ? display->w : x + w;
  int y1 = y + h > display->h ? display->h : y + h;
  if (x1 <= x0 || y1 <= y0) return;
  SDL_UpdateRect(display, x0, y0, static_cast<Uint32>(x1 - x0), static_cast<Uint32>(y1 - y0));
}

int blit_at(SDL_Surface* display, SDL_Surface* picture, int x, int y) {
  if (!picture) {
    std::printf("SDL: skin is empty.\n");
    return -1;
  }
  if (!display) {
    std::printf("SDL: screen is empty.\n");
    return -2;
  }
  SDL_Rect area{static_cast<Sint16>(x), static_cast<Sint16>(y), static_cast<Uint16>(picture->w),
                static_cast<Uint16>(picture->h)};
  SDL_SetClipRect(display, &area);
  SDL_Rect dst = area;
  int rc = SDL_BlitSurface(picture, nullptr, display, &dst);
  SDL_SetClipRect(display, nullptr);  // later blits of other modules expect no clip
  if (rc != 0) return -1;
  if (screen_update_enabled()) update_display_rect(display, x, y, picture->w, picture->h);
  return 0;
}

int blit_skin_background(SDL_Surface* display, SKIN_WINDOW* window) {
  if (!window) return -1;
  return blit_at(display, window->background, 0, 0);
}

int blit_widget_text(SDL_Surface* display, SKIN_WIDGET* widget) {
  if (!widget || !widget->text_picture) return 0;
  if (!display) return -2;
  SDL_Surface* t = widget->text_picture;
  int dx, dw, dy, dh;
  if (widget->w <= t->w) {
    dx = widget->x;
    dw = widget->w;
  } else {
    dw = t->w;
    if (widget->align == 0)
      dx = widget->x + 2;
    else if (widget->align == 2)
      dx = widget->x + widget->w - t->w - 2;
    else
      dx = widget->x + (widget->w - t->w) / 2;
  }
  if (widget->h <= t->h) {
    dy = widget->y;
    dh = widget->h;
  } else {
    dy = widget->y + (widget->h - t->h) / 2;
    dh = t->h;
  }
  if (dw <= 0 || dh <= 0) return 0;
  SDL_Rect clip{static_cast<Sint16>(dx), static_cast<Sint16>(dy), static_cast<Uint16>(dw),
                static_cast<Uint16>(dh)};
  SDL_SetClipRect(display, &clip);
  SDL_SetColorKey(t, SDL_SRCCOLORKEY, 0);
  SDL_Rect dst = clip;
  SDL_BlitSurface(t, nullptr, display, &dst);
  SDL_SetClipRect(display, nullptr);
  if (screen_update_enabled()) update_display_rect(display, dx, dy, dw, dh);
  return 0;
}

int draw_widget(SDL_Surface* display, SKIN_WINDOW* window, SKIN_WIDGET* widget) {
  if (!window || !widget) return -1;
  if (widget->hidden) return 0;
  if (widget->kind == 0) return 0;  // indicators are drawn by their owners
  SDL_Surface* pic = current_picture(*widget);
  if (!pic) {
    if (widget->index != 0)
      std::printf("%s.%d.%d is NULL.\n", widget->name, widget->state, widget->index);
    return 0;
  }
  // No RLE: pixel reads of the hit test need plain pixel memory after the first blit.
  if (window->colour_key_on)
    SDL_SetColorKey(pic, SDL_SRCCOLORKEY,
                    SDL_MapRGB(pic->format, window->key_r, window->key_g, window->key_b));
  else
    SDL_SetColorKey(pic, 0, 0);
  if (blit_at(display, pic, widget->x, widget->y) != 0) return -1;
  if (widget->text_picture) blit_widget_text(display, widget);
  if (widget->kind == 5)
    draw_indented_list(display, window, widget);
  else if (widget->kind == 8)
    draw_column_list(display, window, widget);
  return 0;
}

int redraw_widget(SDL_Surface* display, int id, int widget) {
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  if (!w) return -1;
  return draw_widget(display, get_skin_window(id), w);
}

int set_widget_state(SDL_Surface* display, int id, int widget, int state) {
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  if (!w) return -1;
  if (w->kind == 0) {
    w->state = state;
    return 0;
  }
  if (state < 0 || state >= w->num_states) return 0;
  if (state == 1) {
    g_focused = widget;
    w->enabled = 1;
  } else {
    w->enabled = state == 4 ? 0 : 1;
  }
  w->state = state;
  draw_widget(display, get_skin_window(id), w);
  return 0;
}

int reset_widget(SDL_Surface* display, SKIN_WIDGET* widget) {
  if (!widget) return -1;
  widget->on = 0;
  widget->state = 0;
  if (widget->hidden) return 0;
  if (blit_at(display, widget->pictures[0], widget->x, widget->y) != 0) return -1;
  if (widget->kind == 4 && widget->text_picture) blit_widget_text(display, widget);
  return 0;
}

int reset_widget_state(SDL_Surface* display, int id, int widget, int draw) {
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  if (!w) return -1;
  w->state = 0;
  return draw ? reset_widget(display, w) : 0;
}

int press_widget(SDL_Surface* display, int id, int widget) {
  SKIN_WINDOW* win = get_skin_window(id);
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  if (!w || w->state != 1) return -1;
  g_focused = widget;
  if (w->kind == 2) {
    w->on = w->on ? 0 : 1;
  } else if (w->kind == 3) {
    disable_screen_update();
    for (int i = 0; i < win->num_widgets; ++i) {
      SKIN_WIDGET& o = win->widgets[i];
      if (i == widget) {
        o.on = 1;
        if (o.enabled) {
          o.state = 1;
          draw_widget(display, win, &o);
        }
      } else if (std::strcmp(o.name, w->name) == 0) {
        o.on = 0;
        if (o.enabled) {
          o.state = 0;
          draw_widget(display, win, &o);
        }
      }
    }
    enable_screen_update();
    update_surface(display);
  }
  return 0;
}

int draw_skin_window(SDL_Surface* display, int id) {
  SKIN_WINDOW* win = get_skin_window(id);
  if (!win || !display || !win->background) return -1;
  SDL_Rect clip{0, 0, static_cast<Uint16>(win->background->w),
                static_cast<Uint16>(win->background->h)};
  SDL_SetClipRect(display, &clip);
  SDL_BlitSurface(win->background, nullptr, display, nullptr);
  SDL_SetClipRect(display, nullptr);
  disable_screen_update();
  for (int i = 1; i < win->num_widgets && win->widgets; ++i)
    if (!win->widgets[i].hidden) draw_widget(display, win, &win->widgets[i]);
  enable_screen_update();
  update_surface(display);
  return 0;
}

int redraw_widgets_in_rect(SDL_Surface* display, const SDL_Rect* rect, int id) {
  SKIN_WINDOW* win = get_skin_window(id);
  if (!win || !rect || !win->widgets) return -1;
  for (int i = 1; i < win->num_widgets; ++i) {
    SKIN_WIDGET& w = win->widgets[i];
    if (w.x <= rect->x + rect->w && rect->x <= w.x + w.w && w.y <= rect->y + rect->h &&
        rect->y <= w.y + w.h)
      draw_widget(display, win, &w);
  }
  return 0;
}

int restore_background_rect(SDL_Surface* display, int id, int x, int y, int w, int h) {
  SKIN_WINDOW* win = get_skin_window(id);
  if (!win || !win->background || !display) return -1;
  w += 16;  // callers rely on the extra margin to wipe text that ran past the widget
  if (w <= 0 || h <= 0) return 0;
  SDL_Rect src{static_cast<Sint16>(x), static_cast<Sint16>(y), static_cast<Uint16>(w),
               static_cast<Uint16>(h)};
  SDL_Rect dst = src;
  SDL_BlitSurface(win->background, &src, display, &dst);
  if (screen_update_enabled()) update_display_rect(display, x, y, w, h);
  return 0;
}

int restore_widget_area(SDL_Surface* display, int id, int widget) {
  SKIN_WINDOW* win = get_skin_window(id);
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  if (!w || !win->background || !display || w->w <= 0 || w->h <= 0) return -1;
  SDL_Rect src{static_cast<Sint16>(w->x), static_cast<Sint16>(w->y), static_cast<Uint16>(w->w),
               static_cast<Uint16>(w->h)};
  SDL_Rect dst = src;
  SDL_BlitSurface(win->background, &src, display, &dst);
  if (screen_update_enabled()) update_display_rect(display, w->x, w->y, w->w, w->h);
  return 0;
}

uint32_t get_pixel(SDL_Surface* picture, int x, int y) {
  if (!picture || !picture->pixels || x < 0 || y < 0 || x >= picture->w || y >= picture->h)
    return 0;
  int bpp = picture->format->BytesPerPixel;
  const uint8_t* p = static_cast<const uint8_t*>(picture->pixels) + y * picture->pitch + x * bpp;
  switch (bpp) {
    case 1: return p[0];
    case 2: return get_le16(p);
    case 3: return get_le24(p);
    case 4: return get_le32(p);
    default: return 0;
  }
}

int find_widget_at(int id, int x, int y) {
  SKIN_WINDOW* win = get_skin_window(id);
  if (!win || !win->widgets) return 0;
  for (int i = 0; i < win->num_widgets; ++i) {
    const SKIN_WIDGET& w = win->widgets[i];
    if (w.hidden || !w.enabled) continue;
    if (!(w.x < x && x < w.x + w.w && w.y < y && y < w.y + w.h)) continue;
    SDL_Surface* pic = win->colour_key_on ? current_picture(w) : nullptr;
    if (pic) {
      // Locking undoes any RLE encoding so the pixel memory is readable.
      if (SDL_LockSurface(pic) != 0) return i;
      uint32_t px = get_pixel(pic, x - w.x, y - w.y);
      bool have_pixels = pic->pixels != nullptr;
      SDL_UnlockSurface(pic);
      Uint8 r, g, b;
      SDL_GetRGB(px, pic->format, &r, &g, &b);
      if (have_pixels && r == win->key_r && g == win->key_g && b == win->key_b) continue;
    }
    return i;  // without a picture of its state the rectangle decides
  }
  return 0;
}

int copy_widget_look(int id, int from, int to) {
  SKIN_WIDGET* a = get_skin_widget(id, from);
  SKIN_WIDGET* b = get_skin_widget(id, to);
  if (!a || !b) return -1;
  if (a->w != b->w || a->h != b->h || a->num_states != b->num_states) return -2;
  b->kind = a->kind;
  for (int attr = 0; attr <= 6; ++attr)
    set_widget_attr(id, to, attr, static_cast<uint8_t>(get_widget_attr(id, from, attr)));
  skin_copy(b->caption, sizeof b->caption, a->caption);
  for (int s = 0; s < a->num_states && s < 12; ++s) {
    SDL_Surface* src = a->pictures[s];
    SDL_Surface* dst = b->pictures[s];
    if (!src || !dst) continue;
    // A raw copy: the source's colour key (set when it was drawn) must not leave holes.
    Uint32 key_flags = src->flags & SDL_SRCCOLORKEY;
    Uint32 key = src->format->colorkey;
    SDL_SetColorKey(src, 0, 0);
    SDL_Rect d{0, 0, 0, 0};
    SDL_BlitSurface(src, nullptr, dst, &d);
    if (key_flags) SDL_SetColorKey(src, SDL_SRCCOLORKEY, key);
  }
  return 0;
}

int convert_widget_states(const SDL_PixelFormat* format, int id, int widget) {
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  if (!w || !format) return -1;
  for (int s = 0; s < w->num_states && s < 12; ++s) {
    if (!w->pictures[s]) continue;
    SDL_Surface* c =
        SDL_ConvertSurface(w->pictures[s], const_cast<SDL_PixelFormat*>(format), SDL_SWSURFACE);
    if (!c) continue;
    SDL_FreeSurface(w->pictures[s]);
    w->pictures[s] = c;
  }
  return 0;
}

// ---------------------------------------------------------------- main window predicates

using namespace skin_tables::main_widgets;

int is_no_hover_widget(int id) {
  return (id >= W_CPU_USAGE && id <= W_HDD_USAGE) || id == W_PTZ_LBL ||
         (id >= W_CLOCK_FIRST && id <= W_CLOCK_LAST) || id == W_INACTIVE_MENU;
}

int is_outside_layout_menu(int id) {
  return ((id >= W_LAYOUT1 && id <= W_SWITCH) || id == W_ADD_LAYOUT ||
          (id >= W_ACTIVE_MENU1 && id <= W_ACTIVE_MENU15))
             ? 0
             : 1;
}

int is_active_menu_item(int id) { return id >= W_ACTIVE_MENU1 && id < W_INACTIVE_MENU; }
