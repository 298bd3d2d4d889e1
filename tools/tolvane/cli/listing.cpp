// The listing of `tolvane info`, as text and as JSON.

#include "tools/tolvane/cli/listing.h"

#include "containers/wave_bank.h"

#include <stdio.h>

#include "containers/sound_bank.h"
#include "tools/tolvane/cli/file_report.h"
#include "tools/tolvane/cli/utf8.h"

namespace {

// One row: a record (played or skipped), or a single stream.
struct listing_row {
    int32_t record;  // 0 for a single stream
    int64_t offset;
    int64_t bytes;
    int64_t rate;
    int64_t channels;
    int64_t frames;
    int64_t duration_ms;
    int64_t looped_ms;  // rendered with its loop repeated and faded; NO_FRAMES without a loop
    int64_t loop_start;
    int64_t loop_end;
    int64_t stated_frames;
    entry_codec codec;
    const char* name;                    // "" for none
    std::string skipped;                 // why, for a skipped record
    std::vector<std::string> cue_names;  // of the sound bank cues that play it
};

std::vector<std::string> cue_names_of(const stream_description& description, const entry_record& record) {
    std::vector<std::string> names;
    for (int32_t i = 0; i < record.cue_name_count; ++i) names.push_back(record_cue_name(&description, record, i));
    return names;
}

// How long a looped unit renders, or NO_FRAMES for one without a loop.
int64_t looped_ms_of(const sound_unit& unit, const loop_rendering& looping) {
    if (!unit_loops(unit, looping) || unit.rate == 0) return NO_FRAMES;
    return rendered_frames(unit, looping) * 1000 / unit.rate;
}

// Calls row() for every row: the records in file order, each played one with
// what the plan gives it; or the single stream's one row.
template <typename Row>
void for_each_row(const stream_description& description, const std::vector<sound_unit>& units,
                  const loop_rendering& looping, Row row) {
    if (description.record_count == 0 && description.kind != STREAM_BANK) {
        // Anything but a bank plays as one stream when it has no records.
        const sound_unit& unit = units[0];
        row(listing_row{0, description.data_start, description.data_length, unit.rate, unit.channels, unit.frames,
                        unit.duration_ms, looped_ms_of(unit, looping), description.stream_loop_start,
                        description.stream_loop_end, description.stated_frames, CODEC_XBOX_ADPCM,
                        stream_name(&description), "", std::vector<std::string>()});
        return;
    }
    size_t next_unit = 0;
    for (int32_t i = 0; i < description.record_count; ++i) {
        const entry_record& record = description.records[i];
        int64_t frames = 0;
        int64_t duration_ms = 0;
        int64_t looped_ms = NO_FRAMES;
        if (next_unit < units.size() && units[next_unit].record_index == i) {
            frames = units[next_unit].frames;
            duration_ms = units[next_unit].duration_ms;
            looped_ms = looped_ms_of(units[next_unit], looping);
            next_unit++;
        }
        row(listing_row{record.record, record.offset, record.length, record.rate, record.channels, frames, duration_ms,
                        looped_ms, record.loop_start, record.loop_end, record.stated_frames, record.codec,
                        record_name(&description, record), record.skipped == NOT_SKIPPED ? "" : skip_text(record),
                        cue_names_of(description, record)});
    }
}

std::string frames_or_dash(int64_t frames) {
    return frames == NO_FRAMES ? "-" : std::to_string(frames);
}

// Control bytes in a name would move the cursor; they show as '?'.
std::string printable(const char* text) {
    std::string out = text;
    for (char& c : out)
        if ((unsigned char)c < 0x20 || c == 0x7f) c = '?';
    return out;
}

const char* kind_name(stream_kind kind) {
    switch (kind) {
    case STREAM_RAW:
        return "raw";
    case STREAM_WAVE:
        return "wave";
    case STREAM_BANK:
        return "bank";
    case STREAM_PAIR:
        return "stream pair";
    }
    return "";
}

// Bytes that form UTF-8 go out as they are; every other byte, and every
// control character, as \u00XX, so the document is valid whatever a file
// name or a record name holds.
void append_json_string(std::string* out, const std::string& text) {
    *out += '"';
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = (unsigned char)text[i];
        size_t length = utf8_sequence_length(text, i);
        if (c == '"' || c == '\\') {
            *out += '\\';
            *out += (char)c;
        } else if (c < 0x20 || c == 0x7f || length == 0) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            *out += escaped;
        } else {
            out->append(text, i, length);
            i += length;
            continue;
        }
        i++;
    }
    *out += '"';
}

void append_json_key(std::string* out, const char* key) {
    if (out->back() != '{') *out += ',';
    append_json_string(out, key);
    *out += ':';
}

void append_number(std::string* out, const char* key, int64_t value) {
    append_json_key(out, key);
    *out += std::to_string(value);
}

void append_frames(std::string* out, const char* key, int64_t frames) {
    append_json_key(out, key);
    *out += frames == NO_FRAMES ? "null" : std::to_string(frames);
}

void append_json_strings(std::string* out, const std::vector<std::string>& texts) {
    *out += '[';
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i) *out += ',';
        append_json_string(out, texts[i]);
    }
    *out += ']';
}

void append_text_or_null(std::string* out, const char* key, const std::string& text) {
    if (text.empty()) {
        append_json_key(out, key);
        *out += "null";
    } else {
        append_json_text(out, key, text);
    }
}

}  // namespace

void append_json_text(std::string* out, const char* key, const std::string& text) {
    append_json_key(out, key);
    append_json_string(out, text);
}

// Who a bank was written for: its content version and byte order say it.
const char* bank_platform_name(const stream_description& description) {
    if (description.kind != STREAM_BANK || description.layout_version < 0) return nullptr;
    if (description.big_endian) return "xbox360";
    return description.layout_version >= FIRST_WINDOWS_BANK_VERSION ? "windows" : "xbox";
}

void print_info_text(FILE* out, const player_view& view, const stream_description& description,
                     const std::vector<sound_unit>& units, const loop_rendering& looping,
                     const std::vector<std::string>& notes) {
    fprintf(out, "title: %s\nlength_ms: %d\nsample_rate: %d\nchannels: %d\nentries: %d\n", view.title.c_str(),
            view.length_ms, view.sample_rate, view.channels, view.entries);
    if (const char* platform = bank_platform_name(description)) {
        fprintf(out, "platform: %s\nversion: %lld", platform, (long long)description.layout_version);
        if (description.header_version >= 0) fprintf(out, " (header %lld)", (long long)description.header_version);
        fprintf(out, "\n");
    }
    for (const std::string& note : notes) fprintf(out, "note: %s\n", printable(note.c_str()).c_str());
    fprintf(out, "%7s %10s %10s %7s %3s %11s %11s %11s %17s %11s  %s\n", "record", "offset", "bytes", "rate", "ch",
            "frames", "duration_ms", "looped_ms", "loop", "stated", "name");
    for_each_row(description, units, looping, [out](const listing_row& row) {
        std::string record = row.record > 0 ? std::to_string(row.record) : "-";
        std::string loop =
            row.loop_start == NO_FRAMES ? "-" : std::to_string(row.loop_start) + "-" + std::to_string(row.loop_end);
        std::string name = row.name[0] ? printable(row.name) : "-";
        fprintf(out, "%7s %10lld %10lld %7lld %3lld %11lld %11lld %11s %17s %11s  %s%s%s\n", record.c_str(),
                (long long)row.offset, (long long)row.bytes, (long long)row.rate, (long long)row.channels,
                (long long)row.frames, (long long)row.duration_ms, frames_or_dash(row.looped_ms).c_str(), loop.c_str(),
                frames_or_dash(row.stated_frames).c_str(), name.c_str(),
                row.skipped.empty() ? "" : "  skipped: ", row.skipped.c_str());
    });
}

void print_info_json(FILE* out, const std::string& path, const player_view& view, const stream_description& description,
                     const std::vector<sound_unit>& units, const loop_rendering& looping,
                     const std::vector<std::string>& warnings, const std::vector<std::string>& notes) {
    std::string text = "{";
    append_json_text(&text, "file", path);
    append_json_text(&text, "title", view.title);
    append_number(&text, "length_ms", view.length_ms);
    append_number(&text, "sample_rate", view.sample_rate);
    append_number(&text, "channels", view.channels);
    append_number(&text, "entries", view.entries);
    append_json_text(&text, "kind", kind_name(description.kind));
    append_json_key(&text, "compressed");
    text += description.inflated ? "true" : "false";
    append_frames(&text, "version", description.layout_version);
    append_frames(&text, "header_version", description.header_version);
    const char* platform = bank_platform_name(description);
    append_text_or_null(&text, "platform", platform ? platform : "");
    append_text_or_null(&text, "bank_name", description.bank_name);
    append_frames(&text, "stated_frames", description.stated_frames);
    int64_t frames = 0;
    int64_t duration_ms = 0;
    int64_t looped_ms = 0;
    for (const sound_unit& unit : units) {
        frames += unit.frames;
        duration_ms += unit.duration_ms;
        int64_t looped = looped_ms_of(unit, looping);
        looped_ms += looped == NO_FRAMES ? unit.duration_ms : looped;
    }
    append_number(&text, "frames", frames);
    append_number(&text, "duration_ms", duration_ms);
    append_number(&text, "looped_ms", looped_ms);
    append_json_key(&text, "records");
    text += '[';
    fputs(text.c_str(), out);
    bool first = true;
    for_each_row(description, units, looping, [out, &first](const listing_row& row) {
        if (row.record == 0) return;
        std::string record = first ? "{" : ",{";
        first = false;
        append_number(&record, "record", row.record);
        append_number(&record, "offset", row.offset);
        append_number(&record, "bytes", row.bytes);
        append_number(&record, "sample_rate", row.rate);
        append_number(&record, "channels", row.channels);
        append_number(&record, "frames", row.frames);
        append_number(&record, "duration_ms", row.duration_ms);
        append_frames(&record, "looped_ms", row.looped_ms);
        append_text_or_null(&record, "name", row.name);
        append_json_key(&record, "cue_names");
        append_json_strings(&record, row.cue_names);
        append_frames(&record, "loop_start", row.loop_start);
        append_frames(&record, "loop_end", row.loop_end);
        append_frames(&record, "stated_frames", row.stated_frames);
        append_json_text(&record, "codec", codec_key(row.codec));
        append_text_or_null(&record, "skipped", row.skipped);
        record += '}';
        fputs(record.c_str(), out);
    });
    text = "]";
    append_json_key(&text, "warnings");
    append_json_strings(&text, warnings);
    append_json_key(&text, "notes");
    append_json_strings(&text, notes);
    text += "}\n";
    fputs(text.c_str(), out);
}
