// The one table of the codecs the engine decodes.

#include "codec/codec_table.h"

#include "codec/ms_adpcm.h"
#include "codec/pcm.h"

namespace {

// The decoders of one unit size take no block size.
template <int32_t (*decode)(const uint8_t*, int32_t, int16_t*, uint32_t)>
int32_t of_one_size(const uint8_t* input, int32_t input_bytes, int16_t* output, uint32_t channels, int32_t) {
    return decode(input, input_bytes, output, channels);
}

// clang-format off
//                      unit bytes  frames             decoder                        per field step
constexpr codec_row CODEC_ROWS[] = {
    {CODEC_XBOX_ADPCM, ADPCM_BLOCK_BYTES, SAMPLES_PER_BLOCK, of_one_size<decode_blocks>, 0, 0},
    {CODEC_PCM8,       1,                 1,                 of_one_size<decode_pcm8>, 0, 0},
    {CODEC_PCM16,      2,                 1,                 of_one_size<decode_pcm16>, 0, 0},
    {CODEC_PCM16_BE,   2,                 1,                 of_one_size<decode_pcm16be>, 0, 0},
    {CODEC_MS_ADPCM,   22,                32,                decode_ms_adpcm, 1, 2},
};
// clang-format on
const int ROW_COUNT = sizeof CODEC_ROWS / sizeof CODEC_ROWS[0];

constexpr codec_row shaped(const codec_row& row, uint32_t field) {
    return {row.codec,
            row.unit_bytes_per_channel + row.bytes_per_field_step * (int32_t)field,
            row.frames_per_unit + row.frames_per_field_step * (int32_t)field,
            row.decode,
            0,
            0};
}

// Every row of a block-sized codec, shaped once for every field.
struct shaped_rows {
    codec_row rows[ROW_COUNT][LARGEST_BLOCK_FIELD + 1];
};
constexpr shaped_rows shape_every_row() {
    shaped_rows all = {};
    for (int r = 0; r < ROW_COUNT; ++r)
        for (uint32_t field = 0; field <= LARGEST_BLOCK_FIELD; ++field)
            all.rows[r][field] = shaped(CODEC_ROWS[r], field);
    return all;
}
constexpr shaped_rows SHAPED = shape_every_row();

// Every row's pass must fit the engine's buffers, at every field.
constexpr bool rows_fit_a_pass() {
    for (const codec_row& row : CODEC_ROWS) {
        codec_row largest = shaped(row, row.bytes_per_field_step ? LARGEST_BLOCK_FIELD : 0);
        if (frames_per_pass(largest) > LARGEST_PASS_FRAMES ||
            units_per_pass(largest) * largest.unit_bytes_per_channel > PASS_INPUT_BYTES_PER_CHANNEL)
            return false;
    }
    return true;
}
static_assert(rows_fit_a_pass(), "a codec's pass outgrows the decode buffers");

}  // namespace

const codec_row* codec_row_of(entry_codec codec, uint32_t block_field) {
    for (int r = 0; r < ROW_COUNT; ++r) {
        if (CODEC_ROWS[r].codec != codec) continue;
        if (CODEC_ROWS[r].bytes_per_field_step == 0) return &CODEC_ROWS[r];
        return block_field <= LARGEST_BLOCK_FIELD ? &SHAPED.rows[r][block_field] : nullptr;
    }
    return nullptr;
}
