// The output module that tolvane hands the player module: it never lacks room
// and holds nothing back, so the module decodes as fast as it can, and every
// byte written goes to a sink: a raw file, WAVE files, or nowhere.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <string>

#include "host/winamp_host.h"
#include "platform/platform.h"

enum render_sink {
    RENDER_TO_RAW,      // every byte written, in order, into one file
    RENDER_TO_WAVE,     // a 16-bit PCM WAVE per stream, one per bank entry
    RENDER_TO_NOTHING,  // reports no room at all: the module decodes nothing
};

// The record to put in the module's outMod. It lives as long as the program.
Out_Module* render_output_module();

// Prepares one render into out_path; the files are created when the module
// opens the output. module is asked for the title counter at each Open.
void render_output_begin(render_sink sink, const std::string& out_path, In_Module* module);
// Closes the sink's files with their sizes in place. False when any file of
// the render could not be created or written; render_output_failed_path
// names the first such file.
bool render_output_end();
const std::string& render_output_failed_path();

// The format of the first Open of the render; 0 before any.
int render_output_first_sample_rate();
int render_output_first_channels();
// How many calls the module has made to the output; it changes while the
// module is alive.
uint32_t render_output_calls();

// ---- Naming of the per-entry WAVE files -------------------------------------

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

// out_path without the extension of its last component, then "-NN.wav":
// "music.wav" and entry 3 give "music-03.wav".
inline std::string entry_wave_path(const std::string& out_path, int entry) {
    size_t name_start = out_path.find_last_of(std::string("/") + PLATFORM_PATH_SEPARATOR);
    name_start = name_start == std::string::npos ? 0 : name_start + 1;
    size_t dot = out_path.rfind('.');
    std::string stem = dot != std::string::npos && dot > name_start ? out_path.substr(0, dot) : out_path;
    char suffix[32];
    snprintf(suffix, sizeof suffix, "-%02d.wav", entry);
    return stem + suffix;
}
