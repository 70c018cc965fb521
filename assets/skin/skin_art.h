// Painting of the default skin: colours, text and the looks of every widget kind.
// Used only by the skin generator (build time); draws into 24-bit SDL surfaces.
#pragma once

#include <SDL/SDL.h>
#include <SDL/SDL_ttf.h>

#include <map>
#include <string>

namespace art {

struct Rgb {
  Uint8 r, g, b;
};

// The colour key of every widget picture. No painter below uses it except Look::clear and
// the rounded corners, so a key pixel is always meant to be transparent.
constexpr Rgb kKey{255, 0, 255};
// The interior of list widgets and of the window background beneath them: the scroll
// animation shows the background there, so both must match.
constexpr Rgb kListBg{16, 19, 24};
// Labels and fields sit behind text rendered on (16, 16, 16).
constexpr Rgb kFieldBg{16, 16, 16};
constexpr Rgb kWindowTop{26, 31, 39};
constexpr Rgb kWindowBottom{14, 17, 22};
constexpr Rgb kPanel{24, 29, 36};
constexpr Rgb kPanelEdge{46, 54, 66};
constexpr Rgb kTopBar{18, 22, 28};
constexpr Rgb kVideo{6, 8, 10};
constexpr Rgb kAccent{64, 156, 255};
constexpr Rgb kText{222, 228, 236};
constexpr Rgb kDimText{104, 112, 124};

enum class Look {
  button,     // push button with a label: normal, pressed, hover, pressed, disabled
  toggle,     // toggle/radio with a label: off, on, off-hot, on-hot, disabled
  cell,       // unlabeled toggle/radio cell (calendar days, bars, cameras)
  field,      // label or input field: dark inset
  meter,      // 11 states: 0..10 of 10 segments lit
  digits,     // 10 states: 0..9
  weekday,    // 7 states: SUN..SAT
  speed,      // 9 states: 1..9
  list,       // list panel
  frame,      // panel frame
  icon,       // tile mark on black (param: 0 rec, 1 zoom, 2 motion, 3 sensor)
  spinner,    // 8 states of a rotating dot ring on black
  plate,      // a label plate (param: colour index); every state alike
  tile_bg,    // tile background
  progress,   // 5 states: 0, 25, 50, 75, 100 %
  indicator,  // 2 states: off, on
  tooltip,    // yellow box
  message,    // red box
  clear,      // entirely transparent
  grid,       // layout button with a g x g grid (param g) and a label under it
  arrow,      // push button with an arrow (param: 0 N, 1 NE ... 7 NW)
  menu_slot,  // empty user menu slot
};

class Painter {
 public:
  explicit Painter(const std::string& font_dir);
  ~Painter();
  bool ok() const { return ok_; }

  void fill(SDL_Surface* s, SDL_Rect r, Rgb c);
  void gradient(SDL_Surface* s, SDL_Rect r, Rgb top, Rgb bottom);
  void outline(SDL_Surface* s, SDL_Rect r, Rgb c, int t = 1);
  void round_corners(SDL_Surface* s, SDL_Rect r, Rgb outside);
  // Centred (align 1) or left (0) text shrunk to fit the rectangle; bold or regular.
  void text(SDL_Surface* s, SDL_Rect r, const std::string& t, Rgb c, int pt, bool bold = true,
            int align = 1);
  void panel(SDL_Surface* s, SDL_Rect r);
  // One picture of widget look `look` in state `state`, into rectangle r of s.
  void paint(SDL_Surface* s, SDL_Rect r, Look look, int state, const std::string& label, int param);
  int line_height(int pt);  // of the regular (list) font

 private:
  TTF_Font* font(int pt, bool bold);
  void button_face(SDL_Surface* s, SDL_Rect r, int face);
  void arrow(SDL_Surface* s, SDL_Rect r, int dir, Rgb c);
  void disc(SDL_Surface* s, int cx, int cy, int rad, Rgb c);
  std::string dir_;
  std::map<int, TTF_Font*> bold_, regular_;
  bool ok_ = true;
};

}  // namespace art
