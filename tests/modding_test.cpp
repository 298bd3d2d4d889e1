// The modder's loop through the real tolvane: entries extracted as stored,
// banks and stream pairs packed from them and patched one entry at a time,
// all read back through the module bit for bit; looped entries rendered as
// the game plays them; FLAC written and decoded again.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "codec/little_endian.h"
#include "codec/xbox_adpcm.h"
#include "containers/byte_source.h"
#include "containers/riff_wave.h"
#include "containers/wave_bank.h"
#include "containers/wave_bank_writer.h"
#include "tests/support/json_reader.h"
#include "tests/support/sample_files.h"
#include "tests/support/shipped_layouts.h"
#include "tests/support/tool_runner.h"
#include "containers/riff_wave_writer.h"
#include "containers/stream_pair.h"

#ifdef TOLVANE_TEST_SNDFILE
#include <math.h>
#include <sndfile.h>

#include "tools/tolvane/session/encoded_audio.h"
#endif

namespace {

const uint32_t ALIGN = 2048;

// A bank as games mix them: named Xbox ADPCM entries of several formats, one
// looped over part of it and one over all of it, a 16-bit PCM entry and a
// WMA one between them, an 8-bit PCM one last.
struct mixed_entry {
    const char* name;
    entry_codec codec;
    uint32_t channels;
    uint32_t rate;
    uint32_t block_sets;  // of Xbox ADPCM
    uint32_t loop_start;  // block sets; loop_end 0 for none
    uint32_t loop_end;
};

const mixed_entry MIXED[] = {
    {"intro", CODEC_XBOX_ADPCM, 2, 44100, 40, 8, 30},
    {"voice", CODEC_XBOX_ADPCM, 1, 22050, 25, 0, 0},
    {"pcm_sfx", CODEC_PCM16, 2, 22050, 0, 0, 0},
    {"wma_track", CODEC_WMA, 2, 44100, 0, 0, 0},
    {"surround", CODEC_XBOX_ADPCM, 6, 48000, 12, 0, 12},
#ifdef TOLVANE_TEST_SNDFILE
    // The Windows build reads 16-bit PCM WAVE only, so its pack cannot take
    // an 8-bit entry back.
    {"pcm8_sfx", CODEC_PCM8, 1, 11025, 0, 0, 0},
#endif
};

struct mixed_bank {
    bytes file;
    std::vector<bytes> sounds;  // as stored, per record
};

mixed_bank make_mixed_bank() {
    mixed_bank bank;
    wave_bank_design design;
    design.with_names = true;
    design.bank_name = "mixed";
    design.alignment = ALIGN;
    for (size_t i = 0; i < sizeof MIXED / sizeof MIXED[0]; ++i) {
        const mixed_entry& e = MIXED[i];
        bytes sound = e.codec == CODEC_XBOX_ADPCM ? tone_adpcm(e.channels, e.block_sets, (uint32_t)i + 1)
                                                  : random_bytes(e.codec == CODEC_PCM16 ? 4000 : 777, (uint32_t)i);
        design.entry_data.resize((design.entry_data.size() + ALIGN - 1) / ALIGN * ALIGN, 0);
        uint32_t set_bytes = 36 * e.channels;
        design.entries.push_back({pack_format(VERSION_2_RECORD, e.codec, e.channels, e.rate),
                                  (uint32_t)design.entry_data.size(), (uint32_t)sound.size(), 0,
                                  e.loop_start * set_bytes, (e.loop_end - e.loop_start) * set_bytes, e.name});
        design.entry_data.insert(design.entry_data.end(), sound.begin(), sound.end());
        bank.sounds.push_back(sound);
    }
    bank.file = build_wave_bank(design);
    return bank;
}

class Modding : public ::testing::Test {
public:
    void SetUp() override {
        scratch = make_scratch_dir();
    }
    void TearDown() override {
        remove_scratch_dir(scratch);
    }

    std::string path(const std::string& name) {
        return scratch + name;
    }

    run_result tool(const std::string& arguments) {
        std::string expanded;
        size_t start = 0;
        while (start < arguments.size()) {
            size_t end = arguments.find(' ', start);
            if (end == std::string::npos) end = arguments.size();
            std::string word = arguments.substr(start, end - start);
            expanded += (expanded.empty() ? "" : " ") + (word[0] == '@' ? in_quotes(path(word.substr(1))) : word);
            start = end + 1;
        }
        return run_tool(expanded, scratch);
    }

    json_value info(const std::string& name) {
        run_result run = run_tool("info --json " + in_quotes(path(name)), scratch);
        EXPECT_EQ(0, run.status) << run.err;
        json_value doc;
        EXPECT_TRUE(parse_json(run.out, &doc)) << run.out;
        return doc;
    }

    // What the module plays of a record (or of a single stream, record 0),
    // once through.
    bytes rendered(const std::string& name, int record, const json_value& description) {
        std::string out = "r-" + std::to_string(++renders) + ".wav";
        std::string entry = record ? " --entry " + std::to_string(record) : "";
        run_result run = run_tool(
            "render " + in_quotes(path(name)) + entry + " --ignore-loop -q -o " + in_quotes(path(out)), scratch);
        EXPECT_EQ(0, run.status) << run.err;
        const json_value& r = record ? description["records"].items[(size_t)record - 1] : description;
        return pcm_wave_samples(path(out), (uint16_t)r["channels"].number, (uint32_t)r["sample_rate"].number);
    }

    std::string scratch;
    int renders = 0;
};

// The playing records of two listings agree in sound, name and loop.
void expect_same_entries(Modding* test, const std::string& a, const std::vector<int>& a_records, const std::string& b,
                         bool loops_kept) {
    json_value left = test->info(a);
    json_value right = test->info(b);
    ASSERT_EQ(right["records"].items.size(), a_records.size());
    for (size_t i = 0; i < a_records.size(); ++i) {
        SCOPED_TRACE(b + ", record " + std::to_string(i + 1));
        const json_value& l = left["records"].items[(size_t)a_records[i] - 1];
        const json_value& r = right["records"].items[i];
        EXPECT_EQ(r["name"].text, l["name"].text);
        EXPECT_EQ(r["frames"].number, l["frames"].number);
        if (loops_kept) {
            EXPECT_EQ(r["loop_start"].type, l["loop_start"].type);
            EXPECT_EQ(r["loop_start"].number, l["loop_start"].number);
            EXPECT_EQ(r["loop_end"].number, l["loop_end"].number);
        }
        EXPECT_TRUE(test->rendered(b, (int)i + 1, right) == test->rendered(a, a_records[i], left));
    }
}

TEST_F(Modding, ExtractedEntriesPackBackIntoEveryContainerBitForBit) {
    mixed_bank bank = make_mixed_bank();
    write_file_in(scratch, "mixed.xwb", bank.file);
    std::filesystem::create_directories(path("ex"));
    run_result run = tool("extract @mixed.xwb -q -o @ex");
    ASSERT_EQ(0, run.status) << run.err;
    std::vector<std::string> extracted = {"mixed-01.wav", "mixed-02.wav", "mixed-03.wav", "mixed-04.wma",
                                          "mixed-05.wav"};
    std::vector<int> sound_records = {1, 2, 3, 5};
    std::string pack_inputs = "@ex/mixed-01.wav @ex/mixed-02.wav @ex/mixed-03.wav @ex/mixed-05.wav";
    if (sizeof MIXED / sizeof MIXED[0] == 6) {
        extracted.push_back("mixed-06.wav");
        sound_records.push_back(6);
        pack_inputs += " @ex/mixed-06.wav";
    }
    EXPECT_EQ(files_under(path("ex")), extracted);
    // Stored sound comes out as stored: the WMA file, the PCM WAVE's data.
    EXPECT_TRUE(read_file(path("ex/mixed-04.wma")) == bank.sounds[3]);
    bytes pcm_file = read_file(path("ex/mixed-03.wav"));
    byte_source source = source_of_memory(pcm_file.data(), (int64_t)pcm_file.size());
    wave_chunks pcm;
    ASSERT_TRUE(read_wave_chunks(&source, &pcm));
    EXPECT_EQ(pcm.format.format_tag, 1);
    EXPECT_EQ(pcm.format.bits_per_sample, 16);
    EXPECT_STREQ(pcm.name, "pcm_sfx");
    EXPECT_TRUE(bytes(pcm_file.begin() + pcm.data_start, pcm_file.begin() + pcm.data_start + pcm.data_bytes) ==
                bank.sounds[2]);
    // An extracted Xbox ADPCM WAVE is the entry: same sound, name and loop.
    for (int record : {1, 2, 5}) {
        std::string name = "ex/mixed-0" + std::to_string(record) + ".wav";
        SCOPED_TRACE(name);
        json_value entry = info(name);
        json_value original = info("mixed.xwb");
        EXPECT_TRUE(rendered(name, 0, entry) == rendered("mixed.xwb", record, original));
        EXPECT_EQ(entry["stated_frames"].number, original["records"].items[(size_t)record - 1]["frames"].number);
    }

    // PCM WAVEs pack as PCM of their depth, Xbox ADPCM ones as they are.
    for (const char* out : {"re.xwb", "re.wba", "re.zwb", "re.xsh"}) {
        SCOPED_TRACE(out);
        run = tool("pack " + pack_inputs + " -o @" + out);
        ASSERT_EQ(0, run.status) << run.err;
        bool pair = std::string(out) == "re.xsh";
        // A stream header keeps a loop over a whole entry only.
        EXPECT_EQ(pair, run.err.find("loop is dropped") != std::string::npos) << run.err;
        expect_same_entries(this, "mixed.xwb", sound_records, out, !pair);
    }
    json_value packed = info("re.xwb");
    EXPECT_EQ(packed["version"].number, 3);
    EXPECT_EQ(packed["bank_name"].text, "re");
    for (const json_value& record : packed["records"].items) EXPECT_EQ((int64_t)record["offset"].number % ALIGN, 0);
    EXPECT_EQ(info("re.xsh")["records"].items[3]["loop_end"].number, 12 * 65);
    for (size_t i = 0; i < sound_records.size(); ++i)
        EXPECT_EQ(packed["records"].items[i]["codec"].text,
                  info("mixed.xwb")["records"].items[(size_t)sound_records[i] - 1]["codec"].text);
}

// replace changes one record: its sound, format and loop; every other
// record keeps its sound and its bytes (an offset moves by whole alignments
// when the new sound outgrows the old one's room).
TEST_F(Modding, ReplaceChangesOnlyTheEntryReplaced) {
    mixed_bank bank = make_mixed_bank();
    bytes bank_file = bank.file;
    write_file_in(scratch, "mixed.xwb", bank_file);
    write_file_in(scratch, "mixed.wba", in_bank_container(bank_file));
    write_file_in(scratch, "mixed.zwb", compressed_bank(bank_file, (uint32_t)bank_file.size()));
    std::vector<stream_record_design> pair_records;
    bytes pair_data;
    for (int i : {0, 1, 4}) {
        const bytes& sound = bank.sounds[(size_t)i];
        pair_data.resize((pair_data.size() + ALIGN - 1) / ALIGN * ALIGN, 0);
        pair_records.push_back(
            {{(int64_t)pair_data.size(), (int64_t)sound.size(), MIXED[i].rate, (int32_t)MIXED[i].channels},
             MIXED[i].name,
             1,
             0,
             0});
        pair_data.insert(pair_data.end(), sound.begin(), sound.end());
    }
    write_file_in(scratch, "pair.xsh", build_versioned_stream_header(0x100, pair_records));
    write_file_in(scratch, "pair.xsd", pair_data);

    const struct {
        const char* bank;
        const char* out;
        int record;
        uint32_t block_sets;  // of the new sound
    } cases[] = {
        {"mixed.xwb", "small.xwb", 2, 15},  // fits the record's aligned room
        {"mixed.xwb", "big.xwb", 2, 300},   // pushes what follows on
        {"mixed.xwb", "last.xwb", 5, 90},  {"mixed.wba", "big.wba", 1, 200},
        {"mixed.zwb", "big.zwb", 2, 300},  {"pair.xsh", "big.xsh", 2, 300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.bank) + " -> " + c.out);
        bytes adpcm = tone_adpcm(3, c.block_sets, 77);
        sound_extras extras;
        extras.loop_start = 65;
        extras.loop_end = 130;
        write_file_in(scratch, "new.wav", make_adpcm_wave(adpcm, 3, 32000, extras));
        run_result run = tool(std::string("replace @") + c.bank + " @new.wav --entry " + std::to_string(c.record) +
                              " -q -o @" + c.out);
        ASSERT_EQ(0, run.status) << run.err;
        json_value before = info(c.bank);
        json_value after = info(c.out);
        ASSERT_EQ(after["records"].items.size(), before["records"].items.size());
        for (size_t i = 0; i < before["records"].items.size(); ++i) {
            SCOPED_TRACE(i + 1);
            const json_value& was = before["records"].items[i];
            const json_value& now = after["records"].items[i];
            EXPECT_EQ(now["name"].text, was["name"].text);
            if ((int)i + 1 == c.record) {
                EXPECT_EQ(now["channels"].number, 3);
                EXPECT_EQ(now["sample_rate"].number, 32000);
                EXPECT_EQ(now["bytes"].number, (double)adpcm.size());
                bool pair = std::string(c.bank) == "pair.xsh";
                EXPECT_EQ(now["loop_end"].type, pair ? JSON_NULL : JSON_NUMBER);
                EXPECT_TRUE(rendered(c.out, (int)i + 1, after) == reference_pcm(adpcm, 3));
                continue;
            }
            EXPECT_EQ(now["codec"].text, was["codec"].text);
            EXPECT_EQ(now["bytes"].number, was["bytes"].number);
            EXPECT_EQ(now["loop_start"].number, was["loop_start"].number);
            EXPECT_EQ((int64_t)(now["offset"].number - was["offset"].number) % ALIGN, 0);
            if (was["skipped"].type == JSON_NULL) {
                EXPECT_TRUE(rendered(c.out, (int)i + 1, after) == rendered(c.bank, (int)i + 1, before));
            }
        }
    }
    // The replaced stream record states its new sound's whole format, as the
    // new WAVE's "fmt " chunk does: block align and byte rate included.
    bytes header = read_file(path("big.xsh"));
    bytes wave = make_adpcm_wave(tone_adpcm(3, 1, 77), 3, 32000);
    const size_t format_at = STREAM_HEADER_RECORDS_AT + 100 + 0x50;
    EXPECT_TRUE(bytes(header.begin() + format_at, header.begin() + format_at + 20) ==
                bytes(wave.begin() + 20, wave.begin() + 40));
    // Records of a bank that keeps its size are byte for byte the original's,
    // the one replaced aside.
    bytes small = read_file(path("small.xwb"));
    const uint32_t records_at = BANK_HEADER_BYTES + BANK_DATA_BYTES;
    for (uint32_t i = 0; i < 5; ++i) {
        if (i == 1) continue;
        size_t at = records_at + BANK_RECORD_BYTES * i;
        EXPECT_TRUE(bytes(small.begin() + at, small.begin() + at + BANK_RECORD_BYTES) ==
                    bytes(bank_file.begin() + at, bank_file.begin() + at + BANK_RECORD_BYTES))
            << "record " << i + 1;
    }
    EXPECT_EQ(small.size(), bank_file.size());

    // --in-place replaces the bank itself, whole.
    write_file_in(scratch, "edit.xwb", bank_file);
    ASSERT_EQ(0, tool("replace @edit.xwb @new.wav --entry 2 --in-place -q").status);
    EXPECT_TRUE(read_file(path("edit.xwb")) == read_file(path("big.xwb")));
    EXPECT_EQ(info("edit.xwb")["records"].items[1]["channels"].number, 3);
}

// Every bank layout games shipped (version 1, names and loops, compact
// records of Xbox ADPCM and of PCM, Windows banks) takes a new sound for its first playing
// record; the others sound as before.
TEST_F(Modding, EveryShippedBankLayoutIsPatchedInPlace) {
    for (const shipped_file& file : shipped_files()) {
        // Xbox 360 banks are read, not edited.
        if (file.name.size() < 4 || file.name.substr(file.name.size() - 4) != ".xwb" || file.name.rfind("x360", 0) == 0)
            continue;
        SCOPED_TRACE(file.name);
        for (const auto& part : file.files) write_file_in(scratch, part.first, part.second);
        auto played =
            std::find_if(file.records.begin(), file.records.end(), [](const shipped_record& r) { return r.plays; });
        ASSERT_NE(played, file.records.end());
        std::vector<int16_t> tone(played->channels * 3000);
        for (size_t i = 0; i < tone.size(); ++i) tone[i] = (int16_t)((i * 37) % 20000 - 10000);
        write_file_in(scratch, "tone.wav", make_pcm_wave(tone.data(), 3000, played->channels, played->rate));
        run_result run =
            run_tool("replace " + in_quotes(path(file.name)) + " " + in_quotes(path("tone.wav")) + " --entry " +
                         std::to_string(played->record) + " -q -o " + in_quotes(path("patched.xwb")),
                     scratch);
        ASSERT_EQ(0, run.status) << run.err;
        json_value before = info(file.name);
        json_value after = info("patched.xwb");
        ASSERT_EQ(after["records"].items.size(), before["records"].items.size());
        EXPECT_EQ(after["records"].items[(size_t)played->record - 1]["codec"].text, played->codec);
        for (const shipped_record& r : file.records) {
            if (!r.plays || r.record == played->record) continue;
            SCOPED_TRACE(r.record);
            EXPECT_TRUE(rendered("patched.xwb", r.record, after) == rendered(file.name, r.record, before));
        }
    }
}

// A folder of edited files, named as extract names them (by label, or by
// the bank's stem and record number), replaces exactly
// the entries they are named after, in every container, in one run; a file
// that names no entry is listed. A pair's two files change together or not
// at all.
TEST_F(Modding, AFolderReplacesTheEntriesItsFilesAreNamedAfter) {
    const int COUNT = 10;
    const std::vector<int> EDITED = {3, 4, 6, 8};
    wave_bank_design design;
    design.with_names = true;
    design.bank_name = "ten";
    design.alignment = ALIGN;
    std::vector<stream_record_design> pair_records;
    for (int i = 0; i < COUNT; ++i) {
        bytes sound = tone_adpcm(1, 10 + (uint32_t)i, (uint32_t)i + 1);
        design.entry_data.resize((design.entry_data.size() + ALIGN - 1) / ALIGN * ALIGN, 0);
        std::string name = "line" + std::to_string(i + 1);
        design.entries.push_back({pack_format(VERSION_2_RECORD, CODEC_XBOX_ADPCM, 1, 22050),
                                  (uint32_t)design.entry_data.size(), (uint32_t)sound.size(), 0, 0, 0, name});
        pair_records.push_back({{(int64_t)design.entry_data.size(), (int64_t)sound.size(), 22050, 1}, name, 1, 0, 0});
        design.entry_data.insert(design.entry_data.end(), sound.begin(), sound.end());
    }
    bytes bank_file = build_wave_bank(design);
    write_file_in(scratch, "ten.xwb", bank_file);
    write_file_in(scratch, "ten.wba", in_bank_container(bank_file));
    write_file_in(scratch, "ten.zwb", compressed_bank(bank_file, (uint32_t)bank_file.size()));
    write_file_in(scratch, "ten.xsh", build_versioned_stream_header(0x100, pair_records));
    write_file_in(scratch, "ten.xsd", design.entry_data);
    std::filesystem::create_directories(path("edits"));
    std::map<int, bytes> new_sounds;
    for (int record : EDITED) {
        new_sounds[record] = tone_adpcm(1, 30, 100 + (uint32_t)record);
        // Named by label, or as extract -o DIR/ numbers them.
        std::string name = record == 4 ? "ten-04" : "line" + std::to_string(record);
        write_file_in(scratch, "edits/" + name + ".wav", make_adpcm_wave(new_sounds[record], 1, 22050));
    }
    write_file_in(scratch, "edits/notes.wav", make_adpcm_wave(tone_adpcm(1, 5, 9), 1, 22050));

    for (const char* bank : {"ten.xwb", "ten.wba", "ten.zwb", "ten.xsh"}) {
        SCOPED_TRACE(bank);
        std::string out = std::string("out") + strrchr(bank, '.');
        run_result run = tool(std::string("replace @") + bank + " @edits -o @" + out);
        ASSERT_EQ(0, run.status) << run.err;
        EXPECT_NE(run.out.find("entry 6 line6: 22050 Hz mono"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("notes.wav matches no entry"), std::string::npos) << run.out;
        json_value before = info(bank);
        json_value after = info(out);
        ASSERT_EQ(after["records"].items.size(), (size_t)COUNT);
        for (int record = 1; record <= COUNT; ++record) {
            SCOPED_TRACE(record);
            bool edited = new_sounds.count(record) > 0;
            EXPECT_EQ(after["records"].items[(size_t)record - 1]["name"].text, "line" + std::to_string(record));
            EXPECT_TRUE(rendered(out, record, after) ==
                        (edited ? reference_pcm(new_sounds[record], 1) : rendered(bank, record, before)));
        }
    }

    // --entry and a folder do not go together; a folder matching nothing is refused.
    EXPECT_NE(0, tool("replace @ten.xwb @edits --entry 2 -o @x.xwb").status);
    std::filesystem::create_directories(path("empty"));
    run_result run = tool("replace @ten.xwb @empty -o @x.xwb");
    EXPECT_NE(0, run.status);
    EXPECT_NE(run.err.find("named after an entry's label"), std::string::npos) << run.err;

    // The header cannot be written (a folder has its name): the user's own
    // data file of that name is left as it was, and no temporary file stays.
    bytes users_own = random_bytes(1000, 3);
    write_file_in(scratch, "mine.xsd", users_own);
    std::filesystem::create_directories(path("mine.xsh"));
    for (const std::string& command :
         {std::string("replace @ten.xsh @edits -o @mine.xsh"), std::string("pack @edits/line3.wav -o @mine.xsh")}) {
        SCOPED_TRACE(command);
        EXPECT_NE(0, tool(command).status);
        EXPECT_TRUE(read_file(path("mine.xsd")) == users_own);
    }
    for (const std::string& name : files_under(scratch)) EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
#ifdef TOLVANE_FAILING_RENAME
    // The second rename (the header's, after the data file is in place)
    // fails: the data file goes back to what it was, in place or not.
    write_file_in(scratch, "copy.xsh", users_own);
    write_file_in(scratch, "copy.xsd", users_own);
    const bytes header = read_file(path("ten.xsh"));
    const bytes data = read_file(path("ten.xsd"));
    setenv("LD_PRELOAD", TOLVANE_FAILING_RENAME, 1);
    setenv("TOLVANE_FAIL_RENAME_TO", ".xsh", 1);
    const char* asan = getenv("ASAN_OPTIONS");
    const std::string asan_options = asan ? asan : "";
    setenv("ASAN_OPTIONS", ("verify_asan_link_order=0:" + asan_options).c_str(), 1);
    for (const std::string& command :
         {std::string("replace @ten.xsh @edits --in-place"), std::string("replace @ten.xsh @edits -o @copy.xsh"),
          std::string("pack @edits/line3.wav -o @copy.xsh")}) {
        SCOPED_TRACE(command);
        run = tool(command);
        EXPECT_EQ(1, run.status);
        EXPECT_NE(run.err.find("input/output error"), std::string::npos) << run.err;
        EXPECT_TRUE(read_file(path("ten.xsh")) == header);
        EXPECT_TRUE(read_file(path("ten.xsd")) == data);
        EXPECT_TRUE(read_file(path("copy.xsh")) == users_own);
        EXPECT_TRUE(read_file(path("copy.xsd")) == users_own);
    }
    unsetenv("LD_PRELOAD");
    unsetenv("TOLVANE_FAIL_RENAME_TO");
    setenv("ASAN_OPTIONS", asan_options.c_str(), 1);
    for (const std::string& name : files_under(scratch)) EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
#endif
}

// The chunks of a RIFF file by tag, each's content (the first of its tag).
std::map<std::string, bytes> riff_chunks(const bytes& file) {
    std::map<std::string, bytes> chunks;
    for (size_t at = 12; at + 8 <= file.size();) {
        size_t size = read_u32le(&file[at + 4]);
        size_t end = std::min(file.size(), at + 8 + size);
        chunks.emplace(std::string(file.begin() + at, file.begin() + at + 4),
                       bytes(file.begin() + at + 8, file.begin() + end));
        at = end + (size & 1);
    }
    return chunks;
}

// WAVEFORMATEX up to cbSize, and cbSize.
bytes wave_format(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t bytes_per_second, uint16_t align,
                  uint16_t bits, uint16_t extension) {
    bytes b;
    for (uint32_t v : {(uint32_t)tag, (uint32_t)channels}) put_u16le(b, (uint16_t)v);
    put_u32le(b, rate);
    put_u32le(b, bytes_per_second);
    for (uint32_t v : {(uint32_t)align, (uint32_t)bits, (uint32_t)extension}) put_u16le(b, (uint16_t)v);
    return b;
}

bytes swapped_samples(bytes samples) {
    for (size_t i = 0; i + 1 < samples.size(); i += 2) std::swap(samples[i], samples[i + 1]);
    return samples;
}

// Every codec of a Windows and an Xbox 360 bank comes out as stored:
// Microsoft ADPCM as an ADPCM WAVE libsndfile plays, big-endian PCM as a
// WAVE of the samples swapped, xWMA and WMA Pro as .xwma files with their
// seek tables, XMA as an XMA WAVE; the stored bytes unchanged.
TEST_F(Modding, WindowsAndXbox360EntriesExtractAsStored) {
    for (const shipped_file& file : shipped_files()) {
        if (file.version != 46) continue;
        SCOPED_TRACE(file.name);
        for (const auto& part : file.files) write_file_in(scratch, part.first, part.second);
        const bytes& bank = file.files[0].second;
        std::string stem = file.name.substr(0, file.name.size() - 4);
        bool be = file.name.rfind("x360", 0) == 0;
        std::filesystem::remove_all(path("ex"));
        std::filesystem::create_directories(path("ex"));
        run_result run =
            run_tool("extract " + in_quotes(path(file.name)) + " -q -o " + in_quotes(path("ex/")), scratch);
        ASSERT_EQ(0, run.status) << run.err;
        json_value listed = info(file.name);
        std::vector<std::string> written;
        for (const shipped_record& r : file.records) {
            bool xwma = r.codec == std::string("xwma") || r.codec == std::string("wma_pro");
            written.push_back(stem + "-0" + std::to_string(r.record) + (xwma ? ".xwma" : ".wav"));
        }
        EXPECT_EQ(files_under(path("ex")), written);
        for (const shipped_record& r : file.records) {
            SCOPED_TRACE(r.name);
            bytes out = read_file(path("ex/" + written[(size_t)r.record - 1]));
            std::map<std::string, bytes> chunks = riff_chunks(out);
            const json_value& record = listed["records"].items[(size_t)r.record - 1];
            size_t offset = (size_t)record["offset"].number;
            bytes stored(bank.begin() + offset, bank.begin() + offset + (size_t)record["bytes"].number);
            uint16_t ch = (uint16_t)r.channels;
            if (r.codec == std::string("ms_adpcm")) {
                uint16_t align = (uint16_t)((r.block_field + 22) * ch),
                         per_block = (uint16_t)((r.block_field + 16) * 2);
                bytes fmt = wave_format(2, ch, r.rate, r.rate * align / per_block, align, 4, 32);
                for (uint32_t v : {(uint32_t)per_block, 7u, 256u, 0u, 512u, 0xff00u, 0u, 0u, 192u, 64u, 240u, 0u, 460u,
                                   0x10000u - 208, 392u, 0x10000u - 232})
                    put_u16le(fmt, (uint16_t)v);
                EXPECT_TRUE(chunks["fmt "] == fmt);
                EXPECT_TRUE(chunks["data"] == r.sound);
                // A compact record states no frames: its whole blocks give them.
                int64_t frames = r.stated_frames >= 0 ? r.stated_frames : (int64_t)(r.sound.size() / align) * per_block;
                EXPECT_EQ(read_u32le(chunks["fact"].data()), (uint32_t)frames);
#ifdef TOLVANE_TEST_SNDFILE
                SF_INFO format = {};
                SNDFILE* opened = sf_open(path("ex/" + written[(size_t)r.record - 1]).c_str(), SFM_READ, &format);
                ASSERT_NE(opened, nullptr) << sf_strerror(nullptr);
                EXPECT_EQ(format.frames, frames);
                EXPECT_EQ(format.channels, (int)r.channels);
                EXPECT_EQ(format.samplerate, (int)r.rate);
                sf_close(opened);
#endif
            } else if (r.codec == std::string("pcm16")) {
                bytes fmt = wave_format(1, ch, r.rate, r.rate * 2 * ch, (uint16_t)(2 * ch), 16, 0);
                EXPECT_TRUE(chunks["fmt "] == bytes(fmt.begin(), fmt.begin() + 16));
                EXPECT_TRUE(chunks["data"] == (be ? swapped_samples(r.sound) : r.sound));
            } else if (r.codec == std::string("xwma") || r.codec == std::string("wma_pro")) {
                uint32_t packet = 0, per_second = 0;
                uint32_t field = r.codec == std::string("xwma") ? 0x20 : 0x21;
                ASSERT_TRUE(xwma_packet_format(field, &packet, &per_second));
                EXPECT_EQ(std::string(out.begin() + 8, out.begin() + 12), "XWMA");
                EXPECT_EQ(read_u32le(&out[4]), out.size() - 8);
                uint16_t tag = r.codec == std::string("xwma") ? 0x161 : 0x162;
                EXPECT_TRUE(chunks["fmt "] == wave_format(tag, ch, r.rate, per_second, (uint16_t)packet, 16, 0));
                bytes seek_table;
                for (uint32_t v : r.codec == std::string("xwma") ? std::vector<uint32_t>{17640, 35280}
                                                                 : std::vector<uint32_t>{19200, 38400})
                    put_u32le(seek_table, v);
                EXPECT_TRUE(chunks["dpds"] == seek_table);
                EXPECT_TRUE(chunks["data"] == stored);
            } else if (r.codec == std::string("xma")) {
                bytes fmt = wave_format(0x166, ch, r.rate, (uint32_t)(stored.size() * r.rate / 6144),
                                        (uint16_t)(2 * ch), 16, 34);
                put_u16le(fmt, 1);  // one stereo stream
                for (uint32_t v : {3u, 6144u, 2048u, 0u, 6144u, 1024u, 2048u}) put_u32le(fmt, v);
                for (uint8_t v : {255, 4}) fmt.push_back(v);
                put_u16le(fmt, 1);
                EXPECT_TRUE(chunks["fmt "] == fmt);
                EXPECT_TRUE(chunks["data"] == stored);
            } else {
                EXPECT_TRUE(chunks["data"] == bytes(r.sound.begin(), r.sound.end() - r.sound.size() % ch));
            }
        }
    }

    // The WAVEs extracted from the Windows bank pack back into one as they
    // are: same codecs, names, loops and bytes; replace makes its XMA record
    // Microsoft ADPCM and says so.
    std::filesystem::remove_all(path("ex"));
    std::filesystem::create_directories(path("ex"));
    ASSERT_EQ(
        0, run_tool("extract " + in_quotes(path("Wave Bank.xwb")) + " -q -o " + in_quotes(path("ex")), scratch).status);
    // The Windows build reads 16-bit PCM WAVE only: the 8-bit entry stays out.
#ifdef _WIN32
    const std::vector<int> RECORDS = {1, 3, 4};
#else
    const std::vector<int> RECORDS = {1, 3, 4, 5};
#endif
    std::string pack_line = "pack";
    for (int record : RECORDS) pack_line += " " + in_quotes(path("ex/Wave Bank-0" + std::to_string(record) + ".wav"));
    run_result run = run_tool(pack_line + " --platform windows -q -o " + in_quotes(path("again.xwb")), scratch);
    ASSERT_EQ(0, run.status) << run.err;
    json_value original = info("Wave Bank.xwb"), again = info("again.xwb");
    for (size_t i = 0; i < RECORDS.size(); ++i) {
        const json_value& was = original["records"].items[(size_t)RECORDS[i] - 1];
        const json_value& now = again["records"].items[i];
        SCOPED_TRACE(was["name"].text);
        for (const char* key : {"name", "codec"}) EXPECT_EQ(now[key].text, was[key].text);
        for (const char* key : {"frames", "loop_start", "loop_end", "sample_rate", "channels"})
            EXPECT_EQ(now[key].number, was[key].number) << key;
    }
    // The Microsoft ADPCM and 16-bit PCM WAVEs in a folder replace their
    // records as they are: the bank comes back byte for byte.
    for (int record : {1, 3, 4}) {
        std::string name = "Wave Bank-0" + std::to_string(record) + ".wav";
        write_file_in(path("mods/"), name, read_file(path("ex/" + name)));
    }
    run = run_tool("replace " + in_quotes(path("Wave Bank.xwb")) + " " + in_quotes(path("mods")) + " -q -o " +
                       in_quotes(path("same.xwb")),
                   scratch);
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(read_file(path("same.xwb")) == read_file(path("Wave Bank.xwb")));
    // An Xbox ADPCM WAVE is decoded for a Windows bank and its loop kept in
    // the record's blocks.
    bytes adpcm = tone_adpcm(2, 40, 5);
    sound_extras extras;
    extras.loop_start = 650;
    extras.loop_end = 1950;
    write_file_in(scratch, "xbox.wav", make_adpcm_wave(adpcm, 2, 44100, extras));
    run = run_tool("replace " + in_quotes(path("Wave Bank.xwb")) + " " + in_quotes(path("xbox.wav")) +
                       " --entry 1 -o " + in_quotes(path("xbox.xwb")),
                   scratch);
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_NE(run.err.find("whole blocks of"), std::string::npos) << run.err;
    EXPECT_EQ(info("xbox.xwb")["records"].items[0]["codec"].text, "ms_adpcm");
    // The Windows build neither reads an ADPCM WAVE nor resamples.
#ifndef _WIN32
    write_file_in(scratch, "dig.wav", read_file(path("ex/Wave Bank-04.wav")));
    run = run_tool("replace " + in_quotes(path("Wave Bank.xwb")) + " " + in_quotes(path("dig.wav")) +
                       " --entry Music_4 -o " + in_quotes(path("mod.xwb")),
                   scratch);
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_NE(run.out.find(", xma -> ms_adpcm"), std::string::npos) << run.out;
    EXPECT_EQ(info("mod.xwb")["records"].items[6]["codec"].text, "ms_adpcm");
#endif

    // What an .xwma or an XMA WAVE cannot be written without is said, and the
    // record left out; an XMA record of no duration takes its seek table's.
    auto entry = [](entry_codec codec, uint32_t block_field, std::vector<uint32_t> seek_table) {
        built_entry e;
        e.name = "m";
        e.codec = codec;
        e.rate = 44100;
        e.channels = 2;
        e.block_field = block_field;
        e.adpcm = random_bytes(400, 7);
        e.seek_table = seek_table;
        return e;
    };
    std::string error;
    write_file_in(
        scratch, "odd.xwb",
        built_bank_bytes({entry(CODEC_PCM16, 0, {}), entry(CODEC_XWMA, 0x20, {}), entry(CODEC_WMA_PRO, 0x1f, {4096}),
                          entry(CODEC_XMA, 0, {}), entry(CODEC_XMA, 0, {512, 4000})},
                         "odd", 2048, &error, BANK_FOR_WINDOWS));
    const struct {
        int record;
        const char* said;
    } refused[] = {
        {2, "record 2 (xWMA) has no seek table, which an .xwma file needs"},
        {3, "record 3 (WMA Pro) has block field 31, which names no packet size"},
        {4, "record 4 (XMA) states no frame count and has no seek table to take one from"},
    };
    for (const auto& c : refused) {
        run_result refusal = tool("extract @odd.xwb --entry " + std::to_string(c.record) + " -o @odd.wav");
        EXPECT_EQ(1, refusal.status);
        EXPECT_NE(refusal.err.find(c.said), std::string::npos) << refusal.err;
    }
    EXPECT_FALSE(file_exists(path("odd.wav")));
    ASSERT_EQ(0, tool("extract @odd.xwb --entry 5 -q -o @odd.wav").status);
    bytes xma = riff_chunks(read_file(path("odd.wav")))["fmt "];
    ASSERT_EQ(xma.size(), 52u);
    EXPECT_EQ(read_u32le(&xma[24]), 4000u);  // SamplesEncoded
    EXPECT_EQ(read_u32le(&xma[40]), 0u);     // LoopLength
    EXPECT_EQ(xma[44], 0);                   // LoopCount
}

// Names longer than their field keep a NUL and whole UTF-8 characters, and
// pack says what it kept.
TEST_F(Modding, NamesTooLongForTheirFieldAreCutWholeAndSaid) {
    std::string long_name = "a";
    for (int i = 0; i < 40; ++i) long_name += "\xc3\xa9";  // é, two bytes each
    sound_extras extras;
    extras.name = long_name;
    write_file_in(scratch, "long.wav", make_adpcm_wave(tone_adpcm(1, 4, 1), 1, 22050, extras));
    run_result run = tool("pack @long.wav --name a_bank_name_of_twenty -o @long.xwb");
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_NE(run.err.find("the bank's name \"a_bank_name_of_twenty\" is kept as \"a_bank_name_of_\""),
              std::string::npos)
        << run.err;
    json_value listed = info("long.xwb");
    EXPECT_EQ(listed["bank_name"].text, "a_bank_name_of_");
    EXPECT_EQ(listed["records"].items[0]["name"].text, long_name.substr(0, 63));
    ASSERT_EQ(0, tool("pack @long.wav -q -o @long.xsh").status);
    std::string pair_name = info("long.xsh")["records"].items[0]["name"].text;
    EXPECT_EQ(long_name.compare(0, pair_name.size(), pair_name), 0);
    EXPECT_EQ(pair_name.size() % 2, 1u) << "a character was cut in half";
}

// A looped entry renders as the game plays it: to the loop's end, the loop
// once more, then ten seconds of the loop faded out; its WAVE holds the loop
// in a smpl chunk.
TEST_F(Modding, LoopedEntriesRenderAsTheGamePlaysThem) {
    mixed_bank bank = make_mixed_bank();
    write_file_in(scratch, "mixed.xwb", bank.file);
    const mixed_entry& e = MIXED[0];
    const int64_t L = e.loop_start * 65;
    const int64_t E = e.loop_end * 65;
    const int64_t R = e.rate;
    bytes once = reference_pcm(bank.sounds[0], e.channels);
    const size_t frame_bytes = 2 * e.channels;

    const struct {
        const char* options;
        int64_t frames;
        int64_t fade_frames;
    } cases[] = {
        {"", E + (E - L) + 10 * R, 10 * R},
        {"--loops 2 --fade 10", E + (E - L) + 10 * R, 10 * R},
        {"--loops 3 --fade 0.5", E + 2 * (E - L) + R / 2, R / 2},
        {"--ignore-loop", (int64_t)(once.size() / frame_bytes), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        run_result run = tool(std::string("render @mixed.xwb --entry 1 -q -o @loop.wav ") + c.options);
        ASSERT_EQ(0, run.status) << run.err;
        bytes samples = pcm_wave_samples(path("loop.wav"), (uint16_t)e.channels, e.rate);
        ASSERT_EQ((int64_t)samples.size(), c.frames * (int64_t)frame_bytes);
        if (c.fade_frames == 0) {
            EXPECT_TRUE(samples == once);
        } else {
            // Before the fade: the sound to the loop's end, then the loop.
            EXPECT_TRUE(bytes(samples.begin(), samples.begin() + E * frame_bytes) ==
                        bytes(once.begin(), once.begin() + E * frame_bytes));
            size_t fade_at = samples.size() - (size_t)c.fade_frames * frame_bytes;
            for (size_t at = E * frame_bytes; at < fade_at; at += frame_bytes) {
                size_t in_loop = L * frame_bytes + (at - E * frame_bytes) % ((E - L) * frame_bytes);
                ASSERT_EQ(0, memcmp(&samples[at], &once[in_loop], frame_bytes)) << at;
            }
            // The fade: the loop's continuation, scaled down to silence.
            for (int64_t f = 0; f < c.fade_frames; f += 997) {
                size_t in_loop = L * frame_bytes + (size_t)f % (size_t)(E - L) * frame_bytes;
                int16_t original = (int16_t)read_u16le(&once[in_loop]);
                int16_t faded = (int16_t)read_u16le(&samples[fade_at + (size_t)f * frame_bytes]);
                EXPECT_EQ(faded, (int16_t)((int64_t)original * (c.fade_frames - 1 - f) / (c.fade_frames - 1)));
            }
            for (size_t b = samples.size() - frame_bytes; b < samples.size(); ++b) EXPECT_EQ(samples[b], 0);
        }
        bytes file = read_file(path("loop.wav"));
        byte_source source = source_of_memory(file.data(), (int64_t)file.size());
        wave_chunks chunks;
        ASSERT_TRUE(read_wave_chunks(&source, &chunks));
        EXPECT_EQ(chunks.loop_start, L);
        EXPECT_EQ(chunks.loop_end, E);  // the smpl chunk's last frame, E - 1, and one past it
        EXPECT_STREQ(chunks.name, "intro");
    }
    // Entries without a loop render once whatever the options.
    json_value listed = info("mixed.xwb");
    ASSERT_EQ(0, tool("render @mixed.xwb --entry 2 -q --loops 5 -o @voice.wav").status);
    EXPECT_TRUE(pcm_wave_samples(path("voice.wav"), 1, 22050) == reference_pcm(bank.sounds[1], 1));
    // info shows the looped length beside the once-through one.
    EXPECT_EQ(listed["records"].items[0]["looped_ms"].number, (double)((E + (E - L) + 10 * R) * 1000 / R));
    EXPECT_EQ(listed["records"].items[1]["looped_ms"].type, JSON_NULL);
}

#ifdef TOLVANE_TEST_SNDFILE
// ---- Sound files of every common kind in --------------------------------------

// Each kind written by libsndfile (FLAC and Ogg Vorbis by the tool's own
// encoder, which stores the loop as render does), with a title and a loop on
// whole block sets (but AIFF: libsndfile writes no AIFF loop).
struct input_kind {
    const char* file;
    int sf_format;  // 0: through encoded_open
    encoded_format encoded;
    uint32_t rate;
    uint32_t channels;
    bool looped;
};

const input_kind INPUT_KINDS[] = {
    {"u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, ENCODED_FLAC, 22050, 1, true},
    {"s16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, ENCODED_FLAC, 44100, 2, true},
    {"s24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, ENCODED_FLAC, 48000, 2, true},
    {"s32.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, ENCODED_FLAC, 32000, 1, true},
    {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, ENCODED_FLAC, 44100, 2, true},
    {"s16.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, ENCODED_FLAC, 22050, 2, false},
    {"song.flac", 0, ENCODED_FLAC, 44100, 2, true},
    {"song.ogg", 0, ENCODED_OGG, 48000, 1, true},
};

const int64_t INPUT_FRAMES = 65 * 120;
const int64_t INPUT_LOOP_START = 65 * 20;
const int64_t INPUT_LOOP_END = 65 * 100;
const double MIN_SNR_DB = 30.0;

// A tone per channel (330 Hz, 550 Hz, ...) lasting seconds, at rate.
std::vector<double> tone_at(uint32_t rate, uint32_t channels, double seconds, double amplitude) {
    size_t frames = (size_t)(seconds * rate);
    std::vector<double> tone(frames * channels);
    for (size_t f = 0; f < frames; f++)
        for (uint32_t c = 0; c < channels; c++)
            tone[f * channels + c] = amplitude * sin(2 * M_PI * (330.0 + 220 * c) * (double)f / rate);
    return tone;
}

// The float file's tone runs past full scale, which the reader clips.
std::vector<double> input_tone(const input_kind& kind) {
    double amplitude = kind.sf_format == (SF_FORMAT_WAV | SF_FORMAT_FLOAT) ? 1.5 : 0.6;
    return tone_at(kind.rate, kind.channels, (double)INPUT_FRAMES / kind.rate, amplitude);
}

std::string title_of(const input_kind& kind) {
    std::string title = kind.file;
    return "t_" + title.substr(0, title.find('.')) + "_" + title.substr(title.find('.') + 1);
}

void write_input(const std::string& path, const input_kind& kind, const std::vector<double>& tone) {
    if (kind.sf_format == 0) {
        std::vector<int16_t> pcm(tone.size());
        for (size_t i = 0; i < tone.size(); i++) pcm[i] = (int16_t)lrint(tone[i] * 32767);
        sound_extras tags;
        tags.name = title_of(kind);
        tags.loop_start = INPUT_LOOP_START;
        tags.loop_end = tags.loop_start + INPUT_LOOP_END - INPUT_LOOP_START;
        std::string error;
        encoded_writer* writer = encoded_open(path, kind.encoded, kind.rate, kind.channels, tags, &error);
        ASSERT_NE(writer, nullptr) << error;
        ASSERT_TRUE(encoded_write(writer, pcm.data(), (size_t)INPUT_FRAMES, &error)) << error;
        ASSERT_TRUE(encoded_finish(writer, false, &error)) << error;
        return;
    }
    SF_INFO info = {};
    info.samplerate = (int)kind.rate;
    info.channels = (int)kind.channels;
    info.format = kind.sf_format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    sf_set_string(file, SF_STR_TITLE, title_of(kind).c_str());
    if (!kind.looped) {
        sf_writef_double(file, tone.data(), (sf_count_t)(tone.size() / kind.channels));
        sf_close(file);
        return;
    }
    SF_INSTRUMENT instrument = {};
    instrument.basenote = 60;
    instrument.velocity_hi = 127;
    instrument.key_hi = 127;
    instrument.loop_count = 1;
    instrument.loops[0].mode = SF_LOOP_FORWARD;
    instrument.loops[0].start = (uint32_t)INPUT_LOOP_START;
    instrument.loops[0].end = (uint32_t)INPUT_LOOP_END;
    instrument.loops[0].count = 0;
    EXPECT_EQ(SF_TRUE, sf_command(file, SFC_SET_INSTRUMENT, &instrument, sizeof instrument));
    EXPECT_EQ(INPUT_FRAMES, sf_writef_double(file, tone.data(), INPUT_FRAMES));
    sf_close(file);
}

// What libsndfile reads back of a file as 16-bit samples, clipped: the
// sound the tool should have taken in.
std::vector<int16_t> read_back(const std::string& path, uint32_t* rate, uint32_t* channels) {
    SF_INFO info = {};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(file, nullptr) << path;
    if (!file) return {};
    sf_command(file, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    std::vector<int16_t> pcm((size_t)info.frames * (size_t)info.channels);
    pcm.resize((size_t)sf_readf_short(file, pcm.data(), info.frames) * (size_t)info.channels);
    sf_close(file);
    *rate = (uint32_t)info.samplerate;
    *channels = (uint32_t)info.channels;
    return pcm;
}

// The signal-to-noise ratio of every channel of got against want, over
// want's length (got may run on to the end of its block set); the worst.
double worst_snr_db(const std::vector<int16_t>& want, const std::vector<int16_t>& got, uint32_t channels) {
    if (got.size() < want.size()) return -1;
    double worst = 1e9;
    for (uint32_t c = 0; c < channels; c++) {
        double signal = 0, noise = 0;
        for (size_t i = c; i < want.size(); i += channels) {
            signal += (double)want[i] * want[i];
            noise += ((double)want[i] - got[i]) * ((double)want[i] - got[i]);
        }
        worst = std::min(worst, 10 * log10(signal / std::max(noise, 1.0)));
    }
    return worst;
}

TEST_F(Modding, EveryCommonSoundFileEncodesPacksAndReplaces) {
    std::string pack_line = "pack";
    for (const input_kind& kind : INPUT_KINDS) {
        write_input(path(kind.file), kind, input_tone(kind));
        pack_line += std::string(" @") + kind.file;
    }
    ASSERT_EQ(0, tool(pack_line + " -o @all.xwb -q").status);
    json_value bank = info("all.xwb");
    ASSERT_EQ(sizeof INPUT_KINDS / sizeof INPUT_KINDS[0], bank["records"].items.size());

    for (size_t i = 0; i < sizeof INPUT_KINDS / sizeof INPUT_KINDS[0]; i++) {
        const input_kind& kind = INPUT_KINDS[i];
        SCOPED_TRACE(kind.file);
        uint32_t rate = 0, channels = 0;
        std::vector<int16_t> want = read_back(path(kind.file), &rate, &channels);
        if (kind.sf_format == (SF_FORMAT_WAV | SF_FORMAT_FLOAT)) {
            int16_t loudest = *std::max_element(want.begin(), want.end());
            EXPECT_GE(loudest, 32766) << "clipped, not wrapped";
        }

        // encode keeps the loop and the name.
        run_result run = tool(std::string("encode @") + kind.file + " -o @encoded.wav");
        ASSERT_EQ(0, run.status) << run.err;
        bytes encoded = read_file(path("encoded.wav"));
        byte_source source = source_of_memory(encoded.data(), (int64_t)encoded.size());
        wave_chunks chunks;
        ASSERT_TRUE(read_wave_chunks(&source, &chunks));
        EXPECT_EQ(kind.rate, chunks.format.sample_rate);
        EXPECT_EQ(kind.channels, chunks.format.channels);
        int64_t loop_start = kind.looped ? INPUT_LOOP_START : -1;
        int64_t loop_end = kind.looped ? INPUT_LOOP_END : -1;
        EXPECT_EQ(loop_start, chunks.loop_start);
        EXPECT_EQ(loop_end, chunks.loop_end);
        EXPECT_EQ(title_of(kind), chunks.name);

        // replace puts the same sound, in its own format, into record 1 of a
        // bank of others.
        std::string entry = std::to_string(i + 1);
        ASSERT_EQ(0, tool(std::string("replace @all.xwb @") + kind.file +
                          " --entry 1 --keep-input-format -q -o @replaced.xwb")
                         .status);
        json_value replaced = info("replaced.xwb");
        const json_value& packed_record = bank["records"].items[i];
        const json_value& replaced_record = replaced["records"].items[0];
        // The bank keeps its own name for a record replaced.
        EXPECT_EQ(title_of(kind), packed_record["name"].text);
        EXPECT_EQ(bank["records"].items[0]["name"].text, replaced_record["name"].text);
        // Record 1's loop is the same as every file's: a file without one
        // keeps it.
        EXPECT_EQ(kind.looped ? JSON_NUMBER : JSON_NULL, packed_record["loop_start"].type);
        for (const json_value* record : {&packed_record, &replaced_record}) {
            if (record == &replaced_record || kind.looped) {
                EXPECT_EQ((double)INPUT_LOOP_START, (*record)["loop_start"].number);
                EXPECT_EQ((double)INPUT_LOOP_END, (*record)["loop_end"].number);
            }
            EXPECT_EQ((double)kind.rate, (*record)["sample_rate"].number);
        }

        const struct {
            std::string file;
            std::string entry;
        } outputs[] = {{"encoded.wav", ""}, {"all.xwb", " --entry " + entry}, {"replaced.xwb", " --entry 1"}};
        for (const auto& r : outputs) {
            SCOPED_TRACE(r.file);
            ASSERT_EQ(0, tool("render @" + r.file + r.entry + " --ignore-loop -q -o @out.wav").status);
            uint32_t got_rate = 0, got_channels = 0;
            std::vector<int16_t> got;
            const char* error = "";
            ASSERT_TRUE(read_pcm_wave(path("out.wav").c_str(), &got_rate, &got_channels, &got, &error)) << error;
            EXPECT_EQ(rate, got_rate);
            ASSERT_EQ(channels, got_channels);
            EXPECT_GT(worst_snr_db(want, got, channels), MIN_SNR_DB);
        }
    }
}

// A 48 kHz stereo 24-bit take with no loop in place of a 22 050 Hz mono
// looped entry: the record stays 22 050 Hz mono, its loop scaled to the
// take's length, and plays the take (mixed to mono) for the take's duration.
TEST_F(Modding, SoundsAreBroughtToTheRecordsFormatOrTheOneAskedFor) {
    const input_kind entry_kind = {"entry.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, ENCODED_FLAC, 22050, 1, true};
    const input_kind take_kind = {"take.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, ENCODED_FLAC, 48000, 2, false};
    write_input(path(entry_kind.file), entry_kind, input_tone(entry_kind));
    const double TAKE_SECONDS = 2.0;
    write_input(path(take_kind.file), take_kind, tone_at(48000, 2, TAKE_SECONDS, 0.6));
    // The even mix of the take's two tones, at the record's rate.
    std::vector<double> stereo = tone_at(22050, 2, TAKE_SECONDS, 0.6);
    std::vector<int16_t> want(stereo.size() / 2);
    for (size_t f = 0; f < want.size(); f++) want[f] = (int16_t)lrint((stereo[2 * f] + stereo[2 * f + 1]) / 2 * 32767);
    // An Xbox ADPCM record keeps its loop in whole block sets; a PCM one stays
    // PCM, to the frame.
    const struct {
        const char* codec;
        int64_t unit;
        const char* said;
    } codecs[] = {{"xbox-adpcm", 65, ""}, {"pcm", 1, ", as 16-bit PCM"}};
    int64_t frames = 0;
    for (const auto& c : codecs) {
        SCOPED_TRACE(c.codec);
        ASSERT_EQ(0, tool(std::string("pack @entry.wav -q --codec ") + c.codec + " -o @bank.xwb").status);
        run_result run = tool("replace @bank.xwb @take.wav --entry 1 -o @mod.xwb");
        ASSERT_EQ(0, run.status) << run.err;
        EXPECT_EQ("", run.err);

        json_value record = info("mod.xwb")["records"].items[0];
        EXPECT_EQ(22050, record["sample_rate"].number);
        EXPECT_EQ(1, record["channels"].number);
        EXPECT_EQ(c.unit == 1 ? "pcm16" : "xbox_adpcm", record["codec"].text);
        frames = (44100 + c.unit - 1) / c.unit * c.unit;  // two seconds, in whole units
        EXPECT_EQ((double)frames, record["frames"].number);
        int64_t start = (int64_t)(INPUT_LOOP_START * frames / (double)INPUT_FRAMES + 0.5) / c.unit * c.unit;
        int64_t end = (int64_t)(INPUT_LOOP_END * frames / (double)INPUT_FRAMES + 0.5) / c.unit * c.unit;
        EXPECT_EQ((double)start, record["loop_start"].number);
        EXPECT_EQ((double)end, record["loop_end"].number);
        EXPECT_NE(std::string::npos,
                  run.out.find("entry 1 t_entry_wav: 48000 Hz stereo resampled to 22050 Hz mono, loop kept at " +
                               std::to_string(start) + "-" + std::to_string(end) + c.said + "\n"))
            << run.out;
        ASSERT_EQ(0, tool("render @mod.xwb --ignore-loop -q -o @out.wav").status);
        uint32_t rate = 0, channels = 0;
        std::vector<int16_t> got;
        const char* error = "";
        ASSERT_TRUE(read_pcm_wave(path("out.wav").c_str(), &rate, &channels, &got, &error)) << error;
        EXPECT_GT(worst_snr_db(want, got, 1), MIN_SNR_DB);
    }

    // --loop and --no-loop set it; --keep-input-format keeps the take's own.
    ASSERT_EQ(0, tool("replace @bank.xwb @take.wav --entry 1 --loop 650-1300 -q -o @set.xwb").status);
    EXPECT_EQ(650, info("set.xwb")["records"].items[0]["loop_start"].number);
    ASSERT_EQ(0, tool("replace @bank.xwb @take.wav --entry 1 --no-loop -q -o @none.xwb").status);
    EXPECT_EQ(JSON_NULL, info("none.xwb")["records"].items[0]["loop_start"].type);
    // --entry also takes the record's name.
    ASSERT_EQ(0, tool("replace @bank.xwb @take.wav --entry t_entry_wav --keep-input-format -q -o @own.xwb").status);
    run_result missing = tool("replace @bank.xwb @take.wav --entry nothing -o @x.xwb");
    EXPECT_EQ(1, missing.status);
    EXPECT_NE(std::string::npos, missing.err.find("no record named nothing")) << missing.err;
    json_value own = info("own.xwb")["records"].items[0];
    EXPECT_EQ(48000, own["sample_rate"].number);
    EXPECT_EQ(2, own["channels"].number);

    // pack and encode convert with --rate and --channels, and a rate the
    // Xbox cannot play needs them.
    ASSERT_EQ(0, tool("pack @take.wav --rate 22050 --channels 1 -q -o @packed.xwb").status);
    json_value packed = info("packed.xwb")["records"].items[0];
    EXPECT_EQ(22050, packed["sample_rate"].number);
    EXPECT_EQ(1, packed["channels"].number);
    EXPECT_EQ(44135, packed["frames"].number);
    const input_kind fast_kind = {"fast.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, ENCODED_FLAC, 96000, 1, false};
    write_input(path(fast_kind.file), fast_kind, tone_at(96000, 1, 0.5, 0.6));
    for (const char* command : {"pack @fast.wav -o @fast.xwb", "encode @fast.wav -o @fast-x.wav"}) {
        run_result run = tool(command);
        EXPECT_EQ(1, run.status);
        EXPECT_NE(std::string::npos, run.err.find("96000 Hz: the Xbox plays rates up to 48000 Hz; give --rate"))
            << run.err;
    }
    run_result kept = tool("replace @bank.xwb @fast.wav --entry 1 --keep-input-format -o @fast.xwb");
    EXPECT_EQ(1, kept.status);
    EXPECT_NE(std::string::npos, kept.err.find("96000 Hz: the Xbox plays rates up to 48000 Hz")) << kept.err;
    ASSERT_EQ(0, tool("encode @fast.wav --rate 48000 --channels 2 -o @fast-x.wav").status);
    bytes encoded = read_file(path("fast-x.wav"));
    byte_source source = source_of_memory(encoded.data(), (int64_t)encoded.size());
    wave_chunks chunks;
    ASSERT_TRUE(read_wave_chunks(&source, &chunks));
    EXPECT_EQ(48000u, chunks.format.sample_rate);
    EXPECT_EQ(2, chunks.format.channels);
    EXPECT_EQ(24000, chunks.format.stated_frames);
}
#endif

TEST_F(Modding, FlacHoldsExactlyTheWavesSamples) {
    write_file_in(scratch, "song.wav", adpcm_wave(tone_adpcm(2, 300, 5), 2, 44100));
    run_result run = tool("render @song.wav -q -o @song.flac");
#ifdef TOLVANE_TEST_SNDFILE
    ASSERT_EQ(0, run.status) << run.err;
    ASSERT_EQ(0, tool("render @song.wav -q -o @song-pcm.wav").status);
    bytes expected = pcm_wave_samples(path("song-pcm.wav"), 2, 44100);
    SF_INFO format = {};
    SNDFILE* flac = sf_open(path("song.flac").c_str(), SFM_READ, &format);
    ASSERT_NE(flac, nullptr);
    EXPECT_EQ(format.samplerate, 44100);
    EXPECT_EQ(format.channels, 2);
    std::vector<int16_t> decoded((size_t)format.frames * 2);
    EXPECT_EQ(sf_readf_short(flac, decoded.data(), format.frames), format.frames);
    sf_close(flac);
    bytes decoded_bytes;
    for (int16_t sample : decoded) put_u16le(decoded_bytes, (uint16_t)sample);
    EXPECT_TRUE(decoded_bytes == expected);
#else
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("tolvane.exe writes WAVE and raw only")) << run.err;
    EXPECT_FALSE(file_exists(path("song.flac")));
#endif
}

}  // namespace
