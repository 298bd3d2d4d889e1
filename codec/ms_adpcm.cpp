// Microsoft ADPCM decoding: the standard predictor and adaptation tables, the
// per-code step, and the block decoder that walks each channel's codes
// through the interleaved code stream.
#include "codec/ms_adpcm.h"

#include <stddef.h>

#include "codec/little_endian.h"

constexpr int16_t MS_ADPCM_COEFFICIENTS[MS_ADPCM_PREDICTORS][2] = {
    {256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232},
};

constexpr int16_t MS_ADPCM_ADAPTATION[16] = {
    230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230,
};

int16_t ms_adpcm_decode_nibble(uint8_t code, ms_adpcm_channel_state* state) {
    code &= 15;
    int32_t signed_code = code >= 8 ? (int32_t)code - 16 : (int32_t)code;
    // Division, not a shift: the prediction truncates toward zero, so a
    // negative fraction rounds up (-6.2 gives -6, where a shift gives -7).
    int32_t prediction = (state->sample1 * state->coefficient1 + state->sample2 * state->coefficient2) / 256;
    int32_t sample = prediction + signed_code * state->delta;
    if (sample < -32768) sample = -32768;
    if (sample > 32767) sample = 32767;
    state->sample2 = state->sample1;
    state->sample1 = sample;

    // A negative header delta stays negative here, and the floor ends it.
    int32_t delta = MS_ADPCM_ADAPTATION[code] * state->delta / 256;
    if (delta < MS_ADPCM_DELTA_MIN) delta = MS_ADPCM_DELTA_MIN;
    if (delta > MS_ADPCM_DELTA_MAX) delta = MS_ADPCM_DELTA_MAX;
    state->delta = delta;
    return (int16_t)sample;
}

ms_adpcm_channel_state ms_adpcm_header_state(const uint8_t* block, uint32_t channels, uint32_t channel) {
    uint8_t predictor = block[channel];
    if (predictor >= MS_ADPCM_PREDICTORS) predictor = 0;
    ms_adpcm_channel_state state;
    state.coefficient1 = MS_ADPCM_COEFFICIENTS[predictor][0];
    state.coefficient2 = MS_ADPCM_COEFFICIENTS[predictor][1];
    // A header delta is a signed 16-bit value, within the cap either way.
    state.delta = read_s16le(block + (size_t)channels + 2 * (size_t)channel);
    state.sample1 = read_s16le(block + 3 * (size_t)channels + 2 * (size_t)channel);
    state.sample2 = read_s16le(block + 5 * (size_t)channels + 2 * (size_t)channel);
    return state;
}

int32_t decode_ms_adpcm(const uint8_t* input, int32_t input_bytes, int16_t* output, uint32_t channels,
                        int32_t block_bytes_per_channel) {
    if (channels == 0 || input_bytes <= 0) return 0;
    const int32_t frames = ms_adpcm_frames_in_block(block_bytes_per_channel);
    if (frames == 0) return 0;

    const uint64_t block_bytes = (uint64_t)block_bytes_per_channel * channels;
    uint64_t blocks = (uint64_t)input_bytes / block_bytes;
    // Never more blocks than the int32 result can count; every offset below
    // then stays under input_bytes or under the result, so fits a size_t.
    const uint64_t block_samples = (uint64_t)frames * channels;
    const uint64_t max_blocks = (uint64_t)INT32_MAX / (block_samples * 2);
    if (blocks > max_blocks) blocks = max_blocks;
    if (blocks == 0) return 0;

    // Code k of a block (k = 0, 1, ...) is the high nibble of byte k / 2 when
    // k is even, the low one when odd, and belongs to channel k % channels
    // of frame 2 + k / channels. Each channel is decoded on its own, walking
    // its codes every `channels` places, so no state array is needed.
    const size_t codes_offset = (size_t)MS_ADPCM_HEADER_BYTES_PER_CHANNEL * channels;
    for (size_t b = 0; b < (size_t)blocks; ++b) {
        const uint8_t* block = input + b * (size_t)block_bytes;
        const uint8_t* codes = block + codes_offset;
        int16_t* out = output + b * (size_t)block_samples;
        for (uint32_t j = 0; j < channels; ++j) {
            ms_adpcm_channel_state state = ms_adpcm_header_state(block, channels, j);
            out[j] = (int16_t)state.sample2;
            out[channels + j] = (int16_t)state.sample1;
            size_t k = j;
            size_t slot = 2 * (size_t)channels + j;
            for (int32_t f = MS_ADPCM_HEADER_FRAMES; f < frames; ++f, k += channels, slot += channels) {
                uint8_t code = (uint8_t)(k % 2 ? codes[k / 2] & 15 : codes[k / 2] >> 4);
                out[slot] = ms_adpcm_decode_nibble(code, &state);
            }
        }
    }
    return (int32_t)(blocks * block_samples * 2);
}
