// The tests' and benchmarks' reference Xbox ADPCM decoder, not product code:
// a straightforward decoder kept as the yardstick for the codec's
// decode_blocks. The benchmarks print their speed against it; the tests and
// the decoder's fuzz target require identical output on random and fuzzed
// input.
#pragma once

#include <stdint.h>

// Same contract as decode_blocks: every whole block set of channels x 36
// bytes becomes 65 interleaved frames; returns the bytes written.
int32_t scalar_decode_blocks(const uint8_t* input, int32_t input_bytes, int16_t* output, uint32_t channels);
