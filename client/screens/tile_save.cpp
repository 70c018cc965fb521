// Saving of the video tiles (tiles.h): the whole display, or the pictures of the selected
// channels, as JPEG through a BMP.
#include "client/screens/tiles.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "client/foundation/channel_table.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sdl_lock.h"
#include "client/screens/tiles_internal.h"

using namespace tiles_internal;

namespace {

bool english() {
  static RC_SYSTEM_INFO sys;
  copy_system_info(&sys);
  return strcmp(sys.language, "English") == 0;
}

// Saves the BMP, turns it into the JPEG and removes it: 0, -1 when the BMP could not be
// written. Called with no lock held: cjpeg may take seconds.
int save_bmp_then_jpeg(SDL_Surface* picture, const char* bmp, const char* jpg) {
  if (SDL_SaveBMP(picture, bmp) != 0) return -1;
  convert_to_jpeg(bmp, jpg);
  remove(bmp);
  return 0;
}

void show_save_complete() { error_box(english() ? "Save complete!" : "저장하였습니다."); }

}  // namespace

int save_display(APP_CONTEXT* ctx, const char* path) {
  if (!path) return -1;
  SDL_Surface* copy;
  {
    SdlLock display(ctx->display_mutex);
    SDL_Surface* video = video_surface(ctx);
    copy = video ? create_tile_surface(ctx, video->w, video->h) : nullptr;
    if (!copy) {
      debug_message("Unable to save display. Not enough video or cpu memory.");
      printf("save_display():SDL_CreateRGBSurface() failed.\n");
      return -1;
    }
    SDL_BlitSurface(video, nullptr, copy, nullptr);
  }
  // Names without the extension: cut at the last '.' of the file name itself, so that a
  // directory such as "./captures" keeps its dot.
  std::string base(path);
  size_t slash = base.find_last_of("/\\");
  size_t dot = base.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) base.resize(dot);
  const std::string bmp = base + ".bmp", jpg = base + ".jpg";
  int rc = save_bmp_then_jpeg(copy, bmp.c_str(), jpg.c_str());
  SDL_FreeSurface(copy);
  if (rc != 0)
    debug_message("Unable to save display. Path does not exist or write access not allowed.");
  else
    show_save_complete();
  return rc;
}

int save_selected_pictures(const char* directory, APP_CONTEXT* ctx) {
  // Each picture is copied under its channel's lock and saved after it: the decoder of that
  // slot keeps drawing while cjpeg runs and while the box waits for the operator.
  struct Pending {
    SDL_Surface* picture;
    char bmp[512], jpg[512];
  };
  std::vector<Pending> pending;
  int rc = 0;
  for_each_channel(ctx, [&](RECEIVER_INFO& rx, CHANNEL_INFO& ch, int k) {
    if (!ch.selected || rc != 0) return;
    Pending p{};
    if (make_snapshot_name(&app_options, p.bmp, sizeof p.bmp, rx.name, k, "bmp") != 0 ||
        make_snapshot_name(&app_options, p.jpg, sizeof p.jpg, rx.name, k, "jpg") != 0) {
      debug_message("Unable to save image file.");
      rc = -1;
      return;
    }
    SdlLock picture(ch.mutex);
    if (!ch.surface) {
      rc = -1;
      return;
    }
    p.picture = SDL_ConvertSurface(ch.surface, ch.surface->format, SDL_SWSURFACE);
    if (!p.picture) {
      debug_message("Unable to save image file.");
      rc = -1;
      return;
    }
    pending.push_back(p);
  });
  (void)directory;  // the snapshot names come from the configured record path
  int saved = 0;
  for (Pending& p : pending) {
    // A fresh installation has no record folder yet.
    std::string folder(p.bmp);
    const size_t slash = folder.find_last_of('/');
    if (slash != std::string::npos && slash > 0) make_dirs(folder.substr(0, slash + 1).c_str());
    if (save_bmp_then_jpeg(p.picture, p.bmp, p.jpg) == 0) {
      ++saved;
    } else {
      debug_message("Unable to save image file.");
      rc = -1;
    }
    SDL_FreeSurface(p.picture);
  }
  if (saved > 0) show_save_complete();
  return rc;
}
