// The module record and the callbacks the host calls outside Play and Stop:
// what the record holds, lengths, titles (of the item playing and of every
// other file in the playlist), the output time and the calls that go
// straight through to the output plug-in.

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "player/player_state.h"
#include "plugin/module.h"
#include "tests/support/module_fixture.h"

namespace {

class ModuleTest : public module_fixture {
protected:
    void TearDown() override {
        module_fixture::TearDown();
        store_relaxed(player_state.decode_pos_ms, 0);
    }

    // A single stream installed as the item playing.
    void set_stream(int32_t length, uint32_t rate, uint16_t channels) {
        player_state.item.data_length = length;
        player_state.item.sample_rate = rate;
        player_state.item.channels = channels;
    }
};

TEST_F(ModuleTest, RecordDescribesThePlugin) {
    In_Module* m = winampGetInModule2();
    EXPECT_EQ(m, winampGetInModule2());
    EXPECT_EQ(m->version, 0x100);
    EXPECT_STREQ(m->description, "Tolvane " TOLVANE_VERSION);
    EXPECT_EQ(m->is_seekable, 1);
    EXPECT_EQ(m->UsesOutputPlug, 1);
    for (auto callback : {(void*)m->Config, (void*)m->About, (void*)m->Init, (void*)m->Quit, (void*)m->GetFileInfo,
                          (void*)m->InfoBox, (void*)m->IsOurFile, (void*)m->Play, (void*)m->Pause, (void*)m->UnPause,
                          (void*)m->IsPaused, (void*)m->Stop, (void*)m->GetLength, (void*)m->GetOutputTime,
                          (void*)m->SetOutputTime, (void*)m->SetVolume, (void*)m->SetPan, (void*)m->EQSet})
        EXPECT_NE(callback, nullptr);
}

TEST_F(ModuleTest, ExtensionListIsPairsEndedByAnEmptyString) {
    const char* expected[][2] = {
        {"WAV", "Xbox wave file (*.WAV)"},        {"XWB", "Xbox wave bank file (*.XWB)"},
        {"ZWB", "Xbox wave bank file (*.ZWB)"},   {"WBA", "Xbox wave bank file (*.WBA)"},
        {"XSD", "Xbox stream data file (*.XSD)"}, {"XSH", "Xbox stream header file (*.XSH)"},
        {"DAT", "Xbox old kavro file (*.DAT)"},
    };
    const char* p = host.module->FileExtensions;
    for (const auto& pair : expected) {
        EXPECT_STREQ(p, pair[0]);
        p += strlen(p) + 1;
        EXPECT_STREQ(p, pair[1]);
        p += strlen(p) + 1;
    }
    EXPECT_EQ(*p, '\0');
}

TEST_F(ModuleTest, LengthFollowsTheBlockArithmetic) {
    const struct {
        int32_t length;
        uint32_t rate;
        uint16_t channels;
        int expected_ms;
    } cases[] = {
        {36000, 44100, 2, 650},  // 360 000 / 1 764 = 204, / 36 = 5 blocks
        {0, 44100, 2, 0},
        {36000, 22050, 1, 2860},
        {2000000000, 44100, 2, 40942200},  // beyond 32-bit intermediate products
        {-1, 44100, 2, 0},                 // a refused file
        {36000, 0, 2, 0},                  // nothing opened yet
        {36000, 99, 2, 0},
        {36000, 44100, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        set_stream(c.length, c.rate, c.channels);
        EXPECT_EQ(host.module->GetLength(), c.expected_ms);
    }
}

// Another file's name: its base name by the platform's separator, and its
// own length, unknown (-1000) when it cannot be opened. No name, or an empty
// one, means the item playing: its title is left alone, its length given.
TEST_F(ModuleTest, FileInfoNamesTheFileOrTheBankEntry) {
    const char sep = PLATFORM_PATH_SEPARATOR;
    const char other = sep == '/' ? '\\' : '/';
    std::string nested = std::string("C:") + sep + "snd" + sep + "a.wav";
    std::string foreign = std::string("C:") + other + "snd" + other + "a.wav";
    set_stream(36000, 44100, 2);
    const struct {
        const char* file;
        const char* expected;
        int length;
    } cases[] = {
        {nested.c_str(), "a.wav", -1000},
        {"a.wav", "a.wav", -1000},
        {foreign.c_str(), foreign.c_str(), -1000},  // only the platform's separator counts
        {"", "untouched", 650},
        {nullptr, "untouched", 650},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file ? c.file : "(null)");
        char title[HOST_TITLE_BYTES] = "untouched";
        int length = -1;
        std::string file = c.file ? c.file : "";
        host.module->GetFileInfo(c.file ? &file[0] : nullptr, title, &length);
        EXPECT_STREQ(title, c.expected);
        EXPECT_EQ(length, c.length);
    }

    int length = -1;
    host.module->GetFileInfo(nullptr, nullptr, &length);
    EXPECT_EQ(length, 650);
    char title[HOST_TITLE_BYTES] = "untouched";
    host.module->GetFileInfo(&nested[0], title, nullptr);
    EXPECT_STREQ(title, "a.wav");
}

TEST_F(ModuleTest, FileInfoOfTheBankPlayingCountsItsEntries) {
    stream_description bank;
    description_init(&bank);
    std::vector<entry_row> rows;
    for (int i = 0; i < 12; ++i) rows.push_back({i * 72, 72, 44100, 2, i + 1});
    ASSERT_TRUE(add_entries(&bank, rows));
    install_item(&bank);
    store_relaxed(player_state.current_entry, 3);
    strcpy(player_state.title, "music.xwb");
    char empty[] = "";
    for (char* file : {empty, (char*)nullptr}) {
        char title[HOST_TITLE_BYTES] = "";
        host.module->GetFileInfo(file, title, nullptr);
        EXPECT_STREQ(title, "music.xwb - 4 / 12");
    }
    // The longest title with the longest counter still fits the host's buffer.
    memset(player_state.title, 'x', TITLE_BYTES - 1);
    player_state.title[TITLE_BYTES - 1] = '\0';
    char title[HOST_TITLE_BYTES];
    host.module->GetFileInfo(nullptr, title, nullptr);
    EXPECT_EQ(strlen(title), (size_t)TITLE_BYTES - 1 + strlen(" - 4 / 12"));
}

TEST_F(ModuleTest, OutputTimeRunsBehindTheWrittenTime) {
    host.attach_output();
    store_relaxed(player_state.decode_pos_ms, 61000);
    host.log_polls = true;
    host.scripted_clocks = true;
    host.output_time_ms = 500;
    host.written_time_ms = 800;
    EXPECT_EQ(host.module->GetOutputTime(), 60700);
    std::vector<std::string> names = host.call_names();
    EXPECT_EQ(names, (std::vector<std::string>{"GetOutputTime", "GetWrittenTime"}));
}

TEST_F(ModuleTest, PauseVolumeAndPanGoToTheOutput) {
    host.attach_output();
    host.module->Pause();
    host.module->Pause();
    EXPECT_EQ(host.module->IsPaused(), 1);
    host.module->UnPause();
    EXPECT_EQ(host.module->IsPaused(), 0);
    host.module->SetVolume(200);
    host.module->SetPan(-127);
    std::vector<host_call> calls = host.calls();
    ASSERT_EQ(calls.size(), 5u);
    const std::pair<const char*, long long> expected[] = {
        {"Pause", 1}, {"Pause", 1}, {"Pause", 0}, {"SetVolume", 200}, {"SetPan", -127}};
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].name, expected[i].first);
        EXPECT_EQ(calls[i].args, (std::vector<long long>{expected[i].second}));
    }
}

TEST_F(ModuleTest, SeekRequestIsLeftForTheDecodeThread) {
    host.module->SetOutputTime(61500);
    EXPECT_EQ(load_relaxed(player_state.seek_request_ms), 61500);
    EXPECT_TRUE(host.calls().empty());
    store_relaxed(player_state.seek_request_ms, NO_SEEK_REQUEST);
}

TEST_F(ModuleTest, ClaimsNoFileAndShowsNoInfoBox) {
    char names[][16] = {"a.wav", "b.XWB", "c.zwb", "", "noext"};
    for (char* name : names) {
        EXPECT_EQ(host.module->IsOurFile(name), 0);
        EXPECT_EQ(host.module->InfoBox(name, nullptr), 0);
    }
    host.module->Init();
    char eq[10] = {};
    host.module->EQSet(1, eq, 0);
    host.module->Quit();
    EXPECT_TRUE(host.calls().empty());
}

TEST_F(ModuleTest, QuitReleasesTheEntryTableLeftByTheLastItem) {
    stream_description bank;
    description_init(&bank);
    ASSERT_TRUE(add_entries(&bank, {{0, 72, 44100, 2, 1}}));
    install_item(&bank);
    host.module->Quit();
    EXPECT_EQ(player_state.item.entry_count, 0);
    EXPECT_EQ(player_state.item.records, nullptr);
}

TEST_F(ModuleTest, HostWithoutAnOutputCannotPlayButSurvives) {
    // The player sets outMod only when it first plays.
    ASSERT_EQ(host.module->outMod, nullptr);
    char path[] = "anything.wav";
    EXPECT_EQ(host.module->Play(path), 1);
    host.module->Pause();
    host.module->SetVolume(1);
    host.module->SetPan(1);
    host.module->GetOutputTime();
    host.module->Stop();
}

// ---- The playlist asks about every file -----------------------------------------

struct playlist_file {
    std::string name;
    bool plays;
};

// The player's playlist asks about each of its files in turn while a bank
// plays, seeks and moves from entry to entry. Every file gets its own name
// and the length it shows when it plays (-1000 when it cannot play); the
// item playing, asked by no name, an empty one or its own, keeps its
// counter; nothing of the item playing changes and no file is made.
TEST_F(ModuleTest, FileInfoDescribesEveryOtherFileWhileABankPlays) {
    std::string temp_folder = scratch.path + "temp" + PLATFORM_PATH_SEPARATOR;
    write_file_in(temp_folder, "keep", {});
    temp_directory_override temp(temp_folder);
    auto bank_of = [](uint32_t seed, uint32_t sets) {
        bytes e0 = tone_adpcm(2, sets, seed), e1 = tone_adpcm(1, sets, seed + 1), e2 = tone_adpcm(2, sets, seed + 2);
        wave_bank_design design;
        design.entry_data = concat({e0, e1, e2});
        design.entries = {{format_word(1, 2, 44100), 0, (uint32_t)e0.size()},
                          {format_word(1, 1, 22050), (uint32_t)e0.size(), (uint32_t)e1.size()},
                          {format_word(1, 2, 32000), (uint32_t)(e0.size() + e1.size()), (uint32_t)e2.size()}};
        return build_wave_bank(design);
    };
    std::string playing = write("bank.xwb", bank_of(1, 200));
    bytes other_bank = bank_of(10, 50);
    write("tone.wav", adpcm_wave(tone_adpcm(1, 300, 3), 1, 22050));
    write("other.xwb", other_bank);
    write("wrapped.wba", in_bank_container(other_bank));
    write("pair.xsh", build_stream_header({{4096, 720, 22050, 1}, {4816, 1440, 44100, 2}}));
    write("pair.xsd", random_bytes(4816 + 1440, 4));
    write("cached.zwb", compressed_bank(bank_of(20, 30), (uint32_t)bank_of(20, 30).size()));
    write("fresh.zwb", compressed_bank(bank_of(30, 40), (uint32_t)bank_of(30, 40).size()));
    write("pcm.wav", build_riff({{"fmt ", fmt_content(1, 2, 44100)}, {"data", random_bytes(400, 5)}}));
    write("silence.dat", {});
    const playlist_file files[] = {
        {"tone.wav", true},   {"other.xwb", true}, {"wrapped.wba", true}, {"pair.xsh", true},     {"pair.xsd", true},
        {"cached.zwb", true}, {"fresh.zwb", true}, {"pcm.wav", false},    {"missing.wav", false}, {"silence.dat", true},
    };
    ASSERT_EQ(play_to_end(scratch.path + "cached.zwb"), 0);

    host.use_paced_output(44100, 8 * 44100);
    ASSERT_EQ(host.play(playing), 0);
    const std::vector<std::string> files_before = files_under(scratch.path);
    const stream_description item_before = player_state.item;
    const int length_playing = host.module->GetLength();
    std::vector<int> lengths(sizeof files / sizeof files[0], -2);
    for (int round = 0; round < 6; ++round) {
        for (size_t i = 0; i < lengths.size(); ++i) {
            SCOPED_TRACE(files[i].name);
            std::string path = scratch.path + files[i].name;
            char title[PLAYER_TITLE_BYTES] = "";
            int length = -1;
            host.module->GetFileInfo(&path[0], title, &length);
            EXPECT_EQ(std::string(title), files[i].name);
            if (lengths[i] != -2) {
                EXPECT_EQ(length, lengths[i]);
            }
            lengths[i] = length;
            EXPECT_EQ(length == -1000, !files[i].plays);
            host.pump_for(5);
        }
        host.module->SetOutputTime(round * 400);
        char empty[] = "";
        std::string own = host.played_path;
        for (char* file : {(char*)nullptr, empty, &own[0], &playing[0]}) {
            char title[PLAYER_TITLE_BYTES] = "";
            int length = -1;
            host.module->GetFileInfo(file, title, &length);
            EXPECT_EQ(std::string(title).compare(0, 11, "bank.xwb - "), 0) << title;
            EXPECT_EQ(length, length_playing);
        }
    }
    EXPECT_EQ(files_under(scratch.path), files_before);
    EXPECT_EQ(player_state.item.records, item_before.records);
    EXPECT_EQ(player_state.item.entry_count, item_before.entry_count);
    EXPECT_EQ(player_state.item.data_length, item_before.data_length);
    EXPECT_EQ(host.module->GetLength(), length_playing);
    host.module->Stop();

    for (size_t i = 0; i < lengths.size(); ++i) {
        SCOPED_TRACE(files[i].name);
        int result = host.play(scratch.path + files[i].name);
        EXPECT_EQ(result, files[i].plays ? 0 : 1);
        if (result == 0) {
            EXPECT_EQ(host.module->GetLength(), lengths[i]);
        }
        host.module->Stop();
    }
}

}  // namespace
