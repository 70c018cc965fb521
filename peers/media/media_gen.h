// Test media generator: synthetic YUV 4:2:0 pictures (channel number in large digits plus a
// moving square) and the H.264 / MPEG-4 part 2 encoders that turn them into the streams the
// DVRs send; a tone and the G.723.1 and ADPCM encodings of the SDK DVRs' audio. Used by the
// simulated DVR peers, tests and benchmarks; never by the client. Not thread-safe per object;
// separate objects may be used from separate threads.
#pragma once

#include <cstdint>
#include <vector>

namespace media_gen {

struct Yuv420 {
  int width = 0, height = 0;
  std::vector<uint8_t> y, u, v;  // y: width*height; u, v: (width/2)*(height/2)
};

struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
};

// Picture of `channel` (its number drawn in large white digits on the left) with a bright
// square that moves with `frame_index`. width and height must be even and >= 32.
Yuv420 synth_picture(int width, int height, int channel, int frame_index);

// Adds camera-like sensor noise (luma and chroma, +-amplitude, deterministic per seed), so
// encoders and decoders work as hard as on real pictures.
void add_sensor_noise(Yuv420& pic, int amplitude, uint32_t seed);

// Where synth_picture draws the digits of `channel` (for region checks on decoded output).
Rect digits_rect(int width, int height, int channel);

// The centre of each of the seven segments of digit `i` of a `count`-digit number that
// synth_picture draws in `d` (segment k is bit k of a digit's pattern), where a reader of
// the decoded picture looks for them.
void segment_centres(const Rect& d, int count, int i, int out[7][2]);

// Where synth_picture draws the moving square of `frame_index` (reddish: V high, U low).
Rect square_rect(int width, int height, int frame_index);

// libx264 through libavcodec: Annex-B access units, no B-frames, an IDR (with SPS/PPS) every
// `gop` frames. encode() returns 0 with the unit and its key flag, or -1 on failure.
class H264Encoder {
 public:
  H264Encoder(int width, int height, int fps = 30, int gop = 25);
  ~H264Encoder();
  H264Encoder(const H264Encoder&) = delete;
  H264Encoder& operator=(const H264Encoder&) = delete;
  bool ok() const;
  int encode(const Yuv420& pic, std::vector<uint8_t>& access_unit, bool& key);

 private:
  struct Impl;
  Impl* impl_;
};

// libavcodec's mpeg4 encoder set to match the client's 30-byte VOL template (time resolution
// 30000, MPEG quantisation, low delay, no resync markers, no data partitioning, progressive
// unless `interlaced`). encode() returns 0 with one VOP (everything before the VOP start code
// 00 00 01 B6 - VOS, VO, VOL, GOP, user data - removed), or -1 on failure.
class Mpeg4Encoder {
 public:
  Mpeg4Encoder(int width, int height, int fps = 30, int gop = 25, bool interlaced = false);
  ~Mpeg4Encoder();
  Mpeg4Encoder(const Mpeg4Encoder&) = delete;
  Mpeg4Encoder& operator=(const Mpeg4Encoder&) = delete;
  bool ok() const;
  int encode(const Yuv420& pic, std::vector<uint8_t>& vop, bool& key);
  // The same without the stripping: key frames keep their VOS, VO and VOL headers in front
  // of the VOP, as streams that carry the decoder's configuration in their key frames do.
  int encode_with_headers(const Yuv420& pic, std::vector<uint8_t>& frame, bool& key);

 private:
  struct Impl;
  Impl* impl_;
};

// PSNR of two luma planes in dB (99.0 when identical).
double psnr_y(const uint8_t* a, const uint8_t* b, int width, int height, int stride_a,
              int stride_b);

// Luma (BT.601, limited range) of a 32-bit picture whose bytes are B, G, R, X per pixel, as
// written by Xvid's BGRA output and the client's widened H.264 pictures. stride in bytes.
std::vector<uint8_t> bgra_to_y(const uint8_t* bgra, int width, int height, int stride);

// 32-bit B, G, R, 0 picture of a YUV 4:2:0 picture (BT.601, limited range).
std::vector<uint8_t> yuv_to_bgra(const Yuv420& pic);

// Mean of a rectangle of a luma plane.
double mean_y(const uint8_t* y, int stride, Rect r);

// A sine tone of `samples` 16-bit samples.
std::vector<int16_t> tone(int samples, double hz, double amplitude, int rate = 8000);

// G.723.1 at 6.3 kbit/s from libavcodec's encoder (8000 Hz mono): one 24-byte frame per 240
// samples, concatenated; empty when libavcodec has no encoder.
std::vector<uint8_t> g723_encode(const std::vector<int16_t>& pcm);

// Sonpak ADPCM blocks of `block_samples` samples each (even) as its decoder reads them: codes
// low nibble first, then the block's start predictor and step index and a spare byte. Made with
// Sonpak's encoder, whose own output puts the first code high and the state after the block
// last, so the nibbles are swapped and the previous block's end state goes in front.
std::vector<std::vector<uint8_t>> adpcm_blocks(const std::vector<int16_t>& pcm, int block_samples);

}  // namespace media_gen
