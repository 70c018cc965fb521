// CPictureConverter: a session's picture converters. Turns the decoders' planar 4:2:0
// pictures into the layout the application asked for (packed YUV, 24- or 32-bit BGR) and
// rebuilds frames from one field by line doubling; the other conversions of the set go the
// other way (BGR24 and YUY2 to planar, 4:4:4 to 4:2:0).
//
// Conversions to packed layouts write into the converter's buffer 1 (the two fields of
// I420ToYUY2Fields into buffers 1 and 2), rows packed; BGR rows run bottom to top. Conversions
// to planar layouts write into the caller's planes. Each returns 1 when done and 0, writing
// nothing, for null pointers, a size outside 1..8192 (even where chroma is subsampled) or an
// output larger than the buffers AllocateBuffers made.
//
// Colour: the BGR24 conversions and every conversion to YUV use the JFIF full-range BT.601
// tables (16.16 fixed point); I420ToBGR32 and YUV422ToBGR24 use the video-range formula
// L = (8 max(Y - 16, 0) x 9576) >> 16, R = L + ((8 (V - 128) x 13123) >> 16),
// G = L + ((8 (U - 128) x -3218) >> 16) + ((8 (V - 128) x -6686) >> 16),
// B = L + ((8 (U - 128) x 16591) >> 16), each saturated to 0..255.
// Where the processor allows, some conversions take a faster path; it writes exactly the bytes
// of the plain path.
//
// One converter belongs to one session and is not locked; the tables and the processor test
// are made once per process and only read afterwards, so converters may work in parallel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Processor features, tested once by the first converter built.
struct CPU_FEATURES {
  bool mmx = false;       // CPUID leaf 1, EDX bit 23: chooses the faster paths
  bool sse = false;       // bit 25
  bool sse2 = false;      // bit 26
  uint16_t extended = 0;  // bits 16-31 of EDX of leaf 0x80000001, when the processor has it
};

// A planar picture handed to a conversion. A stride of 0 means: luma the width; chroma half
// the luma stride (4:2:0, 4:2:2) or the luma stride (4:4:4).
struct PLANAR_SRC {
  const uint8_t* y = nullptr;
  const uint8_t* u = nullptr;
  const uint8_t* v = nullptr;
  int y_stride = 0;
  int c_stride = 0;
};

struct PLANAR_DST {
  uint8_t* y = nullptr;
  uint8_t* u = nullptr;
  uint8_t* v = nullptr;
  int y_stride = 0;
  int c_stride = 0;
};

class CPictureConverter {
 public:
  CPictureConverter();  // tests the processor and builds the tables once; no buffers, state 1
  virtual ~CPictureConverter();
  CPictureConverter(const CPictureConverter&) = delete;
  CPictureConverter& operator=(const CPictureConverter&) = delete;

  // Frees the old buffers; buffer 1 of width x 4 x height bytes, and with `second` buffer 2
  // of the same size, both zeroed and 16-byte aligned; state 0. 0 (no buffers, state 1) for
  // a size outside 1..8192 or no memory.
  int AllocateBuffers(int width, int height, bool second);
  void FreeBuffers();  // state 1
  uint8_t* GetBuffer1() const { return m_pBuffer1.get(); }
  uint8_t* GetBuffer2() const { return m_pBuffer2.get(); }
  size_t GetBufferSize() const { return m_nBufferSize; }
  int GetState() const { return m_nState; }
  static const CPU_FEATURES& GetCpuFeatures();
  // Faster paths are taken when the processor test finds MMX (and this build has SSE2 code);
  // switching them off gives the plain paths, whose bytes the faster ones reproduce exactly.
  void SetFastPath(bool on);
  bool GetFastPath() const { return m_bFastPath; }

  // Planar to packed, into buffer 1.
  int I420ToBGR24(const PLANAR_SRC& src, int width, int height);  // 3 bytes B, G, R per pixel
  int YUV422ToBGR24(const PLANAR_SRC& src, int width,
                    int height);                                  // chroma half width, full height
  int I420ToBGR32(const PLANAR_SRC& src, int width, int height);  // B, G, R, 0
  int YUV444ToBGR24(const PLANAR_SRC& src, int width, int height);
  int I420ToYUY2(const PLANAR_SRC& src, int width, int height);  // Y0 U Y1 V, top to bottom
  int I420ToUYVY(const PLANAR_SRC& src, int width, int height);  // U Y0 V Y1, top to bottom
  // The even rows as YUY2 into buffer 1 and the odd rows into buffer 2 (height / 2 rows
  // each); with `odd_first` the other way round. Needs buffer 2.
  int I420ToYUY2Fields(const PLANAR_SRC& src, int width, int height, bool odd_first);
  // Packed YUY2 (rows top to bottom, `stride` bytes apart, 0 = width x 2) to BGR24.
  int YUY2ToBGR24(const uint8_t* src, int stride, int width, int height);
  // BGR24 whose rows run bottom to top (`stride` 0 = width x 3) to YUY2 rows top to bottom;
  // U and V from the first pixel of each pair.
  int BGR24ToYUY2(const uint8_t* src, int stride, int width, int height);

  // Packed or 4:4:4 to planar, into the caller's planes.
  // YUY2 to I420: U and V from the even rows.
  int YUY2ToI420(const uint8_t* src, int stride, int width, int height, const PLANAR_DST& dst);
  // BGR24 (rows in memory order, top row first) to three full-size planes.
  int BGR24ToYUV444(const uint8_t* src, int stride, int width, int height, const PLANAR_DST& dst);
  // BGR24 to I420: Y of every pixel, U and V of the first pixel of each pair of the even
  // rows. `bottom_up`: the source's rows run bottom to top.
  int BGR24ToI420(const uint8_t* src, int stride, int width, int height, bool bottom_up,
                  const PLANAR_DST& dst);
  // 4:4:4 to 4:2:0: luma copied, chroma the top-left sample of each 2 x 2 group.
  int YUV444ToI420(const PLANAR_SRC& src, int width, int height, const PLANAR_DST& dst);

  // Line doubling of an I420 picture: each row of field `field` (0: rows 0, 2, 4, ...;
  // 1: rows 1, 3, 5, ...) is written to both rows of its pair, in luma and in each chroma
  // plane (height / 2 rows of width / 2 bytes). A last row without a partner takes the nearest
  // row of the field. Any even width. `dst` may not overlap `src` (use DeinterlaceInPlace).
  int Deinterlace(int width, int height, const PLANAR_SRC& src, const PLANAR_DST& dst, int field);
  // The same in place: the field's rows are copied over the other field's.
  int DeinterlaceInPlace(int width, int height, const PLANAR_DST& picture, int field);

 private:
  struct AlignedFree {
    void operator()(uint8_t* p) const;
  };
  using AlignedBuffer = std::unique_ptr<uint8_t[], AlignedFree>;

  // Buffer 1 (and 2 when `second`) ready for `bytes` of output.
  uint8_t* OutputBuffer(size_t bytes, bool second = false) const;
  // Planar (chroma of width / xdiv x height / ydiv) to BGR of `bpp` bytes, into buffer 1.
  int PlanarToBGR(const PLANAR_SRC& src, int width, int height, int xdiv, int ydiv, int bpp,
                  bool video);
  // I420 to packed 4:2:2 (YUY2, or UYVY), into buffer 1.
  int I420ToPacked(const PLANAR_SRC& src, int width, int height, bool uyvy);

  AlignedBuffer m_pBuffer1;
  AlignedBuffer m_pBuffer2;
  size_t m_nBufferSize = 0;
  int m_nState = 1;  // 1 no buffers, 0 after AllocateBuffers
  bool m_bFastPath = false;
};
