// Default skin generator: writes skin.cfg (1280 x 1024), skin_1024x768.cfg (1024 x 768), their
// BMP pictures under skin/, and english.txt: the caption sections from the client's own
// widget tables (client/screens/skin_tables.h) and the setup tool's keys from its key
// table (tool/language_keys.h).
//
// usage: skin_gen <run dir> <font dir>
// Every widget line is checked the way the client finds it (first occurrence of the name
// after the section header); a clash fails the build instead of misplacing a widget.
#include <SDL/SDL.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "assets/skin/skin_art.h"
#include "assets/skin/skin_layout.h"
#include "client/screens/skin_tables.h"
#include "tool/language_keys.h"

using art::Look;
using namespace skin_layout;

namespace {

struct Packed {
  std::vector<std::pair<int, int>> src;  // one per state
};

bool write_file(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

SDL_Surface* new_rgb(int w, int h) {
  return SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 24, 0x0000FF, 0x00FF00, 0xFF0000, 0);
}

// Reports names whose first occurrence after the section header is not their own line,
// exactly as the client's substring search would find them.
bool check_lines(const std::string& text, const std::string& section, int id, const char* what) {
  size_t head = text.find("[" + section + "]");
  if (head == std::string::npos) {
    std::fprintf(stderr, "skin_gen: %s: section [%s] missing\n", what, section.c_str());
    return false;
  }
  head += section.size() + 2;
  bool ok = true;
  for (int i = 1; i < skin_tables::kWidgetCounts[id]; ++i) {
    std::string name = skin_tables::widget_def(id, i)->name;
    size_t at = text.find(name, head);
    bool own = at != std::string::npos && text[at - 1] == '\n' &&
               (text[at + name.size()] == ' ' || text[at + name.size()] == '=');
    if (!own) {
      std::fprintf(stderr, "skin_gen: %s: [%s] %s is found inside another line\n", what,
                   section.c_str(), name.c_str());
      ok = false;
    }
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: skin_gen <run dir> <font dir>\n");
    return 2;
  }
  const std::string run = argv[1];
  art::Painter painter(argv[2]);
  if (!painter.ok()) return 1;
  mkdir((run + "/skin").c_str(), 0755);

  bool ok = true;
  for (int res : {1280, 1024}) {
    std::string cfg = std::string("; vigilo default skin, ") +
                      (res == 1280 ? "1280 x 1024" : "1024 x 768") +
                      ", generated at build time\n[SKINS]\n";
    std::string sections;
    for (int id = 1; id < skin_tables::kWindowCount; ++id) {
      WindowLayout lay = layout_window(id, res, painter);
      const std::string tag = std::string(kFilePrefix[id]) + std::to_string(res);
      const std::string bg_name = "skin/" + tag + "bg.bmp";
      const std::string px_name = "skin/" + tag + "px.bmp";

      // Every distinct name of the table must be placed exactly once.
      std::map<std::string, const Place*> by_name;
      for (const Place& p : lay.places) by_name[p.name] = &p;
      std::vector<std::string> order;
      std::set<std::string> seen;
      for (int i = 1; i < skin_tables::kWidgetCounts[id]; ++i) {
        std::string n = skin_tables::widget_def(id, i)->name;
        if (seen.insert(n).second) order.push_back(n);
        if (!by_name.count(n)) {
          std::fprintf(stderr, "skin_gen: %s has no place for %s\n", tag.c_str(), n.c_str());
          ok = false;
        }
      }
      if (!ok) return 1;

      // Shelf-pack every state picture into one atlas per window.
      const int atlas_w = 1024;
      int x = 0, y = 0, shelf = 0;
      std::map<std::string, Packed> packed;
      for (const std::string& n : order) {
        const Place& p = *by_name[n];
        int states = skin_tables::widget_def(id, find_index(id, n))->states;
        for (int s = 0; s < states; ++s) {
          if (x + p.w > atlas_w) {
            x = 0;
            y += shelf + 1;
            shelf = 0;
          }
          packed[n].src.push_back({x, y});
          x += p.w + 1;
          if (p.h > shelf) shelf = p.h;
        }
      }
      SDL_Surface* atlas = new_rgb(atlas_w, y + shelf + 1);
      SDL_FillRect(atlas, nullptr,
                   SDL_MapRGB(atlas->format, art::kKey.r, art::kKey.g, art::kKey.b));
      for (const std::string& n : order) {
        const Place& p = *by_name[n];
        const auto& src = packed[n].src;
        for (size_t s = 0; s < src.size(); ++s) {
          SDL_Rect r{static_cast<Sint16>(src[s].first), static_cast<Sint16>(src[s].second),
                     static_cast<Uint16>(p.w), static_cast<Uint16>(p.h)};
          painter.paint(atlas, r, p.look, static_cast<int>(s), p.label, p.param);
        }
      }

      SDL_Surface* bg = new_rgb(lay.width, lay.height);
      paint_background(bg, lay, painter);

      if (SDL_SaveBMP(atlas, (run + "/" + px_name).c_str()) != 0 ||
          SDL_SaveBMP(bg, (run + "/" + bg_name).c_str()) != 0) {
        std::fprintf(stderr, "skin_gen: cannot write pictures of %s\n", tag.c_str());
        return 1;
      }
      SDL_FreeSurface(atlas);
      SDL_FreeSurface(bg);

      char line[512];
      std::snprintf(line, sizeof line, "%s = %d, %s, %d, %d, %d, %d, %d, %d, %d\n",
                    skin_tables::kWindowNames[id], id, bg_name.c_str(), lay.video.x, lay.video.y,
                    lay.video.w, lay.video.h, art::kKey.r, art::kKey.g, art::kKey.b);
      cfg += line;

      sections += std::string("\n[") + skin_tables::kWindowNames[id] + "]\n";
      for (const std::string& n : order) {
        const Place& p = *by_name[n];
        std::string l =
            n + " = " + px_name + ", " + std::to_string(p.w) + ", " + std::to_string(p.h);
        for (auto& s : packed[n].src)
          l += ", " + std::to_string(s.first) + ", " + std::to_string(s.second);
        l += ", " + std::to_string(p.x) + ", " + std::to_string(p.y) + "\n";
        sections += l;
      }
    }
    cfg += sections;
    // The client finds a window's [SKINS] line as the first occurrence of its name.
    for (int id = 1; id < skin_tables::kWindowCount; ++id) {
      std::string n = skin_tables::kWindowNames[id];
      size_t at = cfg.find(n, cfg.find("[SKINS]"));
      if (at == std::string::npos || cfg[at - 1] != '\n' ||
          cfg.compare(at, n.size() + 3, n + " = ") != 0) {
        std::fprintf(stderr, "skin_gen: [SKINS] line of %s is found inside another line\n",
                     n.c_str());
        ok = false;
      }
    }
    for (int id = 1; id < skin_tables::kWindowCount; ++id)
      ok = check_lines(cfg, skin_tables::kWindowNames[id], id, "skin.cfg") && ok;
    const std::string name = res == 1280 ? "/skin.cfg" : "/skin_1024x768.cfg";
    if (!ok || !write_file(run + name, cfg)) return 1;
  }

  // Captions of the language file: the tool-tips of the widgets.
  std::string lang = "; vigilo captions, English\n";
  for (int id = 1; id < skin_tables::kWindowCount; ++id) {
    lang += std::string("\n[") + skin_tables::kWindowNames[id] + "]\n";
    std::set<std::string> seen;
    for (int i = 1; i < skin_tables::kWidgetCounts[id]; ++i) {
      std::string n = skin_tables::widget_def(id, i)->name;
      if (!seen.insert(n).second) continue;
      lang += n + " = " + caption_of(id, n) + "\n";
    }
  }
  // The setup tool's keys, found by their first occurrence anywhere in the file.
  lang += "\n[auxdesk]\n" + language_key_lines();
  for (int id = 1; id < skin_tables::kWindowCount; ++id)
    ok = check_lines(lang, skin_tables::kWindowNames[id], id, "english.txt") && ok;
  if (std::string problem = language_file_problem(lang); !problem.empty()) {
    std::fprintf(stderr, "skin_gen: english.txt: %s\n", problem.c_str());
    ok = false;
  }
  if (!ok || !write_file(run + "/english.txt", lang)) return 1;
  return 0;
}
