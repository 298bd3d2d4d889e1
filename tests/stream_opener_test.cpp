// The stream opener: each file takes the reader its extension and leading
// bytes pick, and describing a file gives what opening it to play gives.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include "codec/xbox_adpcm.h"
#include "containers/stream_opener.h"
#include "containers/timeline.h"
#include "containers/wave_bank.h"
#include "containers/byte_source.h"
#include "containers/file_names.h"
#include "platform/platform.h"
#include "tests/support/sample_files.h"

namespace {

enum reader_taken { READ_AS_RAW, READ_AS_WAVE, READ_AS_REFUSED, READ_AS_BANK_AT_0, READ_AS_BANK_AT_4096 };

// A mono 22050 Hz Xbox ADPCM WAVE with 3600 bytes of data starting at 48.
bytes mono_wave(uint16_t format_tag = XBOX_ADPCM_TAG) {
    return build_riff({{"fmt ", fmt_content(format_tag, 1, 22050, 20)}, {"data", bytes(3600, 0x33)}});
}

// Two entries of 720 bytes: stereo at 44100 Hz, mono at 22050 Hz.
bytes small_bank() {
    wave_bank_design design;
    design.entries = {{format_word(1, 2, 44100), 0, 720}, {format_word(1, 1, 22050), 720, 720}};
    design.entry_data = random_bytes(1440, 4);
    return build_wave_bank(design);
}

bytes text_then(const char* text, size_t text_bytes, size_t more_bytes) {
    bytes content(text, text + text_bytes);
    bytes rest = random_bytes(more_bytes, (uint32_t)more_bytes);
    content.insert(content.end(), rest.begin(), rest.end());
    return content;
}

class StreamOpenerTest : public ::testing::Test {
public:
    scratch_folder scratch;

    // Opens name as Play would, runs the opener and checks the reader taken;
    // describing the file must come to the same.
    void expect_reader(const std::string& name, const bytes& content, reader_taken expected) {
        std::string path = write_file_in(scratch.path, name, content);
        owned_description opened;
        std::string path_after;
        ASSERT_TRUE(open_as_play(path, &opened.d, &path_after));
        EXPECT_EQ(path_after, path);
        const stream_description& d = opened.d;
        EXPECT_EQ(d.channels, expected == READ_AS_WAVE ? 1 : DEFAULT_CHANNELS);
        EXPECT_EQ(d.sample_rate, expected == READ_AS_WAVE ? 22050u : DEFAULT_SAMPLE_RATE);

        if (expected == READ_AS_BANK_AT_0 || expected == READ_AS_BANK_AT_4096) {
            // The opener must give exactly what the bank reader gives on its
            // own, at the base the leading bytes name.
            owned_description bank;
            file_handle again = file_open_read(path.c_str());
            ASSERT_NE(again, INVALID_FILE);
            byte_source source = source_of_file(again);
            bank.d.bank_base = expected == READ_AS_BANK_AT_0 ? 0 : CONTAINER_BANK_BASE;
            read_wave_bank(&source, &bank.d);
            EXPECT_EQ(d.data_length, bank.d.data_length);
            EXPECT_EQ(entry_table(d), entry_table(bank.d));
            EXPECT_EQ(d.data_start, bank.d.data_start);
            EXPECT_EQ(d.bank_base, bank.d.bank_base);
            file_close(again);
        } else {
            bool mono = expected == READ_AS_WAVE;
            EXPECT_EQ(d.entry_count, 0);
            EXPECT_EQ(d.data_length, mono ? 3600 : expected == READ_AS_REFUSED ? 0 : (int32_t)content.size());
            EXPECT_EQ(d.refusal, expected == READ_AS_REFUSED ? REFUSED_NOT_XBOX_ADPCM : NOT_REFUSED);
            EXPECT_EQ(d.data_start, mono ? 48 : 0);
            EXPECT_EQ((d.notices & NOTICE_PLAYED_AS_RAW) != 0, expected == READ_AS_RAW);
        }

        owned_description described;
        ASSERT_TRUE(describe_stream(path.c_str(), &SYSTEM_INFLATER, &described.d));
        EXPECT_EQ(described.d.data_length, d.data_length);
        EXPECT_EQ(described.d.data_start, d.data_start);
        EXPECT_EQ(entry_table(described.d), entry_table(d));
        EXPECT_EQ(player_length_ms(&described.d, nullptr), player_length_ms(&d, nullptr));
    }
};

TEST_F(StreamOpenerTest, LeadingBytesPickTheReader) {
    const char wrapped[] = "HVSIWBA\0";
    struct {
        const char* name;
        bytes content;
        reader_taken expected;
    } cases[] = {
        {"xbox wave", mono_wave(), READ_AS_WAVE},
        {"pcm wave", mono_wave(1), READ_AS_REFUSED},
        {"random bytes", random_bytes(1000, 1), READ_AS_RAW},
        {"empty", bytes(), READ_AS_RAW},
        {"WBND alone", text_then("WBND", 4, 0), READ_AS_BANK_AT_0},
        {"WBND before anything", text_then("WBND", 4, 300), READ_AS_BANK_AT_0},
        {"WBND then HVSIWBA", text_then("WBNDHVSIWBA", 12, 100), READ_AS_BANK_AT_0},
        {"HVSIWBA and zero", text_then(wrapped, 8, 4200), READ_AS_BANK_AT_4096},
        {"HVSIWBA and zero only", text_then(wrapped, 8, 0), READ_AS_BANK_AT_4096},
        {"HVSIWBA and one", text_then("HVSIWBA\1", 8, 4200), READ_AS_RAW},
        {"HVSIWBA, 7 bytes", text_then(wrapped, 7, 0), READ_AS_RAW},
        {"WBN, 3 bytes", text_then("WBND", 3, 0), READ_AS_RAW},
        {"WBND one byte in", text_then("xWBND", 5, 100), READ_AS_RAW},
        {"wbnd", text_then("wbnd", 4, 100), READ_AS_RAW},
        {"bank", small_bank(), READ_AS_BANK_AT_0},
        {"bank in a container", in_bank_container(small_bank()), READ_AS_BANK_AT_4096},
        {"bank behind HVSIWBA and one",
         [] {
             bytes file = in_bank_container(small_bank());
             file[7] = '1';
             return file;
         }(),
         READ_AS_RAW},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expect_reader("item.bin", c.content, c.expected);
    }
}

// Names that only look like a compressed bank or a stream pair never take
// those branches.
TEST_F(StreamOpenerTest, ExtensionsDoNotBreakTheWaveOrRawReader) {
    const char* names[] = {"bank.zwb.bak", "bank.zwbx", "pair.xsh.bak",  "pair.xsdx", "music.d/track",
                           "track",        "trailing.", "dir.xsh/track", ".xsh"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        expect_reader(name, mono_wave(), READ_AS_WAVE);
        expect_reader(name, random_bytes(500, 2), READ_AS_RAW);
    }
}

// Names divide at '/' everywhere (and at '\\' on Windows); a name's
// extension follows its last dot unless that dot begins the name.
TEST(FileNames, BaseNamesAndExtensions) {
    struct case_row {
        const char* path;
        const char* name;
        const char* extension;  // with its dot, "" for none
        const char* as_xsd;
    } rows[] = {
        {"music.xsh", "music.xsh", ".xsh", "music.xsd"},
        {"a/b.c/MUSIC.XSH", "MUSIC.XSH", ".XSH", "a/b.c/MUSIC.xsd"},
        {"dir.xsh/track", "track", "", "dir.xsh/track.xsd"},
        {"folder/.hidden", ".hidden", "", "folder/.hidden.xsd"},
        {"trailing.", "trailing.", ".", "trailing.xsd"},
        {"bank.zwb.bak", "bank.zwb.bak", ".bak", "bank.zwb.xsd"},
        {"", "", "", ".xsd"},
    };
    for (const case_row& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_STREQ(base_name(row.path), row.name);
        EXPECT_STREQ(extension_dot(row.path), row.extension);
        char* renamed = with_extension(row.path, "xsd");
        ASSERT_NE(renamed, nullptr);
        EXPECT_STREQ(renamed, row.as_xsd);
        free(renamed);
    }
    // Titles split at the platform's own separator alone, as the player's do.
    std::string mixed = std::string("dir") + PLATFORM_PATH_SEPARATOR + "sub/name.xwb";
    EXPECT_STREQ(title_name(mixed.c_str()), PLATFORM_PATH_SEPARATOR == '/' ? "name.xwb" : "sub/name.xwb");
    EXPECT_TRUE(path_extension_is("a/MUSIC.XSH", "xsh"));
    EXPECT_FALSE(path_extension_is("music.xsh/", "xsh"));
    EXPECT_FALSE(path_extension_is("music.xs", "xsh"));
}

TEST_F(StreamOpenerTest, AMissingFileIsNotDescribed) {
    owned_description nothing;
    EXPECT_FALSE(describe_stream((scratch.path + "missing.wav").c_str(), nullptr, &nothing.d));
}

}  // namespace
