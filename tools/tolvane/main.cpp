// tolvane: a command-line host for the player module. It loads the module as
// the player does and plays files through it: `play` through the sound card
// in real time with keys and a progress bar, `render` into files as fast as
// the module decodes, `info` prints what the player would show, `encode`
// makes Xbox ADPCM files and `demo` plays (or renders) a generated bank.

#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/host_io.h"
#include "platform/platform.h"
#include "tools/tolvane/demo_bank.h"
#include "tools/tolvane/host_session.h"
#include "tools/tolvane/player_screen.h"
#include "tools/tolvane/playlist.h"
#include "tools/tolvane/render_output.h"
#include "tools/tolvane/sound_device.h"
#include "tools/tolvane/wave_writer.h"
#include "tools/tolvane/xbox_adpcm_encoder.h"

namespace {

const int EXIT_OK = 0;
const int EXIT_FAILED = 1;
const int EXIT_USAGE = 2;
// What a shell reports for a program ended by Ctrl-C.
const int EXIT_INTERRUPTED = 130;

// A decode thread that has not called the output for this long has ended
// without posting the end-of-stream message. Far above the longest quiet
// stretch of a working module (one block set), even on a loaded machine.
const uint32_t STALL_LIMIT_MS = 30000;
const char DEFAULT_DEVICE[] = "default";
const size_t ERROR_CAPACITY = 256;

const char USAGE[] =
    "usage: tolvane play FILE... [--device NAME] [--module PATH]\n"
    "       tolvane render FILE -o OUT [--format raw|wav] [--module PATH]\n"
    "       tolvane info FILE [--module PATH]\n"
    "       tolvane encode IN.wav OUT.wav\n"
    "       tolvane demo [-o DIR] [--device NAME] [--module PATH]\n"
    "       tolvane --help\n"
    "\n"
    "  play    plays the files one after another through the sound card; on a\n"
    "          terminal: space pauses, left/right seek 5 s, n skips, q quits\n"
    "  render  plays FILE through the player module as fast as it decodes and\n"
    "          writes the sound to OUT: raw 16-bit PCM (OUT ending in .raw, or\n"
    "          --format raw) or 16-bit PCM WAVE (OUT ending in .wav, or --format\n"
    "          wav); a bank gives one WAVE per entry, OUT's name then -01, -02...\n"
    "  info    plays FILE silently and prints the title, length, format and\n"
    "          entry count that the player shows\n"
    "  encode  turns a 16-bit PCM WAVE into an Xbox ADPCM WAVE\n"
    "  demo    plays a generated wave bank; without a sound card, renders it to\n"
    "          DIR/tolvane-demo-01.wav... (DIR: the current folder by default)\n"
    "\n"
    "  --device NAME  the sound device (default: the system's; 'null' plays in\n"
    "                 real time into nothing)\n"
    "  --module PATH  the player module to load (default: the one beside tolvane)\n";

struct command_line {
    std::string command;
    std::vector<std::string> arguments;
    std::string out;
    std::string format;
    std::string module;
    std::string device;
    bool help = false;
};

// ---- Command line --------------------------------------------------------------

int usage_error(const char* reason, const std::string& detail) {
    fprintf(stderr, "tolvane: %s%s\n%s", reason, detail.c_str(), USAGE);
    return EXIT_USAGE;
}

bool is_option_with_value(const std::string& argument) {
    return argument == "-o" || argument == "--format" || argument == "--module" || argument == "--device";
}

void store_option(command_line* line, const std::string& option, const std::string& value) {
    if (option == "-o") line->out = value;
    if (option == "--format") line->format = value;
    if (option == "--module") line->module = value;
    if (option == "--device") line->device = value;
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
        } else {
            line->arguments.push_back(argument);
        }
    }
    return EXIT_OK;
}

// Render and info take one file; a second one is a mistake worth reporting.
int check_one_file(const command_line& line) {
    if (line.arguments.empty()) return usage_error(line.command.c_str(), " needs a FILE");
    if (line.arguments.size() > 1) return usage_error("unexpected argument ", line.arguments[1]);
    if (!line.device.empty()) return usage_error(line.command.c_str(), " takes no --device");
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

std::string device_name_of(const command_line& line) {
    return line.device.empty() ? DEFAULT_DEVICE : line.device;
}

int failure(const char* what, const std::string& name) {
    fprintf(stderr, "tolvane: %s %s\n", what, name.c_str());
    return EXIT_FAILED;
}

bool open_session(host_session* session, const std::string& module_path) {
    return session_open(session, module_path.c_str(), render_output_module());
}

// ---- render ------------------------------------------------------------------------

// A progress bar on a terminal. It first shows at the first pump, 50 ms in,
// so quick renders never draw one; it is blanked out at the end.
struct render_progress {
    host_session* session = nullptr;
    player_screen screen;
};

void show_render_progress(void* context) {
    render_progress* progress = (render_progress*)context;
    if (!progress->screen.interactive) return;
    In_Module* module = progress->session->module;
    screen_show_status(&progress->screen, module->GetOutputTime(), module->GetLength(), false);
}

// Plays file to its end through the render output; the exit status.
int render_file(const std::string& module_path, const std::string& file, const std::string& out, render_sink sink) {
    host_session session;
    if (!open_session(&session, module_path)) return failure("cannot load module", module_path);
    render_progress progress;
    progress.session = &session;
    screen_begin(&progress.screen, terminal_stdout_is_tty(), terminal_width());
    render_output_begin(sink, out, session.module);
    bool played = session_play(&session, file.c_str());
    bool ended = played &&
                 session_wait_for_end(&session, render_output_calls, STALL_LIMIT_MS, show_render_progress,
                                      &progress);
    screen_end(&progress.screen);
    session_stop(&session);
    bool written = render_output_end();
    session_close(&session);
    if (!written) return failure("cannot write", render_output_failed_path());
    if (!played) return failure("cannot play", file);
    if (!ended) return failure("playback stopped without reaching the end of", file);
    return EXIT_OK;
}

int run_render(const command_line& line) {
    int status = check_one_file(line);
    if (status != EXIT_OK) return status;
    if (line.out.empty()) return usage_error("render needs -o OUT", "");
    render_sink sink = RENDER_TO_WAVE;
    if (!choose_sink(line, &sink)) return usage_error("cannot tell whether to write raw or wav: ", line.out);
    return render_file(module_path_of(line), line.arguments[0], line.out, sink);
}

// ---- info ----------------------------------------------------------------------------

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
    int status = check_one_file(line);
    if (status != EXIT_OK) return status;
    if (!line.out.empty() || !line.format.empty()) return usage_error("info takes no -o or --format", "");
    const std::string& file = line.arguments[0];
    std::string module_path = module_path_of(line);
    host_session session;
    if (!open_session(&session, module_path)) return failure("cannot load module", module_path);
    render_output_begin(RENDER_TO_NOTHING, "", session.module);
    bool played = session_play(&session, file.c_str());
    item_info info;
    if (played) read_item_info(&session, &info);
    session_stop(&session);
    render_output_end();
    session_close(&session);
    if (!played) return failure("cannot play", file);
    printf("title: %s\n", info.title.c_str());
    printf("length_ms: %d\n", info.length_ms);
    printf("sample_rate: %d\n", info.sample_rate);
    printf("channels: %d\n", info.channels);
    printf("entries: %d\n", info.entries);
    return EXIT_OK;
}

// ---- play ------------------------------------------------------------------------------

int exit_status_of(playlist_outcome outcome, const std::string& module_path) {
    switch (outcome) {
    case PLAYLIST_PLAYED:
        return EXIT_OK;
    case PLAYLIST_SOME_FAILED:
        return EXIT_FAILED;
    case PLAYLIST_INTERRUPTED:
        return EXIT_INTERRUPTED;
    case PLAYLIST_NO_MODULE:
        break;
    }
    return failure("cannot load module", module_path);
}

// True when the device opens; the reason it does not, in error.
bool device_works(const std::string& device_name, std::string* error) {
    char text[ERROR_CAPACITY] = "";
    const sound_device* device = sound_device_named(device_name.c_str());
    if (sound_device_probe(device, device_name.c_str(), text, sizeof text)) return true;
    *error = text[0] ? text : "cannot open \"" + device_name + "\"";
    return false;
}

int play_files(const std::vector<std::string>& files, const command_line& line) {
    std::string device_name = device_name_of(line);
    std::string module_path = module_path_of(line);
    playlist_outcome outcome =
        play_playlist(files, module_path, sound_device_named(device_name.c_str()), device_name);
    return exit_status_of(outcome, module_path);
}

int run_play(const command_line& line) {
    if (line.arguments.empty()) return usage_error("play needs a FILE", "");
    if (!line.out.empty() || !line.format.empty()) return usage_error("play takes no -o or --format", "");
    std::string error;
    if (!device_works(device_name_of(line), &error)) {
        fprintf(stderr, "tolvane: no sound output (%s); tolvane render FILE -o OUT.wav writes the sound to a file\n",
                error.c_str());
        return EXIT_FAILED;
    }
    return play_files(line.arguments, line);
}

// ---- encode ----------------------------------------------------------------------------

int run_encode(const command_line& line) {
    if (line.arguments.size() != 2) return usage_error("encode needs IN.wav and OUT.wav", "");
    if (!line.out.empty() || !line.format.empty() || !line.device.empty() || !line.module.empty()) {
        return usage_error("encode takes no options", "");
    }
    const std::string& in = line.arguments[0];
    const std::string& out = line.arguments[1];
    uint32_t sample_rate = 0;
    uint32_t channels = 0;
    std::vector<int16_t> pcm;
    const char* reason = "";
    if (!read_pcm_wave(in.c_str(), &sample_rate, &channels, &pcm, &reason)) {
        fprintf(stderr, "tolvane: cannot encode %s: %s\n", in.c_str(), reason);
        return EXIT_FAILED;
    }
    size_t frames = pcm.size() / channels;
    std::vector<uint8_t> adpcm = encode_xbox_adpcm(pcm.data(), frames, channels);
    if (!write_whole_file(out.c_str(), make_adpcm_wave(adpcm, channels, sample_rate))) {
        return failure("cannot write", out);
    }
    printf("wrote %s (Xbox ADPCM, %u channel%s at %u Hz, %.1f s)\n", out.c_str(), channels, channels == 1 ? "" : "s",
           sample_rate, (double)frames / sample_rate);
    return EXIT_OK;
}

// ---- demo ------------------------------------------------------------------------------

std::string with_trailing_separator(const std::string& folder) {
    if (folder.empty()) return folder;
    char last = folder[folder.size() - 1];
    if (last == '/' || last == PLATFORM_PATH_SEPARATOR) return folder;
    return folder + PLATFORM_PATH_SEPARATOR;
}

// A new folder of the demo's own under the temporary folder, so that demos
// run at the same time never share a bank file. Empty when none can be made.
std::filesystem::path make_demo_folder() {
    std::error_code error;
    std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) return {};
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path folder = base / ("tolvane-demo-" + std::to_string(entropy() % 1000000));
        if (std::filesystem::create_directory(folder, error)) return folder;
    }
    return {};
}

int render_demo(const std::string& bank, const command_line& line, size_t entries) {
    std::error_code ignored;
    if (!line.out.empty()) std::filesystem::create_directories(line.out, ignored);
    std::string rendered = with_trailing_separator(line.out) + "tolvane-demo.wav";
    int status = render_file(module_path_of(line), bank, rendered, RENDER_TO_WAVE);
    if (status != EXIT_OK) return status;
    for (size_t entry = 1; entry <= entries; ++entry) {
        printf("wrote %s\n", entry_wave_path(rendered, (int)entry).c_str());
    }
    return EXIT_OK;
}

int play_or_render_demo(const std::string& bank, const command_line& line, size_t entries) {
    std::string error;
    if (device_works(device_name_of(line), &error)) {
        printf("the demo: a wave bank of %u tunes made by tolvane's encoder, played through the module\n",
               (unsigned)entries);
        return play_files({bank}, line);
    }
    printf("no sound output (%s): rendering the demo's %u tunes to WAVE files instead\n", error.c_str(),
           (unsigned)entries);
    return render_demo(bank, line, entries);
}

int run_demo(const command_line& line) {
    if (!line.arguments.empty() || !line.format.empty()) {
        return usage_error("demo takes only -o DIR, --device and --module", "");
    }
    std::vector<bank_sound> sounds = demo_sounds();
    std::filesystem::path folder = make_demo_folder();
    if (folder.empty()) return failure("cannot make a folder in", "the temporary folder");
    std::string bank = (folder / "tolvane-demo.xwb").string();
    int status = write_whole_file(bank.c_str(), make_wave_bank(sounds)) ? play_or_render_demo(bank, line, sounds.size())
                                                                        : failure("cannot write", bank);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return status;
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
    if (line.command == "play") return run_play(line);
    if (line.command == "render") return run_render(line);
    if (line.command == "info") return run_info(line);
    if (line.command == "encode") return run_encode(line);
    if (line.command == "demo") return run_demo(line);
    return usage_error("unknown command ", line.command);
}
