// Parsing tolvane's arguments against a table of options, and the help texts.

#include "tools/tolvane/cli/command_line.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>

#include "tools/tolvane/cli/render_plan.h"

namespace {

enum option_id {
    OPTION_OUT,
    OPTION_FORMAT,
    OPTION_ENTRY,
    OPTION_MODULE,
    OPTION_DEVICE,
    OPTION_XSB,
    OPTION_RATE,
    OPTION_CHANNELS,
    OPTION_JSON,
    OPTION_LOOPS,
    OPTION_FADE,
    OPTION_IGNORE_LOOP,
    OPTION_ALIGN,
    OPTION_NAME,
    OPTION_IN_PLACE,
    OPTION_LOOP,
    OPTION_NO_LOOP,
    OPTION_KEEP_INPUT_FORMAT,
    OPTION_CODEC,
    OPTION_PLATFORM,
    OPTION_RAW,
    OPTION_NO_CLOBBER,
    OPTION_QUIET,
    OPTION_STRICT,
    OPTION_HELP,
    OPTION_VERSION,
};

struct option_rule {
    option_id id;
    const char* long_name;
    const char* short_name;  // or null
    bool takes_value;
};

const option_rule OPTIONS[] = {
    {OPTION_OUT, "--output", "-o", true},
    {OPTION_FORMAT, "--format", nullptr, true},
    {OPTION_ENTRY, "--entry", nullptr, true},
    {OPTION_MODULE, "--module", nullptr, true},
    {OPTION_DEVICE, "--device", nullptr, true},
    {OPTION_XSB, "--xsb", nullptr, true},
    {OPTION_RATE, "--rate", nullptr, true},
    {OPTION_CHANNELS, "--channels", nullptr, true},
    {OPTION_JSON, "--json", nullptr, false},
    {OPTION_LOOPS, "--loops", nullptr, true},
    {OPTION_FADE, "--fade", nullptr, true},
    {OPTION_IGNORE_LOOP, "--ignore-loop", nullptr, false},
    {OPTION_ALIGN, "--align", nullptr, true},
    {OPTION_NAME, "--name", nullptr, true},
    {OPTION_IN_PLACE, "--in-place", nullptr, false},
    {OPTION_LOOP, "--loop", nullptr, true},
    {OPTION_NO_LOOP, "--no-loop", nullptr, false},
    {OPTION_KEEP_INPUT_FORMAT, "--keep-input-format", nullptr, false},
    {OPTION_CODEC, "--codec", nullptr, true},
    {OPTION_PLATFORM, "--platform", nullptr, true},
    {OPTION_RAW, "--raw", nullptr, false},
    {OPTION_NO_CLOBBER, "--no-clobber", "-n", false},
    {OPTION_QUIET, "--quiet", "-q", false},
    {OPTION_STRICT, "--strict", nullptr, false},
    {OPTION_HELP, "--help", "-h", false},
    {OPTION_VERSION, "--version", "-V", false},
};

// Each option's help line for the commands that take it. An option is taken
// by exactly the commands its rows name: this one table gives the parsing
// and the help of every command. A text's "\n" continues it on the next
// line, under its first.
struct option_help {
    option_id id;
    const char* commands;  // space-separated; "*" for every command
    const char* value;     // the value's name in the help, or null
    const char* text;
};

const option_help OPTION_HELP_ROWS[] = {
    {OPTION_OUT, "render", "OUT",
     "where the sound goes:\n"
     "  song.wav      one file; a bank's entries become\n"
     "                song-01.wav, song-02.wav... numbered\n"
     "                by record, as info lists them\n"
     "  DIR/          DIR/NAME.wav, or DIR/NAME-NN.wav per entry\n"
     "  a pattern     {name} (the file's name without its\n"
     "                extension), {entry}, {label} (the\n"
     "                entry's name, else its number), {rate},\n"
     "                {dir} (the folder below a folder given):\n"
     "                -o 'out/{name}-{label}.wav'\n"
     "  -             standard output, one stream:\n"
     "                tolvane render x.xwb --entry 2 -o - | ffplay -"},
    {OPTION_OUT, "extract", "OUT",
     "as for render: a file, DIR/ or a pattern with {name},\n"
     "{entry}, {label}, {rate}, {dir}: tolvane extract x.xwb -o rip/"},
    {OPTION_OUT, "pack", "OUT",
     "OUT.xwb a version-3 wave bank (version 46 with\n"
     "--platform windows), OUT.wba the same behind the\n"
     "4096-byte container, OUT.zwb packed with zlib, OUT.xsh\n"
     "a stream pair (OUT.xsh and OUT.xsd)"},
    {OPTION_OUT, "replace", "OUT", "the bank to write (a pair: OUT.xsh and OUT.xsd)"},
    {OPTION_OUT, "encode", "OUT", "the WAVE to write"},
    {OPTION_OUT, "demo", "DIR", "where the demo's WAVE files go without a sound card"},
    {OPTION_ENTRY, "render", "LIST",
     "the entries of a bank or stream pair, by record number:\n"
     "--entry 3, --entry 2-5,9, --entry 3- (to the last),\n"
     "--entry -5 (from the first); numbers the file lacks\n"
     "are left out with a warning"},
    {OPTION_ENTRY, "extract", "LIST", "the records, as for render: --entry 2-5,9"},
    {OPTION_ENTRY, "play", "LIST",
     "only these entries of a bank or stream pair are heard,\nby record number as for render"},
    {OPTION_ENTRY, "replace", "N", "the record to replace, numbered as info lists it,\nor named"},
    {OPTION_FORMAT, "render", "FORMAT",
     "wav, raw, flac or ogg; else OUT's extension decides\n"
     "(.wav, .raw, .flac, .ogg; wav for a folder, for -, or a\n"
     "name without extension). A raw file or standard output\n"
     "holds one format: entries of several are refused there.\n"
     "FLAC and Ogg Vorbis carry the entry's name as title and\n"
     "its loop as LOOPSTART/LOOPLENGTH (not on Windows)"},
    {OPTION_LOOPS, "render", "N",
     "a looped entry plays to its loop's end, then its loop\n"
     "until it has played N times (default 2), as the game\n"
     "plays it"},
    {OPTION_LOOPS, "info", "N", "how looped_ms counts a looped entry (as render does)"},
    {OPTION_FADE, "render", "S", "then S seconds of the loop faded out (default 10; 2.5)"},
    {OPTION_FADE, "info", "S", "the fade looped_ms counts (as render does)"},
    {OPTION_IGNORE_LOOP, "render", nullptr, "every entry once through, as the player plays it"},
    {OPTION_JSON, "info", nullptr,
     "one JSON document per file, each on one line:\n"
     "tolvane info music.xwb --json\n"
     "a file that fails gets {\"file\": ..., \"error\": ...}"},
    {OPTION_CODEC, "pack", "C",
     "store every entry that is not in that codec already as\n"
     "xbox-adpcm or pcm (8-bit input stays 8-bit, else 16), or\n"
     "for --platform windows ms-adpcm or pcm"},
    {OPTION_CODEC, "replace", "C",
     "what an xWMA, WMA Pro or XMA record becomes: ms-adpcm\n"
     "(the default) or pcm (16-bit); other records keep theirs"},
    {OPTION_PLATFORM, "pack", "P",
     "xbox (a version-3 bank, the default) or windows (a\n"
     "version-46 bank of PCM and Microsoft ADPCM, .xwb only)"},
    {OPTION_RATE, "render info extract", "HZ", "the sample rate of raw data (default 44100): --rate 22050"},
    {OPTION_RATE, "pack", "HZ", "resample to HZ (needed above 48000 Hz, which the Xbox\ncannot play)"},
    {OPTION_RATE, "encode", "HZ", "resample to HZ (needed above 48000 Hz)"},
    {OPTION_CHANNELS, "render info extract", "N", "the channel count of raw data, 1 to 8 (default 2): --channels 1"},
    {OPTION_CHANNELS, "pack encode", "N", "mix to N channels (an even downmix; mono to every one)"},
    {OPTION_ALIGN, "pack", "N", "each entry starts on a multiple of N bytes (default 2048)"},
    {OPTION_NAME, "pack", "BANK",
     "the bank's name, at most 16 bytes, 64 for --platform\nwindows (default: OUT's name)"},
    {OPTION_IN_PLACE, "replace", nullptr, "rewrite BANK itself (whole or not at all)"},
    {OPTION_LOOP, "replace", "START-END", "loop these frames of the new sound"},
    {OPTION_NO_LOOP, "replace", nullptr, "the new sound plays once"},
    {OPTION_KEEP_INPUT_FORMAT, "replace", nullptr,
     "keep NEW's own rate and channels (a compact bank's\nshared format never changes)"},
    {OPTION_RAW, "render extract", nullptr,
     "decode a file of no known kind as raw Xbox ADPCM (.dat\n"
     "files are raw by name); other such files are refused"},
    {OPTION_RAW, "info", nullptr, "a file of no known kind is raw data: no warning"},
    {OPTION_QUIET, "render", nullptr, "no list of the files written, no progress bar, no warnings"},
    {OPTION_QUIET, "info extract", nullptr, "no warnings on standard error"},
    {OPTION_QUIET, "pack replace encode demo", nullptr, "say nothing but errors"},
    {OPTION_QUIET, "play", nullptr, "no status line and no warnings"},
    {OPTION_NO_CLOBBER, "render extract", nullptr,
     "keep outputs that exist (each one said); without it\nthey are replaced"},
    {OPTION_NO_CLOBBER, "pack replace encode demo", nullptr, "keep OUT when it exists"},
    {OPTION_STRICT, "render extract", nullptr, "exit 1 when a warning about what was chosen was given\n(-q or not)"},
    {OPTION_STRICT, "info", nullptr, "exit 1 when a warning was given"},
    {OPTION_DEVICE, "play", "NAME",
     "the sound device: an ALSA name (hw:1), a waveOut number\n"
     "or name on Windows; null plays in real time into nothing\n"
     "example: tolvane play music.xwb --device null"},
    {OPTION_DEVICE, "demo", "NAME", "the sound device (see tolvane help play)"},
    {OPTION_MODULE, "play render info demo", "PATH", "the player module to load (default: the one beside tolvane)"},
    {OPTION_MODULE, "extract", "PATH", "taken as render takes it; extract reads files without the module"},
    {OPTION_XSB, "play render info extract", "FILE",
     "the sound bank (.xsb) whose cue names name a wave bank's\n"
     "entries; without it, the .xsb files beside the bank that\n"
     "name it (or, for a bank without a name, the one of its own\n"
     "stem) are used"},
    {OPTION_HELP, "*", nullptr, "this help"},
    {OPTION_VERSION, "*", nullptr, "the version"},
};

const char* const COMMANDS[] = {"play", "render", "info", "extract", "pack", "replace", "encode", "demo", "help"};

const char OVERVIEW[] =
    "usage: tolvane COMMAND [OPTION]... [FILE]...\n"
    "\n"
    "Plays, renders and lists Xbox ADPCM sound (.wav .xwb .wba .zwb .xsh/.xsd\n"
    ".dat) through the in_tolvane player module, as the player does.\n"
    "\n"
    "commands:\n"
    "  play     play files through the sound card, one after another\n"
    "  render   decode files, or chosen bank entries, to WAVE, raw PCM, FLAC or Ogg\n"
    "  info     what the player shows of a file, and every entry of a bank\n"
    "  extract  write bank entries as they are stored, without decoding\n"
    "  pack     build a bank or stream pair from WAVE files\n"
    "  replace  replace one entry of a bank or stream pair\n"
    "  encode   turn a sound file into an Xbox ADPCM WAVE\n"
    "  demo     play (or render) a generated wave bank\n"
    "  help     the help of one command: tolvane help render\n"
    "\n"
    "  -h, --help     this help; tolvane COMMAND --help for one command's\n"
    "  -V, --version  the version\n"
    "\n"
    "Options take their value as --opt VALUE or --opt=VALUE; -- ends the\n"
    "options, so a file may begin with a dash.\n"
    "\n"
    "exit status: 0 done; 1 a file could not be played, read or written (or,\n"
    "with --strict, something was noticed); 2 wrong usage; 130 stopped by Ctrl-C\n";

const char PLAY_HELP[] =
    "usage: tolvane play FILE... [--entry LIST] [--device NAME] [--module PATH] [--xsb FILE] [-q]\n"
    "\n"
    "Plays the files one after another through the sound card, as a playlist.\n"
    "On a terminal: space pauses, left and right seek 5 s, n skips, q quits.\n";

const char RENDER_HELP[] =
    "usage: tolvane render FILE... -o OUT [--entry LIST] [--format wav|raw|flac|ogg] [-q] [-n]\n"
    "                      [--loops N] [--fade S] [--ignore-loop] [--strict] [--raw]\n"
    "                      [--rate HZ] [--channels N] [--module PATH] [--xsb FILE]\n"
    "\n"
    "Plays each FILE through the player module as fast as it decodes and writes\n"
    "its sound as 16-bit PCM: a WAVE file per stream or bank entry, or raw\n"
    "samples. One line per file written. Each output appears only once it is\n"
    "complete: Ctrl-C or a failed write leaves nothing under its name.\n";

const char RENDER_TAIL[] =
    "Warnings (on standard error): records lost or sound cut short by the end\n"
    "of the file, bank records skipped, entries chosen that the file lacks. A\n"
    "file that yields no sound is an error. No file given is ever overwritten.\n"
    "Several files end with a summary line on a terminal.\n";

const char INFO_HELP[] =
    "usage: tolvane info FILE... [--json] [--strict] [-q] [--raw] [--loops N] [--fade S]\n"
    "                    [--rate HZ] [--channels N] [--module PATH] [--xsb FILE]\n"
    "\n"
    "Prints what the player shows right after FILE starts: title, length_ms,\n"
    "sample_rate, channels and entries. Then one row per bank record or stream\n"
    "pair entry (for a single stream, one row): record number, offset, bytes,\n"
    "rate, channels, the frames and milliseconds it plays (and how long render\n"
    "makes a looped one), its loop, the frames the file states and its name;\n"
    "a skipped record says why. Several files: each begins with a line \"file:\n"
    "PATH\". Nothing is written: a compressed bank without its cache is looked\n"
    "at in memory. A wave bank's entries without names of their own take the\n"
    "names of the sound bank cues that play them; a line \"note:\" says which\n"
    "sound bank named them, or why one named nothing.\n";

const char EXTRACT_HELP[] =
    "usage: tolvane extract FILE... -o OUT [--entry LIST] [-q] [-n] [--strict]\n"
    "                       [--raw] [--rate HZ] [--channels N] [--module PATH] [--xsb FILE]\n"
    "\n"
    "Writes each chosen entry's sound as the file stores it, without decoding:\n"
    "an Xbox ADPCM entry as an Xbox ADPCM WAVE (its frames, loop and name in\n"
    "fact, smpl and LIST chunks), a Microsoft ADPCM entry as a Microsoft ADPCM\n"
    "WAVE with the same chunks, a PCM entry as a PCM WAVE (an Xbox 360 bank's\n"
    "big-endian samples swapped), a WMA entry as the .wma file it holds, an\n"
    "xWMA or WMA Pro entry as an .xwma file with its seek table, an XMA entry\n"
    "as an XMA WAVE, a single stream as its WAVE. Rendering an extracted WAVE\n"
    "gives exactly the entry's samples.\n";

const char PACK_HELP[] =
    "usage: tolvane pack IN... -o OUT [--platform xbox|windows] [--codec xbox-adpcm|ms-adpcm|pcm]\n"
    "       [--rate HZ] [--channels N] [--align N] [--name BANK] [-q] [-n]\n"
    "\n"
    "Builds a container from sound files, one entry each, in the order given:\n"
    "Xbox ADPCM WAVEs are taken as they are, 8 and 16-bit PCM WAVEs stay PCM of\n"
    "their depth, every other file is encoded to Xbox ADPCM: WAVE (24 or 32-bit\n"
    "PCM, 32-bit float), FLAC, Ogg Vorbis, AIFF (tolvane.exe reads 16-bit PCM\n"
    "WAVE only). The entries are named by the files' titles (INAM), else their\n"
    "file names, and keep their loops (smpl, instrument, or LOOPSTART and\n"
    "LOOPLENGTH comments), in whole block sets for Xbox ADPCM.\n"
    "\n"
    "With --platform windows, OUT.xwb is a bank of content version 46 as Windows\n"
    "games read it: PCM WAVEs stay PCM of their depth, Microsoft ADPCM WAVEs\n"
    "of a block a bank can state are taken as they are, every other file is\n"
    "encoded to Microsoft ADPCM.\n";

const char REPLACE_HELP[] =
    "usage: tolvane replace BANK NEW --entry N (-o OUT | --in-place)\n"
    "       tolvane replace BANK DIR/ (-o OUT | --in-place)\n"
    "       [--loop START-END | --no-loop] [--keep-input-format] [--codec pcm|ms-adpcm] [-q] [-n]\n"
    "\n"
    "Writes BANK (.xwb, .wba, .zwb, or a stream pair) with record N's sound\n"
    "replaced by NEW's and everything else kept. NEW is any file pack reads; an\n"
    "Xbox ADPCM WAVE goes in as it is, any other is resampled to the record's\n"
    "rate, mixed to its channels and stored in its codec (PCM of its depth, or\n"
    "Xbox ADPCM, or Microsoft ADPCM in a Windows bank, which an xWMA, WMA Pro\n"
    "or XMA record becomes unless --codec pcm makes it 16-bit PCM). The loop is\n"
    "NEW's own, else the record's, scaled to the new length. The sound after it\n"
    "moves to the next aligned offset. What was done is said in one line.\n"
    "\n"
    "With a folder, every file in DIR named after an entry's label (its name,\n"
    "else its record number, as extract -o DIR/{label}.wav names its files) or\n"
    "numbered as extract -o DIR/ names them (BANK-NN) replaces that entry, all\n"
    "in one pass; files that match no entry are listed.\n";

const char ENCODE_HELP[] =
    "usage: tolvane encode IN (OUT.wav | -o OUT.wav) [--rate HZ] [--channels N] [-q] [-n]\n"
    "\n"
    "Turns a sound file of 1 to 8 channels (any file pack reads but Xbox\n"
    "ADPCM) into an Xbox ADPCM WAVE with a \"fact\" chunk stating its exact\n"
    "frame count, keeping its loop and its name.\n";

const char DEMO_HELP[] =
    "usage: tolvane demo [-o DIR] [--device NAME] [--module PATH] [-q] [-n]\n"
    "\n"
    "Plays a wave bank of three generated tunes through the module; without a\n"
    "sound card, renders them to DIR/tolvane-demo-01.wav... (DIR: the current\n"
    "folder by default).\n";

const char HELP_HELP[] =
    "usage: tolvane help [COMMAND]\n"
    "\n"
    "The help of one command, or the overview.\n";

bool names_command(const char* commands, const std::string& command) {
    if (strcmp(commands, "*") == 0) return true;
    const char* at = strstr(commands, command.c_str());
    if (!at || command.empty()) return false;
    char after = at[command.size()];
    return (at == commands || at[-1] == ' ') && (after == ' ' || after == '\0');
}

// The help row of the option for the command, or null when it does not take it.
const option_help* help_row(option_id id, const std::string& command) {
    for (const option_help& row : OPTION_HELP_ROWS)
        if (row.id == id && names_command(row.commands, command)) return &row;
    return nullptr;
}

bool takes(const option_rule& option, const std::string& command) {
    return help_row(option.id, command) != nullptr;
}

// "  -o, --output OUT": an option's name as its help line begins.
std::string option_words(const option_rule& option, const option_help& row) {
    std::string words = "  ";
    if (option.short_name) words += std::string(option.short_name) + ", ";
    words += option.long_name;
    if (row.value) words += std::string(" ") + row.value;
    return words;
}

// The command's options, one help line each (continued under the first),
// in the table's order.
std::string options_help(const std::string& command) {
    size_t column = 0;
    for (const option_rule& option : OPTIONS) {
        const option_help* row = help_row(option.id, command);
        if (row) column = std::max(column, option_words(option, *row).size() + 2);
    }
    std::string text;
    for (const option_rule& option : OPTIONS) {
        const option_help* row = help_row(option.id, command);
        if (!row) continue;
        std::string words = option_words(option, *row);
        text += words + std::string(column - words.size(), ' ');
        for (const char* at = row->text; *at; ++at) {
            text += *at;
            if (*at == '\n') text += std::string(column, ' ');
        }
        text += '\n';
    }
    return text;
}

const option_rule* find_option(const std::string& name) {
    for (const option_rule& option : OPTIONS)
        if (name == option.long_name || (option.short_name && name == option.short_name)) return &option;
    return nullptr;
}

// Edits (insertions, deletions, substitutions) between two words.
size_t edit_distance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// " (did you mean --json?)" for a name a typing slip away from an option's,
// or one that begins an option's name; "" when none is near.
std::string nearest_option(const std::string& name) {
    const char* best = nullptr;
    size_t best_distance = 3;
    for (const option_rule& option : OPTIONS) {
        std::string long_name = option.long_name;
        size_t distance = edit_distance(name, long_name);
        if (name.size() > 3 && long_name.compare(0, name.size(), name) == 0) distance = 1;
        if (distance < best_distance) {
            best_distance = distance;
            best = option.long_name;
        }
    }
    return best ? std::string(" (did you mean ") + best + "?)" : "";
}

// Seconds with at most three decimals, from 0 to 600, as milliseconds.
bool parse_seconds(const std::string& text, uint32_t* milliseconds) {
    size_t dot = text.find('.');
    std::string whole = text.substr(0, dot);
    std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    if (whole.empty() || whole.size() > 3 || fraction.size() > 3) return false;
    if ((whole + fraction).find_first_not_of("0123456789") != std::string::npos) return false;
    if (dot != std::string::npos && fraction.empty()) return false;
    while (fraction.size() < 3) fraction += '0';
    uint32_t ms = (uint32_t)atoi(whole.c_str()) * 1000 + (uint32_t)atoi(fraction.c_str());
    if (ms > 600000) return false;
    *milliseconds = ms;
    return true;
}

// A whole decimal number from min to max.
bool parse_number(const std::string& text, uint32_t min, uint32_t max, uint32_t* value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    unsigned long number = strtoul(text.c_str(), nullptr, 10);
    if (number < min || number > max) return false;
    *value = (uint32_t)number;
    return true;
}

bool store(const option_rule& option, const std::string& value, command_line* line, std::string* error) {
    switch (option.id) {
    case OPTION_OUT:
        line->has_out = true;
        line->out = value;
        return true;
    case OPTION_FORMAT:
        if (value != "raw" && value != "wav" && value != "flac" && value != "ogg") {
            *error = "--format takes wav, raw, flac or ogg, not \"" + value + "\"";
            return false;
        }
        line->format = value;
        return true;
    case OPTION_LOOPS:
        if (!parse_number(value, 1, 1000, &line->loops)) {
            *error = "--loops takes a count of plays from 1 to 1000, not \"" + value + "\"";
            return false;
        }
        return true;
    case OPTION_FADE:
        if (!parse_seconds(value, &line->fade_ms)) {
            *error = "--fade takes seconds from 0 to 600, such as 10 or 2.5, not \"" + value + "\"";
            return false;
        }
        return true;
    case OPTION_IGNORE_LOOP:
        line->ignore_loop = true;
        return true;
    case OPTION_ALIGN:
        if (!parse_number(value, 1, 1u << 20, &line->align)) {
            *error = "--align takes a byte count from 1 to 1048576, not \"" + value + "\"";
            return false;
        }
        return true;
    case OPTION_NAME:
        line->bank_name = value;
        return true;
    case OPTION_IN_PLACE:
        line->in_place = true;
        return true;
    case OPTION_LOOP: {
        size_t dash = value.find('-');
        uint32_t start = 0;
        uint32_t end = 0;
        if (dash == std::string::npos || !parse_number(value.substr(0, dash), 0, UINT32_MAX - 1, &start) ||
            !parse_number(value.substr(dash + 1), 1, UINT32_MAX, &end) || end <= start) {
            *error = "--loop takes START-END in frames, START before END, not \"" + value + "\"";
            return false;
        }
        line->loop_start = start;
        line->loop_end = end;
        return true;
    }
    case OPTION_CODEC:
        if (value != "xbox-adpcm" && value != "ms-adpcm" && value != "pcm") {
            *error = "--codec takes xbox-adpcm, ms-adpcm or pcm, not \"" + value + "\"";
            return false;
        }
        line->codec = value;
        return true;
    case OPTION_PLATFORM:
        if (value == "xbox360") {
            *error = "--platform xbox360: tolvane reads Xbox 360 banks but does not write them";
            return false;
        }
        if (value != "xbox" && value != "windows") {
            *error = "--platform takes xbox or windows, not \"" + value + "\"";
            return false;
        }
        line->platform = value;
        return true;
    case OPTION_NO_LOOP:
        line->no_loop = true;
        return true;
    case OPTION_KEEP_INPUT_FORMAT:
        line->keep_input_format = true;
        return true;
    case OPTION_ENTRY: {
        std::vector<std::pair<int32_t, int32_t>> ranges;
        // replace takes one record, by its number or its name.
        if (line->command == "replace" && !value.empty()) {
            line->entries = value;
            return true;
        }
        if (!parse_entry_list(value, &ranges)) {
            *error = "--entry takes record numbers such as 3, 2-5,9, 3- or -5, not \"" + value + "\"";
            return false;
        }
        line->entries = value;
        return true;
    }
    case OPTION_MODULE:
        line->module = value;
        return true;
    case OPTION_DEVICE:
        line->device = value;
        return true;
    case OPTION_XSB:
        line->sound_bank = value;
        return true;
    case OPTION_RATE:
        if (!parse_number(value, MIN_SAMPLE_RATE, 1000000, &line->rate)) {
            *error = "--rate takes a sample rate from " + std::to_string(MIN_SAMPLE_RATE) + " to 1000000 Hz, not \"" +
                     value + "\"";
            return false;
        }
        return true;
    case OPTION_CHANNELS:
        if (!parse_number(value, 1, MAX_CHANNELS, &line->channels)) {
            *error = "--channels takes a channel count from 1 to " + std::to_string(MAX_CHANNELS) + ", not \"" + value +
                     "\"";
            return false;
        }
        return true;
    case OPTION_JSON:
        line->json = true;
        return true;
    case OPTION_RAW:
        line->raw = true;
        return true;
    case OPTION_NO_CLOBBER:
        line->no_clobber = true;
        return true;
    case OPTION_QUIET:
        line->quiet = true;
        return true;
    case OPTION_STRICT:
        line->strict = true;
        return true;
    case OPTION_HELP:
        line->help = true;
        return true;
    case OPTION_VERSION:
        line->version = true;
        return true;
    }
    return false;
}

struct pending_option {
    const option_rule* rule;
    std::string value;
};

// What each command needs beyond its options.
bool check_arguments(const command_line& line, std::string* error) {
    const std::string& c = line.command;
    size_t files = line.files.size();
    if (c == "play" && files == 0) *error = "play needs a FILE";
    bool writes_outputs = c == "render" || c == "extract" || c == "pack";
    if (writes_outputs && files == 0) *error = c + " needs a FILE";
    if (writes_outputs && files > 0 && !line.has_out) *error = c + " needs -o OUT";
    if (line.has_out && line.out.empty()) *error = "-o needs a name";
    std::string unknown = unknown_placeholder(line.out);
    if ((c == "render" || c == "extract") && !unknown.empty())
        *error =
            "-o has " + unknown + ", which tolvane does not know: {name}, {entry}, {label} and {rate} are filled in";
    if (c == "replace" && files != 2) *error = "replace needs BANK and NEW.wav";
    std::error_code probe;
    bool replaces_from_folder = c == "replace" && files == 2 && std::filesystem::is_directory(line.files[1], probe);
    if (c == "replace" && files == 2 && line.entries.empty() && !replaces_from_folder)
        *error = "replace needs --entry N (or a folder of sounds named after the entries)";
    if (c == "replace" && files == 2 && line.has_out == line.in_place)
        *error = line.in_place ? "replace takes -o OUT or --in-place, not both" : "replace needs -o OUT or --in-place";
    if (c == "replace" && line.no_loop && line.loop_start >= 0) *error = "replace takes --loop or --no-loop, not both";
    bool windows = line.platform == "windows";
    if (c == "pack" && windows && line.codec == "xbox-adpcm")
        *error = "--codec xbox-adpcm does not go with --platform windows: a Windows bank holds PCM or Microsoft ADPCM";
    if (c == "pack" && !windows && line.codec == "ms-adpcm")
        *error = "--codec ms-adpcm needs --platform windows: an Xbox bank holds Xbox ADPCM or PCM";
    if (c == "replace" && line.codec == "xbox-adpcm")
        *error = "replace takes --codec pcm or ms-adpcm: an Xbox ADPCM record keeps its codec without it";
    if (c == "info" && files == 0) *error = "info needs a FILE";
    if (c == "encode" && files != (line.has_out ? 1u : 2u))
        *error = line.has_out ? "encode takes one IN with -o OUT" : "encode needs IN and OUT (or -o OUT)";
    if (c == "demo" && files > 0) *error = "demo takes no FILE";
    if (c == "help" && files > 1) *error = "help takes one COMMAND";
    if (c == "help" && files == 1 && !is_command(line.files[0])) *error = "no command \"" + line.files[0] + "\"";
    return error->empty();
}

}  // namespace

bool is_command(const std::string& word) {
    for (const char* command : COMMANDS)
        if (word == command) return true;
    return false;
}

std::string help_text(const std::string& command) {
    struct command_help {
        const char* command;
        const char* head;
        const char* tail;
    };
    static const command_help HELPS[] = {
        {"play", PLAY_HELP, nullptr},       {"render", RENDER_HELP, RENDER_TAIL}, {"info", INFO_HELP, nullptr},
        {"extract", EXTRACT_HELP, nullptr}, {"pack", PACK_HELP, nullptr},         {"replace", REPLACE_HELP, nullptr},
        {"encode", ENCODE_HELP, nullptr},   {"demo", DEMO_HELP, nullptr},         {"help", HELP_HELP, nullptr},
    };
    for (const command_help& help : HELPS) {
        if (command != help.command) continue;
        std::string text = std::string(help.head) + "\n" + options_help(command);
        if (help.tail) text += std::string("\n") + help.tail;
        return text;
    }
    return OVERVIEW;
}

std::vector<std::string> options_taken(const std::string& command) {
    std::vector<std::string> names;
    for (const option_rule& option : OPTIONS)
        if (takes(option, command)) names.push_back(option.long_name);
    return names;
}

bool parse_command_line(int argc, char** argv, command_line* line, std::string* error) {
    // Bare tolvane: the overview.
    if (argc <= 1) {
        line->help = true;
        return true;
    }
    std::vector<pending_option> options;
    bool options_ended = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (options_ended || argument == "-" || argument.empty() || argument[0] != '-') {
            if (line->command.empty() && !options_ended) {
                if (!is_command(argument)) {
                    *error = "no command \"" + argument + "\"";
                    return false;
                }
                line->command = argument;
            } else {
                line->files.push_back(argument);
            }
            continue;
        }
        if (argument == "--") {
            options_ended = true;
            continue;
        }
        size_t equals = argument.compare(0, 2, "--") == 0 ? argument.find('=') : std::string::npos;
        std::string name = argument.substr(0, equals);
        const option_rule* rule = find_option(name);
        if (!rule) {
            *error = "unknown option " + name + nearest_option(name);
            return false;
        }
        pending_option option{rule, ""};
        if (equals != std::string::npos) {
            if (!rule->takes_value) {
                *error = name + " takes no value";
                return false;
            }
            option.value = argument.substr(equals + 1);
        } else if (rule->takes_value) {
            if (i + 1 >= argc) {
                *error = name + " needs a value";
                return false;
            }
            option.value = argv[++i];
        }
        options.push_back(option);
    }
    // Options may come before the command; they are checked against it once
    // it is known.
    for (const pending_option& option : options) {
        if (!line->command.empty() && !takes(*option.rule, line->command)) {
            *error = line->command + " takes no " + option.rule->long_name;
            return false;
        }
        if (line->command.empty() && option.rule->id != OPTION_HELP && option.rule->id != OPTION_VERSION) {
            *error = "no command given";
            return false;
        }
        if (!store(*option.rule, option.value, line, error)) return false;
    }
    if (line->help || line->version) return true;
    if (line->command.empty()) {
        *error = "no command given";
        return false;
    }
    return check_arguments(*line, error);
}
