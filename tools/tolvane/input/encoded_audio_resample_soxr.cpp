// Resampling through libsoxr, with its very high quality recipe. The sound
// goes through as 32-bit float and comes back rounded and clipped to 16 bits
// by this file, so that the result is the same on every run (libsoxr's own
// 16-bit output would add dither).
#include <math.h>

#include <soxr.h>

#include "tools/tolvane/input/encoded_audio_input.h"

bool resampling_available() {
    return true;
}

bool resample_input_sound(input_sound* sound, uint32_t rate, std::string* reason) {
    if (rate == 0 || rate == sound->rate || sound->channels == 0) return true;
    size_t in_frames = sound->pcm.size() / sound->channels;
    // The output's length by the ratio, rounded up; libsoxr says how much
    // it filled.
    size_t out_frames = (size_t)(((uint64_t)in_frames * rate + sound->rate - 1) / sound->rate);
    std::vector<float> in(sound->pcm.size());
    for (size_t i = 0; i < in.size(); i++) in[i] = (float)sound->pcm[i] / 32768.0f;
    std::vector<float> out(out_frames * sound->channels + sound->channels);
    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    size_t done_in = 0;
    size_t done_out = 0;
    soxr_error_t failed = soxr_oneshot((double)sound->rate, (double)rate, sound->channels, in.data(), in_frames,
                                       &done_in, out.data(), out_frames, &done_out, &io, &quality, nullptr);
    if (failed) {
        *reason = std::string("libsoxr cannot resample it: ") + failed;
        return false;
    }
    sound->pcm.resize(done_out * sound->channels);
    for (size_t i = 0; i < sound->pcm.size(); i++) {
        double sample = floor((double)out[i] * 32768.0 + 0.5);
        sound->pcm[i] = (int16_t)(sample > 32767 ? 32767 : sample < -32768 ? -32768 : sample);
    }
    if (sound->loop_start >= 0) {
        sound->loop_start = (int64_t)((double)sound->loop_start * rate / sound->rate + 0.5);
        sound->loop_end = (int64_t)((double)sound->loop_end * rate / sound->rate + 0.5);
    }
    sound->rate = rate;
    return true;
}
