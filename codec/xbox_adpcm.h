// The Xbox variant of IMA ADPCM: 36-byte blocks per channel (a 4-byte header
// and 64 four-bit codes) that decode to 65 signed 16-bit samples, the header's
// predictor being the first. Pure: bytes in, samples out, no I/O, no heap.
#pragma once

#include <stdint.h>

const uint16_t XBOX_ADPCM_TAG = 0x0069;
const int32_t ADPCM_BLOCK_BYTES = 36;
const int32_t PCM_BLOCK_BYTES = 130;
const int32_t SAMPLES_PER_BLOCK = 65;
// A block: a 4-byte header (predictor, step index, a reserved byte), then 8
// groups of 8 four-bit codes. In a block set the headers of all channels come
// first, then each group of each channel in turn, 4 bytes apiece.
const int32_t ADPCM_HEADER_BYTES = 4;
const int32_t CODE_GROUPS = 8;
const int32_t CODES_PER_GROUP = 8;
const int32_t CODES_PER_BLOCK = CODE_GROUPS * CODES_PER_GROUP;
const int32_t CODE_GROUP_BYTES = CODES_PER_GROUP / 2;

// A block set is one block per channel, stored together.
inline int64_t block_set_bytes(int64_t channels) {
    return channels * ADPCM_BLOCK_BYTES;
}
// The whole block sets in byte_count bytes; none for no channels.
inline int64_t whole_block_sets(int64_t byte_count, int64_t channels) {
    return channels > 0 && byte_count > 0 ? byte_count / block_set_bytes(channels) : 0;
}

extern const int16_t IMA_STEP_TABLE[89];
extern const int8_t IMA_INDEX_TABLE[16];

struct adpcm_channel_state {
    int8_t step_index;  // always 0..88
    int16_t step;       // IMA_STEP_TABLE[step_index]
    int16_t predictor;  // last sample of the channel
};

// Decodes one four-bit code with the channel's state and returns the sample.
int16_t decode_nibble(uint8_t code, adpcm_channel_state* state);

// Decodes every whole block set (channels x 36 bytes) in input into
// interleaved 16-bit samples and returns the bytes written: 130 x channels per
// block set. Trailing bytes of a partial block set are ignored; a channel
// count of 0 decodes nothing.
int32_t decode_blocks(const uint8_t* input, int32_t input_bytes, int16_t* output, uint32_t channels);
