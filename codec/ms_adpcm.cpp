// Microsoft ADPCM decoding: the standard predictor and adaptation tables, the
// per-code step, and the block decoder: channel by channel, or, where the
// processor has SSE4.1 or AVX2, many blocks' channels side by side in
// vector lanes.
#include "codec/ms_adpcm.h"

#include <stddef.h>
#include <string.h>

#include "codec/little_endian.h"

// GCC and Clang on x86 get vector paths chosen at run time; elsewhere the
// channel-by-channel decode is the only one.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define MS_ADPCM_VECTOR_LANES 1
#include <immintrin.h>
#endif

constexpr int16_t MS_ADPCM_COEFFICIENTS[MS_ADPCM_PREDICTORS][2] = {
    {256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232},
};

constexpr int16_t MS_ADPCM_ADAPTATION[16] = {
    230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230,
};

int16_t ms_adpcm_decode_nibble(uint8_t code, ms_adpcm_channel_state* state) {
    code &= 15;
    int32_t signed_code = code >= 8 ? (int32_t)code - 16 : (int32_t)code;
    // Division, not a shift: the prediction truncates toward zero, so a
    // negative fraction rounds up (-6.2 gives -6, where a shift gives -7).
    int32_t prediction = (state->sample1 * state->coefficient1 + state->sample2 * state->coefficient2) / 256;
    int32_t sample = prediction + signed_code * state->delta;
    if (sample < -32768) sample = -32768;
    if (sample > 32767) sample = 32767;
    state->sample2 = state->sample1;
    state->sample1 = sample;

    // A negative header delta stays negative here, and the floor ends it.
    int32_t delta = MS_ADPCM_ADAPTATION[code] * state->delta / 256;
    if (delta < MS_ADPCM_DELTA_MIN) delta = MS_ADPCM_DELTA_MIN;
    if (delta > MS_ADPCM_DELTA_MAX) delta = MS_ADPCM_DELTA_MAX;
    state->delta = delta;
    return (int16_t)sample;
}

ms_adpcm_channel_state ms_adpcm_header_state(const uint8_t* block, uint32_t channels, uint32_t channel) {
    uint8_t predictor = block[channel];
    if (predictor >= MS_ADPCM_PREDICTORS) predictor = 0;
    ms_adpcm_channel_state state;
    state.coefficient1 = MS_ADPCM_COEFFICIENTS[predictor][0];
    state.coefficient2 = MS_ADPCM_COEFFICIENTS[predictor][1];
    // A header delta is a signed 16-bit value, within the cap either way.
    state.delta = read_s16le(block + (size_t)channels + 2 * (size_t)channel);
    state.sample1 = read_s16le(block + 3 * (size_t)channels + 2 * (size_t)channel);
    state.sample2 = read_s16le(block + 5 * (size_t)channels + 2 * (size_t)channel);
    return state;
}

namespace {

// Code k of a block (k = 0, 1, ...) is the high nibble of byte k / 2 when k
// is even, the low one when odd, and belongs to channel k % channels of frame
// 2 + k / channels.
uint8_t block_code(const uint8_t* codes, size_t k) {
    return (uint8_t)(k % 2 ? codes[k / 2] & 15 : codes[k / 2] >> 4);
}

// One block, one channel after the other, one code per call: the path for
// machines without the vector units and for a lone mono block.
void decode_block_by_channel(const uint8_t* block, int16_t* out, uint32_t channels, int32_t frames) {
    const uint8_t* codes = block + (size_t)MS_ADPCM_HEADER_BYTES_PER_CHANNEL * channels;
    for (uint32_t j = 0; j < channels; ++j) {
        ms_adpcm_channel_state state = ms_adpcm_header_state(block, channels, j);
        out[j] = (int16_t)state.sample2;
        out[channels + j] = (int16_t)state.sample1;
        size_t k = j;
        size_t slot = 2 * (size_t)channels + j;
        for (int32_t f = MS_ADPCM_HEADER_FRAMES; f < frames; ++f, k += channels, slot += channels)
            out[slot] = ms_adpcm_decode_nibble(block_code(codes, k), &state);
    }
}

// The blocks of one call, as decode_ms_adpcm has checked them.
struct block_run {
    const uint8_t* input;
    int16_t* output;
    uint32_t channels;
    int32_t frames;
    size_t block_bytes, block_samples, blocks;
};

void decode_run_by_channel(const block_run& run) {
    for (size_t b = 0; b < run.blocks; ++b)
        decode_block_by_channel(run.input + b * run.block_bytes, run.output + b * run.block_samples, run.channels,
                                run.frames);
}

#ifdef MS_ADPCM_VECTOR_LANES

// Every channel of every block is a chain of its own: each sample waits on
// the last two through a multiply and two clamps, so one chain at a time
// leaves the processor idle. Here up to 16 chains, (block, channel) pairs in
// order, run side by side in 32-bit vector lanes, all stepping through their
// codes together (every block of a call has the same size). The arithmetic
// is the exact one of ms_adpcm_decode_nibble over the full range of a
// header (any delta, any predictor byte), so no input needs the slow path.
const int32_t MAX_LANES = 16;
// Codes are gathered and samples scattered this many steps at a time, so the
// buffers stay small and on the stack.
const int32_t CHUNK_STEPS = 64;

struct lane_group {
    int32_t lanes;  // the pairs in use; the lanes past them decode zeros
    // The state, in the layout the vector loop keeps it: sample1 in the low
    // and sample2 in the high half of a word, matching the coefficients, so
    // one multiply-add gives the prediction's sum.
    int32_t samples[MAX_LANES];
    int32_t coefficients[MAX_LANES];
    int32_t delta[MAX_LANES];
    // 0xFF where the lane's code is the high nibble of its byte, on even
    // and on odd steps (they differ when the channels are odd in number).
    uint8_t high_even[MAX_LANES], high_odd[MAX_LANES];
    const uint8_t* codes[MAX_LANES];  // the lane's block's code stream
    uint32_t channel[MAX_LANES];
    int16_t* out[MAX_LANES];  // the lane's first decoded slot
};

// The code bytes the lanes read on each step, and the samples they give.
typedef uint8_t lane_bytes[MAX_LANES];
typedef int16_t lane_samples[MAX_LANES];
typedef void (*lane_kernel)(lane_group* group, const lane_bytes* bytes, lane_samples* samples, int32_t steps);

uint32_t packed_pair(int32_t low, int32_t high) {
    return (uint32_t)(uint16_t)low | (uint32_t)(uint16_t)high << 16;
}

// Reads pair `pair` of the run (block pair / channels, channel pair %
// channels) into lane `lane`, and writes its two header samples.
void start_lane(const block_run& run, size_t pair, lane_group* group, int32_t lane) {
    const size_t b = pair / run.channels;
    const uint32_t channel = (uint32_t)(pair % run.channels);
    const uint8_t* block = run.input + b * run.block_bytes;
    int16_t* out = run.output + b * run.block_samples;
    ms_adpcm_channel_state state = ms_adpcm_header_state(block, run.channels, channel);
    out[channel] = (int16_t)state.sample2;
    out[run.channels + channel] = (int16_t)state.sample1;
    group->samples[lane] = (int32_t)packed_pair(state.sample1, state.sample2);
    group->coefficients[lane] = (int32_t)packed_pair(state.coefficient1, state.coefficient2);
    group->delta[lane] = state.delta;
    group->high_even[lane] = channel % 2 ? 0 : 0xFF;
    group->high_odd[lane] = (channel + run.channels) % 2 ? 0 : 0xFF;
    group->codes[lane] = block + (size_t)MS_ADPCM_HEADER_BYTES_PER_CHANNEL * run.channels;
    group->channel[lane] = channel;
    group->out[lane] = out + 2 * (size_t)run.channels + channel;
}

// A lane with no pair: zero samples and codes, a valid delta.
void idle_lane(lane_group* group, int32_t lane) {
    group->samples[lane] = 0;
    group->coefficients[lane] = 0;
    group->delta[lane] = MS_ADPCM_DELTA_MIN;
    group->high_even[lane] = group->high_odd[lane] = 0;
}

// Fills each step's code byte of every lane in use, from step `from` of the
// chunk on. With an even number of channels a lane's nibble sits at a fixed
// place, its bytes channels / 2 apart, and an even channel shares its bytes
// with the next.
void gather_code_bytes(const lane_group& group, size_t channels, int32_t done, int32_t from, int32_t count,
                       lane_bytes* bytes) {
    for (int32_t j = 0; j < group.lanes; ++j) {
        size_t k = group.channel[j] + channels * (size_t)(done + from);
        if (channels % 2) {
            const uint8_t* codes = group.codes[j];
            for (int32_t i = from; i < count; ++i, k += channels) bytes[i][j] = codes[k / 2];
            continue;
        }
        const uint8_t* codes = group.codes[j] + k / 2;
        const size_t stride = channels / 2;
        if (k % 2 == 0 && j + 1 < group.lanes && group.codes[j + 1] == group.codes[j]) {
            for (int32_t i = from; i < count; ++i, codes += stride) bytes[i][j] = bytes[i][j + 1] = *codes;
            ++j;
        } else {
            for (int32_t i = from; i < count; ++i, codes += stride) bytes[i][j] = *codes;
        }
    }
}

// Copies `width` neighbouring lanes' samples, consecutive channels of one
// block, into each frame of the chunk.
template <int32_t WIDTH>
void scatter_frames(const lane_samples* samples, int32_t j, int16_t* out, size_t channels, int32_t count) {
    for (int32_t i = 0; i < count; ++i, out += channels) memcpy(out, &samples[i][j], WIDTH * sizeof(int16_t));
}

void scatter_samples(const lane_group& group, const lane_samples* samples, size_t channels, int32_t done,
                     int32_t count) {
    for (int32_t j = 0; j < group.lanes;) {
        int32_t width = 1;
        while (width < 8 && j + width < group.lanes && group.out[j + width] == group.out[j] + width) ++width;
        int16_t* out = group.out[j] + channels * (size_t)done;
        if (width == 8) {
            scatter_frames<8>(samples, j, out, channels, count);
        } else if (width >= 4) {
            width = 4;
            scatter_frames<4>(samples, j, out, channels, count);
        } else if (width >= 2) {
            width = 2;
            scatter_frames<2>(samples, j, out, channels, count);
        } else {
            scatter_frames<1>(samples, j, out, channels, count);
        }
        j += width;
    }
}

// 32-bit Windows promises only a 4-byte aligned stack; the vector functions
// realign theirs so that the compiler's 16-byte spills are safe.
#if defined(__i386__)
#define LANES_ENTRY __attribute__((force_align_arg_pointer))
#else
#define LANES_ENTRY
#endif

// The codes of one step: each lane's nibble picked from its byte, as the
// signed code in bytes and the adaptation in 16-bit words (low 8 lanes,
// high 8 lanes).
struct step_codes {
    __m128i signed_codes, adaptation_low, adaptation_high;
};

// The adaptation table split into its low and high bytes, so that a byte
// shuffle looks up sixteen codes at once.
struct adaptation_bytes {
    __m128i low, high;
};

__attribute__((target("sse4.1"))) inline adaptation_bytes split_adaptation() {
    const __m128i first = _mm_loadu_si128((const __m128i*)MS_ADPCM_ADAPTATION);
    const __m128i second = _mm_loadu_si128((const __m128i*)(MS_ADPCM_ADAPTATION + 8));
    const __m128i low_byte = _mm_set1_epi16(255);
    adaptation_bytes out;
    out.low = _mm_packus_epi16(_mm_and_si128(first, low_byte), _mm_and_si128(second, low_byte));
    out.high = _mm_packus_epi16(_mm_srli_epi16(first, 8), _mm_srli_epi16(second, 8));
    return out;
}

__attribute__((target("sse4.1"))) inline step_codes unpack_codes(__m128i bytes, __m128i high,
                                                                 adaptation_bytes adaptation) {
    const __m128i low_nibble = _mm_set1_epi8(15), eight = _mm_set1_epi8(8);
    __m128i codes =
        _mm_blendv_epi8(_mm_and_si128(bytes, low_nibble), _mm_and_si128(_mm_srli_epi16(bytes, 4), low_nibble), high);
    __m128i low = _mm_shuffle_epi8(adaptation.low, codes);
    __m128i high_bytes = _mm_shuffle_epi8(adaptation.high, codes);
    step_codes out;
    out.signed_codes = _mm_sub_epi8(_mm_xor_si128(codes, eight), eight);
    out.adaptation_low = _mm_unpacklo_epi8(low, high_bytes);
    out.adaptation_high = _mm_unpackhi_epi8(low, high_bytes);
    return out;
}

// One code in four lanes, as ms_adpcm_decode_nibble does it; returns the
// clamped samples.
__attribute__((target("sse4.1"))) inline __m128i step4(__m128i* samples, __m128i coefficients, __m128i* delta,
                                                       __m128i code, __m128i adaptation) {
    __m128i sum = _mm_madd_epi16(*samples, coefficients);
    // Toward zero: a negative sum gets 255 added before the shift.
    __m128i prediction = _mm_srai_epi32(_mm_add_epi32(sum, _mm_srli_epi32(_mm_srai_epi32(sum, 31), 24)), 8);
    __m128i sample = _mm_add_epi32(prediction, _mm_mullo_epi32(code, *delta));
    sample = _mm_min_epi32(_mm_max_epi32(sample, _mm_set1_epi32(-32768)), _mm_set1_epi32(32767));
    *samples = _mm_blend_epi16(_mm_slli_epi32(*samples, 16), sample, 0x55);
    // A shift floors where the division truncates, but the two differ only
    // for a negative product, which the floor of 16 replaces either way.
    __m128i next = _mm_srai_epi32(_mm_mullo_epi32(adaptation, *delta), 8);
    *delta = _mm_min_epi32(_mm_max_epi32(next, _mm_set1_epi32(MS_ADPCM_DELTA_MIN)), _mm_set1_epi32(MS_ADPCM_DELTA_MAX));
    return sample;
}

__attribute__((target("avx2"))) inline __m256i step8(__m256i* samples, __m256i coefficients, __m256i* delta,
                                                     __m256i code, __m256i adaptation) {
    __m256i sum = _mm256_madd_epi16(*samples, coefficients);
    __m256i prediction = _mm256_srai_epi32(_mm256_add_epi32(sum, _mm256_srli_epi32(_mm256_srai_epi32(sum, 31), 24)), 8);
    __m256i sample = _mm256_add_epi32(prediction, _mm256_mullo_epi32(code, *delta));
    sample = _mm256_min_epi32(_mm256_max_epi32(sample, _mm256_set1_epi32(-32768)), _mm256_set1_epi32(32767));
    *samples = _mm256_blend_epi16(_mm256_slli_epi32(*samples, 16), sample, 0x55);
    __m256i next = _mm256_srai_epi32(_mm256_mullo_epi32(adaptation, *delta), 8);
    *delta = _mm256_min_epi32(_mm256_max_epi32(next, _mm256_set1_epi32(MS_ADPCM_DELTA_MIN)),
                              _mm256_set1_epi32(MS_ADPCM_DELTA_MAX));
    return sample;
}

// Eight lanes as two registers of four.
LANES_ENTRY __attribute__((target("sse4.1"))) void decode_steps_sse41(lane_group* group, const lane_bytes* bytes,
                                                                      lane_samples* samples, int32_t steps) {
    __m128i samples_a = _mm_loadu_si128((const __m128i*)group->samples);
    __m128i samples_b = _mm_loadu_si128((const __m128i*)(group->samples + 4));
    const __m128i coefficients_a = _mm_loadu_si128((const __m128i*)group->coefficients);
    const __m128i coefficients_b = _mm_loadu_si128((const __m128i*)(group->coefficients + 4));
    __m128i delta_a = _mm_loadu_si128((const __m128i*)group->delta);
    __m128i delta_b = _mm_loadu_si128((const __m128i*)(group->delta + 4));
    const __m128i high_even = _mm_loadl_epi64((const __m128i*)group->high_even);
    const __m128i high_odd = _mm_loadl_epi64((const __m128i*)group->high_odd);
    const adaptation_bytes adaptation = split_adaptation();
    for (int32_t i = 0; i < steps; ++i) {
        step_codes codes =
            unpack_codes(_mm_loadl_epi64((const __m128i*)bytes[i]), i % 2 ? high_odd : high_even, adaptation);
        __m128i a = step4(&samples_a, coefficients_a, &delta_a, _mm_cvtepi8_epi32(codes.signed_codes),
                          _mm_cvtepu16_epi32(codes.adaptation_low));
        __m128i b =
            step4(&samples_b, coefficients_b, &delta_b, _mm_cvtepi8_epi32(_mm_srli_si128(codes.signed_codes, 4)),
                  _mm_cvtepu16_epi32(_mm_srli_si128(codes.adaptation_low, 8)));
        _mm_storeu_si128((__m128i*)samples[i], _mm_packs_epi32(a, b));
    }
    _mm_storeu_si128((__m128i*)group->samples, samples_a);
    _mm_storeu_si128((__m128i*)(group->samples + 4), samples_b);
    _mm_storeu_si128((__m128i*)group->delta, delta_a);
    _mm_storeu_si128((__m128i*)(group->delta + 4), delta_b);
}

// Sixteen lanes as two registers of eight.
LANES_ENTRY __attribute__((target("avx2"))) void decode_steps_avx2(lane_group* group, const lane_bytes* bytes,
                                                                   lane_samples* samples, int32_t steps) {
    __m256i samples_a = _mm256_loadu_si256((const __m256i*)group->samples);
    __m256i samples_b = _mm256_loadu_si256((const __m256i*)(group->samples + 8));
    const __m256i coefficients_a = _mm256_loadu_si256((const __m256i*)group->coefficients);
    const __m256i coefficients_b = _mm256_loadu_si256((const __m256i*)(group->coefficients + 8));
    __m256i delta_a = _mm256_loadu_si256((const __m256i*)group->delta);
    __m256i delta_b = _mm256_loadu_si256((const __m256i*)(group->delta + 8));
    const __m128i high_even = _mm_loadu_si128((const __m128i*)group->high_even);
    const __m128i high_odd = _mm_loadu_si128((const __m128i*)group->high_odd);
    const adaptation_bytes adaptation = split_adaptation();
    for (int32_t i = 0; i < steps; ++i) {
        step_codes codes =
            unpack_codes(_mm_loadu_si128((const __m128i*)bytes[i]), i % 2 ? high_odd : high_even, adaptation);
        __m256i a = step8(&samples_a, coefficients_a, &delta_a, _mm256_cvtepi8_epi32(codes.signed_codes),
                          _mm256_cvtepu16_epi32(codes.adaptation_low));
        __m256i b =
            step8(&samples_b, coefficients_b, &delta_b, _mm256_cvtepi8_epi32(_mm_srli_si128(codes.signed_codes, 8)),
                  _mm256_cvtepu16_epi32(codes.adaptation_high));
        // The pack works within halves; the permute puts lanes back in order.
        __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
        _mm256_storeu_si256((__m256i*)samples[i], packed);
    }
    _mm256_storeu_si256((__m256i*)group->samples, samples_a);
    _mm256_storeu_si256((__m256i*)(group->samples + 8), samples_b);
    _mm256_storeu_si256((__m256i*)group->delta, delta_a);
    _mm256_storeu_si256((__m256i*)(group->delta + 8), delta_b);
}

// In stereo both channels of a block read byte t of its codes on step t, so
// sixteen steps of up to eight blocks are a transpose of sixteen bytes from
// each block, every byte then doubled for the block's two lanes. Groups
// hold whole blocks here (they start at a multiple of 8 lanes). Fills whole
// slices of sixteen steps, each within every block's codes, and returns the
// steps filled.
__attribute__((target("sse4.1"))) int32_t gather_stereo_slices(const lane_group& group, int32_t done, int32_t count,
                                                               lane_bytes* bytes) {
    const int32_t blocks = group.lanes / 2;
    int32_t filled = 0;
    for (; filled + 16 <= count; filled += 16) {
        __m128i rows[8];
        for (int32_t m = 0; m < 8; ++m)
            rows[m] = m < blocks ? _mm_loadu_si128((const __m128i*)(group.codes[2 * m] + done + filled))
                                 : _mm_setzero_si128();
        __m128i pairs[8], quads[8];
        for (int32_t m = 0; m < 4; ++m) {
            pairs[2 * m] = _mm_unpacklo_epi8(rows[2 * m], rows[2 * m + 1]);
            pairs[2 * m + 1] = _mm_unpackhi_epi8(rows[2 * m], rows[2 * m + 1]);
        }
        for (int32_t h = 0; h < 2; ++h) {
            for (int32_t m = 0; m < 2; ++m) {
                quads[4 * h + 2 * m] = _mm_unpacklo_epi16(pairs[4 * m + h], pairs[4 * m + 2 + h]);
                quads[4 * h + 2 * m + 1] = _mm_unpackhi_epi16(pairs[4 * m + h], pairs[4 * m + 2 + h]);
            }
        }
        // quads[4h + 2m + q] holds steps 8h + 4q to 8h + 4q + 3 of blocks
        // 0-3 (m = 0) or 4-7 (m = 1), a word of four bytes per step.
        for (int32_t h = 0; h < 2; ++h) {
            for (int32_t q = 0; q < 2; ++q) {
                __m128i low = quads[4 * h + q], high = quads[4 * h + 2 + q];
                __m128i steps01 = _mm_unpacklo_epi32(low, high), steps23 = _mm_unpackhi_epi32(low, high);
                uint8_t* at = bytes[filled + 8 * h + 4 * q];
                _mm_storeu_si128((__m128i*)(at + 0 * MAX_LANES), _mm_unpacklo_epi8(steps01, steps01));
                _mm_storeu_si128((__m128i*)(at + 1 * MAX_LANES), _mm_unpackhi_epi8(steps01, steps01));
                _mm_storeu_si128((__m128i*)(at + 2 * MAX_LANES), _mm_unpacklo_epi8(steps23, steps23));
                _mm_storeu_si128((__m128i*)(at + 3 * MAX_LANES), _mm_unpackhi_epi8(steps23, steps23));
            }
        }
    }
    return filled;
}

// In mono, lane j is block j and reads byte t / 2 of its codes on step t,
// so sixteen steps of up to sixteen blocks are a transpose of eight bytes
// from each block, every row then serving two steps (the masks pick the
// nibble). Fills whole slices of sixteen steps and returns the steps filled.
__attribute__((target("sse4.1"))) int32_t gather_mono_slices(const lane_group& group, int32_t done, int32_t count,
                                                             lane_bytes* bytes) {
    int32_t filled = 0;
    for (; filled + 16 <= count; filled += 16) {
        __m128i pairs[8], quads[8], octets[8];
        for (int32_t m = 0; m < 8; ++m) {
            __m128i first = _mm_setzero_si128(), second = _mm_setzero_si128();
            const size_t at = (size_t)(done + filled) / 2;
            if (2 * m < group.lanes) first = _mm_loadl_epi64((const __m128i*)(group.codes[2 * m] + at));
            if (2 * m + 1 < group.lanes) second = _mm_loadl_epi64((const __m128i*)(group.codes[2 * m + 1] + at));
            pairs[m] = _mm_unpacklo_epi8(first, second);  // byte u of blocks 2m, 2m + 1 as word u
        }
        for (int32_t m = 0; m < 4; ++m) {  // blocks 4m .. 4m + 3, bytes 0-3 then 4-7
            quads[2 * m] = _mm_unpacklo_epi16(pairs[2 * m], pairs[2 * m + 1]);
            quads[2 * m + 1] = _mm_unpackhi_epi16(pairs[2 * m], pairs[2 * m + 1]);
        }
        for (int32_t m = 0; m < 2; ++m) {  // blocks 8m .. 8m + 7, two bytes per register
            for (int32_t h = 0; h < 2; ++h) {
                octets[4 * m + 2 * h] = _mm_unpacklo_epi32(quads[4 * m + h], quads[4 * m + 2 + h]);
                octets[4 * m + 2 * h + 1] = _mm_unpackhi_epi32(quads[4 * m + h], quads[4 * m + 2 + h]);
            }
        }
        // octets[4m + r] holds bytes 2r and 2r + 1 of blocks 8m .. 8m + 7.
        for (int32_t r = 0; r < 4; ++r) {
            __m128i even = _mm_unpacklo_epi64(octets[r], octets[4 + r]);
            __m128i odd = _mm_unpackhi_epi64(octets[r], octets[4 + r]);
            _mm_storeu_si128((__m128i*)bytes[filled + 4 * r], even);
            _mm_storeu_si128((__m128i*)bytes[filled + 4 * r + 1], even);
            _mm_storeu_si128((__m128i*)bytes[filled + 4 * r + 2], odd);
            _mm_storeu_si128((__m128i*)bytes[filled + 4 * r + 3], odd);
        }
    }
    return filled;
}

// Decodes pairs first .. first + lanes - 1 of the run with a kernel of
// kernel_lanes lanes.
void decode_group(const block_run& run, size_t first, int32_t lanes, lane_kernel kernel, int32_t kernel_lanes) {
    lane_group group;
    group.lanes = lanes;
    for (int32_t j = 0; j < kernel_lanes; ++j) {
        if (j < lanes) {
            start_lane(run, first + (size_t)j, &group, j);
        } else {
            idle_lane(&group, j);
        }
    }
    lane_bytes bytes[CHUNK_STEPS] = {};
    lane_samples samples[CHUNK_STEPS];
    const int32_t steps = run.frames - MS_ADPCM_HEADER_FRAMES;
    // Chunks start on even steps, so a lane's nibble choice follows the
    // parity of the step within its chunk.
    for (int32_t done = 0; done < steps; done += CHUNK_STEPS) {
        const int32_t count = steps - done < CHUNK_STEPS ? steps - done : CHUNK_STEPS;
        // The transposes pay off from four blocks on; a block or two per call,
        // as the player decodes, gathers byte by byte.
        int32_t from = 0;
        if (run.channels == 1 && lanes >= 4) from = gather_mono_slices(group, done, count, bytes);
        if (run.channels == 2 && lanes >= 8) from = gather_stereo_slices(group, done, count, bytes);
        gather_code_bytes(group, run.channels, done, from, count, bytes);
        kernel(&group, bytes, samples, count);
        scatter_samples(group, samples, run.channels, done, count);
    }
}

ms_adpcm_lanes detect_lanes() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return MS_ADPCM_LANES_AVX2;
    if (__builtin_cpu_supports("sse4.1")) return MS_ADPCM_LANES_SSE41;
    return MS_ADPCM_LANES_NONE;
}

// False when no lanes are to be used; the caller then decodes channel by
// channel.
bool decode_run_in_lanes(const block_run& run, ms_adpcm_lanes lanes) {
    const size_t pairs = run.blocks * run.channels;
    // A lone chain gains nothing from lanes.
    if (lanes == MS_ADPCM_LANES_NONE || pairs < 2) return false;
    size_t first = 0;
    if (lanes == MS_ADPCM_LANES_AVX2) {
        for (; first + 8 < pairs; first += MAX_LANES) {
            size_t left = pairs - first;
            decode_group(run, first, left < (size_t)MAX_LANES ? (int32_t)left : MAX_LANES, decode_steps_avx2,
                         MAX_LANES);
        }
    }
    for (; first < pairs; first += 8) {
        size_t left = pairs - first;
        decode_group(run, first, left < 8 ? (int32_t)left : 8, decode_steps_sse41, 8);
    }
    return true;
}

#else
ms_adpcm_lanes detect_lanes() {
    return MS_ADPCM_LANES_NONE;
}

bool decode_run_in_lanes(const block_run&, ms_adpcm_lanes) {
    return false;
}
#endif

}  // namespace

ms_adpcm_lanes ms_adpcm_processor_lanes() {
    static const ms_adpcm_lanes lanes = detect_lanes();
    return lanes;
}

int32_t decode_ms_adpcm(const uint8_t* input, int32_t input_bytes, int16_t* output, uint32_t channels,
                        int32_t block_bytes_per_channel) {
    return decode_ms_adpcm_using(ms_adpcm_processor_lanes(), input, input_bytes, output, channels,
                                 block_bytes_per_channel);
}

int32_t decode_ms_adpcm_using(ms_adpcm_lanes lanes, const uint8_t* input, int32_t input_bytes, int16_t* output,
                              uint32_t channels, int32_t block_bytes_per_channel) {
    if (channels == 0 || input_bytes <= 0) return 0;
    const int32_t frames = ms_adpcm_frames_in_block(block_bytes_per_channel);
    if (frames == 0) return 0;

    const uint64_t block_bytes = (uint64_t)block_bytes_per_channel * channels;
    uint64_t blocks = (uint64_t)input_bytes / block_bytes;
    // Never more blocks than the int32 result can count; every offset below
    // then stays under input_bytes or under the result, so fits a size_t.
    const uint64_t block_samples = (uint64_t)frames * channels;
    const uint64_t max_blocks = (uint64_t)INT32_MAX / (block_samples * 2);
    if (blocks > max_blocks) blocks = max_blocks;
    if (blocks == 0) return 0;

    // Never wider lanes than the processor has.
    if (lanes > ms_adpcm_processor_lanes()) lanes = ms_adpcm_processor_lanes();
    block_run run = {input, output, channels, frames, (size_t)block_bytes, (size_t)block_samples, (size_t)blocks};
    if (!decode_run_in_lanes(run, lanes)) decode_run_by_channel(run);
    return (int32_t)(blocks * block_samples * 2);
}
