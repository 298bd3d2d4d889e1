// What `tolvane info` prints of a file: the player's view of it right after
// it starts, then one row per record (or one for a single stream), as text
// or as one JSON document on one line.
#pragma once

#include <stdio.h>

#include <string>
#include <vector>

#include "containers/stream_description.h"
#include "tools/tolvane/cli/render_plan.h"

// The five lines the player shows.
struct player_view {
    std::string title;
    int length_ms = 0;
    int sample_rate = 0;
    int channels = 0;
    int entries = 0;
};

// A member "key":"text" of an object being written, a comma first unless it
// is the first; any bytes of text: UTF-8 as it is, other bytes as \u00XX.
void append_json_text(std::string* out, const char* key, const std::string& text);

// Both write row by row, so a bank of any size lists in little memory. The
// notes say where names came from (which sound bank, or why one named nothing).
void print_info_text(FILE* out, const player_view& view, const stream_description& description,
                     const std::vector<sound_unit>& units, const loop_rendering& looping,
                     const std::vector<std::string>& notes);

// Keys: file, title, length_ms, sample_rate, channels, entries, kind,
// compressed, version, bank_name, stated_frames, frames, duration_ms,
// looped_ms, records (each: record, offset, bytes, sample_rate, channels,
// frames, duration_ms, looped_ms, name, cue_names, loop_start, loop_end,
// stated_frames, codec, skipped), warnings, notes.
void print_info_json(FILE* out, const std::string& path, const player_view& view, const stream_description& description,
                     const std::vector<sound_unit>& units, const loop_rendering& looping,
                     const std::vector<std::string>& warnings, const std::vector<std::string>& notes);
