// The demo bank: three short generated tunes, laid out by the bank builder
// as `tolvane pack` lays out the banks it makes.

#include "tools/tolvane/commands/demo_bank.h"

#include <math.h>

#include <string>

#include "codec/xbox_adpcm_encoder.h"
#include "containers/wave_bank_writer.h"

namespace {

const double TWO_PI = 6.283185307179586;
const char DEMO_BANK_NAME[] = "tolvane-demo";
// Each entry starts on a 2048-byte boundary of the sound, as in the banks
// games ship and as `tolvane pack` aligns by default, so the demo also plays
// across the gaps between entries.
const uint32_t DEMO_ALIGNMENT = 2048;

// A note with a quick attack and an exponential decay, starting at start_s.
double note(double t, double start_s, double hertz, double decay_per_s) {
    if (t < start_s) return 0.0;
    double age = t - start_s;
    double attack = age < 0.01 ? age / 0.01 : 1.0;
    return attack * exp(-decay_per_s * age) * sin(TWO_PI * hertz * age);
}

// The last 50 ms fade out, so no entry ends in a click.
double fade_out(double t, double length_s) {
    double left = length_s - t;
    return left < 0.05 ? (left > 0 ? left / 0.05 : 0.0) : 1.0;
}

int16_t to_sample(double value) {
    if (value > 1.0) value = 1.0;
    if (value < -1.0) value = -1.0;
    return (int16_t)lround(32767.0 * value);
}

// An A major chord, its notes spread across the two channels.
std::vector<int16_t> chord(uint32_t sample_rate, double length_s) {
    const double hertz[] = {220.0, 277.18, 329.63, 440.0};
    const double left_gain[] = {0.30, 0.22, 0.12, 0.08};
    const double right_gain[] = {0.18, 0.12, 0.26, 0.14};
    size_t frames = (size_t)(length_s * sample_rate);
    std::vector<int16_t> pcm(frames * 2);
    for (size_t frame = 0; frame < frames; ++frame) {
        double t = (double)frame / sample_rate;
        double left = 0.0;
        double right = 0.0;
        for (size_t n = 0; n < 4; ++n) {
            double wave = note(t, 0.0, hertz[n], 1.1);
            left += left_gain[n] * wave;
            right += right_gain[n] * wave;
        }
        pcm[frame * 2] = to_sample(left * fade_out(t, length_s));
        pcm[frame * 2 + 1] = to_sample(right * fade_out(t, length_s));
    }
    return pcm;
}

// Five plucked notes of a pentatonic tune.
std::vector<int16_t> tune(uint32_t sample_rate, double length_s) {
    const double hertz[] = {392.0, 440.0, 523.25, 587.33, 784.0};
    const double step_s = 0.28;
    size_t frames = (size_t)(length_s * sample_rate);
    std::vector<int16_t> pcm(frames);
    for (size_t frame = 0; frame < frames; ++frame) {
        double t = (double)frame / sample_rate;
        double value = 0.0;
        for (size_t n = 0; n < 5; ++n) value += 0.45 * note(t, step_s * (double)n, hertz[n], 4.0);
        pcm[frame] = to_sample(value * fade_out(t, length_s));
    }
    return pcm;
}

// Bells rising in turn from the left and the right channel.
std::vector<int16_t> bells(uint32_t sample_rate, double length_s) {
    const double hertz[] = {659.25, 880.0, 987.77, 1318.5};
    const double step_s = 0.3;
    size_t frames = (size_t)(length_s * sample_rate);
    std::vector<int16_t> pcm(frames * 2);
    for (size_t frame = 0; frame < frames; ++frame) {
        double t = (double)frame / sample_rate;
        double side[2] = {0.0, 0.0};
        for (size_t n = 0; n < 4; ++n) {
            // A bell: the note and a quieter overtone a little above its octave.
            double start_s = step_s * (double)n;
            double bell = note(t, start_s, hertz[n], 2.5) + 0.3 * note(t, start_s, hertz[n] * 2.76, 5.0);
            side[n % 2] += 0.35 * bell;
            side[1 - n % 2] += 0.12 * bell;
        }
        pcm[frame * 2] = to_sample(side[0] * fade_out(t, length_s));
        pcm[frame * 2 + 1] = to_sample(side[1] * fade_out(t, length_s));
    }
    return pcm;
}

// The entries carry no names, so the demo's renders are the plain WAVE files
// they have always been.
bank_sound encoded(uint32_t sample_rate, uint16_t channels, const std::vector<int16_t>& pcm) {
    bank_sound sound;
    sound.rate = sample_rate;
    sound.channels = channels;
    sound.adpcm = encode_xbox_adpcm(pcm.data(), pcm.size() / channels, channels);
    return sound;
}

}  // namespace

std::vector<uint8_t> make_wave_bank(const std::vector<bank_sound>& sounds) {
    std::string error;
    return built_bank_bytes(sounds, DEMO_BANK_NAME, DEMO_ALIGNMENT, &error);
}

std::vector<bank_sound> demo_sounds() {
    return {
        encoded(44100, 2, chord(44100, 2.0)),
        encoded(22050, 1, tune(22050, 1.6)),
        encoded(32000, 2, bells(32000, 1.6)),
    };
}
