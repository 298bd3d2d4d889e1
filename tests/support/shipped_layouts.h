// Files laid out as Xbox games shipped them, built with the shared writers:
// a version-1 bank, a version-3 bank with names, loops and 4- and 6-channel
// entries, compact banks of Xbox ADPCM and of PCM, stream pairs of header
// versions 0x9D, 0x100 and 0x101 with ids, and a WAVE with a padded odd-sized
// LIST chunk. Banks and pairs mix 8- and 16-bit PCM entries with Xbox ADPCM
// ones, as games kept their effects and voice beside their music. Each comes
// with what must be heard and listed of it, for the tests and the fuzzers'
// seeds.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "tests/support/sample_files.h"

// One record as it must be listed, and, when it plays, its sound.
struct shipped_record {
    int32_t record;
    std::string name;    // "" for none
    int64_t loop_start;  // frames; NO_FRAMES for none
    int64_t loop_end;
    int64_t stated_frames;
    const char* codec;  // as info --json names it
    bool plays;
    uint32_t rate;
    uint32_t channels;
    bytes sound;  // the bytes it plays, in its codec
    entry_codec sound_codec = CODEC_XBOX_ADPCM;
    uint32_t block_field = 0;  // of Microsoft ADPCM
};

struct shipped_file {
    std::string name;                                  // of the file given to the player
    std::vector<std::pair<std::string, bytes>> files;  // every file to write, by name
    int64_t version;                                   // as info --json gives it; -1 for null
    std::string bank_name;
    std::vector<shipped_record> records;
};

std::vector<shipped_file> shipped_files();
