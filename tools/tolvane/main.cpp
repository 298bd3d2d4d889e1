// tolvane: a command-line host for the player module. It loads the module as
// the player does and plays files through it: `play` through the sound card
// in real time with keys and a progress bar, `render` into files (or a pipe)
// as fast as the module decodes, `info` lists what the player shows and every
// entry of a bank, `encode` makes Xbox ADPCM files and `demo` plays (or
// renders) a generated bank. Listing and planning read the files' headers
// with the module's own readers; the sound always comes through the module.

#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "containers/file_names.h"
#include "containers/stream_opener.h"
#include "platform/host_io.h"
#include "platform/platform.h"
#include "tools/tolvane/command_line.h"
#include "tools/tolvane/demo_bank.h"
#include "tools/tolvane/file_report.h"
#include "tools/tolvane/host_session.h"
#include "tools/tolvane/listing.h"
#include "tools/tolvane/player_screen.h"
#include "tools/tolvane/playlist.h"
#include "tools/tolvane/render_output.h"
#include "tools/tolvane/render_plan.h"
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

namespace fs = std::filesystem;

// ---- Messages ------------------------------------------------------------------

int usage_error(const std::string& reason, const std::string& command) {
    std::string help = command.empty() || command == "help" ? "tolvane --help" : "tolvane " + command + " --help";
    fprintf(stderr, "tolvane: %s (see '%s')\n", reason.c_str(), help.c_str());
    return EXIT_USAGE;
}

int failure(const char* what, const std::string& name, const std::string& reason = "") {
    fprintf(stderr, "tolvane: %s %s%s%s\n", what, name.c_str(), reason.empty() ? "" : ": ", reason.c_str());
    return EXIT_FAILED;
}

// A failure of one file, said, for the functions that answer true or false.
bool refused(const char* what, const std::string& name, const std::string& reason) {
    failure(what, name, reason);
    return false;
}

void warn(const std::string& path, const std::string& text) {
    fprintf(stderr, "tolvane: warning: %s: %s\n", path.c_str(), text.c_str());
}

std::string module_path_of(const command_line& line) {
    return line.module.empty() ? default_module_path() : line.module;
}

std::string device_name_of(const command_line& line) {
    return line.device.empty() ? DEFAULT_DEVICE : line.device;
}

bool open_session(host_session* session, const std::string& module_path) {
    return session_open(session, module_path.c_str(), render_output_module());
}

// ---- Describing a file -----------------------------------------------------------

// A file as the tool sees it before it plays: its description (with --rate
// and --channels applied to raw data), and what was noticed.
struct described_file {
    stream_description d;
    bool format_overridden = false;
    std::vector<std::string> warnings;
    described_file() { description_init(&d); }
    ~described_file() { description_release(&d); }
    described_file(const described_file&) = delete;
    described_file& operator=(const described_file&) = delete;
};

// Describes path; false (with the reason printed) when it cannot be played.
bool describe_for_tool(const command_line& line, const std::string& path, described_file* file) {
    std::string reason = unreadable_reason(path);
    if (!reason.empty()) return refused("cannot read", path, reason);
    if (!describe_stream(path.c_str(), nullptr, &file->d)) return refused("cannot read", path, "cannot be opened");
    reason = refusal_text(file->d);
    if (!reason.empty()) return refused("cannot play", path, reason);
    if (line.rate || line.channels) {
        if (file->d.kind == STREAM_RAW) {
            if (line.rate) file->d.sample_rate = line.rate;
            if (line.channels) file->d.channels = (uint16_t)line.channels;
            file->format_overridden = true;
        } else {
            file->warnings.push_back("--rate and --channels apply to raw data only; ignored");
        }
    }
    std::vector<std::string> noticed = warnings_of(path, file->d);
    file->warnings.insert(file->warnings.end(), noticed.begin(), noticed.end());
    return true;
}

// Raw data played in another format than the module's default goes to the
// module as an Xbox ADPCM WAVE of that format: a header and a copy of the
// data in a temporary file. Empty when it cannot be made.
std::string wrap_raw_data(const std::string& path, const stream_description& d) {
    std::error_code error;
    fs::path folder = fs::temp_directory_path(error);
    if (error) return "";
    std::random_device entropy;
    std::string wrapped = (folder / ("tolvane-raw-" + std::to_string(entropy() % 1000000) + ".wav")).string();
    std::vector<uint8_t> header = make_adpcm_wave({}, d.channels, d.sample_rate);
    uint64_t data_bytes = d.data_length > 0 ? (uint64_t)d.data_length : 0;
    // The sizes of the empty WAVE, grown by the data that follows it.
    uint32_t riff_size = (uint32_t)(header.size() - 8 + data_bytes + (data_bytes & 1));
    for (int i = 0; i < 4; ++i) {
        header[4 + (size_t)i] = (uint8_t)(riff_size >> (8 * i));
        header[header.size() - 4 + (size_t)i] = (uint8_t)(data_bytes >> (8 * i));
    }
    FILE* in = fopen(path.c_str(), "rb");
    FILE* out = fopen(wrapped.c_str(), "wb");
    bool copied = in && out && fwrite(header.data(), 1, header.size(), out) == header.size();
    char buffer[65536];
    size_t got = 0;
    while (copied && (got = fread(buffer, 1, sizeof buffer, in)) > 0) copied = fwrite(buffer, 1, got, out) == got;
    if (copied && (data_bytes & 1)) copied = fputc(0, out) != EOF;
    if (in) fclose(in);
    if (out && fclose(out) != 0) copied = false;
    if (copied) return wrapped;
    fs::remove(wrapped, error);
    return "";
}

// The input's name without its folder and extension, for {name}.
std::string stem_of(const std::string& path) {
    fs::path name = fs::path(path).filename();
    return name.stem().string();
}

// The files the input is made of: itself, and a stream pair's partner.
std::vector<std::string> inputs_of(const std::string& path, const stream_description& d) {
    std::vector<std::string> inputs = {path};
    if (d.partner_extension[0] && !(d.notices & NOTICE_PARTNER_MISSING)) {
        std::string partner = path;
        partner.replace(partner.size() - 3, 3, d.partner_extension);
        inputs.push_back(partner);
    }
    return inputs;
}

bool same_file(const std::string& a, const std::string& b) {
    std::error_code error;
    return fs::equivalent(a, b, error) && !error;
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

bool seek_carried_out() {
    return render_output_flushes() > 0;
}

// Plays play_path through the module into targets, from the second at or
// before first_ms (the first chosen entry's start). Exit status.
int play_into_targets(const std::string& module_path, const std::string& path, const std::string& play_path,
                      const std::vector<render_target>& targets, bool raw, int64_t first_ms) {
    host_session session;
    if (!open_session(&session, module_path)) return failure("cannot load module", module_path);
    render_progress progress;
    progress.session = &session;
    // A progress bar would mix with sound on standard output.
    bool to_stdout = targets.size() == 1 && targets[0].path == "-";
    screen_begin(&progress.screen, !to_stdout && terminal_stdout_is_tty(), terminal_width());
    render_output_begin(&targets, raw, session.module);
    bool played = session_play(&session, play_path.c_str());
    bool ended = played;
    if (played && first_ms >= 1000) {
        // The output has no room yet: nothing is decoded before the seek.
        session.module->SetOutputTime((int)(first_ms - first_ms % 1000));
        ended = session_wait_for_end(&session, render_output_calls, STALL_LIMIT_MS, nullptr, nullptr, seek_carried_out);
    }
    render_output_release();
    ended = ended && session_wait_for_end(&session, render_output_calls, STALL_LIMIT_MS, show_render_progress,
                                          &progress, render_output_past_targets);
    screen_end(&progress.screen);
    session_stop(&session);
    bool written = render_output_end();
    session_close(&session);
    if (!written) return failure("cannot write", render_output_failed_path());
    if (!played) return failure("cannot play", path, "the player module refuses it");
    if (!ended) return failure("cannot play", path, "playback stopped before the end");
    std::vector<uint64_t> bytes = render_output_written();
    for (size_t i = 0; i < targets.size(); ++i) {
        if (bytes[i] != targets[i].pcm_bytes)
            warn(path, "wrote " + std::to_string(bytes[i]) + " bytes into " + targets[i].path + " where " +
                           std::to_string(targets[i].pcm_bytes) + " were expected");
    }
    return EXIT_OK;
}

void list_written(const std::vector<render_target>& targets, FILE* stream) {
    for (const render_target& target : targets) {
        const sound_unit& first = target.units[0];
        double seconds = first.rate ? (double)target.pcm_bytes / (2.0 * first.channels * first.rate) : 0.0;
        fprintf(stream, "wrote %s (%u Hz, %u channel%s, %.2f s)\n",
                target.path == "-" ? "standard output" : target.path.c_str(), first.rate, first.channels,
                first.channels == 1 ? "" : "s", seconds);
    }
}

struct render_run {
    const command_line* line;
    bool raw;
    std::set<std::string> outputs;  // every file this run writes
    bool warned = false;
};

// The units to render: those chosen with --entry, else every one that plays
// (a single stream always). False with the reason printed.
bool chosen_units(const command_line& line, const std::string& path, const described_file& file,
                  std::vector<sound_unit>* chosen) {
    std::vector<sound_unit> units = sound_units(file.d);
    if (line.entries.empty()) {
        // A single stream is written even when empty; a bank without entries
        // plays nothing.
        bool single = file.d.entry_count == 0 && file.d.kind != STREAM_BANK;
        for (const sound_unit& unit : units)
            if (unit.frames > 0 || single) chosen->push_back(unit);
        return true;
    }
    std::string reason;
    if (file.d.entry_count == 0) reason = "it has no entries; --entry chooses among a bank's or stream pair's";
    else select_units(line.entries, file.d, units, chosen, &reason);
    if (reason.empty()) return true;
    failure("cannot render", path, reason);
    return false;
}

// Outputs that are an input of this run, or written twice, are refused.
bool check_outputs(render_run* run, const std::string& path, const described_file& file,
                   const std::vector<render_target>& targets) {
    for (const render_target& target : targets) {
        if (target.path == "-") continue;
        for (const std::string& name : run->line->files) {
            for (const std::string& input : inputs_of(name, file.d)) {
                if (same_file(target.path, input))
                    return refused("cannot render", path, target.path + " is an input; it is never overwritten");
            }
        }
        if (!run->outputs.insert(target.path).second)
            return refused("cannot render", path, "another file of this run is also written to " + target.path);
    }
    return true;
}

int render_one(render_run* run, const std::string& path) {
    const command_line& line = *run->line;
    described_file file;
    if (!describe_for_tool(line, path, &file)) return EXIT_FAILED;
    for (const std::string& text : file.warnings) warn(path, text);
    run->warned = run->warned || !file.warnings.empty();

    std::vector<sound_unit> chosen;
    if (!chosen_units(line, path, file, &chosen)) return EXIT_FAILED;
    if (chosen.empty()) return EXIT_OK;
    std::vector<render_target> targets;
    std::string reason;
    if (!plan_targets(line.out, stem_of(path), run->raw, chosen, record_width(file.d), &targets, &reason))
        return failure("cannot render", path, reason);
    if (!check_outputs(run, path, file, targets)) return EXIT_FAILED;

    // A folder named for the outputs, or in a pattern, is made when missing.
    if (classify_out(line.out) == OUT_FOLDER || classify_out(line.out) == OUT_PATTERN) {
        std::error_code ignored;
        for (const render_target& target : targets) fs::create_directories(fs::path(target.path).parent_path(), ignored);
    }
    std::string play_path = path;
    if (file.format_overridden) {
        play_path = wrap_raw_data(path, file.d);
        if (play_path.empty()) return failure("cannot render", path, "no temporary file for its raw data");
    }
    int status = play_into_targets(module_path_of(line), path, play_path, targets, run->raw,
                                   file.d.entry_count ? chosen[0].start_ms : 0);
    if (file.format_overridden) {
        std::error_code error;
        fs::remove(play_path, error);
    }
    if (status == EXIT_OK && !line.quiet) list_written(targets, line.out == "-" ? stderr : stdout);
    return status;
}

// --format, else OUT's extension: .raw or .wav; wav for a folder, for
// standard output, and for a name without an extension.
bool choose_raw(const command_line& line, bool* raw, std::string* error) {
    if (!line.format.empty()) {
        *raw = line.format == "raw";
        return true;
    }
    out_kind kind = classify_out(line.out);
    *raw = false;
    if (kind == OUT_STANDARD_OUTPUT || kind == OUT_FOLDER) return true;
    std::string name = fs::path(line.out).filename().string();
    if (has_extension(line.out, "raw")) *raw = true;
    else if (!has_extension(line.out, "wav") && name.find('.') != std::string::npos)
        *error = "cannot tell raw from wav by the name " + line.out + ": name it .wav or .raw, or give --format";
    return error->empty();
}

int run_render(const command_line& line) {
    render_run run;
    run.line = &line;
    std::string error;
    if (!choose_raw(line, &run.raw, &error)) return usage_error(error, "render");
    out_kind kind = classify_out(line.out);
    if (line.files.size() > 1 && kind == OUT_STANDARD_OUTPUT)
        return usage_error("-o - takes one FILE", "render");
    if (line.files.size() > 1 && kind == OUT_FILE)
        return usage_error("several files need -o DIR/ or a pattern with {name}", "render");
    if (kind == OUT_STANDARD_OUTPUT) stdout_binary();
    int status = EXIT_OK;
    for (const std::string& path : line.files)
        if (render_one(&run, path) != EXIT_OK) status = EXIT_FAILED;
    if (line.strict && run.warned) status = EXIT_FAILED;
    return status;
}

// ---- info ----------------------------------------------------------------------------

// What the player shows right after the item starts. The output reports no
// room, so the decode thread only waits: the item is read and stopped
// without decoding anything.
bool read_player_view(const std::string& module_path, const std::string& path, player_view* view) {
    host_session session;
    if (!open_session(&session, module_path)) return refused("cannot load module", module_path, "");
    render_output_begin_nothing(session.module);
    bool played = session_play(&session, path.c_str());
    if (played) {
        view->title = session_title(&session, nullptr);
        view->length_ms = session.module->GetLength();
        view->sample_rate = render_output_first_sample_rate();
        view->channels = render_output_first_channels();
        int entry = 0;
        if (!parse_entry_counter(view->title.c_str(), &entry, &view->entries)) view->entries = 0;
    }
    session_stop(&session);
    render_output_end();
    session_close(&session);
    if (!played) return refused("cannot play", path, "the player module refuses it");
    return true;
}

// Raw data in a format of the user's: what the player would show for it.
player_view view_of_overridden(const std::string& path, const stream_description& d) {
    player_view view;
    view.title = base_name(path.c_str());
    view.length_ms = description_length_ms(&d);
    view.sample_rate = (int)d.sample_rate;
    view.channels = (int)d.channels;
    return view;
}

int run_info(const command_line& line) {
    int status = EXIT_OK;
    bool warned = false;
    bool several = line.files.size() > 1;
    for (size_t i = 0; i < line.files.size(); ++i) {
        const std::string& path = line.files[i];
        described_file file;
        if (!describe_for_tool(line, path, &file)) {
            status = EXIT_FAILED;
            continue;
        }
        player_view view;
        if (file.format_overridden) {
            view = view_of_overridden(path, file.d);
        } else if (!read_player_view(module_path_of(line), path, &view)) {
            status = EXIT_FAILED;
            continue;
        }
        for (const std::string& text : file.warnings) warn(path, text);
        warned = warned || !file.warnings.empty();
        std::vector<sound_unit> units = sound_units(file.d);
        if (line.json) {
            print_info_json(stdout, path, view, file.d, units, file.warnings);
        } else {
            if (several) printf("%sfile: %s\n", i ? "\n" : "", path.c_str());
            print_info_text(stdout, view, file.d, units);
        }
    }
    if (line.strict && warned) status = EXIT_FAILED;
    return status;
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
    std::string error;
    if (!device_works(device_name_of(line), &error)) {
        fprintf(stderr, "tolvane: no sound output (%s); tolvane render FILE -o OUT.wav writes the sound to a file\n",
                error.c_str());
        return EXIT_FAILED;
    }
    return play_files(line.files, line);
}

// ---- encode ----------------------------------------------------------------------------

int run_encode(const command_line& line) {
    const std::string& in = line.files[0];
    const std::string& out = line.files[1];
    if (same_file(in, out)) return failure("cannot encode", in, "it would overwrite itself");
    uint32_t sample_rate = 0;
    uint32_t channels = 0;
    std::vector<int16_t> pcm;
    const char* reason = "";
    if (!read_pcm_wave(in.c_str(), &sample_rate, &channels, &pcm, &reason)) return failure("cannot encode", in, reason);
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
fs::path make_demo_folder() {
    std::error_code error;
    fs::path base = fs::temp_directory_path(error);
    if (error) return {};
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path folder = base / ("tolvane-demo-" + std::to_string(entropy() % 1000000));
        if (fs::create_directory(folder, error)) return folder;
    }
    return {};
}

// The demo's tunes, each into DIR/tolvane-demo-NN.wav, as render does it.
int render_demo(const std::string& bank, const command_line& line) {
    std::error_code ignored;
    if (line.has_out) fs::create_directories(line.out, ignored);
    command_line render_line;
    render_line.command = "render";
    render_line.module = line.module;
    render_line.out = with_trailing_separator(line.out) + "tolvane-demo.wav";
    render_line.has_out = true;
    render_line.files = {bank};
    return run_render(render_line);
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
    fflush(stdout);
    return render_demo(bank, line);
}

int run_demo(const command_line& line) {
    std::vector<bank_sound> sounds = demo_sounds();
    fs::path folder = make_demo_folder();
    if (folder.empty()) return failure("cannot make a folder in", "the temporary folder");
    std::string bank = (folder / "tolvane-demo.xwb").string();
    int status = write_whole_file(bank.c_str(), make_wave_bank(sounds)) ? play_or_render_demo(bank, line, sounds.size())
                                                                        : failure("cannot write", bank);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    command_line line;
    std::string error;
    if (!parse_command_line(argc, argv, &line, &error)) return usage_error(error, line.command);
    if (line.version) {
        puts(TOLVANE_VERSION_TEXT);
        return EXIT_OK;
    }
    if (line.help || line.command == "help") {
        std::string topic = line.command == "help" ? (line.files.empty() ? "" : line.files[0]) : line.command;
        fputs(help_text(topic).c_str(), stdout);
        return EXIT_OK;
    }
    if (line.command == "play") return run_play(line);
    if (line.command == "render") return run_render(line);
    if (line.command == "info") return run_info(line);
    if (line.command == "encode") return run_encode(line);
    return run_demo(line);
}
