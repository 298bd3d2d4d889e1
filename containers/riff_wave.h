// RIFF WAVE files, and the raw-data fallback for every file that is not a
// RIFF WAVE. One chunk walker serves the player (an Xbox ADPCM WAVE's format,
// sound, stated frame count, loop and name) and the tool's readers of the
// WAVE files it takes in.
#pragma once

#include <stdint.h>

#include "containers/byte_source.h"
#include "containers/stream_description.h"

const int32_t RIFF_HEADER_BYTES = 12;  // "RIFF", size of the rest, form type
const int32_t RIFF_CHUNK_HEADER_BYTES = 8;
const int32_t WAVE_FORMAT_BYTES = 16;
// An extensible format: cbSize at 16, the subformat GUID at 24.
const int32_t WAVE_FORMAT_EXTENSIBLE_BYTES = 40;
const uint16_t WAVE_FORMAT_PCM = 0x0001;
const uint16_t WAVE_FORMAT_EXTENSIBLE = 0xfffe;
// A "smpl" chunk: 36 bytes, then 24 bytes per loop (start and end, the end
// being the loop's last frame, at 8 and 12).
const int32_t SMPL_HEADER_BYTES = 36;
const int32_t SMPL_LOOP_BYTES = 24;
const int32_t LONGEST_WAVE_NAME = 255;

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

// What the chunks of a RIFF WAVE say. Each is taken from the first chunk of
// its tag.
struct wave_chunks {
    bool has_format;           // a "fmt " chunk with at least one byte of content
    int32_t format_size;       // its stated size
    wave_format format;        // missing bytes read as zero
    uint16_t extension_bytes;  // an extensible format's cbSize, else 0
    uint8_t subformat[16];
    bool has_data;
    int64_t data_start;                // the "data" chunk's first content byte
    int32_t data_bytes;                // as stated, not checked against the file
    int64_t loop_start;                // a "smpl" chunk's first loop, frames; NO_FRAMES for none
    int64_t loop_end;                  // the first frame after the loop
    char name[LONGEST_WAVE_NAME + 1];  // a "LIST" "INFO" chunk's "INAM", "" for none
};

// Walks the chunks of a RIFF WAVE from offset 12. False (chunks empty) when
// the source is not a RIFF WAVE: no "WAVE" form type at offset 8. The "RIFF"
// tag and size are not checked.
bool read_wave_chunks(byte_source* source, wave_chunks* chunks);

// Reads the source from offset 0 into description: an Xbox ADPCM WAVE's
// format, "data" chunk (data_start, data_length), stated frames, loop and
// name, or, for anything that is not a RIFF WAVE with both a format and a
// sound chunk, the whole source as raw stereo 44100 Hz data. False, with the
// refusal in the description, for a WAVE of another format.
bool read_wave_or_raw(byte_source* source, stream_description* description);

// Searches the chunks from offset 12 for the first one tagged tag (4 bytes),
// stepping over the pad byte after an odd-sized chunk when the file has one.
// Returns its size with the source right after its 8-byte header, or -1.
int32_t find_riff_chunk(byte_source* source, const char* tag);
