// A small Microsoft ADPCM encoder: interleaved 16-bit PCM in, blocks of
// (F + 22) x channels bytes out for a wave bank's block field F, each block
// decoding to (F + 16) x 2 frames. For the tools and the tests that need real
// sound; it allocates its output, unlike the decoders.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <vector>

// Encodes frames of interleaved samples (channels per frame) in blocks of
// block_field's size. The last block is completed by repeating the last
// frame. Returns the ADPCM bytes, a whole number of blocks; empty for 0
// frames, 0 channels or a field past 8 bits.
std::vector<uint8_t> encode_ms_adpcm(const int16_t* pcm, size_t frames, uint32_t channels, uint32_t block_field);
