// Tests of the tolvane command-line host: the real executable is run on
// generated files and its output compared with the reference decoding, its
// listings with the values the player computes, and what it says (exit
// status and the one line on standard error) with what users and scripts
// rely on. Banks render one WAVE per chosen entry, named by record number.

#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "codec/little_endian.h"
#include "containers/riff_wave.h"
#include "platform/platform.h"
#include "tests/support/json_reader.h"
#include "tests/support/sample_files.h"
#include "tests/support/shipped_layouts.h"
#include "tests/support/tool_runner.h"
#include "tools/tolvane/cli/command_line.h"
#include "tools/tolvane/session/render_output.h"
#include "tools/tolvane/cli/render_plan.h"
#include "containers/riff_wave_writer.h"

namespace {

class TolvaneTool : public ::testing::Test {
protected:
    void SetUp() override {
        scratch = make_scratch_dir();
    }
    void TearDown() override {
        remove_scratch_dir(scratch);
    }
    std::string scratch;
};

// ---- A sample bank ----------------------------------------------------------

struct bank_entry_sound {
    uint16_t channels;
    uint32_t sample_rate;
    bytes adpcm;
};

// Three entries at three formats: records 1, 3 and 4; record 2 is WMA,
// skipped, and a gap follows it, neither of them ever played.
struct sample_bank {
    std::vector<bank_entry_sound> entries;
    bytes file;
};

sample_bank make_sample_bank(bool in_container) {
    sample_bank bank;
    bank.entries = {
        {2, 44100, tone_adpcm(2, 200, 1)}, {1, 22050, tone_adpcm(1, 300, 2)}, {2, 32000, tone_adpcm(2, 250, 3)}};
    const bytes& e0 = bank.entries[0].adpcm;
    const bytes& e1 = bank.entries[1].adpcm;
    const bytes& e2 = bank.entries[2].adpcm;
    wave_bank_design design;
    design.entries = {{format_word(1, 2, 44100), 0, 14400},
                      {format_word(2, 2, 44100), 14400, 144},
                      {format_word(1, 1, 22050), 14600, 10800},
                      {format_word(1, 2, 32000), 25400, 18000}};
    // The skipped record's 144 bytes and a 56-byte gap.
    bytes between = random_bytes(200, 5);
    design.entry_data = e0;
    for (const bytes& part : {between, e1, e2})
        design.entry_data.insert(design.entry_data.end(), part.begin(), part.end());
    bank.file = in_container ? in_bank_container(build_wave_bank(design)) : build_wave_bank(design);
    return bank;
}

const struct {
    const char* file_name;
    bool in_container;
} BANK_LAYOUTS[] = {{"bank.xwb", false}, {"bank.wba", true}};

// ---- render ----------------------------------------------------------------

struct render_case {
    const char* name;
    uint16_t channels;
    uint32_t sample_rate;
    uint32_t block_sets;
    bool as_wave;           // else raw ADPCM (2 channels, 44100 Hz)
    size_t trailing_bytes;  // less than a block set, never decoded
    const char* out_name;
    const char* extra_arguments;
    const char* warning;  // on standard error, or "" for none
};

const render_case RENDER_CASES[] = {
    {"mono wave", 1, 44100, 40, true, 0, "out.raw", "", ""},
    {"stereo wave at 22050 Hz", 2, 22050, 57, true, 0, "out.raw", "", ""},
    {"three-channel wave", 3, 32000, 33, true, 0, "out.raw", "", ""},
    {"raw data, partial last block set", 2, 44100, 25, false, 40, "out.raw", "", ""},
    {"--format raw overrides the name", 2, 44100, 12, true, 0, "out.wav", "--format raw", ""},
    {"--format=raw", 2, 44100, 12, true, 0, "out.wav", "--format=raw", ""},
    {"raw data read as mono 22050 Hz", 1, 22050, 30, false, 0, "out.raw", "--rate 22050 --channels 1", ""},
};

bytes render_input(const render_case& c, bytes* adpcm) {
    *adpcm = tone_adpcm(c.channels, c.block_sets, c.block_sets + c.channels);
    bytes content = c.as_wave ? adpcm_wave(*adpcm, c.channels, c.sample_rate) : *adpcm;
    bytes tail = random_bytes(c.trailing_bytes, 7);
    content.insert(content.end(), tail.begin(), tail.end());
    adpcm->insert(adpcm->end(), tail.begin(), tail.end());
    return content;
}

TEST_F(TolvaneTool, RenderRawWritesExactlyTheDecodedBytes) {
    for (const render_case& c : RENDER_CASES) {
        SCOPED_TRACE(c.name);
        bytes adpcm;
        std::string input = write_file_in(scratch, "input.dat", render_input(c, &adpcm));
        std::string out = scratch + c.out_name;
        run_result run =
            run_tool("render " + in_quotes(input) + " -o " + in_quotes(out) + " " + c.extra_arguments, scratch);
        ASSERT_EQ(0, run.status) << run.err;
        EXPECT_NE(std::string::npos, run.err.find(c.warning)) << run.err;
        if (!c.warning[0]) {
            EXPECT_EQ("", run.err);
        }
        EXPECT_EQ(0u, run.out.find("wrote " + out)) << run.out;
        bytes written;
        ASSERT_TRUE(read_whole_file(out.c_str(), &written));
        EXPECT_TRUE(written == reference_pcm(adpcm, c.channels))
            << written.size() << " bytes written, " << reference_pcm(adpcm, c.channels).size() << " expected";
    }
}

TEST_F(TolvaneTool, RenderRawToTheNullDeviceSucceeds) {
    bytes adpcm = tone_adpcm(2, 30, 3);
    std::string input = write_file_in(scratch, "input.wav", adpcm_wave(adpcm, 2, 44100));
    std::string null_device = shell_is_cmd() ? "NUL" : "/dev/null";
    run_result run = run_tool("render " + in_quotes(input) + " -o " + null_device + " --format raw", scratch);
    EXPECT_EQ(0, run.status) << run.err;
    // Written to as it is: no file renamed over the device.
    EXPECT_TRUE(path_is_device(null_device.c_str()));
}

struct wave_case {
    uint16_t channels;
    uint32_t sample_rate;
    const char* out_name;
    const char* extra_arguments;
};

const wave_case WAVE_CASES[] = {
    {1, 8000, "out.wav", ""},
    {2, 44100, "LOUD.WAV", ""},
    {3, 22050, "three.wav", "--format wav"},
    {2, 22050, "take.pcm16", "--format wav"},
    {2, 22050, "no-extension", ""},
};

TEST_F(TolvaneTool, RenderWaveHoldsTheDecodedSamples) {
    for (const wave_case& c : WAVE_CASES) {
        SCOPED_TRACE(c.out_name);
        bytes adpcm = tone_adpcm(c.channels, 45, c.sample_rate);
        std::string input = write_file_in(scratch, "input.wav", adpcm_wave(adpcm, c.channels, c.sample_rate));
        std::string out = scratch + c.out_name;
        run_result run =
            run_tool("render " + in_quotes(input) + " -o " + in_quotes(out) + " " + c.extra_arguments, scratch);
        ASSERT_EQ(0, run.status) << run.err;
        EXPECT_TRUE(pcm_wave_samples(out, c.channels, c.sample_rate) == reference_pcm(adpcm, c.channels));
    }
}

// A WAVE written to standard output holds the same samples as one written
// to a file, so that it can be piped into another program.
TEST_F(TolvaneTool, RenderToStandardOutputStreamsTheSameWave) {
    sample_bank bank = make_sample_bank(false);
    std::string input = write_file_in(scratch, "bank.xwb", bank.file);
    for (const char* entry : {"3", "4"}) {
        SCOPED_TRACE(entry);
        const bank_entry_sound& e = bank.entries[entry[0] == '3' ? 1 : 2];
        run_result to_file = run_tool(
            "render " + in_quotes(input) + " --entry " + entry + " -o " + in_quotes(scratch + "file.wav"), scratch);
        ASSERT_EQ(0, to_file.status) << to_file.err;
        run_result piped = run_tool("render " + in_quotes(input) + " --entry=" + entry + " -o -", scratch);
        ASSERT_EQ(0, piped.status) << piped.err;
        bytes streamed = read_file(scratch + "stdout.txt");
        write_file_in(scratch, "piped.wav", streamed);
        bytes expected = reference_pcm(e.adpcm, e.channels);
        EXPECT_TRUE(pcm_wave_samples(scratch + "file.wav", e.channels, e.sample_rate) == expected);
        EXPECT_TRUE(pcm_wave_samples(scratch + "piped.wav", e.channels, e.sample_rate) == expected);
        EXPECT_EQ(0u, piped.err.find("wrote standard output")) << "messages go to standard error: " << piped.err;
    }
}

// ---- info ------------------------------------------------------------------

struct info_case {
    const char* file_name;
    bool as_wave;  // else raw data, shown as 44100 Hz stereo
    uint16_t channels;
    uint32_t sample_rate;
    size_t data_bytes;
    int length_ms;  // by the player's truncating steps
    const char* extra_arguments;
};

const info_case INFO_CASES[] = {
    {"song.wav", true, 2, 44100, 36000, 650, ""},
    {"voice.wav", true, 1, 22050, 3600, 260, ""},
    {"slow.wav", true, 1, 8000, 36000, 8060, ""},
    {"take.dat", false, 2, 44100, 7200, 130, ""},
    {"mono.dat", false, 1, 22050, 7200, 520, "--rate 22050 --channels 1"},
};

// The title is the base name of the path as Play got it; running in the
// file's folder keeps the path free of separators on every platform.
class current_folder {
public:
    explicit current_folder(const std::string& folder) : previous(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~current_folder() {
        std::filesystem::current_path(previous);
    }

private:
    std::filesystem::path previous;
};

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> words_of(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

// The player's five lines, then one row for the single stream: its offset,
// bytes, rate, channels, and the frames and milliseconds it plays.
TEST_F(TolvaneTool, InfoPrintsWhatThePlayerShowsAndTheStreamsRow) {
    for (const info_case& c : INFO_CASES) {
        SCOPED_TRACE(c.file_name);
        bytes data = random_bytes(c.data_bytes, (uint32_t)c.data_bytes);
        write_file_in(scratch, c.file_name, c.as_wave ? adpcm_wave(data, c.channels, c.sample_rate) : data);
        run_result run;
        {
            current_folder in_scratch(scratch);
            run = run_tool(std::string("info ") + c.file_name + " " + c.extra_arguments, scratch);
        }
        ASSERT_EQ(0, run.status) << run.err;
        std::vector<std::string> lines = lines_of(run.out);
        ASSERT_EQ(7u, lines.size()) << run.out;
        const std::string five[] = {std::string("title: ") + c.file_name, "length_ms: " + std::to_string(c.length_ms),
                                    "sample_rate: " + std::to_string(c.sample_rate),
                                    "channels: " + std::to_string(c.channels), "entries: 0"};
        for (int i = 0; i < 5; ++i) EXPECT_EQ(five[i], lines[(size_t)i]);
        int64_t frames = (int64_t)(c.data_bytes / (36u * c.channels)) * 65;
        std::vector<std::string> row = {"-",
                                        c.as_wave ? "48" : "0",
                                        std::to_string(c.data_bytes),
                                        std::to_string(c.sample_rate),
                                        std::to_string(c.channels),
                                        std::to_string(frames),
                                        std::to_string(frames * 1000 / c.sample_rate),
                                        "-",
                                        "-",
                                        "-",
                                        "-"};
        EXPECT_EQ(row, words_of(lines[6]));
    }
}

// ---- banks -------------------------------------------------------------------

// Each entry a WAVE of its own, numbered by its record; a raw file holds one
// format only, so the bank's three are refused there and one entry is not.
TEST_F(TolvaneTool, RenderBankWritesEachEntryNumberedByItsRecord) {
    const char* numbers[] = {"01", "03", "04"};
    for (const auto& layout : BANK_LAYOUTS) {
        SCOPED_TRACE(layout.file_name);
        sample_bank bank = make_sample_bank(layout.in_container);
        std::string input = write_file_in(scratch, layout.file_name, bank.file);

        run_result run = run_tool("render " + in_quotes(input) + " -o " + in_quotes(scratch + "out.wav"), scratch);
        ASSERT_EQ(0, run.status) << run.err;
        EXPECT_NE(std::string::npos, run.err.find("record 2 skipped: format tag 2 (WMA")) << run.err;
        EXPECT_EQ(3, line_count(run.out)) << run.out;
        for (size_t i = 0; i < bank.entries.size(); ++i) {
            const bank_entry_sound& e = bank.entries[i];
            std::string entry_out = scratch + "out-" + numbers[i] + ".wav";
            SCOPED_TRACE(entry_out);
            EXPECT_NE(std::string::npos, run.out.find("wrote " + entry_out)) << run.out;
            EXPECT_TRUE(pcm_wave_samples(entry_out, e.channels, e.sample_rate) == reference_pcm(e.adpcm, e.channels));
            remove(entry_out.c_str());
        }
        EXPECT_FALSE(file_exists(scratch + "out.wav"));

        run = run_tool("render " + in_quotes(input) + " -o " + in_quotes(scratch + "out.raw"), scratch);
        EXPECT_EQ(1, run.status);
        EXPECT_NE(std::string::npos, run.err.find("holds one format")) << run.err;
        EXPECT_FALSE(file_exists(scratch + "out.raw"));
        run = run_tool("render " + in_quotes(input) + " --entry 3 -q -o " + in_quotes(scratch + "out.raw"), scratch);
        ASSERT_EQ(0, run.status) << run.err;
        EXPECT_EQ("", run.out);
        EXPECT_TRUE(read_file(scratch + "out.raw") == reference_pcm(bank.entries[1].adpcm, 1));
        remove((scratch + "out.raw").c_str());
    }
}

TEST_F(TolvaneTool, InfoOfABankListsEveryRecord) {
    for (const auto& layout : BANK_LAYOUTS) {
        SCOPED_TRACE(layout.file_name);
        write_file_in(scratch, layout.file_name, make_sample_bank(layout.in_container).file);
        run_result run;
        {
            current_folder in_scratch(scratch);
            run = run_tool(std::string("info ") + layout.file_name, scratch);
        }
        ASSERT_EQ(0, run.status) << run.err;
        // The entries' sound, each at its own format: 200 block sets at
        // 44100 Hz (294 ms), 300 at 22050 Hz (884 ms), 250 at 32000 Hz (507 ms).
        std::vector<std::string> lines = lines_of(run.out);
        ASSERT_EQ(12u, lines.size()) << run.out;
        std::string five = std::string("title: ") + layout.file_name +
                           " - 1 / 3\nlength_ms: 1685\nsample_rate: 44100\nchannels: 2\nentries: 3\n"
                           "platform: xbox\nversion: 3\n";
        EXPECT_EQ(0u, run.out.find(five)) << run.out;
        uint32_t base = layout.in_container ? 4096 : 0;
        uint32_t data = base + BANK_HEADER_BYTES + BANK_DATA_BYTES + 4 * BANK_RECORD_BYTES;
        const std::vector<std::string> rows[] = {
            {"1", std::to_string(data), "14400", "44100", "2", "13000", "294", "-", "-", "-", "-"},
            {"2",      std::to_string(data + 14400),
             "144",    "44100",
             "2",      "0",
             "0",      "-",
             "-",      "-",
             "-",      "skipped:",
             "format", "tag",
             "2",      "(WMA,",
             "which",  "the",
             "player", "does",
             "not",    "decode)"},
            {"3", std::to_string(data + 14600), "10800", "22050", "1", "19500", "884", "-", "-", "-", "-"},
            {"4", std::to_string(data + 25400), "18000", "32000", "2", "16250", "507", "-", "-", "-", "-"},
        };
        for (size_t i = 0; i < 4; ++i) EXPECT_EQ(rows[i], words_of(lines[8 + i]));
    }
}

// ---- Layouts games shipped ------------------------------------------------------

// Every layout renders each playing record bit-exact, one WAVE per record
// numbered as the file numbers it, and lists names, loops, stated frames and
// codecs as the file states them.
#ifdef _WIN32
const bool TOOL_DECODES_PACKETS = false;
#else
const bool TOOL_DECODES_PACKETS = true;
#endif

TEST_F(TolvaneTool, ShippedLayoutsRenderBitExactAndListTheirRecords) {
    int folder = 0;
    for (const shipped_file& shipped : shipped_files()) {
        SCOPED_TRACE(shipped.name);
        std::string dir = scratch + std::to_string(++folder) + PLATFORM_PATH_SEPARATOR;
        for (const auto& file : shipped.files) write_file_in(dir, file.first, file.second);
        std::string input = in_quotes(dir + shipped.name);
        std::filesystem::create_directories(dir + "out");
        run_result run = run_tool("render " + input + " -q --ignore-loop -o " + in_quotes(dir + "out"), scratch);
        ASSERT_EQ(0, run.status) << run.err;
        std::string stem = shipped.name.substr(0, shipped.name.find('.'));
        std::vector<std::string> written;
        for (const shipped_record& record : shipped.records) {
            // The Linux tool alone decodes xWMA, WMA Pro and XMA, each to the
            // frames its record states.
            std::string codec = record.codec;
            bool packets = codec == "xwma" || codec == "wma_pro" || codec == "xma";
            bool decoded_by_tool = !record.plays && packets && TOOL_DECODES_PACKETS;
            if (!record.plays && !decoded_by_tool) continue;
            std::string name = record.record ? stem + "-" + padded_record(record.record, 2) + ".wav" : stem + ".wav";
            written.push_back(name);
            SCOPED_TRACE(name);
            std::vector<uint8_t> samples =
                pcm_wave_samples(dir + "out" + PLATFORM_PATH_SEPARATOR + name, (uint16_t)record.channels, record.rate);
            if (decoded_by_tool) {
                EXPECT_EQ((int64_t)samples.size(), record.stated_frames * 2 * record.channels);
            } else {
                EXPECT_TRUE(samples ==
                            reference_pcm_of(record.sound_codec, record.sound, record.channels, record.block_field));
            }
        }
        std::sort(written.begin(), written.end());
        EXPECT_EQ(files_under(dir + "out"), written);

        run = run_tool("info --json " + input, scratch);
        ASSERT_EQ(0, run.status) << run.err;
        json_value doc;
        ASSERT_TRUE(parse_json(run.out, &doc)) << run.out;
        if (shipped.version < 0) {
            EXPECT_EQ(doc["version"].type, JSON_NULL);
        } else {
            EXPECT_EQ(doc["version"].number, shipped.version);
        }
        if (shipped.version == 46) {
            EXPECT_EQ(doc["platform"].text, shipped.name.rfind("x360", 0) == 0 ? "xbox360" : "windows");
            EXPECT_EQ(doc["header_version"].number, 44);
        }
        if (shipped.bank_name.empty()) {
            EXPECT_EQ(doc["bank_name"].type, JSON_NULL);
        } else {
            EXPECT_EQ(doc["bank_name"].text, shipped.bank_name);
        }
        if (shipped.records.size() == 1 && shipped.records[0].record == 0) {
            EXPECT_EQ(doc["stated_frames"].number, shipped.records[0].stated_frames);
            continue;
        }
        ASSERT_EQ(doc["records"].items.size(), shipped.records.size());
        for (size_t i = 0; i < shipped.records.size(); ++i) {
            const shipped_record& expected = shipped.records[i];
            const json_value& record = doc["records"].items[i];
            SCOPED_TRACE(expected.record);
            EXPECT_EQ(record["record"].number, expected.record);
            EXPECT_EQ(record["codec"].text, expected.codec);
            EXPECT_EQ(record["skipped"].type, expected.plays ? JSON_NULL : JSON_STRING);
            EXPECT_EQ(record["name"].type, expected.name.empty() ? JSON_NULL : JSON_STRING);
            EXPECT_EQ(record["name"].text, expected.name);
            for (const auto& frames :
                 {std::make_pair("loop_start", expected.loop_start), std::make_pair("loop_end", expected.loop_end),
                  std::make_pair("stated_frames", expected.stated_frames)}) {
                if (frames.second == NO_FRAMES) {
                    EXPECT_EQ(record[frames.first].type, JSON_NULL) << frames.first;
                } else {
                    EXPECT_EQ(record[frames.first].number, frames.second) << frames.first;
                }
            }
            if (expected.plays) {
                EXPECT_EQ(record["channels"].number, expected.channels);
                EXPECT_EQ(record["sample_rate"].number, expected.rate);
            }
        }
    }
}

// Banks of versions no layout is known for are refused with their version named,
// by every command and by the module; nothing is written.
TEST_F(TolvaneTool, BanksOfOtherMachinesAreRefusedWithTheirVersion) {
    for (uint32_t version : {38u, 47u, 103u}) {
        // 103 stands for a big-endian bank of version 3.
        bool big_endian = version > 100;
        if (big_endian) version -= 100;
        SCOPED_TRACE(version);
        wave_bank_design design;
        design.version = version;
        bytes sound = tone_adpcm(2, 10, version);
        design.entries = {{format_word(1, 2, 44100), 0, (uint32_t)sound.size()}};
        design.entry_data = sound;
        std::string dir = scratch + "v" + std::to_string(version) + (big_endian ? "be" : "") + PLATFORM_PATH_SEPARATOR;
        bytes bank = build_wave_bank(design);
        std::string input = write_file_in(dir, "x360.xwb", big_endian ? with_big_endian_header(bank) : bank);
        std::string reason = "wave bank version " + std::to_string(version) + ": a version of no known layout";
        run_result run = run_tool("render " + in_quotes(input) + " -o " + in_quotes(dir + "out.wav"), scratch);
        EXPECT_EQ(1, run.status);
        EXPECT_NE(std::string::npos, run.err.find(reason)) << run.err;
        run = run_tool("info " + in_quotes(input), scratch);
        EXPECT_EQ(1, run.status);
        EXPECT_NE(std::string::npos, run.err.find(reason)) << run.err;
        EXPECT_EQ(files_under(dir), std::vector<std::string>{"x360.xwb"});
    }
}

// A bank of 150 records, two of them skipped: its JSON listing has the
// documented keys, and entries chosen by record number are written under
// their three-digit numbers, holding the module's sound for them.
TEST_F(TolvaneTool, ABankOf150RecordsIsListedAndRenderedByRecordNumber) {
    wave_bank_design design;
    std::vector<bytes> sounds;
    for (uint32_t record = 1; record <= 150; ++record) {
        bool skipped = record == 40 || record == 149;
        uint32_t channels = 1 + record % 2;
        bytes adpcm = tone_adpcm(channels, 3 + record % 5, record);
        // Odd records are named; every tenth loops over its second block set.
        std::string name = record % 2 ? "tune_" + std::to_string(record) : "";
        uint32_t set_bytes = 36 * channels;
        design.entries.push_back({format_word(skipped ? 2 : 1, channels, 22050 + 1000 * (record % 3)),
                                  (uint32_t)design.entry_data.size(), (uint32_t)adpcm.size(), 0,
                                  record % 10 ? 0 : set_bytes, record % 10 ? 0 : set_bytes, name});
        design.entry_data.insert(design.entry_data.end(), adpcm.begin(), adpcm.end());
        sounds.push_back(adpcm);
    }
    design.with_names = true;
    design.bank_name = "m_bank";
    std::string input = write_file_in(scratch, "m.xwb", build_wave_bank(design));

    run_result run = run_tool("info --json " + in_quotes(input), scratch);
    ASSERT_EQ(0, run.status) << run.err;
    ASSERT_EQ(1, line_count(run.out));
    json_value doc;
    ASSERT_TRUE(parse_json(run.out, &doc)) << run.out;
    const std::vector<std::pair<const char*, json_type>> top = {
        {"file", JSON_STRING},         {"title", JSON_STRING},       {"length_ms", JSON_NUMBER},
        {"sample_rate", JSON_NUMBER},  {"channels", JSON_NUMBER},    {"entries", JSON_NUMBER},
        {"kind", JSON_STRING},         {"compressed", JSON_BOOLEAN}, {"version", JSON_NUMBER},
        {"header_version", JSON_NULL}, {"platform", JSON_STRING},    {"bank_name", JSON_STRING},
        {"stated_frames", JSON_NULL},  {"frames", JSON_NUMBER},      {"duration_ms", JSON_NUMBER},
        {"looped_ms", JSON_NUMBER},    {"records", JSON_ARRAY},      {"warnings", JSON_ARRAY},
        {"notes", JSON_ARRAY}};
    EXPECT_EQ(doc.keys(), keys_of(top));
    for (const auto& key : top) EXPECT_EQ(doc[key.first].type, key.second) << key.first;
    EXPECT_EQ(doc["entries"].number, 148);
    EXPECT_EQ(doc["kind"].text, "bank");
    EXPECT_EQ(doc["version"].number, 3);
    EXPECT_EQ(doc["bank_name"].text, "m_bank");
    ASSERT_EQ(doc["records"].items.size(), 150u);
    double duration_ms = 0;
    for (size_t i = 0; i < 150; ++i) {
        const json_value& record = doc["records"].items[i];
        EXPECT_EQ(record.keys(),
                  (std::vector<std::string>{"record", "offset", "bytes", "sample_rate", "channels", "frames",
                                            "duration_ms", "looped_ms", "name", "cue_names", "loop_start", "loop_end",
                                            "stated_frames", "codec", "skipped"}));
        EXPECT_EQ(record["record"].number, i + 1);
        bool skipped = i + 1 == 40 || i + 1 == 149;
        EXPECT_EQ(record["skipped"].type, skipped ? JSON_STRING : JSON_NULL);
        EXPECT_EQ(record["codec"].text, skipped ? "wma" : "xbox_adpcm");
        if ((i + 1) % 2) {
            EXPECT_EQ(record["name"].text, "tune_" + std::to_string(i + 1));
        } else {
            EXPECT_EQ(record["name"].type, JSON_NULL);
        }
        // WMA's frames cannot be counted from its bytes: record 40 has no loop.
        bool looped = (i + 1) % 10 == 0 && !skipped;
        EXPECT_EQ(record["loop_start"].type, looped ? JSON_NUMBER : JSON_NULL);
        if (looped) {
            EXPECT_EQ(record["loop_start"].number, 65);
            EXPECT_EQ(record["loop_end"].number, 130);
        }
        EXPECT_EQ(record["stated_frames"].type, JSON_NULL);
        duration_ms += record["duration_ms"].number;
    }
    EXPECT_EQ(duration_ms, doc["duration_ms"].number);
    EXPECT_EQ(duration_ms, doc["length_ms"].number);
    // The skipped records are in the listing; info does not warn of them too.
    EXPECT_EQ(doc["warnings"].items.size(), 0u);

    std::string pattern = scratch + "out" + PLATFORM_PATH_SEPARATOR + "{name}-{entry}.wav";
    run = run_tool("render " + in_quotes(input) + " --entry 148-150 --ignore-loop -o " + in_quotes(pattern), scratch);
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ(2, line_count(run.out)) << run.out;
    EXPECT_EQ(files_under(scratch + "out"), (std::vector<std::string>{"m-148.wav", "m-150.wav"}));
    for (uint32_t record : {148u, 150u}) {
        SCOPED_TRACE(record);
        uint32_t channels = 1 + record % 2;
        bytes samples =
            pcm_wave_samples(scratch + "out" + PLATFORM_PATH_SEPARATOR + "m-" + std::to_string(record) + ".wav",
                             (uint16_t)channels, 22050 + 1000 * (record % 3));
        EXPECT_TRUE(samples == reference_pcm(sounds[record - 1], channels));
    }
}

// ---- stream pairs -------------------------------------------------------------

TEST_F(TolvaneTool, PairRendersFromEitherFileAndNamesThePartner) {
    bytes first = tone_adpcm(1, 100, 4), second = tone_adpcm(2, 60, 5);
    bytes data = first;
    data.insert(data.end(), second.begin(), second.end());
    write_file_in(scratch, "song.xsh",
                  build_stream_header({{0, (int32_t)first.size(), 22050, 1},
                                       {(int32_t)first.size(), (int32_t)second.size(), 32000, 2}}));
    write_file_in(scratch, "song.xsd", data);
    const struct {
        const char* chosen;
        const char* partner;
    } cases[] = {{"song.xsh", "song.xsd"}, {"song.xsd", "song.xsh"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chosen);
        run_result run;
        {
            current_folder in_scratch(scratch);
            run = run_tool(std::string("render ") + c.chosen + " -o out.wav", scratch);
            ASSERT_EQ(0, run.status) << run.err;
            run = run_tool(std::string("info ") + c.chosen, scratch);
        }
        ASSERT_EQ(0, run.status) << run.err;
        // 100 block sets at 22050 Hz (294 ms), then 60 at 32000 Hz (121 ms).
        EXPECT_EQ(0u, run.out.find(std::string("title: ") + c.partner +
                                   " - 1 / 2\nlength_ms: 415\nsample_rate: 22050\nchannels: 1\nentries: 2\n"))
            << run.out;
        EXPECT_TRUE(pcm_wave_samples(scratch + "out-01.wav", 1, 22050) == reference_pcm(first, 1));
        EXPECT_TRUE(pcm_wave_samples(scratch + "out-02.wav", 2, 32000) == reference_pcm(second, 2));
    }
}

// ---- what the tool says ------------------------------------------------------

struct said_case {
    const char* name;
    const char* arguments;  // a word "@NAME" stands for the quoted path of NAME in the scratch folder
    int status;
    const char* said;  // on standard error (or, for status 0 with nothing there, standard output)
};

// Every failure names the file and why, in one line; every fallback is said;
// usage errors are one line pointing to the help.
const said_case SAID_CASES[] = {
    {"missing file", "render @missing.wav -o @out.wav", 1, "missing.wav: no such file"},
    {"an empty folder", "info @folder", 1, "folder: it holds no file of a kind Tolvane knows"},
    {"PCM WAVE", "render @pcm.wav -o @out.wav", 1, "pcm.wav: not Xbox ADPCM: format tag 0x0001 (PCM); tolvane encode"},
    {"render onto its input", "render @in.wav -o @in.wav", 1, "is an input; it is never overwritten"},
    {"render onto the partner", "render @pair.xsh -o @pair.xsd --format raw", 1, "is an input"},
    {"raw file of several formats", "render @bank.xwb -o @out.raw", 1, "a raw file holds one format"},
    {"a skipped record", "render @bank.xwb --entry 2 -o @out.wav", 1, "record 2 was skipped: format tag 2 (WMA"},
    {"no such record", "render @bank.xwb --entry 9 -o @out.wav", 1, "no record 9 (the file has 4)"},
    {"a record twice", "render @bank.xwb --entry 3,3 -o @e1/", 0, "wrote"},
    {"records beyond the file", "render @bank.xwb --entry 2-5,9 -o @e2/", 0, "no record 5 (the file has 4)"},
    {"records beyond the file, the skipped one said", "render @bank.xwb --entry 2-5,9 -o @e3/", 0,
     "record 2 was skipped"},
    {"an open range", "render @bank.xwb --entry 3- -o @e4/", 0, "wrote"},
    {"a range from the first", "render @bank.xwb --entry=-3 -o @e5/", 0, "record 2 was skipped"},
    {"only the records chosen are judged", "render @bank.xwb --entry 3 --strict -o @e6/", 0, "wrote"},
    {"a chosen skipped record fails --strict", "render @bank.xwb --entry 2-3 --strict -o @e7/", 1,
     "record 2 was skipped"},
    {"an unknown placeholder", "render @in.wav -o @x-{foo}.wav", 2, "-o has {foo}, which tolvane does not know"},
    {"entries of a single stream", "render @in.wav --entry 1 -o @out.wav", 1, "it has no entries"},
    {"module that is not there", "info @in.wav --module @no-module.bin", 1, "no-module.bin"},
    {"output folder missing", "render @in.wav -o @made/deep/out.wav", 0, "wrote"},
    {"one good file and one missing", "info @in.wav @missing.wav", 1, "missing.wav: no such file"},
    {"empty file", "info @empty.dat", 0, "empty.dat: holds no whole block set"},
    {"empty file, strictly", "info @empty.dat --strict", 1, "holds no whole block set"},
    {"text file", "render @notes.txt -o @out.wav", 1,
     "notes.txt: not a file Tolvane knows (no RIFF WAVE, wave bank or stream pair header); --raw decodes it"},
    {"text file, --raw", "render @notes.txt --raw -o @raw/notes.wav", 0, "wrote"},
    {"text file, --rate", "render @notes.txt --rate 8000 -o @raw/notes8.wav", 0, "wrote"},
    {"text file, looked at", "info @notes.txt", 0, "notes.txt: no WAVE, bank or stream pair header"},
    {"empty file rendered", "render @empty.dat -o @out.wav", 1, "empty.dat: it holds no sound (it is empty)"},
    {"a bank with nothing to play", "render @wma-only.xwb -o @out.wav", 1, "no record of it plays"},
    {"stream data alone", "info @lone.xsd", 0, "lone.xsd: its stream pair partner (.xsh) is missing"},
    {"stream data alone, rendered", "render @lone.xsd -o @out.wav", 1,
     "its stream pair partner (.xsh) is missing; --raw decodes it"},
    {"extract raw data by its name", "extract @in.dat -o @x/in.wav", 0, "wrote"},
    {"extract a text file", "extract @notes.txt -o @x/notes.wav", 1, "--raw decodes it as raw Xbox ADPCM"},
    {"extract no record", "extract @bank.xwb --entry 7 -o @x/", 1, "no record 7 (the file has 4)"},
    {"truncated bank", "info @cut.xwb", 0, "cut.xwb: record 4 of the 4 declared is lost: the file ends before it"},
    {"a bank cut in its header", "info @cut-header.xwb", 0,
     "cut-header.xwb: the file ends at byte 30, inside the bank's header: nothing of it can be read"},
    {"a bank cut in its header, rendered", "render @cut-header.xwb -o @out.wav", 1,
     "cut-header.xwb: the file ends at byte 30, inside the bank's header"},
    {"sound past the end of the file", "info @far.xwb", 0,
     "far.xwb: record 2's sound is not in the file (starts at byte 16777344 of 164): nothing of it is written"},
    {"info --strict counts skipped records as render does", "info @bank.xwb --strict", 1,
     "bank.xwb: record 2 skipped: format tag 2 (WMA"},
    {"a bank cut in its last entry", "render @cut-sound.xwb -o @cut/", 0,
     "record 4's sound is cut short by the end of the file"},
    {"rate for a WAVE", "info @in.wav --rate 8000", 0, "--rate and --channels apply to raw data only"},
    {"version", "--version", 0, "tolvane " TOLVANE_VERSION},
    {"version, short", "-V", 0, "tolvane " TOLVANE_VERSION},
    {"help", "help", 0, "usage: tolvane COMMAND"},
    {"help of a command", "help render", 0, "usage: tolvane render FILE..."},
    {"a command's --help", "info --help", 0, "usage: tolvane info FILE..."},
    {"-- ends the options", "info -- -dash.wav", 0, "title: -dash.wav"},
    {"no command", "-q", 2, "no command given (see 'tolvane --help')"},
    {"unknown command", "perform @in.wav", 2, "no command \"perform\""},
    {"unknown format", "render @in.wav -o @out.raw --format mp3", 2,
     "--format takes wav, raw, flac or ogg, not \"mp3\""},
    {"output name with no format", "render @in.wav -o @out.mp3", 2,
     "name it .wav, .raw, .flac or .ogg, or give --format"},
    {"unknown option", "render @in.wav -o @out.raw --fast", 2,
     "unknown option --fast (did you mean --fade?) (see 'tolvane render --help')"},
    {"option of another command", "render @in.wav -o @out.raw --device null", 2, "render takes no --device"},
    {"render without -o", "render @in.wav", 2, "render needs -o OUT"},
    {"render without a file", "render -o @out.raw", 2, "render needs a FILE"},
    {"-o without its value", "render @in.wav -o", 2, "-o needs a value"},
    {"bad entry list", "render @bank.xwb --entry 5-2 -o @out.wav", 2, "--entry takes record numbers"},
    {"channels out of range", "info @in.dat --channels 9", 2, "--channels takes a channel count from 1 to 8"},
    {"several files onto one name", "render @in.wav @in.wav -o @out.wav", 2, "several files need -o DIR/"},
    {"play without a file", "play --device null", 2, "play needs a FILE"},
    {"play a missing file", "play @missing.wav --device null", 1, "cannot play"},
    {"play without a sound card", "play @in.wav --device tolvane-no-such-device", 1, "render"},
    {"encode a missing file", "encode @missing.wav @out.raw", 1, "missing.wav"},
    {"encode a Xbox ADPCM wave", "encode @in.wav @out.raw", 1, "an Xbox ADPCM WAVE: it is encoded already"},
    {"encode without its output", "encode @in.wav", 2, "encode needs IN and OUT (or -o OUT)"},
    {"encode with OUT and -o", "encode @in.wav @a.wav -o @b.wav", 2, "encode takes one IN with -o OUT"},
    {"a Windows bank in a container", "pack @in.wav --platform windows -o @out.wba", 2,
     "--platform windows writes a .xwb bank only"},
    {"an Xbox 360 bank packed", "pack @in.wav --platform xbox360 -o @out.xwb", 2,
     "tolvane reads Xbox 360 banks but does not write them"},
    {"Xbox ADPCM for Windows", "pack @in.wav --platform windows --codec xbox-adpcm -o @out.xwb", 2,
     "--codec xbox-adpcm does not go with --platform windows"},
    {"Microsoft ADPCM for the Xbox", "pack @in.wav --codec ms-adpcm -o @out.xwb", 2,
     "--codec ms-adpcm needs --platform windows"},
    {"no channels", "pack @silent.wav -o @out.xwb", 1, "an Xbox ADPCM WAVE with no channels or no rate"},
    {"no channels, for Windows", "pack @silent.wav --platform windows -o @out.xwb", 1,
     "an Xbox ADPCM WAVE with no channels or no rate"},
    {"replace into Xbox ADPCM", "replace @bank.xwb @in.wav --entry 1 --codec xbox-adpcm -o @out.xwb", 2,
     "replace takes --codec pcm or ms-adpcm"},
    {"replace an Xbox ADPCM record as PCM", "replace @bank.xwb @in.wav --entry 1 --codec pcm -o @out.xwb", 1,
     "record 1 is Xbox ADPCM and stays so"},
};

std::string expand_scratch_paths(const std::string& arguments, const std::string& scratch) {
    std::string expanded;
    size_t start = 0;
    while (start < arguments.size()) {
        size_t end = arguments.find(' ', start);
        if (end == std::string::npos) end = arguments.size();
        std::string word = arguments.substr(start, end - start);
        expanded += (expanded.empty() ? "" : " ") + (word[0] == '@' ? in_quotes(scratch + word.substr(1)) : word);
        start = end + 1;
    }
    return expanded;
}

TEST_F(TolvaneTool, EveryOutcomeIsSaid) {
    write_file_in(scratch, "in.wav", adpcm_wave(tone_adpcm(2, 10, 1), 2, 44100));
    write_file_in(scratch, "-dash.wav", adpcm_wave(tone_adpcm(2, 10, 1), 2, 44100));
    write_file_in(scratch, "in.dat", tone_adpcm(2, 10, 1));
    write_file_in(scratch, "pcm.wav", build_riff({{"fmt ", fmt_content(1, 2, 44100)}, {"data", bytes(400, 0)}}));
    write_file_in(scratch, "empty.dat", {});
    write_file_in(scratch, "silent.wav", adpcm_wave(tone_adpcm(1, 10, 1), 0, 44100));
    write_file_in(scratch, "notes.txt", bytes(300, 'x'));
    write_file_in(scratch, "lone.xsd", tone_adpcm(2, 10, 2));
    write_file_in(scratch, "pair.xsh", build_stream_header({{0, 720, 44100, 2}}));
    write_file_in(scratch, "pair.xsd", tone_adpcm(2, 10, 3));
    write_file_in(scratch, "bank.xwb", make_sample_bank(false).file);
    wave_bank_design wma_only;
    wma_only.entries = {{format_word(2, 2, 44100), 0, 400}};
    wma_only.entry_data = bytes(400, 0);
    write_file_in(scratch, "wma-only.xwb", build_wave_bank(wma_only));
    bytes cut = make_sample_bank(false).file;
    cut.resize(BANK_HEADER_BYTES + BANK_DATA_BYTES + 3 * BANK_RECORD_BYTES);
    write_file_in(scratch, "cut.xwb", cut);
    bytes cut_header = make_sample_bank(false).file;
    cut_header.resize(30);
    write_file_in(scratch, "cut-header.xwb", cut_header);
    wave_bank_design far;
    far.entries = {{format_word(1, 1, 22050), 0, 36}, {format_word(1, 1, 22050), 16u << 20, 36}};
    far.entry_data = tone_adpcm(1, 1, 4);
    write_file_in(scratch, "far.xwb", build_wave_bank(far));
    bytes cut_sound = make_sample_bank(false).file;
    cut_sound.resize(cut_sound.size() - 1000);
    write_file_in(scratch, "cut-sound.xwb", cut_sound);
    std::filesystem::create_directories(scratch + "folder");
    for (const said_case& c : SAID_CASES) {
        SCOPED_TRACE(c.name);
        run_result run;
        {
            current_folder in_scratch(scratch);
            run = run_tool(expand_scratch_paths(c.arguments, scratch), scratch);
        }
        EXPECT_EQ(c.status, run.status) << run.err;
        const std::string& said = c.status == 0 && run.err.empty() ? run.out : run.err;
        EXPECT_NE(std::string::npos, said.find(c.said)) << said;
        if (c.status != 0) {
            // One line names the failure; with --strict the warnings are it.
            int errors = 0;
            for (const std::string& line : lines_of(run.err)) errors += line.compare(0, 17, "tolvane: warning:") != 0;
            EXPECT_EQ(strstr(c.arguments, "--strict") ? 0 : 1, errors) << run.err;
            EXPECT_FALSE(file_exists(scratch + "out.raw")) << "nothing is written for a failed render";
            EXPECT_FALSE(file_exists(scratch + "out.wav")) << "nothing is written for a failed render";
        }
        remove((scratch + "out.wav").c_str());
    }
}

// The cache of a compressed bank is the module's business: info never
// writes one, and a file of the user's under the cache's name is never
// touched; the bank plays right from a cache name of its own.
TEST_F(TolvaneTool, ACompressedBankLeavesOtherFilesAlone) {
    std::string temp = scratch + "tmp" + PLATFORM_PATH_SEPARATOR;
    std::filesystem::create_directories(temp);
    temp_directory_override temp_folder(temp);
    sample_bank bank = make_sample_bank(false);
    std::string input = write_file_in(scratch, "music.zwb", compressed_bank(bank.file, (uint32_t)bank.file.size()));
    const bytes users_file = random_bytes(5000, 9);
    write_file_in(temp, "music.xwb", users_file);

    run_result run = run_tool("info " + in_quotes(input), scratch);
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("entries: 3")) << run.out;
    EXPECT_EQ(files_under(temp), std::vector<std::string>{"music.xwb"});

    run = run_tool("render " + in_quotes(input) + " -q -o " +
                       in_quotes(scratch + "out" + PLATFORM_PATH_SEPARATOR + "{name}-{entry}.wav"),
                   scratch);
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(read_file(temp + "music.xwb") == users_file);
    EXPECT_EQ(files_under(temp), (std::vector<std::string>{"music.xwb", "music~2.xwb"}));
    const bank_entry_sound& e = bank.entries[1];
    EXPECT_TRUE(pcm_wave_samples(scratch + "out" + PLATFORM_PATH_SEPARATOR + "music-03.wav", e.channels,
                                 e.sample_rate) == reference_pcm(e.adpcm, e.channels));
}

// ---- what is left on the disk ----------------------------------------------------

enum disk_action {
    RUN,              // run to its end
    SIGNAL_INT,       // Ctrl-C once the output is being written
    SIGNAL_TERM,      // a termination request, likewise
    FILE_SIZE_LIMIT,  // a file-size limit the output outgrows
};

struct disk_case {
    const char* name;
    disk_action action;
    const char* arguments;  // "@NAME" as in SAID_CASES; the outputs go to @out/
    int status;
    const char* said;
    bool output_left;       // out/big.wav exists afterwards (else nothing under that name)
    bool output_was_there;  // a file of the user's sits at out/big.wav before
};

// Outputs appear whole or not at all: an interrupt or a failed write leaves
// neither the output nor a temporary file, -n keeps a file that is there,
// and without it the file is replaced by a complete one.
const disk_case DISK_CASES[] = {
    {"Ctrl-C", SIGNAL_INT, "render @big.dat -o @out/big.wav", 130, "tolvane: interrupted", false, false},
    {"SIGTERM", SIGNAL_TERM, "render @big.dat -o @out/big.wav", 130, "tolvane: interrupted", false, false},
    // Every writing command meets a file-size limit as an ordinary write error.
    {"a file-size limit", FILE_SIZE_LIMIT, "render @big.dat -o @out/big.wav", 1,
     "cannot write {out}big.wav: file too large", false, false},
    {"extract under the limit", FILE_SIZE_LIMIT, "extract @big.dat -o @out/big.wav", 1,
     "cannot write {out}big.wav: file too large", false, false},
    {"pack under the limit", FILE_SIZE_LIMIT, "pack @bigpcm.wav --codec pcm -o @out/big.xwb", 1,
     "cannot write {out}big.xwb: file too large", false, false},
    {"a pair under the limit", FILE_SIZE_LIMIT, "pack @bigpcm.wav --codec pcm -o @out/big.xsh", 1,
     "cannot write {out}big.xsh: file too large", false, false},
    {"replace under the limit", FILE_SIZE_LIMIT, "replace @one.xwb @bigpcm.wav --entry 1 -o @out/big.xwb", 1,
     "cannot write {out}big.xwb: file too large", false, false},
    {"encode under the limit", FILE_SIZE_LIMIT, "encode @bigpcm.wav @out/big.wav", 1,
     "cannot write {out}big.wav: file too large", false, false},
    {"--no-clobber keeps the file there", RUN, "render @small.dat -n -o @out/big.wav", 0,
     "kept {out}big.wav: it exists (--no-clobber)", true, true},
    {"without it the file is replaced", RUN, "render @small.dat -o @out/big.wav", 0, "wrote {out}big.wav", true, true},
    {"encode keeps it with -n", RUN, "encode @pcm16.wav @out/big.wav -n", 0, "kept {out}big.wav", true, true},
};

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

TEST_F(TolvaneTool, OutputsAppearWholeOrNotAtAll) {
    // 64 MiB of raw data renders for long enough to be interrupted.
    write_file_in(scratch, "big.dat", random_bytes(64u << 20, 5));
    write_file_in(scratch, "small.dat", tone_adpcm(2, 20, 6));
    std::vector<int16_t> pcm(2000, 1000);
    write_file_in(scratch, "pcm16.wav", make_pcm_wave(pcm.data(), 1000, 2, 22050));
    std::vector<int16_t> big_pcm(8u << 20, 1000);
    write_file_in(scratch, "bigpcm.wav", make_pcm_wave(big_pcm.data(), big_pcm.size() / 2, 2, 22050));
    wave_bank_design one;
    bytes one_sound = tone_adpcm(2, 4, 1);
    one.entries.push_back({format_word(1, 2, 22050), 0, (uint32_t)one_sound.size()});
    one.entry_data = one_sound;
    write_file_in(scratch, "one.xwb", build_wave_bank(one));
    const bytes users_file = random_bytes(999, 7);
    std::string out = scratch + "out" + PLATFORM_PATH_SEPARATOR;
    for (const disk_case& c : DISK_CASES) {
        SCOPED_TRACE(c.name);
        if (c.action != RUN && shell_is_cmd()) continue;  // signals and ulimit are POSIX shells'
        remove_scratch_dir(out);
        std::filesystem::create_directories(out);
        if (c.output_was_there) write_file_in(out, "big.wav", users_file);
        std::string arguments = expand_scratch_paths(c.arguments, scratch);
        run_result run;
        if (c.action == SIGNAL_INT || c.action == SIGNAL_TERM) {
            run = run_tool_and_signal(arguments, c.action == SIGNAL_INT ? "INT" : "TERM", out, scratch);
        } else if (c.action == FILE_SIZE_LIMIT) {
            run = run_tool_under_limit(arguments, "-f 2000", scratch);
        } else {
            run = run_tool(arguments, scratch);
        }
        EXPECT_EQ(c.status, run.status) << run.err;
        std::string said = replaced(c.said, "{out}", scratch + "out/");
        EXPECT_NE(std::string::npos, (run.err + run.out).find(said)) << run.err << run.out;
        std::vector<std::string> left = files_under(out);
        EXPECT_EQ(left, c.output_left ? std::vector<std::string>{"big.wav"} : std::vector<std::string>{});
        if (c.output_left) {
            bytes now = read_file(out + "big.wav");
            bool kept = strstr(c.arguments, " -n") != nullptr;
            EXPECT_EQ(now == users_file, kept);
            if (!kept) {
                EXPECT_GT(now.size(), 44u);
            }
        }
    }
}

// A game's folder: render walks it in sorted order, keeps each file's folder
// under -o DIR/ (and in {dir}), skips files of no known kind without a word,
// and renders a stream pair once, by its header.
TEST_F(TolvaneTool, FoldersAreWalkedIntoTheSameTree) {
    std::string game = scratch + "game" + PLATFORM_PATH_SEPARATOR;
    std::string sep(1, PLATFORM_PATH_SEPARATOR);
    bytes sound = tone_adpcm(1, 4, 3);
    wave_bank_design design;
    design.entries = {{format_word(1, 1, 22050), 0, (uint32_t)sound.size()},
                      {format_word(1, 1, 22050), (uint32_t)sound.size(), (uint32_t)sound.size()}};
    design.entry_data = sound;
    design.entry_data.insert(design.entry_data.end(), sound.begin(), sound.end());
    write_file_in(game + "music" + sep, "theme.xwb", build_wave_bank(design));
    write_file_in(game + "music" + sep + "deep" + sep, "boss.wav", adpcm_wave(sound, 1, 22050));
    write_file_in(game + "voice" + sep, "lines.xsh", build_stream_header({{0, 36, 22050, 1}}));
    write_file_in(game + "voice" + sep, "lines.xsd", sound);
    write_file_in(game, "readme.txt", bytes(100, 'x'));
    std::string out = scratch + "out" + sep;
    std::filesystem::create_directories(out);
    run_result run = run_tool("render -q " + in_quotes(game) + " -o " + in_quotes(out), scratch);
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ("", run.err);
    EXPECT_EQ(files_under(out), (std::vector<std::string>{"music/deep/boss.wav", "music/theme-01.wav",
                                                          "music/theme-02.wav", "voice/lines-01.wav"}));
    run = run_tool("render -q " + in_quotes(game) + " -o " + in_quotes(scratch + "flat" + sep + "{dir}-{name}.wav"),
                   scratch);
    ASSERT_EQ(0, run.status) << run.err;
    run = run_tool("info " + in_quotes(game), scratch);
    ASSERT_EQ(0, run.status) << run.err;
    for (const char* listed : {"boss.wav", "theme.xwb", "lines.xsh"})
        EXPECT_NE(std::string::npos, run.out.find(std::string(listed) + "\n")) << listed;
    EXPECT_EQ(std::string::npos, run.out.find("readme.txt"));
    EXPECT_EQ(std::string::npos, run.out.find("lines.xsd\n"));
    EXPECT_TRUE(file_exists(scratch + "flat" + sep + "music-theme-01.wav"));
    EXPECT_TRUE(file_exists(scratch + "flat" + sep + "voice-lines.wav"));
    EXPECT_TRUE(file_exists(scratch + "flat" + sep + "music" + sep + "deep-boss.wav"));
}

// An impatient double Ctrl-C, and a Ctrl-C to the whole process group (which
// reaches the tool twice), leave no temporary file behind, however the
// signals fall.
TEST_F(TolvaneTool, RepeatedInterruptsLeaveNoTemporaryFile) {
    if (shell_is_cmd()) return;  // signals are POSIX shells'
    std::string input = write_file_in(scratch, "big.dat", random_bytes(16u << 20, 5));
    std::string out = scratch + "out" + PLATFORM_PATH_SEPARATOR;
    for (int attempt = 0; attempt < 20; ++attempt) {
        SCOPED_TRACE(attempt);
        for (bool group : {false, true}) {
            remove_scratch_dir(out);
            std::filesystem::create_directories(out);
            std::string arguments = "render " + in_quotes(input) + " -o " + in_quotes(out + "big.wav");
            run_result run = group ? run_tool_under_timeout(arguments, "INT", "0.05", scratch)
                                   : run_tool_and_signal(arguments, "INT", out, scratch, true);
            EXPECT_NE(run.status, 0);
            EXPECT_EQ(files_under(out), std::vector<std::string>{})
                << (group ? "process group" : "twice") << ", exit status " << run.status << ": " << run.err;
        }
    }
}

// A render names each entry's file as soon as it is whole, so a bank of any
// size renders with few files open, and a failure part of the way (here a
// file-size limit that the twentieth entry's file outgrows) keeps every
// finished file and leaves no temporary one.
TEST_F(TolvaneTool, RendersCommitEachEntryAsItIsWhole) {
    if (shell_is_cmd()) return;  // ulimit is POSIX shells'
    wave_bank_design design;
    const uint32_t ENTRIES = 5000;
    for (uint32_t i = 0; i < ENTRIES; ++i) {
        // Entry 20 is far longer than the others.
        bytes sound = tone_adpcm(1, i == 19 ? 2000 : 4, i);
        design.entries.push_back(
            {format_word(1, 1, 22050), (uint32_t)design.entry_data.size(), (uint32_t)sound.size()});
        design.entry_data.insert(design.entry_data.end(), sound.begin(), sound.end());
    }
    std::string input = write_file_in(scratch, "voices.xwb", build_wave_bank(design));
    std::string out = scratch + "out" + PLATFORM_PATH_SEPARATOR;
    std::filesystem::create_directories(out);
    run_result run = run_tool_under_limit("render -q " + in_quotes(input) + " -o " + in_quotes(out), "-n 32", scratch);
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ(files_under(out).size(), (size_t)ENTRIES);

    remove_scratch_dir(out);
    std::filesystem::create_directories(out);
    run = run_tool_under_limit("render -q " + in_quotes(input) + " -o " + in_quotes(out), "-f 200", scratch);
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("voices-0020.wav: file too large")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("19 of its 5000 outputs were written")) << run.err;
    std::vector<std::string> expected;
    for (int i = 1; i <= 19; ++i) expected.push_back("voices-" + padded_record(i, 4) + ".wav");
    EXPECT_EQ(files_under(out), expected);

    // Ctrl-C half-way, in a long twentieth entry, keeps the nineteen
    // entries already finished and no temporary file.
    wave_bank_design long_one;
    for (uint32_t i = 0; i < 20; ++i) {
        bytes sound = i == 19 ? random_bytes(32u << 20, 9) : tone_adpcm(1, 4, i);
        long_one.entries.push_back(
            {format_word(1, 1, 22050), (uint32_t)long_one.entry_data.size(), (uint32_t)sound.size()});
        long_one.entry_data.insert(long_one.entry_data.end(), sound.begin(), sound.end());
    }
    std::string long_input = write_file_in(scratch, "long.xwb", build_wave_bank(long_one));
    remove_scratch_dir(out);
    std::filesystem::create_directories(out);
    run = run_tool_and_signal("render " + in_quotes(long_input) + " -o " + in_quotes(out), "INT", out, scratch, false,
                              "long-19[.]wav$");
    EXPECT_EQ(130, run.status) << run.err;
    expected.clear();
    for (int i = 1; i <= 19; ++i) expected.push_back("long-" + padded_record(i, 2) + ".wav");
    EXPECT_EQ(files_under(out), expected);
}

// Names are any bytes: the JSON escapes those that are not UTF-8 and stays
// valid; a file that fails still gets an object saying why.
TEST_F(TolvaneTool, JsonStaysValidForAnyNameAndSaysWhyAFileFailed) {
    wave_bank_design design;
    bytes sound = tone_adpcm(1, 4, 1);
    design.entries = {
        {format_word(1, 1, 22050), 0, (uint32_t)sound.size(), 0, 0, 0, "caf\xe9 \xc3\xa9t\xc3\xa9 \"q\""}};
    design.entry_data = sound;
    design.with_names = true;
    std::string name = shell_is_cmd() ? "bank.xwb" : "b\xffnk.xwb";
    std::string input = write_file_in(scratch, name, build_wave_bank(design));
    run_result run = run_tool("info --json " + in_quotes(input) + " " + in_quotes(scratch + "missing.wav"), scratch);
    EXPECT_EQ(1, run.status);
    std::vector<std::string> lines = lines_of(run.out);
    ASSERT_EQ(2u, lines.size()) << run.out;
    json_value bank;
    ASSERT_TRUE(parse_json(lines[0], &bank)) << lines[0];
    EXPECT_EQ(bank["file"].text, input);
    EXPECT_EQ(bank["records"].items[0]["name"].text, "caf\xe9 \xc3\xa9t\xc3\xa9 \"q\"");
    json_value missing;
    ASSERT_TRUE(parse_json(lines[1], &missing)) << lines[1];
    EXPECT_EQ(missing.keys(), (std::vector<std::string>{"file", "error"}));
    EXPECT_EQ(missing["error"].text, "cannot read: no such file");
}

// Where the user can be refused a file by its permissions: never as root,
// whom nothing is refused, and not on Windows, where modes do not apply.
TEST_F(TolvaneTool, AFileThatCannotBeReadSaysSo) {
    std::string locked = write_file_in(scratch, "locked.wav", adpcm_wave(tone_adpcm(2, 10, 1), 2, 44100));
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    FILE* probe = fopen(locked.c_str(), "rb");
    if (probe) {
        fclose(probe);
        GTEST_SKIP() << "this user reads files whatever their permissions";
    }
    run_result run = run_tool("info " + in_quotes(locked), scratch);
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("locked.wav: permission denied")) << run.err;
}

// What `tolvane help` says and what the README documents agree: every option
// of every command's help is in the README.
TEST(TolvaneHelp, EveryOptionIsInTheToolsGuide) {
    std::string readme = read_text(std::string(TOLVANE_SOURCE_DIR) + "/docs/tolvane.md");
    ASSERT_FALSE(readme.empty());
    // The README stays a short guide for users; the rest lives in docs/.
    std::string front = read_text(std::string(TOLVANE_SOURCE_DIR) + "/README.md");
    EXPECT_LE(std::count(front.begin(), front.end(), '\n'), 250);
    for (const char* command : {"", "play", "render", "info", "extract", "pack", "replace", "encode", "demo", "help"}) {
        std::string help = help_text(command);
        std::regex option("(^|[ ,\\[])(--?[a-zA-Z][a-z-]*)");
        for (auto it = std::sregex_iterator(help.begin(), help.end(), option); it != std::sregex_iterator(); ++it) {
            std::string name = (*it)[2];
            EXPECT_NE(std::string::npos, readme.find(name)) << name << " of " << command;
        }
        EXPECT_NE(std::string::npos, readme.find(help.substr(0, help.find('\n')))) << "usage of " << command;
    }
}

// ---- encode -------------------------------------------------------------------

const double TWO_PI = 6.283185307179586;

// Channel j is a sine at hertz * (j + 1), so a mix-up of channels shows.
std::vector<int16_t> sine_pcm(size_t frames, uint32_t channels, uint32_t sample_rate, double hertz) {
    std::vector<int16_t> pcm(frames * channels);
    for (size_t f = 0; f < frames; ++f) {
        double t = (double)f / sample_rate;
        for (uint32_t j = 0; j < channels; ++j) {
            pcm[f * channels + j] = (int16_t)lround(8000.0 * sin(TWO_PI * hertz * (j + 1) * t + j));
        }
    }
    return pcm;
}

double snr_db(const std::vector<int16_t>& original, const std::vector<int16_t>& decoded, uint32_t channels,
              uint32_t channel) {
    double signal = 0;
    double noise = 0;
    for (size_t i = channel; i < original.size(); i += channels) {
        double error = (double)decoded[i] - original[i];
        signal += (double)original[i] * original[i];
        noise += error * error;
    }
    return noise == 0 ? INFINITY : 10 * log10(signal / noise);
}

struct encode_case {
    uint32_t channels;
    uint32_t sample_rate;
    size_t frames;
    double hertz;  // channel j plays hertz * (j + 1)
};

// Xbox ADPCM of a moderate sine keeps well above 30 dB of signal to noise on
// every channel (the encoder's own tests bound it closer); a wrong channel
// order, block layout or header in the tool's path would fall far below.
const double ROUND_TRIP_MIN_SNR_DB = 30.0;

const encode_case ENCODE_CASES[] = {
    {1, 8000, 8000, 200},  {2, 44100, 30000, 440},       {3, 32000, 20000, 300},
    {6, 22050, 6500, 110}, {2, 48000, 65 * 40 + 1, 440},  // one frame into the last block set
};

TEST_F(TolvaneTool, EncodeThenRenderGivesBackTheSoundWithinTheMargin) {
    for (const encode_case& c : ENCODE_CASES) {
        SCOPED_TRACE(testing::Message() << c.channels << " ch at " << c.sample_rate << " Hz, " << c.frames
                                        << " frames");
        std::vector<int16_t> pcm = sine_pcm(c.frames, c.channels, c.sample_rate, c.hertz);
        bytes pcm_file = make_pcm_wave(pcm.data(), c.frames, c.channels, c.sample_rate);
        std::string in = write_file_in(scratch, "in.wav", pcm_file);
        std::string encoded = scratch + "encoded.wav";
        run_result run = run_tool("encode " + in_quotes(in) + " " + in_quotes(encoded), scratch);
        ASSERT_EQ(0, run.status) << run.err;
        EXPECT_EQ(1, line_count(run.out)) << run.out;

        bytes file;
        ASSERT_TRUE(read_whole_file(encoded.c_str(), &file));
        byte_source source = source_of_memory(file.data(), (int64_t)file.size());
        wave_chunks chunks;
        ASSERT_TRUE(read_wave_chunks(&source, &chunks) && chunks.has_format && chunks.has_data);
        EXPECT_EQ(0x0069, chunks.format.format_tag);
        EXPECT_EQ(c.channels, chunks.format.channels);
        EXPECT_EQ(c.sample_rate, chunks.format.sample_rate);
        EXPECT_EQ(36 * c.channels, chunks.format.block_align);
        EXPECT_EQ(65, read_u16le(&file[(size_t)chunks.data_start - 8 - 2]));
        size_t block_sets = (c.frames + 64) / 65;
        EXPECT_EQ(block_sets * 36 * c.channels, (size_t)chunks.data_bytes);
        // The exact frame count, in a fact chunk after the sound.
        EXPECT_EQ((int64_t)c.frames, chunks.format.stated_frames);

        std::string decoded_path = scratch + "decoded.wav";
        run = run_tool("render " + in_quotes(encoded) + " -o " + in_quotes(decoded_path), scratch);
        ASSERT_EQ(0, run.status) << run.err;
        uint32_t rate = 0;
        uint32_t channels = 0;
        std::vector<int16_t> decoded;
        const char* error = nullptr;
        ASSERT_TRUE(read_pcm_wave(decoded_path.c_str(), &rate, &channels, &decoded, &error)) << error;
        EXPECT_EQ(c.sample_rate, rate);
        ASSERT_EQ(c.channels, channels);
        ASSERT_EQ(block_sets * 65 * c.channels, decoded.size());
        for (uint32_t j = 0; j < c.channels; ++j) {
            EXPECT_GT(snr_db(pcm, decoded, c.channels, j), ROUND_TRIP_MIN_SNR_DB) << "channel " << j;
        }
    }
}

// What encode makes of WAVEs of other shapes: this build reads them or says
// what they are (linux_reason null: the Linux build encodes it).
struct bad_input_case {
    const char* name;
    uint16_t format_tag;
    uint16_t channels;
    uint16_t bits_per_sample;
    const char* linux_reason;
    const char* windows_reason;
};

const bad_input_case BAD_INPUT_CASES[] = {
    {"8-bit PCM", 1, 2, 8, nullptr, "an 8-bit PCM WAVE: this Windows build reads 16-bit PCM WAVE only"},
    {"24-bit PCM", 1, 2, 24, nullptr, "a 24-bit PCM WAVE: this Windows build reads 16-bit PCM WAVE only"},
    {"float", 3, 2, 32, nullptr, "a 32-bit float WAVE: this Windows build reads 16-bit PCM WAVE only"},
    {"no channels", 1, 0, 16, "a 16-bit PCM WAVE, which libsndfile cannot read: channel count is zero",
     "a 16-bit PCM WAVE: 0 channels"},
    {"nine channels", 1, 9, 16, "a 16-bit PCM WAVE with 9 channels: tolvane takes 1 to 8",
     "a 16-bit PCM WAVE: more than 8 channels"},
    {"WMA", 0x0161, 2, 16, "a WAVE of format tag 0x0161, which libsndfile cannot read",
     "a WAVE of format tag 0x0161: this Windows build reads 16-bit PCM WAVE only"},
};

TEST_F(TolvaneTool, EncodeSaysWhatItCannotReadInOneLine) {
    for (const bad_input_case& c : BAD_INPUT_CASES) {
        SCOPED_TRACE(c.name);
        bytes format = fmt_content(c.format_tag, c.channels, 44100);
        format[14] = (uint8_t)c.bits_per_sample;
        format[15] = 0;
        std::string in = write_file_in(scratch, "in.wav", build_riff({{"fmt ", format}, {"data", bytes(720, 0)}}));
        std::string out = scratch + "out.wav";
        file_remove(out.c_str());
        run_result run = run_tool("encode " + in_quotes(in) + " -o " + in_quotes(out), scratch);
#ifdef TOLVANE_TEST_SNDFILE
        const char* reason = c.linux_reason;
#else
        const char* reason = c.windows_reason;
#endif
        if (!reason) {
            EXPECT_EQ(0, run.status) << run.err;
            EXPECT_TRUE(file_exists(out));
            continue;
        }
        EXPECT_EQ(1, run.status);
        EXPECT_EQ(1, line_count(run.err)) << run.err;
        EXPECT_NE(std::string::npos, run.err.find("in.wav")) << run.err;
        EXPECT_NE(std::string::npos, run.err.find(reason)) << run.err;
        EXPECT_FALSE(file_exists(out));
    }
}

// ---- demo ------------------------------------------------------------------

// Without a sound device the demo renders its bank, one WAVE per entry, each
// with its own rate and channel count.
TEST_F(TolvaneTool, DemoWithoutSoundCardRendersEachEntry) {
    run_result run = run_tool("demo -o " + in_quotes(scratch) + " --device tolvane-no-such-device", scratch);
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ("", run.err);
    EXPECT_EQ(4, line_count(run.out)) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("no sound output")) << run.out;
    const struct {
        uint32_t sample_rate;
        uint32_t channels;
    } entries[] = {{44100, 2}, {22050, 1}, {32000, 2}};
    for (size_t i = 0; i < 3; ++i) {
        std::string path = scratch + "tolvane-demo-0" + std::to_string(i + 1) + ".wav";
        SCOPED_TRACE(path);
        EXPECT_NE(std::string::npos, run.out.find(path)) << run.out;
        uint32_t sample_rate = 0;
        uint32_t channels = 0;
        std::vector<int16_t> pcm;
        const char* error = nullptr;
        ASSERT_TRUE(read_pcm_wave(path.c_str(), &sample_rate, &channels, &pcm, &error)) << error;
        EXPECT_EQ(entries[i].sample_rate, sample_rate);
        EXPECT_EQ(entries[i].channels, channels);
        EXPECT_GE(pcm.size(), (size_t)sample_rate * channels) << "each tune lasts over a second";
        int loudest = 0;
        for (int16_t sample : pcm) loudest = std::max(loudest, std::abs((int)sample));
        EXPECT_GT(loudest, 3000) << "the demo should be audible";
    }
    EXPECT_FALSE(file_exists(scratch + "tolvane-demo-04.wav"));
}

// ---- per-entry WAVE files ----------------------------------------------------

struct counter_case {
    const char* title;
    bool is_counter;
    int entry;
    int count;
};

const counter_case COUNTER_CASES[] = {
    {"music.xwb - 4 / 12", true, 4, 12},
    {"a - b.xwb - 1 / 2", true, 1, 2},
    {" - 1 / 1", true, 1, 1},
    {"music.xwb - 100 / 250", true, 100, 250},
    {"song.wav", false, 0, 0},
    {"", false, 0, 0},
    {"x - 4 / ", false, 0, 0},
    {"x - / 3", false, 0, 0},
    {"x -4 / 12", false, 0, 0},
    {"x - 4/12", false, 0, 0},
    {"x - 0 / 3", false, 0, 0},
    {"x - 1 / 3 ", false, 0, 0},
    {"x - 1 / 12345678901", false, 0, 0},
};

TEST(EntryCounter, ReadsTheCounterAtTheEndOfATitle) {
    for (const counter_case& c : COUNTER_CASES) {
        SCOPED_TRACE(c.title);
        int entry = -1;
        int count = -1;
        EXPECT_EQ(c.is_counter, parse_entry_counter(c.title, &entry, &count));
        if (c.is_counter) {
            EXPECT_EQ(c.entry, entry);
            EXPECT_EQ(c.count, count);
        }
    }
}

}  // namespace
