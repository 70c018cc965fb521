// On-screen information: up to six text lines over each tile (camera name, DVR name, time of
// the latest frame, picture size, zoom factor, audio notice), rendered with the one
// program-wide OSD font only when their text changes and blitted after each tile drawing.
//
// Threads: decoder threads and the window loop render and blit. Rendering holds the text
// mutex of APP_CONTEXT; a new line picture replaces the old one under the display mutex,
// the same lock under which update_channel_cell blits it. The font is opened once and
// closed when the last line table is freed.
#pragma once

#include <SDL/SDL.h>

#include <cstddef>

#include "client/foundation/app_state.h"

constexpr int OSD_LINES = 6;
constexpr int OSD_POINT_SIZE = 12;
constexpr const char* OSD_FONT_FILE = "ARIALUNI.ttf";

struct OSD_LINE {
  char text[140];         // the text last rendered
  SDL_Surface* picture;   // rendered text, owned; nullptr until rendered
  int32_t x, y;           // offsets of the line layout (line k below line k-1)
  int32_t width, height;  // picture row length in bytes (width rounded up to 4), height
  char font_path[256];
  int32_t point_size;
  SDL_Color fg, bg;
};

// Opens the OSD font (once) from `program_dir` and gives every channel of `rx` its six
// line records. Without the font it prints "Couldn't load %d pt font from %s: %s\n" and the
// channels stay without tables (nothing is ever rendered for them). Any thread.
void load_osd_fonts(RECEIVER_INFO* rx, const char* program_dir);
// Renders the lines selected by the receiver's OSD mask whose text changed: 0, or -1 when
// the receiver has no channel with that id.
int render_osd_text(RECEIVER_INFO* rx, int32_t id);
// Blits the rendered lines onto the channel's cell of the video surface (display mutex
// taken here): 0, or -1 "find_channel() failed.\n".
int update_channel_cell(RECEIVER_INFO* rx, int32_t id);
// Frees the table's pictures and the table; closes the font with the last table.
void close_osd_fonts(OSD_LINE* lines, int count);
// close_osd_fonts of a channel's table, leaving the channel without one.
void free_channel_osd(CHANNEL_INFO* ch);
// Blits line k of a channel at (x, y) of `dst` (the enlarged window). Caller holds the
// display mutex.
void blit_osd_line(CHANNEL_INFO* ch, int k, SDL_Surface* dst, int x, int y);

// Text of line k for a channel of `rx` into out; "" when the line has nothing to show.
void osd_line_text(const APP_CONTEXT* ctx, const RECEIVER_INFO* rx, const CHANNEL_INFO* ch, int k,
                   char* out, size_t cap);
// Where line k of picture size (w, h) stands on the cell, and the clip rectangle that keeps
// it inside the cell (inside the yellow frame when selected). False when nothing shows.
bool osd_line_position(int k, const RECT16& cell, int w, int h, bool selected, int* x, int* y,
                       SDL_Rect* clip);
// The OSD font in use (nullptr when none is open); for tests.
bool osd_font_open();
