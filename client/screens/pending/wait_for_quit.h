// The loop the stand-in windows run until their own loops land: end on SDL_QUIT (window
// closed), Escape or the quit flag. Goes with the last stand-in loop that uses it.
#pragma once

#include <SDL/SDL.h>

#include "client/foundation/config/utils.h"

inline int pending_wait_for_quit() {
  while (!app_quit.load()) {
    SDL_Event ev;
    while (SDL_PollEvent(&ev)) {
      if (ev.type == SDL_QUIT || (ev.type == SDL_KEYDOWN && ev.key.keysym.sym == SDLK_ESCAPE)) {
        app_quit.store(1);
        break;
      }
    }
    SDL_Delay(20);
  }
  return 0;
}
