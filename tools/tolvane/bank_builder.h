// Building the containers a game reads from WAVE files: version-3 wave banks
// (.xwb), the same behind the 4096-byte container (.wba) or packed with zlib
// (.zwb), and stream pairs (.xsh + .xsd). Entries are Xbox ADPCM block sets
// (taken from Xbox ADPCM WAVEs as they are, encoded from other sound files)
// or 8 or 16-bit PCM.
// Every file appears whole or not at all. The layouts are the readers' own
// (containers/wave_bank.h, containers/stream_pair.h).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "codec/codec_table.h"

// One entry: its sound in its codec (Xbox ADPCM, or 8 or 16-bit PCM), either
// held in adpcm or the source_bytes of the file at source_path from
// source_offset, whole units of the codec either way.
struct built_entry {
    std::string name;
    entry_codec codec = CODEC_XBOX_ADPCM;
    uint32_t rate = 0;
    uint16_t channels = 0;
    int64_t loop_start = -1;  // frames, whole units of the codec; -1 for no loop
    int64_t loop_end = -1;    // the first frame after the loop
    std::vector<uint8_t> adpcm;
    std::string source_path;
    int64_t source_offset = 0;
    int64_t source_bytes = 0;
    // The input file's own format, before any mixing or resampling, and
    // whether it stated a loop.
    uint32_t input_rate = 0;
    uint16_t input_channels = 0;
    bool input_looped = false;

    int64_t sound_bytes() const;
    int64_t frames() const;
    // Bytes from the sound's start to frame, which is on a whole unit.
    int64_t bytes_at(int64_t frame) const;
};

// Appends the entry's sound to *sound, reading it from its file when it lies
// there. False with the reason when the file cannot be read or has shrunk.
bool append_entry_sound(const built_entry& entry, std::vector<uint8_t>* sound, std::string* error);

// The rate and channel count an encoded entry is brought to; 0 keeps the
// input's own.
enum shape_codec {
    SHAPE_CODEC_AS_INPUT,    // 8 and 16-bit PCM stay PCM at their depth; all else becomes Xbox ADPCM
    SHAPE_CODEC_XBOX_ADPCM,  // encoded
    SHAPE_CODEC_PCM,         // 8-bit PCM stays 8-bit, all else 16-bit PCM
    SHAPE_CODEC_PCM8,
    SHAPE_CODEC_PCM16,
};
struct entry_shape {
    uint32_t rate = 0;
    uint32_t channels = 0;
    shape_codec codec = SHAPE_CODEC_AS_INPUT;  // an Xbox ADPCM WAVE stays as it is whatever this says
};

// Reads a sound file for packing: an Xbox ADPCM WAVE's whole block sets (from
// the file, not copied into memory, in its own format whatever the shape:
// the caller decides whether that will do),
// or any other sound file this build reads (encoded_audio_input.h), mixed
// and resampled to the shape and encoded. Its name is its title (INAM), else
// the file's name without extension; its loop the one it states, kept in
// whole block sets (a note in *warning when that moves it). False with the
// reason when the file cannot be read or holds no block set.
bool read_entry_wave(const std::string& path, built_entry* entry, std::string* reason, std::string* warning,
                     const entry_shape& shape = entry_shape());

// The highest rate the Xbox plays; an input above it needs --rate.
const uint32_t XBOX_HIGHEST_RATE = 48000;
// Why an input of this rate and shape cannot be taken as it is ("96000 Hz:
// the Xbox plays rates up to 48000 Hz; give --rate"), or "".
std::string input_rate_misfit(uint32_t input_rate, const entry_shape& shape);

// Sets the entry's loop from frames, in whole block sets within its sound
// (-1 for none); a note in *warning when that moves it. False when no loop
// is left.
bool set_entry_loop(built_entry* entry, int64_t loop_start, int64_t loop_end, std::string* warning);

enum built_kind { BUILT_BANK, BUILT_CONTAINER, BUILT_COMPRESSED, BUILT_PAIR };

// The container an output name asks for, by its extension: .xwb, .wba, .zwb,
// .xsh or .xsd; false for any other.
bool built_kind_of(const std::string& path, built_kind* kind);

// Why an entry cannot go into that kind of container (a bank's format word
// holds 1 to 7 channels and rates to 65535 Hz), or "".
std::string entry_misfit(const built_entry& entry, built_kind kind);

// Writes the container. A stream pair is written to path with the extension
// .xsh and .xsd (both whole or neither). Each entry starts on a multiple of
// alignment bytes from the start of the sound. False with the reason.
bool write_built_container(const std::vector<built_entry>& entries, const std::string& bank_name, uint32_t alignment,
                           built_kind kind, const std::string& path, bool keep_existing, std::string* error);

// A bank of version 3 laid out in memory, for the compressed kind and tests.
std::vector<uint8_t> built_bank_bytes(const std::vector<built_entry>& entries, const std::string& bank_name,
                                      uint32_t alignment, std::string* error);

// zlib-packs a bank as a .zwb holds it: four bytes no reader looks at, the
// inflated size, then the zlib stream. False when zlib fails.
bool compress_bank(const std::vector<uint8_t>& bank, std::vector<uint8_t>* packed);
// Inflates a .zwb's stream whole; false when it is damaged or not a .zwb.
bool inflate_bank(const std::vector<uint8_t>& packed, std::vector<uint8_t>* bank);
