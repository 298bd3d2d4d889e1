// The files games shipped, laid out record by record.

#include "tests/support/shipped_layouts.h"

#include "codec/ms_adpcm_encoder.h"
#include "codec/xbox_adpcm.h"
#include "containers/wave_bank_writer.h"
#include "containers/stream_pair.h"
#include "containers/wave_bank.h"
#include "tests/support/windows_bank_variants.h"

namespace {

const int64_t NONE = NO_FRAMES;

bytes pcm_bytes(size_t byte_count, uint32_t seed) {
    return random_bytes(byte_count, seed);
}

// Appends sound to a region, returning where it starts.
uint32_t append(bytes* region, const bytes& sound) {
    uint32_t at = (uint32_t)region->size();
    region->insert(region->end(), sound.begin(), sound.end());
    return at;
}

shipped_file version_1_bank() {
    shipped_file file;
    file.name = "pgr2.xwb";
    file.version = 1;
    file.bank_name = "pgr2_music";
    bytes e0 = tone_adpcm(2, 40, 11), e2 = tone_adpcm(1, 30, 12), pcm16 = pcm_bytes(800, 13), pcm8 = pcm_bytes(301, 14);
    wave_bank_design design;
    design.version = 1;
    design.bank_name = file.bank_name;
    // Record 1 loops over its block sets 10 to 30; record 2 is 16-bit PCM
    // looped over frames 50 to 150, record 4 8-bit PCM whose last byte is
    // half a frame.
    design.entries = {
        {format_word_v1(1, 2, 22050), append(&design.entry_data, e0), (uint32_t)e0.size(), 0, 10 * 72, 20 * 72},
        {format_word_v1(0, 2, 44100, true), append(&design.entry_data, pcm16), (uint32_t)pcm16.size(), 0, 50 * 4,
         100 * 4},
        {format_word_v1(1, 1, 44100), append(&design.entry_data, e2), (uint32_t)e2.size()},
        {format_word_v1(0, 2, 11025), append(&design.entry_data, pcm8), (uint32_t)pcm8.size()}};
    file.files = {{file.name, build_wave_bank(design)}};
    file.records = {{1, "", 650, 1950, NONE, "xbox_adpcm", true, 22050, 2, e0},
                    {2, "", 50, 150, NONE, "pcm16", true, 44100, 2, pcm16, CODEC_PCM16},
                    {3, "", NONE, NONE, NONE, "xbox_adpcm", true, 44100, 1, e2},
                    {4, "", NONE, NONE, NONE, "pcm8", true, 11025, 2, pcm8, CODEC_PCM8}};
    return file;
}

shipped_file version_3_bank() {
    shipped_file file;
    file.name = "music.xwb";
    file.version = 3;
    file.bank_name = "music";
    bytes e0 = tone_adpcm(4, 20, 21), e1 = tone_adpcm(6, 12, 22), e3 = tone_adpcm(2, 16, 23);
    bytes voice = pcm_bytes(1001, 25), click = pcm_bytes(160, 26);
    wave_bank_design design;
    design.bank_name = file.bank_name;
    design.with_names = true;
    design.alignment = 2048;
    design.flags = BANK_FLAG_STREAMING;
    design.entries = {
        {format_word(1, 4, 48000), append(&design.entry_data, e0), (uint32_t)e0.size(), 0, 4 * 144, 8 * 144,
         "boss_theme"},
        {format_word(1, 6, 44100), append(&design.entry_data, e1), (uint32_t)e1.size(), 0, 0, 0, "surround_intro"},
        {format_word(2, 2, 44100), append(&design.entry_data, random_bytes(300, 24)), 300, 0, 0, 0, "menu_wma"},
        // A loop the game is told to ignore.
        {format_word(1, 2, 32000), append(&design.entry_data, e3), (uint32_t)e3.size(), BANK_ENTRY_IGNORE_LOOP, 0,
         72 * 4, "ambience"},
        {format_word(0, 1, 22050) | 0x80000000u, append(&design.entry_data, voice), (uint32_t)voice.size(), 0, 2 * 100,
         2 * 200, "voice_line"},
        {format_word(0, 2, 8000), append(&design.entry_data, click), (uint32_t)click.size(), 0, 0, 0, "click"},
    };
    file.files = {{file.name, build_wave_bank(design)}};
    file.records = {{1, "boss_theme", 4 * 65, 12 * 65, NONE, "xbox_adpcm", true, 48000, 4, e0},
                    {2, "surround_intro", NONE, NONE, NONE, "xbox_adpcm", true, 44100, 6, e1},
                    {3, "menu_wma", NONE, NONE, NONE, "wma", false, 44100, 2, {}},
                    {4, "ambience", NONE, NONE, NONE, "xbox_adpcm", true, 32000, 2, e3},
                    {5, "voice_line", 100, 300, NONE, "pcm16", true, 22050, 1, voice, CODEC_PCM16},
                    {6, "click", NONE, NONE, NONE, "pcm8", true, 8000, 2, click, CODEC_PCM8}};
    return file;
}

// Records at multiples of 2048 bytes; each one's length is what lies before
// the next, less its deviation. Every entry has the bank's one format.
shipped_file compact_bank(const char* stem, entry_codec codec, const std::vector<bytes>& sounds) {
    shipped_file file;
    file.name = std::string(stem) + ".xwb";
    file.version = 2;
    file.bank_name = stem;
    const uint32_t ALIGN = 2048;
    const char* codec_name = codec == CODEC_XBOX_ADPCM ? "xbox_adpcm" : codec == CODEC_PCM8 ? "pcm8" : "pcm16";
    wave_bank_design design;
    design.version = 2;
    design.bank_name = file.bank_name;
    design.compact = true;
    design.element_size = BANK_COMPACT_RECORD_BYTES;
    design.alignment = ALIGN;
    design.compact_format = pack_format(VERSION_2_RECORD, codec, 2, 22050);
    for (const bytes& sound : sounds) {
        uint32_t units = (uint32_t)((design.entry_data.size() + ALIGN - 1) / ALIGN);
        design.entry_data.resize((size_t)units * ALIGN, 0xcc);
        append(&design.entry_data, sound);
        uint32_t end = (uint32_t)((design.entry_data.size() + ALIGN - 1) / ALIGN) * ALIGN;
        design.compact_words.push_back(compact_record_word(units, end - (uint32_t)design.entry_data.size()));
        file.records.push_back(
            {(int32_t)design.compact_words.size(), "", NONE, NONE, NONE, codec_name, true, 22050, 2, sound, codec});
    }
    // The last record runs to the end of the sound region.
    design.entry_data.resize((design.entry_data.size() + ALIGN - 1) / ALIGN * ALIGN, 0xcc);
    file.files = {{file.name, build_wave_bank(design)}};
    return file;
}

shipped_file stream_pair(const char* stem, uint32_t version, bool ids) {
    shipped_file file;
    file.name = std::string(stem) + ".xsh";
    file.version = version;
    bytes e0 = tone_adpcm(2, 30, version), e1 = tone_adpcm(1, 25, version + 1), e3 = tone_adpcm(2, 10, version + 2);
    bytes grunt = pcm_bytes(403, version + 3), beep = pcm_bytes(99, version + 4);
    bytes data;
    std::vector<stream_record_design> records = {
        {{append(&data, e0), (int64_t)e0.size(), 44100, 2}, ids ? "7" : "web_swing", 1, STREAM_ENTRY_LOOPS, 1950},
        {{append(&data, e1), (int64_t)e1.size(), 22050, 1}, ids ? "8" : "taunt", 1, 0, 1625},
        {{0, 0, 44100, 2}, ids ? "9" : "unused", 0},
        {{append(&data, e3), (int64_t)e3.size(), 32000, 2}, ids ? "10" : "xss_voice", 1, STREAM_ENTRY_EXTERNAL},
        {{append(&data, e3), (int64_t)e3.size(), 32000, 2}, ids ? "11" : "crowd", 1, 0, 650},
        {{append(&data, grunt), (int64_t)grunt.size(), 22050, 2}, ids ? "12" : "grunt", 1, 0, 100, 1, 16},
        {{append(&data, beep), (int64_t)beep.size(), 11025, 1}, ids ? "13" : "beep", 1, STREAM_ENTRY_LOOPS, 99, 1, 8},
    };
    bool frames = version != STREAM_HEADER_VERSION_9D;
    file.files = {{file.name, build_versioned_stream_header(version, records, ids)},
                  {std::string(stem) + ".xsd", data}};
    auto name = [&](const char* text) { return ids ? std::string() : std::string(text); };
    file.records = {{1, name("web_swing"), 0, 1950, frames ? 1950 : NONE, "xbox_adpcm", true, 44100, 2, e0},
                    {2, name("taunt"), NONE, NONE, frames ? 1625 : NONE, "xbox_adpcm", true, 22050, 1, e1},
                    {3, name("unused"), NONE, NONE, frames ? 0 : NONE, "empty", false, 44100, 2, {}},
                    {4, name("xss_voice"), NONE, NONE, frames ? 0 : NONE, "external", false, 32000, 2, {}},
                    {5, name("crowd"), NONE, NONE, frames ? 650 : NONE, "xbox_adpcm", true, 32000, 2, e3},
                    {6, name("grunt"), NONE, NONE, frames ? 100 : NONE, "pcm16", true, 22050, 2, grunt, CODEC_PCM16},
                    {7, name("beep"), 0, 99, frames ? 99 : NONE, "pcm8", true, 11025, 1, beep, CODEC_PCM8}};
    return file;
}

shipped_file padded_wave() {
    shipped_file file;
    file.name = "edited.wav";
    bytes adpcm = tone_adpcm(1, 20, 41);
    bytes fact;
    put_u32le(fact, 1300);
    file.files = {{file.name, build_riff({{"fmt ", fmt_content(XBOX_ADPCM_TAG, 1, 22050, 20)},
                                          {"fact", fact},
                                          {"LIST", bytes(27, 'i'), false, 0, true},
                                          {"data", adpcm}})}};
    file.version = -1;
    file.records = {{0, "", NONE, NONE, 1300, "xbox_adpcm", true, 22050, 1, adpcm}};
    return file;
}

// A bank of content version 46 as XNA games on Windows (little-endian) and
// Xbox 360 games (big-endian) keep it: 8- and 16-bit PCM, Microsoft ADPCM in
// mono and in stereo with a loop, and xWMA, WMA Pro and XMA records the
// module does not decode, with their durations and seek tables (xWMA: the
// decoded bytes at the end of each packet; XMA: frame positions), the XMA
// one looped, named in the bank.
shipped_file windows_bank(const char* file_name, bank_platform platform) {
    shipped_file file;
    file.name = file_name;
    file.version = 46;
    file.bank_name = "Wave Bank with a name of more than sixteen bytes";
    bool be = platform == BANK_FOR_XBOX360;
    std::vector<int16_t> tone(2 * 1200);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = (int16_t)(((i * 7919) % 30000) - 15000);
    bytes mono = encode_ms_adpcm(tone.data(), 1200, 1, 0x24);
    bytes stereo = encode_ms_adpcm(tone.data(), 1100, 2, 234);
    bytes pcm16 = pcm_bytes(1202, 51), pcm8 = pcm_bytes(901, 52), wma = pcm_bytes(700, 53);
    auto entry = [](const char* name, entry_codec codec, uint32_t rate, uint16_t channels, const bytes& sound,
                    uint32_t block_field) {
        built_entry e;
        e.name = name;
        e.codec = codec;
        e.rate = rate;
        e.channels = channels;
        e.adpcm = sound;
        e.block_field = block_field;
        return e;
    };
    std::vector<built_entry> entries = {
        entry("Music_1", CODEC_MS_ADPCM, 44100, 2, stereo, 234),
        entry("Music_2", CODEC_XWMA, 44100, 2, wma, 0x20),
        entry("Item_1", be ? CODEC_PCM16_BE : CODEC_PCM16, 22050, 1, pcm16, 0),
        entry("Dig_0", CODEC_MS_ADPCM, 22050, 1, mono, 0x24),
        entry("Zombie_1", CODEC_PCM8, 11025, 2, pcm8, 0),
        entry("Music_3", CODEC_WMA_PRO, 48000, 2, wma, 0x21),
        entry("Music_4", CODEC_XMA, 48000, 2, wma, 0),
    };
    entries[0].loop_start = 500;  // whole blocks of 500 frames
    entries[0].loop_end = 1000;
    entries[2].loop_start = 100;
    entries[2].loop_end = 400;
    entries[1].seek_table = {17640, 35280};  // 16-bit stereo: 4 bytes a frame
    entries[1].stated_frames = 8820;
    entries[5].seek_table = {19200, 38400};
    entries[5].stated_frames = 9600;
    entries[6].seek_table = {2048, 4096, 6144};
    entries[6].stated_frames = 6144;
    entries[6].loop_start = 1024;
    entries[6].loop_end = 3072;
    std::string error;
    file.files = {{file.name, built_bank_bytes(entries, file.bank_name, 2048, &error, platform)}};
    file.records = {{1, "Music_1", 500, 1000, 1500, "ms_adpcm", true, 44100, 2, stereo, CODEC_MS_ADPCM, 234},
                    {2, "Music_2", NONE, NONE, 8820, "xwma", false, 44100, 2, {}},
                    {3, "Item_1", 100, 400, 601, "pcm16", true, 22050, 1, pcm16, entries[2].codec},
                    {4, "Dig_0", NONE, NONE, 1248, "ms_adpcm", true, 22050, 1, mono, CODEC_MS_ADPCM, 0x24},
                    {5, "Zombie_1", NONE, NONE, 450, "pcm8", true, 11025, 2, pcm8, CODEC_PCM8},
                    {6, "Music_3", NONE, NONE, 9600, "wma_pro", false, 48000, 2, {}},
                    {7, "Music_4", 1024, 3072, 6144, "xma", false, 48000, 2, {}}};
    return file;
}

// A compact bank of content version 46, as XACT writes banks of many short
// sounds of one format: every entry shares the bank's format word, and each
// record is one word; no durations, so no stated frames.
shipped_file windows_compact_bank(const char* file_name, bank_platform platform, entry_codec codec,
                                  uint32_t block_field) {
    shipped_file file;
    file.name = file_name;
    file.version = 46;
    file.bank_name = "compact";
    const char* codec_name = codec == CODEC_MS_ADPCM ? "ms_adpcm" : "pcm16";
    std::vector<built_entry> entries;
    for (uint32_t i = 0; i < 3; ++i) {
        bytes sound =
            codec == CODEC_MS_ADPCM ? ms_adpcm_tone(2, 300 + 250 * i, block_field, i) : pcm_bytes(500 + 7 * i, 60 + i);
        if (codec != CODEC_MS_ADPCM) sound.resize(sound.size() / 4 * 4);
        std::string name = "Hit_" + std::to_string(i);
        entries.push_back(windows_bank_entry(name, codec, 2, sound, block_field));
        file.records.push_back(
            {(int32_t)i + 1, name, NONE, NONE, NONE, codec_name, true, 44100, 2, sound, codec, block_field});
    }
    std::string error;
    file.files = {{file.name, compact_windows_bank(built_bank_bytes(entries, file.bank_name, 2048, &error, platform))}};
    return file;
}

}  // namespace

std::vector<shipped_file> shipped_files() {
    return {version_1_bank(),
            version_3_bank(),
            compact_bank("sfx", CODEC_XBOX_ADPCM, {tone_adpcm(2, 20, 31), tone_adpcm(2, 50, 32), tone_adpcm(2, 3, 33)}),
            compact_bank("voice", CODEC_PCM16, {pcm_bytes(2050, 34), pcm_bytes(4096, 35), pcm_bytes(10, 36)}),
            stream_pair("spiderman", STREAM_HEADER_VERSION_9D, false),
            stream_pair("streams", STREAM_HEADER_VERSION_100, false),
            stream_pair("nhl2k3", STREAM_HEADER_VERSION_101, true),
            padded_wave(),
            windows_bank("Wave Bank.xwb", BANK_FOR_WINDOWS),
            windows_bank("x360_music.xwb", BANK_FOR_XBOX360),
            windows_compact_bank("compact_sfx.xwb", BANK_FOR_WINDOWS, CODEC_MS_ADPCM, 0x24),
            windows_compact_bank("x360_compact.xwb", BANK_FOR_XBOX360, CODEC_PCM16_BE, 0)};
}
