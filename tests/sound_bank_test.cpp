// The sound bank reader and the naming of wave bank records from it, on sound
// banks built cue by cue (version 11, and content versions 43 to 46 in either
// byte order): which waves each named cue plays through trivial, simple and
// complex sounds and variation tables; which records of which wave bank get
// which names; damaged, cut-short and hostile sound banks (every truncated
// prefix, offsets outside the file, huge counts, self-referencing offsets,
// more references than the caps allow).

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "codec/little_endian.h"
#include "containers/sound_bank.h"
#include "containers/wave_bank.h"
#include "reference/sound_bank_writer.h"
#include "tests/support/sample_files.h"

namespace {

const uint16_t MUSIC = 0;
const uint16_t SFX = 1;

struct owned_sound_bank {
    sound_bank_table t;
    owned_sound_bank() {
        sound_bank_init(&t);
    }
    ~owned_sound_bank() {
        sound_bank_release(&t);
    }
    owned_sound_bank(const owned_sound_bank&) = delete;
    owned_sound_bank& operator=(const owned_sound_bank&) = delete;
};

// A wave a cue names, as the tests compare them.
struct named_wave {
    uint16_t bank;
    uint16_t wave;
    std::string cue;
    bool operator==(const named_wave& other) const {
        return bank == other.bank && wave == other.wave && cue == other.cue;
    }
    bool operator<(const named_wave& other) const {
        return std::tie(bank, wave, cue) < std::tie(other.bank, other.wave, other.cue);
    }
};
void PrintTo(const named_wave& w, std::ostream* out) {
    *out << "(" << w.bank << ", " << w.wave << ", " << w.cue << ")";
}

std::vector<named_wave> references_of(const sound_bank_table& table) {
    std::vector<named_wave> waves;
    for (int32_t i = 0; i < table.reference_count; ++i) {
        const sound_bank_reference& r = table.references[i];
        waves.push_back({r.wave_bank, r.wave, sound_bank_cue_name(&table, r)});
    }
    return waves;
}

bool read_bytes(const bytes& content, sound_bank_table* table) {
    byte_source source = source_of_memory(content.data(), (int64_t)content.size());
    return read_sound_bank(&source, table);
}

// Two wave banks; every kind of sound; cues with one sound, with variation
// tables, without a name and without a sound. Wave 7 of music is in no cue,
// wave 6 only in a cue without a name.
sound_bank_design two_bank_design() {
    sound_bank_design design;
    design.name = "game";
    design.wave_banks = {"music", "sfx"};
    sound_event_design not_a_play = play_event({wave_reference(MUSIC, 9)}, 3);
    sound_event_design too_short = play_event({wave_reference(MUSIC, 9)});
    too_short.parameter_bytes = 2;
    design.sounds = {
        trivial_sound(wave_reference(MUSIC, 0)),
        simple_sound({wave_reference(MUSIC, 2), wave_reference(MUSIC, 1), wave_reference(SFX, 0)}),
        complex_sound({{play_event({wave_reference(MUSIC, 3)}), not_a_play,
                        play_event({wave_reference(SFX, 1)}, EVENT_PLAY_AGAIN)},
                       {too_short, play_event({wave_reference(MUSIC, 5), wave_reference(MUSIC, 4)})}}),
        trivial_sound(wave_reference(MUSIC, 0)),
        trivial_sound(wave_reference(MUSIC, 6)),
    };
    design.cues = {{"intro", {0}},          {"battle", {1}}, {"boss", {2}},   {"", {4}},
                   {"intro_again", {3, 0}}, {"silence", {}}, {"menu", {1, 3}}};
    return design;
}

// clang-format off
const std::vector<named_wave> TWO_BANK_REFERENCES = {
    {MUSIC, 0, "intro"},
    {MUSIC, 1, "battle"}, {MUSIC, 2, "battle"}, {SFX, 0, "battle"},
    {MUSIC, 3, "boss"}, {MUSIC, 4, "boss"}, {MUSIC, 5, "boss"}, {SFX, 1, "boss"},
    {MUSIC, 0, "intro_again"},
    {MUSIC, 0, "menu"}, {MUSIC, 1, "menu"}, {MUSIC, 2, "menu"}, {SFX, 0, "menu"},
};
// clang-format on

// Content versions 43 to 46: sounds of every kind (one with RPC and DSP
// blocks, events that play nothing among those that do), cues of every kind,
// variation tables of every type, and a wave bank name longer than version
// 11's. Wave 7 of music is in a cue without a name only, wave 2 and 10 in none.
sound_bank_design xact3_design(uint16_t version, bool big_endian) {
    sound_bank_design design;
    design.version = version;
    design.big_endian = big_endian;
    design.name = "a sound bank name of more than sixteen bytes";
    design.wave_banks = {"music", "sfx_a_wave_bank_name_of_more_than_sixteen_bytes"};
    sound_event_design volume_ramp = play_event({}, XACT3_EVENT_VOLUME_REPEATING);
    volume_ramp.parameter_bytes = xact3_event_layout_of(XACT3_EVENT_VOLUME_REPEATING)->ramp_parameter_bytes;
    sound_design boss = complex_sound(
        {{play_event({}, XACT3_EVENT_MARKER), volume_ramp, play_event({}, XACT3_EVENT_VOLUME_REPEATING),
          play_event({wave_reference(MUSIC, 3)}, XACT3_EVENT_PLAY_WAVE)},
         {play_event({wave_reference(MUSIC, 5), wave_reference(MUSIC, 4)}, XACT3_EVENT_PLAY_TRACK_VARIATION)}});
    boss.rpc_codes = 2;
    boss.dsp_presets = 1;
    design.sounds = {
        trivial_sound(wave_reference(MUSIC, 0)),
        boss,
        complex_sound({{play_event({wave_reference(SFX, 1)}, XACT3_EVENT_PLAY_WAVE_EFFECTS),
                        play_event({wave_reference(MUSIC, 6), wave_reference(SFX, 2)},
                                   XACT3_EVENT_PLAY_TRACK_VARIATION_EFFECTS)}}),
        simple_sound({wave_reference(SFX, 0), wave_reference(MUSIC, 1)}),
        trivial_sound(wave_reference(MUSIC, 7)),
    };
    design.cues = {{"intro", {0}},
                   {"boss", {1}},
                   {"", {4}},
                   {"menu", {0, 3}},
                   {"crowd", {2}, true, XACT3_VARIATION_INTERACTIVE_SOUNDS},
                   {"steps", {}, true, XACT3_VARIATION_WAVES, {wave_reference(SFX, 3), wave_reference(MUSIC, 8)}},
                   {"rain", {}, true, XACT3_VARIATION_COMPACT_WAVES, {wave_reference(MUSIC, 9)}},
                   {"boss_again", {1}, false, XACT3_VARIATION_SOUNDS, {}, true}};
    return design;
}
sound_bank_design xact3_little_endian() {
    return xact3_design(LAST_XACT3_VERSION, false);
}

// clang-format off
const std::vector<named_wave> XACT3_REFERENCES = {
    {MUSIC, 0, "intro"},
    {MUSIC, 3, "boss"}, {MUSIC, 4, "boss"}, {MUSIC, 5, "boss"},
    {MUSIC, 0, "menu"}, {MUSIC, 1, "menu"}, {SFX, 0, "menu"},
    {MUSIC, 6, "crowd"}, {SFX, 1, "crowd"}, {SFX, 2, "crowd"},
    {MUSIC, 8, "steps"}, {SFX, 3, "steps"},
    {MUSIC, 9, "rain"},
    {MUSIC, 3, "boss_again"}, {MUSIC, 4, "boss_again"}, {MUSIC, 5, "boss_again"},
};
// clang-format on

TEST(SoundBank, LaterVersionsNameTheSameWavesInEitherByteOrder) {
    for (uint16_t version = FIRST_XACT3_VERSION; version <= LAST_XACT3_VERSION; ++version) {
        for (bool big_endian : {false, true}) {
            SCOPED_TRACE(std::to_string(version) + (big_endian ? " big-endian" : " little-endian"));
            sound_bank_design design = xact3_design(version, big_endian);
            bytes file = build_sound_bank(design);
            owned_sound_bank bank;
            ASSERT_TRUE(read_bytes(file, &bank.t));
            EXPECT_EQ(bank.t.status, SOUND_BANK_READ);
            EXPECT_EQ(bank.t.version, version);
            EXPECT_EQ(bank.t.big_endian, big_endian);
            EXPECT_EQ(bank.t.name, design.name);
            EXPECT_EQ(find_wave_bank_index(&bank.t, design.wave_banks[1].c_str()), 1);
            EXPECT_EQ(bank.t.cues_read, 8u);
            EXPECT_EQ(references_of(bank.t), XACT3_REFERENCES);

            byte_source source = source_of_memory(file.data(), (int64_t)file.size());
            owned_sound_bank header;
            EXPECT_TRUE(read_sound_bank_header(&source, &header.t));
            EXPECT_EQ(header.t.wave_bank_count, 2);
            EXPECT_EQ(header.t.reference_count, 0);
        }
    }
}

TEST(SoundBank, NamedCuesListEveryWaveTheirSoundsPlay) {
    bytes file = build_sound_bank(two_bank_design());
    owned_sound_bank bank;
    ASSERT_TRUE(read_bytes(file, &bank.t));
    EXPECT_EQ(bank.t.status, SOUND_BANK_READ);
    EXPECT_EQ(bank.t.version, SOUND_BANK_VERSION);
    EXPECT_STREQ(bank.t.name, "game");
    ASSERT_EQ(bank.t.wave_bank_count, 2);
    EXPECT_STREQ(sound_bank_wave_bank_name(&bank.t, 1), "sfx");
    EXPECT_EQ(find_wave_bank_index(&bank.t, "sfx"), 1);
    EXPECT_EQ(find_wave_bank_index(&bank.t, "voice"), -1);
    EXPECT_EQ(find_wave_bank_index(&bank.t, ""), -1);
    EXPECT_EQ(bank.t.cues_read, 7u);
    EXPECT_EQ(references_of(bank.t), TWO_BANK_REFERENCES);

    // Read from a file, the same.
    scratch_folder scratch;
    file_handle handle = file_open_read(write_file_in(scratch.path, "game.xsb", file).c_str());
    ASSERT_NE(handle, INVALID_FILE);
    byte_source source = source_of_file(handle);
    owned_sound_bank from_file;
    EXPECT_TRUE(read_sound_bank(&source, &from_file.t));
    file_close(handle);
    EXPECT_EQ(references_of(from_file.t), TWO_BANK_REFERENCES);
}

// A wave bank of records records (record 3 another codec, skipped), named
// from the writer's names region where names gives one.
void describe_bank(const std::string& bank_name, uint32_t records, const std::vector<std::string>& names,
                   stream_description* description) {
    wave_bank_design design;
    design.bank_name = bank_name;
    for (uint32_t i = 0; i < records; ++i)
        design.entries.push_back(
            {format_word(i == 2 ? 2 : 1, 1, 22050), 36 * i, 36, 0, 0, 0, i < names.size() ? names[i] : ""});
    design.with_names = !names.empty();
    design.entry_data = random_bytes(36 * records, 1);
    bytes file = build_wave_bank(design);
    byte_source source = source_of_memory(file.data(), (int64_t)file.size());
    ASSERT_TRUE(read_wave_bank(&source, description));
    ASSERT_EQ(description->record_count, (int32_t)records);
}

// Each record's name and cue names.
typedef std::vector<std::pair<std::string, std::vector<std::string>>> record_names;
record_names names_of(const stream_description& description) {
    record_names names;
    for (int32_t i = 0; i < description.record_count; ++i) {
        const entry_record& record = description.records[i];
        std::vector<std::string> cues;
        for (int32_t c = 0; c < record.cue_name_count; ++c) cues.push_back(record_cue_name(&description, record, c));
        names.push_back({record_name(&description, record), cues});
    }
    return names;
}

TEST(SoundBankNames, RecordsOfEachBankTakeTheirFirstCuesName) {
    owned_sound_bank bank;
    ASSERT_TRUE(read_bytes(build_sound_bank(two_bank_design()), &bank.t));
    const struct {
        const char* bank_name;
        uint32_t records;
        std::vector<std::string> own_names;
        int32_t played;
        record_names expected;
    } cases[] = {
        {"music",
         9,
         {},
         6,
         {{"intro", {"intro", "intro_again", "menu"}},
          {"battle", {"battle", "menu"}},
          {"battle", {"battle", "menu"}},  // skipped, still named
          {"boss", {"boss"}},
          {"boss", {"boss"}},
          {"boss", {"boss"}},
          {"", {}},  // only an unnamed cue plays it
          {"", {}},
          {"", {}}}},
        // The bank's own names come first; the cues are still listed.
        {"music",
         4,
         {"", "own_theme"},
         4,
         {{"intro", {"intro", "intro_again", "menu"}},
          {"own_theme", {"battle", "menu"}},
          {"battle", {"battle", "menu"}},
          {"boss", {"boss"}}}},
        // Waves beyond the bank's records name nothing.
        {"sfx", 1, {}, 1, {{"battle", {"battle", "menu"}}}},
        {"voice", 2, {}, 0, {{"", {}}, {"", {}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.bank_name) + " " + std::to_string(c.records));
        owned_description wave_bank;
        describe_bank(c.bank_name, c.records, c.own_names, &wave_bank.d);
        int32_t index = find_wave_bank_index(&bank.t, wave_bank.d.bank_name);
        EXPECT_EQ(name_records_from_sound_bank(&wave_bank.d, &bank.t, index), c.played);
        EXPECT_EQ(names_of(wave_bank.d), c.expected);
    }
}

// Two sound banks naming one bank: the first one's names win, every cue is kept.
TEST(SoundBankNames, SeveralSoundBanksAddTheirCuesInTurn) {
    sound_bank_design first;
    first.wave_banks = {"music"};
    first.sounds = {trivial_sound(wave_reference(0, 0))};
    first.cues = {{"a1", {0}}};
    sound_bank_design second;
    second.wave_banks = {"sfx", "music"};
    second.sounds = {trivial_sound(wave_reference(1, 0)), trivial_sound(wave_reference(1, 1))};
    second.cues = {{"b1", {0}}, {"b2", {1}}};
    owned_description wave_bank;
    describe_bank("music", 2, {}, &wave_bank.d);
    for (const sound_bank_design* design : {&first, &second}) {
        owned_sound_bank bank;
        ASSERT_TRUE(read_bytes(build_sound_bank(*design), &bank.t));
        name_records_from_sound_bank(&wave_bank.d, &bank.t, find_wave_bank_index(&bank.t, "music"));
    }
    EXPECT_EQ(names_of(wave_bank.d), (record_names{{"a1", {"a1", "b1"}}, {"b2", {"b2"}}}));
}

// The records of the wave banks a later version's sound bank plays from.
TEST(SoundBankNames, LaterVersionsNameTheWavesTheirCuesPlay) {
    owned_sound_bank bank;
    ASSERT_TRUE(read_bytes(build_sound_bank(xact3_design(LAST_XACT3_VERSION, true)), &bank.t));
    owned_description music;
    describe_bank("music", 11, {}, &music.d);
    EXPECT_EQ(name_records_from_sound_bank(&music.d, &bank.t, find_wave_bank_index(&bank.t, "music")), 8);
    EXPECT_EQ(names_of(music.d), (record_names{{"intro", {"intro", "menu"}},
                                               {"menu", {"menu"}},
                                               {"", {}},
                                               {"boss", {"boss", "boss_again"}},
                                               {"boss", {"boss", "boss_again"}},
                                               {"boss", {"boss", "boss_again"}},
                                               {"crowd", {"crowd"}},
                                               {"", {}},
                                               {"steps", {"steps"}},
                                               {"rain", {"rain"}},
                                               {"", {}}}));
    // A bank it does not play from gets nothing.
    owned_description voice;
    describe_bank("voice", 2, {}, &voice.d);
    EXPECT_EQ(name_records_from_sound_bank(&voice.d, &bank.t, find_wave_bank_index(&bank.t, "voice")), 0);
    EXPECT_EQ(names_of(voice.d), (record_names{{"", {}}, {"", {}}}));
}

// Changes one u32 or u16 of the built sound bank.
std::function<void(bytes&)> set_u32(std::function<uint32_t(const sound_bank_design&)> at, uint32_t value) {
    return [at, value](bytes& file) { write_u32le(&file[at(two_bank_design())], value); };
}
std::function<void(bytes&)> set_u16(uint32_t at, uint16_t value) {
    return [at, value](bytes& file) { write_u16le(&file[at], value); };
}
uint32_t cue_name(const sound_bank_design& d, uint32_t cue) {
    return cue_record_at(d, cue) + CUE_NAME_AT;
}
uint32_t sound_waves(const sound_bank_design& d, uint32_t sound) {
    return sound_record_at(d, sound) + SOUND_WAVES_AT;
}

// Where the little-endian later-version design's records are, as its file
// states them.
uint32_t stated(const bytes& f, uint32_t field) {
    return read_u32le(&f[field]);
}
uint32_t simple_cue(const bytes& f, uint32_t cue) {
    return stated(f, XACT3_SIMPLE_CUES_AT) + XACT3_SIMPLE_CUE_BYTES * cue + XACT3_CUE_TARGET_AT;
}
uint32_t complex_cue(const bytes& f, uint32_t cue) {
    return stated(f, XACT3_COMPLEX_CUES_AT) + XACT3_COMPLEX_CUE_BYTES * cue + XACT3_CUE_TARGET_AT;
}
// Sound 2 has neither RPC nor DSP block: its first track record's events.
uint32_t crowd_events() {
    return sound_record_at(xact3_little_endian(), 2) + XACT3_SOUND_HEADER_BYTES + 1 + XACT3_TRACK_EVENTS_AT;
}

enum references_expected { SAME_REFERENCES, FEWER_REFERENCES, NO_REFERENCES, ANY_REFERENCES };
// Garbage read as tables may end any way, as long as it ends.
const int ANY_STATUS = -1;

TEST(SoundBank, DamagedSoundBanksNameWhatTheyCan) {
    const uint32_t OUTSIDE = 0x7FFFFFF0;
    const struct {
        const char* name;
        std::function<void(bytes&)> damage;
        int status;  // a sound_bank_status, or ANY_STATUS
        references_expected references;
        sound_bank_design (*design)() = two_bank_design;
    } cases[] = {
        {"not SDBK", [](bytes& f) { f[3] = 'X'; }, SOUND_BANK_NOT_SDBK, NO_REFERENCES},
        {"version 7", set_u16(SOUND_BANK_VERSION_AT, 7), SOUND_BANK_OTHER_VERSION, NO_REFERENCES},
        {"no cue names", set_u16(SOUND_BANK_FLAGS_AT, SOUND_BANK_FLAG_NO_CUE_NAMES), SOUND_BANK_NO_CUE_NAMES,
         NO_REFERENCES},
        {"cue count 0xFFFF", set_u16(SOUND_BANK_CUE_COUNT_AT, 0xFFFF), SOUND_BANK_CUT_SHORT, NO_REFERENCES},
        {"sound count 0xFFFF", set_u16(SOUND_BANK_SOUND_COUNT_AT, 0xFFFF), SOUND_BANK_CUT_SHORT, SAME_REFERENCES},
        {"wave bank count 0xFFFF", set_u16(SOUND_BANK_WAVE_BANK_COUNT_AT, 0xFFFF), SOUND_BANK_DAMAGED, SAME_REFERENCES},
        {"wave bank count 1", set_u16(SOUND_BANK_WAVE_BANK_COUNT_AT, 1), SOUND_BANK_DAMAGED, FEWER_REFERENCES},
        {"wave bank names outside",
         set_u32([](const sound_bank_design&) { return SOUND_BANK_WAVE_BANK_NAMES_AT; }, OUTSIDE), SOUND_BANK_DAMAGED,
         SAME_REFERENCES},
        {"a cue name outside", set_u32([](const sound_bank_design& d) { return cue_name(d, 1); }, OUTSIDE),
         SOUND_BANK_DAMAGED, FEWER_REFERENCES},
        {"a cue name at the end of the file",
         [](bytes& f) {
             f.push_back('x');
             write_u32le(&f[cue_name(two_bank_design(), 1)], (uint32_t)f.size() - 1);
         },
         SOUND_BANK_DAMAGED, FEWER_REFERENCES},
        {"a cue variation table outside",
         set_u32([](const sound_bank_design& d) { return cue_record_at(d, 6) + CUE_VARIATIONS_AT; }, OUTSIDE),
         SOUND_BANK_DAMAGED, FEWER_REFERENCES},
        {"a cue variation table on its own record",
         [](bytes& f) {
             uint32_t record = cue_record_at(two_bank_design(), 6);
             write_u32le(&f[record + CUE_VARIATIONS_AT], record);
         },
         SOUND_BANK_READ, FEWER_REFERENCES},
        {"a sound index past the table", set_u16(cue_record_at(two_bank_design(), 0) + CUE_SOUND_AT, 999),
         SOUND_BANK_DAMAGED, FEWER_REFERENCES},
        {"a wave variation table outside",
         set_u32([](const sound_bank_design& d) { return sound_waves(d, 1); }, OUTSIDE), SOUND_BANK_DAMAGED,
         FEWER_REFERENCES},
        {"a wave variation table on the header",
         set_u32([](const sound_bank_design& d) { return sound_waves(d, 1); }, 0), SOUND_BANK_DAMAGED, ANY_REFERENCES},
        {"tracks outside", set_u32([](const sound_bank_design& d) { return sound_waves(d, 2); }, OUTSIDE),
         SOUND_BANK_DAMAGED, FEWER_REFERENCES},
        {"tracks on their own sound record",
         [](bytes& f) {
             uint32_t record = sound_record_at(two_bank_design(), 2);
             write_u32le(&f[record + SOUND_WAVES_AT], record);
         },
         ANY_STATUS, ANY_REFERENCES},
        {"255 events outside",
         [](bytes& f) {
             uint32_t tracks = read_u32le(&f[sound_waves(two_bank_design(), 2)]);
             write_u32le(&f[tracks], 0xFFFFFFFF);
         },
         SOUND_BANK_DAMAGED, FEWER_REFERENCES},
        // Content versions 43 to 46.
        {"later: version 47", set_u16(SOUND_BANK_VERSION_AT, 47), SOUND_BANK_OTHER_VERSION, NO_REFERENCES,
         xact3_little_endian},
        {"later: \"KBDS\", little-endian fields", [](bytes& f) { std::copy_n(SOUND_BANK_MAGIC_SWAPPED, 4, f.begin()); },
         SOUND_BANK_READ, SAME_REFERENCES, xact3_little_endian},
        {"later: no cue names", [](bytes& f) { write_u32le(&f[XACT3_CUE_NAMES_AT], NO_XACT3_OFFSET); },
         SOUND_BANK_NO_CUE_NAMES, NO_REFERENCES, xact3_little_endian},
        {"later: cue names outside", [&](bytes& f) { write_u32le(&f[XACT3_CUE_NAMES_AT], OUTSIDE); },
         SOUND_BANK_DAMAGED, NO_REFERENCES, xact3_little_endian},
        {"later: simple cue count 0xFFFF", set_u16(XACT3_SIMPLE_CUE_COUNT_AT, 0xFFFF), SOUND_BANK_CUT_SHORT,
         ANY_REFERENCES, xact3_little_endian},
        {"later: wave bank count 1", [](bytes& f) { f[XACT3_WAVE_BANK_COUNT_AT] = 1; }, SOUND_BANK_DAMAGED,
         FEWER_REFERENCES, xact3_little_endian},
        {"later: more sounds played than stated", set_u16(XACT3_SOUND_COUNT_AT, 1), SOUND_BANK_DAMAGED,
         FEWER_REFERENCES, xact3_little_endian},
        {"later: a sound outside", [&](bytes& f) { write_u32le(&f[simple_cue(f, 0)], OUTSIDE); }, SOUND_BANK_DAMAGED,
         FEWER_REFERENCES, xact3_little_endian},
        {"later: a sound on the header", [](bytes& f) { write_u32le(&f[simple_cue(f, 1)], 0); }, ANY_STATUS,
         ANY_REFERENCES, xact3_little_endian},
        {"later: a variation table outside", [&](bytes& f) { write_u32le(&f[complex_cue(f, 0)], OUTSIDE); },
         SOUND_BANK_DAMAGED, FEWER_REFERENCES, xact3_little_endian},
        {"later: 0xFFFF variations",
         [](bytes& f) {
             write_u32le(&f[stated(f, complex_cue(f, 0))],
                         0xFFFF | XACT3_VARIATION_SOUNDS << XACT3_VARIATION_TYPE_SHIFT);
         },
         SOUND_BANK_DAMAGED, ANY_REFERENCES, xact3_little_endian},
        {"later: a variation table of an unknown type",
         [](bytes& f) { write_u32le(&f[stated(f, complex_cue(f, 0))], 2 | 2 << XACT3_VARIATION_TYPE_SHIFT); },
         SOUND_BANK_DAMAGED, FEWER_REFERENCES, xact3_little_endian},
        {"later: a variation table playing itself",
         [](bytes& f) {
             uint32_t table = stated(f, complex_cue(f, 0));
             for (uint32_t e = 0; e < 2; ++e) write_u32le(&f[table + XACT3_VARIATION_HEADER_BYTES + 6 * e], table);
         },
         ANY_STATUS, ANY_REFERENCES, xact3_little_endian},
        {"later: events outside", [&](bytes& f) { write_u32le(&f[crowd_events()], OUTSIDE); }, SOUND_BANK_DAMAGED,
         FEWER_REFERENCES, xact3_little_endian},
        {"later: an unknown event type", [](bytes& f) { f[stated(f, crowd_events()) + 1] = 31; }, SOUND_BANK_DAMAGED,
         FEWER_REFERENCES, xact3_little_endian},
        {"later: an event without its separator",
         [](bytes& f) { f[stated(f, crowd_events()) + 1 + XACT3_EVENT_SEPARATOR_AT] = 0; }, SOUND_BANK_DAMAGED,
         FEWER_REFERENCES, xact3_little_endian},
        {"later: 0xFFFF track variations",
         [](bytes& f) {
             uint32_t second = stated(f, crowd_events()) + 1 + XACT3_EVENT_HEADER_BYTES +
                               xact3_event_layout_of(XACT3_EVENT_PLAY_WAVE_EFFECTS)->parameter_bytes;
             f[second + XACT3_EVENT_HEADER_BYTES +
               xact3_event_layout_of(XACT3_EVENT_PLAY_TRACK_VARIATION_EFFECTS)->variations_at] = 0xFF;
             f[second + XACT3_EVENT_HEADER_BYTES +
               xact3_event_layout_of(XACT3_EVENT_PLAY_TRACK_VARIATION_EFFECTS)->variations_at + 1] = 0xFF;
         },
         SOUND_BANK_DAMAGED, ANY_REFERENCES, xact3_little_endian},
        {"later: an RPC block of no bytes",
         [](bytes& f) { write_u16le(&f[sound_record_at(xact3_little_endian(), 1) + XACT3_SOUND_HEADER_BYTES + 1], 0); },
         SOUND_BANK_DAMAGED, FEWER_REFERENCES, xact3_little_endian},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        owned_sound_bank whole;
        ASSERT_TRUE(read_bytes(build_sound_bank(c.design()), &whole.t));
        std::vector<named_wave> all = references_of(whole.t);
        std::sort(all.begin(), all.end());
        bytes file = build_sound_bank(c.design());
        c.damage(file);
        owned_sound_bank bank;
        read_bytes(file, &bank.t);
        if (c.status != ANY_STATUS) {
            EXPECT_EQ((int)bank.t.status, c.status);
        }
        std::vector<named_wave> found = references_of(bank.t);
        if (c.references == SAME_REFERENCES) {
            EXPECT_EQ(found, references_of(whole.t));
        } else if (c.references == NO_REFERENCES) {
            EXPECT_TRUE(found.empty());
        } else if (c.references == FEWER_REFERENCES) {
            std::sort(found.begin(), found.end());
            EXPECT_LT(found.size(), all.size());
            EXPECT_TRUE(std::includes(all.begin(), all.end(), found.begin(), found.end()));
        }
        // Whatever it holds, naming from it stays within the description.
        owned_description wave_bank;
        describe_bank("music", 9, {}, &wave_bank.d);
        name_records_from_sound_bank(&wave_bank.d, &bank.t, find_wave_bank_index(&bank.t, "music"));
        for (const auto& names : names_of(wave_bank.d)) EXPECT_EQ(names.first.empty(), names.second.empty());
    }
}

// Every prefix of a sound bank reads to a defined status and names only
// waves the whole bank names by the same cue.
TEST(SoundBank, EveryTruncatedPrefixNamesPartOfTheWhole) {
    for (const sound_bank_design& design :
         {two_bank_design(), xact3_design(FIRST_XACT3_VERSION, false), xact3_design(LAST_XACT3_VERSION, true)}) {
        bytes file = build_sound_bank(design);
        owned_sound_bank whole;
        ASSERT_TRUE(read_bytes(file, &whole.t));
        std::vector<named_wave> all = references_of(whole.t);
        std::sort(all.begin(), all.end());
        for (size_t size = 0; size <= file.size(); ++size) {
            SCOPED_TRACE(std::to_string(design.version) + " cut at " + std::to_string(size));
            owned_sound_bank bank;
            bool read = read_bytes(bytes(file.begin(), file.begin() + (long)size), &bank.t);
            EXPECT_EQ(read, size >= SOUND_BANK_VERSION_AT + 2);
            if (size == file.size()) {
                EXPECT_EQ(bank.t.status, SOUND_BANK_READ);
            } else if (size == 0) {
                EXPECT_EQ(bank.t.status, SOUND_BANK_NOT_SDBK);
            } else {
                EXPECT_TRUE(bank.t.status == SOUND_BANK_CUT_SHORT || bank.t.status == SOUND_BANK_DAMAGED)
                    << bank.t.status;
            }
            std::vector<named_wave> found = references_of(bank.t);
            std::sort(found.begin(), found.end());
            EXPECT_TRUE(std::includes(all.begin(), all.end(), found.begin(), found.end()));
        }
    }
}

// Cues that all point at one table of the most variations (of one sound in
// version 11, of one wave in version 46): the step budget ends the reading,
// and what was read names what it can.
TEST(SoundBank, TablesSharedManyTimesOverStopAtTheCaps) {
    for (uint16_t version : {SOUND_BANK_VERSION, LAST_XACT3_VERSION}) {
        SCOPED_TRACE(version);
        bool xact3 = is_xact3_version(version);
        sound_bank_design design;
        design.version = version;
        design.wave_banks = {"music"};
        design.sounds = {trivial_sound(wave_reference(0, 0))};
        if (xact3) {
            design.cues.push_back({"first",
                                   {},
                                   true,
                                   XACT3_VARIATION_COMPACT_WAVES,
                                   std::vector<uint32_t>(XACT3_VARIATION_COUNT_MASK, wave_reference(0, 0))});
            for (int i = 1; i < 600; ++i)
                design.cues.push_back({"again", {}, true, XACT3_VARIATION_COMPACT_WAVES, {wave_reference(0, 0)}});
        } else {
            design.cues.push_back({"first", std::vector<uint16_t>(VARIATION_COUNT_MASK, 0)});
            for (int i = 1; i < 600; ++i) design.cues.push_back({"again", {0}, true});
        }
        bytes file = build_sound_bank(design);
        uint32_t first = cue_record_at(design, 0) + (xact3 ? XACT3_CUE_TARGET_AT : CUE_VARIATIONS_AT);
        uint32_t stride = xact3 ? XACT3_COMPLEX_CUE_BYTES : CUE_RECORD_BYTES;
        for (uint32_t i = 1; i < 600; ++i) write_u32le(&file[first + stride * i], read_u32le(&file[first]));
        owned_sound_bank bank;
        EXPECT_TRUE(read_bytes(file, &bank.t));
        EXPECT_EQ(bank.t.status, SOUND_BANK_OVER_LIMITS);
        EXPECT_GT(bank.t.cues_read, 1u);
        EXPECT_LT(bank.t.cues_read, 600u);
        ASSERT_GT(bank.t.reference_count, 0);
        // Each cue names the wave once, however many of its variations play it.
        EXPECT_EQ(bank.t.reference_count, (int32_t)bank.t.cues_read);
        owned_description wave_bank;
        describe_bank("music", 1, {}, &wave_bank.d);
        EXPECT_EQ(name_records_from_sound_bank(&wave_bank.d, &bank.t, 0), 1);
        EXPECT_STREQ(record_name(&wave_bank.d, wave_bank.d.records[0]), "first");
    }
}

}  // namespace
