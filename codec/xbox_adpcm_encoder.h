// A small Xbox ADPCM encoder: interleaved 16-bit PCM in, block sets of
// channels x 36 bytes out, each block decoding to 65 samples per channel.
// Used by `tolvane encode`, pack and replace, the demo and the tests that
// need real sound. It allocates its output, unlike the decoders.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <vector>

// Encodes frames of interleaved samples (channels per frame). The last block
// set is completed by repeating the last frame. Returns the ADPCM bytes, a
// whole number of block sets; empty for 0 frames or 0 channels.
std::vector<uint8_t> encode_xbox_adpcm(const int16_t* pcm, size_t frames, uint32_t channels);
