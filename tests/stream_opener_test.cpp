// The stream opener: every item starts from the defaults with an empty entry
// table, and each file takes the road its extension and leading bytes pick.

#include <gtest/gtest.h>
#include <string.h>

#include "codec/xbox_adpcm.h"
#include "containers/stream_opener.h"
#include "containers/wave_bank.h"
#include "player/player_state.h"
#include "tests/support/sample_files.h"

namespace {

enum road { ROAD_RAW, ROAD_WAVE, ROAD_REFUSED, ROAD_BANK_AT_0, ROAD_BANK_AT_4096 };

// A mono 22050 Hz Xbox ADPCM WAVE with 3600 bytes of data starting at 48.
bytes mono_wave(uint16_t format_tag = XBOX_ADPCM_TAG) {
    return build_riff({{"fmt ", fmt_content(format_tag, 1, 22050, 20)}, {"data", bytes(3600, 0x33)}});
}

// Two entries of 720 bytes: stereo at 44100 Hz, mono at 22050 Hz.
bytes small_bank() {
    wave_bank_design design;
    design.entries = {{format_word(1, 2, 44100), 0, 720}, {format_word(1, 1, 22050), 720, 720}};
    design.entry_data = random_bytes(1440, 4);
    return build_wave_bank(design);
}

bytes text_then(const char* text, size_t text_bytes, size_t more_bytes) {
    bytes content(text, text + text_bytes);
    bytes rest = random_bytes(more_bytes, (uint32_t)more_bytes);
    content.insert(content.end(), rest.begin(), rest.end());
    return content;
}

class StreamOpenerTest : public ::testing::Test {
public:
    scratch_folder scratch;

    // Opens name as Play would, runs the opener and checks the road taken.
    void expect_road(const std::string& name, const bytes& content, road expected) {
        char path[1024];
        snprintf(path, sizeof path, "%s", write_file_in(scratch.path, name, content).c_str());
        const std::string path_before = path;
        file_handle file = file_open_read(path);
        ASSERT_NE(file, INVALID_FILE);
        int32_t length = 0;
        file_handle played = open_stream(path, file, &length);
        EXPECT_EQ(played, file);
        EXPECT_EQ(path, path_before);
        EXPECT_EQ(load_relaxed(player_state.current_entry), 0);
        EXPECT_EQ(load_relaxed(player_state.channels), expected == ROAD_WAVE ? 1 : DEFAULT_CHANNELS);
        EXPECT_EQ(load_relaxed(player_state.sample_rate), expected == ROAD_WAVE ? 22050u : DEFAULT_SAMPLE_RATE);

        if (expected == ROAD_BANK_AT_0 || expected == ROAD_BANK_AT_4096) {
            // The opener must give exactly what the bank reader gives on its
            // own, at the base the leading bytes name.
            int32_t position = file_tell(played);
            int32_t entries = player_state.entry_count;
            int32_t first_offset = entries ? player_state.entries[0].offset : 0;
            int32_t data_start = player_state.data_start;
            release_entry_table();
            file_handle again = file_open_read(path);
            ASSERT_NE(again, INVALID_FILE);
            player_state.data_start = 0;
            EXPECT_EQ(length, read_wave_bank(again, expected == ROAD_BANK_AT_0 ? 0 : CONTAINER_BANK_BASE));
            EXPECT_EQ(position, file_tell(again));
            EXPECT_EQ(entries, player_state.entry_count);
            if (entries) {
                EXPECT_EQ(first_offset, player_state.entries[0].offset);
            }
            EXPECT_EQ(data_start, player_state.data_start);
            file_close(again);
        } else {
            bool mono = expected == ROAD_WAVE;
            EXPECT_EQ(player_state.entry_count, 0);
            EXPECT_EQ(length, mono ? 3600 : expected == ROAD_REFUSED ? -1 : (int32_t)content.size());
            EXPECT_EQ(file_tell(played), mono ? 48 : 0);
            EXPECT_EQ(player_state.data_start, mono ? 48 : 0);
        }
        file_close(played);
    }
};

TEST_F(StreamOpenerTest, LeadingBytesPickTheReader) {
    const char wrapped[] = "HVSIWBA\0";
    struct {
        const char* name;
        bytes content;
        road expected;
    } cases[] = {
        {"xbox wave", mono_wave(), ROAD_WAVE},
        {"pcm wave", mono_wave(1), ROAD_REFUSED},
        {"random bytes", random_bytes(1000, 1), ROAD_RAW},
        {"empty", bytes(), ROAD_RAW},
        {"WBND alone", text_then("WBND", 4, 0), ROAD_BANK_AT_0},
        {"WBND before anything", text_then("WBND", 4, 300), ROAD_BANK_AT_0},
        {"WBND then HVSIWBA", text_then("WBNDHVSIWBA", 12, 100), ROAD_BANK_AT_0},
        {"HVSIWBA and zero", text_then(wrapped, 8, 4200), ROAD_BANK_AT_4096},
        {"HVSIWBA and zero only", text_then(wrapped, 8, 0), ROAD_BANK_AT_4096},
        {"HVSIWBA and one", text_then("HVSIWBA\1", 8, 4200), ROAD_RAW},
        {"HVSIWBA, 7 bytes", text_then(wrapped, 7, 0), ROAD_RAW},
        {"WBN, 3 bytes", text_then("WBND", 3, 0), ROAD_RAW},
        {"WBND one byte in", text_then("xWBND", 5, 100), ROAD_RAW},
        {"wbnd", text_then("wbnd", 4, 100), ROAD_RAW},
        {"bank", small_bank(), ROAD_BANK_AT_0},
        {"bank in a container", in_bank_container(small_bank()), ROAD_BANK_AT_4096},
        {"bank behind HVSIWBA and one", [] {
             bytes file = in_bank_container(small_bank());
             file[7] = '1';
             return file;
         }(), ROAD_RAW},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expect_road("item.bin", c.content, c.expected);
    }
}

// Compressed banks are opened as any other file until their reader exists;
// names that only look like a compressed bank or a stream pair never take
// those branches.
TEST_F(StreamOpenerTest, ExtensionsDoNotBreakTheWaveOrRawRoad) {
    const char* names[] = {"bank.zwb",  "bank.ZwB",      "bank.zwb.bak", "bank.zwbx", "pair.xsh.bak",
                           "pair.xsdx", "music.d/track", "track",        "trailing.", "dir.xsh/track"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        expect_road(name, mono_wave(), ROAD_WAVE);
        expect_road(name, random_bytes(500, 2), ROAD_RAW);
    }
}

// Nothing of a previous item survives into the next: neither its stream
// fields nor its entry table.
TEST_F(StreamOpenerTest, EveryItemStartsFromTheDefaults) {
    struct {
        const char* name;
        void (*previous_item)(StreamOpenerTest* test);
    } cases[] = {
        {"bank with entries",
         [](StreamOpenerTest*) {
             store_relaxed(player_state.sample_rate, 22050u);
             store_relaxed(player_state.channels, (uint16_t)1);
             player_state.data_start = 48;
             ASSERT_TRUE(reserve_entries(4));
             ASSERT_TRUE(append_entry(100, 720, 22050, 1));
             ASSERT_TRUE(append_entry(820, 1440, 32000, 2));
             store_relaxed(player_state.current_entry, 1);
         }},
        {"mono wave", [](StreamOpenerTest* test) { test->expect_road("mono.wav", mono_wave(), ROAD_WAVE); }},
        {"bank read from the file",
         [](StreamOpenerTest* test) {
             test->expect_road("bank.xwb", small_bank(), ROAD_BANK_AT_0);
             ASSERT_EQ(player_state.entry_count, 2);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.previous_item(this);
        expect_road("next.raw", random_bytes(777, 3), ROAD_RAW);
        EXPECT_EQ(player_state.entries, nullptr);

        c.previous_item(this);
        expect_road("next.wav", mono_wave(), ROAD_WAVE);
        EXPECT_EQ(player_state.entries, nullptr);
    }
}

}  // namespace
