// Xbox IMA ADPCM decoding: the IMA tables, the per-code sample step and the
// block-set decoder that turns channels x 36 bytes into 65 interleaved frames.
#include "codec/xbox_adpcm.h"

#include <stddef.h>

#include "codec/little_endian.h"

constexpr int16_t IMA_STEP_TABLE[89] = {
    7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767,
};

constexpr int8_t IMA_INDEX_TABLE[16] = {
    -1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8,
};

static int32_t clamp_step_index(int32_t index) {
    if (index < 0) return 0;
    if (index > 88) return 88;
    return index;
}

int16_t decode_nibble(uint8_t code, adpcm_channel_state* state) {
    int32_t step = state->step;
    int32_t diff = step >> 3;
    if (code & 4) diff += step;
    if (code & 2) diff += step >> 1;
    if (code & 1) diff += step >> 2;
    if (code & 8) diff = -diff;

    int32_t sample = (int32_t)state->predictor + diff;
    if (sample < -32768) sample = -32768;
    if (sample > 32767) sample = 32767;

    int32_t index = clamp_step_index(state->step_index + IMA_INDEX_TABLE[code & 15]);
    state->step_index = (int8_t)index;
    state->step = IMA_STEP_TABLE[index];
    state->predictor = (int16_t)sample;
    return (int16_t)sample;
}

// decode_nibble folded into one table word per (step index, code): the
// signed difference the code adds, times 4096, plus the next step index
// times 16. The next code's word then sits at (that low part + code), so one
// load per sample carries both results and the loop has no branches.
namespace {

const int32_t NEXT_INDEX_MASK = 0xFFF;
const int32_t DIFF_SHIFT = 12;

struct code_table {
    int32_t word[89 * 16];
};

constexpr code_table build_code_table() {
    code_table table = {};
    for (int32_t index = 0; index < 89; ++index) {
        for (int32_t code = 0; code < 16; ++code) {
            int32_t step = IMA_STEP_TABLE[index];
            int32_t diff = step >> 3;
            if (code & 4) diff += step;
            if (code & 2) diff += step >> 1;
            if (code & 1) diff += step >> 2;
            if (code & 8) diff = -diff;
            int32_t next = index + IMA_INDEX_TABLE[code];
            next = next < 0 ? 0 : (next > 88 ? 88 : next);
            table.word[index * 16 + code] = diff * (1 << DIFF_SHIFT) + next * 16;
        }
    }
    return table;
}

constexpr code_table CODE_TABLE = build_code_table();
// The difference is taken back out with an arithmetic right shift.
static_assert((-3 * (1 << DIFF_SHIFT) + 88 * 16) >> DIFF_SHIFT == -3, "signed right shift must be arithmetic");

// Decodes LANES channel blocks side by side. A lane is one channel of one
// block set; lanes share nothing, so their dependency chains (step index to
// table word to step index) overlap instead of running one after another.
// Every lane's block starts at its 4-byte header in `header[lane]`, its code
// group g lies group_stride x (g + 1) bytes further on, and its samples go to
// `out[lane]` every `channels` samples.
template <int LANES>
void decode_lanes(const uint8_t* const* header, int16_t* const* out, size_t group_stride, size_t channels) {
    int32_t predictor[LANES];
    int32_t word_base[LANES];  // the current step index times 16
    for (int l = 0; l < LANES; ++l) {
        predictor[l] = read_s16le(header[l]);
        // The index byte is signed: 0x80..0xFF clamp to 0, not to 88.
        word_base[l] = clamp_step_index((int8_t)header[l][2]) * 16;
        out[l][0] = (int16_t)predictor[l];
    }
    size_t frame_offset = channels;
    for (int32_t g = 0; g < CODE_GROUPS; ++g) {
        uint32_t codes[LANES];
        for (int l = 0; l < LANES; ++l) codes[l] = read_u32le(header[l] + group_stride * (size_t)(g + 1));
        for (int32_t k = 0; k < CODES_PER_GROUP; ++k, frame_offset += channels) {
            // Unrolled, so each lane's state stays in registers.
#pragma GCC unroll 4
            for (int l = 0; l < LANES; ++l) {
                int32_t word = CODE_TABLE.word[word_base[l] + (int32_t)(codes[l] & 15)];
                codes[l] >>= 4;
                int32_t sample = predictor[l] + (word >> DIFF_SHIFT);
                sample = sample < -32768 ? -32768 : sample;
                sample = sample > 32767 ? 32767 : sample;
                predictor[l] = sample;
                word_base[l] = word & NEXT_INDEX_MASK;
                out[l][frame_offset] = (int16_t)sample;
            }
        }
    }
}

const int MAX_LANES = 4;

}  // namespace

int32_t decode_blocks(const uint8_t* input, int32_t input_bytes, int16_t* output, uint32_t channels) {
    if (channels == 0 || input_bytes <= 0) return 0;

    uint32_t block_sets = ((uint32_t)input_bytes / (uint32_t)ADPCM_BLOCK_BYTES) / channels;
    // 130 bytes of output for every 36 of input can exceed the int32 result
    // once the input passes about 594 MB, so decode no more block sets than
    // the result can count. Every offset below stays under input_bytes or
    // under the result, so both fit a 32-bit size_t.
    uint64_t max_block_sets = (uint64_t)INT32_MAX / ((uint64_t)PCM_BLOCK_BYTES * channels);
    if (block_sets > max_block_sets) block_sets = (uint32_t)max_block_sets;
    if (block_sets == 0) return 0;

    const size_t set_bytes = (size_t)ADPCM_BLOCK_BYTES * channels;
    const size_t set_samples = (size_t)SAMPLES_PER_BLOCK * channels;
    const size_t group_stride = (size_t)ADPCM_HEADER_BYTES * channels;

    // Walk every (block set, channel) block in input order and hand them to
    // decode_lanes four at a time; the last one to three go two and one at a
    // time. Each block writes only its own channel's slots of its own frames,
    // so the output is the same interleaving as decoding set by set.
    const uint8_t* header[MAX_LANES];
    int16_t* out[MAX_LANES];
    uint64_t blocks_left = (uint64_t)block_sets * channels;
    uint32_t set = 0, j = 0;
    while (blocks_left > 0) {
        int lanes = blocks_left >= 4 ? 4 : (blocks_left >= 2 ? 2 : 1);
        for (int l = 0; l < lanes; ++l) {
            header[l] = input + (size_t)set * set_bytes + (size_t)ADPCM_HEADER_BYTES * j;
            out[l] = output + (size_t)set * set_samples + j;
            if (++j == channels) {
                j = 0;
                ++set;
            }
        }
        if (lanes == 4)
            decode_lanes<4>(header, out, group_stride, channels);
        else if (lanes == 2)
            decode_lanes<2>(header, out, group_stride, channels);
        else
            decode_lanes<1>(header, out, group_stride, channels);
        blocks_left -= (uint64_t)lanes;
    }
    return (int32_t)((uint64_t)PCM_BLOCK_BYTES * channels * block_sets);
}
