// Microsoft ADPCM encoding for the tools and tests. Every block of every
// channel is trial-encoded with each standard predictor and a few starting
// deltas, and the trial with the least squared error is kept. Each code is
// the nearest multiple of the delta to the prediction error, run through the
// codec's own ms_adpcm_decode_nibble, so the encoder's state (rails and
// delta floor included) is exactly the state the decoder will reach.
#include "codec/ms_adpcm_encoder.h"

#include <stdint.h>
#include <string.h>

#include "codec/little_endian.h"
#include "codec/ms_adpcm.h"

namespace {

const int32_t MAX_BLOCK_FRAMES = (int32_t)(MS_ADPCM_BLOCK_FIELD_MAX + 16) * 2;
const int32_t MAX_BLOCK_CODES = MAX_BLOCK_FRAMES - MS_ADPCM_HEADER_FRAMES;
// How many prediction errors at the block's start set its first delta.
const int32_t OPENING_ERRORS = 4;

// The code whose step lands nearest the sample: the error over the delta,
// rounded half away from zero and kept to -8..7. The rails only ever pull
// an overshooting step back towards the sample, so rounding stays best.
uint8_t nearest_code(int32_t sample, const ms_adpcm_channel_state& state) {
    int32_t prediction = (state.sample1 * state.coefficient1 + state.sample2 * state.coefficient2) / 256;
    int32_t error = sample - prediction;
    int32_t delta = state.delta;
    int32_t steps = error >= 0 ? (error + delta / 2) / delta : -((-error + delta / 2) / delta);
    if (steps < -8) steps = -8;
    if (steps > 7) steps = 7;
    return (uint8_t)(steps & 15);
}

// The delta at which the block's opening prediction errors sit about three
// deltas out: codes of -3..3 then shrink the delta and larger ones grow it,
// so the delta starts near where it would settle.
int32_t opening_delta(const int32_t* samples, int32_t frames, int predictor) {
    const int32_t c1 = MS_ADPCM_COEFFICIENTS[predictor][0], c2 = MS_ADPCM_COEFFICIENTS[predictor][1];
    int64_t total = 0;
    int32_t count = 0;
    for (int32_t f = MS_ADPCM_HEADER_FRAMES; f < frames && count < OPENING_ERRORS; ++f, ++count) {
        int32_t error = samples[f] - (samples[f - 1] * c1 + samples[f - 2] * c2) / 256;
        total += error < 0 ? -error : error;
    }
    return count == 0 ? 0 : (int32_t)(total / (3 * count));
}

struct trial {
    int predictor;
    int32_t delta;  // as the header states it
    int32_t end_delta;
    int64_t squared_error;
    uint8_t codes[MAX_BLOCK_CODES];
};

// Encodes one channel's block (samples[0] and [1] go in the header as
// sample2 and sample1) with the predictor and starting delta of t.
void run_trial(const int32_t* samples, int32_t frames, trial* t) {
    ms_adpcm_channel_state state;
    state.coefficient1 = MS_ADPCM_COEFFICIENTS[t->predictor][0];
    state.coefficient2 = MS_ADPCM_COEFFICIENTS[t->predictor][1];
    state.delta = t->delta;
    state.sample2 = samples[0];
    state.sample1 = samples[1];
    t->squared_error = 0;
    for (int32_t f = MS_ADPCM_HEADER_FRAMES; f < frames; ++f) {
        uint8_t code = nearest_code(samples[f], state);
        int64_t error = (int64_t)ms_adpcm_decode_nibble(code, &state) - samples[f];
        t->squared_error += error * error;
        t->codes[f - MS_ADPCM_HEADER_FRAMES] = code;
    }
    t->end_delta = state.delta;
}

int32_t header_delta(int32_t delta) {
    if (delta < MS_ADPCM_DELTA_MIN) return MS_ADPCM_DELTA_MIN;
    return delta > 32767 ? 32767 : delta;
}

}  // namespace

std::vector<uint8_t> encode_ms_adpcm(const int16_t* pcm, size_t frames, uint32_t channels, uint32_t block_field) {
    std::vector<uint8_t> out;
    const int32_t block_bytes = ms_adpcm_block_bytes(block_field, channels);
    if (frames == 0 || channels == 0 || block_bytes == 0) return out;
    const int32_t block_frames = ms_adpcm_block_frames(block_field);

    const size_t blocks = (frames + (size_t)block_frames - 1) / (size_t)block_frames;
    if (blocks > SIZE_MAX / (size_t)block_bytes) return out;
    out.assign(blocks * (size_t)block_bytes, 0);

    // The frame at a position past the end is the last frame, repeated.
    auto sample_at = [&](size_t frame, uint32_t channel) {
        if (frame >= frames) frame = frames - 1;
        return pcm[frame * channels + channel];
    };

    // Where each channel's delta ended in its previous block: the signal
    // usually carries on alike, so it is a candidate to start the next.
    std::vector<int32_t> carried_delta(channels, 0);
    int32_t samples[MAX_BLOCK_FRAMES];
    trial best = {}, candidate = {};
    for (size_t b = 0; b < blocks; ++b) {
        uint8_t* block = &out[b * (size_t)block_bytes];
        uint8_t* codes = block + (size_t)MS_ADPCM_HEADER_BYTES_PER_CHANNEL * channels;
        for (uint32_t j = 0; j < channels; ++j) {
            for (int32_t f = 0; f < block_frames; ++f) samples[f] = sample_at(b * (size_t)block_frames + f, j);

            best.squared_error = INT64_MAX;
            for (int p = 0; p < MS_ADPCM_PREDICTORS; ++p) {
                const int32_t opening = opening_delta(samples, block_frames, p);
                const int32_t starts[] = {opening, opening / 2, opening * 2, carried_delta[j]};
                for (size_t s = 0; s < sizeof starts / sizeof starts[0]; ++s) {
                    candidate.predictor = p;
                    candidate.delta = header_delta(starts[s]);
                    run_trial(samples, block_frames, &candidate);
                    if (candidate.squared_error < best.squared_error) memcpy(&best, &candidate, sizeof best);
                }
            }
            carried_delta[j] = best.end_delta;

            block[j] = (uint8_t)best.predictor;
            write_u16le(block + channels + 2 * j, (uint16_t)best.delta);
            write_u16le(block + 3 * channels + 2 * j, (uint16_t)samples[1]);
            write_u16le(block + 5 * channels + 2 * j, (uint16_t)samples[0]);
            // Code k of the block is channel k % channels of its frame, high
            // nibble first.
            for (int32_t n = 0; n < block_frames - MS_ADPCM_HEADER_FRAMES; ++n) {
                size_t k = (size_t)n * channels + j;
                codes[k / 2] |= (uint8_t)(k % 2 ? best.codes[n] : best.codes[n] << 4);
            }
        }
    }
    return out;
}
