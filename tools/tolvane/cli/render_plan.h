// What `tolvane render` writes for one file, decided before anything plays:
// which entries (by record number), into which files named how, in which
// format; and what `info` lists. Worked out from the file's description and
// the engine's own plan of its entries, so the numbers agree with the
// module's output.
#pragma once

#include <limits.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "containers/stream_description.h"

// One stream of a file as it plays: a bank or pair entry, or the file's
// single stream (index 0, record 0).
struct sound_unit {
    int32_t index;         // among the entries, as the module counts them
    int32_t record;        // the record number, from 1; 0 for a single stream
    int32_t record_index;  // in the description's records; -1 for a single stream
    uint32_t rate;
    uint16_t channels;
    int64_t frames;
    int64_t start_ms;
    int64_t duration_ms;
    std::string name;  // the record's name, "" when it has none
    // Another record of the file has the same name (a cue that plays several
    // waves names each of them): {label} adds the record number.
    bool name_shared = false;
    // Its loop, frames within those it plays; -1 for none.
    int64_t loop_start = -1;
    int64_t loop_end = -1;
    // The frames a render writes of it (frames, or more for a looped entry).
    int64_t output_frames;

    sound_unit(int32_t index_, int32_t record_, int32_t record_index_, uint32_t rate_, uint16_t channels_,
               int64_t frames_, int64_t start_ms_, int64_t duration_ms_, std::string name_ = "")
        : index(index_),
          record(record_),
          record_index(record_index_),
          rate(rate_),
          channels(channels_),
          frames(frames_),
          start_ms(start_ms_),
          duration_ms(duration_ms_),
          name(std::move(name_)),
          output_frames(frames_) {}
};

// How a looped entry is rendered: as the game plays it, up to its loop's end
// and the loop again until it has played `loops` times, then fade_ms of the
// loop's continuation faded out to silence; with ignore, once through, as the
// player plays it.
struct loop_rendering {
    uint32_t loops = 2;
    uint32_t fade_ms = 10000;
    bool ignore = false;
};
// True when the unit has a loop a render repeats.
bool unit_loops(const sound_unit& unit, const loop_rendering& looping);
// The frames rendered of the unit: loop end + (loops - 1) x loop length +
// fade frames for a looped one, its frames otherwise.
int64_t rendered_frames(const sound_unit& unit, const loop_rendering& looping);
int64_t fade_frames(const sound_unit& unit, const loop_rendering& looping);

// Every stream of the file as the module plays it: the entries (those that
// play nothing included) or the single stream.
std::vector<sound_unit> sound_units(const stream_description& description);
// Units of the records the module skips but the tool decodes itself
// (`decodes` says which), numbered after the module's entries from
// first_index: each plays its record's stated frames.
std::vector<sound_unit> tool_decoded_units(const stream_description& description,
                                           bool (*decodes)(const entry_record& record), int32_t first_index);
// Marks the units whose name another record of the file also has.
void mark_shared_names(const stream_description& description, std::vector<sound_unit>* units);

// The last record number an open range ("3-") reaches.
const int32_t TO_THE_LAST_RECORD = INT32_MAX;

// Parses "3", "2-5,9", "3-" (to the last record), "-5" (from the first):
// the record ranges, in order; duplicates and overlaps are fine. False for
// anything else.
bool parse_entry_list(const std::string& text, std::vector<std::pair<int32_t, int32_t>>* ranges);
// True when the record number lies in one of the ranges.
bool record_chosen(const std::vector<std::pair<int32_t, int32_t>>& ranges, int32_t record);

// The units an entry list chooses, each once, in table order. Numbers beyond
// the file's records and chosen records that play nothing are left out,
// each with a warning; false with the reason when nothing chosen plays.
bool select_units(const std::vector<std::pair<int32_t, int32_t>>& ranges, const stream_description& description,
                  const std::vector<sound_unit>& units, std::vector<sound_unit>* selected,
                  std::vector<std::string>* warnings, std::string* reason);

// The first placeholder in an -o pattern that tolvane does not know, such
// as "{foo}"; "" when there is none.
std::string unknown_placeholder(const std::string& out);

// How -o names outputs.
enum out_kind {
    OUT_STANDARD_OUTPUT,  // "-"
    OUT_FOLDER,           // ends with a separator, or an existing folder
    OUT_PATTERN,          // holds {name}, {entry}, {label} or {rate}
    OUT_FILE,
};
out_kind classify_out(const std::string& out);

// The digits of a record number in output names: the width of the file's
// largest record number, at least 2.
int record_width(const stream_description& description);
std::string padded_record(int32_t record, int width);
// {label}: the unit's name made safe for a file name on every system, or its
// padded record number when it has none: its UTF-8 characters kept, control
// characters and / \ : * ? " < > | made '_', bytes that are not UTF-8
// written %XX, dots and spaces at its ends dropped, a Windows device name
// prefixed with '_', at most 120 bytes (cut between characters); a name
// other records share gets "-" and the padded record number after it.
std::string file_label(const sound_unit& unit, int width);

// One file to write and the units it holds.
struct render_target {
    std::string path;  // "-" for standard output
    std::vector<sound_unit> units;
    uint64_t pcm_bytes;  // what the module writes for them
};

// The outputs for one input: input_stem names {name}; raw says the format.
// False with the reason when the outputs cannot be named or written (a raw
// file or standard output asked to hold several formats).
bool plan_targets(const std::string& out, const std::string& input_stem, bool raw,
                  const std::vector<sound_unit>& selected, int width, std::vector<render_target>* targets,
                  std::string* reason);
