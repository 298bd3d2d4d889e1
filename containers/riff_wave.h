// RIFF WAVE files holding Xbox ADPCM, and the raw-data fallback for every
// file that is not a RIFF WAVE.
#pragma once

#include <stdint.h>

#include "containers/byte_source.h"
#include "containers/stream_description.h"

// The first 16 bytes of a "fmt " chunk.
struct wave_format {
    uint16_t format_tag;
    uint16_t channels;
    uint32_t sample_rate;
    uint32_t average_bytes_per_second;
    uint16_t block_align;
    uint16_t bits_per_sample;
    int64_t stated_frames;  // from a "fact" chunk; NO_FRAMES without one
};

// Reads the source from offset 0 into description: an Xbox ADPCM WAVE's
// format and "data" chunk, or, for anything that is not a RIFF WAVE, the
// whole source as raw stereo 44100 Hz data. Returns the length of the sound
// data, or -1 for a WAVE of another format (refused).
int32_t open_wave_or_raw(byte_source* source, stream_description* description);

// Reads a RIFF WAVE header from offset 0: fills format and returns the "data"
// chunk size with the source at its first content byte, or a negative value
// when the source is not a RIFF WAVE holding both an "fmt " and a "data" chunk.
int32_t read_riff_wave(byte_source* source, wave_format* format);

// Searches the chunks from offset 12 for the first one tagged tag (4 bytes),
// stepping over the pad byte after an odd-sized chunk when the file has one.
// Returns its size with the source right after its 8-byte header, or -1.
int32_t find_riff_chunk(byte_source* source, const char* tag);
