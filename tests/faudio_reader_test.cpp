// FAudio on a Windows wave bank (content version 46, header version 44) laid
// out byte by byte here, without the project's writers: what it reports of
// named PCM and MS ADPCM entries, one with a loop; and the banks it refuses,
// or that would make its parser fault and so never reach it.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "codec/little_endian.h"
#include "codec/ms_adpcm_encoder.h"
#include "containers/riff_wave_writer.h"
#include "tests/support/faudio_reader.h"
#include "tests/support/sample_files.h"
#include "tests/support/shipped_layouts.h"
#include "tests/support/tool_runner.h"

namespace {

typedef std::vector<uint8_t> bytes;

void put32(bytes* b, uint32_t value) {
    for (int i = 0; i < 4; i++) b->push_back((uint8_t)(value >> (8 * i)));
}

void put_name(bytes* b, const std::string& name) {
    b->insert(b->end(), name.begin(), name.end());
    b->resize(b->size() + 64 - name.size());
}

uint32_t format(uint32_t codec, uint32_t channels, uint32_t rate, uint32_t align, uint32_t bits) {
    return codec | channels << 2 | rate << 5 | align << 23 | bits << 31;
}

struct entry {
    const char* name;
    uint32_t format;
    uint32_t duration;  // frames, as the record states it
    uint32_t length;    // bytes
    uint32_t loop_start;
    uint32_t loop_length;
};

const std::vector<entry> ENTRIES = {
    {"mono16", format(0, 1, 22050, 2, 1), 100, 200, 0, 0},
    {"stereo8 loop", format(0, 2, 44100, 2, 0), 50, 100, 10, 30},
    // Two blocks of (48 + 22) bytes and (48 + 16) * 2 frames; the second
    // block is not played to its end.
    {"adpcm", format(2, 1, 22050, 48, 0), 250, 140, 0, 0},
};

const uint32_t BANK_DATA = 52, RECORDS = BANK_DATA + 96, NAMES = RECORDS + 24 * 3, WAVE_DATA = NAMES + 64 * 3;

// Header, bank data, records, names and wave data, in that order; no seek tables.
bytes smoke_bank() {
    bytes b = {'W', 'B', 'N', 'D'};
    put32(&b, 46);
    put32(&b, 44);
    uint32_t wave_bytes = 0;
    for (const entry& e : ENTRIES) wave_bytes += e.length;
    for (uint32_t field : {BANK_DATA, 96u, RECORDS, 24u * 3, NAMES, 0u, NAMES, 64u * 3, WAVE_DATA, wave_bytes})
        put32(&b, field);
    put32(&b, 0x10000);  // entry names
    put32(&b, 3);
    put_name(&b, "smoke");
    for (uint32_t field : {24u, 64u, 4u, 0u, 0u, 0u}) put32(&b, field);
    uint32_t offset = 0;
    for (const entry& e : ENTRIES) {
        for (uint32_t field : {e.duration << 4, e.format, offset, e.length, e.loop_start, e.loop_length})
            put32(&b, field);
        offset += e.length;
    }
    for (const entry& e : ENTRIES) put_name(&b, e.name);
    b.resize(b.size() + wave_bytes, 0x80);
    return b;
}

typedef std::tuple<std::string, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                   uint32_t, uint32_t>
    wave_fields;

std::vector<wave_fields> fields(const std::vector<faudio_wave>& waves) {
    std::vector<wave_fields> rows;
    for (const faudio_wave& w : waves)
        rows.emplace_back(w.name, w.format_tag, w.channels, w.sample_rate, w.block_align, w.bits_per_sample, w.duration,
                          w.loop_start, w.loop_length, w.play_offset, w.play_length);
    return rows;
}

TEST(FaudioReaderTest, ReportsNamedPcmAndAdpcmEntriesWithTheirLoop) {
    std::vector<faudio_wave> waves;
    std::string error;
    ASSERT_TRUE(faudio_wave_properties(smoke_bank(), &waves, &error)) << error;
    // name, tag, channels, rate, align, bits, duration, loop start and length, play offset and length
    std::vector<wave_fields> expected = {
        {"mono16", 0, 1, 22050, 2, 1, 100, 0, 0, WAVE_DATA, 200},
        {"stereo8 loop", 0, 2, 44100, 2, 0, 50, 10, 30, WAVE_DATA + 200, 100},
        // FAudio counts whole blocks, not the record's 250 frames.
        {"adpcm", 2, 1, 22050, 48, 0, 256, 0, 0, WAVE_DATA + 300, 140},
    };
    EXPECT_EQ(fields(waves), expected);
}

void set32(bytes* b, size_t at, uint32_t value) {
    write_u32le(&(*b)[at], value);
}

struct refused_bank {
    const char* what;
    std::function<void(bytes*)> damage;
    const char* error;
};

TEST(FaudioReaderTest, RefusesBadBanksWithAReasonAndNoWaves) {
    const refused_bank cases[] = {
        // FAudio's own refusals: it reads content versions 43 to 46 and
        // header versions 42 to 44.
        {"signature", [](bytes* b) { (*b)[0] = 'X'; }, "not a wave bank"},
        {"content version 47", [](bytes* b) { set32(b, 4, 47); }, "content version"},
        {"content version 42", [](bytes* b) { set32(b, 4, 42); }, "content version"},
        {"header version 45", [](bytes* b) { set32(b, 8, 45); }, "header version"},
        {"header version 41", [](bytes* b) { set32(b, 8, 41); }, "header version"},
        // Banks that would make FAudio's parser fault.
        {"empty", [](bytes* b) { b->clear(); }, "shorter than its 52-byte header"},
        {"records over 24 bytes", [](bytes* b) { set32(b, BANK_DATA + 0x48, 28); }, "larger than 24 bytes"},
        {"compact", [](bytes* b) { set32(b, BANK_DATA, 0x30000); }, "compact entries"},
        {"count past the records", [](bytes* b) { set32(b, BANK_DATA + 4, 40000); }, "records run past"},
        {"PCM without channels", [](bytes* b) { set32(b, RECORDS + 4, format(0, 0, 22050, 2, 1)); }, "no channels"},
    };
    for (const refused_bank& c : cases) {
        SCOPED_TRACE(c.what);
        bytes bank = smoke_bank();
        c.damage(&bank);
        std::vector<faudio_wave> waves(1);
        std::string error;
        EXPECT_FALSE(faudio_wave_properties(bank, &waves, &error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_TRUE(waves.empty());
    }
}

}  // namespace

// The Windows bank the shared writer builds, and the same bank with two
// records replaced by the tool (an MS ADPCM one, and an xWMA one made 16-bit
// PCM with --codec pcm), read by FAudio: every wave's format, frames, loop
// and name as the module lists them; the untouched waves' bytes as they were.
TEST(FaudioReaderTest, ReadsTheWritersBanksAndAReplacedOneAsTheModuleDoes) {
    shipped_file windows;
    for (const shipped_file& file : shipped_files())
        if (file.name == "Wave Bank.xwb") windows = file;
    ASSERT_FALSE(windows.files.empty());
    const bytes& bank = windows.files[0].second;
    scratch_folder scratch;
    write_file_in(scratch.path, "Wave Bank.xwb", bank);
    std::vector<int16_t> tone(6000);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = (int16_t)((i * 113) % 16000 - 8000);
    write_file_in(scratch.path, "new.wav", make_pcm_wave(tone.data(), tone.size() / 2, 1, 22050));
    write_file_in(scratch.path, "music.wav", make_pcm_wave(tone.data(), tone.size() / 2, 2, 44100));
    auto replace = [&](const std::string& from, const std::string& sound, const std::string& options,
                       const std::string& to) {
        run_result run = run_tool("replace " + in_quotes(scratch.path + from) + " " + in_quotes(scratch.path + sound) +
                                      " " + options + " -o " + in_quotes(scratch.path + to),
                                  scratch.path);
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out;
    };
    replace("Wave Bank.xwb", "new.wav", "--entry Dig_0 -q", "dig.xwb");
    std::string said = replace("dig.xwb", "music.wav", "--entry Music_2 --codec pcm", "edited.xwb");
    EXPECT_NE(said.find("entry 2 Music_2: 44100 Hz stereo, no loop, as 16-bit PCM, xwma -> pcm16"), std::string::npos)
        << said;
    bytes edited = read_file(scratch.path + "edited.xwb");

    const uint32_t TAGS[] = {2, 3, 0, 2, 0, 3, 1};  // as the records' codecs store them
    std::vector<faudio_wave> before, after;
    std::string error;
    ASSERT_TRUE(faudio_wave_properties(bank, &before, &error)) << error;
    ASSERT_TRUE(faudio_wave_properties(edited, &after, &error)) << error;
    ASSERT_EQ(before.size(), windows.records.size());
    ASSERT_EQ(after.size(), windows.records.size());
    for (size_t i = 0; i < windows.records.size(); ++i) {
        const shipped_record& r = windows.records[i];
        SCOPED_TRACE(r.name);
        for (const faudio_wave* w : {&before[i], &after[i]}) {
            EXPECT_EQ(w->name, r.name);
            EXPECT_EQ(w->format_tag, w == &after[i] && r.name == "Music_2" ? 0 : TAGS[i]);
            EXPECT_EQ(w->channels, r.channels);
            EXPECT_EQ(w->sample_rate, r.rate);
        }
        if (r.plays) {
            EXPECT_EQ(before[i].duration, (uint32_t)r.stated_frames);
        }
        EXPECT_EQ(before[i].loop_start, r.loop_start == NO_FRAMES ? 0u : (uint32_t)r.loop_start);
        if (r.name == "Dig_0") {
            EXPECT_EQ(after[i].duration, 3016u);  // 29 blocks of 104 frames
            continue;
        }
        if (r.name == "Music_2") {
            EXPECT_EQ(after[i].bits_per_sample, 1u);
            EXPECT_EQ(after[i].duration, 3000u);
            EXPECT_EQ(after[i].loop_length, 0u);
            continue;
        }
        EXPECT_EQ(after[i].loop_length, before[i].loop_length);
        ASSERT_EQ(after[i].play_length, before[i].play_length);
        EXPECT_TRUE(
            bytes(edited.begin() + after[i].play_offset,
                  edited.begin() + after[i].play_offset + after[i].play_length) ==
            bytes(bank.begin() + before[i].play_offset, bank.begin() + before[i].play_offset + before[i].play_length));
    }
}

// pack --platform windows: a PCM WAVE stays PCM, a Microsoft ADPCM WAVE goes
// in as it is, an Xbox ADPCM one is encoded to Microsoft ADPCM; FAudio reads
// each wave's format, frames, loop and name, and the kept one's bytes.
TEST(FaudioReaderTest, ReadsABankPackedForWindows) {
    scratch_folder scratch;
    std::vector<int16_t> tone(3000);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = (int16_t)((i * 97) % 20000 - 10000);
    bytes pcm;
    for (int16_t sample : tone) put_u16le(pcm, (uint16_t)sample);
    sound_extras looped;
    looped.name = "voice";
    looped.loop_start = 1000;
    looped.loop_end = 2000;
    write_file_in(scratch.path, "voice.wav", make_wave(pcm_shape(22050, 1), pcm.data(), pcm.size(), looped));
    bytes blocks = encode_ms_adpcm(tone.data(), 1200, 1, 0x24);
    sound_extras dig;
    dig.name = "dig";
    dig.loop_start = 208;  // blocks 2 to 8 of 104 frames
    dig.loop_end = 832;
    write_file_in(scratch.path, "dig.wav",
                  make_wave(ms_adpcm_shape(22050, 1, 0x24), blocks.data(), blocks.size(), dig));
    write_file_in(scratch.path, "xbox.wav", make_adpcm_wave(tone_adpcm(2, 20, 5), 2, 44100));
    run_result run = run_tool("pack " + in_quotes(scratch.path + "voice.wav") + " " +
                                  in_quotes(scratch.path + "dig.wav") + " " + in_quotes(scratch.path + "xbox.wav") +
                                  " --platform windows -q -o " + in_quotes(scratch.path + "packed.xwb"),
                              scratch.path);
    ASSERT_EQ(run.status, 0) << run.err;
    bytes packed = read_file(scratch.path + "packed.xwb");
    EXPECT_EQ(read_u32le(&packed[4]), 46u);
    EXPECT_EQ(read_u32le(&packed[8]), 44u);
    std::vector<faudio_wave> waves;
    std::string error;
    ASSERT_TRUE(faudio_wave_properties(packed, &waves, &error)) << error;
    ASSERT_EQ(waves.size(), 3u);
    // name, tag, channels, rate, align (the block field), bits, duration, loop start and length
    const std::vector<
        std::tuple<std::string, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t>>
        expected = {
            {"voice", 0, 1, 22050, 0, 1, 3000, 1000, 1000},
            {"dig", 2, 1, 22050, 0x24, 0, 1248, 208, 624},
            // 20 block sets of 65 frames in 3 blocks of 500 (blocks of 512 bytes)
            {"xbox", 2, 2, 44100, 234, 0, 1500, 0, 0},
        };
    for (size_t i = 0; i < waves.size(); ++i) {
        const faudio_wave& w = waves[i];
        EXPECT_EQ(
            std::make_tuple(w.name, w.format_tag, w.channels, w.sample_rate, w.format_tag == 2 ? w.block_align : 0,
                            w.bits_per_sample, w.duration, w.loop_start, w.loop_length),
            expected[i]);
    }
    EXPECT_TRUE(bytes(packed.begin() + waves[1].play_offset,
                      packed.begin() + waves[1].play_offset + waves[1].play_length) == blocks);
    EXPECT_TRUE(bytes(packed.begin() + waves[0].play_offset,
                      packed.begin() + waves[0].play_offset + waves[0].play_length) == pcm);
}
