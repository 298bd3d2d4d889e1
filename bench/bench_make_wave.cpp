// Writes an Xbox ADPCM WAVE of about the asked size for the render
// benchmark: eight different stretches of encoded sound (tones under noise)
// laid one after another until the size is reached.
//   bench_make_wave OUT.wav MIB [CHANNELS]

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "codec/xbox_adpcm.h"
#include "containers/output_file.h"
#include "containers/riff_wave_writer.h"
#include "codec/xbox_adpcm_encoder.h"

namespace {

const size_t SEGMENT_BLOCK_SETS = 16384;
const uint32_t SEGMENTS = 8;
const uint32_t SAMPLE_RATE = 44100;

std::vector<uint8_t> segment(uint32_t seed, uint32_t channels) {
    const size_t frames = SEGMENT_BLOCK_SETS * SAMPLES_PER_BLOCK;
    std::vector<int16_t> pcm(frames * channels);
    std::mt19937 noise(seed);
    std::normal_distribution<double> hiss(0.0, 800.0);
    for (size_t f = 0; f < frames; ++f)
        for (uint32_t c = 0; c < channels; ++c) {
            double tone = 8000.0 * sin((double)f * 0.02 * (1.0 + 0.1 * seed + 0.3 * c));
            pcm[f * channels + c] = (int16_t)lround(tone + hiss(noise));
        }
    return encode_xbox_adpcm(pcm.data(), frames, channels);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: bench_make_wave OUT.wav MIB [CHANNELS]\n");
        return 2;
    }
    const size_t target_bytes = (size_t)strtoul(argv[2], nullptr, 10) << 20;
    const uint32_t channels = argc > 3 ? (uint32_t)strtoul(argv[3], nullptr, 10) : 2;
    if (target_bytes == 0 || channels == 0 || channels > 8) {
        fprintf(stderr, "bench_make_wave: MIB must be at least 1 and CHANNELS 1 to 8\n");
        return 2;
    }
    std::vector<std::vector<uint8_t>> segments;
    for (uint32_t s = 0; s < SEGMENTS; ++s) segments.push_back(segment(s, channels));
    std::vector<uint8_t> adpcm;
    adpcm.reserve(target_bytes);
    const size_t set_bytes = (size_t)ADPCM_BLOCK_BYTES * channels;
    for (uint32_t s = 0; adpcm.size() + set_bytes <= target_bytes; ++s) {
        const std::vector<uint8_t>& next = segments[s % SEGMENTS];
        size_t take = std::min(next.size(), (target_bytes - adpcm.size()) / set_bytes * set_bytes);
        adpcm.insert(adpcm.end(), next.begin(), next.begin() + (ptrdiff_t)take);
    }
    std::vector<uint8_t> wave = make_adpcm_wave(adpcm, channels, SAMPLE_RATE);
    std::string error;
    if (!write_output_file(argv[1], wave.data(), wave.size(), false, &error)) {
        fprintf(stderr, "bench_make_wave: cannot write %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    return 0;
}
