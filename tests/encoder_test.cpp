// The tools' encoders and WAVE files: encode-decode round trips within a
// margin, the block layout the encoders promise, the ADPCM WAVE header, and
// the 16-bit PCM writer and reader.
#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "codec/little_endian.h"
#include "codec/ms_adpcm.h"
#include "codec/ms_adpcm_encoder.h"
#include "codec/xbox_adpcm.h"
#include "tests/support/sample_files.h"
#include "containers/riff_wave_writer.h"
#include "codec/xbox_adpcm_encoder.h"

namespace {

const double TWO_PI = 6.283185307179586;

// Channel j of each frame is a sine at hertz * (j + 1), so channels differ.
std::vector<int16_t> sine(size_t frames, uint32_t channels, double hertz, double amplitude) {
    std::vector<int16_t> pcm(frames * channels);
    for (size_t f = 0; f < frames; ++f)
        for (uint32_t j = 0; j < channels; ++j)
            pcm[f * channels + j] =
                (int16_t)lround(amplitude * sin(TWO_PI * hertz * (j + 1) * (double)f / 44100.0 + j));
    return pcm;
}

std::vector<int16_t> decode_all(const bytes& adpcm, uint32_t channels) {
    std::vector<int16_t> out(adpcm.size() / 36 * 65, 0);
    int32_t produced = decode_blocks(adpcm.data(), (int32_t)adpcm.size(), out.data(), channels);
    EXPECT_EQ((size_t)produced, out.size() * 2);
    return out;
}

double snr_db(const std::vector<int16_t>& pcm, const std::vector<int16_t>& decoded, uint32_t channels, uint32_t j) {
    double signal = 0, noise = 0;
    for (size_t i = j; i < pcm.size(); i += channels) {
        double error = (double)decoded[i] - pcm[i];
        signal += (double)pcm[i] * pcm[i];
        noise += error * error;
    }
    return noise == 0 ? INFINITY : 10 * log10(signal / noise);
}

// The header predictor of every block is the block's first frame exactly.
void expect_exact_block_starts(const std::vector<int16_t>& pcm, const std::vector<int16_t>& decoded,
                               uint32_t channels) {
    for (size_t i = 0; i < pcm.size(); i += 65 * channels)
        for (uint32_t j = 0; j < channels; ++j) ASSERT_EQ(decoded[i + j], pcm[i + j]) << "sample " << i + j;
}

// IMA ADPCM's step follows the change from one sample to the next, and its
// error is a fraction of the step, so the SNR falls about 6 dB for each
// doubling of the frequency and hardly depends on the amplitude. The bounds
// sit 5 to 7 dB under what this encoder reaches, well above what a wrong
// code order, sign or nibble would give (near 0 dB or below).
TEST(EncoderRoundTrip, SinesStayWithinTheirMargin) {
    const struct {
        double hertz;
        double amplitude;
        uint32_t channels;
        double min_snr_db;
    } cases[] = {
        {55, 8000, 1, 55},   {440, 100, 1, 32},    {440, 8000, 1, 38},  {440, 32767, 1, 36}, {1000, 1000, 1, 31},
        {3000, 8000, 1, 22}, {8000, 20000, 1, 14}, {440, 12000, 2, 30}, {220, 6000, 3, 30},  {1000, 32000, 3, 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.hertz << " Hz, amplitude " << c.amplitude << ", " << c.channels << " ch");
        const size_t frames = 44100 / 4;
        std::vector<int16_t> pcm = sine(frames, c.channels, c.hertz, c.amplitude);
        std::vector<int16_t> decoded = decode_all(encode_xbox_adpcm(pcm.data(), frames, c.channels), c.channels);
        ASSERT_GE(decoded.size(), pcm.size());
        for (uint32_t j = 0; j < c.channels; ++j) EXPECT_GT(snr_db(pcm, decoded, c.channels, j), c.min_snr_db) << j;
        expect_exact_block_starts(pcm, decoded, c.channels);
    }
}

// From step index 0 a constant signal codes as 0 with a zero difference, so
// silence and any flat level come back exactly, padding included.
TEST(EncoderRoundTrip, FlatSignalsAreExact) {
    for (int16_t level : {(int16_t)0, (int16_t)1234, (int16_t)-32768, (int16_t)32767}) {
        std::vector<int16_t> pcm(3 * 100, level);
        std::vector<int16_t> decoded = decode_all(encode_xbox_adpcm(pcm.data(), 100, 3), 3);
        EXPECT_EQ(decoded, std::vector<int16_t>(3 * 130, level)) << level;
    }
}

// A full-scale square jumps 65535 at each edge; the step can at most double
// or so per code, so the decoder needs about a dozen samples to get there.
// After that it must sit near the rail on the right side, which fails if a
// sum wraps instead of clamping.
TEST(EncoderRoundTrip, FullScaleSquareSettlesOnTheRails) {
    const size_t frames = 2000, half_period = 100;
    std::vector<int16_t> pcm(frames);
    for (size_t f = 0; f < frames; ++f) pcm[f] = (f / half_period) % 2 ? 32767 : -32768;
    std::vector<int16_t> decoded = decode_all(encode_xbox_adpcm(pcm.data(), frames, 1), 1);
    for (size_t f = 0; f < frames; ++f) {
        if (f % half_period < 16 && f >= half_period) continue;
        ASSERT_LE(abs(decoded[f] - pcm[f]), 4096) << "frame " << f;
    }
    expect_exact_block_starts(pcm, decoded, 1);
}

TEST(Encoder, BlockSetCountAndPadding) {
    const struct {
        size_t frames;
        uint32_t channels;
        size_t block_sets;
    } cases[] = {
        {0, 2, 0}, {5, 0, 0}, {1, 1, 1}, {65, 1, 1}, {66, 1, 2}, {130, 2, 2}, {131, 3, 3},
    };
    for (const auto& c : cases) {
        std::vector<int16_t> pcm = sine(c.frames, c.channels, 700, 9000);
        bytes adpcm = encode_xbox_adpcm(pcm.data(), c.frames, c.channels);
        EXPECT_EQ(adpcm.size(), c.block_sets * 36 * c.channels) << c.frames << " frames, " << c.channels << " ch";
        if (c.frames == 0 || c.channels == 0) continue;

        // Padding repeats the last frame: the same as encoding it explicitly.
        std::vector<int16_t> padded = pcm;
        for (size_t f = c.frames; f < c.block_sets * 65; ++f)
            padded.insert(padded.end(), pcm.end() - c.channels, pcm.end());
        EXPECT_EQ(adpcm, encode_xbox_adpcm(padded.data(), c.block_sets * 65, c.channels));
    }
}

// Each header's index is where the channel's previous block left off, so the
// step carries across block boundaries; the first block starts at index 0.
TEST(Encoder, HeaderIndexCarriesOverAndReservedIsZero) {
    const uint32_t channels = 2;
    std::vector<int16_t> pcm = sine(65 * 4, channels, 2500, 20000);
    bytes adpcm = encode_xbox_adpcm(pcm.data(), 65 * 4, channels);
    std::vector<int> end_index(channels, 0);
    for (size_t set = 0; set < 4; ++set) {
        const uint8_t* p = &adpcm[set * 36 * channels];
        for (uint32_t j = 0; j < channels; ++j) {
            EXPECT_EQ(p[4 * j + 2], end_index[j]) << "set " << set << " channel " << j;
            EXPECT_EQ(p[4 * j + 3], 0);
            adpcm_channel_state state = {(int8_t)p[4 * j + 2], IMA_STEP_TABLE[p[4 * j + 2]], read_s16le(p + 4 * j)};
            for (size_t g = 0; g < 8; ++g) {
                uint32_t codes = read_u32le(p + 4 * channels * (g + 1) + 4 * j);
                for (int k = 0; k < 8; ++k, codes >>= 4) decode_nibble((uint8_t)(codes & 15), &state);
            }
            end_index[j] = state.step_index;
        }
    }
    EXPECT_GT(end_index[0], 0);
}

// Microsoft ADPCM at a block field: every whole block decoded.
std::vector<int16_t> decode_ms_all(const bytes& adpcm, uint32_t channels, uint32_t field) {
    const int32_t block_bytes = ms_adpcm_block_bytes(field, channels);
    std::vector<int16_t> out(adpcm.size() / (size_t)block_bytes * (size_t)ms_adpcm_block_frames(field) * channels);
    int32_t produced = decode_ms_adpcm(adpcm.data(), (int32_t)adpcm.size(), out.data(), channels, (int32_t)field + 22);
    EXPECT_EQ((size_t)produced, out.size() * 2);
    return out;
}

// Sines, or a chord of three with white noise, channel j shifted in phase
// (and for the sine in pitch) so the channels differ.
std::vector<int16_t> music(size_t frames, uint32_t channels, double hertz, double amplitude, double noise,
                           uint32_t seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> hiss(0, noise);
    std::vector<int16_t> pcm(frames * channels);
    for (size_t f = 0; f < frames; ++f) {
        for (uint32_t j = 0; j < channels; ++j) {
            double t = (double)f / 44100.0, v = amplitude * sin(TWO_PI * hertz * (j + 1) * t + j);
            if (noise > 0) v = v * 0.5 + amplitude * 0.3 * sin(TWO_PI * hertz * 3 * t) + hiss(random);
            pcm[f * channels + j] = (int16_t)lround(std::max(-32768.0, std::min(32767.0, v)));
        }
    }
    return pcm;
}

// Field 0x24 makes 104-frame blocks, 234 the 512-byte stereo block (256
// bytes mono). The bounds sit 5 to 7 dB under what the encoder reaches; a
// wrong nibble order, sign or header field would bring them near 0 dB.
TEST(MsAdpcmRoundTrip, MusicStaysWithinItsMargin) {
    const struct {
        double hertz, amplitude, noise;
        uint32_t channels, field;
        double min_snr_db;
    } cases[] = {
        {440, 8000, 0, 1, 0x24, 55},   {440, 8000, 0, 2, 234, 50},    {100, 30000, 0, 1, 255, 65},
        {2000, 12000, 0, 2, 0x24, 35}, {3000, 12000, 0, 1, 0x24, 30}, {220, 12000, 300, 1, 0x24, 31},
        {220, 12000, 300, 2, 234, 30},
    };
    uint32_t seed = test_seed(1234);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.hertz << " Hz, noise " << c.noise << ", " << c.channels << " ch, field "
                                        << c.field << ", seed " << seed);
        const size_t frames = 44100 / 4;
        std::vector<int16_t> pcm = music(frames, c.channels, c.hertz, c.amplitude, c.noise, seed);
        std::vector<int16_t> decoded =
            decode_ms_all(encode_ms_adpcm(pcm.data(), frames, c.channels, c.field), c.channels, c.field);
        ASSERT_GE(decoded.size(), pcm.size());
        for (uint32_t j = 0; j < c.channels; ++j) EXPECT_GT(snr_db(pcm, decoded, c.channels, j), c.min_snr_db) << j;
        // The header's two samples are each block's first two frames exactly.
        const size_t block_samples = (size_t)ms_adpcm_block_frames(c.field) * c.channels;
        for (size_t i = 0; i < pcm.size(); i += block_samples)
            for (size_t k = i; k < std::min(i + 2 * c.channels, pcm.size()); ++k) ASSERT_EQ(decoded[k], pcm[k]) << k;
    }
}

// A flat level is exact with code 0 from any delta; a ramp only with the
// predictor 2 x sample1 - sample2, so it comes back exact only if each block
// keeps its least-error predictor.
TEST(MsAdpcmRoundTrip, FlatAndRampSignalsAreExact) {
    const size_t frames = 3 * 104;
    for (int16_t slope : {0, 100, -90}) {
        for (int16_t level : {(int16_t)0, (int16_t)-32768, (int16_t)32767, (int16_t)1234}) {
            if (slope != 0 && level != 1234) continue;
            std::vector<int16_t> pcm(frames * 2);
            for (size_t f = 0; f < frames; ++f) {
                pcm[2 * f] = (int16_t)(level + slope * (int)f);
                pcm[2 * f + 1] = (int16_t)(level - slope * (int)f);
            }
            EXPECT_EQ(decode_ms_all(encode_ms_adpcm(pcm.data(), frames, 2, 0x24), 2, 0x24), pcm)
                << "level " << level << ", slope " << slope;
        }
    }
}

TEST(MsAdpcmEncoder, BlockCountAndPadding) {
    const struct {
        size_t frames;
        uint32_t channels, field;
        size_t blocks;
    } cases[] = {
        {0, 2, 0x24, 0},   {5, 0, 0x24, 0},  {5, 1, 256, 0},   {1, 1, 0x24, 1},  {104, 1, 0x24, 1},
        {105, 1, 0x24, 2}, {500, 2, 234, 1}, {501, 2, 234, 2}, {1001, 3, 0, 32},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.frames << " frames, " << c.channels << " ch, field " << c.field);
        std::vector<int16_t> pcm = sine(c.frames, c.channels, 700, 9000);
        bytes adpcm = encode_ms_adpcm(pcm.data(), c.frames, c.channels, c.field);
        EXPECT_EQ(adpcm.size(), c.blocks * (c.field + 22) * c.channels);
        if (c.blocks == 0) continue;

        // Padding repeats the last frame: the same as encoding it explicitly.
        const size_t padded_frames = c.blocks * (size_t)ms_adpcm_block_frames(c.field);
        std::vector<int16_t> padded = pcm;
        for (size_t f = c.frames; f < padded_frames; ++f)
            padded.insert(padded.end(), pcm.end() - c.channels, pcm.end());
        EXPECT_EQ(adpcm, encode_ms_adpcm(padded.data(), padded_frames, c.channels, c.field));
    }
}

TEST(AdpcmWave, HeaderFields) {
    const struct {
        uint32_t channels;
        uint32_t sample_rate;
        uint32_t bytes_per_second;
    } cases[] = {
        {1, 44100, 24424},
        {2, 22050, 24424},
        {2, 44100, 48849},
        {6, 48000, 159507},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " ch, " << c.sample_rate << " Hz");
        bytes adpcm = random_bytes(3 * 36 * c.channels, c.channels);
        bytes file = make_adpcm_wave(adpcm, c.channels, c.sample_rate);
        ASSERT_EQ(file.size(), 48 + adpcm.size());
        const uint8_t* p = file.data();
        EXPECT_EQ(std::string((const char*)p, 4), "RIFF");
        EXPECT_EQ(read_u32le(p + 4), file.size() - 8);
        EXPECT_EQ(std::string((const char*)p + 8, 8), "WAVEfmt ");
        EXPECT_EQ(read_u32le(p + 16), 20u);
        EXPECT_EQ(read_u16le(p + 20), 0x0069);
        EXPECT_EQ(read_u16le(p + 22), c.channels);
        EXPECT_EQ(read_u32le(p + 24), c.sample_rate);
        EXPECT_EQ(read_u32le(p + 28), c.bytes_per_second);
        EXPECT_EQ(read_u16le(p + 32), 36 * c.channels);
        EXPECT_EQ(read_u16le(p + 34), 4);
        EXPECT_EQ(read_u16le(p + 36), 2);
        EXPECT_EQ(read_u16le(p + 38), 65);
        EXPECT_EQ(std::string((const char*)p + 40, 4), "data");
        EXPECT_EQ(read_u32le(p + 44), adpcm.size());
        EXPECT_EQ(bytes(file.begin() + 48, file.end()), adpcm);
    }
    // An odd data chunk gets its RIFF pad byte, counted in the RIFF size only.
    bytes odd = make_adpcm_wave(bytes(37, 1), 1, 8000);
    EXPECT_EQ(odd.size(), 48u + 38u);
    EXPECT_EQ(read_u32le(odd.data() + 4), odd.size() - 8);
    EXPECT_EQ(read_u32le(odd.data() + 44), 37u);
}

class PcmWave : public testing::Test {
protected:
    void SetUp() override {
        dir = make_scratch_dir();
    }
    void TearDown() override {
        remove_scratch_dir(dir);
    }
    std::string dir;
};

TEST_F(PcmWave, StreamedWriterMatchesInMemoryFileAndReadsBack) {
    const uint32_t channels = 3;
    const size_t frames = 1000;
    std::vector<int16_t> pcm = sine(frames, channels, 330, 30000);
    std::string path = dir + "streamed.wav";

    pcm_wave_writer writer;
    ASSERT_TRUE(pcm_wave_open(&writer, path.c_str(), 32000, channels));
    for (size_t f = 0; f < frames; f += 300) {
        size_t n = std::min<size_t>(300, frames - f);
        ASSERT_TRUE(pcm_wave_write(&writer, &pcm[f * channels], (uint32_t)(n * channels * 2)));
    }
    ASSERT_TRUE(pcm_wave_close(&writer));

    bytes written;
    ASSERT_TRUE(read_whole_file(path.c_str(), &written));
    EXPECT_EQ(written, make_pcm_wave(pcm.data(), frames, channels, 32000));

    uint32_t rate = 0, read_channels = 0;
    std::vector<int16_t> read_pcm;
    const char* error = nullptr;
    ASSERT_TRUE(read_pcm_wave(path.c_str(), &rate, &read_channels, &read_pcm, &error)) << error;
    EXPECT_EQ(rate, 32000u);
    EXPECT_EQ(read_channels, channels);
    EXPECT_EQ(read_pcm, pcm);
}

// Odd data gets the RIFF pad byte; a write that would take the sizes past
// 32 bits is refused whole and leaves a consistent header. The writer is
// started near the limit, as writing 4 GiB in a test is not practical.
TEST_F(PcmWave, WriterPadsOddDataAndRefusesPastFourGiB) {
    std::string path = dir + "odd.wav";
    pcm_wave_writer writer;
    ASSERT_TRUE(pcm_wave_open(&writer, path.c_str(), 8000, 1));
    ASSERT_TRUE(pcm_wave_write(&writer, "abc", 3));
    ASSERT_TRUE(pcm_wave_close(&writer));
    bytes file;
    ASSERT_TRUE(read_whole_file(path.c_str(), &file));
    ASSERT_EQ(file.size(), 48u);
    EXPECT_EQ(read_u32le(&file[4]), 40u);
    EXPECT_EQ(read_u32le(&file[40]), 3u);

    ASSERT_TRUE(pcm_wave_open(&writer, path.c_str(), 8000, 1));
    writer.data_bytes = 0xFFFFFFFFu - 40;
    EXPECT_FALSE(pcm_wave_write(&writer, "abcdefgh", 8));
    EXPECT_TRUE(pcm_wave_write(&writer, "ab", 2));
    ASSERT_TRUE(pcm_wave_close(&writer));
    ASSERT_TRUE(read_whole_file(path.c_str(), &file));
    EXPECT_EQ(read_u32le(&file[40]), 0xFFFFFFFFu - 38);
    EXPECT_EQ(read_u32le(&file[4]), 0xFFFFFFFFu - 1);  // 36 + odd data + pad
}

bytes pcm_fmt(uint16_t tag, uint16_t channels, uint16_t bits, size_t extra = 0) {
    bytes out;
    put_u16le(out, tag);
    put_u16le(out, channels);
    put_u32le(out, 44100);
    put_u32le(out, 44100u * channels * bits / 8);
    put_u16le(out, (uint16_t)(channels * bits / 8));
    put_u16le(out, bits);
    if (extra) put_u16le(out, (uint16_t)extra);
    return out;
}

bytes extensible_fmt(uint8_t subformat_first_byte) {
    bytes out = pcm_fmt(0xFFFE, 2, 16, 22);
    put_u16le(out, 16);
    put_u32le(out, 3);
    const uint8_t guid[16] = {subformat_first_byte, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    out.insert(out.end(), guid, guid + 16);
    return out;
}

TEST_F(PcmWave, ReaderAcceptsOrRefusesWithAReason) {
    const bytes four_frames(16, 0x11);
    riff_chunk huge_junk{"JUNK", bytes(4, 0), true, 0xFFFFFFF0u};
    riff_chunk odd_junk{"LIST", bytes(3, 7), false, 0, true};
    const struct {
        const char* name;
        bytes file;
        const char* error;  // null: accepted
    } cases[] = {
        {"stereo", build_riff({{"fmt ", pcm_fmt(1, 2, 16)}, {"data", four_frames}}), nullptr},
        {"odd chunk padded", build_riff({odd_junk, {"fmt ", pcm_fmt(1, 2, 16)}, {"data", four_frames}}), nullptr},
        {"data before fmt", build_riff({{"data", four_frames}, {"fmt ", pcm_fmt(1, 2, 16)}}), nullptr},
        {"extensible PCM", build_riff({{"fmt ", extensible_fmt(1)}, {"data", four_frames}}), nullptr},
        {"extensible float", build_riff({{"fmt ", extensible_fmt(3)}, {"data", four_frames}}), "not 16-bit PCM"},
        {"8-bit", build_riff({{"fmt ", pcm_fmt(1, 2, 8)}, {"data", four_frames}}), "not 16-bit PCM"},
        {"Xbox ADPCM", make_adpcm_wave(bytes(72, 0), 2, 44100), "not 16-bit PCM"},
        {"0 channels", build_riff({{"fmt ", pcm_fmt(1, 0, 16)}, {"data", four_frames}}), "0 channels"},
        {"9 channels", build_riff({{"fmt ", pcm_fmt(1, 9, 16)}, {"data", four_frames}}), "more than 8 channels"},
        {"not RIFF", build_riff({{"fmt ", pcm_fmt(1, 2, 16)}}, "RIFX"), "not a RIFF WAVE file"},
        {"not WAVE", build_riff({{"fmt ", pcm_fmt(1, 2, 16)}}, "RIFF", "AVI "), "not a RIFF WAVE file"},
        {"empty file", bytes(), "not a RIFF WAVE file"},
        {"no data", build_riff({{"fmt ", pcm_fmt(1, 2, 16)}}), "no data chunk"},
        {"short fmt", build_riff({{"fmt ", bytes(14, 1)}, {"data", four_frames}}), "format chunk too short"},
        {"huge chunk hides the rest", build_riff({huge_junk, {"fmt ", pcm_fmt(1, 2, 16)}}), "no format chunk"},
    };
    for (const auto& c : cases) {
        std::string path = write_file_in(dir, "case.wav", c.file);
        uint32_t rate = 0, channels = 0;
        std::vector<int16_t> pcm;
        const char* error = nullptr;
        bool ok = read_pcm_wave(path.c_str(), &rate, &channels, &pcm, &error);
        if (!c.error) {
            EXPECT_TRUE(ok) << c.name << ": " << error;
            EXPECT_EQ(pcm, std::vector<int16_t>(8, 0x1111)) << c.name;
        } else {
            EXPECT_FALSE(ok) << c.name;
            EXPECT_STREQ(error, c.error) << c.name;
        }
    }
    const char* error = nullptr;
    uint32_t rate = 0, channels = 0;
    std::vector<int16_t> pcm;
    EXPECT_FALSE(read_pcm_wave((dir + "missing.wav").c_str(), &rate, &channels, &pcm, &error));
    EXPECT_STREQ(error, "cannot read the file");
}

// A file cut anywhere refuses while the header is incomplete and afterwards
// yields exactly the whole frames that remain.
TEST_F(PcmWave, EveryTruncatedPrefixHasADefinedOutcome) {
    std::vector<int16_t> original = sine(20, 2, 1000, 5000);
    bytes file = make_pcm_wave(original.data(), 20, 2, 44100);
    for (size_t length = 0; length <= file.size(); ++length) {
        std::string path = write_file_in(dir, "cut.wav", bytes(file.begin(), file.begin() + length));
        uint32_t rate = 0, channels = 0;
        std::vector<int16_t> pcm;
        const char* error = nullptr;
        bool ok = read_pcm_wave(path.c_str(), &rate, &channels, &pcm, &error);
        ASSERT_EQ(ok, length >= 44) << length;
        if (ok) {
            size_t frames = (length - 44) / 4;
            EXPECT_EQ(pcm, std::vector<int16_t>(original.begin(), original.begin() + frames * 2)) << length;
        } else {
            EXPECT_NE(error, nullptr);
        }
    }
}

}  // namespace
