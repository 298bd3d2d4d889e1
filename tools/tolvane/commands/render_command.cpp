// tolvane render: plays each file through the module as fast as it decodes
// and writes the entries chosen into WAVE or raw files (or standard output),
// each appearing under its name only once complete.

#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "containers/file_names.h"
#include "platform/host_io.h"
#include "platform/platform.h"
#include "tools/tolvane/commands/commands.h"
#include "tools/tolvane/session/encoded_audio.h"
#include "tools/tolvane/session/host_session.h"
#include "tools/tolvane/session/null_output.h"
#include "tools/tolvane/session/packet_audio.h"
#include "tools/tolvane/live/player_screen.h"
#include "tools/tolvane/session/render_output.h"
#include "tools/tolvane/cli/render_plan.h"
#include "tools/tolvane/tool_common.h"
#include "containers/riff_wave_writer.h"

namespace fs = std::filesystem;

namespace {

loop_rendering looping_of(const command_line& line) {
    loop_rendering looping;
    looping.loops = line.loops;
    looping.fade_ms = line.fade_ms;
    looping.ignore = line.ignore_loop;
    return looping;
}

const char* const FORMAT_NAMES[] = {"wav", "raw", "flac", "ogg"};

// Folder and pattern outputs are named .wav by the plan; FLAC and Ogg
// Vorbis files get their own extension.
void rename_for_format(render_format format, std::vector<render_target>* targets) {
    if (format != RENDER_FLAC && format != RENDER_OGG) return;
    for (render_target& target : *targets) {
        if (target.path == "-" || !path_extension_is(target.path.c_str(), "wav")) continue;
        target.path = target.path.substr(0, target.path.size() - 3) + FORMAT_NAMES[format];
    }
}

// A decode thread that has not called the output for this long has ended
// without posting the end-of-stream message. Far above the longest quiet
// stretch of a working module (one block set), even on a loaded machine.
const uint32_t STALL_LIMIT_MS = 30000;

// What one run of render has done, for its summary and exit status.
struct render_run : outputs_run {
    render_format format = RENDER_WAV;
};

// A progress bar naming the file, on a terminal. It first shows at the first
// pump, 50 ms in, so quick renders never draw one; it is blanked out at the
// end.
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
    return render_output_seeked() || interrupt_requested();
}

bool render_can_stop() {
    return render_output_can_stop() || interrupt_requested();
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
    output_file out;
    bool copied = in && output_create(&out, wrapped) && output_write(&out, header.data(), header.size());
    char buffer[65536];
    size_t got = 0;
    while (copied && (got = fread(buffer, 1, sizeof buffer, in)) > 0) copied = output_write(&out, buffer, got);
    uint8_t pad = 0;
    if (copied && (data_bytes & 1)) copied = output_write(&out, &pad, 1);
    if (in) fclose(in);
    if (copied && output_finish(&out, true)) return wrapped;
    output_discard(&out);
    return "";
}

// Plays play_path through the module into targets, from the second at or
// before first_ms (the first chosen entry's start). Exit status.
int play_into_targets(render_run* run, const std::string& path, const std::string& play_path,
                      const std::vector<render_target>& targets, int64_t first_ms) {
    const command_line& line = *run->line;
    host_session session;
    std::string module_path = module_path_of(line);
    render_output output;
    render_job job;
    job.targets = &targets;
    job.format = run->format;
    job.keep_existing = line.no_clobber;
    job.looping = looping_of(line);
    if (!session_open(&session, module_path.c_str(), null_output_module()))
        return failure("cannot load module", module_path);
    job.module = session.module;
    session.output = render_output_attach(&output, job);
    render_progress progress;
    progress.session = &session;
    // A progress bar would mix with sound on standard output.
    bool to_stdout = targets.size() == 1 && targets[0].path == "-";
    screen_begin(&progress.screen, !to_stdout && !line.quiet && terminal_stdout_is_tty(), terminal_width());
    progress.screen.label = fs::path(path).filename().string();
    bool played = session_play(&session, play_path.c_str());
    bool ended = played;
    if (played && first_ms >= 1000) {
        // The output has no room yet: nothing is decoded before the seek.
        session.module->SetOutputTime((int)(first_ms - first_ms % 1000));
        ended = session_wait_for_end(&session, render_output_calls, STALL_LIMIT_MS, nullptr, nullptr, seek_carried_out);
    }
    render_output_release(&output);
    ended = ended && session_wait_for_end(&session, render_output_calls, STALL_LIMIT_MS, show_render_progress,
                                          &progress, render_can_stop);
    screen_end(&progress.screen);
    session_stop(&session);
    bool stopped = interrupt_requested();
    bool complete = played && ended && !stopped;
    bool written = render_output_finish(&output, complete);
    session_close(&session);
    int kept = render_output_kept(&output);
    if ((stopped || !written) && kept > 0 && targets.size() > 1)
        fprintf(stderr, "tolvane: %s: %d of its %u outputs were written before it stopped\n", path.c_str(), kept,
                (unsigned)targets.size());
    if (stopped) return EXIT_INTERRUPTED;
    if (!written) return failure("cannot write", output.failed_path, output.failed_reason);
    if (!played) return failure("cannot play", path, "the player module refuses it");
    if (!ended) return failure("cannot play", path, "playback stopped before the end");
    std::vector<uint64_t> bytes = render_output_written(&output);
    for (size_t i = 0; i < targets.size(); ++i) {
        if (bytes[i] != targets[i].pcm_bytes)
            warn(path, "wrote " + std::to_string(bytes[i]) + " bytes into " + targets[i].path + " where " +
                           std::to_string(targets[i].pcm_bytes) + " were expected");
    }
    return EXIT_OK;
}

// What decode_packets hands over goes to the render output as the entry's.
struct decoded_entry {
    render_output* output;
    const sound_unit* unit;
};

bool take_decoded_frames(void* context, const int16_t* pcm, int64_t frames) {
    decoded_entry* entry = (decoded_entry*)context;
    render_output_take(entry->output, entry->unit->index, (int)entry->unit->rate, entry->unit->channels, pcm, frames);
    return !entry->output->failed;
}

// Reads a record's bytes from the file; false with the reason.
bool read_record_bytes(const std::string& path, const entry_record& record, std::vector<uint8_t>* bytes,
                       std::string* reason) {
    if (record.offset < 0 || record.offset + record.length > INT32_MAX) {
        *reason = "its sound lies beyond 2 GiB";
        return false;
    }
    file_handle file = file_open_read(path.c_str());
    bytes->assign((size_t)record.length, 0);
    bool read = file != INVALID_FILE && file_seek(file, (int32_t)record.offset) == (int32_t)record.offset &&
                file_read(file, bytes->data(), (int32_t)record.length) == (int32_t)record.length;
    if (file != INVALID_FILE) file_close(file);
    if (!read) *reason = "its sound cannot be read (the file is cut short)";
    return read;
}

// Decodes the entries the module does not (xWMA, WMA Pro, XMA) into their
// targets with libavcodec, each to exactly its stated frames. Exit status.
int decode_into_targets(render_run* run, const std::string& path, const stream_description& d,
                        const std::vector<render_target>& targets) {
    render_output output;
    render_job job;
    job.targets = &targets;
    job.format = run->format;
    job.keep_existing = run->line->no_clobber;
    job.looping = looping_of(*run->line);
    render_output_attach(&output, job);
    std::string reason;
    for (const render_target& target : targets) {
        for (const sound_unit& unit : target.units) {
            const entry_record& record = d.records[unit.record_index];
            packet_format format;
            std::vector<uint8_t> bytes;
            int64_t bad_packets = 0;
            int64_t padded = 0;
            decoded_entry entry = {&output, &unit};
            std::string number = "record " + std::to_string(unit.record);
            if (!packet_format_of(record, &format, &reason) || !read_record_bytes(path, record, &bytes, &reason) ||
                !decode_packets(format, bytes.data(), bytes.size(), unit.frames, take_decoded_frames, &entry,
                                &bad_packets, &padded, &reason)) {
                render_output_finish(&output, false);
                if (output.failed) return failure("cannot write", output.failed_path, output.failed_reason);
                return failure("cannot render", path, number + ": " + reason);
            }
            render_output_end(&output, unit.index);
            if (bad_packets > 0 && !run->line->quiet) {
                warn(path,
                     number + ": " + std::to_string(bad_packets) + " packets could not be decoded and were skipped");
                run->warned = true;
            }
            if (padded > 0 && !run->line->quiet) {
                warn(path, number + ": its packets decode to " + std::to_string(unit.frames - padded) + " of the " +
                               std::to_string(unit.frames) + " frames it states; the rest is silence");
                run->warned = true;
            }
            if (interrupt_requested()) {
                render_output_finish(&output, false);
                return EXIT_INTERRUPTED;
            }
        }
    }
    if (!render_output_finish(&output, true)) return failure("cannot write", output.failed_path, output.failed_reason);
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

// Why a file yields no sound at all.
std::string why_no_sound(const stream_description& d) {
    if (d.notices & NOTICE_HEADER_CUT_SHORT)
        return "the file ends at byte " + std::to_string(d.file_bytes) + ", inside the bank's header";
    if (d.record_count == 0 && d.kind != STREAM_BANK)
        return d.data_length <= 0 ? "it holds no sound (it is empty)" : "it holds no whole block set of sound";
    if (d.entry_count == 0) return "no record of it plays (no entry of a codec the player decodes)";
    return "none of its entries holds a whole block set of sound";
}

// The units to render: those chosen with --entry, else every one that plays.
// False with the reason printed; warnings about what was chosen are added.
// The records whose sound this tool decodes itself, where the module does
// not: xWMA, WMA Pro and XMA, on builds with libavcodec.
bool tool_decodes(const entry_record& record) {
    packet_format format;
    std::string reason;
    return packet_audio_available() && packet_format_of(record, &format, &reason);
}

bool chosen_units(const command_line& line, const std::string& path, const described_file& file,
                  std::vector<sound_unit>* chosen, std::vector<std::string>* warnings) {
    std::vector<sound_unit> units = sound_units(file.d);
    std::vector<sound_unit> decoded = tool_decoded_units(file.d, tool_decodes, (int32_t)units.size());
    units.insert(units.end(), decoded.begin(), decoded.end());
    std::sort(units.begin(), units.end(), [](const sound_unit& a, const sound_unit& b) { return a.record < b.record; });
    mark_shared_names(file.d, &units);
    std::string reason;
    if (!line.entries.empty()) {
        if (file.d.record_count == 0 && file.d.kind != STREAM_BANK) {
            reason = "it has no entries; --entry chooses among a bank's or stream pair's";
        } else {
            select_units(chosen_ranges(line), file.d, units, chosen, warnings, &reason);
        }
    } else {
        for (const sound_unit& unit : units)
            if (unit.frames > 0) chosen->push_back(unit);
        if (chosen->empty()) reason = why_no_sound(file.d);
    }
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
                if (same_file(target.path, input)) {
                    failure("cannot render", path, target.path + " is an input; it is never overwritten");
                    return false;
                }
            }
        }
        if (!run->outputs.insert(target.path).second) {
            failure("cannot render", path, "another file of this run is also written to " + target.path);
            return false;
        }
    }
    return true;
}

// With --no-clobber, outputs whose files exist are kept, and said.
void keep_existing_outputs(const command_line& line, std::vector<render_target>* targets) {
    if (!line.no_clobber) return;
    std::vector<render_target> left;
    for (const render_target& target : *targets) {
        if (target.path == "-" || !kept_existing(line, target.path)) left.push_back(target);
    }
    *targets = left;
}

// A unit of a record the module skips is one this tool decodes.
bool decoded_by_tool(const sound_unit& unit, const stream_description& d) {
    return unit.record_index >= 0 && d.records[unit.record_index].skipped != NOT_SKIPPED;
}

// True when a chosen record is xWMA, WMA Pro or XMA.
bool holds_packet_records(const stream_description& d, const record_ranges& ranges) {
    for (int32_t i = 0; i < d.record_count; ++i)
        if (is_packet_codec(d.records[i].codec) && record_chosen(ranges, d.records[i].record)) return true;
    return false;
}

// Why a chosen xWMA, WMA Pro or XMA record is not decoded here either.
void say_undecodable_packet_records(const stream_description& d, const record_ranges& ranges,
                                    std::vector<std::string>* said) {
    for (int32_t i = 0; i < d.record_count; ++i) {
        const entry_record& record = d.records[i];
        packet_format format;
        std::string reason;
        if (is_packet_codec(record.codec) && record_chosen(ranges, record.record) &&
            !packet_format_of(record, &format, &reason))
            said->push_back("record " + std::to_string(record.record) + " is not decoded: " + reason);
    }
}

// The module's word that a record is skipped, or that nothing plays, does
// not hold for the entries decoded here.
bool said_of_decoded_entries(const file_warning& warning, const stream_description& d,
                             const std::vector<sound_unit>& chosen) {
    bool any_decoded = false;
    for (const sound_unit& unit : chosen) {
        if (!decoded_by_tool(unit, d)) continue;
        any_decoded = true;
        // The only warning of a skipped record alone is that it is skipped.
        if (warning.first_record == unit.record && warning.last_record == unit.record) return true;
    }
    return any_decoded && warning.no_sound;
}

int render_one(render_run* run, const std::string& path) {
    const command_line& line = *run->line;
    described_file file;
    file_failure failed;
    if (!describe_for_tool(line, path, true, &file, &failed)) return failure(failed.what.c_str(), path, failed.reason);

    std::vector<sound_unit> chosen;
    std::vector<std::string> selection_warnings;
    bool has_sound = chosen_units(line, path, file, &chosen, &selection_warnings);
    record_ranges ranges = chosen_ranges(line);
    std::vector<std::string> said;
    // A file with no sound fails with the reason; its warning would repeat it.
    for (const file_warning& warning : file.warnings)
        if (warning_concerns(warning, ranges) && !(warning.no_sound && !has_sound) &&
            !said_of_decoded_entries(warning, file.d, chosen))
            said.push_back(warning.text);
    said.insert(said.end(), selection_warnings.begin(), selection_warnings.end());
    if (!packet_audio_available() && holds_packet_records(file.d, ranges))
        said.push_back(packet_audio_unavailable_reason());
    else
        say_undecodable_packet_records(file.d, ranges, &said);
    run->warned = run->warned || !said.empty();
    if (!line.quiet)
        for (const std::string& text : said) warn(path, text);
    if (!has_sound) return EXIT_FAILED;

    loop_rendering looping = looping_of(line);
    for (sound_unit& unit : chosen) unit.output_frames = rendered_frames(unit, looping);
    std::vector<render_target> targets;
    std::string reason;
    if (!plan_targets(out_for_file(line, path), stem_of(path), run->format == RENDER_RAW, chosen, record_width(file.d),
                      &targets, &reason))
        return failure("cannot render", path, reason);
    rename_for_format(run->format, &targets);
    if (!check_outputs(run, path, file, targets)) return EXIT_FAILED;
    keep_existing_outputs(line, &targets);
    if (targets.empty()) return EXIT_OK;

    // The entries the module plays, and those decoded here, go to files of
    // their own.
    std::vector<render_target> played, decoded;
    for (const render_target& target : targets) {
        bool here = decoded_by_tool(target.units[0], file.d);
        for (const sound_unit& unit : target.units)
            if (decoded_by_tool(unit, file.d) != here)
                return failure("cannot render", path,
                               target.path +
                                   " would hold entries the module plays and xWMA or XMA entries "
                                   "tolvane decodes; write them to separate files (-o DIR/)");
        (here ? decoded : played).push_back(target);
    }
    int status = EXIT_OK;
    if (!played.empty()) {
        std::string play_path = path;
        if (file.format_overridden) {
            play_path = wrap_raw_data(path, file.d);
            if (play_path.empty()) return failure("cannot render", path, "no temporary file for its raw data");
        }
        status = play_into_targets(run, path, play_path, played, file.d.entry_count ? played[0].units[0].start_ms : 0);
        if (file.format_overridden) file_remove(play_path.c_str());
    }
    if (status == EXIT_OK && !decoded.empty()) status = decode_into_targets(run, path, file.d, decoded);
    if (status != EXIT_OK) return status;
    for (const render_target& target : targets) run->entries_written += (int)target.units.size();
    if (!line.quiet) list_written(targets, line.out == "-" ? stderr : stdout);
    return status;
}

// --format, else OUT's extension: .wav, .raw, .flac or .ogg; WAVE for a
// folder, for standard output, and for a name without an extension.
bool choose_format(const command_line& line, render_format* format, std::string* error) {
    *format = RENDER_WAV;
    for (int f = 0; f < 4; ++f)
        if (line.format == FORMAT_NAMES[f]) *format = (render_format)f;
    if (line.format.empty()) {
        out_kind kind = classify_out(line.out);
        if (kind == OUT_STANDARD_OUTPUT || kind == OUT_FOLDER) return true;
        std::string name = fs::path(line.out).filename().string();
        bool known = false;
        for (int f = 0; f < 4; ++f) {
            if (path_extension_is(line.out.c_str(), FORMAT_NAMES[f])) {
                *format = (render_format)f;
                known = true;
            }
        }
        if (!known && name.find('.') != std::string::npos)
            *error = "cannot tell the format by the name " + line.out +
                     ": name it .wav, .raw, .flac or .ogg, or give --format";
    }
    bool encoded = *format == RENDER_FLAC || *format == RENDER_OGG;
    if (error->empty() && encoded && classify_out(line.out) == OUT_STANDARD_OUTPUT)
        *error = "FLAC and Ogg Vorbis go to files, not standard output";
    return error->empty();
}

}  // namespace

int run_render(const command_line& line) {
    render_run run;
    run.line = &line;
    std::string error;
    if (!choose_format(line, &run.format, &error)) return usage_error(error, "render");
    if ((run.format == RENDER_FLAC || run.format == RENDER_OGG) && !encoded_audio_available())
        return failure("cannot render", FORMAT_NAMES[run.format], encoded_audio_unavailable_reason());
    out_kind kind = classify_out(line.out);
    if (line.files.size() > 1 && kind == OUT_STANDARD_OUTPUT) return usage_error("-o - takes one FILE", "render");
    if (line.files.size() > 1 && kind == OUT_FILE)
        return usage_error("several files need -o DIR/ or a pattern with {name}", "render");
    if (kind == OUT_STANDARD_OUTPUT) stdout_binary();
    return run_each_input(
        &run, [&run](const std::string& path) { return render_one(&run, path); }, kind != OUT_STANDARD_OUTPUT);
}
