// The reference decoder (tests and benchmarks only, not product code): the
// block-set algorithm written out step by step, one code at a time with the
// shift-and-add difference, the way a first implementation reads. It has its
// own copy of the per-code step so that later work on the codec never moves
// the yardstick.
#include "reference/scalar_decoder.h"

#include <stddef.h>

#include "codec/little_endian.h"
#include "codec/xbox_adpcm.h"

namespace {

struct scalar_state {
    int32_t step_index;
    int32_t predictor;
};

int32_t clamp(int32_t value, int32_t low, int32_t high) {
    return value < low ? low : (value > high ? high : value);
}

int16_t scalar_decode_code(uint32_t code, scalar_state* state) {
    int32_t step = IMA_STEP_TABLE[state->step_index];
    int32_t diff = step >> 3;
    if (code & 4) diff += step;
    if (code & 2) diff += step >> 1;
    if (code & 1) diff += step >> 2;
    if (code & 8) diff = -diff;
    state->predictor = clamp(state->predictor + diff, -32768, 32767);
    state->step_index = clamp(state->step_index + IMA_INDEX_TABLE[code], 0, 88);
    return (int16_t)state->predictor;
}

}  // namespace

int32_t scalar_decode_blocks(const uint8_t* input, int32_t input_bytes, int16_t* output, uint32_t channels) {
    if (channels == 0 || input_bytes <= 0) return 0;
    uint32_t block_sets = (uint32_t)input_bytes / (uint32_t)ADPCM_BLOCK_BYTES / channels;
    const uint32_t MOST_CHANNELS = 8;  // the yardstick covers the channel counts the player plays
    scalar_state states[MOST_CHANNELS];
    int16_t samples[MOST_CHANNELS][CODES_PER_GROUP];
    if (channels > MOST_CHANNELS) return 0;

    const uint8_t* in = input;
    int16_t* out = output;
    for (uint32_t set = 0; set < block_sets; ++set) {
        for (uint32_t j = 0; j < channels; ++j, in += ADPCM_HEADER_BYTES) {
            states[j].predictor = read_s16le(in);
            states[j].step_index = clamp((int8_t)in[2], 0, 88);
            *out++ = (int16_t)states[j].predictor;
        }
        for (int g = 0; g < CODE_GROUPS; ++g) {
            for (uint32_t j = 0; j < channels; ++j, in += CODE_GROUP_BYTES) {
                uint32_t codes = read_u32le(in);
                for (int k = 0; k < CODES_PER_GROUP; ++k, codes >>= 4)
                    samples[j][k] = scalar_decode_code(codes & 15, &states[j]);
            }
            for (int k = 0; k < CODES_PER_GROUP; ++k)
                for (uint32_t j = 0; j < channels; ++j) *out++ = samples[j][k];
        }
    }
    return (int32_t)(out - output) * 2;
}
