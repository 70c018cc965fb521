#include "forward/avcshim/avcshim.h"

#include "platform/pixtree/pixtree_h264_dec.h"

extern "C" int AvcshimDecOnFrame(void* decoder, const uint8_t* input, int input_length,
                                 uint8_t* output) {
  return PT_H264dec_GetOneFrame(decoder, input, input_length, output);
}
