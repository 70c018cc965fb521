// Writes the E-Map's run-time files: the pictures as PPM (the build turns them into GIF and
// JPEG with netpbm and cjpeg), the two sprite maps, and a demo emap.cfg whose one map of
// DVR-1 shows at once.
//
// usage: emap_gen <picture dir> <run dir>
//   <picture dir>: device.ppm, remote-emap.ppm, remote-emap-buttons.ppm, demo-floor.ppm
//   <run dir>:     device.cfg, remote-emap-buttons.cfg, emap.cfg
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Rgb {
  uint8_t r, g, b;
};

class Picture {
 public:
  Picture(int w, int h, Rgb fill) : w_(w), h_(h), px_(size_t(w) * h, fill) {}
  void set(int x, int y, Rgb c) {
    if (x >= 0 && y >= 0 && x < w_ && y < h_) px_[size_t(y) * w_ + x] = c;
  }
  void rect(int x, int y, int w, int h, Rgb c) {
    for (int j = y; j < y + h; ++j)
      for (int i = x; i < x + w; ++i) set(i, j, c);
  }
  void frame(int x, int y, int w, int h, int t, Rgb c) {
    rect(x, y, w, t, c);
    rect(x, y + h - t, w, t, c);
    rect(x, y, t, h, c);
    rect(x + w - t, y, t, h, c);
  }
  bool write(const std::string& path) const {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fprintf(f, "P6\n%d %d\n255\n", w_, h_);
    bool ok = std::fwrite(px_.data(), 3, px_.size(), f) == px_.size();
    return std::fclose(f) == 0 && ok;
  }

 private:
  int w_, h_;
  std::vector<Rgb> px_;
};

// 3 x 5 glyphs of the digits and the few capitals the pictures carry.
const char* glyph(char c) {
  switch (c) {
    case '0': return "111101101101111";
    case '1': return "010110010010111";
    case '2': return "111001111100111";
    case '3': return "111001111001111";
    case '4': return "101101111001001";
    case '5': return "111100111001111";
    case '6': return "111100111101111";
    case '7': return "111001010010010";
    case '8': return "111101111101111";
    case '9': return "111101111001111";
    case 'A': return "010101111101101";
    case 'E': return "111100111100111";
    case 'L': return "100100100100111";
    case 'M': return "101111111101101";
    case 'O': return "111101101101111";
    case 'P': return "111101111100100";
    case 'Z': return "111001010100111";
    case '-': return "000000111000000";
    default: return "000000000000000";
  }
}

void text(Picture& p, int x, int y, const std::string& s, int scale, Rgb c) {
  for (char ch : s) {
    const char* g = glyph(ch);
    for (int j = 0; j < 5; ++j)
      for (int i = 0; i < 3; ++i)
        if (g[j * 3 + i] == '1') p.rect(x + i * scale, y + j * scale, scale, scale, c);
    x += 4 * scale;
  }
}

// Markers: 24 x 24, one column per state frame (codes 1..5), one row per device number;
// cameras, sensors and relays side by side. Each state has its own fill colour, so the
// states differ wherever the fill shows (a 3-pixel margin inside the border everywhere).
constexpr int kMarker = 24;
constexpr Rgb kStateFill[5] = {
    {40, 170, 60}, {240, 200, 30}, {128, 128, 128}, {220, 30, 30}, {40, 90, 220}};

void marker(Picture& p, int x0, int y0, int kind, int state, int number) {
  const Rgb white{255, 255, 255}, black{0, 0, 0};
  p.rect(x0, y0, kMarker, kMarker, kStateFill[state]);
  p.frame(x0, y0, kMarker, kMarker, 1, black);
  if (kind == 0) {  // camera: body and lens
    p.rect(x0 + 6, y0 + 4, 10, 8, white);
    p.rect(x0 + 16, y0 + 6, 3, 4, white);
    p.rect(x0 + 9, y0 + 6, 3, 3, black);
  } else if (kind == 1) {  // sensor: a disc
    for (int j = -4; j <= 4; ++j)
      for (int i = -4; i <= 4; ++i)
        if (i * i + j * j <= 17) p.set(x0 + 12 + i, y0 + 8 + j, white);
  } else {  // relay: a diamond
    for (int j = -4; j <= 4; ++j)
      for (int i = -4 + std::abs(j); i <= 4 - std::abs(j); ++i)
        p.set(x0 + 12 + i, y0 + 8 + j, white);
  }
  std::string n = std::to_string(number);
  text(p, x0 + 12 - int(n.size()) * 2, y0 + 15, n, 1, white);
}

bool write_text(const std::string& path, const std::string& body) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(body.data(), 1, body.size(), f) == body.size();
  return std::fclose(f) == 0 && ok;
}

// The window background: title bar, the map frame around the 800 x 680 map area at 12, 49
// and the right-hand panel behind the target combo, the lists and the buttons.
Picture background() {
  Picture p(1024, 740, {44, 52, 64});
  p.rect(0, 0, 1024, 40, {24, 64, 128});
  text(p, 14, 10, "ZOL E-MAP", 4, {235, 235, 235});
  p.frame(8, 45, 808, 688, 4, {150, 160, 175});
  p.rect(12, 49, 800, 680, {20, 20, 24});
  p.rect(814, 45, 204, 688, {60, 70, 86});
  p.frame(814, 45, 204, 688, 1, {150, 160, 175});
  p.frame(0, 0, 1024, 740, 2, {10, 14, 20});
  return p;
}

// Two 28 x 28 buttons, five frames each across (state codes 0..4: frame 1 is the normal
// look, frame 3 the look under the pointer); minimize in the top row, close below.
constexpr int kButton = 28;
Picture buttons() {
  Picture p(5 * kButton, 2 * kButton, {0, 0, 0});
  const Rgb face[5] = {{90, 100, 115}, {90, 100, 115}, {60, 70, 80}, {200, 120, 40}, {70, 70, 70}};
  for (int row = 0; row < 2; ++row)
    for (int f = 0; f < 5; ++f) {
      int x = f * kButton, y = row * kButton;
      p.rect(x, y, kButton, kButton, face[f]);
      p.frame(x, y, kButton, kButton, 2, {230, 230, 230});
      if (row == 0) {
        p.rect(x + 7, y + 18, 14, 3, {255, 255, 255});
      } else {
        for (int i = 7; i < 21; ++i) {
          p.rect(x + i, y + i, 2, 2, {255, 255, 255});
          p.rect(x + 27 - i, y + i, 2, 2, {255, 255, 255});
        }
      }
    }
  return p;
}

// The demo floor plan: rooms of a small office drawn in plan.
Picture floor_plan() {
  Picture p(800, 680, {236, 232, 220});
  const Rgb wall{60, 60, 70};
  p.frame(40, 40, 720, 600, 8, wall);
  p.rect(300, 40, 8, 260, wall);
  p.rect(40, 300, 460, 8, wall);
  p.rect(500, 300, 8, 340, wall);
  p.rect(300, 150, 8, 60, {236, 232, 220});  // doors
  p.rect(380, 300, 70, 8, {236, 232, 220});
  p.rect(500, 420, 8, 70, {236, 232, 220});
  p.rect(360, 620, 90, 20, {180, 200, 230});  // entrance
  for (int i = 0; i < 6; ++i) p.rect(560, 360 + i * 40, 160, 3, {170, 165, 150});
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: emap_gen <picture dir> <run dir>\n");
    return 2;
  }
  const std::string pics = argv[1], run = argv[2];

  Picture sheet(3 * 5 * kMarker, 32 * kMarker, {0, 0, 0});
  for (int kind = 0; kind < 3; ++kind)
    for (int f = 0; f < 5; ++f)
      for (int n = 1; n <= 32; ++n)
        marker(sheet, (kind * 5 + f) * kMarker, (n - 1) * kMarker, kind, f, n);

  const char* kDeviceCfg =
      "[EMAP_DEVICE]\n"
      "camera,24,24,0,0,0,0,horizontal,1,2,3,4,5\n"
      "sensor,24,24,0,0,120,0,horizontal,1,2,3,4,5\n"
      "relay,24,24,0,0,240,0,horizontal,1,2,3,4,5\n";
  const char* kButtonCfg =
      "[BUTTONS]\n"
      "EMAP_MINIMIZE_BUTTON,950,6,28,28,0,0,horizontal,0,1,2,3,4\n"
      "EMAP_CLOSE_BUTTON,986,6,28,28,0,28,horizontal,0,1,2,3,4\n";
  // DVR-1's ground floor: cameras 1-4 in the rooms, sensor 1 at the entrance, relay 1 at the
  // door; DVR-2 and the group start without maps.
  const char* kEmapCfg =
      "[DVR-1]\ndvr_name=DVR-1\nnum_map=1"
      "\nmap_image_1=.\\emap\\demo-floor.jpg\nmap_name_1=Ground floor\n"
      "map_devices_1=150,150,C,0,1~~650,150,C,0,2~~150,450,C,0,3~~650,500,C,0,4"
      "~~405,600,S,0,1~~520,455,R,0,1\n\n"
      "[DVR-2]\ndvr_name=DVR-2\nnum_map=0\n\n"
      "[GROUP]\nnum_group=1\n\n"
      "[GROUP_1]\ngroup_name=All DVRs\ndvr_num=2\nemap_num=0\nDVR-1=65535\nDVR-2=65535\n\n";

  bool ok = sheet.write(pics + "/device.ppm") && background().write(pics + "/remote-emap.ppm") &&
            buttons().write(pics + "/remote-emap-buttons.ppm") &&
            floor_plan().write(pics + "/demo-floor.ppm") &&
            write_text(run + "/device.cfg", kDeviceCfg) &&
            write_text(run + "/remote-emap-buttons.cfg", kButtonCfg) &&
            write_text(run + "/emap.cfg", kEmapCfg);
  if (!ok) std::fprintf(stderr, "emap_gen: cannot write the E-Map files\n");
  return ok ? 0 : 1;
}
