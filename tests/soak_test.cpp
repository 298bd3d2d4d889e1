// Soak test: seeded random sequences of the calls a player makes (Play,
// seeks, pause, the position and title queries for the item and for other
// files of the playlist, Stop) against an output that plays in real time,
// over every file kind. Checks that Stop returns promptly, that an item
// sends at most one end-of-stream message (exactly one when it was seen to
// end) and none once Stop has returned, and that no file descriptor or
// thread outlives its item. TOLVANE_TEST_SEED replays a run;
// TOLVANE_SOAK_MS sets how long it runs (default 8 s).

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "player/player_state.h"
#include "plugin/module.h"
#include "tests/support/sample_files.h"
#include "tests/support/test_host.h"

namespace {

// Longer than any sleep of the decode thread (the longest is 50 ms, while
// an entry's sound plays out) plus the thread's exit, with room for a
// loaded machine and the sanitizers.
const uint64_t STOP_LIMIT_MS = 100;

bytes concat(std::vector<bytes> parts) {
    bytes out;
    for (const bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// One file of every kind, each a second or less of sound.
std::vector<std::string> write_every_kind(const std::string& dir) {
    bytes e0 = tone_adpcm(2, 300, 1), e1 = tone_adpcm(1, 200, 2), e2 = tone_adpcm(2, 150, 3);
    wave_bank_design design;
    design.entries = {{format_word(1, 2, 44100), 0, (uint32_t)e0.size()},
                      {format_word(1, 1, 22050), (uint32_t)e0.size(), (uint32_t)e1.size()},
                      {format_word(1, 2, 32000), (uint32_t)(e0.size() + e1.size()), (uint32_t)e2.size()}};
    design.entry_data = concat({e0, e1, e2});
    bytes bank = build_wave_bank(design);
    bytes pair_data = concat({e1, e0});

    std::vector<std::string> paths = {
        write_file_in(dir, "tone.wav", adpcm_wave(e0, 2, 44100)),
        write_file_in(dir, "noise.dat", e2),
        write_file_in(dir, "bank.xwb", bank),
        write_file_in(dir, "bank.wba", in_bank_container(bank)),
        write_file_in(dir, "bank.zwb", compressed_bank(bank, (uint32_t)bank.size())),
    };
    write_file_in(
        dir, "pair.xsh",
        build_stream_header({{0, (int32_t)e1.size(), 22050, 1}, {(int32_t)e1.size(), (int32_t)e0.size(), 44100, 2}}));
    paths.push_back(write_file_in(dir, "pair.xsd", pair_data));
    paths.push_back(dir + "pair.xsh");
    return paths;
}

struct soak_totals {
    int items = 0;
    int played_to_end = 0;
    int stopped_early = 0;
    int refused = 0;
};

class soak_run {
public:
    soak_run(test_host& host, const std::vector<std::string>& files, uint32_t seed)
        : host_(host), files_(files), random_(seed) {}

    void play_one_item(soak_totals& totals) {
        int descriptors = open_descriptors();
        int threads = running_threads();
        host_.clear_calls();
        const std::string& file = files_[pick(files_.size())];
        SCOPED_TRACE(file);
        ++totals.items;
        if (host_.play(file) != 0) {
            ++totals.refused;
            host_.module->Stop();
            return;
        }
        bool ended = false;
        int calls = 1 + (int)pick(12);
        for (int i = 0; i < calls && !ended; ++i) ended = random_call();
        if (!ended && pick(3) == 0) ended = host_.wait_for_end_of_stream(3000);

        uint64_t before = clock_ms();
        host_.module->Stop();
        EXPECT_LE(clock_ms() - before, STOP_LIMIT_MS);
        // The item may have ended between the last look and Stop: its message
        // is then already posted. Nothing may be posted once Stop has returned.
        host_.pump_pending();
        int messages = host_.end_of_stream_messages();
        host_.pump_for(5);
        EXPECT_EQ(host_.end_of_stream_messages(), messages);
        if (ended)
            EXPECT_EQ(messages, 1);
        else
            EXPECT_LE(messages, 1);
        ++(messages > 0 ? totals.played_to_end : totals.stopped_early);
        EXPECT_EQ(open_descriptors(), descriptors);
        EXPECT_EQ(running_threads(), threads);
    }

private:
    size_t pick(size_t count) {
        return std::uniform_int_distribution<size_t>(0, count - 1)(random_);
    }

    // One call the player may make while an item plays; true when the item
    // has ended by itself meanwhile.
    bool random_call() {
        switch (pick(6)) {
        case 0:
            host_.module->SetOutputTime((int)pick(4000) - 500);
            break;
        case 1:
            host_.module->Pause();
            host_.pump_for((uint32_t)pick(60));
            host_.module->UnPause();
            break;
        case 2: {
            // The playlist asks about the item playing and about another file.
            char title[PLAYER_TITLE_BYTES];
            int length = 0;
            host_.module->GetOutputTime();
            host_.module->GetFileInfo(nullptr, title, &length);
            std::string other = files_[pick(files_.size())];
            host_.module->GetFileInfo(&other[0], title, &length);
            break;
        }
        case 3:
            host_.module->SetVolume((int)pick(256));
            host_.module->SetPan((int)pick(256) - 128);
            break;
        default:
            host_.pump_for((uint32_t)pick(150));
            break;
        }
        return host_.end_of_stream_messages() > 0;
    }

    test_host& host_;
    const std::vector<std::string>& files_;
    std::mt19937 random_;
};

unsigned long PLATFORM_THREAD_CALL do_nothing(void*) {
    return 0;
}

TEST(SoakTest, RandomCallSequencesOnEveryFileKind) {
    // Sanitizer runtimes start helper threads with the first thread a process
    // creates; start one first so the thread counts below see only items.
    thread_join(thread_start(do_nothing, nullptr));
    std::string dir = make_scratch_dir();
    temp_directory_override temp_folder(dir);
    uint32_t seed = test_seed(20261208);
    const char* soak_ms = getenv("TOLVANE_SOAK_MS");
    uint64_t duration_ms = soak_ms ? strtoull(soak_ms, nullptr, 10) : 8000;
    {
        test_host host;
        // A 44100 Hz stereo sound card's pace with a quarter-second buffer,
        // so items play out quickly but in real time.
        host.use_paced_output(44100, 4 * 44100 * 4);
        std::vector<std::string> files = write_every_kind(dir);
        soak_run run(host, files, seed);
        soak_totals totals;
        uint64_t end = clock_ms() + duration_ms;
        while (clock_ms() < end && totals.items < 2000 && !HasFailure()) run.play_one_item(totals);
        printf("[ soak     ] %d items: %d played to the end, %d stopped early, %d refused\n", totals.items,
               totals.played_to_end, totals.stopped_early, totals.refused);
        EXPECT_GT(totals.played_to_end, 0);
        EXPECT_GT(totals.stopped_early, 0);
        EXPECT_EQ(totals.refused, 0);
    }
    release_item();
    remove_scratch_dir(dir);
}

}  // namespace
