// The sound files that become entries: a WAVE in the container's ADPCM taken
// as it is, or any other sound file this build reads (encoded_audio_input.h),
// mixed, resampled and encoded for the container.
#pragma once

#include <stdint.h>

#include <string>

#include "containers/container_writer.h"

enum shape_codec {
    SHAPE_CODEC_AS_INPUT,  // 8 and 16-bit PCM stay PCM at their depth; all else becomes the bank's ADPCM
    SHAPE_CODEC_ADPCM,     // the bank's ADPCM
    SHAPE_CODEC_PCM,       // 8-bit PCM stays 8-bit, all else 16-bit PCM
    SHAPE_CODEC_PCM8,
    SHAPE_CODEC_PCM16,
};
// The rate and channel count an encoded entry is brought to (0 keeps the
// input's own), and its codec.
struct entry_shape {
    uint32_t rate = 0;
    uint32_t channels = 0;
    shape_codec codec = SHAPE_CODEC_AS_INPUT;
    // The container's ADPCM: Xbox ADPCM, which an Xbox ADPCM WAVE gives as it
    // is whatever the rest of the shape says; or, for a Windows bank,
    // Microsoft ADPCM, which a Microsoft ADPCM WAVE of the shape whose blocks
    // the bank states gives as it is.
    entry_codec bank_adpcm = CODEC_XBOX_ADPCM;
    // Of Microsoft ADPCM; -1 for blocks of about 512 bytes.
    int32_t block_field = -1;
};
// The Microsoft ADPCM block field whose blocks of channels come nearest
// block_bytes without passing it (at least the smallest block).
uint32_t ms_adpcm_field_for(uint32_t channels, uint32_t block_bytes);

// Reads a sound file for packing. A WAVE in the container's ADPCM goes in as
// it is (entry_shape::bank_adpcm): its whole units, from the file, not
// copied into memory, in its own format (the caller decides whether that
// will do). Any other sound file this build reads (encoded_audio_input.h),
// and an Xbox ADPCM WAVE for a Windows bank, is decoded, mixed and resampled
// to the shape and encoded. Its name is its title (INAM), else the file's
// name without extension; its loop the one it states, kept in whole units
// of the codec (a note in *warning when that moves it). False with the
// reason when the file cannot be read or holds no whole unit.
bool read_entry_wave(const std::string& path, built_entry* entry, std::string* reason, std::string* warning,
                     const entry_shape& shape = entry_shape());

// The highest rate the Xbox plays; an input above it needs --rate.
const uint32_t XBOX_HIGHEST_RATE = 48000;
// Why an input of this rate and shape cannot be taken as it is ("96000 Hz:
// the Xbox plays rates up to 48000 Hz; give --rate"), or "".
std::string input_rate_misfit(uint32_t input_rate, const entry_shape& shape);
