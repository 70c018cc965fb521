// Where the default skin puts each widget, per window and resolution, and what it shows.
// Used only by the skin generator; the widget set itself comes from skin_tables.h.
#pragma once

#include <SDL/SDL.h>

#include <string>
#include <vector>

#include "assets/skin/skin_art.h"

namespace skin_layout {

// One skin.cfg line: a widget name, its destination and size, and how its states look.
struct Place {
  std::string name;
  int x, y, w, h;
  art::Look look;
  std::string label;
  int param = 0;
};

// Decorations painted into the window background (panels, captions, separators).
struct Deco {
  enum Kind { panel, bar, text, dim_text, video } kind;
  SDL_Rect r;
  std::string label;
  int pt = 10;
  int align = 1;
};

struct WindowLayout {
  int width = 0, height = 0;
  SDL_Rect video{0, 0, 0, 0};
  std::vector<Place> places;
  std::vector<Deco> decos;
};

// File name prefixes of the windows' pictures (chosen to contain no widget name).
constexpr const char* kFilePrefix[6] = {"", "lg", "mn", "sr", "pb", "ev"};

// The layout of window `id` for the 1280 or 1024 skin.
WindowLayout layout_window(int id, int res, art::Painter& painter);
// Background: gradient, panels, decorations, and the list interiors under list widgets.
void paint_background(SDL_Surface* bg, const WindowLayout& lay, art::Painter& painter);
// First table index of `name` in window `id` (0 when none).
int find_index(int id, const std::string& name);
// The English caption (tool-tip) of a widget.
std::string caption_of(int id, const std::string& name);

}  // namespace skin_layout
