// What tolvane says about a file, in words: why it cannot be read or played,
// and what the readers noticed while describing it. Each text names no file;
// the caller puts the file's name in front.
#pragma once

#include <string>
#include <vector>

#include "containers/stream_description.h"

// Why path cannot be read as a file: "no such file", "is a folder",
// "permission denied"...; empty when it can.
std::string unreadable_reason(const std::string& path);

// Why the player module would refuse the file described.
std::string refusal_text(const stream_description& description);
// Why the file at path cannot be played: it cannot be read, or the module
// would refuse it; empty when it can be played.
std::string why_unplayable(const std::string& path);

// Why a bank or pair record was skipped: "format tag 2 (WMA, not Xbox ADPCM)".
std::string skip_text(const entry_record& record);
// The codec's name as the user reads it: "Xbox ADPCM", "16-bit PCM"...
const char* codec_name(entry_codec codec);

// The warnings for what the readers noticed. path names the file (its
// extension tells raw data apart from a file that only fell back to it).
std::vector<std::string> warnings_of(const std::string& path, const stream_description& description);
