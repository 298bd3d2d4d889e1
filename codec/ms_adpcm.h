// Microsoft ADPCM, as Windows and Xbox 360 wave banks store it and as WAVE
// files of format tag 2 carry it: blocks of one header per channel (a
// predictor index, a delta and two samples) followed by four-bit codes, the
// channels' codes interleaved frame by frame, high nibble first. Each code
// adds a multiple of the delta to a two-tap prediction from the last two
// samples, and the delta adapts to the code. Pure: bytes in, samples out, no
// I/O, no heap.
#pragma once

#include <stdint.h>

const uint16_t MS_ADPCM_TAG = 0x0002;
// A block's header per channel: the predictor index byte, then the delta,
// sample1 and sample2 as signed 16-bit little-endian values. The headers
// are stored field by field: every channel's index byte, then every
// channel's delta, and so on.
const int32_t MS_ADPCM_HEADER_BYTES_PER_CHANNEL = 7;
// The two header samples are the block's first two frames.
const int32_t MS_ADPCM_HEADER_FRAMES = 2;
// A wave bank states the block size in an 8-bit field.
const uint32_t MS_ADPCM_BLOCK_FIELD_MAX = 255;
// The delta never falls below this after a code.
const int32_t MS_ADPCM_DELTA_MIN = 16;
// Nor rises above this: the largest delta whose product with the largest
// adaptation still fits 32 bits. A delta of 65536 already drives every
// non-zero code to a rail, so only hostile data gets this far; the cap
// keeps the arithmetic defined there.
const int32_t MS_ADPCM_DELTA_MAX = INT32_MAX / 768;

// The standard predictors: sample = (sample1 x first + sample2 x second) / 256.
const int32_t MS_ADPCM_PREDICTORS = 7;
extern const int16_t MS_ADPCM_COEFFICIENTS[MS_ADPCM_PREDICTORS][2];
// The delta's next value is adaptation[code] x delta / 256, indexed by the
// unsigned code 0..15.
extern const int16_t MS_ADPCM_ADAPTATION[16];

// A wave bank's block field F: blocks of (F + 22) x channels bytes that
// decode to (F + 16) x 2 frames. Both are 0 for a field past 8 bits, and the
// bytes are 0 for no channels or a size past int32.
inline int32_t ms_adpcm_block_bytes(uint32_t block_field, uint32_t channels) {
    if (block_field > MS_ADPCM_BLOCK_FIELD_MAX) return 0;
    uint64_t byte_count = ((uint64_t)block_field + 22) * channels;
    return byte_count > (uint64_t)INT32_MAX ? 0 : (int32_t)byte_count;
}
inline int32_t ms_adpcm_block_frames(uint32_t block_field) {
    return block_field > MS_ADPCM_BLOCK_FIELD_MAX ? 0 : (int32_t)(block_field + 16) * 2;
}
// The frames of a block of block_bytes_per_channel bytes per channel, as a
// WAVE file states it (nBlockAlign / channels): the two header samples and
// two codes per byte past the header; 0 for a block smaller than its header
// or one of more frames than int32 counts.
inline int32_t ms_adpcm_frames_in_block(int32_t block_bytes_per_channel) {
    if (block_bytes_per_channel < MS_ADPCM_HEADER_BYTES_PER_CHANNEL) return 0;
    int64_t frames =
        ((int64_t)block_bytes_per_channel - MS_ADPCM_HEADER_BYTES_PER_CHANNEL) * 2 + MS_ADPCM_HEADER_FRAMES;
    return frames > INT32_MAX ? 0 : (int32_t)frames;
}

// What one channel carries from code to code.
struct ms_adpcm_channel_state {
    int32_t coefficient1;  // weight of sample1
    int32_t coefficient2;  // weight of sample2
    int32_t delta;         // scale of the next code
    int32_t sample1;       // the newest sample
    int32_t sample2;       // the one before it
};

// Decodes one four-bit code (0..15, 8..15 negative) with the channel's state,
// advances the state and returns the sample. The encoder runs its codes
// through this too, so it always holds the state the decoder will reach.
int16_t ms_adpcm_decode_nibble(uint8_t code, ms_adpcm_channel_state* state);

// The state channel starts a block with, read from the block's header. A
// predictor index above 6 names no standard predictor; it decodes as index 0
// (hold the last sample). The codec table's decoders have no way to report a
// bad unit, and the Xbox ADPCM decoder likewise clamps a bad step index, so
// one damaged header costs one block of rough sound, not the whole stream.
ms_adpcm_channel_state ms_adpcm_header_state(const uint8_t* block, uint32_t channels, uint32_t channel);

// Decodes every whole block (block_bytes_per_channel x channels bytes) in
// input into interleaved 16-bit samples and returns the bytes written. Each
// block writes ms_adpcm_frames_in_block(block_bytes_per_channel) x channels
// samples, so output must hold that many for every whole block in input: at
// most 542 frames per block for a wave bank's field (F = 255). The bytes of a
// partial block are ignored; no channels, or a block smaller than its
// header, decode nothing. Like the codec table's decoders, plus the block
// size, which each entry states.
int32_t decode_ms_adpcm(const uint8_t* input, int32_t input_bytes, int16_t* output, uint32_t channels,
                        int32_t block_bytes_per_channel);

// The vector lanes decode_ms_adpcm decodes several blocks' channels in at
// once: the widest this processor has (none off x86, or without SSE4.1).
enum ms_adpcm_lanes { MS_ADPCM_LANES_NONE, MS_ADPCM_LANES_SSE41, MS_ADPCM_LANES_AVX2 };
ms_adpcm_lanes ms_adpcm_processor_lanes();
// decode_ms_adpcm with at most the lanes given, so that every path can be
// checked against the others on one machine. The samples are the same.
int32_t decode_ms_adpcm_using(ms_adpcm_lanes lanes, const uint8_t* input, int32_t input_bytes, int16_t* output,
                              uint32_t channels, int32_t block_bytes_per_channel);
