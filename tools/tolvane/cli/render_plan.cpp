// Selecting a file's entries and naming the files they are rendered into.

#include "tools/tolvane/cli/render_plan.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "containers/file_names.h"
#include "containers/timeline.h"
#include "platform/platform.h"
#include "tools/tolvane/cli/file_report.h"
#include "tools/tolvane/cli/utf8.h"

namespace {

// {dir} is filled before the plan (out_for_file), but names a pattern too.
const char* const PLACEHOLDERS[] = {"{name}", "{entry}", "{label}", "{rate}", "{dir}"};
// Names Windows keeps for devices in every folder.
const char* const DEVICE_NAMES[] = {"con",  "prn",  "aux",  "nul",  "com1", "com2", "com3", "com4",
                                    "com5", "com6", "com7", "com8", "com9", "lpt1", "lpt2", "lpt3",
                                    "lpt4", "lpt5", "lpt6", "lpt7", "lpt8", "lpt9"};
const size_t LONGEST_LABEL = 120;

// Characters a file name cannot hold on some system.
bool is_forbidden_in_file_names(unsigned char c) {
    return c < 0x20 || c == 0x7f || strchr("/\\:*?\"<>|", c) != nullptr;
}

// What the name's bytes at `at` become in a label (*length of them): a UTF-8
// character as it is, one a file name cannot hold (or a control character)
// as '_', and a byte that is not UTF-8 as %XX, so that names in other
// encodings (Shift-JIS, Latin-1) stay apart.
std::string label_piece(const std::string& name, size_t at, size_t* length) {
    unsigned char c = (unsigned char)name[at];
    *length = utf8_sequence_length(name, at);
    if (*length == 0) {
        *length = 1;
        char escaped[4];
        snprintf(escaped, sizeof escaped, "%%%02X", c);
        return escaped;
    }
    if (*length == 1) return is_forbidden_in_file_names(c) ? "_" : std::string(1, (char)c);
    // U+0080 to U+009F are control characters too.
    if (c == 0xc2 && (unsigned char)name[at + 1] < 0xa0) return "_";
    return name.substr(at, *length);
}

void replace_all(std::string* text, const std::string& from, const std::string& to) {
    for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size()))
        text->replace(at, from.size(), to);
}

size_t extension_start(const std::string& path) {
    return (size_t)(extension_dot(path.c_str()) - path.c_str());
}

std::string describe_format(const sound_unit& unit) {
    return std::to_string(unit.rate) + " Hz " +
           (unit.channels == 1 ? std::string("mono") : std::to_string(unit.channels) + " channels");
}

// The formats of the units, when there are several.
bool one_format(const std::vector<sound_unit>& units, std::string* formats) {
    std::vector<std::string> seen;
    for (const sound_unit& unit : units) {
        std::string format = describe_format(unit);
        if (std::find(seen.begin(), seen.end(), format) == seen.end()) seen.push_back(format);
    }
    for (size_t i = 0; i < seen.size(); ++i) *formats += (i ? ", " : "") + seen[i];
    return seen.size() <= 1;
}

uint64_t pcm_bytes_of(const std::vector<sound_unit>& units) {
    uint64_t bytes = 0;
    for (const sound_unit& unit : units) bytes += (uint64_t)unit.output_frames * unit.channels * 2;
    return bytes;
}

// A loop within the frames played, or none.
void take_loop(sound_unit* unit, int64_t loop_start, int64_t loop_end) {
    if (loop_start < 0 || loop_end <= loop_start || loop_end > unit->frames) return;
    unit->loop_start = loop_start;
    unit->loop_end = loop_end;
}

}  // namespace

std::vector<sound_unit> sound_units(const stream_description& description) {
    std::vector<sound_unit> units;
    item_plan plan;
    if (!plan_item(&description, &plan)) return units;
    for (int32_t i = 0; i < plan.count; ++i) {
        const entry_span& span = plan.spans[i];
        bool single = span.record_index < 0;
        const entry_record* record = single ? nullptr : &description.records[span.record_index];
        units.push_back({i, single ? 0 : record->record, span.record_index, span.rate, span.channels, span_frames(span),
                         span.start_ms, span.duration_ms,
                         single ? stream_name(&description) : record_name(&description, *record)});
        take_loop(&units.back(), single ? description.stream_loop_start : record->loop_start,
                  single ? description.stream_loop_end : record->loop_end);
    }
    plan_release(&plan);
    mark_shared_names(description, &units);
    return units;
}

std::vector<sound_unit> tool_decoded_units(const stream_description& description,
                                           bool (*decodes)(const entry_record& record), int32_t first_index) {
    std::vector<sound_unit> units;
    for (int32_t i = 0; i < description.record_count; ++i) {
        const entry_record& record = description.records[i];
        if (record.skipped == NOT_SKIPPED || !decodes(record) || record.stated_frames <= 0 || record.rate <= 0)
            continue;
        int64_t duration_ms = record.stated_frames * 1000 / record.rate;
        units.push_back({first_index + (int32_t)units.size(), record.record, i, (uint32_t)record.rate,
                         (uint16_t)record.channels, record.stated_frames, 0, duration_ms,
                         record_name(&description, record)});
        take_loop(&units.back(), record.loop_start, record.loop_end);
    }
    return units;
}

namespace {

// A record number: digits only, from 1, fitting an int.
bool parse_record_number(const std::string& text, int32_t* number) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    *number = atoi(text.c_str());
    return *number >= 1;
}

// The highest record number the file has.
int32_t last_record_of(const stream_description& description) {
    int32_t last = 0;
    for (int32_t i = 0; i < description.record_count; ++i) last = std::max(last, description.records[i].record);
    return last;
}

std::string numbers_text(int32_t first, int32_t last) {
    return first == last ? "record " + std::to_string(first)
                         : "records " + std::to_string(first) + " to " + std::to_string(last);
}

}  // namespace

bool unit_loops(const sound_unit& unit, const loop_rendering& looping) {
    return !looping.ignore && unit.loop_start >= 0;
}

int64_t fade_frames(const sound_unit& unit, const loop_rendering& looping) {
    return (int64_t)looping.fade_ms * unit.rate / 1000;
}

int64_t rendered_frames(const sound_unit& unit, const loop_rendering& looping) {
    if (!unit_loops(unit, looping)) return unit.frames;
    int64_t loop_frames = unit.loop_end - unit.loop_start;
    return unit.loop_end + loop_frames * ((int64_t)looping.loops - 1) + fade_frames(unit, looping);
}

bool parse_entry_list(const std::string& text, std::vector<std::pair<int32_t, int32_t>>* ranges) {
    ranges->clear();
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        std::string item = text.substr(start, comma - start);
        size_t dash = item.find('-');
        int32_t from = 1;
        int32_t to = TO_THE_LAST_RECORD;
        if (dash == std::string::npos) {
            if (!parse_record_number(item, &from)) return false;
            to = from;
        } else {
            std::string first = item.substr(0, dash);
            std::string last = item.substr(dash + 1);
            if (first.empty() && last.empty()) return false;
            if (!first.empty() && !parse_record_number(first, &from)) return false;
            if (!last.empty() && !parse_record_number(last, &to)) return false;
            if (to < from) return false;
        }
        ranges->push_back({from, to});
        start = comma + 1;
    }
    return !ranges->empty();
}

bool record_chosen(const std::vector<std::pair<int32_t, int32_t>>& ranges, int32_t record) {
    for (const auto& range : ranges)
        if (record >= range.first && record <= range.second) return true;
    return false;
}

bool select_units(const std::vector<std::pair<int32_t, int32_t>>& ranges, const stream_description& description,
                  const std::vector<sound_unit>& units, std::vector<sound_unit>* selected,
                  std::vector<std::string>* warnings, std::string* reason) {
    selected->clear();
    std::vector<std::string> left_out;
    for (const sound_unit& unit : units) {
        if (!record_chosen(ranges, unit.record)) continue;
        if (unit.frames > 0) {
            selected->push_back(unit);
        } else {
            left_out.push_back("record " + std::to_string(unit.record) +
                               " plays nothing (it holds less than a block set, or lies inside the entry before it)");
        }
    }
    for (int32_t i = 0; i < description.record_count; ++i) {
        const entry_record& record = description.records[i];
        bool has_unit =
            std::any_of(units.begin(), units.end(), [&](const sound_unit& u) { return u.record_index == i; });
        if (record.skipped != NOT_SKIPPED && !has_unit && record_chosen(ranges, record.record))
            left_out.push_back("record " + std::to_string(record.record) + " was skipped: " + skip_text(record));
    }
    int32_t last = last_record_of(description);
    for (const auto& range : ranges) {
        if (range.second == TO_THE_LAST_RECORD || range.second <= last) continue;
        int32_t first_missing = std::max(range.first, last + 1);
        left_out.push_back("no " + numbers_text(first_missing, range.second) + " (the file has " +
                           std::to_string(last) + ")");
    }
    if (!selected->empty()) {
        warnings->insert(warnings->end(), left_out.begin(), left_out.end());
        return true;
    }
    *reason = left_out.size() == 1 ? left_out[0] : "none of the records chosen plays";
    return false;
}

std::string unknown_placeholder(const std::string& out) {
    for (size_t open = out.find('{'); open != std::string::npos; open = out.find('{', open + 1)) {
        size_t close = out.find('}', open);
        if (close == std::string::npos) return "";
        std::string placeholder = out.substr(open, close - open + 1);
        bool known = false;
        for (const char* name : PLACEHOLDERS) known = known || placeholder == name;
        if (!known) return placeholder;
    }
    return "";
}

out_kind classify_out(const std::string& out) {
    if (out == "-") return OUT_STANDARD_OUTPUT;
    if (!out.empty() && is_path_separator(out.back())) return OUT_FOLDER;
    for (const char* placeholder : PLACEHOLDERS)
        if (out.find(placeholder) != std::string::npos) return OUT_PATTERN;
    std::error_code error;
    if (std::filesystem::is_directory(out, error)) return OUT_FOLDER;
    return OUT_FILE;
}

int record_width(const stream_description& description) {
    int32_t largest = (int32_t)description.records_read;
    for (int32_t i = 0; i < description.record_count; ++i) largest = std::max(largest, description.records[i].record);
    int width = (int)std::to_string(largest).size();
    return width < 2 ? 2 : width;
}

std::string padded_record(int32_t record, int width) {
    char text[32];
    snprintf(text, sizeof text, "%0*d", width, (int)record);
    return text;
}

std::string file_label(const sound_unit& unit, int width) {
    std::string label;
    // Cut at a whole character or %XX.
    for (size_t at = 0, length = 0; at < unit.name.size(); at += length) {
        std::string piece = label_piece(unit.name, at, &length);
        if (label.size() + piece.size() > LONGEST_LABEL) break;
        label += piece;
    }
    // Windows drops dots and spaces at the ends of names; leading ones hide
    // a file on POSIX.
    size_t first = label.find_first_not_of(". ");
    size_t last = label.find_last_not_of(". ");
    label = first == std::string::npos ? "" : label.substr(first, last - first + 1);
    if (label.empty()) return padded_record(unit.record > 0 ? unit.record : 1, width);
    std::string stem = label.substr(0, label.find('.'));
    for (char& c : stem)
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    for (const char* device : DEVICE_NAMES)
        if (stem == device) label = "_" + label;
    if (unit.name_shared) label += "-" + padded_record(unit.record > 0 ? unit.record : 1, width);
    return label;
}

void mark_shared_names(const stream_description& description, std::vector<sound_unit>* units) {
    std::map<std::string, int> records_named;
    for (int32_t i = 0; i < description.record_count; ++i) {
        const char* name = record_name(&description, description.records[i]);
        if (name[0]) records_named[name]++;
    }
    for (sound_unit& unit : *units) unit.name_shared = !unit.name.empty() && records_named[unit.name] > 1;
}

bool plan_targets(const std::string& out, const std::string& input_stem, bool raw,
                  const std::vector<sound_unit>& selected, int width, std::vector<render_target>* targets,
                  std::string* reason) {
    targets->clear();
    const std::string extension = raw ? ".raw" : ".wav";
    out_kind kind = classify_out(out);
    std::string formats;
    if (kind == OUT_STANDARD_OUTPUT || (kind == OUT_FILE && raw)) {
        if (!one_format(selected, &formats)) {
            *reason = std::string(kind == OUT_STANDARD_OUTPUT ? "standard output" : "a raw file") +
                      " holds one format, and these entries have several (" + formats +
                      "): choose entries of one format with --entry, or write WAVE files";
            return false;
        }
        targets->push_back({out, selected, pcm_bytes_of(selected)});
        return true;
    }
    for (const sound_unit& unit : selected) {
        std::string number = padded_record(unit.record > 0 ? unit.record : 1, width);
        std::string path;
        if (kind == OUT_FILE) {
            path = selected.size() == 1 ? out : out.substr(0, extension_start(out)) + "-" + number + extension;
        } else if (kind == OUT_FOLDER) {
            path = out;
            if (!is_path_separator(path.back())) path += PLATFORM_PATH_SEPARATOR;
            path += input_stem + (unit.record > 0 ? "-" + number : "") + extension;
        } else {
            path = out;
            if (selected.size() > 1 && path.find("{entry}") == std::string::npos &&
                path.find("{label}") == std::string::npos)
                path.insert(extension_start(path), "-{entry}");
            replace_all(&path, "{name}", input_stem);
            replace_all(&path, "{entry}", number);
            replace_all(&path, "{rate}", std::to_string(unit.rate));
            // Last: a label may hold braces of its own.
            replace_all(&path, "{label}", file_label(unit, width));
        }
        targets->push_back({path, {unit}, pcm_bytes_of({unit})});
    }
    std::set<std::string> paths;
    for (const render_target& target : *targets) {
        if (!paths.insert(target.path).second) {
            *reason = "two outputs would both be named " + target.path + ": put {entry} in the pattern";
            return false;
        }
    }
    return true;
}
