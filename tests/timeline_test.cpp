// The play plan of an entry table: which whole block sets of each entry play,
// when each starts, the item's length, and which entry holds a given time.

#include <gtest/gtest.h>

#include <vector>

#include "containers/timeline.h"
#include "tests/support/sample_files.h"

namespace {

struct plan_case {
    const char* name;
    std::vector<entry_row> entries;
    int64_t data_start;
    int64_t data_end;
    int64_t file_bytes;
    // Per entry: where it plays from and how many block sets; then the length.
    std::vector<std::pair<int32_t, int32_t>> played;
    int64_t length_ms;
};

const int64_t BIG = 1 << 30;

TEST(Timeline, EntriesPlayTheirWholeBlockSetsOneAfterAnother) {
    const plan_case cases[] = {
        // 72-byte stereo sets at 44100 Hz: 10 sets are 14 ms (14.7); 50 mono
        // sets at 22050 Hz are 147 ms.
        {"in order with a gap",
         {{0, 720, 44100, 2}, {800, 1800, 22050, 1}},
         0,
         2600,
         BIG,
         {{0, 10}, {800, 50}},
         14 + 147},
        {"a partial last block set is not played",
         {{0, 760, 44100, 2}, {760, 1800, 22050, 1}},
         0,
         2560,
         BIG,
         {{0, 10}, {760, 50}},
         161},
        {"bytes in front of the first entry play with it", {{4096, 1000, 44100, 2}}, 0, 6000, BIG, {{0, 70}}, 103},
        {"an entry inside the previous one is passed over",
         {{0, 720, 44100, 2}, {72, 144, 8000, 1}, {720, 72, 44100, 2}},
         0,
         792,
         BIG,
         {{0, 10}, {0, 0}, {720, 1}},
         14 + 1},
        {"an entry behind the previous one plays from its start",
         {{1000, 720, 44100, 2}, {500, 720, 44100, 2}},
         1000,
         1720,
         BIG,
         {{1000, 10}, {0, 0}},
         14},
        {"no entry plays past the end of the data",
         {{0, 720, 44100, 2}, {720, 720, 44100, 2}},
         0,
         1000,
         BIG,
         {{0, 10}, {720, 3}},
         14 + 4},
        {"nor past the end of the file",
         {{0, 720, 44100, 2}, {720, 720, 44100, 2}},
         0,
         1440,
         900,
         {{0, 10}, {720, 2}},
         14 + 2},
        {"an entry shorter than a block set or outside the file plays nothing",
         {{0, 720, 44100, 2}, {720, 60, 44100, 2}, {-72, 720, 44100, 2}, {780, 72, 100, 1}},
         0,
         852,
         BIG,
         {{0, 10}, {0, 0}, {0, 0}, {780, 2}},
         14 + 1300},
        {"an empty table", {}, 0, 0, BIG, {}, 0},
    };
    for (const plan_case& c : cases) {
        SCOPED_TRACE(c.name);
        owned_description item;
        ASSERT_TRUE(add_entries(&item.d, c.entries));
        item.d.kind = STREAM_BANK;
        item.d.data_start = (int32_t)c.data_start;
        item.d.data_length = (int32_t)(c.data_end - c.data_start);
        item.d.file_bytes = c.file_bytes;
        item_plan plan;
        ASSERT_TRUE(plan_item(&item.d, &plan));
        std::vector<entry_span> spans(plan.spans, plan.spans + plan.count);
        EXPECT_EQ(plan.duration_ms, c.length_ms);
        EXPECT_EQ(player_length_ms(&item.d, nullptr), c.length_ms);
        plan_release(&plan);
        ASSERT_EQ(spans.size(), c.played.size());
        int64_t start_ms = 0;
        for (size_t i = 0; i < spans.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(spans[i].units, c.played[i].second);
            if (spans[i].units > 0) {
                EXPECT_EQ(spans[i].play_start, c.played[i].first);
            }
            EXPECT_EQ(spans[i].start_ms, start_ms);
            EXPECT_EQ(spans[i].duration_ms, frames_to_ms(span_frames(spans[i]), (uint32_t)c.entries[i].rate));
            start_ms += spans[i].duration_ms;
        }
    }
}

TEST(Timeline, TimeFindsTheEntryThatHoldsIt) {
    // Stretches of 100, 0 (passed over), 250 and 0 ms.
    const codec_row* adpcm = codec_row_of(CODEC_XBOX_ADPCM);
    entry_span spans[] = {{0, 0, 10, 8000, 1, 0, 100, adpcm},
                          {1, 0, 0, 8000, 1, 100, 0, adpcm},
                          {2, 720, 20, 8000, 1, 100, 250, adpcm},
                          {3, 0, 0, 8000, 1, 350, 0, adpcm}};
    const item_plan plan = {spans, 4, 350, false};
    const item_plan empty = {spans, 0, 0, false};
    const struct {
        int64_t time_ms;
        int32_t entry;
    } cases[] = {{-5, 0}, {0, 0}, {99, 0}, {100, 2}, {349, 2}, {350, -1}, {100000, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.time_ms);
        EXPECT_EQ(entry_at_time(&plan, c.time_ms), c.entry);
    }
    EXPECT_EQ(entry_at_time(&empty, 0), -1);
    EXPECT_EQ(next_played_entry(&plan, 1), 2);
    EXPECT_EQ(next_played_entry(&plan, 3), 4);
}

// A single stream is an item of one entry: its whole block sets from the
// data start, cut at the end of the file; seeks land on whole pairs of blocks
// counted from the data start, as the player has always counted them, and a
// bank's land in the entry that holds the second, on the same 130-frame steps
// in a PCM entry (whose units are frames).
TEST(Timeline, SeeksLandOnWholePairsOfBlocksOfTheirEntry) {
    owned_description stream;
    stream.d.kind = STREAM_WAVE;
    stream.d.sample_rate = 22050;
    stream.d.channels = 1;
    stream.d.data_start = 48;
    stream.d.data_length = 36 * 1000 + 20;
    stream.d.file_bytes = 48 + 36 * 700;
    item_plan single;
    ASSERT_TRUE(plan_item(&stream.d, &single));
    ASSERT_EQ(single.count, 1);
    EXPECT_TRUE(single.single_stream);
    EXPECT_EQ(single.spans[0].play_start, 48);
    EXPECT_EQ(single.spans[0].units, 700);
    // The player's figure counts the data, not the file, in steps of 130 ms:
    // ((36020 x 10 / (220 x 1 x 2)) / 36) x 130.
    EXPECT_EQ(player_length_ms(&stream.d, &single), 2860);

    owned_description bank;
    ASSERT_TRUE(add_entries(&bank.d, {{0, 72 * 300, 44100, 2},
                                      {72 * 300, 36 * 2000, 8000, 1},
                                      {72 * 300 + 36 * 2000, 4 * 22050 + 3, 22050, 2, 0, CODEC_PCM16}}));
    bank.d.kind = STREAM_BANK;
    bank.d.data_length = 72 * 300 + 36 * 2000 + 4 * 22050 + 3;
    bank.d.file_bytes = bank.d.data_length;
    item_plan two;
    ASSERT_TRUE(plan_item(&bank.d, &two));
    const struct {
        const item_plan* plan;
        int32_t time_ms;
        bool lands;
        int32_t entry;
        int64_t skipped_units;
    } cases[] = {
        {&single, 0, true, 0, 0},
        {&single, 1000, true, 0, 2 * (22050 / 130)},
        {&single, 2000, true, 0, 2 * (44100 / 130)},
        {&single, 3000, false, 0, 0},  // 508 pairs would pass the 700 block sets in the file
        {&two, 0, true, 0, 0},
        {&two, 1000, true, 1, 2 * ((1000 - 442) * 8000 / 130000)},
        {&two, 16000, true, 1, 2 * ((16000 - 442) * 8000 / 130000)},
        // 442 ms and 16 250 ms of ADPCM, then a second of 16-bit PCM: its
        // 22 050 frames, the three bytes past the last whole frame unplayed.
        {&two, 17000, true, 2, (17000 - 16692) * 22050 / 130000 * 130},
        {&two, 17692 - 1, true, 2, 21970},
        {&two, 18000, false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.time_ms);
        int32_t entry = -1;
        int64_t skipped = -1;
        ASSERT_EQ(plan_seek(c.plan, c.time_ms, &entry, &skipped), c.lands);
        if (c.lands) {
            EXPECT_EQ(entry, c.entry);
            EXPECT_EQ(skipped, c.skipped_units);
        }
    }
    plan_release(&single);
    plan_release(&two);
}

TEST(Timeline, DurationsAreTruncatedMillisecondsOfWholeFrames) {
    EXPECT_EQ(frames_to_ms(65, 44100), 1);
    EXPECT_EQ(frames_to_ms(65, 8000), 8);
    EXPECT_EQ(frames_to_ms(678 * 65, 44100), 999);
    EXPECT_EQ(frames_to_ms(65, 65535), 0);
    EXPECT_EQ(frames_to_ms((int64_t)65 << 30, 100), (int64_t)(1 << 30) * 650);
    EXPECT_EQ(frames_to_ms(5, 0), 0);
}

}  // namespace
