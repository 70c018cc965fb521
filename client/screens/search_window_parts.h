// Helpers the search window's files share (not for other modules).
#pragma once

#include <SDL/SDL.h>

#include "client/foundation/app_state.h"
#include "client/foundation/sdl_lock.h"
#include "client/screens/tiles.h"

namespace search_parts {

inline SDL_Surface* screen_of(APP_CONTEXT* ctx) { return ctx->surfaces[SURF_SCREEN]; }
inline bool can_draw(APP_CONTEXT* ctx) { return ctx->skin && screen_of(ctx); }

// Every label of the window: the default font, light grey on near black.
void use_text_style();

// A row of widgets redrawn as one: the display mutex held, screen updates off, and one
// update of the rectangle the row's widgets cover when the batch ends. A batch inside
// another leaves the update to the outer one.
class RowBatch {
 public:
  explicit RowBatch(APP_CONTEXT* ctx);
  ~RowBatch();
  RowBatch(const RowBatch&) = delete;
  RowBatch& operator=(const RowBatch&) = delete;
  void cover(int widget);  // adds the widget's rectangle
  void cover(int x, int y, int w, int h);
  SDL_Surface* screen() const { return screen_; }

 private:
  SdlLock lock_;
  SDL_Surface* screen_;
  bool outer_;
  int x0_ = 1 << 30, y0_ = 1 << 30, x1_ = -(1 << 30), y1_ = -(1 << 30);
};

// Hides the `count` cells of a bar from widget `first` and paints the background over the
// row they fill (each cell w + 1 apart).
void erase_bar(APP_CONTEXT* ctx, int first, int count);

// The receiver whose recordings the window plays (the first one), or null when none.
RECEIVER_INFO* search_receiver(APP_CONTEXT* ctx);

}  // namespace search_parts
