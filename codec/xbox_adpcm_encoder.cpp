// Xbox ADPCM encoding for the tools and tests. Each code is chosen by plain
// IMA quantisation and then run through the codec's own decode_nibble, so the
// encoder's state is exactly the state the decoder will reach.
#include "codec/xbox_adpcm_encoder.h"

#include <stdint.h>

#include "codec/xbox_adpcm.h"

// Standard IMA quantisation of the difference from the predictor: the sign
// bit, then whether the step, half the step and a quarter of it fit in turn.
static uint8_t quantise(int16_t sample, const adpcm_channel_state& state) {
    int32_t diff = (int32_t)sample - state.predictor;
    uint8_t code = 0;
    if (diff < 0) {
        code = 8;
        diff = -diff;
    }
    int32_t step = state.step;
    if (diff >= step) {
        code |= 4;
        diff -= step;
    }
    step >>= 1;
    if (diff >= step) {
        code |= 2;
        diff -= step;
    }
    step >>= 1;
    if (diff >= step) code |= 1;
    return code;
}

std::vector<uint8_t> encode_xbox_adpcm(const int16_t* pcm, size_t frames, uint32_t channels) {
    std::vector<uint8_t> out;
    if (frames == 0 || channels == 0) return out;

    const size_t block_sets = (frames + SAMPLES_PER_BLOCK - 1) / SAMPLES_PER_BLOCK;
    const size_t set_bytes = (size_t)ADPCM_BLOCK_BYTES * channels;
    if (set_bytes / channels != (size_t)ADPCM_BLOCK_BYTES || block_sets > SIZE_MAX / set_bytes) return out;
    out.assign(block_sets * set_bytes, 0);

    // The frame at a position past the end is the last frame, repeated.
    auto sample_at = [&](size_t frame, uint32_t channel) {
        if (frame >= frames) frame = frames - 1;
        return pcm[frame * channels + channel];
    };

    // Each block's header index is where the channel's previous block ended,
    // so the step carries on smoothly across block boundaries.
    std::vector<int8_t> step_index(channels, 0);
    for (size_t set = 0; set < block_sets; ++set) {
        uint8_t* set_out = &out[set * set_bytes];
        const size_t first_frame = set * SAMPLES_PER_BLOCK;
        for (uint32_t j = 0; j < channels; ++j) {
            adpcm_channel_state state;
            state.predictor = sample_at(first_frame, j);
            state.step_index = step_index[j];
            state.step = IMA_STEP_TABLE[state.step_index];

            uint8_t* header = set_out + (size_t)ADPCM_HEADER_BYTES * j;
            header[0] = (uint8_t)((uint16_t)state.predictor & 0xFF);
            header[1] = (uint8_t)((uint16_t)state.predictor >> 8);
            header[2] = (uint8_t)state.step_index;
            header[3] = 0;

            for (size_t n = 0; n < (size_t)CODES_PER_BLOCK; ++n) {
                uint8_t code = quantise(sample_at(first_frame + 1 + n, j), state);
                decode_nibble(code, &state);
                // Code n sits in its group of this channel, low nibble first;
                // the groups follow the headers, every channel's in turn.
                size_t group = n / CODES_PER_GROUP;
                size_t byte = (size_t)ADPCM_HEADER_BYTES * channels +
                              (size_t)CODE_GROUP_BYTES * (channels * group + j) + (n % CODES_PER_GROUP) / 2;
                set_out[byte] |= (uint8_t)(n % 2 == 0 ? code : code << 4);
            }
            step_index[j] = state.step_index;
        }
    }
    return out;
}
