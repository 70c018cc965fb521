// Writes images/icon.bmp, the setup tool's window icon: a 32 x 32 24-bit BMP of a camera.
//
// usage: icon_gen <run dir>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 32;
constexpr int kRowBytes = kSize * 3;  // a multiple of 4: no row padding
constexpr int kHeaderBytes = 54;

void put_le16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put_le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

struct Rgb {
  uint8_t r, g, b;
};

// The picture, top row first: a blue tile with a white camera body and a dark lens.
Rgb pixel(int x, int y) {
  const Rgb tile{24, 64, 128}, body{235, 235, 235}, lens{30, 30, 40}, glint{140, 200, 255};
  bool corner = (x < 2 || x > 29) && (y < 2 || y > 29);
  if (corner) return {0, 0, 0};
  int dx = x - 14, dy = y - 17;
  if (dx * dx + dy * dy <= 9) return dx == -1 && dy == -1 ? glint : lens;
  if (x >= 6 && x <= 22 && y >= 11 && y <= 23) return body;
  if (x >= 23 && x <= 27 && y >= 13 && y <= 21 && (x - 23) <= (y - 13) && (x - 23) <= (21 - y))
    return body;
  return tile;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: icon_gen <run dir>\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/images";
  mkdir(dir.c_str(), 0755);
  std::vector<uint8_t> file(kHeaderBytes + kRowBytes * kSize, 0);
  uint8_t* h = file.data();
  h[0] = 'B';
  h[1] = 'M';
  put_le32(h + 2, static_cast<uint32_t>(file.size()));
  put_le32(h + 10, kHeaderBytes);
  put_le32(h + 14, 40);  // BITMAPINFOHEADER
  put_le32(h + 18, kSize);
  put_le32(h + 22, kSize);  // positive height: bottom row first
  put_le16(h + 26, 1);
  put_le16(h + 28, 24);
  put_le32(h + 34, kRowBytes * kSize);
  for (int y = 0; y < kSize; ++y) {
    uint8_t* row = h + kHeaderBytes + (kSize - 1 - y) * kRowBytes;
    for (int x = 0; x < kSize; ++x) {
      Rgb c = pixel(x, y);
      row[3 * x] = c.b;
      row[3 * x + 1] = c.g;
      row[3 * x + 2] = c.r;
    }
  }
  const std::string path = dir + "/icon.bmp";
  FILE* f = std::fopen(path.c_str(), "wb");
  bool ok = f && std::fwrite(file.data(), 1, file.size(), f) == file.size();
  if (f && std::fclose(f) != 0) ok = false;
  if (!ok) std::fprintf(stderr, "icon_gen: cannot write %s\n", path.c_str());
  return ok ? 0 : 1;
}
