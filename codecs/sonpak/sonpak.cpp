// Sonpak codec object: stateless block decoder and the one shared, locked encoder state.
#define SONPAK_BUILD
#include "codecs/sonpak/sonpak.h"

#include <algorithm>
#include <mutex>

namespace {

constexpr int8_t kIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

constexpr int16_t kStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

inline int clamp_index(int i) { return std::clamp(i, 0, 88); }
inline int clamp_sample(int v) { return std::clamp(v, -32768, 32767); }

// The codec object of the library: the encoder's state survives between calls, the decoder's
// lives only for one call (each block carries its own start state).
struct Codec {
  std::mutex enc_lock;
  int16_t enc_predictor = 0;
  int8_t enc_index = 0;
};

Codec& codec() {
  static Codec c;
  return c;
}

inline int16_t expand_nibble(int nibble, int& predictor, int& index) {
  const int step = kStepTable[index];
  index = clamp_index(index + kIndexTable[nibble]);
  int diff = step >> 3;
  if (nibble & 4) diff += step;
  if (nibble & 2) diff += step >> 1;
  if (nibble & 1) diff += step >> 2;
  predictor = clamp_sample((nibble & 8) ? predictor - diff : predictor + diff);
  return static_cast<int16_t>(predictor);
}

}  // namespace

int ADPCM_Initialize(AUDIO_DEC_INIT_PARAM*) { return 1; }

int ADPCM_Initialize(AUDIO_ENC_INIT_PARAM*) {
  Codec& c = codec();
  std::lock_guard<std::mutex> hold(c.enc_lock);
  c.enc_predictor = 0;
  c.enc_index = 0;
  return 1;
}

extern "C" int ADPCM_Decode(AUDIO_DEC_PARAM* param, AUDIO_DEC_FRAME_INFO*) {
  if (!param) return 0;
  const int capacity = param->output_length;
  param->output_length = 0;
  // The trailer sits at the end, so a block shorter than it has no start state to read.
  if (!param->input || !param->output || param->input_length < 4 || capacity < 0) return 0;

  const uint8_t* in = param->input;
  const int n = param->input_length - 4;
  int predictor = static_cast<int16_t>(in[n] | (in[n + 1] << 8));
  int index = clamp_index(static_cast<int8_t>(in[n + 2]));

  // Whole samples only, never past the caller's capacity.
  const long total = 2L * n;
  const long room = capacity / 2;
  const long count = std::min(total, room);
  int16_t* out = param->output;
  long k = 0;
  for (int i = 0; i < n && k < count; ++i) {
    const int byte = in[i];
    out[k++] = expand_nibble(byte & 0x0F, predictor, index);
    if (k < count) out[k++] = expand_nibble(byte >> 4, predictor, index);
  }
  param->output_length = static_cast<int32_t>(k * 2);
  return 1;
}

extern "C" int ADPCM_Encode(AUDIO_ENC_PARAM* param) {
  if (!param) return 0;
  if (!param->input || !param->output || param->sample_count < 0) {
    param->output_length = 0;
    return 0;
  }
  Codec& c = codec();
  std::lock_guard<std::mutex> hold(c.enc_lock);

  const int count = param->sample_count;
  const int16_t* in = param->input;
  uint8_t* out = param->output;
  int predictor = c.enc_predictor;
  int index = c.enc_index;
  int step = kStepTable[index];

  for (int i = 0; i < count; ++i) {
    int d = in[i] - predictor;
    const int sign = d < 0 ? 8 : 0;
    if (d < 0) d = -d;
    int code = 0;
    int vpdiff = 0;
    if (d > step) {
      code = 4;
      d -= step;
      vpdiff = step;
    }
    if (d > step >> 1) {
      code |= 2;
      d -= step >> 1;
      vpdiff += step >> 1;
    }
    if (d > step >> 2) {
      code |= 1;
      vpdiff += step >> 2;
    }
    predictor = clamp_sample(sign ? predictor - vpdiff : predictor + vpdiff);
    const int nibble = code | sign;
    index = clamp_index(index + kIndexTable[nibble]);
    step = kStepTable[index];
    if ((i & 1) == 0)
      out[i / 2] = static_cast<uint8_t>(nibble << 4);
    else
      out[i / 2] = static_cast<uint8_t>(out[i / 2] | nibble);
  }

  // The trailer follows the last code byte; with an odd count that byte is the half-filled
  // one, so the trailer starts after it rather than on top of it.
  const int codes = (count + 1) / 2;
  out[codes] = static_cast<uint8_t>(predictor & 0xFF);
  out[codes + 1] = static_cast<uint8_t>((predictor >> 8) & 0xFF);
  out[codes + 2] = static_cast<uint8_t>(static_cast<int8_t>(index));
  out[codes + 3] = 0;
  param->output_length = codes + 4;

  c.enc_predictor = static_cast<int16_t>(predictor);
  c.enc_index = static_cast<int8_t>(index);
  return 1;
}

extern "C" int ADPCM_ClearBuf() { return 1; }
