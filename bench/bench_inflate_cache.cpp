// What the first play of a compressed bank costs beyond zlib's own work: a
// 100 MiB bank of encoded sound is compressed into a .zwb, then inflated by
// zlib in memory in one go, and opened as Play opens it (the cache file
// filled from 64 KiB reads through a 1 MiB output buffer, then the bank read
// from it). Best of five runs each; prints both times and their ratio. It
// reports and always exits 0.

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "codec/little_endian.h"
#include "reference/bank_writer.h"
#include "codec/xbox_adpcm_encoder.h"

namespace fs = std::filesystem;

namespace {

const uint32_t BANK_BYTES = 100u << 20;
const int RUNS = 5;
const uint32_t SEGMENTS = 8;
// Each segment is far longer than deflate's 32 KiB window, so repeating
// segments does not make the bank compress better than encoded sound does.
const size_t SEGMENT_BLOCK_SETS = 24000;  // stereo: about 1.6 MiB, 35 s

// A stretch of stereo "music": a few drifting partials with a beat-like
// envelope and a little noise, different for each seed, encoded by the
// project's encoder.
bytes music_segment(uint32_t seed) {
    const size_t frames = SEGMENT_BLOCK_SETS * 65;
    std::vector<int16_t> pcm(frames * 2);
    std::mt19937 noise(seed);
    std::normal_distribution<double> hiss(0.0, 300.0);
    const double base = 110.0 * pow(2.0, (double)(seed % 12) / 12.0);
    const double two_pi = 6.283185307179586;
    for (size_t frame = 0; frame < frames; ++frame) {
        double t = (double)frame / 44100.0;
        double beat = 0.55 + 0.45 * exp(-fmod(t, 0.5) * 6.0);
        double drift = 1.0 + 0.01 * sin(two_pi * 0.2 * t);
        for (int channel = 0; channel < 2; ++channel) {
            double sample = 0;
            for (int partial = 1; partial <= 5; ++partial) {
                double hertz = base * partial * drift * (channel ? 1.003 : 1.0);
                sample += sin(two_pi * hertz * t + partial * seed) / partial;
            }
            double value = 7000.0 * beat * sample + hiss(noise);
            if (value > 32767) value = 32767;
            if (value < -32768) value = -32768;
            pcm[frame * 2 + channel] = (int16_t)lround(value);
        }
    }
    return encode_xbox_adpcm(pcm.data(), frames, 2);
}

// A wave bank of BANK_BYTES: header, bank data, one record per stretch of
// sound and the sound itself, the segments laid down in a shuffled order.
bytes build_bank() {
    std::vector<bytes> segments;
    for (uint32_t i = 0; i < SEGMENTS; ++i) segments.push_back(music_segment(i * 7 + 1));
    const size_t segment_bytes = segments[0].size();
    const uint32_t head_bytes = BANK_HEADER_BYTES + BANK_DATA_BYTES;
    uint32_t entries = 0;
    while (head_bytes + (entries + 1) * BANK_RECORD_BYTES + (size_t)entries * segment_bytes < BANK_BYTES) ++entries;
    const uint32_t data_bytes = BANK_BYTES - head_bytes - entries * BANK_RECORD_BYTES;
    wave_bank_design design;
    design.entry_data.resize(data_bytes);
    std::mt19937 order(12345);
    for (uint32_t e = 0; e < entries; ++e) {
        uint32_t offset = (uint32_t)(e * segment_bytes);
        uint32_t length = (uint32_t)std::min(segment_bytes, (size_t)(data_bytes - offset));
        design.entries.push_back({format_word(1, 2, 44100), offset, length});
        memcpy(&design.entry_data[offset], segments[order() % SEGMENTS].data(), length);
    }
    return build_wave_bank(design);
}

// zlib alone: the whole stream inflated into one buffer of the bank's size.
double time_zlib_in_memory(const bytes& stream_bytes, bytes& out) {
    auto start = std::chrono::steady_clock::now();
    z_stream stream;
    memset(&stream, 0, sizeof stream);
    if (inflateInit(&stream) != Z_OK) return -1;
    stream.next_in = const_cast<Bytef*>(stream_bytes.data());
    stream.avail_in = (uInt)stream_bytes.size();
    stream.next_out = out.data();
    stream.avail_out = (uInt)out.size();
    int result = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    double elapsed = seconds_since(start);
    return result == Z_STREAM_END ? elapsed : -1;
}

// The first play's way: the .zwb opened as Play opens it, from the cache's
// inflation to the bank read from the cache.
double time_first_play(const std::string& zwb_path, const std::string& cache_path, uint32_t entries) {
    std::error_code error;
    fs::remove(cache_path, error);
    auto start = std::chrono::steady_clock::now();
    int32_t found = open_like_play(zwb_path);
    double elapsed = seconds_since(start);
    if (found != (int32_t)entries || fs::file_size(cache_path, error) != BANK_BYTES || error) return -1;
    return elapsed;
}

}  // namespace

int main() {
    std::string folder = make_bench_folder("tolvane-bench-zwb");
    if (folder.empty()) {
        printf("bench_inflate_cache: cannot make a folder under the temporary directory\n");
        return 0;
    }
    // The cache goes into this folder: the module finds it as the temporary
    // directory.
    const std::string zwb_path = folder + "bench.zwb";
    const std::string cache_path = folder + "bench.xwb";

    printf("bench_inflate_cache: building a %u MiB bank...\n", BANK_BYTES >> 20);
    fflush(stdout);
    bytes bank = build_bank();
    const uint32_t entries = read_u32le(&bank[40 + 4]);
    uLongf packed_bytes = compressBound(BANK_BYTES);
    bytes zwb(8 + packed_bytes);
    write_u32le(&zwb[4], BANK_BYTES);
    compress2(&zwb[8], &packed_bytes, bank.data(), BANK_BYTES, Z_DEFAULT_COMPRESSION);
    zwb.resize(8 + packed_bytes);
    bytes stream_bytes(zwb.begin() + 8, zwb.end());
    if (!write_file(zwb_path, zwb)) printf("bench_inflate_cache: cannot write %s\n", zwb_path.c_str());
    printf("compressed: %.1f MiB (%.1f%% of the bank)\n", (double)packed_bytes / (1 << 20),
           100.0 * (double)packed_bytes / BANK_BYTES);

    bytes out(BANK_BYTES);
    double zlib_best = -1, cache_best = -1;
    for (int run = 0; run < RUNS; ++run) {
        double zlib_time = time_zlib_in_memory(stream_bytes, out);
        double cache_time = time_first_play(zwb_path, cache_path, entries);
        if (zlib_time >= 0 && (zlib_best < 0 || zlib_time < zlib_best)) zlib_best = zlib_time;
        if (cache_time >= 0 && (cache_best < 0 || cache_time < cache_best)) cache_best = cache_time;
    }
    bool cache_matches = false;
    {
        std::ifstream in(cache_path, std::ios::binary);
        bytes cached((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        cache_matches = cached == bank;
    }

    printf("zlib in memory:        %8.1f ms (best of %d)\n", zlib_best * 1000, RUNS);
    printf("first play (opener):   %8.1f ms (best of %d)\n", cache_best * 1000, RUNS);
    if (zlib_best > 0 && cache_best > 0 && cache_matches) {
        printf("ratio cache/zlib:      %8.2f (target <= 1.15)\n", cache_best / zlib_best);
    } else {
        printf("ratio cache/zlib:      not measured (%s)\n", cache_best < 0  ? "the first play failed"
                                                             : zlib_best < 0 ? "zlib failed"
                                                                             : "cache differs");
    }
    remove_bench_folder(folder);
    return 0;
}
