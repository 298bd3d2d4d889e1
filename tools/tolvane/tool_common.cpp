// Messages, exit statuses and the describing of files shared by the commands.

#include "tools/tolvane/tool_common.h"

#include "tools/tolvane/session/packet_audio.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>

#include "containers/file_names.h"
#include "containers/stream_opener.h"
#include "containers/wave_bank.h"
#include "platform/host_io.h"
#include "tools/tolvane/session/linked_zlib.h"
#include "tools/tolvane/session/host_session.h"
#include "containers/output_file.h"
#include "tools/tolvane/cli/render_plan.h"
#include "tools/tolvane/cli/sound_bank_names.h"

namespace fs = std::filesystem;

namespace {

const char DEFAULT_DEVICE[] = "default";

}  // namespace

int usage_error(const std::string& reason, const std::string& command) {
    std::string help = command.empty() || command == "help" ? "tolvane --help" : "tolvane " + command + " --help";
    fprintf(stderr, "tolvane: %s (see '%s')\n", reason.c_str(), help.c_str());
    return EXIT_USAGE;
}

int failure(const char* what, const std::string& name, const std::string& reason) {
    fprintf(stderr, "tolvane: %s %s%s%s\n", what, name.c_str(), reason.empty() ? "" : ": ", reason.c_str());
    return EXIT_FAILED;
}

void warn(const std::string& path, const std::string& text) {
    fprintf(stderr, "tolvane: warning: %s: %s\n", path.c_str(), text.c_str());
}

int interrupted_exit() {
    discard_unfinished_outputs();
    fflush(stdout);
    fprintf(stderr, "tolvane: interrupted\n");
    return EXIT_INTERRUPTED;
}

std::string module_path_of(const command_line& line) {
    return line.module.empty() ? default_module_path() : line.module;
}

std::string device_name_of(const command_line& line) {
    return line.device.empty() ? DEFAULT_DEVICE : line.device;
}

bool describe_for_tool(const command_line& line, const std::string& path, bool decoding, described_file* file,
                       file_failure* failed) {
    std::string reason = unreadable_reason(path);
    if (reason.empty() && !describe_stream(path.c_str(), &LINKED_ZLIB, &file->d)) reason = "cannot be opened";
    if (!reason.empty()) {
        *failed = {"cannot read", reason};
        return false;
    }
    reason = refusal_text(file->d);
    // A bank of only xWMA or XMA, which the module refuses, is rendered here.
    if (description_refusal(&file->d) == REFUSED_NOTHING_PLAYABLE && line.command == "render" &&
        packet_audio_available())
        reason.clear();
    if (!reason.empty()) {
        *failed = {"cannot play", reason};
        return false;
    }
    bool raw_asked = line.raw || line.rate || line.channels;
    if (decoding && !raw_asked) {
        reason = raw_fallback_refusal(path, file->d);
        if (!reason.empty()) {
            *failed = {"cannot " + line.command, reason};
            return false;
        }
    }
    if (line.rate || line.channels) {
        if (file->d.kind == STREAM_RAW) {
            if (line.rate) file->d.sample_rate = line.rate;
            if (line.channels) file->d.channels = (uint16_t)line.channels;
            file->format_overridden = true;
        } else {
            file->warnings.push_back({"--rate and --channels apply to raw data only; ignored", 0, 0});
        }
    }
    // Raw data asked for is no surprise; the rest of what was noticed is.
    bool raw_by_request = raw_asked && file->d.kind == STREAM_RAW;
    for (const file_warning& warning : warnings_of(path, file->d, line.command == "render" || line.strict)) {
        if (raw_by_request && warning.text.find("raw Xbox ADPCM data") != std::string::npos) continue;
        file->warnings.push_back(warning);
    }
    sound_bank_naming naming = name_from_sound_banks(path, line.sound_bank, &file->d);
    file->notes = naming.notes;
    for (const std::string& text : naming.warnings) file->warnings.push_back({text, 0, 0});
    return true;
}

record_ranges chosen_ranges(const command_line& line) {
    record_ranges ranges;
    if (line.entries.empty() || !parse_entry_list(line.entries, &ranges)) ranges = {{1, TO_THE_LAST_RECORD}};
    return ranges;
}

bool warning_concerns(const file_warning& warning, const record_ranges& chosen) {
    if (warning.first_record == 0) return true;
    for (const auto& range : chosen)
        if (warning.first_record <= range.second && warning.last_record >= range.first) return true;
    return false;
}

std::string stem_of(const std::string& path) {
    const char* name = base_name(path.c_str());
    return std::string(name, extension_dot(name));
}

std::string path_played(const std::string& path, const stream_description& d) {
    return d.partner_extension[0] ? with_extension(path, d.partner_extension) : path;
}

std::vector<std::string> inputs_of(const std::string& path, const stream_description& d) {
    std::vector<std::string> inputs = {path};
    if (d.partner_extension[0] && !(d.notices & NOTICE_PARTNER_MISSING)) inputs.push_back(path_played(path, d));
    return inputs;
}

bool same_file(const std::string& a, const std::string& b) {
    std::error_code error;
    return fs::equivalent(a, b, error) && !error;
}

int run_each_input(outputs_run* run, const std::function<int(const std::string&)>& one, bool summary) {
    const command_line& line = *run->line;
    terminal_catch_interrupts();
    int status = EXIT_OK;
    for (const std::string& path : line.files) {
        int file_status = one(path);
        if (file_status == EXIT_INTERRUPTED || interrupt_requested()) return interrupted_exit();
        if (file_status != EXIT_OK) {
            status = EXIT_FAILED;
            run->files_failed++;
        }
    }
    if (summary && line.files.size() > 1 && !line.quiet && terminal_stdout_is_tty())
        printf("%u files, %d entries written, %d refused\n", (unsigned)line.files.size(), run->entries_written,
               run->files_failed);
    return line.strict && run->warned ? EXIT_FAILED : status;
}

bool kept_existing(const command_line& line, const std::string& path) {
    std::error_code probe;
    if (!line.no_clobber || !fs::exists(path, probe)) return false;
    fprintf(stderr, "tolvane: kept %s: it exists (--no-clobber)\n", path.c_str());
    return true;
}

namespace {

// The extensions the plug-in registers, and the first bytes of the kinds it
// reads whatever their names.
const char* const KNOWN_EXTENSIONS[] = {"wav", "xwb", "zwb", "wba", "xsh", "xsd", "dat"};

bool of_a_known_kind(const std::string& path) {
    for (const char* extension : KNOWN_EXTENSIONS)
        if (path_extension_is(path.c_str(), extension)) return true;
    uint8_t lead[8] = {};
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return false;
    size_t got = fread(lead, 1, sizeof lead, file);
    fclose(file);
    return (got >= 4 && (memcmp(lead, "RIFF", 4) == 0 || memcmp(lead, WAVE_BANK_MAGIC, 4) == 0 ||
                         memcmp(lead, WAVE_BANK_MAGIC_BIG_ENDIAN, 4) == 0)) ||
           (got == 8 && memcmp(lead, CONTAINER_MAGIC, 8) == 0);
}

// A stream data file whose header lies beside it is listed by the header.
bool listed_by_its_header(const std::string& path) {
    if (!path_extension_is(path.c_str(), "xsd")) return false;
    std::error_code error;
    return fs::exists(with_extension(path, "xsh"), error) || fs::exists(with_extension(path, "XSH"), error);
}

}  // namespace

bool walk_folders(command_line* line) {
    std::vector<std::string> files;
    std::vector<std::string> folders;
    for (const std::string& given : line->files) {
        std::error_code error;
        if (!fs::is_directory(given, error)) {
            files.push_back(given);
            folders.push_back("");
            continue;
        }
        std::vector<fs::path> found;
        for (fs::recursive_directory_iterator it(given, error), end; !error && it != end; it.increment(error))
            if (it->is_regular_file(error)) found.push_back(it->path());
        if (error) {
            failure("cannot read", given, system_reason(error.value()));
            return false;
        }
        std::sort(found.begin(), found.end());
        size_t before = files.size();
        for (const fs::path& file : found) {
            std::string path = file.string();
            if (!line->raw && (!of_a_known_kind(path) || listed_by_its_header(path))) continue;
            files.push_back(path);
            folders.push_back(file.parent_path().lexically_relative(given).lexically_normal().string());
            if (folders.back() == ".") folders.back().clear();
        }
        if (files.size() == before) {
            failure("cannot read", given, "it holds no file of a kind Tolvane knows");
            return false;
        }
    }
    line->files = files;
    line->file_folders = folders;
    return true;
}

std::string out_for_file(const command_line& line, const std::string& path) {
    std::string folder;
    for (size_t i = 0; i < line.files.size() && i < line.file_folders.size(); ++i)
        if (line.files[i] == path) folder = line.file_folders[i];
    std::string out = line.out;
    if (classify_out(out) == OUT_FOLDER) {
        if (!folder.empty()) {
            if (!is_path_separator(out.back())) out += PLATFORM_PATH_SEPARATOR;
            out += folder + PLATFORM_PATH_SEPARATOR;
        }
        return out;
    }
    const std::string placeholder = "{dir}";
    for (size_t at = out.find(placeholder); at != std::string::npos; at = out.find(placeholder, at + folder.size())) {
        // With no folder, "{dir}/" goes whole, so no empty folder name is left.
        size_t length = placeholder.size();
        if (folder.empty() && at + length < out.size() && is_path_separator(out[at + length])) length++;
        out.replace(at, length, folder);
    }
    return out;
}
