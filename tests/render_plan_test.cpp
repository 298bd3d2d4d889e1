// How `tolvane render` names its outputs and reads --entry, and how its
// command line is taken apart: pure functions, tested on their own.

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tools/tolvane/cli/command_line.h"
#include "tools/tolvane/cli/render_plan.h"

namespace {

sound_unit unit(int32_t record, uint32_t rate, uint16_t channels) {
    return {record - 1, record, record - 1, rate, channels, 650, 0, 10};
}

sound_unit named(int32_t record, const char* name) {
    sound_unit u = unit(record, 22050, 1);
    u.name = name;
    return u;
}

struct naming_case {
    const char* name;
    const char* out;
    bool raw;
    std::vector<sound_unit> units;
    std::vector<std::string> paths;  // empty: refused
};

TEST(RenderPlan, OutputsAreNamedByRecordNumber) {
    const std::vector<sound_unit> two = {unit(3, 22050, 1), unit(12, 44100, 2)};
    const sound_unit single = {0, 0, -1, 44100, 2, 650, 0, 14};
    const naming_case cases[] = {
        {"one file, one stream", "take.wav", false, {single}, {"take.wav"}},
        {"one file, one entry chosen", "take.wav", false, {unit(7, 22050, 1)}, {"take.wav"}},
        {"one file, two entries", "take.wav", false, two, {"take-003.wav", "take-012.wav"}},
        {"a name without extension", "take", false, two, {"take-003.wav", "take-012.wav"}},
        {"a folder", "out/", false, two, {"out/m-003.wav", "out/m-012.wav"}},
        {"a folder, one stream", "out/", false, {single}, {"out/m.wav"}},
        {"a pattern", "r/{name}_{entry}_{rate}.wav", false, two, {"r/m_003_22050.wav", "r/m_012_44100.wav"}},
        {"a pattern without {entry}", "{name}.wav", false, two, {"m-003.wav", "m-012.wav"}},
        {"{label}",
         "{label}.wav",
         false,
         {named(3, "boss_theme"), named(4, "a/b:c*?.. "), named(5, ""), named(6, "nul")},
         {"boss_theme.wav", "a_b_c__.wav", "005.wav", "_nul.wav"}},
        {"{label} of the same name twice", "{label}.wav", false, {named(3, "same"), named(4, "same")}, {}},
        {"raw entries of one format", "all.raw", true, {unit(1, 8000, 1), unit(2, 8000, 1)}, {"all.raw"}},
        {"raw entries of two formats", "all.raw", true, two, {}},
        {"standard output, two formats", "-", false, two, {}},
        {"standard output, one entry", "-", false, {unit(3, 22050, 1)}, {"-"}},
    };
    for (const naming_case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<render_target> targets;
        std::string reason;
        bool planned = plan_targets(c.out, "m", c.raw, c.units, 3, &targets, &reason);
        EXPECT_EQ(planned, !c.paths.empty()) << reason;
        if (!planned) {
            EXPECT_FALSE(reason.empty());
            continue;
        }
        std::vector<std::string> paths;
        for (const render_target& target : targets) paths.push_back(target.path);
        EXPECT_EQ(paths, c.paths);
    }
    EXPECT_EQ(padded_record(7, 2), "07");
    EXPECT_EQ(padded_record(150, 2), "150");
}

// {label} keeps a name's characters where every system's file names can hold
// them; bytes that are not UTF-8 (a Shift-JIS name) are written %XX, so that
// such names stay apart instead of all becoming underscores.
TEST(RenderPlan, LabelsKeepUtf8AndWriteOtherBytesInHex) {
    const std::string a117(117, 'a');
    std::string bakuhatsu_50;
    for (int i = 0; i < 50; ++i) bakuhatsu_50 += "\xe7\x88\x86";
    const struct {
        const char* what;
        std::string name;
        std::string label;
    } cases[] = {
        {"Latin letters in UTF-8", "\303\234berraschung", "\303\234berraschung"},
        {"kanji in UTF-8", "\xe7\x88\x86\xe7\x99\xba", "\xe7\x88\x86\xe7\x99\xba"},
        {"four-byte UTF-8", "\xf0\x9f\x8e\xb5 theme", "\xf0\x9f\x8e\xb5 theme"},
        {"kanji in Shift-JIS", "\x94\x9a\x94\xad", "%94%9A%94%AD"},
        {"Shift-JIS with a backslash byte", "\x83\x5c", "%83_"},
        {"Latin-1", "caf\xe9", "caf%E9"},
        {"overlong", "\xc0\xaf", "%C0%AF"},
        {"surrogate", "\xed\xa0\x80", "%ED%A0%80"},
        {"past U+10FFFF", "\xf4\x90\x80\x80", "%F4%90%80%80"},
        {"cut short", "abc\xe7\x88", "abc%E7%88"},
        {"control characters", "a\tb\177c\302\205d", "a_b_c_d"},
        {"what file names cannot hold", "a/b\\c:d*e?f\"g<h>i|j", "a_b_c_d_e_f_g_h_i_j"},
        {"other punctuation", "it's [#1] & {more}!", "it's [#1] & {more}!"},
        {"dots and spaces at the ends", " .end. . ", "end"},
        {"a device name", "CON.txt", "_CON.txt"},
        {"nothing left", "...", "007"},
        {"cut before a character", std::string(119, 'a') + "\xc3\xa9", std::string(119, 'a')},
        {"cut before a %XX", a117 + "a\xff", a117 + "a"},
        {"a %XX that fits", a117 + "\xff", a117 + "%FF"},
        {"kanji cut whole", bakuhatsu_50, bakuhatsu_50.substr(0, 120)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(file_label(named(7, c.name.c_str()), 3), c.label);
    }
    // A name several records share (one cue playing several waves) keeps
    // them apart by record number.
    sound_unit shared = named(7, "explosion");
    shared.name_shared = true;
    EXPECT_EQ(file_label(shared, 3), "explosion-007");
}

TEST(RenderPlan, EntryListsAreRecordNumbersAndRanges) {
    const struct {
        const char* text;
        std::vector<std::pair<int32_t, int32_t>> ranges;  // empty: refused
    } cases[] = {
        {"3", {{3, 3}}},
        {"2-5,9", {{2, 5}, {9, 9}}},
        {"148-150", {{148, 150}}},
        {"3,3", {{3, 3}, {3, 3}}},
        {"3-", {{3, TO_THE_LAST_RECORD}}},
        {"-3", {{1, 3}}},
        {"1-4,2-6", {{1, 4}, {2, 6}}},
        {"", {}},
        {"0", {}},
        {"5-2", {}},
        {"2,", {}},
        {"-", {}},
        {"a", {}},
        {"1-2-3", {}},
        {"1 ,2", {}},
        {"9999999999", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<std::pair<int32_t, int32_t>> ranges;
        EXPECT_EQ(parse_entry_list(c.text, &ranges), !c.ranges.empty());
        if (!c.ranges.empty()) {
            EXPECT_EQ(ranges, c.ranges);
        }
    }
}

TEST(CommandLine, OptionsTakeTheirValuesEitherWayAndDoubleDashEndsThem) {
    const struct {
        std::vector<const char*> args;
        bool accepted;
        std::vector<std::string> files;
        std::string out;
    } cases[] = {
        {{"render", "a.wav", "-o", "x.wav"}, true, {"a.wav"}, "x.wav"},
        {{"render", "--output=x.wav", "a.wav"}, true, {"a.wav"}, "x.wav"},
        {{"-o", "x.wav", "render", "a.wav"}, true, {"a.wav"}, "x.wav"},
        {{"render", "-o", "-", "a.wav"}, true, {"a.wav"}, "-"},
        {{"info", "--", "-a.wav", "--json"}, true, {"-a.wav", "--json"}, ""},
        {{"info", "--json=yes", "a.wav"}, false, {}, ""},
        {{"info", "--rate", "99", "a.wav"}, false, {}, ""},
        {{"info", "--rate=22050", "--channels=1", "a.wav"}, true, {"a.wav"}, ""},
        {{"info", "-o", "x", "a.wav"}, false, {}, ""},
        {{"help", "render"}, true, {"render"}, ""},
        {{"help", "nothing"}, false, {}, ""},
        {{"--version"}, true, {}, ""},
    };
    for (const auto& c : cases) {
        std::vector<char*> argv = {const_cast<char*>("tolvane")};
        for (const char* arg : c.args) argv.push_back(const_cast<char*>(arg));
        command_line line;
        std::string error;
        SCOPED_TRACE(c.args[0] + std::string(" ") + (c.args.size() > 1 ? c.args[1] : ""));
        EXPECT_EQ(parse_command_line((int)argv.size(), argv.data(), &line, &error), c.accepted) << error;
        if (!c.accepted) continue;
        EXPECT_EQ(line.files, c.files);
        EXPECT_EQ(line.out, c.out);
    }
}

// Each command's help lists exactly the options the parser lets it take,
// and the options every command shares mean the same in each.
TEST(CommandLine, EachHelpListsExactlyTheOptionsItsCommandTakes) {
    const char* const commands[] = {"play", "render", "info", "extract", "pack", "replace", "encode", "demo"};
    std::set<std::string> every;
    for (const char* command : commands)
        for (const std::string& name : options_taken(command)) every.insert(name);
    for (const char* command : commands) {
        std::string help = help_text(command);
        for (const std::string& name : every) {
            SCOPED_TRACE(std::string(command) + " " + name);
            std::vector<char*> argv = {const_cast<char*>("tolvane"), const_cast<char*>(command),
                                       const_cast<char*>(name.c_str()), const_cast<char*>("2")};
            command_line line;
            std::string error;
            parse_command_line((int)argv.size(), argv.data(), &line, &error);
            bool taken = error.find("takes no " + name) == std::string::npos;
            std::regex listed("\\n  (-[a-zA-Z], )?" + name + "[ \\n]");
            EXPECT_EQ(taken, std::regex_search("\n" + help, listed)) << error;
        }
    }
    for (const char* shared : {"--quiet", "--help", "--version"})
        for (const char* command : commands) {
            std::vector<std::string> taken = options_taken(command);
            EXPECT_NE(std::find(taken.begin(), taken.end(), shared), taken.end()) << command << " " << shared;
        }
}

// A bare tolvane is the overview; a slip of the keyboard gets a suggestion.
TEST(CommandLine, BareToolShowsTheOverviewAndSlipsGetASuggestion) {
    std::vector<char*> bare = {const_cast<char*>("tolvane")};
    command_line line;
    std::string error;
    EXPECT_TRUE(parse_command_line(1, bare.data(), &line, &error));
    EXPECT_TRUE(line.help);
    const struct {
        const char* command;
        const char* option;
        const char* said;
    } slips[] = {
        {"info", "--jsn", "unknown option --jsn (did you mean --json?)"},
        {"render", "--entyr", "(did you mean --entry?)"},
        {"render", "--ignore", "(did you mean --ignore-loop?)"},
        {"render", "--zzzzzzz", "unknown option --zzzzzzz"},
    };
    for (const auto& c : slips) {
        std::vector<char*> argv = {const_cast<char*>("tolvane"), const_cast<char*>(c.command),
                                   const_cast<char*>(c.option)};
        command_line slipped;
        EXPECT_FALSE(parse_command_line(3, argv.data(), &slipped, &error));
        EXPECT_NE(error.find(c.said), std::string::npos) << error;
        if (std::string(c.option) == "--zzzzzzz") {
            EXPECT_EQ(error.find("did you mean"), std::string::npos) << error;
        }
    }
}

}  // namespace
