// tolvane: a command-line host for the player module. It loads the module as
// the player does and plays files through it: `render` writes what the module
// outputs, `info` prints what the player would show, `demo` renders a
// generated tune.

#include <math.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tools/tolvane/host_session.h"
#include "tools/tolvane/render_output.h"
#include "tools/tolvane/wave_writer.h"
#include "tools/tolvane/xbox_adpcm_encoder.h"

namespace {

const int EXIT_OK = 0;
const int EXIT_FAILED = 1;
const int EXIT_USAGE = 2;

// A decode thread that has not called the output for this long has ended
// without posting the end-of-stream message. Far above the longest quiet
// stretch of a working module (one block set), even on a loaded machine.
const uint32_t STALL_LIMIT_MS = 30000;

const char USAGE[] =
    "usage: tolvane render FILE -o OUT [--format raw|wav] [--module PATH]\n"
    "       tolvane info FILE [--module PATH]\n"
    "       tolvane demo [-o DIR] [--module PATH]\n"
    "       tolvane --help\n"
    "\n"
    "  render  plays FILE through the player module as fast as it decodes and\n"
    "          writes the sound to OUT: raw 16-bit PCM (OUT ending in .raw, or\n"
    "          --format raw) or 16-bit PCM WAVE (OUT ending in .wav, or --format\n"
    "          wav); a bank gives one WAVE per entry, OUT's name then -01, -02...\n"
    "  info    plays FILE silently and prints the title, length, format and\n"
    "          entry count that the player shows\n"
    "  demo    renders a short generated chord to DIR/tolvane-demo.wav\n"
    "\n"
    "  --module PATH  the player module to load (default: the one beside tolvane)\n";

struct command_line {
    std::string command;
    std::string file;
    std::string out;
    std::string format;
    std::string module;
    bool help = false;
};

// ---- Command line --------------------------------------------------------------

int usage_error(const char* reason, const std::string& detail) {
    fprintf(stderr, "tolvane: %s%s\n%s", reason, detail.c_str(), USAGE);
    return EXIT_USAGE;
}

bool is_option_with_value(const std::string& argument) {
    return argument == "-o" || argument == "--format" || argument == "--module";
}

void store_option(command_line* line, const std::string& option, const std::string& value) {
    if (option == "-o") line->out = value;
    if (option == "--format") line->format = value;
    if (option == "--module") line->module = value;
}

// Fills line from argv; returns EXIT_OK, or the usage error's exit status.
int parse_command_line(int argc, char** argv, command_line* line) {
    for (int i = 1; i < argc; i++) {
        std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            line->help = true;
        } else if (is_option_with_value(argument)) {
            if (i + 1 >= argc) return usage_error("missing value after ", argument);
            store_option(line, argument, argv[++i]);
        } else if (argument.size() > 1 && argument[0] == '-') {
            return usage_error("unknown option ", argument);
        } else if (line->command.empty()) {
            line->command = argument;
        } else if (line->file.empty()) {
            line->file = argument;
        } else {
            return usage_error("unexpected argument ", argument);
        }
    }
    return EXIT_OK;
}

bool ends_with_ignoring_case(const std::string& text, const char* suffix) {
    size_t length = strlen(suffix);
    if (text.size() < length) return false;
    for (size_t i = 0; i < length; i++) {
        char c = text[text.size() - length + i];
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        if (c != suffix[i]) return false;
    }
    return true;
}

// The sink for `render`: --format decides, else OUT's extension. False when
// neither says.
bool choose_sink(const command_line& line, render_sink* sink) {
    bool raw = line.format == "raw" || (line.format.empty() && ends_with_ignoring_case(line.out, ".raw"));
    bool wave = line.format == "wav" || (line.format.empty() && ends_with_ignoring_case(line.out, ".wav"));
    if (!raw && !wave) return false;
    *sink = raw ? RENDER_TO_RAW : RENDER_TO_WAVE;
    return true;
}

std::string module_path_of(const command_line& line) {
    return line.module.empty() ? default_module_path() : line.module;
}

// ---- Playing through the module -------------------------------------------------

int failure(const char* what, const std::string& name) {
    fprintf(stderr, "tolvane: %s %s\n", what, name.c_str());
    return EXIT_FAILED;
}

bool open_session(host_session* session, const std::string& module_path) {
    return session_open(session, module_path.c_str(), render_output_module());
}

// Plays file to its end through the render output; the exit status.
int render_file(const std::string& module_path, const std::string& file, const std::string& out, render_sink sink) {
    host_session session;
    if (!open_session(&session, module_path)) return failure("cannot load module", module_path);
    render_output_begin(sink, out, session.module);
    bool played = session_play(&session, file.c_str());
    bool ended = played && session_wait_for_end(&session, render_output_last_call_ms, STALL_LIMIT_MS);
    session_stop(&session);
    bool written = render_output_end();
    session_close(&session);
    if (!written) return failure("cannot write", render_output_failed_path());
    if (!played) return failure("cannot play", file);
    if (!ended) return failure("playback stopped without reaching the end of", file);
    return EXIT_OK;
}

int run_render(const command_line& line) {
    if (line.file.empty()) return usage_error("render needs a FILE", "");
    if (line.out.empty()) return usage_error("render needs -o OUT", "");
    render_sink sink = RENDER_TO_WAVE;
    if (!choose_sink(line, &sink)) return usage_error("cannot tell whether to write raw or wav: ", line.out);
    return render_file(module_path_of(line), line.file, line.out, sink);
}

struct item_info {
    std::string title;
    int length_ms = 0;
    int sample_rate = 0;
    int channels = 0;
    int entries = 0;
};

void read_item_info(host_session* session, item_info* info) {
    info->title = session_title(session, nullptr);
    info->length_ms = session->module->GetLength();
    info->sample_rate = render_output_first_sample_rate();
    info->channels = render_output_first_channels();
    int entry = 0;
    if (!parse_entry_counter(info->title.c_str(), &entry, &info->entries)) info->entries = 0;
}

// The output reports no room, so the decode thread only waits: the item is
// read and stopped without decoding anything.
int run_info(const command_line& line) {
    if (line.file.empty()) return usage_error("info needs a FILE", "");
    if (!line.out.empty() || !line.format.empty()) return usage_error("info takes no -o or --format", "");
    std::string module_path = module_path_of(line);
    host_session session;
    if (!open_session(&session, module_path)) return failure("cannot load module", module_path);
    render_output_begin(RENDER_TO_NOTHING, "", session.module);
    bool played = session_play(&session, line.file.c_str());
    item_info info;
    if (played) read_item_info(&session, &info);
    session_stop(&session);
    render_output_end();
    session_close(&session);
    if (!played) return failure("cannot play", line.file);
    printf("title: %s\n", info.title.c_str());
    printf("length_ms: %d\n", info.length_ms);
    printf("sample_rate: %d\n", info.sample_rate);
    printf("channels: %d\n", info.channels);
    printf("entries: %d\n", info.entries);
    return EXIT_OK;
}

// ---- Demo -------------------------------------------------------------------------

const uint32_t DEMO_SAMPLE_RATE = 44100;
const uint32_t DEMO_CHANNELS = 2;
const double DEMO_SECONDS = 2.5;
const double TWO_PI = 6.283185307179586;

// An A major chord with the notes spread across the two channels, a short
// attack, a slow decay and a fade to silence at the end.
std::vector<int16_t> demo_chord() {
    const double notes_hz[] = {220.0, 277.18, 329.63, 440.0};
    const double left_gain[] = {0.30, 0.22, 0.12, 0.08};
    const double right_gain[] = {0.18, 0.12, 0.26, 0.14};
    size_t frames = (size_t)(DEMO_SECONDS * DEMO_SAMPLE_RATE);
    std::vector<int16_t> pcm(frames * DEMO_CHANNELS);
    for (size_t frame = 0; frame < frames; frame++) {
        double t = (double)frame / DEMO_SAMPLE_RATE;
        double attack = t < 0.03 ? t / 0.03 : 1.0;
        double fade = t > DEMO_SECONDS - 0.3 ? (DEMO_SECONDS - t) / 0.3 : 1.0;
        double envelope = attack * fade * exp(-1.1 * t);
        double left = 0.0;
        double right = 0.0;
        for (size_t n = 0; n < sizeof notes_hz / sizeof notes_hz[0]; n++) {
            double wave = sin(TWO_PI * notes_hz[n] * t);
            left += left_gain[n] * wave;
            right += right_gain[n] * wave;
        }
        pcm[frame * 2] = (int16_t)(32767.0 * envelope * left);
        pcm[frame * 2 + 1] = (int16_t)(32767.0 * envelope * right);
    }
    return pcm;
}

std::string with_trailing_separator(const std::string& folder) {
    if (folder.empty()) return folder;
    char last = folder[folder.size() - 1];
    if (last == '/' || last == PLATFORM_PATH_SEPARATOR) return folder;
    return folder + PLATFORM_PATH_SEPARATOR;
}

std::string temporary_folder() {
    char folder[4096];
    uint32_t length = temp_directory(folder, sizeof folder);
    return length < sizeof folder ? std::string(folder, length) : std::string();
}

int run_demo(const command_line& line) {
    if (!line.file.empty() || !line.format.empty()) return usage_error("demo takes only -o DIR and --module", "");
    std::vector<int16_t> pcm = demo_chord();
    std::vector<uint8_t> adpcm = encode_xbox_adpcm(pcm.data(), pcm.size() / DEMO_CHANNELS, DEMO_CHANNELS);
    std::string source = temporary_folder() + "tolvane-demo-source.wav";
    if (!write_whole_file(source.c_str(), make_adpcm_wave(adpcm, DEMO_CHANNELS, DEMO_SAMPLE_RATE))) {
        return failure("cannot write", source);
    }
    std::string rendered = with_trailing_separator(line.out) + "tolvane-demo.wav";
    int status = render_file(module_path_of(line), source, rendered, RENDER_TO_WAVE);
    if (status != EXIT_OK) return status;
    printf("wrote %s (Xbox ADPCM, %.1f s of stereo at %u Hz)\n", source.c_str(), DEMO_SECONDS, DEMO_SAMPLE_RATE);
    printf("played it through the module into %s\n", rendered.c_str());
    return EXIT_OK;
}

}  // namespace

int main(int argc, char** argv) {
    command_line line;
    int status = parse_command_line(argc, argv, &line);
    if (status != EXIT_OK) return status;
    if (line.help) {
        fputs(USAGE, stdout);
        return EXIT_OK;
    }
    if (line.command.empty()) return usage_error("no command given", "");
    if (line.command == "render") return run_render(line);
    if (line.command == "info") return run_info(line);
    if (line.command == "demo") return run_demo(line);
    return usage_error("unknown command ", line.command);
}
