// What tolvane's commands share: exit statuses, the one-line messages, and a
// file described as the tool sees it before anything plays (its description,
// its warnings, and whether it is to be decoded as raw data).
#pragma once

#include <stdio.h>

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "containers/stream_description.h"
#include "tools/tolvane/cli/command_line.h"
#include "tools/tolvane/cli/file_report.h"

const int EXIT_OK = 0;
const int EXIT_FAILED = 1;
const int EXIT_USAGE = 2;
// What a shell reports for a program ended by Ctrl-C.
const int EXIT_INTERRUPTED = 130;

// "tolvane: REASON (see 'tolvane COMMAND --help')" on stderr; EXIT_USAGE.
int usage_error(const std::string& reason, const std::string& command);
// "tolvane: WHAT NAME: REASON" on stderr; EXIT_FAILED.
int failure(const char* what, const std::string& name, const std::string& reason = "");
// "tolvane: warning: PATH: TEXT" on stderr.
void warn(const std::string& path, const std::string& text);
// "tolvane: interrupted" on stderr, with every unfinished output removed;
// EXIT_INTERRUPTED.
int interrupted_exit();

std::string module_path_of(const command_line& line);
std::string device_name_of(const command_line& line);

// Why a file failed, as one line says it: "cannot read x.wav: no such file".
struct file_failure {
    std::string what;  // "cannot read", "cannot play", "cannot render"...
    std::string reason;
};

// A file as a command sees it before it plays: its description (with --rate
// and --channels applied to raw data), and what was noticed.
struct described_file {
    stream_description d;
    bool format_overridden = false;
    std::vector<file_warning> warnings;
    // Which sound banks named the entries, or why one named nothing.
    std::vector<std::string> notes;
    described_file() {
        description_init(&d);
    }
    ~described_file() {
        description_release(&d);
    }
    described_file(const described_file&) = delete;
    described_file& operator=(const described_file&) = delete;
};

// Describes path for a command. decoding says the command decodes sound from
// it: such a command takes a file as raw data only when it is a .dat file or
// --raw, --rate or --channels is given. A wave bank's records without names
// are named from its sound banks (--xsb, else those beside it). False with
// the failure.
bool describe_for_tool(const command_line& line, const std::string& path, bool decoding, described_file* file,
                       file_failure* failed);

// The records an --entry list chooses; every record without --entry.
typedef std::vector<std::pair<int32_t, int32_t>> record_ranges;
record_ranges chosen_ranges(const command_line& line);
// True when the warning is about the whole file or a chosen record.
bool warning_concerns(const file_warning& warning, const record_ranges& chosen);

// Replaces each folder among the files by the files below it, in sorted
// order, keeping only those of a kind Tolvane knows (every file with --raw),
// and a stream pair once, by its header; notes each file's folder below the
// one given. False with the reason on stderr when a folder cannot be read.
bool walk_folders(command_line* line);
// -o for the file at index: under -o DIR/ the file's folder below the one
// given, and {dir} replaced by it.
std::string out_for_file(const command_line& line, const std::string& path);

// The input's name without its folder and extension, for {name}.
std::string stem_of(const std::string& path);
// The path as Play leaves it: a stream pair's partner named.
std::string path_played(const std::string& path, const stream_description& d);
// The files the input is made of: itself, and a stream pair's partner.
std::vector<std::string> inputs_of(const std::string& path, const stream_description& d);
bool same_file(const std::string& a, const std::string& b);
// What a command writing the entries of each input (render, extract) has
// done so far.
struct outputs_run {
    const command_line* line = nullptr;
    std::set<std::string> outputs;  // every file this run writes
    bool warned = false;
    int files_failed = 0;
    int entries_written = 0;
};
// Calls one for each input in turn; an interrupt ends the command. After
// several inputs, with summary, a terminal is told "N files, N entries
// written, N refused". EXIT_FAILED when an input failed or, with --strict, a
// warning was given.
int run_each_input(outputs_run* run, const std::function<int(const std::string&)>& one, bool summary);
// With --no-clobber, true when a file is at path, said as "kept PATH: it
// exists (--no-clobber)".
bool kept_existing(const command_line& line, const std::string& path);
