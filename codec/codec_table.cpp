// The one table of the codecs the engine decodes.

#include "codec/codec_table.h"

#include "codec/pcm.h"

namespace {

constexpr codec_row CODEC_ROWS[] = {
    {CODEC_XBOX_ADPCM, ADPCM_BLOCK_BYTES, SAMPLES_PER_BLOCK, decode_blocks},
    {CODEC_PCM8, 1, 1, decode_pcm8},
    {CODEC_PCM16, 2, 1, decode_pcm16},
};

}  // namespace

// Every row's pass must fit the engine's buffers.
constexpr bool rows_fit_a_pass() {
    for (const codec_row& row : CODEC_ROWS)
        if (row.frames_per_unit > PASS_FRAMES ||
            PASS_FRAMES / row.frames_per_unit * row.unit_bytes_per_channel > PASS_INPUT_BYTES_PER_CHANNEL)
            return false;
    return true;
}
static_assert(rows_fit_a_pass(), "a codec's pass outgrows the decode buffers");

const codec_row* codec_row_of(entry_codec codec) {
    for (const codec_row& row : CODEC_ROWS)
        if (row.codec == codec) return &row;
    return nullptr;
}
