// The hostile-file catalogue: damaged and malicious files of every kind,
// each described for the playlist and played through the module with its
// expected outcome. Whatever the file, the playlist gets its length (-1000
// for a file Play refuses), Play either refuses it or the item ends by
// itself, Stop leaves nothing open, and nothing crashes, hangs or leaks.
// Damaged sound banks beside a good wave bank name what they can, and the
// bank still lists, plays and renders.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <stdlib.h>
#include <string>

#include "codec/little_endian.h"
#include "containers/wave_bank_writer.h"
#include "player/player_state.h"
#include "plugin/module.h"
#include "reference/sound_bank_writer.h"
#include "tests/support/json_reader.h"
#include "tests/support/module_fixture.h"
#include "tests/support/tool_runner.h"
#include "tests/support/windows_bank_variants.h"
#include "tools/tolvane/cli/sound_bank_names.h"

namespace {

enum outcome {
    REFUSED,        // Play returns 1
    PLAYS_NOTHING,  // Play returns 0, nothing is written, the item ends
    PLAYS_SOUND,    // Play returns 0, something is written, the item ends
};

struct hostile_case {
    std::string name;  // file name, extension included
    bytes content;
    outcome expected;
};

bytes with_u32(bytes content, size_t at, uint32_t value) {
    if (at + 4 > content.size()) return content;
    for (int i = 0; i < 4; ++i) content[at + (size_t)i] = (uint8_t)(value >> (8 * i));
    return content;
}

bytes with_u16(bytes content, size_t at, uint16_t value) {
    if (at + 2 > content.size()) return content;
    content[at] = (uint8_t)value;
    content[at + 1] = (uint8_t)(value >> 8);
    return content;
}

bytes bank_with(const std::function<void(wave_bank_design&)>& tweak) {
    wave_bank_design design;
    bytes sound = tone_adpcm(2, 4, 1);
    design.entries = {{format_word(1, 2, 44100), 0, (uint32_t)sound.size()}};
    design.entry_data = sound;
    tweak(design);
    return build_wave_bank(design);
}

bytes v1_bank_with(const std::function<void(wave_bank_design&)>& tweak) {
    return bank_with([&](wave_bank_design& s) {
        s.version = 1;
        s.entries[0].format_word = format_word_v1(1, 2, 44100);
        tweak(s);
    });
}

// Two compact records 2048 bytes apart, the second one holding the sound.
bytes compact_bank_with(const std::function<void(wave_bank_design&)>& tweak) {
    wave_bank_design design;
    bytes sound = tone_adpcm(2, 4, 1);
    design.compact = true;
    design.element_size = BANK_COMPACT_RECORD_BYTES;
    design.alignment = 2048;
    design.compact_format = pack_format(VERSION_2_RECORD, CODEC_XBOX_ADPCM, 2, 44100);
    design.compact_words = {compact_record_word(0, 0), compact_record_word(1, 0)};
    design.entry_data = random_bytes(2048, 2);
    design.entry_data.insert(design.entry_data.end(), sound.begin(), sound.end());
    tweak(design);
    return build_wave_bank(design);
}

// A field of `width` bytes (2 or 4) in either byte order.
bytes with_field(bytes content, size_t at, uint32_t value, int width, bool big_endian) {
    if (at + (size_t)width > content.size()) return content;
    for (int i = 0; i < width; ++i)
        content[at + (size_t)i] = (uint8_t)(value >> (8 * (big_endian ? width - 1 - i : i)));
    return content;
}

const uint32_t MS_ADPCM_FIELD = 0x24;

// A Windows or Xbox 360 bank of one stereo Microsoft ADPCM entry of 20
// blocks, then `more`.
bytes windows_bank_of(bank_platform platform, std::vector<built_entry> more = {}) {
    std::vector<built_entry> entries = {
        windows_bank_entry("tone", CODEC_MS_ADPCM, 2, ms_adpcm_tone(2, 20 * 104, MS_ADPCM_FIELD, 1), MS_ADPCM_FIELD)};
    entries.insert(entries.end(), more.begin(), more.end());
    std::string error;
    return built_bank_bytes(entries, "bank", 2048, &error, platform);
}

bytes with_bank_field(bytes bank, size_t at, uint32_t value) {
    set_bank_field(&bank, at, value);
    return bank;
}

// Record 0's format word packed anew.
bytes with_format(const bytes& bank, entry_codec codec, uint32_t channels, uint32_t rate, uint32_t block_field) {
    return with_bank_field(bank, windows_record_field(bank, 0, (uint32_t)WINDOWS_RECORD.format_at),
                           pack_format(WINDOWS_RECORD, codec, channels, rate, block_field));
}

// Two xWMA records with seek tables in a compact bank, as the seek tables
// give compact records their frames.
bytes compact_xwma_bank(bank_platform platform) {
    std::vector<built_entry> entries = {
        windows_bank_entry("a", CODEC_XWMA, 2, random_bytes(929 * 2, 5), 0x20, {4096, 8192}),
        windows_bank_entry("b", CODEC_XWMA, 2, random_bytes(929, 6), 0x20, {4096})};
    std::string error;
    return compact_windows_bank(built_bank_bytes(entries, "bank", 2048, &error, platform));
}

// Where record 0's seek table offset lies, and its table's count.
size_t seek_offsets_at(const bytes& bank) {
    return windows_region_offset(bank, WINDOWS_REGION_SEEK_TABLES);
}
size_t first_seek_count_at(const bytes& bank) {
    return seek_offsets_at(bank) + 4 * 2;  // after the offsets of both records
}

// Windows and Xbox 360 banks, both byte orders, damaged in every field the
// reader trusts: regions, counts, record sizes, alignment, seek tables, and
// formats the codecs refuse or clamp.
std::vector<hostile_case> windows_catalogue() {
    std::vector<hostile_case> cases;
    for (bank_platform platform : {BANK_FOR_WINDOWS, BANK_FOR_XBOX360}) {
        const std::string p = platform == BANK_FOR_WINDOWS ? "windows-" : "x360-";
        const bool big_endian = platform == BANK_FOR_XBOX360;
        bytes bank = windows_bank_of(platform);
        auto data_field = [&](uint32_t at) { return windows_bank_data_field(bank, at); };
        auto region_field = [&](int region) { return windows_region_field(region); };
        size_t sound_at = windows_region_offset(bank, WINDOWS_REGION_SOUND);
        bytes compact = compact_windows_bank(windows_bank_of(
            platform, {windows_bank_entry("more", CODEC_MS_ADPCM, 2, ms_adpcm_tone(2, 10 * 104, MS_ADPCM_FIELD, 2),
                                          MS_ADPCM_FIELD)}));
        bytes xwma = compact_xwma_bank(platform);
        size_t seek_region = region_field(WINDOWS_REGION_SEEK_TABLES);
        std::vector<hostile_case> more = {
            {p + "plays.xwb", bank, PLAYS_SOUND},
            {p + "records-past-end.xwb", with_bank_field(bank, region_field(REGION_ENTRY_METADATA), 0x10000000),
             PLAYS_NOTHING},
            {p + "bank-data-past-end.xwb", with_bank_field(bank, region_field(REGION_BANK_DATA), 0x7FFFFFF0),
             PLAYS_NOTHING},
            {p + "sound-past-end.xwb", with_bank_field(bank, region_field(WINDOWS_REGION_SOUND), 0x7FFFFF00),
             PLAYS_NOTHING},
            {p + "names-past-end.xwb", with_bank_field(bank, region_field(WINDOWS_REGION_NAMES), 0x7FFFFFF0),
             PLAYS_SOUND},
            // The records after the real one are read from the names and the
            // sound that follow: in the Xbox 360 byte order one of them ends
            // before the first begins, and the bank is refused.
            {p + "count-7fffffff.xwb", with_bank_field(bank, data_field(BANK_DATA_COUNT_AT), 0x7FFFFFFF),
             big_endian ? REFUSED : PLAYS_SOUND},
            {p + "count-ffffffff.xwb", with_bank_field(bank, data_field(BANK_DATA_COUNT_AT), 0xFFFFFFFF),
             big_endian ? REFUSED : PLAYS_SOUND},
            {p + "record-size-0.xwb", with_bank_field(bank, data_field(WINDOWS_BANK_DATA_RECORD_SIZE_AT), 0),
             PLAYS_NOTHING},
            {p + "record-size-4.xwb", with_bank_field(bank, data_field(WINDOWS_BANK_DATA_RECORD_SIZE_AT), 4),
             REFUSED},  // the flags and duration only: no format, so no record plays
            {p + "compact.xwb", compact, PLAYS_SOUND},
            {p + "compact-alignment-0.xwb",
             with_bank_field(compact, windows_bank_data_field(compact, WINDOWS_BANK_DATA_ALIGNMENT_AT), 0),
             PLAYS_SOUND},  // both records start at 0; the last runs over the whole region
            {p + "compact-record-size-0.xwb",
             with_bank_field(compact, windows_bank_data_field(compact, WINDOWS_BANK_DATA_RECORD_SIZE_AT), 0),
             PLAYS_SOUND},
            {p + "seek-tables.xwb", xwma, REFUSED},  // xWMA is listed, not played
            {p + "seek-region-negative.xwb", with_bank_field(xwma, seek_region, 0xFFFFFF00), REFUSED},
            {p + "seek-region-past-end.xwb", with_bank_field(xwma, seek_region, (uint32_t)xwma.size() + 64), REFUSED},
            {p + "seek-region-huge.xwb", with_bank_field(xwma, seek_region + 4, 0xFFFFFFFF), REFUSED},
            {p + "seek-offset-negative.xwb", with_bank_field(xwma, seek_offsets_at(xwma), 0x80000000), REFUSED},
            {p + "seek-offset-huge.xwb", with_bank_field(xwma, seek_offsets_at(xwma), 0x7FFFFFF0), REFUSED},
            {p + "seek-count-ffffffff.xwb", with_bank_field(xwma, first_seek_count_at(xwma), 0xFFFFFFFF), REFUSED},
            {p + "seek-count-past-region.xwb", with_bank_field(xwma, first_seek_count_at(xwma), 5), REFUSED},
            {p + "ms-adpcm-field-255.xwb", with_format(bank, CODEC_MS_ADPCM, 2, 44100, 255), PLAYS_SOUND},
            {p + "ms-adpcm-field-0.xwb", with_format(bank, CODEC_MS_ADPCM, 2, 44100, 0), PLAYS_SOUND},
            {p + "ms-adpcm-predictor-7.xwb", with_field(bank, sound_at, 0x0707, 2, false), PLAYS_SOUND},
            {p + "ms-adpcm-predictor-255.xwb", with_field(bank, sound_at + 1, 0xFF, 1, false), PLAYS_SOUND},
            {p + "rate-0.xwb", with_format(bank, CODEC_MS_ADPCM, 2, 0, MS_ADPCM_FIELD), REFUSED},
            {p + "rate-3ffff.xwb", with_format(bank, CODEC_MS_ADPCM, 2, 0x3FFFF, MS_ADPCM_FIELD), PLAYS_SOUND},
            {p + "channels-0.xwb", with_format(bank, CODEC_MS_ADPCM, 0, 44100, MS_ADPCM_FIELD), REFUSED},
            {p + "channels-7.xwb", with_format(bank, CODEC_MS_ADPCM, 7, 44100, MS_ADPCM_FIELD), PLAYS_SOUND},
            // xWMA packet sizes 17 to 31 and byte rate 7 are not in the tables.
            {p + "xwma-packet-31.xwb",
             windows_bank_of(platform, {windows_bank_entry("w", CODEC_XWMA, 2, random_bytes(929, 7), 31)}),
             PLAYS_SOUND},
            {p + "xwma-rate-7.xwb",
             windows_bank_of(platform, {windows_bank_entry("w", CODEC_WMA_PRO, 2, random_bytes(929, 8), 0xE0)}),
             PLAYS_SOUND},
        };
        cases.insert(cases.end(), more.begin(), more.end());
        // Cut at every byte of the header, its regions and the bank data. A
        // big-endian version cut short reads as an Xbox version, which no
        // Xbox 360 bank has.
        for (size_t size = 0; size < windows_region_offset(bank, REGION_ENTRY_METADATA); ++size)
            cases.push_back({p + "cut-" + std::to_string(size) + ".xwb", cut(bank, size),
                             big_endian && size > 4 && size < 8 ? REFUSED : PLAYS_NOTHING});
    }
    return cases;
}

std::vector<hostile_case> catalogue() {
    bytes wave = adpcm_wave(tone_adpcm(2, 4, 2), 2, 44100);  // fmt at 12, data chunk header at 40
    std::vector<hostile_case> cases = {
        {"top-bit-fmt.wav", with_u32(wave, 16, 0x80000000u), PLAYS_SOUND},   // not a WAVE then: raw data
        {"top-bit-data.wav", with_u32(wave, 44, 0xFFFFFFF0u), PLAYS_SOUND},  // no data chunk: raw data
        {"zero-channels.wav", with_u16(wave, 22, 0), REFUSED},
        {"65535-channels.wav", with_u16(wave, 22, 65535), REFUSED},
        {"rate-0.wav", with_u32(wave, 24, 0), REFUSED},
        {"huge-data.wav", with_u32(wave, 44, 0x7FFFFFFFu), PLAYS_SOUND},  // plays to the end of the file
        {"empty.dat", {}, PLAYS_NOTHING},
        {"short.dat", random_bytes(71, 3), PLAYS_NOTHING},
        {"count-7fffffff.xwb", bank_with([](wave_bank_design& s) {
             s.has_declared_count = true;
             s.declared_count = 0x7FFFFFFF;
         }),
         PLAYS_SOUND},
        {"count-ffffffff.xwb", bank_with([](wave_bank_design& s) {
             s.has_declared_count = true;
             s.declared_count = 0xFFFFFFFF;
         }),
         PLAYS_SOUND},
        {"element-0.xwb", bank_with([](wave_bank_design& s) { s.element_size = 0; }), PLAYS_NOTHING},
        {"element-1.xwb", bank_with([](wave_bank_design& s) { s.element_size = 1; }), PLAYS_NOTHING},
        {"element-ffffffff.xwb", bank_with([](wave_bank_design& s) { s.element_size = 0xFFFFFFFF; }), PLAYS_SOUND},
        {"offset-huge.xwb", bank_with([](wave_bank_design& s) { s.entries[0].play_offset = 0x7FFFFF00u; }),
         PLAYS_NOTHING},
        {"offset-negative.xwb", bank_with([](wave_bank_design& s) { s.entries[0].play_offset = 0xFFFFFF00u; }),
         PLAYS_NOTHING},
        {"length-huge.xwb", bank_with([](wave_bank_design& s) { s.entries[0].play_length = 0xFFFFFFF0u; }),
         REFUSED},  // ends before it begins in 32 bits
        {"regions-past-end.xwb", bank_with([](wave_bank_design& s) { s.region_offset[1] = 0x10000000; }),
         PLAYS_NOTHING},
        {"bank-data-past-end.xwb", bank_with([](wave_bank_design& s) { s.region_offset[0] = 0x7FFFFFF0; }),
         PLAYS_NOTHING},
        {"version-1-count-ffffffff.xwb", v1_bank_with([](wave_bank_design& s) {
             s.has_declared_count = true;
             s.declared_count = 0xFFFFFFFF;
         }),
         PLAYS_NOTHING},  // its sound would start beyond 80 GiB
        {"version-1-offset-huge.xwb", v1_bank_with([](wave_bank_design& s) { s.entries[0].play_offset = 0x7FFFFFF0u; }),
         PLAYS_NOTHING},
        {"compact-alignment-ffffffff.xwb", compact_bank_with([](wave_bank_design& s) { s.alignment = 0xFFFFFFFF; }),
         PLAYS_SOUND},  // record 1 at 0 plays; record 2 would start beyond 2 GiB
        {"compact-deviation-huge.xwb",
         compact_bank_with([](wave_bank_design& s) { s.compact_words[0] = compact_record_word(0, 0x7FF); }),
         PLAYS_SOUND},  // record 1 has no sound left; record 2 plays
        {"compact-element-0.xwb", compact_bank_with([](wave_bank_design& s) { s.element_size = 0; }), PLAYS_SOUND},
        {"names-size-ffffffff.xwb", bank_with([](wave_bank_design& s) {
             s.with_names = true;
             s.entry_name_size = 0xFFFFFFFF;
         }),
         PLAYS_SOUND},
        {"names-past-end.xwb", bank_with([](wave_bank_design& s) {
             s.with_names = true;
             s.region_offset[REGION_ENTRY_NAMES] = 0x7FFFFFF0;
         }),
         PLAYS_SOUND},
        {"loop-huge.xwb", bank_with([](wave_bank_design& s) {
             s.entries[0].loop_start = 0xFFFFFFF0u;
             s.entries[0].loop_length = 0xFFFFFFF0u;
         }),
         PLAYS_SOUND},
        {"odd-chunk-7fffffff.wav", with_u32(wave, 16, 0x7FFFFFFFu), PLAYS_SOUND},  // not a WAVE then: raw data
        {"short.zwb", bytes{'Z', 'W', 'B'}, PLAYS_NOTHING},
        {"lying-stream.zwb", with_u32(random_bytes(64, 4), 4, 1000), PLAYS_NOTHING},  // raw: less than a set
    };
    // Banks cut at every byte of their headers, region tables, bank data
    // and (version 1) first record.
    bytes bank = bank_with([](wave_bank_design&) {});
    for (size_t size = 0; size < BANK_HEADER_BYTES + BANK_DATA_BYTES; ++size)
        cases.push_back(
            {"cut-" + std::to_string(size) + ".xwb", bytes(bank.begin(), bank.begin() + (long)size), PLAYS_NOTHING});
    bytes v1_bank = v1_bank_with([](wave_bank_design&) {});
    for (size_t size = 0; size < BANK_V1_RECORDS_AT + BANK_V1_RECORD_BYTES; ++size)
        cases.push_back({"cut-v1-" + std::to_string(size) + ".xwb",
                         bytes(v1_bank.begin(), v1_bank.begin() + (long)size), PLAYS_NOTHING});
    // A WAVE cut at every byte of its headers: raw data shorter than a block
    // set, or a WAVE whose data is missing.
    for (size_t size = 0; size <= 48; ++size)
        cases.push_back(
            {"cut-" + std::to_string(size) + ".wav", bytes(wave.begin(), wave.begin() + (long)size), PLAYS_NOTHING});
    std::vector<hostile_case> windows = windows_catalogue();
    cases.insert(cases.end(), windows.begin(), windows.end());
    return cases;
}

// Sounds of each kind over the waves of "bank", and cues of them.
sound_bank_design sound_bank_for_bank(uint16_t version, bool big_endian) {
    sound_bank_design design;
    design.version = version;
    design.big_endian = big_endian;
    design.wave_banks = {"bank"};
    design.sounds = {trivial_sound(wave_reference(0, 0)), simple_sound({wave_reference(0, 0), wave_reference(0, 1)}),
                     complex_sound({{play_event({wave_reference(0, 0)}), play_event({wave_reference(0, 2)})}})};
    design.cues = {{"one", {0}}, {"two", {1}}, {"three", {2, 0}}};
    return design;
}

// A sound bank for "bank" with a sound of each kind, and the same damaged in
// every way that matters: cut at every byte, counts of 0xFFFF, offsets
// outside the file and onto its own tables, another version, no header.
std::vector<hostile_case> damaged_sound_banks() {
    sound_bank_design design = sound_bank_for_bank(SOUND_BANK_VERSION, false);
    bytes good = build_sound_bank(design);
    auto damaged = [&](const std::function<void(bytes&)>& damage) {
        bytes file = good;
        damage(file);
        return file;
    };
    uint32_t cues = cue_record_at(design, 0);
    uint32_t sounds = sound_record_at(design, 0);
    std::vector<hostile_case> cases = {
        {"version-7.xsb", with_u16(good, SOUND_BANK_VERSION_AT, 7), PLAYS_SOUND},
        {"no-header.xsb", random_bytes(300, 9), PLAYS_SOUND},
        {"cues-ffff.xsb", with_u16(good, SOUND_BANK_CUE_COUNT_AT, 0xFFFF), PLAYS_SOUND},
        {"sounds-ffff.xsb", with_u16(good, SOUND_BANK_SOUND_COUNT_AT, 0xFFFF), PLAYS_SOUND},
        {"wave-banks-ffff.xsb", with_u16(good, SOUND_BANK_WAVE_BANK_COUNT_AT, 0xFFFF), PLAYS_SOUND},
        {"names-outside.xsb", with_u32(good, SOUND_BANK_WAVE_BANK_NAMES_AT, 0xFFFFFFF0u), PLAYS_SOUND},
        {"cue-offsets-outside.xsb", damaged([&](bytes& f) {
             for (uint32_t i = 0; i < 3; ++i)
                 for (uint32_t field : {CUE_NAME_AT, CUE_VARIATIONS_AT})
                     write_u32le(&f[cues + CUE_RECORD_BYTES * i + field], 0x7FFFFFF0);
         }),
         PLAYS_SOUND},
        {"sounds-onto-themselves.xsb", damaged([&](bytes& f) {
             for (uint32_t i = 0; i < 3; ++i) write_u32le(&f[sounds + SOUND_RECORD_BYTES * i], sounds);
         }),
         PLAYS_SOUND},
        {"variations-8191-at-the-end.xsb", damaged([&](bytes& f) {
             write_u32le(&f[sounds + SOUND_RECORD_BYTES + SOUND_WAVES_AT], (uint32_t)f.size());
             put_u32le(f, VARIATION_COUNT_MASK);
         }),
         PLAYS_SOUND},
    };
    for (size_t size = 0; size < good.size(); ++size)
        cases.push_back({"cut-" + std::to_string(size) + ".xsb", cut(good, size), PLAYS_SOUND});
    return cases;
}

// Content versions 43 to 46 in one byte order, damaged the same ways: cut
// at every 17th byte, counts of 0xFFFF (0xFF for the one-byte wave bank
// count), every table's offset outside the file and onto the header.
std::vector<hostile_case> damaged_xact3_sound_banks(bool big_endian) {
    std::vector<hostile_case> cases;
    for (uint16_t version = FIRST_XACT3_VERSION; version <= LAST_XACT3_VERSION; ++version) {
        bytes good = build_sound_bank(sound_bank_for_bank(version, big_endian));
        std::string v = "version-" + std::to_string(version) + "-";
        cases.push_back(
            {v + "as-version-7.xsb", with_field(good, SOUND_BANK_VERSION_AT, 7, 2, big_endian), PLAYS_SOUND});
        cases.push_back(
            {v + "wave-banks-ff.xsb", with_field(good, XACT3_WAVE_BANK_COUNT_AT, 0xFF, 1, big_endian), PLAYS_SOUND});
        for (uint32_t count_at : {XACT3_SIMPLE_CUE_COUNT_AT, XACT3_COMPLEX_CUE_COUNT_AT, XACT3_TOTAL_CUE_COUNT_AT,
                                  XACT3_SOUND_COUNT_AT, XACT3_CUE_NAMES_BYTES_AT})
            cases.push_back({v + "count-at-" + std::to_string(count_at) + "-ffff.xsb",
                             with_field(good, count_at, 0xFFFF, 2, big_endian), PLAYS_SOUND});
        for (uint32_t offset_at : {XACT3_SIMPLE_CUES_AT, XACT3_COMPLEX_CUES_AT, XACT3_CUE_NAMES_AT, XACT3_VARIATIONS_AT,
                                   XACT3_WAVE_BANK_NAMES_AT, XACT3_CUE_NAME_INDEX_AT, XACT3_SOUNDS_AT})
            for (uint32_t offset : {0x7FFFFFF0u, 0u})
                cases.push_back({v + "offset-at-" + std::to_string(offset_at) + "-" + std::to_string(offset) + ".xsb",
                                 with_field(good, offset_at, offset, 4, big_endian), PLAYS_SOUND});
        for (size_t size = 0; size < good.size(); size += 17)
            cases.push_back({v + "cut-" + std::to_string(size) + ".xsb", cut(good, size), PLAYS_SOUND});
    }
    return cases;
}

class HostileFilesTest : public module_fixture {
protected:
    const std::string& dir = scratch.path;
};

TEST_F(HostileFilesTest, EveryFileIsRefusedOrEndsByItself) {
    // Compressed banks cache into the scratch folder.
    temp_directory_override temp_folder(dir);
    for (const hostile_case& c : catalogue()) {
        SCOPED_TRACE(c.name);
        host.clear_calls();
        std::string path = write_file_in(dir, c.name, c.content);
        int descriptors = open_descriptors();
        char title[PLAYER_TITLE_BYTES] = "";
        int described_ms = 0;
        host.module->GetFileInfo(&path[0], title, &described_ms);
        EXPECT_EQ(open_descriptors(), descriptors);
        int result = host.play(path);
        EXPECT_EQ(result, c.expected == REFUSED ? 1 : 0);
        if (c.expected == REFUSED) {
            EXPECT_EQ(described_ms, -1000);
        }
        if (result == 0) {
            EXPECT_EQ(host.module->GetLength(), described_ms);
            EXPECT_TRUE(host.wait_for_end_of_stream(10000));
            EXPECT_EQ(host.written().empty(), c.expected == PLAYS_NOTHING);
        }
        host.module->Stop();
        EXPECT_EQ(player_state.file, INVALID_FILE);
        EXPECT_EQ(open_descriptors(), descriptors);
    }
}

// Each damaged sound bank, as bank.xsb beside bank.xwb, names what it can:
// the bank still lists its three records and plays them all. The tool lists
// and renders it too, for every tool_step-th case (and each of the first
// nine, which are not mere prefixes).
void check_beside_bank(test_host& host, const bytes& bank, const bytes& expected,
                       const std::vector<hostile_case>& cases, const std::string& dir, size_t tool_step) {
    for (size_t i = 0; i < cases.size(); ++i) {
        const hostile_case& c = cases[i];
        SCOPED_TRACE(c.name);
        std::string folder = dir + std::to_string(i) + PLATFORM_PATH_SEPARATOR;
        std::string path = write_file_in(folder, "bank.xwb", bank);
        write_file_in(folder, "bank.xsb", c.content);
        owned_description described;
        ASSERT_TRUE(open_as_play(path, &described.d));
        sound_bank_naming naming = name_from_sound_banks(path, "", &described.d);
        EXPECT_EQ(naming.notes.size(), 1u);
        EXPECT_TRUE(naming.warnings.empty());
        ASSERT_EQ(described.d.record_count, 3);
        EXPECT_EQ(described.d.entry_count, 3);
        for (int32_t r = 0; r < described.d.record_count; ++r) {
            const entry_record& record = described.d.records[r];
            EXPECT_TRUE(record.name_at == NO_NAME || (record.name_at >= 0 && record.name_at < described.d.names_bytes));
            EXPECT_LE(record.cue_name_count, 4);
            if (record.cue_name_count > 0) {
                EXPECT_LT(record.cue_names_at, described.d.names_bytes);
            }
        }
        host.clear_calls();
        ASSERT_EQ(host.play(path), 0);
        EXPECT_TRUE(host.wait_for_end_of_stream(10000));
        host.module->Stop();
        EXPECT_EQ(host.written(), expected);
    }
    for (size_t i = 0; i < cases.size(); i += i < 9 ? 1 : tool_step) {
        SCOPED_TRACE(cases[i].name);
        std::string folder = dir + std::to_string(i) + PLATFORM_PATH_SEPARATOR;
        run_result run = run_tool("info --json " + in_quotes(folder + "bank.xwb"), dir);
        ASSERT_EQ(0, run.status) << run.err;
        json_value doc;
        ASSERT_TRUE(parse_json(run.out, &doc)) << run.out;
        EXPECT_EQ(doc["records"].items.size(), 3u);
        EXPECT_EQ(doc["notes"].items.size(), 1u);
        std::string out = folder + "out" + PLATFORM_PATH_SEPARATOR;
        run = run_tool("render " + in_quotes(folder + "bank.xwb") + " -o " + in_quotes(out + "{entry}.wav"), dir);
        EXPECT_EQ(0, run.status) << run.err;
        EXPECT_EQ(files_under(out).size(), 3u);
    }
}

// The line of info's JSON about the file of that name; "" for none.
std::string json_line_of(const std::string& out, const std::string& name) {
    size_t at = out.find(name + "\",");
    while (at != std::string::npos && at > 0 && out[at - 1] != '/' && out[at - 1] != '\\')
        at = out.find(name + "\",", at + 1);
    if (at == std::string::npos) return "";
    size_t start = out.rfind('\n', at);
    start = start == std::string::npos ? 0 : start + 1;
    return out.substr(start, out.find('\n', at) - start);
}

// The Windows and Xbox 360 rows, but for the cuts, again through the tool:
// in one run its module (in_tolvane.dll under Wine in the win32 build) is
// asked for GetFileInfo on each file, every refused one is reported as
// refused and every one that plays is listed.
TEST_F(HostileFilesTest, WindowsBanksThroughTheToolsModule) {
    std::string folder = dir + "w" + PLATFORM_PATH_SEPARATOR;
    std::vector<hostile_case> cases;
    std::string arguments = "info --json";
    for (const hostile_case& c : windows_catalogue()) {
        if (c.name.find("-cut-") != std::string::npos) continue;
        cases.push_back(c);
        arguments += " " + in_quotes(write_file_in(folder, c.name, c.content));
    }
    run_result run = run_tool(arguments, dir);
    EXPECT_EQ(run.status, 1) << run.err;  // some are refused
    for (const hostile_case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string line = json_line_of(run.out, c.name);
        ASSERT_FALSE(line.empty()) << run.out;
        if (c.expected == REFUSED) {
            EXPECT_NE(line.find("\"error\":"), std::string::npos) << line;
        }
        if (c.expected == PLAYS_SOUND) {
            EXPECT_NE(line.find("\"title\":"), std::string::npos) << line;
        }
    }
}

TEST_F(HostileFilesTest, DamagedSoundBanksBesideABankNeverStopIt) {
    bytes adpcm = tone_adpcm(1, 20, 4);
    wave_bank_design design;
    design.bank_name = "bank";
    for (uint32_t i = 0; i < 3; ++i) {
        design.entries.push_back(
            {format_word(1, 1, 22050), (uint32_t)design.entry_data.size(), (uint32_t)adpcm.size()});
        design.entry_data.insert(design.entry_data.end(), adpcm.begin(), adpcm.end());
    }
    check_beside_bank(host, build_wave_bank(design),
                      concat({reference_pcm(adpcm, 1), reference_pcm(adpcm, 1), reference_pcm(adpcm, 1)}),
                      damaged_sound_banks(), dir, 23);
}

TEST_F(HostileFilesTest, DamagedVersion43To46SoundBanksBesideAWindowsBankNeverStopIt) {
    for (bank_platform platform : {BANK_FOR_WINDOWS, BANK_FOR_XBOX360}) {
        SCOPED_TRACE(platform == BANK_FOR_WINDOWS ? "windows" : "xbox 360");
        std::vector<built_entry> entries;
        bytes expected;
        for (uint32_t i = 0; i < 3; ++i) {
            bytes sound = ms_adpcm_tone(1, 10 * 104, MS_ADPCM_FIELD, i);
            entries.push_back(windows_bank_entry("e" + std::to_string(i), CODEC_MS_ADPCM, 1, sound, MS_ADPCM_FIELD));
            expected = concat({expected, reference_pcm_of(CODEC_MS_ADPCM, sound, 1, MS_ADPCM_FIELD)});
        }
        std::string error;
        bytes bank = built_bank_bytes(entries, "bank", 2048, &error, platform);
        std::string folder = dir + (platform == BANK_FOR_WINDOWS ? "w" : "x") + PLATFORM_PATH_SEPARATOR;
        check_beside_bank(host, bank, expected, damaged_xact3_sound_banks(platform == BANK_FOR_XBOX360), folder, 97);
    }
}

TEST_F(HostileFilesTest, LongPathsPlayAndUnopenableOnesAreRefused) {
    // A file 300+ characters deep plays and keeps its own name as title where
    // the system opens such paths; Windows' ANSI file calls stop at 260
    // characters, and there it is refused like any file that cannot be opened.
    const bool long_paths_open = PLATFORM_PATH_SEPARATOR == '/';
    std::string deep = dir;
    for (int i = 0; i < 4; ++i) deep += std::string(80, (char)('a' + i)) + PLATFORM_PATH_SEPARATOR;
    std::filesystem::create_directories(deep);
    bytes adpcm = tone_adpcm(1, 3, 5);
    std::string path = write_file_in(deep, "deep.wav", adpcm_wave(adpcm, 1, 22050));
    ASSERT_GT(path.size(), 300u);
    if (!long_paths_open) {
        EXPECT_EQ(host.play(path), 1);
        EXPECT_EQ(player_state.file, INVALID_FILE);
        host.module->Stop();
        return;
    }
    ASSERT_EQ(host.play(path), 0);
    EXPECT_TRUE(host.wait_for_end_of_stream());
    host.module->Stop();
    EXPECT_STREQ(player_state.title, "deep.wav");
    EXPECT_EQ(host.written(), reference_pcm(adpcm, 1));

    std::string absurd = dir + std::string(5000, 'x') + ".wav";
    EXPECT_EQ(host.play(absurd), 1);
    host.module->Stop();
}

}  // namespace
