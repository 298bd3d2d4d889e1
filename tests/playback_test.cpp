// The playback engine driven through the module by the recording test host:
// bit-exact output, the output and visualisation call sequence, seeks, room
// thresholds, draining and the end-of-stream message, Stop, refusals, the DSP
// path and stepping through a hand-built entry table.

#include <gtest/gtest.h>

#include <string.h>

#include "codec/xbox_adpcm.h"
#include "player/playback.h"
#include "plugin/module.h"
#include "player/player_state.h"
#include "tests/support/module_fixture.h"

namespace {

const int BIG_ROOM = 1 << 30;

// A WAVE whose data chunk starts at data_start (fmt chunk grown to fit).
bytes wave_with_data_start(const bytes& adpcm, uint16_t channels, uint32_t rate, size_t data_start) {
    size_t fmt_bytes = data_start - 12 - 8 - 8;
    return build_riff({{"fmt ", fmt_content(0x0069, channels, rate, fmt_bytes)}, {"data", adpcm}});
}

class PlaybackTest : public module_fixture {
protected:
    // Starts the decode thread the way Play does, but over a hand-built entry
    // table, so the engine's entry stepping can be tested on its own.
    void start_engine(const std::string& path, int32_t data_start, int32_t data_length,
                      const std::vector<entry_row>& entries) {
        host.attach_output();
        connect_engine_to_player();
        stream_description item;
        description_init(&item);
        ASSERT_TRUE(add_entries(&item, entries));
        item.kind = STREAM_BANK;
        item.data_start = data_start;
        item.data_length = data_length;
        install_item(&item);
        player_state.file = file_open_read(path.c_str());
        ASSERT_NE(player_state.file, INVALID_FILE);
        player_state.item.file_bytes = file_size(player_state.file);
        ASSERT_TRUE(plan_timeline());
        store_relaxed(player_state.decode_pos_ms, 0);
        store_relaxed(player_state.seek_request_ms, NO_SEEK_REQUEST);
        strcpy(player_state.title, "bank.xwb");
        ASSERT_EQ(open_output(), 0);
        store_relaxed(player_state.kill_flag, 0);
        player_state.decode_thread_handle = thread_start(decode_thread, &player_state.kill_flag);
        ASSERT_NE(player_state.decode_thread_handle, nullptr);
    }
};

// ---- Whole streams --------------------------------------------------------------

struct stream_case {
    uint16_t channels;
    uint32_t rate;
    uint32_t block_sets;
    uint32_t trailing_bytes;  // less than a block set, never played
};

TEST_F(PlaybackTest, WaveStreamsPlayBitExactWithTheAnnouncedFormat) {
    const stream_case cases[] = {
        {1, 22050, 7, 0}, {2, 44100, 12, 40}, {3, 32000, 5, 107}, {2, 8000, 1, 71}, {8, 48000, 3, 1},
    };
    for (const stream_case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " channels at " << c.rate);
        host.clear_calls();
        bytes adpcm = concat({tone_adpcm(c.channels, c.block_sets, c.rate), random_bytes(c.trailing_bytes, 5)});
        std::string path = write("tone.wav", adpcm_wave(adpcm, c.channels, c.rate));
        ASSERT_EQ(play_to_end(path), 0);

        EXPECT_EQ(host.written(), reference_pcm(adpcm, c.channels));
        long long bitrate = (long long)(c.channels * c.rate * 16u / 1000u);
        // From Play on: the player's own volume and pan come before it.
        std::vector<host_call> calls = host.calls();
        while (!calls.empty() && calls[0].name != "Open") calls.erase(calls.begin());
        ASSERT_GE(calls.size(), 5u);
        EXPECT_EQ(calls[0].name, "Open");
        EXPECT_EQ(calls[0].args, (std::vector<long long>{c.rate, c.channels, 16, -1, -1}));
        EXPECT_EQ(calls[1].name, "SetInfo");
        EXPECT_EQ(calls[1].args, (std::vector<long long>{bitrate, c.rate / 1000, c.channels, 1}));
        EXPECT_EQ(calls[2].name, "SAVSAInit");
        EXPECT_EQ(calls[2].args, (std::vector<long long>{0, c.rate}));
        EXPECT_EQ(calls[3].name, "VSASetInfo");
        EXPECT_EQ(calls[3].args, (std::vector<long long>{c.rate, c.channels}));
        EXPECT_EQ(calls[4].name, "SetVolume");
        EXPECT_EQ(calls[4].args, (std::vector<long long>{-666}));
        EXPECT_EQ(calls[calls.size() - 2].name, "Close");
        EXPECT_EQ(calls.back().name, "SAVSADeInit");
        EXPECT_EQ(host.end_of_stream_messages(), 1);
        EXPECT_EQ(host.calls_named("Open").size(), 1u);
    }
}

TEST_F(PlaybackTest, RawFilePlaysAsStereoAt44100) {
    bytes data = random_bytes(72 * 9 + 50, 11);
    ASSERT_EQ(play_to_end(write("noise.dat", data)), 0);
    EXPECT_EQ(host.written(), reference_pcm(data, 2));
    EXPECT_EQ(args_of("Open")[0], (std::vector<long long>{44100, 2, 16, -1, -1}));
}

TEST_F(PlaybackTest, PartialBlockSetAtTheEndOfTheDataIsNotCompletedFromTheNextChunk) {
    // 40 bytes of a stereo block set end the data; the chunk after it must not
    // fill the set up.
    bytes adpcm = concat({tone_adpcm(2, 3, 4), random_bytes(40, 6)});
    bytes file = build_riff({{"data", adpcm}, {"LIST", random_bytes(200, 7)}, {"fmt ", fmt_content(0x69, 2, 44100)}});
    ASSERT_EQ(play_to_end(write("chunks.wav", file)), 0);
    EXPECT_EQ(host.written(), reference_pcm(adpcm, 2));
}

TEST_F(PlaybackTest, EmptyDataDrainsAndEndsAtOnce) {
    ASSERT_EQ(play_to_end(write("empty.wav", adpcm_wave({}, 2, 44100))), 0);
    EXPECT_TRUE(host.written().empty());
    EXPECT_TRUE(host.calls_named("SAAddPCMData").empty());
    EXPECT_EQ(host.end_of_stream_messages(), 1);
}

// The player's visualisation reads 576 frames from the pointer it gets; the
// module hands it that many frames of the sound it decoded, whatever the
// channel count and whatever a DSP does to the sound written.
TEST_F(PlaybackTest, VisualisationGets576FramesOfTheDecodedSoundWithTheirTime) {
    const struct {
        uint16_t channels;
        uint32_t rate;
        int dsp_factor;  // 0: no DSP; else the DSP hands back n * factor / 2 samples
    } cases[] = {{1, 8000, 0},  {2, 44100, 0}, {3, 22050, 0}, {4, 32000, 4},
                 {5, 11025, 0}, {6, 48000, 1}, {7, 16000, 0}, {8, 96000, 0}};
    host.keep_visualisation = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " channels at " << c.rate);
        host.clear_calls();
        host.dsp_active = c.dsp_factor != 0;
        host.dsp = [&](short*, int n, int) { return n * c.dsp_factor / 2; };
        bytes adpcm = tone_adpcm(c.channels, 40, c.channels);  // 2 600 frames: 4 collections
        ASSERT_EQ(play_to_end(write("vis.wav", adpcm_wave(adpcm, c.channels, c.rate))), 0);
        bytes pcm = reference_pcm(adpcm, c.channels);

        std::vector<visualisation_capture> captures = host.visualisation();
        ASSERT_EQ(captures.size(), 2u * 4);
        for (size_t i = 0; i < captures.size(); ++i) {
            size_t collection = i / 2;
            size_t frame_bytes = 2u * c.channels;
            bytes expected = slice(pcm, collection * 576 * frame_bytes, 576 * frame_bytes);
            bytes got((const uint8_t*)captures[i].samples.data(),
                      (const uint8_t*)captures[i].samples.data() + expected.size());
            EXPECT_EQ(got, expected) << "call " << i;
            EXPECT_EQ(captures[i].channels, c.channels);
            EXPECT_EQ(captures[i].time_ms, (int)(collection * 576 * 1000 / c.rate));
        }
    }
    host.dsp = nullptr;
    host.dsp_active = 0;
}

// The position is the exact stream time of the sound handed on: never more
// than one block set from the time of what was written, and the stream's
// exact duration when it ends.
TEST_F(PlaybackTest, PositionIsTheStreamTimeOfTheSoundWritten) {
    for (uint32_t rate : {8000u, 22050u, 44100u, 48000u}) {
        SCOPED_TRACE(rate);
        host.clear_calls();
        int64_t block_sets = (int64_t)rate * 60 / SAMPLES_PER_BLOCK + 1;  // a minute of stereo sound
        int64_t frames = block_sets * SAMPLES_PER_BLOCK;
        // Sampled on the decode thread just before each block set is written.
        int64_t worst_gap_ms = 0;
        host.dsp_active = 1;
        host.dsp = [&](short*, int n, int) {
            int64_t written_ms = (int64_t)(host.written_bytes() / 4) * 1000 / rate;
            int64_t gap = host.module->GetOutputTime() - written_ms;
            if (gap < 0) gap = -gap;
            if (gap > worst_gap_ms) worst_gap_ms = gap;
            return n;
        };
        ASSERT_EQ(host.play(write("minute.wav", adpcm_wave(random_bytes((size_t)block_sets * 72, rate), 2, rate))), 0);
        ASSERT_TRUE(host.wait_for_end_of_stream(60000));
        EXPECT_LE(worst_gap_ms, (int64_t)(SAMPLES_PER_BLOCK * 1000 / rate + 1));
        EXPECT_EQ(host.position_at_end_ms(), (int)(frames * 1000 / rate));
        // A single stream keeps the length the player has always shown.
        // In steps of 130 ms: ((bytes x 10 / ((rate / 100) x channels x 2)) / 36) x 130.
        EXPECT_EQ(host.shown_length_ms(), (int)((int64_t)block_sets * 72 * 10 / ((rate / 100) * 4) / 36 * 130));
    }
    host.dsp = nullptr;
    host.dsp_active = 0;
}

// ---- Seeking ----------------------------------------------------------------

struct seek_case {
    int request_ms;
    int expected_ms;
    int32_t expected_position;
};

TEST_F(PlaybackTest, SeekLandsOnWholeSecondsAndWholeBlockPairs) {
    // Stereo 44100 Hz with the data at offset 60.
    bytes adpcm = random_bytes(3000000, 21);
    std::string path = write("long.wav", wave_with_data_start(adpcm, 2, 44100, 60));
    const seek_case cases[] = {
        {61500, 61000, 2979852},  // 2 690 100 samples: 20 693 pairs of blocks
        {999, 0, 60},
        {1000, 1000, 60 + 339 * 144},
        {-2500, 0, 60},  // before the start: the start
    };
    for (const seek_case& c : cases) {
        SCOPED_TRACE(c.request_ms);
        host.can_write = 0;
        ASSERT_EQ(host.play(path), 0);
        host.clear_calls();
        host.module->SetOutputTime(c.request_ms);
        ASSERT_TRUE(host.wait_until([&] { return !host.calls_named("Flush").empty(); }));
        EXPECT_EQ(args_of("Flush")[0], (std::vector<long long>{c.expected_ms}));
        EXPECT_EQ(host.module->GetOutputTime(), c.expected_ms);

        host.can_write = BIG_ROOM;
        ASSERT_TRUE(host.wait_until([&] { return host.written().size() >= 260; }));
        bytes expected = reference_pcm(slice(adpcm, (size_t)c.expected_position - 60, 72), 2);
        EXPECT_EQ(slice(host.written(), 0, 260), expected);
        host.module->Stop();
    }
}

TEST_F(PlaybackTest, SeekFarBeyondTheEndEndsTheStream) {
    bytes adpcm = random_bytes(72 * 40, 4);
    host.can_write = 0;
    ASSERT_EQ(host.play(write("short.wav", adpcm_wave(adpcm, 2, 44100))), 0);
    host.module->SetOutputTime(2000000000);
    host.can_write = BIG_ROOM;
    EXPECT_TRUE(host.wait_for_end_of_stream());
    EXPECT_TRUE(host.written().empty());
}

TEST_F(PlaybackTest, SeekWhileDrainingResumesDecoding) {
    bytes adpcm = tone_adpcm(2, 3, 8);
    bytes pcm = reference_pcm(adpcm, 2);
    host.is_playing = 1;
    ASSERT_EQ(host.play(write("d.wav", adpcm_wave(adpcm, 2, 44100))), 0);
    ASSERT_TRUE(host.wait_until([&] { return host.written().size() == pcm.size(); }));
    host.pump_for(60);
    EXPECT_EQ(host.end_of_stream_messages(), 0);  // held back while the output plays

    host.module->SetOutputTime(0);
    ASSERT_TRUE(host.wait_until([&] { return host.written().size() == 2 * pcm.size(); }));
    host.is_playing = 0;
    ASSERT_TRUE(host.wait_for_end_of_stream());
    EXPECT_EQ(host.written(), concat({pcm, pcm}));
    EXPECT_EQ(host.end_of_stream_messages(), 1);
}

// ---- Output room and the DSP ---------------------------------------------------

TEST_F(PlaybackTest, WritesOnlyWhenTheOutputHasRoomForABlockSet) {
    const struct {
        uint16_t channels;
        int dsp;
        int room;
        bool writes;
    } cases[] = {
        {2, 0, 259, false}, {2, 0, 260, true}, {2, 1, 519, false}, {2, 1, 520, true},
        {1, 0, 129, false}, {1, 0, 130, true}, {3, 1, 779, false}, {3, 1, 780, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " channels, dsp " << c.dsp << ", room " << c.room);
        host.clear_calls();
        host.can_write = c.room;
        host.dsp_active = c.dsp;
        int polls_before = host.can_write_polls();
        ASSERT_EQ(host.play(write("r.wav", adpcm_wave(tone_adpcm(c.channels, 50, 1), c.channels, 44100))), 0);
        if (c.writes) {
            EXPECT_TRUE(host.wait_until([&] { return !host.written().empty(); }));
        } else {
            ASSERT_TRUE(host.wait_until([&] { return host.can_write_polls() > polls_before + 3; }));
            EXPECT_TRUE(host.written().empty());
        }
        host.module->Stop();
    }
}

TEST_F(PlaybackTest, DspOutputIsWrittenAndBoundedByTheBuffer) {
    bytes adpcm = tone_adpcm(2, 3, 2);
    bytes pcm = reference_pcm(adpcm, 2);
    const struct {
        const char* name;
        int factor_num;  // returned = n * num / den, or a fixed value when den is 0
        int factor_den;
        int expected_bytes_per_set;
    } cases[] = {
        {"identity", 1, 1, 260}, {"doubling", 2, 1, 520}, {"claims ten times", 10, 1, 520},
        {"halving", 1, 2, 128},  {"negative", -5, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host.clear_calls();
        host.dsp_active = 1;
        host.dsp = [&](short*, int n, int) { return c.factor_den ? n * c.factor_num / c.factor_den : c.factor_num; };
        ASSERT_EQ(play_to_end(write("dsp.wav", adpcm_wave(adpcm, 2, 44100))), 0);
        std::vector<std::vector<long long>> writes = args_of("Write");
        ASSERT_EQ(writes.size(), 3u);
        for (const auto& w : writes) EXPECT_EQ(w[0], c.expected_bytes_per_set);
        for (const auto& d : args_of("dsp_dosamples")) EXPECT_EQ(d, (std::vector<long long>{65, 16, 2, 44100}));
        if (c.factor_num == 1 && c.factor_den == 1) {
            EXPECT_EQ(host.written(), pcm);
        }
    }
    host.dsp = nullptr;
}

// ---- Stop and refusals --------------------------------------------------------------

TEST_F(PlaybackTest, StopReturnsPromptlyWhileTheOutputIsFull) {
    host.can_write = 0;
    ASSERT_EQ(host.play(write("s.wav", adpcm_wave(tone_adpcm(2, 20, 1), 2, 44100))), 0);
    host.pump_for(30);
    uint64_t before = clock_ms();
    host.module->Stop();
    // The thread looks at the stop flag after every 20 ms sleep; the bound
    // here only catches a Stop that waits for something else.
    EXPECT_LT(clock_ms() - before, 1000u);
    EXPECT_EQ(player_state.decode_thread_handle, nullptr);
    EXPECT_EQ(player_state.file, INVALID_FILE);
    std::vector<std::string> names = host.call_names();
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[names.size() - 2], "Close");
    EXPECT_EQ(names.back(), "SAVSADeInit");
    EXPECT_EQ(host.end_of_stream_messages(), 0);
}

TEST_F(PlaybackTest, UnplayableFilesAreRefusedWithNothingLeftOpen) {
    const struct {
        const char* name;
        bytes content;
        bool output_fails;
    } cases[] = {
        {"pcm.wav", build_riff({{"fmt ", fmt_content(1, 2, 44100)}, {"data", random_bytes(72, 1)}}), false},
        {"zero-channels.wav", adpcm_wave(random_bytes(72, 1), 0, 44100), false},
        {"nine-channels.wav", adpcm_wave(random_bytes(9 * 36, 1), 9, 44100), false},
        {"slow.wav", adpcm_wave(random_bytes(72, 1), 2, 99), false},
        {"zero-rate.wav", adpcm_wave(random_bytes(72, 1), 2, 0), false},
        {"output-fails.wav", adpcm_wave(random_bytes(72, 1), 2, 44100), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host.clear_calls();
        host.open_result = c.output_fails ? -1 : 0;
        EXPECT_EQ(host.play(write(c.name, c.content)), 1);
        EXPECT_EQ(player_state.file, INVALID_FILE);
        EXPECT_EQ(player_state.decode_thread_handle, nullptr);
        EXPECT_EQ(host.calls_named("Open").size(), c.output_fails ? 1u : 0u);
        for (const host_call& call : host.calls_named("SetVolume")) EXPECT_NE(call.args[0], -666);
        // Stop after a refused Play still closes the output and the visualisation.
        host.module->Stop();
        std::vector<std::string> names = host.call_names();
        ASSERT_GE(names.size(), 2u);
        EXPECT_EQ(names[names.size() - 2], "Close");
        EXPECT_EQ(names.back(), "SAVSADeInit");
    }
    host.open_result = 0;
    EXPECT_EQ(host.play(scratch.path + "missing.wav"), 1);
    EXPECT_EQ(player_state.file, INVALID_FILE);
}

TEST_F(PlaybackTest, PlayWithoutStopEndsThePreviousItemFirst) {
    host.can_write = 0;
    std::string path = write("a.wav", adpcm_wave(tone_adpcm(2, 20, 1), 2, 44100));
    ASSERT_EQ(host.play(path), 0);
    platform_thread* first = player_state.decode_thread_handle;
    ASSERT_EQ(host.play(path), 0);
    EXPECT_NE(player_state.decode_thread_handle, nullptr);
    (void)first;
    EXPECT_EQ(host.calls_named("Close").size(), 1u);
}

// An item paused when it was stopped does not leave the next one paused.
TEST_F(PlaybackTest, EveryItemStartsUnpaused) {
    std::string path = write("a.wav", adpcm_wave(tone_adpcm(2, 20, 1), 2, 44100));
    host.can_write = 0;
    ASSERT_EQ(host.play(path), 0);
    host.module->Pause();
    host.module->Stop();
    host.clear_calls();
    ASSERT_EQ(host.play(path), 0);
    EXPECT_EQ(host.module->IsPaused(), 0);
    EXPECT_TRUE(host.calls_named("Pause").empty());
}

// ---- Entry tables ------------------------------------------------------------------

TEST_F(PlaybackTest, EntriesPlayInTurnAcrossGapsWithTheirOwnFormat) {
    bytes e0 = tone_adpcm(2, 2, 1), e1 = tone_adpcm(1, 3, 2), e2 = tone_adpcm(3, 1, 3);
    bytes file = concat({e0, random_bytes(100, 9), e1, e2});
    std::string path = write("bank.bin", file);
    int32_t o1 = (int32_t)(e0.size() + 100), o2 = o1 + (int32_t)e1.size();
    start_engine(
        path, 0, (int32_t)file.size(),
        {{0, (int32_t)e0.size(), 44100, 2}, {o1, (int32_t)e1.size(), 22050, 1}, {o2, (int32_t)e2.size(), 32000, 3}});
    ASSERT_TRUE(host.wait_for_end_of_stream());

    EXPECT_EQ(host.written(), concat({reference_pcm(e0, 2), reference_pcm(e1, 1), reference_pcm(e2, 3)}));
    std::vector<std::vector<long long>> opens = args_of("Open");
    ASSERT_EQ(opens.size(), 3u);
    EXPECT_EQ(opens[1], (std::vector<long long>{22050, 1, 16, -1, -1}));
    EXPECT_EQ(opens[2], (std::vector<long long>{32000, 3, 16, -1, -1}));
    EXPECT_EQ(args_of("VSASetInfo")[2], (std::vector<long long>{32000, 3}));
    EXPECT_EQ(host.end_of_stream_messages(), 1);
    // The last entry stays current while the stream ends.
    EXPECT_EQ(load_relaxed(player_state.current_entry), 2);
}

TEST_F(PlaybackTest, EntriesEndingBeforeThePositionArePassedOver) {
    bytes e0 = tone_adpcm(2, 2, 1), e2 = tone_adpcm(2, 1, 2);
    bytes file = concat({e0, e2});
    start_engine(write("skip.bin", file), 0, (int32_t)file.size(),
                 {{0, 144, 44100, 2}, {36, 36, 22050, 1}, {144, 72, 32000, 2}});
    ASSERT_TRUE(host.wait_for_end_of_stream());
    std::vector<std::vector<long long>> opens = args_of("Open");
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[1][0], 32000);
    EXPECT_EQ(host.written(), concat({reference_pcm(e0, 2), reference_pcm(e2, 2)}));
}

TEST_F(PlaybackTest, DataAfterTheLastEntryEndsTheStreamWithoutReplayingTheFirst) {
    bytes e0 = tone_adpcm(2, 1, 1), e1 = tone_adpcm(2, 1, 2);
    bytes file = concat({e0, e1, random_bytes(720, 3)});
    start_engine(write("tail.bin", file), 0, (int32_t)file.size(), {{0, 72, 44100, 2}, {72, 72, 44100, 2}});
    ASSERT_TRUE(host.wait_for_end_of_stream());
    EXPECT_EQ(host.written(), concat({reference_pcm(e0, 2), reference_pcm(e1, 2)}));
    EXPECT_EQ(args_of("Open").size(), 2u);
    char title[HOST_TITLE_BYTES] = "";
    host.module->GetFileInfo(nullptr, title, nullptr);
    EXPECT_STREQ(title, "bank.xwb - 2 / 2");
}

TEST_F(PlaybackTest, EntryOutsideTheFileEndsTheStream) {
    bytes e0 = tone_adpcm(2, 1, 1);
    start_engine(write("neg.bin", concat({e0, e0})), 0, 144, {{0, 72, 44100, 2}, {-100, 1000, 44100, 2}});
    ASSERT_TRUE(host.wait_for_end_of_stream());
    EXPECT_EQ(host.written(), reference_pcm(e0, 2));
}

TEST_F(PlaybackTest, SeekIntoAnEntryAlignsToItsOwnBlockSets) {
    // 100 000 bytes each: 1 388 stereo block sets at 44100 Hz (2 045 ms)
    // twice, then 925 three-channel ones at 22050 Hz from 4 090 ms. 5 s is
    // 910 ms into the third entry: 154 pairs of its blocks, 33 264 bytes in.
    bytes file = random_bytes(300000, 17);
    host.can_write = 0;
    start_engine(write("seek.bin", file), 0, 300000,
                 {{0, 100000, 44100, 2}, {100000, 100000, 44100, 2}, {200000, 100000, 22050, 3}});
    host.clear_calls();
    host.module->SetOutputTime(5300);
    ASSERT_TRUE(host.wait_until([&] { return !host.calls_named("VSASetInfo").empty(); }));
    EXPECT_EQ(load_relaxed(player_state.current_entry), 2);
    EXPECT_EQ(host.call_names()[0], "Flush");
    EXPECT_EQ(args_of("Flush")[0], (std::vector<long long>{5000}));
    EXPECT_EQ(args_of("Open")[0], (std::vector<long long>{22050, 3, 16, -1, -1}));
    host.can_write = BIG_ROOM;
    ASSERT_TRUE(host.wait_until([&] { return host.written().size() >= 390; }));
    EXPECT_EQ(slice(host.written(), 0, 390), reference_pcm(slice(file, 233264, 108), 3));
}

// A stream data file plays its bytes in front of the first entry as part of
// that entry, so a seek to the start plays them again.
TEST_F(PlaybackTest, SeekToTheStartPlaysTheBytesInFrontOfTheFirstEntry) {
    bytes file = random_bytes(4096 + 720, 23);
    host.can_write = 0;
    start_engine(write("front.bin", file), 0, (int32_t)file.size(), {{4096, 720, 44100, 2}});
    host.clear_calls();
    host.module->SetOutputTime(0);
    ASSERT_TRUE(host.wait_until([&] { return !host.calls_named("Open").empty(); }));
    host.can_write = BIG_ROOM;
    ASSERT_TRUE(host.wait_for_end_of_stream());
    EXPECT_EQ(host.written(), reference_pcm(file, 2));
}

// The room asked before each write is that of the block set about to be
// written, also for the first one after an entry with fewer channels.
TEST_F(PlaybackTest, RoomIsAskedForEveryBlockSetOfTheEntryPlaying) {
    bytes mono = tone_adpcm(1, 20, 1), three = tone_adpcm(3, 10, 2);
    bytes file = concat({mono, three});
    host.can_write = 200;  // a mono block set fits, a 3-channel one (390 bytes) does not
    start_engine(write("room.bin", file), 0, (int32_t)file.size(),
                 {{0, (int32_t)mono.size(), 22050, 1}, {(int32_t)mono.size(), (int32_t)three.size(), 22050, 3}});
    bytes mono_pcm = reference_pcm(mono, 1);
    ASSERT_TRUE(host.wait_until([&] { return host.written_bytes() == mono_pcm.size(); }));
    ASSERT_TRUE(host.wait_until([&] { return host.calls_named("Open").size() == 2; }));
    host.pump_for(60);
    EXPECT_EQ(host.written_bytes(), mono_pcm.size());
    host.can_write = BIG_ROOM;
    ASSERT_TRUE(host.wait_for_end_of_stream());
    EXPECT_EQ(host.written(), concat({mono_pcm, reference_pcm(three, 3)}));
    EXPECT_EQ(host.writes_beyond_room(), 0);
}

// ---- What the player shows of a bank ------------------------------------------------

// An entry as it is heard: its whole units at its own format and codec, and
// the number the title counter gives it.
struct heard_entry {
    bytes sound;
    uint32_t rate;
    uint16_t channels;
    int number;
    entry_codec codec = CODEC_XBOX_ADPCM;
    int64_t start_ms = 0;
    int64_t duration_ms = 0;

    bytes pcm() const {
        return reference_pcm_of(codec, sound, channels);
    }
    int64_t frames() const {
        return (int64_t)pcm().size() / (2 * channels);
    }
};

// A bank with Xbox ADPCM entries of four formats, 16- and 8-bit PCM entries,
// gaps, a WMA record (skipped by the reader), entries whose last unit is
// partial, and an entry lying inside the one before it (passed over by the
// engine, though the title counts it). The timeline below is worked out here,
// not by the module.
struct mixed_bank {
    bytes file;
    std::vector<heard_entry> heard;
    int64_t length_ms = 0;
};

mixed_bank make_mixed_bank() {
    mixed_bank bank;
    bank.heard = {{tone_adpcm(2, 1500, 1), 44100, 2, 1},
                  {tone_adpcm(1, 700, 2), 22050, 1, 2},
                  {tone_adpcm(3, 800, 3), 32000, 3, 3},
                  {tone_adpcm(2, 400, 4), 48000, 2, 5},
                  {random_bytes(2 * 30000 + 1, 5), 22050, 1, 6, CODEC_PCM16},
                  {random_bytes(12001, 6), 11025, 2, 7, CODEC_PCM8}};
    const bytes& e0 = bank.heard[0].sound;
    const bytes& e1 = bank.heard[1].sound;
    const bytes& e2 = bank.heard[2].sound;
    const bytes& e3 = bank.heard[3].sound;
    const bytes& e4 = bank.heard[4].sound;
    const bytes& e5 = bank.heard[5].sound;
    bytes partial = random_bytes(50, 9);  // after entry 0's last whole block set
    wave_bank_design design;
    design.entry_data = concat({e0, partial, random_bytes(100, 8), random_bytes(144, 7), e1, e2, e3, e4, e5});
    uint32_t o1 = (uint32_t)(e0.size() + 50 + 100 + 144), o2 = o1 + (uint32_t)e1.size(), o3 = o2 + (uint32_t)e2.size();
    uint32_t o4 = o3 + (uint32_t)e3.size(), o5 = o4 + (uint32_t)e4.size();
    design.entries = {{format_word(1, 2, 44100), 0, (uint32_t)(e0.size() + 50)},
                      {format_word(2, 2, 44100), (uint32_t)(e0.size() + 150), 144},
                      {format_word(1, 1, 22050), o1, (uint32_t)e1.size()},
                      {format_word(1, 3, 32000), o2, (uint32_t)e2.size()},
                      {format_word(1, 1, 8000), o2 + 108, 216},
                      {format_word(1, 2, 48000), o3, (uint32_t)e3.size()},
                      {format_word(0, 1, 22050) | 0x80000000u, o4, (uint32_t)e4.size()},
                      {format_word(0, 2, 11025), o5, (uint32_t)e5.size()}};
    bank.file = build_wave_bank(design);
    for (heard_entry& e : bank.heard) {
        e.start_ms = bank.length_ms;
        e.duration_ms = e.frames() * 1000 / e.rate;
        bank.length_ms += e.duration_ms;
    }
    return bank;
}

// Played through to the end, every block set is written once, with room
// asked for it first; the length never changes; the position never goes
// back, ends at the length, and each visualisation call carries 576 frames
// of one entry stamped with their time.
TEST_F(PlaybackTest, ABanksTimelineIsTheSoundOfItsEntriesEachAtItsOwnFormat) {
    mixed_bank bank = make_mixed_bank();
    ASSERT_EQ(bank.length_ms, 2210 + 2063 + 1625 + 541 + 1360 + 544);
    // A quick paced output, so the module waits for room now and then. Its
    // clocks stay at 0: the position seen is the module's own, unrounded.
    host.use_paced_output(32768, 8000000);
    host.scripted_clocks = true;
    host.keep_visualisation = true;
    struct sample {
        int length_ms;
        int position_ms;
    };
    std::vector<sample> samples;
    host.dsp_active = 1;
    host.dsp = [&](short*, int n, int) {
        samples.push_back({host.module->GetLength(), host.module->GetOutputTime()});
        return n;
    };
    ASSERT_EQ(host.play(write("mixed.xwb", bank.file)), 0);
    EXPECT_EQ(host.shown_title(), "mixed.xwb - 1 / 7");
    EXPECT_EQ(host.shown_length_ms(), bank.length_ms);
    ASSERT_TRUE(host.wait_for_end_of_stream());
    host.dsp = nullptr;
    host.dsp_active = 0;

    bytes expected;
    for (const heard_entry& e : bank.heard) expected = concat({expected, e.pcm()});
    EXPECT_TRUE(host.written() == expected) << host.written().size() << " bytes written, " << expected.size();
    EXPECT_EQ(host.writes_beyond_room(), 0);
    EXPECT_EQ(host.unheard_bytes(), 0u);
    int previous_ms = 0;
    for (const sample& s : samples) {
        EXPECT_EQ(s.length_ms, bank.length_ms);
        EXPECT_GE(s.position_ms, previous_ms);
        previous_ms = s.position_ms;
    }
    EXPECT_EQ(host.position_at_end_ms(), bank.length_ms);

    std::vector<visualisation_capture> captures = host.visualisation();
    size_t call = 0;
    for (const heard_entry& e : bank.heard) {
        bytes pcm = e.pcm();
        size_t frame_bytes = 2u * e.channels;
        for (size_t k = 0; (k + 1) * 576 * frame_bytes <= pcm.size(); ++k) {
            for (int twice = 0; twice < 2; ++twice, ++call) {
                ASSERT_LT(call, captures.size());
                bytes got((const uint8_t*)captures[call].samples.data(),
                          (const uint8_t*)captures[call].samples.data() + 576 * frame_bytes);
                EXPECT_TRUE(got == slice(pcm, k * 576 * frame_bytes, 576 * frame_bytes)) << "call " << call;
                EXPECT_EQ(captures[call].time_ms, (int)(e.start_ms + (int64_t)k * 576 * 1000 / e.rate));
            }
        }
    }
    EXPECT_EQ(call, captures.size());
}

// A seek to any whole second lands in the entry the timeline puts there, at
// the pair of Xbox ADPCM blocks (130 frames, in every codec) the time into it
// gives; past the end it ends the item.
TEST_F(PlaybackTest, SeeksIntoABankLandWhereTheTimelineSays) {
    mixed_bank bank = make_mixed_bank();
    std::string path = write("mixed.xwb", bank.file);
    for (int second = 0; second * 1000 <= bank.length_ms + 1000; ++second) {
        SCOPED_TRACE(second);
        int64_t target_ms = second * 1000;
        host.clear_calls();
        host.can_write = 0;
        ASSERT_EQ(host.play(path), 0);
        host.module->SetOutputTime((int)target_ms + 400);
        ASSERT_TRUE(host.wait_until([&] { return !host.calls_named("Flush").empty(); }));
        EXPECT_EQ(args_of("Flush")[0], (std::vector<long long>{target_ms}));
        const heard_entry* landing = nullptr;
        for (const heard_entry& e : bank.heard)
            if (e.start_ms <= target_ms && target_ms < e.start_ms + e.duration_ms) landing = &e;
        char title[HOST_TITLE_BYTES] = "";
        host.module->GetFileInfo(nullptr, title, nullptr);
        EXPECT_EQ(host.module->GetLength(), bank.length_ms);
        host.can_write = BIG_ROOM;
        if (!landing) {
            EXPECT_TRUE(host.wait_for_end_of_stream());
            EXPECT_TRUE(host.written().empty());
            continue;
        }
        size_t pairs = (size_t)((target_ms - landing->start_ms) * landing->rate / 130000);
        size_t pcm_bytes = 130u * landing->channels;
        ASSERT_TRUE(host.wait_until([&] { return host.written_bytes() >= pcm_bytes; }));
        EXPECT_EQ(slice(host.written(), 0, pcm_bytes), slice(landing->pcm(), 2 * pairs * pcm_bytes, pcm_bytes));
        EXPECT_EQ(std::string(title), "mixed.xwb - " + std::to_string(landing->number) + " / 7");
        host.module->Stop();
    }
}

// Paused at the end of an entry for longer than the wait for it to play out,
// the module keeps waiting: nothing is flushed unheard, and the next entry
// (here of another codec) starts only when the listener resumes. A seek while
// paused re-opens the output paused.
TEST_F(PlaybackTest, PauseHoldsAcrossEntryChangesAndSeeks) {
    // 736 ms of stereo Xbox ADPCM at 44100 Hz, then 1 179 ms of mono 16-bit
    // PCM at 22050 Hz.
    bytes e0 = tone_adpcm(2, 500, 1), e1 = random_bytes(2 * 26000, 2);
    wave_bank_design design;
    design.entry_data = concat({e0, e1});
    design.entries = {{format_word(1, 2, 44100), 0, (uint32_t)e0.size()},
                      {format_word(0, 1, 22050) | 0x80000000u, (uint32_t)e0.size(), (uint32_t)e1.size()}};
    std::string path = write("paused.xwb", build_wave_bank(design));
    bytes pcm0 = reference_pcm(e0, 2);
    // A sound card at 44100 Hz stereo holding the whole of entry 0.
    host.use_paced_output((uint32_t)pcm0.size() + 1000, 44100 * 4);

    ASSERT_EQ(host.play(path), 0);
    ASSERT_TRUE(host.wait_until([&] { return host.written_bytes() == pcm0.size(); }));
    host.module->Pause();
    host.clear_calls();
    host.pump_for(2600);
    EXPECT_TRUE(host.calls_named("Flush").empty());
    EXPECT_TRUE(host.calls_named("Open").empty());
    EXPECT_EQ(host.shown_title(), "paused.xwb - 1 / 2");
    host.module->UnPause();
    ASSERT_TRUE(host.wait_for_end_of_stream());
    EXPECT_EQ(host.unheard_bytes(), 0u);
    EXPECT_TRUE(host.written() == e1);

    // Seeking into the second entry while paused.
    host.clear_calls();
    ASSERT_EQ(host.play(path), 0);
    host.module->Pause();
    host.clear_calls();
    host.module->SetOutputTime(1000);
    ASSERT_TRUE(host.wait_until([&] { return !host.calls_named("Open").empty(); }));
    host.pump_for(100);
    std::vector<std::string> names = host.call_names();
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] != "Open") continue;
        ASSERT_LT(i + 1, names.size());
        EXPECT_EQ(names[i + 1], "Pause");
        EXPECT_EQ(host.calls()[i + 1].args, (std::vector<long long>{1}));
    }
    host.module->UnPause();
    ASSERT_TRUE(host.wait_for_end_of_stream());
}

}  // namespace
