// Xbox IMA ADPCM decoding: the IMA tables, the per-code sample step and the
// block-set decoder that turns channels x 36 bytes into 65 interleaved frames.
#include "codec/xbox_adpcm.h"

#include <stddef.h>

#include "codec/little_endian.h"

const int16_t IMA_STEP_TABLE[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767,
};

const int8_t IMA_INDEX_TABLE[16] = {
    -1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8,
};

static const int32_t CODE_GROUPS = 8;
static const int32_t CODES_PER_GROUP = 8;
static const int32_t HEADER_BYTES = 4;

static int32_t clamp_step_index(int32_t index) {
    if (index < 0) return 0;
    if (index > 88) return 88;
    return index;
}

int16_t decode_nibble(uint8_t code, adpcm_channel_state* state) {
    int32_t step = state->step;
    int32_t diff = step >> 3;
    if (code & 4) diff += step;
    if (code & 2) diff += step >> 1;
    if (code & 1) diff += step >> 2;
    if (code & 8) diff = -diff;

    int32_t sample = (int32_t)state->predictor + diff;
    if (sample < -32768) sample = -32768;
    if (sample > 32767) sample = 32767;

    int32_t index = clamp_step_index(state->step_index + IMA_INDEX_TABLE[code & 15]);
    state->step_index = (int8_t)index;
    state->step = IMA_STEP_TABLE[index];
    state->predictor = (int16_t)sample;
    return (int16_t)sample;
}

int32_t decode_blocks(const uint8_t* input, int32_t input_bytes, int16_t* output, uint32_t channels) {
    if (channels == 0 || input_bytes <= 0) return 0;

    uint32_t block_sets = ((uint32_t)input_bytes / (uint32_t)ADPCM_BLOCK_BYTES) / channels;
    // 130 bytes of output for every 36 of input can exceed the int32 result
    // once the input passes about 594 MB, so decode no more block sets than
    // the result can count. Every offset below stays under input_bytes or
    // under the result, so both fit a 32-bit size_t.
    uint64_t max_block_sets = (uint64_t)INT32_MAX / ((uint64_t)PCM_BLOCK_BYTES * channels);
    if (block_sets > max_block_sets) block_sets = (uint32_t)max_block_sets;
    if (block_sets == 0) return 0;

    const size_t set_bytes = (size_t)ADPCM_BLOCK_BYTES * channels;
    const size_t set_samples = (size_t)SAMPLES_PER_BLOCK * channels;
    const size_t group_stride = (size_t)HEADER_BYTES * channels;

    // Channel by channel, one state at a time: each sample goes straight to
    // its frame slot, which gives the same interleaved output as decoding all
    // channels of a code group together, without scratch sized by channels.
    for (uint32_t set = 0; set < block_sets; ++set) {
        const uint8_t* set_in = input + (size_t)set * set_bytes;
        int16_t* set_out = output + (size_t)set * set_samples;
        for (uint32_t j = 0; j < channels; ++j) {
            const uint8_t* header = set_in + (size_t)HEADER_BYTES * j;
            adpcm_channel_state state;
            state.predictor = read_s16le(header);
            // The index byte is signed: 0x80..0xFF clamp to 0, not to 88.
            state.step_index = (int8_t)clamp_step_index((int8_t)header[2]);
            state.step = IMA_STEP_TABLE[state.step_index];

            set_out[j] = state.predictor;
            size_t frame = 1;
            for (int32_t g = 0; g < CODE_GROUPS; ++g) {
                uint32_t codes = read_u32le(set_in + group_stride * (size_t)(g + 1) + (size_t)HEADER_BYTES * j);
                for (int32_t k = 0; k < CODES_PER_GROUP; ++k) {
                    set_out[frame * channels + j] = decode_nibble((uint8_t)(codes & 15), &state);
                    codes >>= 4;
                    ++frame;
                }
            }
        }
    }
    return (int32_t)((uint64_t)PCM_BLOCK_BYTES * channels * block_sets);
}
