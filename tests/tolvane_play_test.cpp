// Tests of `tolvane play` run as a program with its output in files, so the
// plain-line display: the null device keeps real time, and the files play as
// a playlist, one after another, while files that cannot be played are
// reported and skipped.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/sample_files.h"
#include "tests/support/tool_runner.h"

namespace {

class TolvanePlay : public ::testing::Test {
protected:
    void SetUp() override {
        scratch = make_scratch_dir();
    }
    void TearDown() override {
        remove_scratch_dir(scratch);
    }
    std::string scratch;
};

// The titles of the "playing TITLE (m:ss)" lines, in order.
std::vector<std::string> played_titles(const std::string& out) {
    std::vector<std::string> titles;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(start, end - start);
        size_t length_at = line.rfind(" (");
        if (line.compare(0, 8, "playing ") == 0 && length_at != std::string::npos) {
            titles.push_back(line.substr(8, length_at - 8));
        }
        start = end + 1;
    }
    return titles;
}

bytes concat_bytes(bytes a, const bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// 2036 block sets of 65 frames at 44 100 Hz: 3.0 s.
const uint32_t THREE_SECONDS_OF_BLOCK_SETS = 2036;

TEST_F(TolvanePlay, TheNullDeviceTakesAsLongAsTheSoundLasts) {
    std::string file =
        write_file_in(scratch, "three.wav", adpcm_wave(tone_adpcm(2, THREE_SECONDS_OF_BLOCK_SETS, 3), 2, 44100));
    uint64_t started_ms = clock_ms();
    run_result run = run_tool("play --device null " + in_quotes(file), scratch);
    uint64_t elapsed_ms = clock_ms() - started_ms;
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ("", run.err);
    EXPECT_EQ(std::vector<std::string>{"three.wav"}, played_titles(run.out)) << run.out;
    // Not a speed target: playing may not end before the sound has been
    // heard, and the generous upper bound (process start, Wine) only catches
    // a clock that runs far too slow.
    EXPECT_GE(elapsed_ms, 2900u);
    EXPECT_LT(elapsed_ms, 15000u);
}

TEST_F(TolvanePlay, FilesPlayInTurnAndTheUnplayableAreSkipped) {
    write_file_in(scratch, "first.wav", adpcm_wave(tone_adpcm(1, 60, 1), 1, 22050));
    write_file_in(scratch, "pcm.wav", build_riff({{"fmt ", fmt_content(1, 2, 44100)}, {"data", bytes(400, 0)}}));
    write_file_in(scratch, "second.wav", adpcm_wave(tone_adpcm(3, 40, 2), 3, 32000));
    write_file_in(scratch, "last.wav", adpcm_wave(tone_adpcm(2, 60, 3), 2, 44100));
    // A bank's entries show their names beside the player's title.
    wave_bank_design named;
    named.with_names = true;
    bytes intro = tone_adpcm(1, 40, 4), outro = tone_adpcm(1, 40, 5);
    named.entries = {{format_word(1, 1, 22050), 0, (uint32_t)intro.size(), 0, 0, 0, "intro"},
                     {format_word(1, 1, 22050), (uint32_t)intro.size(), (uint32_t)outro.size(), 0, 0, 0, "outro"}};
    named.entry_data = concat_bytes(intro, outro);
    write_file_in(scratch, "named.xwb", build_wave_bank(named));

    std::string arguments = "play --device null";
    for (const char* name : {"first.wav", "missing.wav", "second.wav", "pcm.wav", "last.wav", "named.xwb"}) {
        arguments += " " + in_quotes(scratch + name);
    }
    run_result run = run_tool(arguments, scratch);
    EXPECT_EQ(1, run.status) << "a file was skipped";
    std::vector<std::string> expected = {"first.wav", "second.wav", "last.wav", "named.xwb - 1 / 2 [intro]",
                                         "named.xwb - 2 / 2 [outro]"};
    EXPECT_EQ(expected, played_titles(run.out)) << run.out;
    ASSERT_EQ(2, line_count(run.err)) << run.err;
    size_t missing = run.err.find("cannot play");
    size_t refused = run.err.find("cannot play", missing + 1);
    EXPECT_NE(std::string::npos, run.err.find("missing.wav", missing)) << run.err;
    EXPECT_LT(run.err.find("missing.wav"), refused) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("pcm.wav", refused)) << run.err;
}

// A folder plays as a playlist of the files below it, in sorted order,
// files of no known kind left out.
TEST_F(TolvanePlay, AFolderPlaysAsAPlaylist) {
    std::string folder = scratch + "game" + PLATFORM_PATH_SEPARATOR;
    write_file_in(folder + "b" + PLATFORM_PATH_SEPARATOR, "two.wav", adpcm_wave(tone_adpcm(1, 20, 1), 1, 22050));
    write_file_in(folder, "one.wav", adpcm_wave(tone_adpcm(1, 20, 2), 1, 22050));
    write_file_in(folder, "notes.txt", bytes(100, 'x'));
    run_result run = run_tool("play --device null " + in_quotes(folder), scratch);
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ((std::vector<std::string>{"two.wav", "one.wav"}), played_titles(run.out)) << run.out;
}

// --entry plays only the chosen entries of a bank: the others pass unheard.
// Entry 2 lasts a third of a second between two three-second entries, so
// the run ends long before the bank's six seconds would have played.
TEST_F(TolvanePlay, EntryPlaysOnlyTheChosenEntries) {
    wave_bank_design design;
    for (uint32_t sets : {THREE_SECONDS_OF_BLOCK_SETS, THREE_SECONDS_OF_BLOCK_SETS / 9, THREE_SECONDS_OF_BLOCK_SETS}) {
        bytes sound = tone_adpcm(2, sets, sets);
        design.entries.push_back(
            {format_word(1, 2, 44100), (uint32_t)design.entry_data.size(), (uint32_t)sound.size()});
        design.entry_data.insert(design.entry_data.end(), sound.begin(), sound.end());
    }
    std::string bank = write_file_in(scratch, "three.xwb", build_wave_bank(design));
    uint64_t started_ms = clock_ms();
    run_result run = run_tool("play --device null --entry 2 " + in_quotes(bank), scratch);
    uint64_t elapsed_ms = clock_ms() - started_ms;
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_GE(elapsed_ms, 300u) << run.err << run.out;
    EXPECT_LT(elapsed_ms, 5500u) << "an entry not chosen was heard";
    run = run_tool("play --device null --entry 7 " + in_quotes(bank), scratch);
    EXPECT_NE(run.err.find("it holds none of the entries chosen"), std::string::npos) << run.err;
}

}  // namespace
