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
#include "player/player_state.h"
#include "plugin/module.h"
#include "reference/sound_bank_writer.h"
#include "tests/support/json_reader.h"
#include "tests/support/module_fixture.h"
#include "tests/support/tool_runner.h"
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
    design.compact_format = bank_format_word(CODEC_XBOX_ADPCM, 2, 44100);
    design.compact_words = {compact_record_word(0, 0), compact_record_word(1, 0)};
    design.entry_data = random_bytes(2048, 2);
    design.entry_data.insert(design.entry_data.end(), sound.begin(), sound.end());
    tweak(design);
    return build_wave_bank(design);
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
    return cases;
}

// A sound bank for "bank" with a sound of each kind, and the same damaged in
// every way that matters: cut at every byte, counts of 0xFFFF, offsets
// outside the file and onto its own tables, another version, no header.
std::vector<hostile_case> damaged_sound_banks() {
    sound_bank_design design;
    design.wave_banks = {"bank"};
    design.sounds = {trivial_sound(wave_reference(0, 0)), simple_sound({wave_reference(0, 0), wave_reference(0, 1)}),
                     complex_sound({{play_event({wave_reference(0, 0)}), play_event({wave_reference(0, 2)})}})};
    design.cues = {{"one", {0}}, {"two", {1}}, {"three", {2, 0}}};
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

TEST_F(HostileFilesTest, DamagedSoundBanksBesideABankNeverStopIt) {
    bytes adpcm = tone_adpcm(1, 20, 4);
    wave_bank_design design;
    design.bank_name = "bank";
    for (uint32_t i = 0; i < 3; ++i) {
        design.entries.push_back(
            {format_word(1, 1, 22050), (uint32_t)design.entry_data.size(), (uint32_t)adpcm.size()});
        design.entry_data.insert(design.entry_data.end(), adpcm.begin(), adpcm.end());
    }
    bytes bank = build_wave_bank(design);
    std::vector<hostile_case> cases = damaged_sound_banks();
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
        EXPECT_EQ(host.written(), concat({reference_pcm(adpcm, 1), reference_pcm(adpcm, 1), reference_pcm(adpcm, 1)}));
    }
    // And through the tool, for the cases that are not mere prefixes and a
    // few that are: info lists all three records, render writes them.
    for (size_t i = 0; i < cases.size(); i += i < 9 ? 1 : 23) {
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
