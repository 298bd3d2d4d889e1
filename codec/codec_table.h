// The codecs the engine decodes, one row each: how many bytes of each channel
// make a unit (the least that decodes on its own: an ADPCM block, one PCM
// sample), how many frames a unit decodes to, and its decoder. A codec whose
// block size each entry states (Microsoft ADPCM) grows its unit by a step per
// unit of that block field. The engine reads, decodes, seeks and counts every
// entry in the units of its codec's row, so a codec is added with a row and a
// decoder. Pure, like the decoders.
#pragma once

#include <stdint.h>

#include "codec/xbox_adpcm.h"

// What a record's sound is coded in, as the file states it.
enum entry_codec : uint8_t {
    CODEC_XBOX_ADPCM,
    CODEC_PCM8,   // unsigned 8-bit samples
    CODEC_PCM16,  // signed 16-bit little-endian samples
    CODEC_WMA,
    CODEC_PCM16_BE,  // signed 16-bit big-endian samples (an Xbox 360 bank's)
    CODEC_MS_ADPCM,  // Microsoft ADPCM, in blocks the entry's block field sizes
    CODEC_XWMA,      // WMA 2 in an xWMA entry
    CODEC_WMA_PRO,
    CODEC_XMA,
    CODEC_UNKNOWN,   // a format tag no game is known to use
    CODEC_EMPTY,     // a stream header entry without sound
    CODEC_EXTERNAL,  // sound kept in an external .xss file
};

// Decodes every whole unit (unit_bytes_per_channel x channels bytes) in
// input into interleaved 16-bit samples and returns the bytes written; the
// bytes of a partial unit are ignored, and no channels decode nothing.
typedef int32_t (*unit_decoder)(const uint8_t* input, int32_t input_bytes, int16_t* output, uint32_t channels,
                                int32_t unit_bytes_per_channel);

struct codec_row {
    entry_codec codec;
    int32_t unit_bytes_per_channel;
    int32_t frames_per_unit;
    unit_decoder decode;
    // What each step of an entry's block field adds to the unit: 0 for a
    // codec of one unit size.
    int32_t bytes_per_field_step;
    int32_t frames_per_field_step;
};

// The largest block field an entry states (8 bits).
const uint32_t LARGEST_BLOCK_FIELD = 255;

// The row of a codec the engine decodes, shaped for an entry's block field;
// nullptr for any other codec, or a field past LARGEST_BLOCK_FIELD.
const codec_row* codec_row_of(entry_codec codec, uint32_t block_field = 0);

// The frames one pass decodes at least: one Xbox ADPCM block set, or that
// many PCM frames; a codec of larger units decodes one unit a pass.
const int32_t PASS_FRAMES = SAMPLES_PER_BLOCK;
// What any codec's pass may hold: the decode buffers are sized by these.
const int32_t LARGEST_PASS_FRAMES = 2 * (LARGEST_BLOCK_FIELD + 16);
const int32_t PASS_INPUT_BYTES_PER_CHANNEL = LARGEST_BLOCK_FIELD + 22;

constexpr int64_t unit_bytes(const codec_row& row, int64_t channels) {
    return channels * row.unit_bytes_per_channel;
}
// The whole units in byte_count bytes; none for no channels.
constexpr int64_t whole_units(const codec_row& row, int64_t byte_count, int64_t channels) {
    return channels > 0 && byte_count > 0 ? byte_count / unit_bytes(row, channels) : 0;
}
// The units one pass decodes, and their frames.
constexpr int32_t units_per_pass(const codec_row& row) {
    return row.frames_per_unit < PASS_FRAMES ? PASS_FRAMES / row.frames_per_unit : 1;
}
constexpr int32_t frames_per_pass(const codec_row& row) {
    return units_per_pass(row) * row.frames_per_unit;
}
