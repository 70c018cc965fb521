// CAudioDecoder: one session's audio decoder. The stream's 16-byte codec identifier chooses
// the codec: SONPAK_CODEC_ID the IMA ADPCM of Sonpak, any other the outside G.723.1 decoder
// Quellaud; both are driven through the same set-up record, decode record and clear.
//
// Owned by its session and not locked: the session calls Initialize, Decode and ClearBuf under
// its own decoder lock. A failed set-up writes the trace "[SDK TRACE]-Audio Decoder
// initialization failure" (never a box: it runs on the session's threads) and leaves the
// decoder mute: later decodes deliver nothing; the session keeps the text as its last error.
#pragma once

#include <cstdint>
#include <memory>

#include "codecs/sonpak/sonpak.h"

// Sonpak's codec identifier {263C4B1B-E7EC-4844-8536-31B8C6693B95} in its little-endian
// in-memory form, compared as 16 raw bytes; the stream header carries it in this form.
inline constexpr uint8_t SONPAK_CODEC_ID[16] = {0x1B, 0x4B, 0x3C, 0x26, 0xEC, 0xE7, 0x44, 0x48,
                                                0x85, 0x36, 0x31, 0xB8, 0xC6, 0x69, 0x3B, 0x95};

// The stream's audio format record as Initialize reads it: the codec identifier at 0, the u16
// samples per second at 16 and the u16 second value at 20 (little-endian).
constexpr int AUDIO_FORMAT_MIN_SIZE = 22;

// Largest output capacity (samples per second x second value x 2 bytes) a stream may ask for;
// above it the set-up fails. Equal to the 256 KiB output buffer the SDK assumes of its
// callers, so one decoded packet always fits there.
constexpr int AUDIO_DEC_MAX_CAPACITY = 256 * 1024;

class CAudioDecoder {
 public:
  CAudioDecoder();
  virtual ~CAudioDecoder();  // clears the codec's state of this stream
  CAudioDecoder(const CAudioDecoder&) = delete;
  CAudioDecoder& operator=(const CAudioDecoder&) = delete;

  // Sets the decoder up for the stream whose format record (`length` bytes) is given: keeps
  // the identifier; a rate of 11020 counts as 11025; capacity = rate x second value x 2.
  // 1 done. 0 when the record is missing or shorter than AUDIO_FORMAT_MIN_SIZE, the capacity
  // exceeds AUDIO_DEC_MAX_CAPACITY or the codec refuses: traced, and the decoder stays mute. May be
  // called again for a new stream.
  int Initialize(const uint8_t* format, int length);

  // Decodes one packet of audio. `*out_length` is in: the room at `dest` in bytes; out: the
  // bytes of 16-bit PCM copied there. 1 delivered. 0 nothing (not set up, bad arguments, the
  // codec produced nothing) and -1 when the PCM is larger than `dest`: both leave `dest`
  // and `*out_length` untouched.
  int Decode(const uint8_t* input, int input_length, uint8_t* dest, int* out_length);

  // Clears the selected codec's state for this stream (ADPCM_ClearBuf or Quellaud's Ex_ClearBuf).
  void ClearBuf();

  int GetCapacity() const { return m_nCapacity; }
  bool IsSonpak() const;

 private:
  uint8_t m_CodecId[16] = {};
  AUDIO_DEC_PARAM m_DecParam = {};
  uint32_t m_dwFlags = 0;  // set to 0 at set-up; no codec reads it
  int m_nCapacity = 0;
  // The decode record's output. Quellaud keys a stream's state by this address, so the codec
  // state is cleared before the buffer is replaced or freed.
  std::unique_ptr<int16_t[]> m_pOutput;
  int m_nOutputSize = 0;  // bytes held by m_pOutput
};
