// decode_blocks against the scalar yardstick, on encoded sound of 1, 2 and 6
// channels, in the two ways the decoder is called: one block set per call,
// as the player's decode thread does, and many block sets per call, as a
// converter would. Prints Google Benchmark's table, then each pattern's
// speed as a ratio to the yardstick measured in the same run.
//   bench_decode [--benchmark_filter=...] [other Google Benchmark flags]

#include <benchmark/benchmark.h>
#include <math.h>
#include <stdio.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "codec/xbox_adpcm.h"
#include "reference/scalar_decoder.h"
#include "codec/xbox_adpcm_encoder.h"

namespace {

typedef int32_t (*decoder_fn)(const uint8_t*, int32_t, int16_t*, uint32_t);

const uint32_t CHANNEL_COUNTS[] = {1, 2, 6};
const size_t BLOCK_SETS = 4096;  // 266 240 frames, about 6 s at 44.1 kHz

// Encoded sound, so the codes are those of real files: a tone per channel
// under some noise.
std::vector<uint8_t> encoded_sound(uint32_t channels) {
    size_t frames = BLOCK_SETS * (size_t)SAMPLES_PER_BLOCK;
    std::vector<int16_t> pcm(frames * channels);
    std::mt19937 noise(7);
    std::normal_distribution<double> hiss(0.0, 1500.0);
    for (size_t f = 0; f < frames; ++f)
        for (uint32_t c = 0; c < channels; ++c)
            pcm[f * channels + c] = (int16_t)(9000.0 * sin((double)f * 0.031 * (c + 1)) + hiss(noise));
    return encode_xbox_adpcm(pcm.data(), frames, channels);
}

// Samples (of all channels) decoded per second, the figure the table shows.
void count_samples(benchmark::State& state, size_t samples_per_iteration) {
    state.counters["samples_per_second"] =
        benchmark::Counter((double)state.iterations() * (double)samples_per_iteration, benchmark::Counter::kIsRate);
}

void decode_in_bulk(benchmark::State& state, decoder_fn decode, uint32_t channels) {
    std::vector<uint8_t> adpcm = encoded_sound(channels);
    std::vector<int16_t> pcm(BLOCK_SETS * SAMPLES_PER_BLOCK * channels);
    for (auto _ : state) {
        benchmark::DoNotOptimize(decode(adpcm.data(), (int32_t)adpcm.size(), pcm.data(), channels));
        benchmark::ClobberMemory();
    }
    count_samples(state, pcm.size());
}

// The decode thread's pattern: one read of channels x 36 bytes, one call,
// into a buffer of one block set.
void decode_per_call(benchmark::State& state, decoder_fn decode, uint32_t channels) {
    std::vector<uint8_t> adpcm = encoded_sound(channels);
    std::vector<int16_t> pcm(SAMPLES_PER_BLOCK * channels);
    const int32_t set_bytes = ADPCM_BLOCK_BYTES * (int32_t)channels;
    for (auto _ : state) {
        for (size_t set = 0; set < BLOCK_SETS; ++set) {
            benchmark::DoNotOptimize(decode(adpcm.data() + set * (size_t)set_bytes, set_bytes, pcm.data(), channels));
            benchmark::ClobberMemory();
        }
    }
    count_samples(state, BLOCK_SETS * SAMPLES_PER_BLOCK * channels);
}

// Keeps each run's samples per second, by name, for the ratios.
class rate_keeper : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> rate;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            auto found = run.counters.find("samples_per_second");
            if (found != run.counters.end()) rate[run.benchmark_name()] = found->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

std::string name_of(const char* pattern, const char* decoder, uint32_t channels) {
    return std::string(pattern) + "/" + decoder + "/" + std::to_string(channels) + "ch";
}

}  // namespace

int main(int argc, char** argv) {
    struct pattern {
        const char* name;
        void (*run)(benchmark::State&, decoder_fn, uint32_t);
        double target;
    } patterns[] = {{"bulk", decode_in_bulk, 2.0}, {"per_call", decode_per_call, 1.0}};
    for (const pattern& p : patterns) {
        for (uint32_t channels : CHANNEL_COUNTS) {
            benchmark::RegisterBenchmark(name_of(p.name, "scalar", channels).c_str(), p.run, scalar_decode_blocks,
                                         channels);
            benchmark::RegisterBenchmark(name_of(p.name, "codec", channels).c_str(), p.run, decode_blocks, channels);
        }
    }
    benchmark::Initialize(&argc, argv);
    rate_keeper reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    printf("\ndecode_blocks against the scalar yardstick (samples per second, same run):\n");
    for (const pattern& p : patterns) {
        for (uint32_t channels : CHANNEL_COUNTS) {
            double codec = reporter.rate[name_of(p.name, "codec", channels)];
            double scalar = reporter.rate[name_of(p.name, "scalar", channels)];
            if (codec <= 0 || scalar <= 0) continue;
            printf("  %-8s %uch  %7.1f M/s vs %7.1f M/s  ratio %.2f  (target >= %.1f)\n", p.name, channels, codec / 1e6,
                   scalar / 1e6, codec / scalar, p.target);
        }
    }
    benchmark::Shutdown();
    return 0;
}
