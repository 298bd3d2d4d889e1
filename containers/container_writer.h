// Writing the containers a game reads: the entries they hold, the choice of
// writer by the output's name, and the parts the writers and patchers
// share. Version-3 wave banks (.xwb) and the same behind the 4096-byte
// container (.wba) are in wave_bank_writer.h, zlib-packed banks (.zwb) in
// compressed_bank_writer.h, stream pairs (.xsh + .xsd) in
// stream_pair_writer.h. Every file appears whole or not at all
// (output_file.h). The layouts are the readers' own.
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
    uint32_t block_field = 0;  // of Microsoft ADPCM: blocks of (field + 22) x channels bytes
    uint32_t rate = 0;
    uint16_t channels = 0;
    int64_t loop_start = -1;  // frames, whole units of the codec; -1 for no loop
    int64_t loop_end = -1;    // the first frame after the loop
    std::vector<uint8_t> adpcm;
    std::string source_path;
    int64_t source_offset = 0;
    int64_t source_bytes = 0;
    // Of a codec the engine does not decode (xWMA, XMA): the frames the
    // record states, and its seek table, written in a Windows bank's seek
    // table region.
    int64_t stated_frames = -1;
    std::vector<uint32_t> seek_table;
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

// ---- Parts the writers and patchers share ----------------------------------

typedef std::vector<uint8_t> byte_vector;
struct output_file;

// offset rounded up to a multiple of alignment (0 and 1 align nothing).
uint64_t aligned_offset(uint64_t offset, uint32_t alignment);
void append_u16le(byte_vector& out, uint16_t value);
void append_u32le(byte_vector& out, uint32_t value);
// text in a field of field_bytes, NUL-padded; a longer text is cut so that
// a NUL still ends the field, and never inside a UTF-8 character.
void append_text_field(byte_vector& out, const std::string& text, size_t field_bytes);
// How many bytes of text a field of field_bytes keeps.
size_t text_field_kept(const std::string& text, size_t field_bytes);
// What the container keeps of the names, when it cannot keep them whole:
// "the bank's name \"...\" is kept as \"...\" (its field holds 15 bytes)",
// one text per name cut, in order; the bank's name is counted for banks.
std::vector<std::string> names_cut(const std::vector<built_entry>& entries, const std::string& bank_name,
                                   built_kind kind);

// Where each entry's sound starts in the sound region, and the region's
// length (to the end of the last entry).
std::vector<uint64_t> sound_offsets(const std::vector<built_entry>& entries, uint32_t alignment, uint64_t* length);
// The entries' sound one after another, each at its offset, zeros between.
bool write_sound_region(const std::vector<built_entry>& entries, const std::vector<uint64_t>& offsets, output_file* out,
                        std::string* error);
// Removes what out wrote; false, with out's reason unless one is given.
bool discard_with_reason(output_file* out, std::string* error);
// False with the reason.
bool refuse(std::string* error, const std::string& reason);

// A bank or pair laid out for patching one record's sound: the file holding
// the sound region, where that region lies, and every record's offset.
struct sound_region_edit {
    byte_vector* sound_file;  // the bank itself, or a pair's data file
    size_t sound_at;          // the region's first byte in sound_file
    uint64_t sound_length;
    uint32_t alignment;
    std::vector<uint32_t> offsets;  // every record's offset, from the region's start
    uint64_t moved_from;            // set by splice_sound: where the sound after the record's began
};
// Puts new_sound in place of the record's sound. Returns the shift of the
// sound after it (every record starting at or after moved_from moves by it),
// writing the new region length into *region_length.
int64_t splice_sound(sound_region_edit* e, size_t record_index, const byte_vector& new_sound, uint64_t* region_length);
