// tolvane naming wave bank entries from sound banks, run as a program: the
// sound bank --xsb gives, the .xsb files found beside a bank (several merged
// in the order of their names, a bank without a name by the one of its own
// stem), the names in info's rows, JSON name and cue_names, the notes on
// which sound bank named what, {label} in render and extract, and the play
// screen.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "reference/sound_bank_writer.h"
#include "tests/support/json_reader.h"
#include "tests/support/sample_files.h"
#include "tests/support/tool_runner.h"

namespace {

class SoundBankNamesTool : public ::testing::Test {
protected:
    scratch_folder scratch;
    const std::string& dir = scratch.path;

    // A bank of three mono entries of 40 block sets at 22050 Hz.
    std::string write_bank(const std::string& file_name, const std::string& bank_name,
                           const std::vector<std::string>& own_names = {}) {
        wave_bank_design design;
        design.bank_name = bank_name;
        for (uint32_t i = 0; i < 3; ++i) {
            bytes sound = tone_adpcm(1, 40, i + 1);
            design.entries.push_back({format_word(1, 1, 22050), (uint32_t)design.entry_data.size(),
                                      (uint32_t)sound.size(), 0, 0, 0, i < own_names.size() ? own_names[i] : ""});
            design.entry_data.insert(design.entry_data.end(), sound.begin(), sound.end());
        }
        design.with_names = !own_names.empty();
        return write_file_in(dir, file_name, build_wave_bank(design));
    }

    json_value info_json(const std::string& arguments) {
        run_result run = run_tool("info --json " + arguments, dir);
        EXPECT_EQ(0, run.status) << run.err;
        json_value doc;
        EXPECT_TRUE(parse_json(run.out, &doc)) << run.out;
        return doc;
    }
};

// A sound bank whose cues play, one wave each, the waves named.
sound_bank_design cues_for(const std::vector<std::string>& wave_banks,
                           const std::vector<std::pair<std::string, uint32_t>>& cues) {
    sound_bank_design design;
    design.wave_banks = wave_banks;
    for (const auto& cue : cues) {
        design.cues.push_back({cue.first, {(uint16_t)design.sounds.size()}});
        design.sounds.push_back(trivial_sound(cue.second));
    }
    return design;
}

// Each record's name (or "" for null) and its cue names.
typedef std::vector<std::pair<std::string, std::vector<std::string>>> record_names;
record_names names_in(const json_value& doc) {
    record_names names;
    for (const json_value& record : doc["records"].items) {
        std::vector<std::string> cues;
        for (const json_value& cue : record["cue_names"].items) cues.push_back(cue.text);
        names.push_back({record["name"].text, cues});
    }
    return names;
}

std::vector<std::string> texts(const json_value& array) {
    std::vector<std::string> out;
    for (const json_value& item : array.items) out.push_back(item.text);
    return out;
}

TEST_F(SoundBankNamesTool, XsbNamesTheBankFromAnywhere) {
    std::string bank = write_bank("music.xwb", "music");
    sound_bank_design design =
        cues_for({"sfx", "music"}, {{"boss", wave_reference(1, 2)}, {"hit", wave_reference(0, 0)}});
    // A cue that plays two waves, and one wave played by two cues.
    design.sounds.push_back(simple_sound({wave_reference(1, 0), wave_reference(1, 2)}));
    design.cues.push_back({"menu", {2}});
    std::string xsb = write_file_in(dir + "elsewhere" + PLATFORM_PATH_SEPARATOR, "game.xsb", build_sound_bank(design));

    json_value doc = info_json(in_quotes(bank) + " --xsb " + in_quotes(xsb));
    EXPECT_EQ(names_in(doc), (record_names{{"menu", {"menu"}}, {"", {}}, {"boss", {"boss", "menu"}}}));
    EXPECT_EQ(texts(doc["notes"]), std::vector<std::string>{xsb + ": names 2 records"});
    EXPECT_EQ(doc["records"].items[1]["name"].type, JSON_NULL);

    // The text rows and the note; the sound bank is not beside the bank, so
    // without --xsb nothing is named.
    run_result run = run_tool("info " + in_quotes(bank) + " --xsb=" + in_quotes(xsb), dir);
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("\nnote: " + xsb + ": names 2 records\n")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("  menu\n")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("  boss\n")) << run.out;
    doc = info_json(in_quotes(bank));
    EXPECT_EQ(names_in(doc), (record_names{{"", {}}, {"", {}}, {"", {}}}));
    EXPECT_TRUE(doc["notes"].items.empty());

    // A sound bank that cannot be read is a warning; one for another bank names nothing.
    run = run_tool("info " + in_quotes(bank) + " --xsb " + in_quotes(dir + "missing.xsb") + " --strict", dir);
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("cannot read the sound bank " + dir + "missing.xsb: no such file"))
        << run.err;
    std::string other = write_file_in(dir, "other.xsb", build_sound_bank(cues_for({"voice"}, {{"hello", 0}})));
    doc = info_json(in_quotes(bank) + " --xsb " + in_quotes(other));
    EXPECT_EQ(names_in(doc), (record_names{{"", {}}, {"", {}}, {"", {}}}));
    EXPECT_EQ(texts(doc["notes"]),
              std::vector<std::string>{other + ": plays from no wave bank named \"music\": names nothing"});
}

// Every .xsb beside the bank that plays from it names it, in the order of
// their file names; the bank's own names come first; a sound bank of the
// bank's stem that names nothing says why; the others are not mentioned.
TEST_F(SoundBankNamesTool, SoundBanksBesideTheBankAreFoundAndMerged) {
    std::string bank = write_bank("music.xwb", "music", {"", "", "own_name"});
    write_file_in(dir, "b.xsb",
                  build_sound_bank(cues_for({"sfx", "music"}, {{"b_cue", wave_reference(1, 0)},
                                                               {"b_two", wave_reference(1, 1)},
                                                               {"b_three", wave_reference(1, 2)}})));
    write_file_in(dir, "a.xsb", build_sound_bank(cues_for({"music"}, {{"a_cue", wave_reference(0, 0)}})));
    write_file_in(dir, "other.xsb", build_sound_bank(cues_for({"sfx"}, {{"nope", wave_reference(0, 1)}})));
    sound_bank_design old = cues_for({"music"}, {{"old", wave_reference(0, 1)}});
    old.version = 7;
    write_file_in(dir, "music.xsb", build_sound_bank(old));

    json_value doc = info_json(in_quotes(bank));
    EXPECT_EQ(names_in(doc),
              (record_names{{"a_cue", {"a_cue", "b_cue"}}, {"b_two", {"b_two"}}, {"own_name", {"b_three"}}}));
    EXPECT_EQ(texts(doc["notes"]),
              (std::vector<std::string>{"a.xsb: names 1 record",
                                        "b.xsb: names 1 record (its cues also play 2 records named already)",
                                        "music.xsb: a sound bank of version 7: names nothing"}));
}

// A bank without a name is named by the sound bank of its own stem only.
TEST_F(SoundBankNamesTool, ABankWithoutANameTakesTheSoundBankOfItsStem) {
    std::string bank = write_bank("bgm.xwb", "");
    write_file_in(dir, "bgm.xsb", build_sound_bank(cues_for({"stage"}, {{"stage_1", wave_reference(0, 1)}})));
    write_file_in(dir, "any.xsb", build_sound_bank(cues_for({"bgm"}, {{"wrong", wave_reference(0, 0)}})));
    json_value doc = info_json(in_quotes(bank));
    EXPECT_EQ(names_in(doc), (record_names{{"", {}}, {"stage_1", {"stage_1"}}, {"", {}}}));
    EXPECT_EQ(texts(doc["notes"]), std::vector<std::string>{"bgm.xsb: names 1 record"});
}

// {label} takes the cue names, characters kept; extract writes them too, and
// the play screen shows them beside the title.
TEST_F(SoundBankNamesTool, CueNamesLabelRenderedExtractedAndPlayedEntries) {
    std::string bank = write_bank("music.xwb", "music");
    // UTF-8 names are file names only where the file calls take UTF-8.
    const bool utf8_names = PLATFORM_PATH_SEPARATOR == '/';
    std::string first = utf8_names ? "\xe7\x88\x86\xe7\x99\xba" : "blast";
    write_file_in(dir, "game.xsb",
                  build_sound_bank(
                      cues_for({"music"}, {{first, wave_reference(0, 0)}, {"boss: round 2?", wave_reference(0, 2)}})));
    std::string out = dir + "out" + PLATFORM_PATH_SEPARATOR;
    run_result run = run_tool("render " + in_quotes(bank) + " -o " + in_quotes(out + "{label}.wav"), dir);
    ASSERT_EQ(0, run.status) << run.err;
    std::vector<std::string> labels = {"02.wav", "boss_ round 2_.wav", first + ".wav"};
    std::sort(labels.begin(), labels.end());
    EXPECT_EQ(files_under(out), labels);
    std::string ripped = dir + "rip" + PLATFORM_PATH_SEPARATOR;
    run = run_tool("extract " + in_quotes(bank) + " --entry 3 -o " + in_quotes(ripped + "{label}.wav"), dir);
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ(files_under(ripped), std::vector<std::string>{"boss_ round 2_.wav"});

    run = run_tool("play --device null " + in_quotes(bank), dir);
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("music.xwb - 1 / 3 [" + first + "]")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("music.xwb - 3 / 3 [boss: round 2?]")) << run.out;
}

}  // namespace
