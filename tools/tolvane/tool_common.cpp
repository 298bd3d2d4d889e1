// Messages, exit statuses and the describing of files shared by the commands.

#include "tools/tolvane/tool_common.h"

#include <filesystem>

#include "containers/file_names.h"
#include "containers/stream_opener.h"
#include "tools/tolvane/linked_zlib.h"
#include "tools/tolvane/host_session.h"
#include "tools/tolvane/output_file.h"
#include "tools/tolvane/render_plan.h"
#include "tools/tolvane/sound_bank_names.h"

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
