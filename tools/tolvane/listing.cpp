// The listing of `tolvane info`, as text and as JSON.

#include "tools/tolvane/listing.h"

#include <stdio.h>


#include "tools/tolvane/file_report.h"

namespace {

// One row: a kept entry, a skipped record, or a single stream.
struct listing_row {
    int32_t record;  // 0 for a single stream
    int64_t offset;
    int64_t bytes;
    int64_t rate;
    int64_t channels;
    int64_t frames;
    int64_t duration_ms;
    std::string skipped;  // why, for a skipped record
};

// Calls row() for every row in record order: the entries and the skipped
// records, both already in record order, merged; or the single stream's.
template <typename Row>
void for_each_row(const stream_description& description, const std::vector<sound_unit>& units, Row row) {
    if (description.entry_count == 0 && description.kind != STREAM_BANK) {
        // Anything but a bank plays as one stream when it has no entries.
        const sound_unit& unit = units[0];
        row(listing_row{0, description.data_start, description.data_length, unit.rate, unit.channels, unit.frames,
                        unit.duration_ms, ""});
    }
    int32_t skipped = 0;
    for (int32_t i = 0; i < description.entry_count; ++i) {
        const entry_record& entry = description.entries[i];
        for (; skipped < description.skipped_count && description.skipped[skipped].record < entry.record; ++skipped) {
            const skipped_record& record = description.skipped[skipped];
            row(listing_row{record.record, record.offset, record.length, record.rate, record.channels, 0, 0,
                            skip_text(record)});
        }
        const sound_unit& unit = units[(size_t)i];
        row(listing_row{entry.record, entry.offset, entry.length, entry.rate, entry.channels, unit.frames,
                        unit.duration_ms, ""});
    }
    for (; skipped < description.skipped_count; ++skipped) {
        const skipped_record& record = description.skipped[skipped];
        row(listing_row{record.record, record.offset, record.length, record.rate, record.channels, 0, 0,
                        skip_text(record)});
    }
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

void append_json_string(std::string* out, const std::string& text) {
    *out += '"';
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            *out += '\\';
            *out += (char)c;
        } else if (c < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            *out += escaped;
        } else {
            *out += (char)c;
        }
    }
    *out += '"';
}

void append_key(std::string* out, const char* key) {
    if (out->back() != '{') *out += ',';
    append_json_string(out, key);
    *out += ':';
}

void append_number(std::string* out, const char* key, int64_t value) {
    append_key(out, key);
    *out += std::to_string(value);
}

}  // namespace

void print_info_text(FILE* out, const player_view& view, const stream_description& description,
                     const std::vector<sound_unit>& units) {
    fprintf(out, "title: %s\nlength_ms: %d\nsample_rate: %d\nchannels: %d\nentries: %d\n", view.title.c_str(),
            view.length_ms, view.sample_rate, view.channels, view.entries);
    fprintf(out, "%7s %10s %10s %7s %3s %11s %11s\n", "record", "offset", "bytes", "rate", "ch", "frames",
            "duration_ms");
    for_each_row(description, units, [out](const listing_row& row) {
        std::string record = row.record > 0 ? std::to_string(row.record) : "-";
        fprintf(out, "%7s %10lld %10lld %7lld %3lld %11lld %11lld%s%s\n", record.c_str(), (long long)row.offset,
                (long long)row.bytes, (long long)row.rate, (long long)row.channels, (long long)row.frames,
                (long long)row.duration_ms, row.skipped.empty() ? "" : "  skipped: ", row.skipped.c_str());
    });
}

void print_info_json(FILE* out, const std::string& path, const player_view& view,
                     const stream_description& description, const std::vector<sound_unit>& units,
                     const std::vector<std::string>& warnings) {
    std::string text = "{";
    append_key(&text, "file");
    append_json_string(&text, path);
    append_key(&text, "title");
    append_json_string(&text, view.title);
    append_number(&text, "length_ms", view.length_ms);
    append_number(&text, "sample_rate", view.sample_rate);
    append_number(&text, "channels", view.channels);
    append_number(&text, "entries", view.entries);
    append_key(&text, "kind");
    append_json_string(&text, kind_name(description.kind));
    append_key(&text, "compressed");
    text += description.compressed ? "true" : "false";
    int64_t frames = 0;
    int64_t duration_ms = 0;
    for (const sound_unit& unit : units) {
        frames += unit.frames;
        duration_ms += unit.duration_ms;
    }
    append_number(&text, "frames", frames);
    append_number(&text, "duration_ms", duration_ms);
    append_key(&text, "records");
    text += '[';
    fputs(text.c_str(), out);
    bool first = true;
    for_each_row(description, units, [out, &first](const listing_row& row) {
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
        append_key(&record, "skipped");
        if (row.skipped.empty()) {
            record += "null";
        } else {
            append_json_string(&record, row.skipped);
        }
        record += '}';
        fputs(record.c_str(), out);
    });
    text = "]";
    append_key(&text, "warnings");
    text += '[';
    for (size_t i = 0; i < warnings.size(); ++i) {
        if (i) text += ',';
        append_json_string(&text, warnings[i]);
    }
    text += "]}\n";
    fputs(text.c_str(), out);
}
