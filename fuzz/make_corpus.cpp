// Writes the seed corpus of every fuzz target into the folder given, one
// subfolder per target, from the same writers the tests use: valid files of
// each kind, so the fuzzers start from inputs that reach deep into the
// readers and the engine.

#include <stdio.h>
#include <zlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "containers/wave_bank_writer.h"
#include "reference/sound_bank_writer.h"
#include "tests/support/sample_files.h"
#include "tests/support/shipped_layouts.h"
#include "tests/support/windows_bank_variants.h"

namespace fs = std::filesystem;

namespace {

std::string folder;

void seed(const std::string& target, const std::string& name, const bytes& content) {
    fs::create_directories(folder + "/" + target);
    write_file_in(folder + "/" + target + "/", name, content);
}

bytes prefixed(std::vector<uint8_t> prefix, const bytes& content) {
    prefix.insert(prefix.end(), content.begin(), content.end());
    return prefix;
}

bytes small_bank(uint32_t element_size) {
    wave_bank_design design;
    bytes e0 = tone_adpcm(2, 4, 1), e1 = tone_adpcm(1, 6, 2);
    design.entries = {{format_word(1, 2, 44100), 0, (uint32_t)e0.size()},
                      {format_word(2, 1, 22050), 0, 72},
                      {format_word(1, 1, 22050), (uint32_t)e0.size(), (uint32_t)e1.size()}};
    design.entry_data = e0;
    design.entry_data.insert(design.entry_data.end(), e1.begin(), e1.end());
    design.element_size = element_size;
    return build_wave_bank(design);
}

bytes zwb(const bytes& bank) {
    uLongf packed_size = compressBound((uLong)bank.size());
    bytes packed(packed_size);
    compress2(packed.data(), &packed_size, bank.data(), (uLong)bank.size(), 6);
    packed.resize(packed_size);
    bytes out = {'Z', 'W', 'B', 0};
    put_u32le(out, (uint32_t)bank.size());
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
}

// Cues of every kind over two wave banks, as the sound bank reader meets them.
bytes small_sound_bank(uint16_t version) {
    sound_bank_design design;
    design.version = version;
    design.name = "game";
    design.wave_banks = {"music", "sfx"};
    design.sounds = {trivial_sound(wave_reference(0, 0)), simple_sound({wave_reference(0, 1), wave_reference(1, 0)}),
                     complex_sound({{play_event({wave_reference(0, 2)}),
                                     play_event({wave_reference(0, 3), wave_reference(1, 1)})}})};
    design.cues = {{"intro", {0}}, {"battle", {1}}, {"boss", {2}}, {"", {0}}, {"menu", {0, 1}}};
    return build_sound_bank(design);
}

// Content versions 43 to 46: a simple and a complex sound (its RPC and DSP
// blocks, waves played directly and from a track's variations), simple and
// complex cues, and variation tables of sounds and of waves.
bytes small_xact3_sound_bank(uint16_t version, bool big_endian) {
    sound_bank_design design;
    design.version = version;
    design.big_endian = big_endian;
    design.name = "game";
    design.wave_banks = {"music", "sfx"};
    sound_design complex = complex_sound(
        {{play_event({}, XACT3_EVENT_MARKER), play_event({wave_reference(0, 2)}, XACT3_EVENT_PLAY_WAVE)},
         {play_event({wave_reference(0, 3), wave_reference(1, 1)}, XACT3_EVENT_PLAY_TRACK_VARIATION_EFFECTS)}});
    complex.rpc_codes = 1;
    complex.dsp_presets = 1;
    design.sounds = {trivial_sound(wave_reference(0, 0)), simple_sound({wave_reference(0, 1), wave_reference(1, 0)}),
                     complex};
    design.cues = {{"intro", {0}},
                   {"boss", {2}},
                   {"menu", {0, 1}},
                   {"steps", {}, true, XACT3_VARIATION_COMPACT_WAVES, {wave_reference(1, 2)}}};
    return build_sound_bank(design);
}

// Windows and Xbox 360 banks of one format each, full and compact: Microsoft
// ADPCM, and xWMA and XMA entries with seek tables (whose last value gives a
// compact record its frames).
std::vector<std::pair<std::string, bytes>> windows_banks(bank_platform platform) {
    std::vector<built_entry> adpcm = {windows_bank_entry("entry", CODEC_MS_ADPCM, 2, ms_adpcm_tone(2, 300, 0, 1), 0),
                                      windows_bank_entry("entry", CODEC_MS_ADPCM, 2, ms_adpcm_tone(2, 500, 0, 2), 0)};
    std::vector<built_entry> xwma = {
        windows_bank_entry("entry", CODEC_XWMA, 2, random_bytes(929 * 2, 61), 0x20, {4096, 8192}),
        windows_bank_entry("entry", CODEC_XWMA, 2, random_bytes(929, 62), 0x20, {4096}),
        windows_bank_entry("entry", CODEC_XWMA, 2, random_bytes(300, 63), 0x20)};
    std::vector<built_entry> mixed = {adpcm[0], xwma[0],
                                      windows_bank_entry("entry", CODEC_XMA, 1, random_bytes(2048, 64), 0, {512, 1024}),
                                      windows_bank_entry("entry", CODEC_PCM16, 1, random_bytes(200, 65), 0)};
    if (platform == BANK_FOR_XBOX360) mixed[3].codec = CODEC_PCM16_BE;
    std::string error;
    bytes adpcm_bank = built_bank_bytes(adpcm, "adpcm", 2048, &error, platform);
    bytes xwma_bank = built_bank_bytes(xwma, "xwma", 2048, &error, platform);
    return {{"ms-adpcm", adpcm_bank},
            {"ms-adpcm-compact", compact_windows_bank(adpcm_bank)},
            {"xwma-seek-tables", xwma_bank},
            {"xwma-seek-tables-compact", compact_windows_bank(xwma_bank)},
            {"mixed-seek-tables", built_bank_bytes(mixed, "mixed", 2048, &error, platform)}};
}

bytes pair_input(const bytes& header, const bytes& data, bool choose_header) {
    bytes out;
    out.reserve(2 + header.size() + data.size());
    out.push_back((uint8_t)((choose_header ? 0x80 : 0) | (header.size() >> 8)));
    out.push_back((uint8_t)header.size());
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_fuzz_corpus FOLDER\n");
        return 2;
    }
    folder = argv[1];

    bytes mono = adpcm_wave(tone_adpcm(1, 3, 1), 1, 22050);
    bytes stereo = adpcm_wave(tone_adpcm(2, 3, 2), 2, 44100);
    bytes reordered = build_riff(
        {{"data", tone_adpcm(3, 2, 3)}, {"LIST", random_bytes(7, 4)}, {"fmt ", fmt_content(0x69, 3, 32000, 20)}});
    bytes pcm_wave = build_riff({{"fmt ", fmt_content(1, 2, 44100)}, {"data", random_bytes(64, 5)}});
    bytes raw = tone_adpcm(2, 2, 6);
    bytes bank = small_bank(24);
    bytes header = build_stream_header({{0, 144, 44100, 2}, {144, 216, 22050, 1}});
    bytes pair_data = tone_adpcm(2, 2, 7);
    bytes more = tone_adpcm(1, 6, 8);
    pair_data.insert(pair_data.end(), more.begin(), more.end());

    for (const auto& wave : {std::make_pair("mono.wav", mono), std::make_pair("stereo.wav", stereo),
                             std::make_pair("reordered.wav", reordered), std::make_pair("pcm.wav", pcm_wave),
                             std::make_pair("raw.dat", raw)})
        seed("wave_or_raw", wave.first, wave.second);

    seed("wave_bank", "bank", prefixed({0}, bank));
    seed("wave_bank", "short-records", prefixed({0}, small_bank(12)));
    seed("wave_bank", "long-records", prefixed({0}, small_bank(32)));
    seed("wave_bank", "container", prefixed({1}, in_bank_container(bank)));

    seed("stream_pair", "header-chosen", pair_input(header, pair_data, true));
    seed("stream_pair", "data-chosen", pair_input(header, pair_data, false));

    seed("sound_bank", "game.xsb", small_sound_bank(SOUND_BANK_VERSION));
    seed("sound_bank", "version-7.xsb", small_sound_bank(7));
    for (uint16_t version = FIRST_XACT3_VERSION; version <= LAST_XACT3_VERSION; ++version) {
        seed("sound_bank", "version-" + std::to_string(version) + ".xsb", small_xact3_sound_bank(version, false));
        seed("sound_bank", "version-" + std::to_string(version) + "-xbox-360.xsb",
             small_xact3_sound_bank(version, true));
    }

    // Byte 0 is the version the target forces; 5 keeps version 46.
    for (bank_platform platform : {BANK_FOR_WINDOWS, BANK_FOR_XBOX360})
        for (const auto& built : windows_banks(platform))
            seed("windows_bank", built.first + (platform == BANK_FOR_XBOX360 ? "-xbox-360" : ""),
                 prefixed({5}, built.second));

    seed("compressed_bank", "bank.zwb", zwb(bank));
    seed("compressed_bank", "container.zwb", zwb(in_bank_container(bank)));

    seed("decode_blocks", "mono", prefixed({1}, tone_adpcm(1, 2, 9)));
    seed("decode_blocks", "stereo", prefixed({2}, tone_adpcm(2, 2, 10)));
    seed("decode_blocks", "three", prefixed({3}, tone_adpcm(3, 1, 11)));

    // Byte 0 is the file kind, then four (action, parameter) pairs.
    seed("play", "wave", prefixed({0, 0, 2, 1, 8, 3, 0, 2, 1}, stereo));
    seed("play", "bank", prefixed({1, 1, 4, 0, 4, 3, 0, 0, 9}, bank));
    seed("play", "zwb", prefixed({2, 0, 1, 3, 0, 1, 2, 5, 0}, zwb(bank)));
    bytes pair_file = header;
    pair_file.resize(pair_data.size() > header.size() ? pair_data.size() : header.size(), 0);
    pair_file.insert(pair_file.end(), pair_data.begin(), pair_data.end());
    seed("play", "pair", prefixed({3, 0, 3, 1, 2, 3, 0, 6, 1}, pair_file));
    seed("play", "raw-stopped", prefixed({5, 5, 1, 1, 12, 3, 0, 4, 0}, raw));

    // The layouts games shipped: each bank, pair and WAVE to its reader, and
    // the banks to a whole play.
    for (const shipped_file& shipped : shipped_files()) {
        const bytes& first = shipped.files[0].second;
        if (shipped.files.size() == 2) {
            seed("stream_pair", shipped.name, pair_input(first, shipped.files[1].second, true));
        } else if (shipped.name.find(".xwb") != std::string::npos) {
            seed("wave_bank", shipped.name, prefixed({0}, first));
            if (shipped.version >= FIRST_WINDOWS_BANK_VERSION) {
                seed("windows_bank", shipped.name, prefixed({5}, first));
                seed("windows_bank", "version-41-" + shipped.name, prefixed({0}, first));
            }
            seed("play", shipped.name, prefixed({1, 0, 2, 1, 6, 3, 0, 2, 1}, first));
        } else {
            seed("wave_or_raw", shipped.name, first);
        }
    }
    return 0;
}
