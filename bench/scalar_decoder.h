// The straightforward Xbox ADPCM decoder, kept as the yardstick for the
// codec's decode_blocks: the benchmarks print their speed against it and the
// tests require identical output on random input.
#pragma once

#include <stdint.h>

// Same contract as decode_blocks: every whole block set of channels x 36
// bytes becomes 65 interleaved frames; returns the bytes written.
int32_t scalar_decode_blocks(const uint8_t* input, int32_t input_bytes, int16_t* output, uint32_t channels);
