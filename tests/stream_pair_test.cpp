// Stream header and data pairs: finding the partner from either file, the
// path and title afterwards, the header's entry table (and its hostile
// counts and records), what the reader notices, and playback of the data
// file through the module.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "containers/stream_opener.h"
#include "containers/stream_pair.h"
#include "player/player_state.h"
#include "plugin/module.h"
#include "tests/support/module_fixture.h"

namespace {

class StreamPairTest : public module_fixture {
protected:
    // Runs the opener on path the way Play does: what it describes, and the
    // path it leaves for the host.
    struct opened {
        std::string path;
        owned_description item;
    };
    void open(const std::string& path, opened* out) {
        EXPECT_TRUE(open_as_play(path, &out->item.d, &out->path));
    }
};

TEST_F(StreamPairTest, EitherFileOpensTheDataFileWithTheHeadersTable) {
    bytes header = build_stream_header({{0, 36000, 44100, 2}, {36000, 54000, 22050, 1}});
    const bool exact = PLATFORM_CASE_SENSITIVE_NAMES;
    const struct {
        const char* header_name;
        const char* data_name;
        bool choose_header;
        const char* path_after;
    } cases[] = {
        {"music.xsh", "music.xsd", true, "music.xsd"},
        {"music.xsh", "music.xsd", false, "music.xsh"},
        {"music.xsh", "music.XSD", false, "music.xsh"},  // the partner's extension is written lower case
        {"music.Xsh", "music.xsd", true, "music.xsd"},
        // Where names are case-sensitive the partner is found in the chosen
        // file's own case; elsewhere the lower-case name finds it.
        {"MUSIC.XSH", "MUSIC.XSD", false, exact ? "MUSIC.XSH" : "MUSIC.xsh"},
        {"Music.Xsh", "Music.Xsd", true, exact ? "Music.Xsd" : "Music.xsd"},
    };
    int folder = 0;
    for (const auto& c : cases) {
        std::string chosen = c.choose_header ? c.header_name : c.data_name;
        SCOPED_TRACE(chosen);
        std::string dir = scratch.path + std::to_string(++folder) + PLATFORM_PATH_SEPARATOR;
        write_file_in(dir, c.header_name, header);
        write_file_in(dir, c.data_name, random_bytes(90000, 1));

        opened result;
        open(dir + chosen, &result);
        EXPECT_EQ(result.path, dir + c.path_after);
        // The length is the data file's size, whatever the entries say.
        EXPECT_EQ(result.item.d.data_length, 90000);
        EXPECT_EQ(result.item.d.data_start, 0);
        EXPECT_EQ(result.item.d.kind, STREAM_PAIR);
        EXPECT_EQ(entry_table(result.item.d),
                  (std::vector<entry_row>{{0, 36000, 44100, 2, 1}, {36000, 54000, 22050, 1, 2}}));
    }
}

TEST_F(StreamPairTest, MissingPartnerPlaysTheChosenFileAndNamesThePartner) {
    bytes data = random_bytes(72 * 10 + 30, 2);
    std::string path = write("alone.xsd", data);
    owned_description described;
    ASSERT_TRUE(describe_stream(path.c_str(), nullptr, &described.d));
    EXPECT_EQ(described.d.notices, (uint32_t)(NOTICE_PARTNER_MISSING | NOTICE_PLAYED_AS_RAW));
    EXPECT_STREQ(described.d.partner_extension, "xsh");
    int descriptors = open_descriptors();
    ASSERT_EQ(host.play(path), 0);
    EXPECT_EQ(host.played_path, scratch.path + "alone.xsh");
    char title[HOST_TITLE_BYTES] = "";
    host.module->GetFileInfo(&host.played_path[0], title, nullptr);
    EXPECT_STREQ(title, "alone.xsh");
    EXPECT_EQ(player_state.item.entry_count, 0);
    ASSERT_TRUE(host.wait_for_end_of_stream());
    host.module->Stop();
    // Played as raw data: stereo at 44 100 Hz from the first byte.
    EXPECT_EQ(host.written(), reference_pcm(data, 2));
    EXPECT_EQ(host.calls_named("Open")[0].args, (std::vector<long long>{44100, 2, 16, -1, -1}));
    EXPECT_EQ(open_descriptors(), descriptors);
}

TEST_F(StreamPairTest, OnlyTheLastExtensionMakesAPair) {
    for (const char* name : {"music.xsh.bak", "music.xshx", "music.xs", "xsh"}) {
        SCOPED_TRACE(name);
        write("music.xsd", random_bytes(500, 3));
        opened result;
        open(write(name, random_bytes(300, 4)), &result);
        EXPECT_EQ(result.path, scratch.path + name);
        EXPECT_EQ(result.item.d.data_length, 300);  // raw data
        EXPECT_EQ(result.item.d.entry_count, 0);
        EXPECT_EQ(result.item.d.partner_extension[0], '\0');
    }
}

struct header_case {
    const char* name;
    bytes header;
    std::vector<entry_row> expected;
    uint32_t notices;
    int32_t skipped;
};

TEST_F(StreamPairTest, HostileHeadersGiveABoundedTableOfPlayableEntries) {
    bytes two = build_stream_header({{0, 100, 44100, 2}, {100, 100, 22050, 1}});
    bytes cut_in_record(two.begin(), two.begin() + 12 + 100 + 57);
    const uint32_t CUT = NOTICE_RECORDS_CUT_SHORT;
    const header_case cases[] = {
        {"count 0", build_stream_header({}), {}, 0, 0},
        {"two records", two, {{0, 100, 44100, 2, 1}, {100, 100, 22050, 1, 2}}, 0, 0},
        {"cut in the second record", cut_in_record, {{0, 100, 44100, 2, 1}}, CUT, 0},
        {"count larger than the records",
         build_stream_header({{0, 100, 44100, 2}}, 4000000),
         {{0, 100, 44100, 2, 1}},
         CUT,
         0},
        {"count 0x7FFFFFFF", build_stream_header({{0, 100, 44100, 2}}, 0x7FFFFFFF), {{0, 100, 44100, 2, 1}}, CUT, 0},
        {"negative count", build_stream_header({{0, 100, 44100, 2}}, -1), {}, 0, 0},
        {"count smaller than the records",
         build_stream_header({{0, 100, 44100, 2}, {1, 1, 8000, 1}}, 1),
         {{0, 100, 44100, 2, 1}},
         0,
         0},
        {"unplayable records skipped",
         build_stream_header(
             {{0, 1, 44100, 0}, {1, 1, 44100, 9}, {2, 1, 99, 2}, {3, 1, -44100, 2}, {4, 1, 44100, -2}, {5, 1, 100, 8}}),
         {{5, 1, 100, 8, 6}},
         0,
         5},
        {"count field cut short", bytes{1, 2, 3, 4, 5, 6, 7, 8, 2}, {}, CUT, 0},
        {"empty header", bytes(), {}, 0, 0},
    };
    for (const header_case& c : cases) {
        SCOPED_TRACE(c.name);
        write("h.xsh", c.header);
        write("h.xsd", random_bytes(1000, 5));
        opened result;
        open(scratch.path + "h.xsh", &result);
        EXPECT_EQ(result.item.d.data_length, 1000);
        EXPECT_EQ(entry_table(result.item.d), c.expected);
        EXPECT_EQ(result.item.d.notices, c.notices);
        EXPECT_EQ((int32_t)skipped_table(result.item.d).size(), c.skipped);
        // Room only for the records the header holds, whatever it declares.
        EXPECT_LE(result.item.d.record_capacity, (int32_t)(c.header.size() / 100));
    }
}

TEST_F(StreamPairTest, DataFilePlaysFromItsFirstByteThroughTheEntries) {
    // The first entry starts at 4096; playback still starts at byte 0, in the
    // first entry's format, and steps into the second entry with its own.
    // The first entry ends on a whole mono block from byte 0 (134 x 36).
    bytes lead_and_first = tone_adpcm(1, 134, 1), second = tone_adpcm(2, 10, 3);
    bytes data = lead_and_first;
    data.insert(data.end(), second.begin(), second.end());
    const int32_t first_end = 134 * 36;
    write("song.xsh",
          build_stream_header({{4096, first_end - 4096, 22050, 1}, {first_end, (int32_t)second.size(), 32000, 2}}));
    write("song.xsd", data);

    // The bytes in front of the first entry play as part of it: 134 block
    // sets at 22050 Hz (395 ms), then 10 at 32000 Hz (20 ms).
    host.can_write = 0;
    ASSERT_EQ(host.play(scratch.path + "song.xsh"), 0);
    EXPECT_EQ(host.module->GetLength(), 415);
    host.can_write = 1 << 30;
    ASSERT_TRUE(host.wait_for_end_of_stream());
    char title[HOST_TITLE_BYTES] = "";
    host.module->GetFileInfo(nullptr, title, nullptr);
    EXPECT_STREQ(title, "song.xsd - 2 / 2");
    host.module->Stop();

    bytes expected = reference_pcm(lead_and_first, 1);
    bytes tail = reference_pcm(second, 2);
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(host.written(), expected);
    std::vector<host_call> opens = host.calls_named("Open");
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[0].args[0], 22050);
    EXPECT_EQ(opens[1].args, (std::vector<long long>{32000, 2, 16, -1, -1}));
}

TEST_F(StreamPairTest, EmptyTablePlaysTheWholeDataFileWithTheDefaults) {
    bytes data = random_bytes(72 * 5, 8);
    write("x.xsh", build_stream_header({{0, 72, 44100, 0}}));  // its only record is dropped
    write("x.xsd", data);
    ASSERT_EQ(host.play(scratch.path + "x.xsh"), 0);
    ASSERT_TRUE(host.wait_for_end_of_stream());
    host.module->Stop();
    EXPECT_EQ(host.written(), reference_pcm(data, 2));
    EXPECT_EQ(host.calls_named("Open")[0].args, (std::vector<long long>{44100, 2, 16, -1, -1}));
}

}  // namespace
