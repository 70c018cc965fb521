// Skin windows and widgets: the records built from skin_tables.h, loading of skin.cfg and
// its pictures, widget states, drawing, hit-testing and accessors.
//
// Owns the table of six SKIN_WINDOW records (ids 1..5 used) and every surface hung on them.
// Threads: the window loop and the refresh/status timers; callers serialise drawing with
// the display mutex of APP_CONTEXT (the toolkit has no lock of its own). Every function
// checks its window id (1..5) and widget index: out of range gives its failure result
// (negative, 0 or nullptr as stated) and touches nothing.
#pragma once

#include <SDL/SDL.h>

#include <cstdint>
#include <memory>

struct SKIN_WIDGET {
  int32_t index = 0;
  char name[130] = {};
  int32_t x = -1, y = -1;
  int32_t w = 0, h = 0;
  int32_t edit = 0;  // attribute 2: 0 none, 1 text field, 2 password field
  uint8_t on = 0;    // attribute 3
  uint8_t kind = 0;  // attribute 0
  int32_t state = 0;
  int32_t num_states = 0;  // attribute 5
  SDL_Surface* pictures[12] = {};
  uint8_t hidden = 0;   // attribute 1
  uint8_t enabled = 1;  // attribute 4
  char caption[64] = {};
  char text[256] = {};
  SDL_Surface* text_picture = nullptr;
  uint8_t align = 1;       // attribute 6: 0 left, 1 centre, 2 right
  char* lines[1024] = {};  // kinds 5 and 8: 1024 buffers of 256 bytes in line_store
  uint8_t indent[1024] = {};
  int32_t num_lines = 0;
  int32_t selected = -1;
  int32_t line_height = 0;
  int32_t first_line = 0;
  int32_t shown_first_line = 0;
  int32_t column_width[16] = {};
  std::unique_ptr<char[]> line_store;
};

struct SKIN_WINDOW {
  int32_t id = 0;
  char name[130] = {};
  char image[258] = {};
  SDL_Surface* background = nullptr;
  SDL_Rect video_rect = {0, 0, 0, 0};
  int32_t num_widgets = 0;
  SKIN_WIDGET* widgets = nullptr;  // num_widgets records, owned (init_widgets/free_skins)
  uint8_t key_r = 0, key_g = 0, key_b = 0;
  uint8_t colour_key_on = 1;
};

struct WIDGET_PROPS {
  char image[256];
  char name[132];
  int32_t width, height;
  int32_t src_x[12], src_y[12];
  int32_t dest_x, dest_y;
};

constexpr int kSkinLines = 1024;
constexpr int kSkinLineSize = 256;

// --- Set-up and teardown (window loop, before any drawing) ---
// Sets up windows 1..5 from the built-in tables. Once, before any load_skin.
void init_skins();
// Fills the record's identity; clears pictures, widgets, key (0,0,0, on).
void init_skin_record(SKIN_WINDOW* window, int id, const char* name, int count);
// Allocates and fills the widget records; 0, or -1 with "Not enough memory." (fatal box).
int init_widgets(SKIN_WINDOW* window);
// Loads skin.cfg data and pictures of window `id`. 0; -1 when the file cannot be read or
// the background picture is missing (error box). Missing widget lines/pictures only print.
int load_skin(const char* path, int id);
// Reads the window's captions from the language file: 0; -1 stat, -2 fopen, -3 memory.
int load_widget_captions(const char* path, int id);
// Frees every picture, line buffer, background of windows 1..5 and closes the skin fonts.
void free_skins();
void free_widgets(SKIN_WINDOW* window);
void free_skin_background(SKIN_WINDOW* window);

// Parsers, exposed for the loader's tests. `text` is the whole NUL-terminated skin.cfg.
// 0; -2 "[SKINS]" missing; -3 window line missing; -4 fewer than 10 fields.
int parse_skins_line(const char* window_name, const char* text, SKIN_WINDOW* window);
// 0; -1 memory; -2 section missing; -3 widget line missing or too short.
int config_to_props(const char* name, int n, const char* text, const char* window_name,
                    WIDGET_PROPS* props);
// Cuts one picture per given source pair; 0, or -1 when a creation or blit failed.
int cut_widget_states(SDL_Surface* source, SKIN_WIDGET* widget, const WIDGET_PROPS* props);

// --- Lookups and accessors (window id, widget index) ---
SKIN_WINDOW* get_skin_window(int id);                        // nullptr outside 1..5
SKIN_WIDGET* get_skin_widget(int id, int widget);            // nullptr when either is out of range
int find_widget(int id, const char* name);                   // first index of that name, 0 none
SDL_Surface* find_widget_by_name(int id, const char* name);  // its state-0 picture or null
SDL_Surface* get_widget_state_image(int id, int widget, int state);     // null when none
int get_widget_attr(int id, int widget, int attribute);                 // 0 for unknown attr/widget
int set_widget_attr(int id, int widget, int attribute, uint8_t value);  // 0; -1 bad id
int set_widget_position(int id, int widget, int x, int y);              // 0; -1 bad id/widget
int get_widget_position(int id, int widget, int* x, int* y);            // 0; -1 bad id/widget
int get_widget_size(int id, int widget, int* w, int* h);                // 0; -1 bad id/widget
int get_widget_state(int id, int widget);                               // -1 bad id/widget
int get_widget_state_count(int id, int widget);                         // 0 bad id/widget
char* get_widget_text(int id, int widget);  // widget's text buffer (256), null bad
SDL_Surface* get_widget_text_surface(int id, int widget);
const char* get_widget_caption(int id, int widget);
SDL_Rect get_video_rect(int id);  // zero rectangle for a bad id
SDL_Rect get_skin_size(int id);   // 0,0,w,h of the background; zero without one
int get_focused_widget();
void set_focused_widget(int widget);
void enable_screen_update();
void disable_screen_update();
bool screen_update_enabled();

// --- States and drawing (display = the screen surface; caller holds the display mutex) ---
int set_widget_state(SDL_Surface* display, int id, int widget, int state);  // 0; -1 bad
int reset_widget_state(SDL_Surface* display, int id, int widget, int draw);
int reset_widget(SDL_Surface* display, SKIN_WIDGET* widget);  // -1 when the blit fails
int press_widget(SDL_Surface* display, int id, int widget);   // -1 unless in state 1
int draw_widget(SDL_Surface* display, SKIN_WINDOW* window, SKIN_WIDGET* widget);
int redraw_widget(SDL_Surface* display, int id, int widget);
int draw_skin_window(SDL_Surface* display, int id);  // -1 without display or background
int redraw_widgets_in_rect(SDL_Surface* display, const SDL_Rect* rect, int id);
int restore_widget_area(SDL_Surface* display, int id, int widget);
int restore_background_rect(SDL_Surface* display, int id, int x, int y, int w, int h);
int blit_at(SDL_Surface* display, SDL_Surface* picture, int x, int y);  // -1/-2 missing
int blit_skin_background(SDL_Surface* display, SKIN_WINDOW* window);
int blit_widget_text(SDL_Surface* display, SKIN_WIDGET* widget);
void update_surface(SDL_Surface* surface);  // whole surface, only when it is the screen
void update_display_rect(SDL_Surface* display, int x, int y, int w, int h);
int find_widget_at(int id, int x, int y);        // index hit, 0 none
int copy_widget_look(int id, int from, int to);  // 0; -1 bad ids; -2 sizes/states differ
int convert_widget_states(const SDL_PixelFormat* format, int id, int widget);  // 0; -1
uint32_t get_pixel(SDL_Surface* picture, int x, int y);  // 0 outside or without pixels

// --- Main window predicates (mouse handler) ---
int is_no_hover_widget(int id);
int is_outside_layout_menu(int id);
int is_active_menu_item(int id);
