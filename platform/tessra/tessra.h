// Tessra: the outside H.264 video decoder the SDK drives, here on libavcodec. The SDK creates
// one decoder object per stream (two for a tall picture, one per field), sets it up with the
// stream's configuration and feeds it one NAL unit at a time.
// Objects are independent: separate objects may be used from separate threads; calls for one
// object must not overlap.
#pragma once

#include <cstdint>

#include "platform/avdec/picture_info.h"

// Bytes of the decoder configuration: the start of the stream's first key frame.
constexpr int TESSRA_CONFIG_SIZE = 128;

class CVDecoder {
 public:
  // Sets the decoder up. `info`: size must be 40; width and height are the pictures this
  // object will decode (a field's size for each decoder of a tall picture), replaced by the
  // configuration's when its first slice lies inside it; the other output fields are filled.
  // 1 done, 0 for a null or wrong-sized record, no usable size or a decoder libavcodec
  // cannot open. Setting up again starts a new stream.
  virtual int Initialize(const uint8_t* config, PICTUREINFO* info) = 0;

  // Takes one NAL unit (start code included). 1: the unit completed a picture, whose planes
  // (owned by the object, valid until its next call) are stored in planes[0..2]: Y rows
  // width + 32 bytes apart, U and V rows of width / 2 bytes (width + 32) / 2 bytes apart.
  // 0: no picture yet (parameter sets, a slice of an unfinished picture), the unit was
  // refused, the picture has another size than set up, or the object is not set up.
  virtual int DecodeNAL(const uint8_t* nal, int length, uint8_t* planes[3]) = 0;

  // Frees the object; it must not be used afterwards.
  virtual void Release() = 0;

 protected:
  virtual ~CVDecoder() = default;
};

// A new decoder object (not set up yet), or null when out of memory.
extern "C" __attribute__((visibility("default"))) CVDecoder* CreateVDecoder();
