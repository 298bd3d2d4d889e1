// Generated test inputs: scratch folders, RIFF files built chunk by chunk,
// encoded tones and their reference decoding.

#include "tests/support/sample_files.h"

#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "codec/xbox_adpcm.h"
#include "platform/platform.h"
#include "tools/tolvane/wave_writer.h"
#include "tools/tolvane/xbox_adpcm_encoder.h"

namespace fs = std::filesystem;

static const double TWO_PI = 6.283185307179586;

std::string make_scratch_dir() {
    std::error_code error;
    fs::path base = fs::temp_directory_path(error);
    if (error) {
        ADD_FAILURE() << "no temporary directory: " << error.message();
        return std::string();
    }
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[40];
        snprintf(name, sizeof name, "tolvane-test-%08x", (unsigned)entropy());
        fs::path dir = base / name;
        // create_directory is false when the name is taken: try another.
        if (fs::create_directory(dir, error)) return dir.string() + PLATFORM_PATH_SEPARATOR;
    }
    ADD_FAILURE() << "cannot create a scratch folder under " << base.string();
    return std::string();
}

void remove_scratch_dir(const std::string& dir) {
    if (dir.empty()) return;
    std::error_code error;
    fs::remove_all(fs::path(dir), error);
}

std::string write_file_in(const std::string& dir, const std::string& name, const bytes& content) {
    std::string path = dir + name;
    fs::path full(path);
    std::error_code error;
    fs::create_directories(full.parent_path(), error);
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out.write((const char*)content.data(), (std::streamsize)content.size());
    out.close();
    if (!out) ADD_FAILURE() << "cannot write " << path;
    return path;
}

void put_u16le(bytes& out, uint16_t value) {
    out.push_back((uint8_t)value);
    out.push_back((uint8_t)(value >> 8));
}

void put_u32le(bytes& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back((uint8_t)(value >> shift));
}

static void put_tag(bytes& out, const std::string& tag) {
    for (size_t i = 0; i < 4; ++i) out.push_back(i < tag.size() ? (uint8_t)tag[i] : (uint8_t)' ');
}

bytes build_riff(const std::vector<riff_chunk>& chunks, const std::string& riff_tag, const std::string& form) {
    bytes body;
    put_tag(body, form);
    for (const riff_chunk& chunk : chunks) {
        put_tag(body, chunk.tag);
        put_u32le(body, chunk.has_declared_size ? chunk.declared_size : (uint32_t)chunk.content.size());
        body.insert(body.end(), chunk.content.begin(), chunk.content.end());
        if (chunk.pad && chunk.content.size() % 2 == 1) body.push_back(0);
    }
    bytes out;
    put_tag(out, riff_tag);
    put_u32le(out, (uint32_t)body.size());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

bytes fmt_content(uint16_t format_tag, uint16_t channels, uint32_t sample_rate, size_t content_bytes) {
    bytes out;
    uint32_t block_align = (uint32_t)ADPCM_BLOCK_BYTES * channels;
    put_u16le(out, format_tag);
    put_u16le(out, channels);
    put_u32le(out, sample_rate);
    // Bytes per second of 36-byte blocks that each hold 65 samples.
    put_u32le(out, (uint32_t)((uint64_t)sample_rate * block_align / SAMPLES_PER_BLOCK));
    put_u16le(out, (uint16_t)block_align);
    put_u16le(out, 4);
    if (out.size() < content_bytes) out.resize(content_bytes, 0);
    return out;
}

bytes adpcm_wave(const bytes& adpcm, uint16_t channels, uint32_t sample_rate) {
    // The files `tolvane encode` writes: a 20-byte format, data at offset 48.
    return make_adpcm_wave(adpcm, channels, sample_rate);
}

bytes tone_adpcm(uint32_t channels, uint32_t block_sets, uint32_t seed) {
    size_t frames = (size_t)block_sets * SAMPLES_PER_BLOCK;
    std::vector<int16_t> pcm(frames * channels);
    double hertz = 110.0 + (double)(seed % 2000);
    for (size_t frame = 0; frame < frames; ++frame) {
        for (uint32_t channel = 0; channel < channels; ++channel) {
            double phase = TWO_PI * hertz * (double)frame / 44100.0 + (double)(seed % 7 + channel);
            pcm[frame * channels + channel] = (int16_t)lround(12000.0 * sin(phase));
        }
    }
    return encode_xbox_adpcm(pcm.data(), frames, channels);
}

bytes random_bytes(size_t count, uint32_t seed) {
    std::mt19937 generator(seed);
    bytes out(count);
    for (uint8_t& byte : out) byte = (uint8_t)(generator() >> 24);
    return out;
}

bytes reference_pcm(const bytes& adpcm, uint32_t channels) {
    if (channels == 0) return bytes();
    size_t block_sets = adpcm.size() / ((size_t)ADPCM_BLOCK_BYTES * channels);
    std::vector<int16_t> samples(block_sets * SAMPLES_PER_BLOCK * channels);
    int32_t produced = decode_blocks(adpcm.data(), (int32_t)adpcm.size(), samples.data(), channels);
    bytes out;
    out.reserve((size_t)produced);
    for (size_t i = 0; i < (size_t)produced / 2; ++i) put_u16le(out, (uint16_t)samples[i]);
    return out;
}

uint32_t test_seed(uint32_t fallback) {
    uint32_t seed = fallback;
    const char* text = getenv("TOLVANE_TEST_SEED");
    if (text && *text) seed = (uint32_t)strtoul(text, nullptr, 0);
    fprintf(stderr, "[ seed     ] TOLVANE_TEST_SEED=%u\n", (unsigned)seed);
    if (::testing::UnitTest::GetInstance()->current_test_info())
        ::testing::Test::RecordProperty("TOLVANE_TEST_SEED", std::to_string(seed));
    return seed;
}
