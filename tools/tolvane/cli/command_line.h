// tolvane's command line: the commands, their options (also as --opt=value,
// with -- ending the options) and the help text of each. A usage error is
// one line, with a pointer to the command's help.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#define TOLVANE_VERSION_TEXT "tolvane " TOLVANE_VERSION

struct command_line {
    std::string command;  // empty for none; "help" for the help command
    std::vector<std::string> files;
    // For each of files, the folder it lies in below a folder given on the
    // command line ("" for a file given itself), for {dir} and -o DIR/.
    std::vector<std::string> file_folders;
    bool has_out = false;
    std::string out;
    std::string format;  // "", "wav", "raw", "flac" or "ogg"
    std::string module;
    std::string device;
    std::string entries;     // --entry as given
    std::string sound_bank;  // --xsb: the sound bank that names a wave bank's entries
    uint32_t rate = 0;       // --rate, 0 when not given (raw data's; pack's and encode's output rate)
    uint32_t channels = 0;
    bool json = false;
    uint32_t loops = 2;        // --loops: plays of a looped entry's loop
    uint32_t fade_ms = 10000;  // --fade, in milliseconds
    bool ignore_loop = false;  // --ignore-loop: entries play once
    uint32_t align = 2048;     // --align: pack's entry alignment
    std::string bank_name;     // --name: the packed bank's name
    bool in_place = false;     // --in-place: replace rewrites the bank itself
    int64_t loop_start = -1;   // --loop START-END, frames; -1 when not given
    int64_t loop_end = -1;
    bool no_loop = false;            // --no-loop: the replaced entry plays once
    std::string codec;               // --codec: "", "xbox-adpcm", "ms-adpcm" or "pcm", what pack and replace store
    std::string platform = "xbox";   // --platform: "xbox" or "windows", whom pack builds its bank for
    bool keep_input_format = false;  // --keep-input-format: replace keeps the new sound's rate and channels
    bool raw = false;                // --raw: decode a file of no known kind as raw data
    bool no_clobber = false;         // -n: keep outputs that exist
    bool quiet = false;
    bool strict = false;
    bool help = false;
    bool version = false;
};

// Fills line from the arguments. False on a usage error, with the one-line
// reason in error (without the program's name).
bool parse_command_line(int argc, char** argv, command_line* line, std::string* error);

// The help of a command, or the overview of them all for "".
std::string help_text(const std::string& command);
bool is_command(const std::string& word);
// The long names of the options the command takes, in the table's order.
std::vector<std::string> options_taken(const std::string& command);
