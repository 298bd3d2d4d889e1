// The wave bank reader on banks built record by record: which entries it
// keeps, with what offset, length, rate and channels, which records it skips
// and why, and the length it returns; element sizes, hostile counts and
// offsets; every truncated prefix; and whole banks played through the
// module, entry after entry, with the recording test host.

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "codec/little_endian.h"
#include "codec/xbox_adpcm.h"
#include "containers/wave_bank.h"
#include "containers/wave_bank_writer.h"
#include "plugin/module.h"
#include "containers/byte_source.h"
#include "player/player_state.h"
#include "tests/support/module_fixture.h"

namespace {

const uint32_t STEREO_44100 = 0x158889;
const uint32_t MONO_22050 = 0xac445;
const int BIG_ROOM = 1 << 30;

// The reader's entry table with the record numbers left out, for tables
// whose records all count.
std::vector<entry_row> plain_table(const stream_description& description) {
    std::vector<entry_row> table = entry_table(description);
    for (entry_row& entry : table) entry.record = 0;
    return table;
}

wave_bank_design bank_design(std::vector<bank_entry_design> entries, size_t entry_data_bytes) {
    wave_bank_design design;
    design.entries = std::move(entries);
    design.entry_data = random_bytes(entry_data_bytes, (uint32_t)entry_data_bytes);
    return design;
}

wave_bank_design tweaked(wave_bank_design design, const std::function<void(wave_bank_design&)>& tweak) {
    tweak(design);
    return design;
}

// Three records, the middle one not Xbox ADPCM.
wave_bank_design tags_1_2_1() {
    return bank_design({{STEREO_44100, 0, 720}, {format_word(2, 1, 22050), 720, 360}, {MONO_22050, 1080, 360}}, 1440);
}

class WaveBankTest : public ::testing::Test {
protected:
    file_handle open_bytes(const bytes& content) {
        file_handle file = file_open_read(write_file_in(scratch.path, "bank.xwb", content).c_str());
        EXPECT_NE(file, INVALID_FILE);
        return file;
    }

    // Runs the reader on a fresh description and checks what it fills: the
    // length of the sound (negative for a bank refused because it ends before
    // it begins, -1 for no bank at all), the table and data_start; the format
    // stays the opener's default (Play takes the first entry's). Entry offsets
    // in expected are absolute.
    void expect_read(const bytes& content, int32_t base, int32_t result, const std::vector<entry_row>& expected) {
        owned_description bank;
        file_handle file = open_bytes(content);
        byte_source source = source_of_file(file);
        bank.d.bank_base = base;
        EXPECT_EQ(read_wave_bank(&source, &bank.d), result >= 0);
        EXPECT_EQ(bank.d.data_length, result == -1 ? 0 : result);
        EXPECT_EQ(plain_table(bank.d), expected);
        EXPECT_GE(bank.d.record_capacity, bank.d.record_count);
        EXPECT_EQ(bank.d.data_start, expected.empty() ? 0 : expected[0].offset);
        EXPECT_EQ(bank.d.sample_rate, DEFAULT_SAMPLE_RATE);
        EXPECT_EQ(bank.d.channels, DEFAULT_CHANNELS);
        file_close(file);
    }

    // expected holds offsets from region 3, which the writer placed.
    void expect_bank(const wave_bank_design& design, int32_t result, std::vector<entry_row> expected) {
        int32_t entry_data = (int32_t)bank_entry_data_offset(design);
        for (entry_row& e : expected) e.offset += entry_data;
        expect_read(build_wave_bank(design), 0, result, expected);
    }

    scratch_folder scratch;
};

// ---- Records --------------------------------------------------------------------

struct record_case {
    const char* name;
    wave_bank_design design;
    int32_t result;
    std::vector<entry_row> kept;  // offsets from region 3
};

TEST_F(WaveBankTest, RecordsGiveThePlayingEntriesInRecordOrder) {
    const int64_t region_3 = BANK_HEADER_BYTES + BANK_DATA_BYTES + 2 * BANK_RECORD_BYTES;  // of two records
    const record_case cases[] = {
        {"tags 1, 2, 1", tags_1_2_1(), 1440, {{0, 720, 44100, 2}, {1080, 360, 22050, 1}}},
        // Tag 0 is PCM: 8-bit, or 16-bit with bit 31 set; it plays too.
        {"all tag 0",
         bank_design({{format_word(0, 2, 44100), 0, 720}, {format_word(0, 1, 22050) | 0x80000000u, 720, 720}}, 1440),
         1440,
         {{0, 720, 44100, 2, 0, CODEC_PCM8}, {720, 720, 22050, 1, 0, CODEC_PCM16}}},
        {"tags 2 and 3",
         bank_design({{format_word(2, 2, 44100), 0, 72}, {format_word(3, 2, 44100), 72, 72}}, 144),
         0,
         {}},
        {"no records", bank_design({}, 720), 0, {}},
        // Channels take three bits: bit 4 is their top one.
        {"bit 4 set", bank_design({{0x158899, 0, 72}}, 72), 72, {{0, 72, 44100, 6}}},
        {"four channels", bank_design({{format_word(1, 4, 44100), 0, 144}}, 144), 144, {{0, 144, 44100, 4}}},
        {"six channels", bank_design({{format_word(1, 6, 48000), 0, 216}}, 216), 216, {{0, 216, 48000, 6}}},
        {"rate 96000 keeps bits 5-20", bank_design({{format_word(1, 2, 96000), 0, 72}}, 72), 72, {{0, 72, 30464, 2}}},
        {"bits 21-31 set", bank_design({{0xffe00000u | MONO_22050, 0, 36}}, 36), 36, {{0, 36, 22050, 1}}},
        {"three channels", bank_design({{format_word(1, 3, 48000), 0, 108}}, 108), 108, {{0, 108, 48000, 3}}},
        {"no channels skipped",
         bank_design({{format_word(1, 0, 44100), 0, 72}, {STEREO_44100, 72, 72}}, 144),
         72,
         {{72, 72, 44100, 2}}},
        {"rates 0 and 99 skipped, 100 kept",
         bank_design({{format_word(1, 1, 0), 0, 36}, {format_word(1, 1, 99), 36, 36}, {format_word(1, 1, 100), 72, 36}},
                     108),
         36,
         {{72, 36, 100, 1}}},
        {"version 0",
         tweaked(tags_1_2_1(), [](wave_bank_design& s) { s.version = 0; }),
         1440,
         {{0, 720, 44100, 2}, {1080, 360, 22050, 1}}},
        {"version 2",
         tweaked(tags_1_2_1(), [](wave_bank_design& s) { s.version = 2; }),
         1440,
         {{0, 720, 44100, 2}, {1080, 360, 22050, 1}}},
        {"offset beyond the file end kept",
         bank_design({{STEREO_44100, 1000000, 7200}}, 72),
         7200,
         {{1000000, 7200, 44100, 2}}},
        {"length beyond the file end kept",
         bank_design({{STEREO_44100, 0, 1000000}}, 72),
         1000000,
         {{0, 1000000, 44100, 2}}},
        // The last byte a 32-bit seek reaches is still an entry; one further
        // is not, and neither is a play offset that would wrap round.
        {"offset 2^31 - 1 kept",
         bank_design({{STEREO_44100, (uint32_t)(INT32_MAX - region_3), 0}, {STEREO_44100, 0, 72}}, 72),
         (int32_t)(72 - (INT32_MAX - region_3)),
         {{INT32_MAX - region_3, 0, 44100, 2}, {0, 72, 44100, 2}}},
        {"offset at 2^31 skipped",
         bank_design({{STEREO_44100, (uint32_t)(INT32_MAX - region_3 + 1), 72}, {STEREO_44100, 0, 72}}, 72),
         72,
         {{0, 72, 44100, 2}}},
        {"offset 0xffffffff skipped",
         bank_design({{STEREO_44100, 0xffffffffu, 72}, {STEREO_44100, 0, 72}}, 72),
         72,
         {{0, 72, 44100, 2}}},
        {"entries out of order",
         bank_design({{MONO_22050, 360, 360}, {STEREO_44100, 0, 360}}, 720),
         0,
         {{360, 360, 22050, 1}, {0, 360, 44100, 2}}},
        {"last entry ends before the first begins",
         bank_design({{STEREO_44100, 720, 72}, {STEREO_44100, 0, 72}}, 792),
         -648,
         {{720, 72, 44100, 2}, {0, 72, 44100, 2}}},
        // The length is taken from the last entry in record order, even when
        // an earlier one reaches further.
        {"earlier entry reaches further",
         bank_design({{STEREO_44100, 0, 1440}, {STEREO_44100, 72, 72}}, 1440),
         144,
         {{0, 1440, 44100, 2}, {72, 72, 44100, 2}}},
        // 32-bit arithmetic: a length with the top bit set wraps the result.
        {"last length with the top bit set",
         bank_design({{STEREO_44100, 0, 72}, {STEREO_44100, 72, 0x80000000u}}, 144),
         (int32_t)0x80000048u,
         {{0, 72, 44100, 2}, {72, 0x80000000LL, 44100, 2}}},
    };
    for (const record_case& c : cases) {
        SCOPED_TRACE(c.name);
        expect_bank(c.design, c.result, c.kept);
    }
}

// Kept entries carry their record's number; skipped records are noted with
// the reason, so a listing can show them.
TEST_F(WaveBankTest, SkippedRecordsAreNotedWithTheirReason) {
    wave_bank_design design = bank_design({{STEREO_44100, 0, 72},
                                           {format_word(2, 1, 22050), 72, 36},
                                           {format_word(1, 0, 44100), 108, 36},
                                           {MONO_22050, 144, 36},
                                           {format_word(1, 1, 99), 180, 36},
                                           {STEREO_44100, 0xffffffffu, 72}},
                                          216);
    owned_description bank;
    file_handle file = open_bytes(build_wave_bank(design));
    byte_source source = source_of_file(file);
    read_wave_bank(&source, &bank.d);
    file_close(file);
    ASSERT_EQ(bank.d.entry_count, 2);
    EXPECT_EQ(entry_table(bank.d)[0].record, 1);
    EXPECT_EQ(entry_table(bank.d)[1].record, 4);
    EXPECT_EQ(skipped_table(bank.d), (std::vector<std::pair<int32_t, skip_reason>>{{2, SKIPPED_CODEC},
                                                                                   {3, SKIPPED_UNPLAYABLE_FORMAT},
                                                                                   {5, SKIPPED_UNPLAYABLE_FORMAT},
                                                                                   {6, SKIPPED_OUT_OF_REACH}}));
    // The records stay in file order, kept and skipped together.
    ASSERT_EQ(bank.d.record_count, 6);
    for (int32_t i = 0; i < 6; ++i) EXPECT_EQ(bank.d.records[i].record, i + 1);
    EXPECT_EQ(bank.d.records[1].codec, CODEC_WMA);
    EXPECT_EQ(bank.d.records[1].format_tag, 2u);
    EXPECT_EQ(bank.d.declared_records, 6u);
    EXPECT_EQ(bank.d.records_read, 6u);
    EXPECT_EQ(bank.d.notices, 0u);
}

// What each record says of itself: loops kept only inside their record and
// in whole block sets, names only where the name region reaches, compact
// lengths from the next record's offset.
struct record_field_case {
    const char* name;
    wave_bank_design design;
    // Per record: length, loop start and end in frames, name.
    std::vector<std::tuple<int64_t, int64_t, int64_t, std::string>> records;
};

TEST_F(WaveBankTest, RecordsCarryTheirLoopsNamesAndLengths) {
    const int64_t NONE = NO_FRAMES;
    auto looped = [](uint32_t flags, uint32_t loop_start, uint32_t loop_length) {
        wave_bank_design design = bank_design({{STEREO_44100, 0, 720, flags, loop_start, loop_length}}, 720);
        return design;
    };
    auto named = [](std::vector<std::string> names) {
        wave_bank_design design = bank_design({}, 216);
        for (size_t i = 0; i < names.size(); ++i)
            design.entries.push_back({MONO_22050, (uint32_t)(72 * i), 72, 0, 0, 0, names[i]});
        design.with_names = true;
        design.region_offset[REGION_ENTRY_NAMES] = 0x1000;
        return design;
    };
    auto compact = [](std::vector<uint32_t> words, uint32_t alignment, uint32_t region_length) {
        wave_bank_design design = bank_design({}, region_length);
        design.compact = true;
        design.element_size = BANK_COMPACT_RECORD_BYTES;
        design.compact_words = words;
        design.alignment = alignment;
        design.compact_format = STEREO_44100;
        return design;
    };
    const record_field_case cases[] = {
        {"a loop over sets 2 to 5", looped(0, 144, 216), {{720, 130, 325, ""}}},
        {"a loop cut inside a set keeps whole sets", looped(0, 100, 200), {{720, 65, 260, ""}}},
        {"a loop flagged to be ignored", looped(BANK_ENTRY_IGNORE_LOOP, 144, 216), {{720, NONE, NONE, ""}}},
        {"a loop of no length", looped(0, 144, 0), {{720, NONE, NONE, ""}}},
        {"a loop past the record's end", looped(0, 144, 720), {{720, NONE, NONE, ""}}},
        {"a loop inside one set", looped(0, 10, 20), {{720, NONE, NONE, ""}}},
        {"names",
         named({"intro", "", "a_name_of_sixty_four_bytes_fills_its_field_with_no_nul_after_it_"}),
         {{72, NONE, NONE, "intro"},
          {72, NONE, NONE, ""},
          {72, NONE, NONE, "a_name_of_sixty_four_bytes_fills_its_field_with_no_nul_after_it_"}}},
        {"compact, deviations",
         compact({compact_record_word(0, 8), compact_record_word(1, 0)}, 100, 300),
         {{92, NONE, NONE, ""}, {200, NONE, NONE, ""}}},
        {"compact, a deviation past the next record",
         compact({compact_record_word(0, 500), compact_record_word(1, 0)}, 100, 300),
         {{0, NONE, NONE, ""}, {200, NONE, NONE, ""}}},
        {"compact, alignment 0",
         compact({compact_record_word(5, 0), compact_record_word(9, 4)}, 0, 300),
         {{0, NONE, NONE, ""}, {296, NONE, NONE, ""}}},
    };
    for (const record_field_case& c : cases) {
        SCOPED_TRACE(c.name);
        owned_description bank;
        file_handle file = open_bytes(build_wave_bank(c.design));
        byte_source source = source_of_file(file);
        read_wave_bank(&source, &bank.d);
        file_close(file);
        ASSERT_EQ((size_t)bank.d.record_count, c.records.size());
        for (size_t i = 0; i < c.records.size(); ++i) {
            SCOPED_TRACE(i);
            const entry_record& record = bank.d.records[i];
            EXPECT_EQ(record.length, std::get<0>(c.records[i]));
            EXPECT_EQ(record.loop_start, std::get<1>(c.records[i]));
            EXPECT_EQ(record.loop_end, std::get<2>(c.records[i]));
            EXPECT_EQ(record_name(&bank.d, record), std::get<3>(c.records[i]));
        }
    }
}

struct element_case {
    uint32_t element_size;
    uint32_t stored_length;
    int32_t expected_length;  // of each entry; -1 for none kept
};

// Records shorter than a full one read only their own bytes, and take region
// 3's length when they hold no length of their own; longer ones are read
// from their start at their own stride.
TEST_F(WaveBankTest, ElementSizeSetsTheStrideAndTheBytesRead) {
    const uint32_t REGION_3_LENGTH = 5000;
    const element_case cases[] = {
        {0, 0, -1},
        {0, 1000, -1},
        {12, 0, 5000},
        {12, 1000, 5000},
        {16, 0, 5000},
        {16, 1000, 1000},
        {24, 0, 0},
        {24, 1000, 1000},
        {32, 0, 0},
        {32, 1000, 1000},
        {100, 1000, 1000},
        // Only the low byte of the length: 1000 is 0x3e8, 256 is 0x100.
        {13, 1000, 0xe8},
        {13, 256, 5000},
    };
    for (const element_case& c : cases) {
        SCOPED_TRACE(testing::Message() << "element size " << c.element_size << ", length " << c.stored_length);
        wave_bank_design design =
            bank_design({{STEREO_44100, 0, c.stored_length}, {MONO_22050, 720, c.stored_length}}, 1440);
        design.element_size = c.element_size;
        design.entry_data_length = REGION_3_LENGTH;
        if (c.expected_length < 0) {
            expect_bank(design, 0, {});
        } else {
            expect_bank(design, 720 + c.expected_length,
                        {{0, c.expected_length, 44100, 2}, {720, c.expected_length, 22050, 1}});
        }
    }
}

// ---- Sizes and offsets the file cannot back ---------------------------------

struct bound_case {
    const char* name;
    wave_bank_design design;
    size_t kept;               // the first entries of the design, in order
    uint32_t records_in_file;  // records whose first byte lies inside the file
};

// Records placed after the entry data, at the very end of the file, so a
// declared count beyond them runs into the end of the file.
wave_bank_design records_last(uint32_t declared_count, size_t records) {
    std::vector<bank_entry_design> entries;
    for (size_t i = 0; i < records; ++i) entries.push_back({STEREO_44100, (uint32_t)(72 * i), 72});
    wave_bank_design design = bank_design(entries, 72 * records);
    design.region_offset[3] = BANK_HEADER_BYTES + BANK_DATA_BYTES;
    design.region_offset[1] = BANK_HEADER_BYTES + BANK_DATA_BYTES + 72 * records;
    design.has_declared_count = true;
    design.declared_count = declared_count;
    return design;
}

TEST_F(WaveBankTest, DeclaredCountsAreBoundedByWhatTheFileHolds) {
    const bound_case cases[] = {
        {"count 4 000 000 000", records_last(4000000000u, 3), 3, 3},
        {"count 0xffffffff", records_last(0xffffffffu, 3), 3, 3},
        {"count 10, three records", records_last(10, 3), 3, 3},
        {"count 2, three records", records_last(2, 3), 2, 3},
        {"count 0xffffffff, no records", records_last(0xffffffffu, 0), 0, 0},
        // The first record is read whatever the stride; the next would
        // start past the end of the file (or past 2^31).
        {"element size 0xffffffff",
         tweaked(records_last(0xffffffffu, 3), [](wave_bank_design& s) { s.element_size = 0xffffffffu; }), 1, 1},
        {"element size 0x80000000",
         tweaked(records_last(0xffffffffu, 3), [](wave_bank_design& s) { s.element_size = 0x80000000u; }), 1, 1},
    };
    for (const bound_case& c : cases) {
        SCOPED_TRACE(c.name);
        bytes content = build_wave_bank(c.design);
        file_handle file = open_bytes(content);
        owned_description bank;
        byte_source source = source_of_file(file);
        read_wave_bank(&source, &bank.d);
        int32_t result = bank.d.data_length;
        EXPECT_LE(bank.d.record_capacity, (int32_t)c.records_in_file);
        ASSERT_EQ(bank.d.entry_count, (int32_t)c.kept);
        EXPECT_EQ(result, (int32_t)(72 * c.kept));
        for (size_t i = 0; i < c.kept; ++i) {
            EXPECT_EQ(entry_table(bank.d)[i].offset, (int64_t)(BANK_HEADER_BYTES + BANK_DATA_BYTES + 72 * i));
        }
        EXPECT_EQ((bank.d.notices & NOTICE_RECORDS_CUT_SHORT) != 0, c.design.declared_count > c.records_in_file);
        file_close(file);
    }
}

// One-byte records and a count of 2^32 - 1 over a file with more records than
// the table may hold: the table stops at its cap.
TEST_F(WaveBankTest, EntryTableNeverOutgrowsItsCap) {
    wave_bank_design design = bank_design({}, 0);
    design.element_size = 1;
    design.has_declared_count = true;
    design.declared_count = 0xffffffffu;
    bytes content = build_wave_bank(design);
    content.resize(content.size() + MAX_BANK_ENTRIES + 1000, 0);
    file_handle file = open_bytes(content);
    owned_description bank;
    byte_source source = source_of_file(file);
    EXPECT_TRUE(read_wave_bank(&source, &bank.d));
    EXPECT_EQ(bank.d.data_length, 0);
    EXPECT_LE(bank.d.record_capacity, (int32_t)MAX_BANK_ENTRIES);
    EXPECT_EQ(bank.d.entry_count, 0);
    file_close(file);
}

TEST_F(WaveBankTest, RegionsPastTheEndYieldNoEntries) {
    struct {
        const char* name;
        int region;
        int64_t offset;
    } cases[] = {
        {"bank data at 0x7ffffff0", 0, 0x7ffffff0},        {"bank data at 0xfffffff0", 0, 0xfffffff0u},
        {"bank data at 16 MiB", 0, BANK_WRITER_MAX_BYTES}, {"records at 0x10000000", 1, 0x10000000},
        {"records at 0xffffffff", 1, 0xffffffffu},         {"entry data at 0xffffff00", 3, 0xffffff00u},
        {"entry data at 0x80000000", 3, 0x80000000u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        wave_bank_design design = tags_1_2_1();
        design.region_offset[c.region] = c.offset;
        expect_read(build_wave_bank(design), 0, 0, {});
    }
}

// ---- Truncated files ----------------------------------------------------------

// What the reader must make of the first size bytes of bank (which sits at
// base in file): the header, region table and bank data of the default
// layout, then the records present, any cut short read with zeros for the
// bytes that are missing.
int32_t truncated_outcome(const bytes& file, size_t base, size_t size, std::vector<entry_row>* kept) {
    size_t in_bank = size - base;
    kept->clear();
    if (in_bank <= 36) return 0;       // the magic, the version or a region field cannot be read
    if (in_bank <= 40) return 0;       // no byte of the bank data
    if (in_bank <= 40 + 24) return 0;  // element size 0: no records
    const uint8_t* header = &file[base];
    uint32_t records_at = read_u32le(header + 16);
    uint32_t entry_data_at = read_u32le(header + 32);
    uint32_t count = read_u32le(header + 40 + 4);
    for (uint32_t i = 0; i < count && records_at + 24 * i < in_bank; ++i) {
        uint8_t record[24] = {};
        size_t at = records_at + 24 * i;
        for (size_t b = 0; b < 24 && at + b < in_bank; ++b) record[b] = header[at + b];
        uint32_t word = read_u32le(record + 4);
        uint32_t channels = (word >> 2) & 7;
        uint32_t rate = (word >> 5) & 0xffff;
        if ((word & 3) != 1 || channels == 0 || rate < 100) continue;
        kept->push_back({(int64_t)(base + entry_data_at + read_u32le(record + 8)), read_u32le(record + 12), rate,
                         (int32_t)channels, 0});
    }
    if (kept->empty()) return 0;
    return (int32_t)(kept->back().offset + kept->back().length - kept->front().offset);
}

TEST_F(WaveBankTest, EveryTruncatedPrefixHasADefinedOutcome) {
    uint32_t seed = test_seed(31);
    wave_bank_design design = bank_design({{STEREO_44100, 0, 144},
                                           {format_word(2, 1, 22050), 144, 36},
                                           {MONO_22050, 180, 72 + seed % 3},
                                           {format_word(1, 3, 8000), 252, 108}},
                                          360);
    design.entry_data = random_bytes(360, seed);
    bytes bank = build_wave_bank(design);
    const struct {
        const char* name;
        bytes file;
        size_t base;
    } layouts[] = {{"bank at 0", bank, 0}, {"bank in a container", in_bank_container(bank), CONTAINER_BANK_BASE}};
    for (const auto& layout : layouts) {
        for (size_t size = layout.base; size <= layout.file.size(); ++size) {
            SCOPED_TRACE(testing::Message() << layout.name << ", " << size << " bytes");
            std::vector<entry_row> kept;
            int32_t result = truncated_outcome(layout.file, layout.base, size, &kept);
            expect_read(cut(layout.file, size), (int32_t)layout.base, result, kept);
        }
    }
    // Shorter than the container's header: nothing at the base to read.
    expect_read(cut(in_bank_container(bank), 100), (int32_t)CONTAINER_BANK_BASE, 0, {});
}

// ---- Behind the container header ---------------------------------------------

TEST_F(WaveBankTest, ContainerBankIsReadFromItsBase) {
    wave_bank_design at_0x200 = bank_design({{STEREO_44100, 0, 720}, {MONO_22050, 720, 360}}, 1080);
    at_0x200.region_offset[3] = 0x200;
    bytes no_bank = in_bank_container({});
    no_bank.resize(5000, 0x77);
    const int32_t base = (int32_t)CONTAINER_BANK_BASE;

    expect_read(in_bank_container(build_wave_bank(at_0x200)), base, 1080,
                {{4608, 720, 44100, 2}, {4608 + 720, 360, 22050, 1}});
    expect_read(no_bank, base, -1, {});
}

// ---- Playing through the module --------------------------------------------------

struct played_entry {
    uint32_t channels;
    uint32_t rate;
    bytes adpcm;
};

// A bank whose played entries lie in ascending order with data in front of,
// between and behind them that must never be played: a gap, then after each
// played entry a record with another format tag or with no channels.
bytes playable_bank(const std::vector<played_entry>& played, uint32_t seed) {
    wave_bank_design design;
    design.entry_data = random_bytes(100, seed);
    for (size_t i = 0; i < played.size(); ++i) {
        const played_entry& e = played[i];
        design.entries.push_back(
            {format_word(1, e.channels, e.rate), (uint32_t)design.entry_data.size(), (uint32_t)e.adpcm.size()});
        design.entry_data.insert(design.entry_data.end(), e.adpcm.begin(), e.adpcm.end());
        bytes skipped = random_bytes(144 + 36 * i, seed + (uint32_t)i);
        uint32_t skipped_word = i % 2 ? format_word(1, 0, 44100) : format_word(2, 2, 44100);
        design.entries.push_back({skipped_word, (uint32_t)design.entry_data.size(), (uint32_t)skipped.size()});
        design.entry_data.insert(design.entry_data.end(), skipped.begin(), skipped.end());
    }
    return build_wave_bank(design);
}

class WaveBankPlaybackTest : public module_fixture {};

TEST_F(WaveBankPlaybackTest, EntriesPlayBitExactOneAfterAnotherWithTheirOwnFormat) {
    const std::vector<played_entry> played = {
        {2, 44100, tone_adpcm(2, 6, 1)}, {1, 22050, tone_adpcm(1, 9, 2)}, {2, 32000, tone_adpcm(2, 5, 3)},
        {3, 24000, tone_adpcm(3, 4, 4)}, {1, 8000, tone_adpcm(1, 3, 5)},
    };
    const struct {
        const char* name;
        bool in_container;
    } layouts[] = {{"bank.xwb", false}, {"bank.wba", true}};
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.name);
        host.clear_calls();
        bytes bank = playable_bank(played, 9);
        std::string path =
            write_file_in(scratch.path, layout.name, layout.in_container ? in_bank_container(bank) : bank);
        // The DSP runs on the decode thread for every block set: it notes the
        // title the player shows while that block set is written.
        std::mutex titles_lock;
        std::vector<std::string> titles;
        host.dsp_active = 1;
        host.dsp = [&](short*, int n, int) {
            std::string now = title();
            std::lock_guard<std::mutex> guard(titles_lock);
            titles.push_back(now);
            return n;
        };
        ASSERT_EQ(host.play(path), 0);
        ASSERT_TRUE(host.wait_for_end_of_stream());
        host.module->Stop();
        host.dsp = nullptr;
        host.dsp_active = 0;

        bytes expected_pcm;
        std::vector<std::string> expected_titles;
        std::vector<std::vector<long long>> expected_opens;
        for (size_t i = 0; i < played.size(); ++i) {
            bytes pcm = reference_pcm(played[i].adpcm, played[i].channels);
            expected_pcm.insert(expected_pcm.end(), pcm.begin(), pcm.end());
            size_t block_sets = played[i].adpcm.size() / (ADPCM_BLOCK_BYTES * played[i].channels);
            std::string counter =
                std::string(layout.name) + " - " + std::to_string(i + 1) + " / " + std::to_string(played.size());
            expected_titles.insert(expected_titles.end(), block_sets, counter);
            expected_opens.push_back({played[i].rate, played[i].channels, 16, -1, -1});
        }
        EXPECT_TRUE(host.written() == expected_pcm)
            << host.written().size() << " bytes written, " << expected_pcm.size() << " expected";
        EXPECT_EQ(titles, expected_titles);
        EXPECT_EQ(args_of("Open"), expected_opens);
        EXPECT_EQ(host.end_of_stream_messages(), 1);
    }
}

// Versions 4 to 40 and above 46 have no known layout, and no Xbox 360 bank of
// an Xbox version is known: the module refuses them, and the playlist shows
// them as unknown.
TEST_F(WaveBankPlaybackTest, BanksOfVersionsWithoutALayoutAreRefused) {
    const struct {
        uint32_t version;
        bool big_endian;
    } cases[] = {{4, false},           {38, false}, {40, false}, {47, false},
                 {0xffffffffu, false}, {40, true},  {3, true},   {1, true}};
    for (const auto& c : cases) {
        uint32_t version = c.version;
        SCOPED_TRACE(std::to_string(version) + (c.big_endian ? " big-endian" : ""));
        wave_bank_design design = tags_1_2_1();
        design.version = version;
        bytes built = build_wave_bank(design);
        std::string path = write("x360.xwb", c.big_endian ? with_big_endian_header(built) : built);
        EXPECT_EQ(host.play(path), 1);
        int length = 0;
        char title[HOST_TITLE_BYTES] = "";
        host.module->GetFileInfo(&path[0], title, &length);
        EXPECT_EQ(length, -1000);
        owned_description bank;
        open_as_play(path, &bank.d);
        EXPECT_EQ(description_refusal(&bank.d), REFUSED_BANK_VERSION);
        EXPECT_EQ(bank.d.layout_version, (int64_t)version);
        EXPECT_EQ(bank.d.big_endian, c.big_endian);
        EXPECT_EQ(bank.d.notices & NOTICE_PLAYED_AS_RAW, 0u);
    }
}

// A Windows bank of xWMA and XMA alone holds nothing the module plays.
TEST_F(WaveBankPlaybackTest, AWindowsBankOfNothingPlayableIsRefused) {
    built_entry wma;
    wma.codec = CODEC_XWMA;
    wma.rate = 44100;
    wma.channels = 2;
    wma.adpcm = random_bytes(900, 3);
    built_entry xma = wma;
    xma.codec = CODEC_XMA;
    std::string error;
    std::string path = write("wma.xwb", built_bank_bytes({wma, xma}, "music", 2048, &error, BANK_FOR_WINDOWS));
    EXPECT_EQ(host.play(path), 1);
    int length = 0;
    char title[HOST_TITLE_BYTES] = "";
    host.module->GetFileInfo(&path[0], title, &length);
    EXPECT_EQ(length, -1000);
    owned_description bank;
    open_as_play(path, &bank.d);
    EXPECT_EQ(description_refusal(&bank.d), REFUSED_NOTHING_PLAYABLE);
    EXPECT_EQ(bank.d.record_count, 2);
}

TEST_F(WaveBankPlaybackTest, SeekIntoTheThirdEntryPlaysFromThere) {
    // The timeline: 300 stereo block sets at 44100 Hz (0-442 ms), 500 mono
    // ones at 22050 Hz (442-1915 ms), the skipped record, then 2000 stereo
    // ones at 32000 Hz from 1915 ms. A seek to 2.7 s lands on 2000 ms, 85 ms
    // into the third entry: 20 pairs of its blocks, 2 880 bytes in.
    bytes e0 = tone_adpcm(2, 300, 1), e1 = tone_adpcm(1, 500, 2), e2 = tone_adpcm(2, 2000, 3);
    wave_bank_design design;
    design.entry_data = concat({e0, random_bytes(100, 4), e1, random_bytes(720, 5), e2});
    design.entries = {{STEREO_44100, 0, (uint32_t)e0.size()},
                      {MONO_22050, 21700, (uint32_t)e1.size()},
                      {format_word(2, 2, 44100), 39700, 720},
                      {format_word(1, 2, 32000), 40420, (uint32_t)e2.size()}};
    ASSERT_EQ(e0.size() + 100 + e1.size() + 720, 40420u);
    std::string path = write_file_in(scratch.path, "bank.xwb", build_wave_bank(design));

    host.can_write = 0;
    ASSERT_EQ(host.play(path), 0);
    EXPECT_EQ(title(), "bank.xwb - 1 / 3");
    EXPECT_EQ(host.module->GetLength(), 442 + 1473 + 4062);
    host.clear_calls();
    host.module->SetOutputTime(2700);
    ASSERT_TRUE(host.wait_until([&] { return !host.calls_named("VSASetInfo").empty(); }));
    EXPECT_EQ(load_relaxed(player_state.current_entry), 2);
    EXPECT_EQ(title(), "bank.xwb - 3 / 3");
    EXPECT_EQ(args_of("Flush"), (std::vector<std::vector<long long>>{{2000}}));
    EXPECT_EQ(args_of("Open"), (std::vector<std::vector<long long>>{{32000, 2, 16, -1, -1}}));

    host.can_write = BIG_ROOM;
    ASSERT_TRUE(host.wait_for_end_of_stream());
    EXPECT_TRUE(host.written() == reference_pcm(slice(e2, 2880, e2.size() - 2880), 2))
        << host.written().size() << " bytes written";
}

}  // namespace
