// Avcshim: hands one H.264 frame to pixtree_h264_dec. Holds no state, creates no thread,
// allocates nothing; runs on the caller's thread (the client's decoder threads).
#pragma once

#include <cstdint>

extern "C" {
// Calls PT_H264dec_GetOneFrame(decoder, input, input_length, output) and returns its result
// unchanged: 0 or 5 picture written, 1 call again, 2-4 frame failed, -5 re-create the decoder.
// Calls for one decoder record must not overlap.
__attribute__((visibility("default"))) int AvcshimDecOnFrame(void* decoder, const uint8_t* input,
                                                             int input_length, uint8_t* output);
}
