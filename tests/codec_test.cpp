// The decoders: Xbox ADPCM's hand-computed golden blocks, header clamping,
// the interleaved layout for several channels and the counting of block sets;
// Microsoft ADPCM's golden blocks, channel layout, bad predictors, block
// counting and its blocks side by side against the plain decode; PCM's
// widening and whole frames; the codec table's rows.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "codec/codec_table.h"
#include "codec/ms_adpcm.h"
#include "codec/pcm.h"
#include "codec/xbox_adpcm.h"
#include "reference/scalar_decoder.h"
#include "tests/support/sample_files.h"

namespace {

const int16_t SENTINEL = 0x5A5A;

// One mono block: the header, then 64 codes given in decoding order (the
// rest 0), packed low nibble first.
bytes mono_block(int16_t predictor, uint8_t index_byte, const std::vector<uint8_t>& codes) {
    bytes block(ADPCM_BLOCK_BYTES, 0);
    block[0] = (uint8_t)((uint16_t)predictor & 0xFF);
    block[1] = (uint8_t)((uint16_t)predictor >> 8);
    block[2] = index_byte;
    block[3] = 0xA5;  // reserved, must not matter
    for (size_t n = 0; n < codes.size(); ++n)
        block[ADPCM_HEADER_BYTES + n / 2] |= (uint8_t)(n % 2 ? codes[n] << 4 : codes[n]);
    return block;
}

std::vector<int16_t> decode(const bytes& input, uint32_t channels, size_t output_samples, int32_t* result) {
    std::vector<int16_t> out(output_samples, SENTINEL);
    *result = decode_blocks(input.data(), (int32_t)input.size(), out.data(), channels);
    return out;
}

TEST(ImaTables, MatchThePublishedTables) {
    const int16_t head[] = {7, 8, 9, 10, 11, 12, 13, 14, 16, 17};
    const int16_t tail[] = {24623, 27086, 29794, 32767};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(IMA_STEP_TABLE[i], head[i]);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(IMA_STEP_TABLE[85 + i], tail[i]);
    for (int i = 1; i < 89; ++i) EXPECT_GT(IMA_STEP_TABLE[i], IMA_STEP_TABLE[i - 1]) << i;
    const int8_t index[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
    for (int c = 0; c < 16; ++c) EXPECT_EQ(IMA_INDEX_TABLE[c], index[c % 8]) << c;
}

struct golden_case {
    const char* name;
    int16_t predictor;
    uint8_t index_byte;
    std::vector<uint8_t> codes;
    std::vector<int16_t> samples;  // the first samples of the block
};

TEST(DecodeBlocks, GoldenMonoBlocks) {
    const golden_case cases[] = {
        {"all zero codes hold the predictor", 0x1234, 0, {}, std::vector<int16_t>(65, 4660)},
        {"index climbs 0, 8, 16", 0, 0, {7, 15, 0}, {0, 11, -19, -15}},
        {"top stays clamped at 32767", 32767, 88, {7}, {32767, 32767}},
        {"bottom clamps, then step 32767", -32768, 88, {15, 0}, {-32768, -32768, -28673}},
    };
    for (const golden_case& c : cases) {
        SCOPED_TRACE(c.name);
        int32_t result = 0;
        std::vector<int16_t> out = decode(mono_block(c.predictor, c.index_byte, c.codes), 1, 65, &result);
        EXPECT_EQ(result, 130);
        EXPECT_EQ(std::vector<int16_t>(out.begin(), out.begin() + c.samples.size()), c.samples);
    }
}

TEST(DecodeBlocks, CodeGroupBytesReadLowNibbleFirst) {
    bytes block = mono_block(0, 0, {});
    block[4] = 0x21, block[5] = 0x43, block[6] = 0x65, block[7] = 0x87;
    int32_t result = 0;
    std::vector<int16_t> out = decode(block, 1, 65, &result);
    EXPECT_EQ(std::vector<int16_t>(out.begin(), out.begin() + 9),
              (std::vector<int16_t>{0, 1, 4, 8, 15, 27, 47, 88, 82}));
}

// From predictor -32768, code 1 adds step/8 + step/4, which tells the
// starting step apart: step 7 gives -32767, step 32767 gives -20482.
TEST(DecodeBlocks, IndexByteIsSignedAndClamped) {
    const struct {
        uint8_t index_byte;
        int16_t second_sample;
    } cases[] = {
        {0, -32767},  {1, -32765},    {87, -21596},   {88, -20482},
        {89, -20482}, {0x7F, -20482}, {0x80, -32767}, {0xFF, -32767},
    };
    for (const auto& c : cases) {
        int32_t result = 0;
        std::vector<int16_t> out = decode(mono_block(-32768, c.index_byte, {1}), 1, 65, &result);
        EXPECT_EQ(out[1], c.second_sample) << "index byte " << (int)c.index_byte;
    }
}

TEST(DecodeBlocks, EveryIndexByteActsAsItsClampedIndex) {
    uint32_t seed = test_seed(2024);
    bytes block = random_bytes(ADPCM_BLOCK_BYTES, seed);
    block[0] = 0, block[1] = 0;
    for (int b = 0; b < 256; ++b) {
        int clamped = b >= 128 ? 0 : (b > 88 ? 88 : b);
        bytes actual = block, expected = block;
        actual[2] = (uint8_t)b;
        expected[2] = (uint8_t)clamped;
        int32_t r1 = 0, r2 = 0;
        EXPECT_EQ(decode(actual, 1, 65, &r1), decode(expected, 1, 65, &r2)) << "index byte " << b;
    }
}

TEST(DecodeBlocks, StereoInterleavesHeadersThenGroups) {
    bytes set(72, 0);
    set[0] = 100, set[1] = 0;                        // left predictor 100
    set[4] = (uint8_t)(-200 & 0xFF), set[5] = 0xFF;  // right predictor -200
    set[8] = 0x04;                                   // left first code 4: +7
    set[12] = 0x0C;                                  // right first code 12: -7
    int32_t result = 0;
    std::vector<int16_t> out = decode(set, 2, 130, &result);
    EXPECT_EQ(result, 260);
    EXPECT_EQ(std::vector<int16_t>(out.begin(), out.begin() + 4), (std::vector<int16_t>{100, -200, 107, -207}));

    // Byte 12 belongs to the right channel alone: changing it leaves every
    // left sample as it was.
    set[12] = 0x77;
    std::vector<int16_t> changed = decode(set, 2, 130, &result);
    for (size_t i = 0; i < 130; i += 2) EXPECT_EQ(changed[i], out[i]) << i;
    EXPECT_NE(changed[3], out[3]);
}

TEST(DecodeBlocks, ThreeChannelsMatchTheInterleavedOrder) {
    uint32_t seed = test_seed(7);
    for (uint32_t channels = 1; channels <= 5; ++channels) {
        bytes input = random_bytes(ADPCM_BLOCK_BYTES * channels * 3, seed + channels);
        int32_t result = 0;
        std::vector<int16_t> out = decode(input, channels, SAMPLES_PER_BLOCK * channels * 3, &result);
        std::vector<int16_t> expected(out.size(), SENTINEL);
        EXPECT_EQ(scalar_decode_blocks(input.data(), (int32_t)input.size(), expected.data(), channels), result);
        EXPECT_EQ(result, 3 * PCM_BLOCK_BYTES * (int32_t)channels);
        EXPECT_EQ(out, expected) << channels << " channels";
    }
}

TEST(DecodeBlocks, BlockSetsDecodeIndependently) {
    uint32_t seed = test_seed(99);
    bytes first = random_bytes(108, seed), second = random_bytes(108, seed + 1);
    bytes both = first;
    both.insert(both.end(), second.begin(), second.end());
    int32_t r_both = 0, r_first = 0, r_second = 0;
    std::vector<int16_t> whole = decode(both, 3, 390, &r_both);
    std::vector<int16_t> expected = decode(first, 3, 195, &r_first);
    std::vector<int16_t> tail = decode(second, 3, 195, &r_second);
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(r_both, 780);
    EXPECT_EQ(whole, expected);
}

// Only whole block sets count; nothing is written past them.
TEST(DecodeBlocks, CountsWholeBlockSetsOnly) {
    const struct {
        int32_t input_bytes;
        uint32_t channels;
        int32_t result;
    } cases[] = {
        {71, 2, 0},  {72, 2, 260},         {108, 2, 260}, {143, 2, 260}, {144, 2, 520}, {35, 1, 0},        {36, 1, 130},
        {107, 3, 0}, {108, 3, 390},        {0, 2, 0},     {-1, 2, 0},    {-36, 1, 0},   {INT32_MIN, 1, 0}, {144, 0, 0},
        {0, 0, 0},   {144, UINT32_MAX, 0},
    };
    bytes input = random_bytes(144, 5);
    for (const auto& c : cases) {
        std::vector<int16_t> out(300, SENTINEL);
        int32_t result = decode_blocks(input.data(), c.input_bytes, out.data(), c.channels);
        EXPECT_EQ(result, c.result) << c.input_bytes << " bytes, " << c.channels << " channels";
        for (size_t i = (size_t)result / 2; i < out.size(); ++i) ASSERT_EQ(out[i], SENTINEL) << "wrote sample " << i;
    }
}

// The decoder works on several channel blocks at once; whatever the mix of
// block sets and channels (and so of full and partial groups of blocks),
// its output must be the yardstick's, sample for sample, with nothing
// written past the last whole block set. Headers are drawn to reach the
// clamps: predictors near the limits and index bytes across the whole byte.
TEST(DecodeBlocks, MatchesTheScalarDecoderOnRandomInput) {
    uint32_t seed = test_seed(4242);
    std::mt19937 random(seed);
    for (uint32_t channels = 1; channels <= 8; ++channels) {
        for (uint32_t block_sets = 1; block_sets <= 9; ++block_sets) {
            int32_t input_bytes =
                (int32_t)(block_sets * channels) * ADPCM_BLOCK_BYTES + (int32_t)(random() % ADPCM_BLOCK_BYTES);
            bytes input = random_bytes((size_t)input_bytes, random());
            for (size_t header = 0; header < (size_t)block_sets * ADPCM_BLOCK_BYTES * channels;
                 header += ADPCM_BLOCK_BYTES * channels) {
                for (uint32_t j = 0; j < channels; ++j) {
                    uint8_t* h = &input[header + ADPCM_HEADER_BYTES * j];
                    if (random() % 2) h[1] = random() % 2 ? 0x7F : 0x80;  // a predictor near a limit
                    if (random() % 2) h[2] = (uint8_t)(random() % 100);   // a step index in or near range
                }
            }
            std::vector<int16_t> out((block_sets + 1) * SAMPLES_PER_BLOCK * channels, SENTINEL), expected = out;
            int32_t result = decode_blocks(input.data(), input_bytes, out.data(), channels);
            int32_t expected_result = scalar_decode_blocks(input.data(), input_bytes, expected.data(), channels);
            ASSERT_EQ(result, expected_result) << channels << " channels, seed " << seed;
            ASSERT_EQ(out, expected) << channels << " channels, " << block_sets << " block sets, seed " << seed;
        }
    }
}

// One Microsoft ADPCM block: the per-channel header fields, then the code
// bytes exactly as stored.
struct ms_header {
    uint8_t predictor;
    int16_t delta, sample1, sample2;
};

bytes ms_block(const std::vector<ms_header>& headers, const bytes& code_bytes) {
    bytes block;
    for (const ms_header& h : headers) block.push_back(h.predictor);
    for (const ms_header& h : headers) put_u16le(block, (uint16_t)h.delta);
    for (const ms_header& h : headers) put_u16le(block, (uint16_t)h.sample1);
    for (const ms_header& h : headers) put_u16le(block, (uint16_t)h.sample2);
    block.insert(block.end(), code_bytes.begin(), code_bytes.end());
    return block;
}

// Blocks of one size decoded into a buffer one sample longer than needed,
// whose last slot must stay untouched.
std::vector<int16_t> decode_ms(const bytes& input, uint32_t channels, int32_t block_bytes_per_channel) {
    size_t samples = (size_t)ms_adpcm_frames_in_block(block_bytes_per_channel) * channels;
    std::vector<int16_t> out(samples + 1, SENTINEL);
    int32_t result =
        decode_ms_adpcm(input.data(), (int32_t)input.size(), out.data(), channels, block_bytes_per_channel);
    EXPECT_EQ(result, (int32_t)samples * 2);
    EXPECT_EQ(out.back(), SENTINEL);
    out.pop_back();
    return out;
}

// Worked by hand from the format's rules. A predictor index above 6 names
// no standard pair and decodes as index 0, holding the last sample.
TEST(MsAdpcm, GoldenMonoBlocks) {
    const struct {
        const char* name;
        ms_header header;
        bytes codes;
        std::vector<int16_t> samples;
    } cases[] = {
        // Codes 1, 2 from delta 16 add 16, then 32: the delta floor holds it at
        // 16 (without it 14), and low nibble first would give 132 first. Then
        // 7 adds 112 and takes the delta to 38; 8 subtracts 8 x 38.
        {"sample2, sample1, then high nibbles first", {0, 16, 100, 50}, {0x12, 0x78}, {50, 100, 116, 148, 260, -44}},
        // Predictor 2 predicts 0, so each sample is its code times the delta,
        // which walks through the adaptations 307, 409, 512, 614, 512, 409,
        // 307, 230.
        {"adaptation of every code size",
         {2, 256, 7, -7},
         {0x45, 0x69, 0xAB, 0xC3},
         {-7, 7, 1024, 1535, 2940, -6860, -14100, -23500, -30032, 27009}},
        // (460 x -3 - 208 x 1) / 256 = -6.2 gives -6, a shift -7; then
        // (460 x -6 - 208 x -3) / 256 = -8.3 gives -8, a shift -9.
        {"negative predictions truncate toward zero", {5, 16, -3, 1}, {0x00}, {1, -3, -6, -8}},
        // 2 x 32767 - 32000 clamps to 32767; that clamped sample is what the
        // next prediction uses: 32767 - 8 x 920 (unclamped it would be 26941).
        {"top rail feeds the next prediction", {1, 1024, 32767, 32000}, {0x08}, {32000, 32767, 32767, 25407}},
        {"bottom rail feeds the next prediction", {1, 1024, -32768, -32000}, {0x07}, {-32000, -32768, -32768, -26328}},
        // The header delta is signed; the floor takes over after one code.
        {"negative header delta is used once", {0, -20, 0, 0}, {0x11}, {0, 0, -20, -4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bytes block = ms_block({c.header}, c.codes);
        EXPECT_EQ(decode_ms(block, 1, (int32_t)block.size()), c.samples);
    }
}

// From sample1 1000 and sample2 400, code 0 gives the prediction itself.
TEST(MsAdpcm, EachPredictorIndexGivesItsPrediction) {
    const struct {
        uint8_t predictor;
        int16_t prediction;
    } cases[] = {{0, 1000}, {1, 1600}, {2, 0},    {3, 850},     {4, 937},
                 {5, 1471}, {6, 1168}, {7, 1000}, {0x80, 1000}, {0xFF, 1000}};
    for (const auto& c : cases) {
        bytes block = ms_block({{c.predictor, 16, 1000, 400}}, {0x00});
        EXPECT_EQ(decode_ms(block, 1, 8)[2], c.prediction) << "predictor " << (int)c.predictor;
    }
}

// Headers go field by field across channels, and the code stream cycles
// through the channels frame by frame: in stereo each byte is one frame,
// high nibble the first channel; with three, frames straddle bytes.
TEST(MsAdpcm, CodesCycleThroughTheChannels) {
    const struct {
        const char* name;
        std::vector<ms_header> headers;
        bytes codes;
        std::vector<int16_t> samples;
    } cases[] = {
        {"stereo",
         {{0, 16, 10, 20}, {2, 100, -10, -20}},
         {0x1F, 0x23, 0x70, 0x00},
         {20, -20, 10, -10, 26, -100, 58, 267, 170, 0, 170, 0}},
        {"three channels",
         {{2, 16, 1, -1}, {2, 16, 2, -2}, {2, 16, 3, -3}},
         {0x12, 0x34, 0x56},
         {-1, -2, -3, 1, 2, 3, 16, 32, 48, 64, 80, 96}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        uint32_t channels = (uint32_t)c.headers.size();
        bytes block = ms_block(c.headers, c.codes);
        EXPECT_EQ(decode_ms(block, channels, (int32_t)(block.size() / channels)), c.samples);
    }
}

TEST(MsAdpcm, BlockFieldGivesBytesAndFrames) {
    const struct {
        uint32_t field, channels;
        int32_t bytes, frames;
    } cases[] = {
        {0, 1, 22, 32},      {0x24, 2, 116, 104}, {234, 2, 512, 500}, {255, 1, 277, 542},
        {255, 6, 1662, 542}, {256, 1, 0, 0},      {36, 0, 0, 104},    {255, UINT32_MAX, 0, 542},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ms_adpcm_block_bytes(c.field, c.channels), c.bytes) << c.field << ", " << c.channels << " ch";
        EXPECT_EQ(ms_adpcm_block_frames(c.field), c.frames) << c.field;
        if (c.field <= 255) {
            EXPECT_EQ(ms_adpcm_frames_in_block((int32_t)c.field + 22), c.frames) << c.field;
        }
    }
    EXPECT_EQ(ms_adpcm_frames_in_block(6), 0);
    EXPECT_EQ(ms_adpcm_frames_in_block(7), 2);
    EXPECT_EQ(ms_adpcm_frames_in_block(INT32_MAX), 0);
}

// Only whole blocks count; nothing is written past them. Random input puts
// every predictor index byte, bad ones included, in the headers.
TEST(MsAdpcm, CountsWholeBlocksOnly) {
    const struct {
        int32_t input_bytes;
        uint32_t channels;
        int32_t block_bytes_per_channel;
        int32_t result;
    } cases[] = {
        {8, 1, 9, 0},  {9, 1, 9, 12},     {17, 1, 9, 12},         {18, 1, 9, 24},        {17, 2, 9, 0},  {36, 2, 9, 48},
        {14, 1, 7, 8}, {231, 2, 58, 416}, {60, 1, 6, 0},          {60, 1, 0, 0},         {60, 1, -9, 0}, {0, 1, 9, 0},
        {-9, 1, 9, 0}, {60, 0, 9, 0},     {60, UINT32_MAX, 9, 0}, {60, 3, INT32_MAX, 0},
    };
    uint32_t seed = test_seed(31);
    bytes input = random_bytes(240, seed);
    for (const auto& c : cases) {
        std::vector<int16_t> out(240, SENTINEL);
        int32_t result =
            decode_ms_adpcm(input.data(), c.input_bytes, out.data(), c.channels, c.block_bytes_per_channel);
        EXPECT_EQ(result, c.result) << c.input_bytes << " bytes, " << c.channels << " ch, blocks of "
                                    << c.block_bytes_per_channel << ", seed " << seed;
        for (size_t i = (size_t)result / 2; i < out.size(); ++i) ASSERT_EQ(out[i], SENTINEL) << "wrote sample " << i;
    }
}

// The plain decode, one code at a time through ms_adpcm_decode_nibble,
// channel after channel; counts the blocks in which a delta hit its cap.
std::vector<int16_t> ms_by_nibble(const bytes& input, uint32_t channels, int32_t block_bytes_per_channel, size_t blocks,
                                  int* capped_blocks) {
    const size_t frames = (size_t)ms_adpcm_frames_in_block(block_bytes_per_channel);
    const size_t block_bytes = (size_t)block_bytes_per_channel * channels;
    std::vector<int16_t> out(blocks * frames * channels);
    for (size_t b = 0; b < blocks; ++b) {
        const uint8_t* block = &input[b * block_bytes];
        bool capped = false;
        for (uint32_t j = 0; j < channels; ++j) {
            ms_adpcm_channel_state state = ms_adpcm_header_state(block, channels, j);
            int16_t* frame = &out[b * frames * channels + j];
            frame[0] = (int16_t)state.sample2;
            frame[channels] = (int16_t)state.sample1;
            for (size_t f = 2, k = j; f < frames; ++f, k += channels) {
                uint8_t byte = block[MS_ADPCM_HEADER_BYTES_PER_CHANNEL * channels + k / 2];
                frame[f * channels] = ms_adpcm_decode_nibble(k % 2 ? byte : byte >> 4, &state);
                capped |= state.delta == MS_ADPCM_DELTA_MAX;
            }
        }
        *capped_blocks += capped;
    }
    return out;
}

// Several blocks decode side by side; for every channel count, block size
// and number of blocks (so full and partial groups of them), the samples
// must be those of the plain decode. Headers take any predictor byte and
// deltas at and past the usual ends; some blocks hold codes that grow the
// delta at each step (-8 and 7), so it reaches its cap.
TEST(MsAdpcm, MatchesTheNibbleByNibbleDecode) {
    uint32_t seed = test_seed(2718);
    std::mt19937 random(seed);
    const int16_t deltas[] = {-32768, -1, 0, 16, 32767};
    const uint8_t growing[] = {0x88, 0x87, 0x78, 0x77};
    int capped_blocks = 0;
    for (uint32_t channels = 1; channels <= 8; ++channels) {
        for (uint32_t field : {0u, 1u, 37u, 255u}) {
            const int32_t per_channel = (int32_t)field + 22;
            const size_t block_bytes = (size_t)per_channel * channels;
            for (size_t blocks = 1; blocks <= 9; ++blocks) {
                bytes input = random_bytes(blocks * block_bytes + random() % block_bytes, random());
                for (size_t b = 0; b < blocks; ++b) {
                    uint8_t* block = &input[b * block_bytes];
                    for (uint32_t j = 0; j < channels; ++j) {
                        if (random() % 2) {
                            int16_t delta = deltas[random() % 5];
                            block[channels + 2 * j] = (uint8_t)delta;
                            block[channels + 2 * j + 1] = (uint8_t)((uint16_t)delta >> 8);
                        }
                    }
                    if (random() % 3 == 0) {
                        for (size_t i = MS_ADPCM_HEADER_BYTES_PER_CHANNEL * channels; i < block_bytes; ++i)
                            block[i] = growing[random() % 4];
                    }
                }
                int capped = 0;
                std::vector<int16_t> expected = ms_by_nibble(input, channels, per_channel, blocks, &capped);
                capped_blocks += capped;
                // Every path this processor can take: channel by channel,
                // and in each width of vector lanes it has.
                for (int lanes = MS_ADPCM_LANES_NONE; lanes <= ms_adpcm_processor_lanes(); ++lanes) {
                    std::vector<int16_t> out(expected.size() + 1, SENTINEL);
                    int32_t result = decode_ms_adpcm_using((ms_adpcm_lanes)lanes, input.data(), (int32_t)input.size(),
                                                           out.data(), channels, per_channel);
                    ASSERT_EQ(result, (int32_t)expected.size() * 2);
                    ASSERT_EQ(out.back(), SENTINEL);
                    out.pop_back();
                    ASSERT_EQ(out, expected) << channels << " ch, field " << field << ", " << blocks
                                             << " blocks, lanes " << lanes << ", seed " << seed;
                }
            }
        }
    }
    EXPECT_GT(capped_blocks, 0) << "no delta reached its cap, seed " << seed;
}

// PCM decodes whole frames only: 8-bit unsigned samples widened as
// (s - 128) x 256, 16-bit little-endian ones as they are; the bytes of a
// partial frame are left, and no channels decode nothing.
TEST(PcmDecoder, WholeFramesAreWidenedTo16Bits) {
    const struct {
        const char* name;
        entry_codec codec;
        bytes input;
        uint32_t channels;
        std::vector<int16_t> samples;
    } cases[] = {
        {"8-bit limits", CODEC_PCM8, {0, 128, 255, 1}, 1, {-32768, 0, 32512, -32512}},
        {"8-bit stereo, half a frame left", CODEC_PCM8, {0x80, 0x00, 0xff}, 2, {0, -32768}},
        {"16-bit little-endian", CODEC_PCM16, {0x34, 0x12, 0x00, 0x80, 0xff, 0x7f}, 1, {0x1234, -32768, 32767}},
        {"16-bit stereo, a byte and a sample left", CODEC_PCM16, {1, 0, 2, 0, 3, 0, 4}, 2, {1, 2}},
        {"16-bit, less than a frame", CODEC_PCM16, {1, 0, 2}, 2, {}},
        {"no channels", CODEC_PCM8, {1, 2, 3}, 0, {}},
        {"16-bit big-endian", CODEC_PCM16_BE, {0x12, 0x34, 0x80, 0x00, 0x7f}, 1, {0x1234, -32768}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const codec_row* row = codec_row_of(c.codec);
        ASSERT_NE(row, nullptr);
        std::vector<int16_t> out(c.samples.size() + 1, SENTINEL);
        int32_t written =
            row->decode(c.input.data(), (int32_t)c.input.size(), out.data(), c.channels, row->unit_bytes_per_channel);
        EXPECT_EQ(written, (int32_t)c.samples.size() * 2);
        EXPECT_EQ(std::vector<int16_t>(out.begin(), out.end() - 1), c.samples);
        EXPECT_EQ(out.back(), SENTINEL);
    }
}

// One row per codec the engine decodes, none for the others; every pass of
// a row fits the engine's buffers.
TEST(CodecTable, RowsGiveUnitsAndFrames) {
    const struct {
        entry_codec codec;
        uint32_t block_field;
        int32_t unit_bytes_per_channel;
        int32_t frames_per_unit;
        int32_t frames_per_pass;
    } rows[] = {{CODEC_XBOX_ADPCM, 0, 36, 65, 65},    {CODEC_PCM8, 0, 1, 1, 65},
                {CODEC_PCM16, 7, 2, 1, 65},           {CODEC_PCM16_BE, 0, 2, 1, 65},
                {CODEC_MS_ADPCM, 0, 22, 32, 64},      {CODEC_MS_ADPCM, 1, 23, 34, 34},
                {CODEC_MS_ADPCM, 234, 256, 500, 500}, {CODEC_MS_ADPCM, 255, 277, 542, 542}};
    for (const auto& r : rows) {
        const codec_row* row = codec_row_of(r.codec, r.block_field);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->unit_bytes_per_channel, r.unit_bytes_per_channel);
        EXPECT_EQ(row->frames_per_unit, r.frames_per_unit);
        EXPECT_EQ(frames_per_pass(*row), r.frames_per_pass);
        EXPECT_LE(frames_per_pass(*row), LARGEST_PASS_FRAMES);
        EXPECT_EQ(whole_units(*row, unit_bytes(*row, 3) * 5 + 1, 3), 5);
    }
    EXPECT_EQ(codec_row_of(CODEC_MS_ADPCM, 256), nullptr);
    for (entry_codec other :
         {CODEC_WMA, CODEC_XWMA, CODEC_WMA_PRO, CODEC_XMA, CODEC_UNKNOWN, CODEC_EMPTY, CODEC_EXTERNAL})
        EXPECT_EQ(codec_row_of(other), nullptr);
}

}  // namespace
