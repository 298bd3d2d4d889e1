// The codecs the engine decodes, one row each: how many bytes of each channel
// make a unit (the least that decodes on its own: an Xbox ADPCM block, one
// PCM sample), how many frames a unit decodes to, and its decoder. The engine
// reads, decodes, seeks and counts every entry in the units of its codec's
// row, so a codec is added with a row and a decoder. Pure, like the decoders.
#pragma once

#include <stdint.h>

#include "codec/xbox_adpcm.h"

// What a record's sound is coded in, as the file states it.
enum entry_codec : uint8_t {
    CODEC_XBOX_ADPCM,
    CODEC_PCM8,   // unsigned 8-bit samples
    CODEC_PCM16,  // signed 16-bit little-endian samples
    CODEC_WMA,
    CODEC_UNKNOWN,   // a format tag no game is known to use
    CODEC_EMPTY,     // a stream header entry without sound
    CODEC_EXTERNAL,  // sound kept in an external .xss file
};

// Decodes every whole unit in input into interleaved 16-bit samples and
// returns the bytes written; the bytes of a partial unit are ignored, and no
// channels decode nothing.
typedef int32_t (*unit_decoder)(const uint8_t* input, int32_t input_bytes, int16_t* output, uint32_t channels);

struct codec_row {
    entry_codec codec;
    int32_t unit_bytes_per_channel;
    int32_t frames_per_unit;
    unit_decoder decode;
};

// The row of a codec the engine decodes; nullptr for any other.
const codec_row* codec_row_of(entry_codec codec);

// The most frames the engine decodes in one pass: one Xbox ADPCM block set,
// or that many PCM frames, so every codec fills the same buffers and asks the
// output for the same room.
const int32_t PASS_FRAMES = SAMPLES_PER_BLOCK;
// The most bytes of each channel one pass reads, in any codec: 16-bit PCM's.
const int32_t PASS_INPUT_BYTES_PER_CHANNEL = PASS_FRAMES * 2;

inline int64_t unit_bytes(const codec_row& row, int64_t channels) {
    return channels * row.unit_bytes_per_channel;
}
// The whole units in byte_count bytes; none for no channels.
inline int64_t whole_units(const codec_row& row, int64_t byte_count, int64_t channels) {
    return channels > 0 && byte_count > 0 ? byte_count / unit_bytes(row, channels) : 0;
}
// The units one pass decodes.
inline int32_t units_per_pass(const codec_row& row) {
    return PASS_FRAMES / row.frames_per_unit;
}
