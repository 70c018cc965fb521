// libFuzzer target: the skin's text files: skin.cfg's window and widget lines for every
// window of the built-in tables, each widget's pictures cut from a small source picture by
// the parsed rectangles, and the language file's captions of every window. The first byte
// says which file the rest is. Pictures are cut only up to 256 x 256 pixels a state and 256 K
// pixels an input (the widgets after that are parsed only): larger ones only allocate and
// clear pixels the 64 x 64 source cannot fill, and cutting every widget of the real skin
// took a third of a second an input.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "client/screens/skin.h"
#include "tests/client/fuzz/fuzz_rig.h"

namespace {
constexpr int64_t kMaxStatePixels = 256 * 256;
constexpr int64_t kMaxInputPixels = 1 << 18;
SDL_Surface* g_source = nullptr;
char g_path[64];
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_rig::quiet_stdout();
  init_skins();
  g_source = SDL_CreateRGBSurface(SDL_SWSURFACE, 64, 64, 32, 0xFF0000, 0xFF00, 0xFF, 0);
  std::snprintf(g_path, sizeof g_path, "language-%d.txt",
                int(getpid()));  // in the working directory
  return g_source ? 0 : -1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  app_quit.store(0);
  if (size < 1 || size > 65536) return 0;
  if (data[0] & 1) {
    // The language file is read from disk like the program does.
    FILE* f = std::fopen(g_path, "wb");
    if (!f) return 0;
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);
    for (int id = 1; id <= 5; ++id) load_widget_captions(g_path, id);
    return 0;
  }
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  int64_t budget = kMaxInputPixels;
  for (int id = 1; id <= 5; ++id) {
    SKIN_WINDOW* window = get_skin_window(id);
    parse_skins_line(window->name, text.c_str(), window);
    for (int i = 1; i < window->num_widgets && window->widgets; ++i) {
      SKIN_WIDGET& w = window->widgets[i];
      WIDGET_PROPS props;
      if (config_to_props(w.name, w.num_states, text.c_str(), window->name, &props) != 0) continue;
      const int64_t pixels = int64_t(props.width) * props.height;
      int states = 0;
      for (int k = 0; k < 12; ++k) states += props.src_x[k] >= 0 && props.src_y[k] >= 0;
      if (pixels > kMaxStatePixels || pixels * states > budget) continue;
      budget -= pixels * states;
      cut_widget_states(g_source, &w, &props);
    }
  }
  return 0;
}
