// Building the containers a game reads from WAVE files: version-3 wave banks
// (.xwb), the same behind the 4096-byte container (.wba) or packed with zlib
// (.zwb), and stream pairs (.xsh + .xsd). Entries are Xbox ADPCM block sets:
// taken from Xbox ADPCM WAVEs as they are, encoded from 16-bit PCM ones.
// Every file appears whole or not at all. The layouts are the readers' own
// (containers/wave_bank.h, containers/stream_pair.h).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// One entry: its sound, either held in adpcm or the source_bytes of the
// file at source_path from source_offset, whole block sets either way.
struct built_entry {
    std::string name;
    uint32_t rate = 0;
    uint16_t channels = 0;
    int64_t loop_start = -1;  // frames, whole block sets; -1 for no loop
    int64_t loop_end = -1;    // the first frame after the loop
    std::vector<uint8_t> adpcm;
    std::string source_path;
    int64_t source_offset = 0;
    int64_t source_bytes = 0;

    int64_t sound_bytes() const;
    int64_t frames() const;
};

// Appends the entry's sound to *sound, reading it from its file when it lies
// there. False with the reason when the file cannot be read or has shrunk.
bool append_entry_sound(const built_entry& entry, std::vector<uint8_t>* sound, std::string* error);

// Reads a WAVE for packing: an Xbox ADPCM WAVE's whole block sets (from the
// file, not copied into memory), or a 16-bit PCM WAVE encoded. Its name is
// its INAM, else the file's name without extension; its loop its smpl
// chunk's, kept in whole block sets (a note in *warning when that moves it).
// False with the reason when the file is neither or holds no block set.
bool read_entry_wave(const std::string& path, built_entry* entry, std::string* reason, std::string* warning);

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
