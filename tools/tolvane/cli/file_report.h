// What tolvane says about a file, in words: why it cannot be read or played,
// and what the readers noticed while describing it. Each text names no file;
// the caller puts the file's name in front.
#pragma once

#include <string>
#include <vector>

#include "containers/stream_description.h"

// Why the player module would refuse the file described.
std::string refusal_text(const stream_description& description);
// Why the file at path cannot be played: it cannot be read, or the module
// would refuse it; empty when it can be played.
std::string why_unplayable(const std::string& path);

// Why a bank or pair record was skipped: "format tag 2 (WMA, which the player does not decode)".
std::string skip_text(const entry_record& record);
// The codec's name as the user reads it: "Xbox ADPCM", "16-bit PCM"...
const char* codec_name(entry_codec codec);
// The codec as info --json names it: "xbox_adpcm", "pcm16", "xwma"...
const char* codec_key(entry_codec codec);

// A warning, and the records it is about: none (0, 0) for the whole file.
struct file_warning {
    std::string text;
    int32_t first_record = 0;
    int32_t last_record = 0;
    bool no_sound = false;  // says the file holds nothing to play
};

// The warnings for what the readers noticed: the file played as raw data (not
// for .dat files, which are raw data), a missing partner, a compressed bank
// not inflated or cut short, records lost to the end of the file (named),
// entries whose sound the file cuts short (named), records skipped (the
// first ten named, then counted; with_skipped false leaves them out), and a
// file with no sound.
std::vector<file_warning> warnings_of(const std::string& path, const stream_description& description,
                                      bool with_skipped);

// True for a .dat file, which holds raw data by name.
bool is_raw_data_name(const std::string& path);
// Why the tool will not decode a file as raw data unless asked to, or "" when
// the file is no raw fallback (or a .dat file).
std::string raw_fallback_refusal(const std::string& path, const stream_description& description);
