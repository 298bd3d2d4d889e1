// Linear PCM as games store it beside their ADPCM: interleaved frames of
// unsigned 8-bit or signed 16-bit little-endian samples. The output is 16-bit
// whatever the input: 8-bit samples are widened as (s - 128) x 256.
#pragma once

#include <stdint.h>

// Both follow the codec table's decoder contract: whole frames of input
// decoded, the bytes written returned.
int32_t decode_pcm8(const uint8_t* input, int32_t input_bytes, int16_t* output, uint32_t channels);
int32_t decode_pcm16(const uint8_t* input, int32_t input_bytes, int16_t* output, uint32_t channels);
// An Xbox 360 bank's 16-bit samples are big-endian.
int32_t decode_pcm16be(const uint8_t* input, int32_t input_bytes, int16_t* output, uint32_t channels);
