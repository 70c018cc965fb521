// Writes the alarm sounds: about one second of 16-bit mono PCM at 8000 Hz each, the audio
// device's own rate (SDL 1.2 converts rates only by powers of two). Motion sounds ("ding")
// are struck bells that die away; sensor sounds ("chord") are held three-note chords that
// pulse, so the two kinds are told apart at once.
//
// usage: sound_gen <output directory>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 8000;
constexpr double kPi = 3.14159265358979323846;

void put(std::ofstream& f, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) f.put(char(v >> (8 * i)));
}

bool write_wav(const std::filesystem::path& path, const std::vector<int16_t>& pcm) {
  std::ofstream f(path, std::ios::binary);
  const uint32_t bytes = uint32_t(pcm.size() * 2);
  f << "RIFF";
  put(f, 36 + bytes, 4);
  f << "WAVEfmt ";
  put(f, 16, 4);
  put(f, 1, 2);  // PCM
  put(f, 1, 2);  // mono
  put(f, kRate, 4);
  put(f, kRate * 2, 4);  // bytes per second
  put(f, 2, 2);          // block align
  put(f, 16, 2);         // bits per sample
  f << "data";
  put(f, bytes, 4);
  for (int16_t s : pcm) put(f, uint16_t(s), 2);
  return bool(f);
}

// A bell at `pitch` Hz with two overtones, struck twice and dying away.
std::vector<int16_t> ding(double pitch) {
  std::vector<int16_t> pcm(kRate);
  for (int i = 0; i < kRate; ++i) {
    const double t = double(i) / kRate;
    const double strike = t < 0.5 ? t : t - 0.5;
    const double env = std::exp(-6.0 * strike) * std::min(1.0, strike * 400);
    const double v = std::sin(2 * kPi * pitch * t) + 0.4 * std::sin(2 * kPi * pitch * 2.76 * t) +
                     0.2 * std::sin(2 * kPi * pitch * 5.4 * t);
    pcm[size_t(i)] = int16_t(std::lround(9000 * env * v));
  }
  return pcm;
}

// A held chord on `root` Hz (major triad), pulsing four times a second.
std::vector<int16_t> chord(double root) {
  std::vector<int16_t> pcm(kRate);
  for (int i = 0; i < kRate; ++i) {
    const double t = double(i) / kRate;
    const double pulse = 0.6 + 0.4 * std::cos(2 * kPi * 4 * t);
    const double edge = std::min(1.0, std::min(t, 1.0 - t) * 50);
    const double v = std::sin(2 * kPi * root * t) + std::sin(2 * kPi * root * 1.26 * t) +
                     std::sin(2 * kPi * root * 1.5 * t);
    pcm[size_t(i)] = int16_t(std::lround(6000 * pulse * edge * v));
  }
  return pcm;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: sound_gen <output directory>\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::filesystem::create_directories(dir);
  const double bells[4] = {1320, 1760, 1100, 2090};
  const double roots[4] = {262, 330, 220, 392};
  const char* suffix[4] = {"", "2", "3", "4"};
  for (int k = 0; k < 4; ++k) {
    if (!write_wav(dir / ("ding" + std::string(suffix[k]) + ".wav"), ding(bells[k])) ||
        !write_wav(dir / ("chord" + std::string(suffix[k]) + ".wav"), chord(roots[k]))) {
      std::fprintf(stderr, "sound_gen: cannot write into %s\n", dir.c_str());
      return 1;
    }
  }
  return 0;
}
