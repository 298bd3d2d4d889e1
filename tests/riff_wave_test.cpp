// The RIFF WAVE reader and the raw-data fallback, on files built chunk by
// chunk: what each layout yields, and that odd or hostile chunk sizes end the
// search instead of looping or moving backwards.

#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>

#include "codec/little_endian.h"
#include "codec/xbox_adpcm.h"
#include "containers/riff_wave.h"
#include "containers/riff_wave_writer.h"
#include "tests/support/sample_files.h"

namespace {

struct outcome {
    int32_t length;
    int32_t position;  // the first byte of the data
    bool sets_format;  // channels, sample_rate and data_start come from the file
    uint16_t channels;
    uint32_t sample_rate;
};

// Raw data: the file's own size as the length, from offset 0.
const int32_t OWN_SIZE = INT32_MIN;
const outcome RAW = {OWN_SIZE, 0, false, 0, 0};
const outcome REFUSED = {-1, 0, false, 0, 0};
outcome wave(int32_t length, int32_t data_start, uint16_t channels, uint32_t rate) {
    return {length, data_start, true, channels, rate};
}

riff_chunk chunk(const std::string& tag, bytes content) {
    return {tag, std::move(content)};
}
riff_chunk sized_chunk(const std::string& tag, bytes content, uint32_t declared_size) {
    return {tag, std::move(content), true, declared_size};
}
riff_chunk fmt20(uint16_t tag = XBOX_ADPCM_TAG, uint16_t channels = 1, uint32_t rate = 22050) {
    return chunk("fmt ", fmt_content(tag, channels, rate, 20));
}
riff_chunk data3600() {
    return chunk("data", bytes(3600, 0x5a));
}

bytes cut(bytes content, size_t size) {
    content.resize(size);
    return content;
}

class RiffWaveTest : public ::testing::Test {
protected:
    scratch_folder scratch;

    file_handle open_bytes(const bytes& content) {
        file_handle file = file_open_read(write_file_in(scratch.path, "input.wav", content).c_str());
        EXPECT_NE(file, INVALID_FILE);
        return file;
    }

    void expect_outcome(const bytes& content, const outcome& expected) {
        owned_description wave;
        file_handle file = open_bytes(content);
        byte_source source = source_of_file(file);
        EXPECT_EQ(read_wave_or_raw(&source, &wave.d), expected.length != -1);
        if (expected.length != -1) {
            EXPECT_EQ(wave.d.data_length, expected.length == OWN_SIZE ? (int32_t)content.size() : expected.length);
        }
        EXPECT_EQ(wave.d.data_start, expected.position);
        EXPECT_EQ(wave.d.channels, expected.sets_format ? expected.channels : DEFAULT_CHANNELS);
        EXPECT_EQ(wave.d.sample_rate, expected.sets_format ? expected.sample_rate : DEFAULT_SAMPLE_RATE);
        EXPECT_EQ(wave.d.kind, expected.sets_format || expected.length == -1 ? STREAM_WAVE : STREAM_RAW);
        EXPECT_EQ((wave.d.notices & NOTICE_PLAYED_AS_RAW) != 0, expected.length == OWN_SIZE);
        EXPECT_EQ(wave.d.refusal, expected.length == -1 ? REFUSED_NOT_XBOX_ADPCM : NOT_REFUSED);
        file_close(file);
    }
};

TEST_F(RiffWaveTest, FileLayouts) {
    bytes fmt14 = cut(fmt_content(XBOX_ADPCM_TAG, 2, 44100), 14);
    bytes big_data = build_riff({fmt20(), sized_chunk("data", bytes(72), 1000000)});
    bytes data_top_bit = build_riff({fmt20(), sized_chunk("data", bytes(72), 0x80000000u)});
    bytes odd_padded = build_riff({{"odd ", bytes(3, 1), false, 0, true}, fmt20(), data3600()});
    // An editor's LIST chunk of odd size between the format and the sound,
    // with and without the pad byte RIFF asks for.
    bytes list_padded = build_riff({fmt20(), {"LIST", bytes(25, 'a'), false, 0, true}, data3600()});
    bytes list_unpadded = build_riff({fmt20(), {"LIST", bytes(25, 'a'), false, 0, false}, data3600()});
    bytes fmt_top_bit =
        build_riff({sized_chunk("fmt ", fmt_content(XBOX_ADPCM_TAG, 1, 22050), 0xfffffff0u), data3600()});
    // "data" first, then a "fmt " header with only 4 of its 16 format bytes.
    bytes fmt_cut_short = cut(build_riff({data3600(), fmt20()}), 3632);
    bytes fmt_header_at_end = cut(build_riff({data3600(), fmt20()}), 3628);

    struct {
        const char* name;
        bytes content;
        outcome expected;
    } cases[] = {
        {"xbox adpcm wave", build_riff({fmt20(), data3600()}), wave(3600, 48, 1, 22050)},
        {"pcm format tag", build_riff({fmt20(1), data3600()}), REFUSED},
        {"other riff tag", build_riff({fmt20(), data3600()}, "JUNK"), wave(3600, 48, 1, 22050)},
        {"data before fmt", build_riff({data3600(), fmt20()}), wave(3600, 20, 1, 22050)},
        {"no data chunk", build_riff({fmt20()}), RAW},
        {"empty file", bytes(), RAW},
        {"eleven bytes", cut(build_riff({fmt20(), data3600()}), 11), RAW},
        {"lower-case form type", build_riff({fmt20(), data3600()}, "RIFF", "wave"), RAW},
        {"upper-case fmt tag", build_riff({chunk("FMT ", fmt_content(105, 1, 22050)), data3600()}), RAW},
        {"16-byte fmt", build_riff({chunk("fmt ", fmt_content(105, 2, 44100)), data3600()}), wave(3600, 44, 2, 44100)},
        {"14-byte fmt", build_riff({chunk("fmt ", fmt14), data3600()}), wave(3600, 42, 2, 44100)},
        {"40-byte fmt", build_riff({chunk("fmt ", fmt_content(105, 3, 32000, 40)), data3600()}),
         wave(3600, 68, 3, 32000)},
        {"zero channels and rate", build_riff({fmt20(105, 0, 0), data3600()}), wave(3600, 48, 0, 0)},
        {"chunk before fmt", build_riff({chunk("LIST", bytes(10)), fmt20(), data3600()}), wave(3600, 66, 1, 22050)},
        {"odd chunk, no pad", build_riff({chunk("odd ", bytes(3, 1)), fmt20(), data3600()}), wave(3600, 59, 1, 22050)},
        // The pad byte after an odd chunk is stepped over when the header
        // right after the content is no chunk's.
        {"odd chunk, pad byte", odd_padded, wave(3600, 60, 1, 22050)},
        {"odd LIST padded before data", list_padded, wave(3600, 82, 1, 22050)},
        {"odd LIST unpadded before data", list_unpadded, wave(3600, 81, 1, 22050)},
        {"data larger than file", big_data, wave(1000000, 48, 1, 22050)},
        {"data size top bit", data_top_bit, RAW},
        {"fmt size top bit", fmt_top_bit, RAW},
        {"fmt cut short", fmt_cut_short, wave(3600, 20, 1, 0)},
        {"fmt header at end", fmt_header_at_end, RAW},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expect_outcome(c.content, c.expected);
    }
}

TEST_F(RiffWaveTest, EveryChannelCountIsTakenAsItStands) {
    for (uint16_t channels = 1; channels <= 3; ++channels) {
        SCOPED_TRACE(channels);
        bytes adpcm = tone_adpcm(channels, 4, channels);
        expect_outcome(adpcm_wave(adpcm, channels, 8000u * channels),
                       wave((int32_t)adpcm.size(), 48, channels, 8000u * channels));
    }
}

// Every prefix of a valid file is either raw data of its own size or the
// WAVE, with the "fmt " bytes it lacks read as zeros.
TEST_F(RiffWaveTest, EveryTruncatedPrefixHasADefinedOutcome) {
    bytes adpcm = tone_adpcm(1, 2, test_seed(7));
    bytes fmt_first = adpcm_wave(adpcm, 1, 22050);
    bytes data_first = build_riff({chunk("data", adpcm), fmt20()});
    const size_t fmt_content_at = 12 + 8 + adpcm.size() + 8;

    for (size_t size = 0; size <= fmt_first.size(); ++size) {
        SCOPED_TRACE("fmt first, " + std::to_string(size) + " bytes");
        expect_outcome(cut(fmt_first, size), size < 48 ? RAW : wave((int32_t)adpcm.size(), 48, 1, 22050));
    }
    for (size_t size = 0; size <= data_first.size(); ++size) {
        SCOPED_TRACE("data first, " + std::to_string(size) + " bytes");
        if (size <= fmt_content_at) {
            expect_outcome(cut(data_first, size), RAW);
            continue;
        }
        uint8_t format[16] = {};
        memcpy(format, &data_first[fmt_content_at], std::min<size_t>(16, size - fmt_content_at));
        expect_outcome(cut(data_first, size),
                       wave((int32_t)adpcm.size(), 20, read_u16le(format + 2), read_u32le(format + 4)));
    }
}

TEST_F(RiffWaveTest, ChunkSearchEndsOnSizesItCannotFollow) {
    bytes fmt = fmt_content(XBOX_ADPCM_TAG, 1, 22050);
    struct {
        const char* name;
        bytes content;
        const char* tag;
        int32_t result;
        int32_t position;  // only when found
    } cases[] = {
        {"first of two", build_riff({chunk("data", bytes(4)), chunk("data", bytes(8))}), "data", 4, 20},
        {"after a skipped chunk", build_riff({chunk("LIST", bytes(6)), chunk("fmt ", fmt)}), "fmt ", 16, 34},
        {"absent", build_riff({chunk("LIST", bytes(6))}), "fmt ", -1, 0},
        {"wanted, size top bit", build_riff({sized_chunk("data", bytes(4), 0x80000000u)}), "data", INT32_MIN, 20},
        {"skipped size -8", build_riff({sized_chunk("JUNK", bytes(), 0xfffffff8u), chunk("fmt ", fmt)}), "fmt ", -1, 0},
        {"skipped size -20", build_riff({chunk("fmt ", fmt), sized_chunk("JUNK", bytes(), 0xffffffecu)}), "data", -1,
         0},
        {"skipped size top bit", build_riff({sized_chunk("JUNK", bytes(), 0x80000000u), chunk("fmt ", fmt)}), "fmt ",
         -1, 0},
        {"next header past 2^31", build_riff({sized_chunk("JUNK", bytes(), 0x7ffffff0u), chunk("fmt ", fmt)}), "fmt ",
         -1, 0},
        {"next header past the end", build_riff({sized_chunk("JUNK", bytes(), 1000000), chunk("fmt ", fmt)}), "fmt ",
         -1, 0},
        {"header cut short", cut(build_riff({chunk("LIST", bytes(6)), chunk("fmt ", fmt)}), 33), "fmt ", -1, 0},
        {"shorter than the RIFF header", bytes(10), "fmt ", -1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        file_handle file = open_bytes(c.content);
        byte_source source = source_of_file(file);
        EXPECT_EQ(find_riff_chunk(&source, c.tag), c.result);
        if (c.result != -1) {
            EXPECT_EQ(source_tell(&source), c.position);
        }
        file_close(file);
    }
}

TEST_F(RiffWaveTest, ReadWaveChunksFillsTheWholeFormat) {
    bytes format = {0x69, 0x00, 0x02, 0x00, 0x44, 0xac, 0x00, 0x00, 0x10, 0x27, 0x00, 0x00, 0x48, 0x00, 0x04, 0x00};
    bytes file = build_riff({chunk("fmt ", format), chunk("data", bytes(144))});
    // The same from a file and from memory.
    file_handle handle = open_bytes(file);
    for (byte_source source : {source_of_file(handle), source_of_memory(file.data(), (int64_t)file.size())}) {
        wave_chunks chunks;
        ASSERT_TRUE(read_wave_chunks(&source, &chunks));
        EXPECT_EQ(chunks.data_bytes, 144);
        EXPECT_EQ(chunks.data_start, 44);
        const wave_format& read = chunks.format;
        EXPECT_EQ(read.format_tag, 0x69);
        EXPECT_EQ(read.channels, 2);
        EXPECT_EQ(read.sample_rate, 44100u);
        EXPECT_EQ(read.average_bytes_per_second, 10000u);
        EXPECT_EQ(read.block_align, 72);
        EXPECT_EQ(read.bits_per_sample, 4);
    }
    file_close(handle);
}

// The files extract writes around stored bytes of odd length: the RIFF size
// counts the whole file, the data chunk holds those bytes where the chunk
// search finds them, and a pad byte keeps the file even.
TEST_F(RiffWaveTest, WrittenHeadsStateTheirDataAndPadIt) {
    bytes data = random_bytes(301, 9);
    sound_extras extras;
    extras.frames = 500;
    extras.name = "n";
    bytes tail = wave_tail((uint32_t)data.size(), sound_extras(), 48000);
    std::vector<bytes> files = {make_wave(ms_adpcm_shape(22050, 2, 10), data.data(), data.size(), extras),
                                xma_wave_head({2, 48000, 1000, 0, 0}, (uint32_t)data.size()),
                                xwma_head({XWMA_WAVE_TAG, 2, 44100, 12000, 929}, {100, 200}, (uint32_t)data.size())};
    for (size_t i = 1; i < files.size(); ++i) {
        files[i].insert(files[i].end(), data.begin(), data.end());
        files[i].insert(files[i].end(), tail.begin(), tail.end());
    }
    for (const bytes& file : files) {
        SCOPED_TRACE(std::string(file.begin() + 8, file.begin() + 12));
        EXPECT_EQ(read_u32le(&file[4]), file.size() - 8);
        EXPECT_EQ(file.size() % 2, 0u);
        byte_source source = source_of_memory(file.data(), (int64_t)file.size());
        ASSERT_EQ(find_riff_chunk(&source, "data"), 301);
        int64_t at = source_tell(&source);
        EXPECT_TRUE(bytes(file.begin() + at, file.begin() + at + 301) == data);
    }
    EXPECT_EQ(read_u32le(&files[0][4 + 4 + 4 + 4]), MS_ADPCM_FORMAT_BYTES);
    EXPECT_EQ(read_u32le(&files[1][16]), XMA_FORMAT_BYTES);
}

}  // namespace
