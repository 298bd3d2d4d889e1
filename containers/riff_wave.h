// RIFF WAVE files holding Xbox ADPCM, and the raw-data fallback for every
// file that is not a RIFF WAVE.
#pragma once

#include <stdint.h>

#include "platform/platform.h"

// The first 16 bytes of a "fmt " chunk.
struct wave_format {
    uint16_t format_tag;
    uint16_t channels;
    uint32_t sample_rate;
    uint32_t average_bytes_per_second;
    uint16_t block_align;
    uint16_t bits_per_sample;
};

// Expects the file at offset 0. Returns the "data" chunk size of an Xbox ADPCM
// WAVE (setting channels, sample_rate and data_start of player_state, the file
// left at the first data byte), the file size for raw data (file at offset 0,
// defaults kept), or -1 to refuse a WAVE of another format.
int32_t open_wave_or_raw(file_handle file);

// Reads a RIFF WAVE header from offset 0: fills format and returns the "data"
// chunk size with the file at its first content byte, or a negative value when
// the file is not a RIFF WAVE holding both an "fmt " and a "data" chunk.
int32_t read_riff_wave(file_handle file, wave_format* format);

// Searches the chunks from offset 12 for the first one tagged tag (4 bytes).
// Returns its size with the file right after its 8-byte header, or -1.
int32_t find_riff_chunk(file_handle file, const char* tag);
