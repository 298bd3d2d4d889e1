// The output module that tolvane hands the player module for `render`: it
// holds nothing back, so the module decodes as fast as it can, and every
// block written goes to the file planned for the entry playing (or is
// dropped, for an entry not chosen). A looped entry is rendered as the game
// plays it: up to its loop's end, the loop again, then a fade. Files are WAVE
// (with the loop in a smpl chunk), raw samples, or FLAC and Ogg Vorbis.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <string>
#include <vector>

#include "host/winamp_host.h"
#include "tools/tolvane/cli/render_plan.h"

enum render_format { RENDER_WAV, RENDER_RAW, RENDER_FLAC, RENDER_OGG };

// What one render writes.
struct render_job {
    const std::vector<render_target>* targets = nullptr;  // each "-" for standard output, or a file
    render_format format = RENDER_WAV;
    bool keep_existing = false;  // an output whose name a file took meanwhile is not replaced
    loop_rendering looping;
    In_Module* module = nullptr;  // asked for the entry counter at each Open
};

struct render_sink;
struct render_unit;

// The caller's record of one render. The module reaches it through the
// Out_Module record render_output_attach returns; only one is attached at
// a time.
struct render_output {
    render_job job;
    std::vector<render_sink*> sinks;  // one per target
    std::vector<render_unit*> units;  // one per entry of the file's table
    int32_t last_entry = -1;          // the last entry any target holds
    render_unit* current = nullptr;
    std::atomic<bool> failed{false};
    std::string failed_path;
    std::string failed_reason;
    int sample_rate = 0;
    int channels = 0;
    // The written-time clock: restarted by Open and Flush, advanced by Write.
    int clock_start_ms = 0;
    uint64_t bytes_since_clock_start = 0;
    std::atomic<int> written_ms{0};
    std::atomic<bool> released{false};
    std::atomic<bool> past_targets{false};
    std::atomic<int> flushes{0};
    // Counts the module's calls, for the host thread's stall watch. A plain
    // load and store, not a locked increment: this runs several times per
    // block set, and a count lost between two threads only delays the watch.
    std::atomic<uint32_t> output_calls{0};

    render_output() = default;
    ~render_output();
    render_output(const render_output&) = delete;
    render_output& operator=(const render_output&) = delete;
};

// Prepares output for job and returns the record to put in the module's
// outMod. The files are created (under temporary names) when the module first
// opens the output for one of their entries. Until render_output_release the
// output has no room, so that the host can seek before anything is decoded.
Out_Module* render_output_attach(render_output* output, const render_job& job);
void render_output_release(render_output* output);
// Each file gets its name as soon as the module has played every entry it
// holds. This closes the rest: with keep, each complete one gets its name;
// without (an interrupt, a playback that failed) they are removed, as they are
// once any file could not be created or written; the files already named
// stay. False when a file failed, with the path and reason in the output.
// Detaches it.
bool render_output_finish(render_output* output, bool keep);
// The targets that got their names.
int render_output_kept(const render_output* output);
// Bytes written into each target, in the order given.
std::vector<uint64_t> render_output_written(const render_output* output);

// Entries decoded outside the module (xWMA and XMA, in the Linux tool) go
// to their targets through the same files, loops and fades: the entry's
// frames in order, then its end. entry is the unit's index in the targets.
void render_output_take(render_output* output, int32_t entry, int sample_rate, int channels, const int16_t* pcm,
                        int64_t frames);
void render_output_end(render_output* output, int32_t entry);

// About the output attached, for the host's waits (which take no context):
// the module's calls so far, whether a seek was carried out, and whether
// the render can stop (past the last target, or an output failed).
uint32_t render_output_calls();
bool render_output_seeked();
bool render_output_can_stop();

// ---- The entry counter in a title ----------------------------------------------

// Reads decimal digits that end just before *end and moves *end to the first
// of them. False when there are none or too many for an int.
inline bool read_number_before(const char* text, size_t* end, int* value) {
    size_t start = *end;
    while (start > 0 && text[start - 1] >= '0' && text[start - 1] <= '9') start--;
    size_t digits = *end - start;
    if (digits == 0 || digits > 9) return false;
    int number = 0;
    for (size_t i = start; i < *end; i++) number = number * 10 + (text[i] - '0');
    *value = number;
    *end = start;
    return true;
}

// True when the text just before *end is literal; moves *end to its start.
inline bool read_literal_before(const char* text, size_t* end, const char* literal) {
    size_t length = strlen(literal);
    if (*end < length || strncmp(text + *end - length, literal, length) != 0) return false;
    *end -= length;
    return true;
}

// A bank or stream pair's title ends in " - n / N": entry n of N, counted
// from 1. False for any other title, such as a single stream's.
inline bool parse_entry_counter(const char* title, int* entry, int* count) {
    size_t end = strlen(title);
    int n = 0;
    int total = 0;
    if (!read_number_before(title, &end, &total) || !read_literal_before(title, &end, " / ") ||
        !read_number_before(title, &end, &n) || !read_literal_before(title, &end, " - ")) {
        return false;
    }
    if (n < 1 || total < 1) return false;
    *entry = n;
    *count = total;
    return true;
}
