// tirenc: encoder of the 'S' DVRs' intra block-DCT frames (frame header, one slice per
// macroblock row, raw 8-bit DC, run/level codes with escapes), used by tests, benchmarks and
// the simulated 'S' DVR; never by the client. Stateless functions, safe from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tirenc {

// Most-significant-bit-first writer, also used by tests to build malformed slices.
class BitWriter {
 public:
  void put(uint32_t value, int nbits);     // the low nbits of value, top bit first
  void put_code(const std::string& bits);  // a string of '0' and '1'
  void align();                            // zero bits up to the next byte
  int bit_count() const { return static_cast<int>(bytes_.size() * 8) - free_; }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  int free_ = 0;  // unused low bits of the last byte
};

// Flags of one macroblock in Options::mb_flags: kCoded marks it coded; bits 0-3 say which of
// its luma blocks are (bit k = luma block k; chroma blocks are always coded).
constexpr uint8_t kCoded = 0x10;
constexpr uint8_t kAllLuma = 0x0F;

struct Options {
  int quant_scale = 4;                // 1..14
  int format_code = 0;                // dialect 0: 0..3; dialects 1, 3, 4: 0..15; others: ignored
  int mode = 0;                       // header dialect, as given to tir_init
  uint16_t extra_value = 0;           // written by dialects other than 0, 1, 3, 4
  bool all_blocks = false;            // every macroblock and block coded, no addressing
  const uint8_t* mb_flags = nullptr;  // (width/16) x (height/16), row-major; null: all coded
};

// One coded block, with the coefficients (natural order) the decoder will reconstruct:
// DC x 8, then (level x weight x scale) >> 2 held to -2048..2047.
struct CodedBlock {
  int plane = 0;  // 0 Y, 1 U, 2 V
  int x = 0, y = 0;
  int coef[64] = {};
};

struct Frame {
  std::vector<uint8_t> bytes;
  std::vector<size_t> slice_offsets;  // byte offset of each slice's 00 00 01
  std::vector<CodedBlock> blocks;
};

// Encodes an I420 picture (Y, then U, then V planes) of 640x224 or 640x272.
// Returns 0; -1 for another size or options out of range; -2 when the coded data would hold
// a start code of its own (the frame could not be split back into its slices).
int encode_frame(const uint8_t* i420, int width, int height, const Options& options, Frame& out);

// The 8x8 DCT basis: basis[u][x] = C(u)/2 cos((2x+1)u pi/16), C(0) = sqrt(1/2), else 1.
const std::array<std::array<double, 8>, 8>& dct_basis();

// Forward DCT of an 8x8 block (row stride `stride`), float, scaled so that F(0,0) = 8 x mean.
void forward_dct(const uint8_t* src, int stride, double out[64]);

// Natural-order index of zig-zag position i, and the default intra weight at natural index k.
int zigzag(int i);
int intra_weight(int k);

// Writes the variable-length code of (run, level), with an escape when the table has none.
// level must be within -255..255 and not 0.
void put_run_level(BitWriter& bw, int run, int level);

}  // namespace tirenc
