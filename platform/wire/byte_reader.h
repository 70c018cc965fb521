// Byte order of every wire record and stored file, for every folder (header only): the word
// helpers read or write at a pointer the caller has checked holds the word; the reader and the
// writer check bounds themselves. A read past the end of a CByteReader returns zeros, reads
// nothing and marks the reader failed; callers read a whole record, then look at Ok() once and
// refuse the record when it is false. Pure functions and per-caller objects: any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

inline uint16_t get_le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t get_le24(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
}
inline uint32_t get_le32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint16_t get_be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t get_be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline void put_le16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void put_le32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
inline void put_be16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void put_be32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

class CByteReader {
 public:
  CByteReader(const uint8_t* data, size_t length) : m_pData(data), m_nLength(data ? length : 0) {}

  bool Ok() const { return !m_bFailed; }
  size_t Pos() const { return m_nPos; }
  size_t Left() const { return m_bFailed ? 0 : m_nLength - m_nPos; }
  const uint8_t* Here() const { return m_pData ? m_pData + m_nPos : nullptr; }
  // Marks the reader failed (a value out of its range).
  void Fail() { m_bFailed = true; }

  // Advances by n when n bytes are left: their start, or nullptr (and failed).
  const uint8_t* Take(size_t n) {
    if (m_bFailed || n > m_nLength - m_nPos) {
      m_bFailed = true;
      return nullptr;
    }
    const uint8_t* p = m_pData + m_nPos;
    m_nPos += n;
    return p;
  }
  void Skip(size_t n) { Take(n); }
  uint8_t U8() {
    const uint8_t* p = Take(1);
    return p ? p[0] : 0;
  }
  // A flag byte: any nonzero byte reads as 1 (not "Bool": X11 defines that as a macro).
  uint8_t Flag() { return U8() ? 1 : 0; }
  uint16_t U16BE() { return Word<uint16_t, 2, get_be16>(); }
  uint32_t U32BE() { return Word<uint32_t, 4, get_be32>(); }
  uint16_t U16LE() { return Word<uint16_t, 2, get_le16>(); }
  uint32_t U32LE() { return Word<uint32_t, 4, get_le32>(); }
  void Bytes(void* out, size_t n) {
    const uint8_t* p = Take(n);
    if (p)
      std::memcpy(out, p, n);
    else
      std::memset(out, 0, n);
  }
  // `len` bytes of text into out[size]: cut to size - 1 bytes, stopped at an inner NUL,
  // always terminated, the rest of the field zeroed.
  void Text(size_t len, char* out, size_t size) {
    const uint8_t* p = Take(len);
    std::memset(out, 0, size);
    if (!p || size == 0) return;
    size_t n = len < size - 1 ? len : size - 1;
    const void* nul = std::memchr(p, 0, n);
    if (nul) n = size_t(static_cast<const uint8_t*>(nul) - p);
    std::memcpy(out, p, n);
  }
  // `len` bytes of text up to the first NUL.
  std::string String(size_t len) {
    const uint8_t* p = Take(len);
    if (!p) return {};
    const void* nul = std::memchr(p, 0, len);
    return std::string(reinterpret_cast<const char*>(p),
                       nul ? size_t(static_cast<const uint8_t*>(nul) - p) : len);
  }

 private:
  // One word of N bytes through its helper, or 0 (and failed) past the end.
  template <typename T, size_t N, T (*Get)(const uint8_t*)>
  T Word() {
    const uint8_t* p = Take(N);
    return p ? Get(p) : 0;
  }

  const uint8_t* m_pData;
  size_t m_nLength;
  size_t m_nPos = 0;
  bool m_bFailed = false;
};

// Big-endian writer into a caller's buffer of fixed capacity; a write that would pass the end
// writes nothing and marks the writer failed.
class CByteWriter {
 public:
  CByteWriter(uint8_t* out, size_t capacity) : m_pOut(out), m_nCap(out ? capacity : 0) {}
  bool Ok() const { return !m_bFailed; }
  size_t Pos() const { return m_nPos; }

  uint8_t* Reserve(size_t n) {
    if (m_bFailed || n > m_nCap - m_nPos) {
      m_bFailed = true;
      return nullptr;
    }
    uint8_t* p = m_pOut + m_nPos;
    m_nPos += n;
    return p;
  }
  void U8(uint8_t v) {
    if (uint8_t* p = Reserve(1)) p[0] = v;
  }
  void U16BE(uint16_t v) {
    if (uint8_t* p = Reserve(2)) put_be16(p, v);
  }
  void U32BE(uint32_t v) {
    if (uint8_t* p = Reserve(4)) put_be32(p, v);
  }
  void Bytes(const void* data, size_t n) {
    if (uint8_t* p = Reserve(n)) std::memcpy(p, data, n);
  }

 private:
  uint8_t* m_pOut;
  size_t m_nCap;
  size_t m_nPos = 0;
  bool m_bFailed = false;
};
