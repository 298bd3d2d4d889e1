// The output module that tolvane hands the player module for `render` and
// `info`: it holds nothing back, so the module decodes as fast as it can, and
// every block written goes to the file planned for the entry playing (or is
// dropped, for an entry not chosen). For `info` it has no room at all, so the
// module only opens the item.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

#include "host/winamp_host.h"
#include "tools/tolvane/render_plan.h"

// The record to put in the module's outMod. It lives as long as the program.
Out_Module* render_output_module();

// Prepares the render of one file into targets (each "-" for standard
// output, raw or a WAVE file); an entry of the file's table that no target
// holds is decoded and dropped. The files are created (under temporary
// names) when the module first opens the output for one of their entries.
// Until render_output_release the output has no room, so that the host can
// seek before anything is decoded. module is asked for the entry counter at
// each Open. keep_existing: an output whose name a file took meanwhile is
// not replaced.
void render_output_begin(const std::vector<render_target>* targets, bool raw, bool keep_existing, In_Module* module);
// Prepares an output that never has room, for reading the player's view.
void render_output_begin_nothing(In_Module* module);
void render_output_release();
// Flushes seen so far: a seek carried out.
int render_output_flushes();
// True once the module has gone past the last entry any target holds.
bool render_output_past_targets();
// Closes the files: with keep, each complete one gets its name; without (an
// interrupt, a playback that failed) all are removed, as they are when any
// could not be created or written. False in that last case;
// render_output_failed_path names the first and _reason says why.
bool render_output_end(bool keep);
const std::string& render_output_failed_path();
const std::string& render_output_failed_reason();
// True once an output could not be created or written.
bool render_output_has_failed();
// Bytes written into each target, in the order given.
std::vector<uint64_t> render_output_written();

// The format of the first Open; 0 before any.
int render_output_first_sample_rate();
int render_output_first_channels();
// How many calls the module has made to the output; it changes while the
// module is alive.
uint32_t render_output_calls();

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
