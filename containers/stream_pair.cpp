// Stream pair reader: pairs a header file with its data file by rewriting the
// extension, and reads the header's 100-byte entry records.

#include "containers/stream_pair.h"

#include <stdlib.h>
#include <string.h>

#include "codec/little_endian.h"

namespace {

const int32_t HEADER_COUNT_OFFSET = 8;
const int32_t HEADER_RECORDS_OFFSET = 12;

// Whole records the header file holds after its 12-byte preamble.
int32_t records_in_header(file_handle header) {
    int64_t bytes = file_size(header) - HEADER_RECORDS_OFFSET;
    if (bytes <= 0) return 0;
    int64_t records = bytes / STREAM_HEADER_RECORD_BYTES;
    return records > INT32_MAX ? INT32_MAX : (int32_t)records;
}

// The partner's extension for the chosen one's: with keep_case each letter
// takes the case of the one it replaces (MUSIC.XSD pairs with MUSIC.XSH),
// otherwise it is lower case.
void partner_extension(char* out, const char* original, const char* partner, bool keep_case) {
    for (int i = 0; i < 3; ++i) {
        char c = partner[i];
        if (keep_case && original[i] >= 'A' && original[i] <= 'Z') c = (char)(c - 'a' + 'A');
        out[i] = c;
    }
    out[3] = '\0';
}

file_handle open_with_extension(const char* path, const char* extension) {
    char* partner_path = with_extension(path, extension);
    if (!partner_path) return INVALID_FILE;
    file_handle file = file_open_read(partner_path);
    free(partner_path);
    return file;
}

// Opens the partner and records its extension in the description.
file_handle open_partner(const char* path, bool header_chosen, stream_description* description) {
    const char* original = strrchr(path, '.') + 1;
    const char* partner = header_chosen ? "xsd" : "xsh";
    partner_extension(description->partner_extension, original, partner, false);
    file_handle file = open_with_extension(path, description->partner_extension);
    if (file != INVALID_FILE || !PLATFORM_CASE_SENSITIVE_NAMES) return file;

    // Where names are case-sensitive, MUSIC.XSD's partner is MUSIC.XSH, not
    // MUSIC.xsh. When neither exists the lower-case name stays.
    char kept_case[4];
    partner_extension(kept_case, original, partner, true);
    file = open_with_extension(path, kept_case);
    if (file != INVALID_FILE) memcpy(description->partner_extension, kept_case, sizeof kept_case);
    return file;
}

int32_t data_file_length(file_handle data) {
    int64_t bytes = file_size(data);
    if (bytes < 0) return 0;
    return bytes > INT32_MAX ? INT32_MAX : (int32_t)bytes;
}

}  // namespace

char* with_extension(const char* path, const char* extension) {
    size_t length = strlen(path);
    char* out = (char*)malloc(length + 1);
    if (!out) return nullptr;
    memcpy(out, path, length + 1);
    char* dot = strrchr(out, '.');
    if (dot && strlen(dot + 1) == 3) memcpy(dot + 1, extension, 3);
    return out;
}

void read_stream_header(file_handle header, stream_description* description) {
    description->kind = STREAM_PAIR;
    uint8_t field[4] = {};
    if (file_seek(header, HEADER_COUNT_OFFSET) != HEADER_COUNT_OFFSET || file_read(header, field, 4) <= 0) return;
    // The count is not trusted: a negative one reads nothing, and no more
    // records are read than the file holds whole.
    int32_t declared = read_s32le(field);
    int32_t records = records_in_header(header);
    description->declared_records = declared > 0 ? (uint32_t)declared : 0;
    if (declared > records) description->notices |= NOTICE_RECORDS_CUT_SHORT;
    if (declared < records) records = declared;
    if (records <= 0 || !description_reserve_entries(description, records)) return;

    file_seek(header, HEADER_RECORDS_OFFSET);
    for (int32_t i = 0; i < records; ++i) {
        uint8_t bytes[STREAM_HEADER_RECORD_BYTES];
        if (file_read(header, bytes, STREAM_HEADER_RECORD_BYTES) != STREAM_HEADER_RECORD_BYTES) return;
        description->records_read = (uint32_t)i + 1;
        entry_record entry;
        entry.offset = read_s32le(bytes + 36);
        entry.length = read_s32le(bytes + 40);
        entry.channels = read_s16le(bytes + 82);
        entry.rate = read_s32le(bytes + 84);
        entry.record = i + 1;
        // The format word at 80 is not read: every entry is Xbox ADPCM. A
        // record whose format the player cannot decode (no channels, more
        // than it can hold, a rate too low to count time in) is skipped
        // rather than refusing the whole pair.
        if (!stream_format_is_playable(entry.rate, entry.channels)) {
            description_note_skipped(description, skipped_record{entry.record, SKIPPED_UNPLAYABLE_FORMAT, 0,
                                                                 entry.offset, (uint32_t)entry.length, entry.rate,
                                                                 entry.channels});
            continue;
        }
        description_append_entry(description, entry);
    }
}

file_handle open_stream_pair(const char* path, file_handle chosen, bool header_chosen,
                             stream_description* description) {
    file_handle partner = open_partner(path, header_chosen, description);
    if (partner == INVALID_FILE) {
        description->notices |= NOTICE_PARTNER_MISSING;
        return INVALID_FILE;
    }

    file_handle header = header_chosen ? chosen : partner;
    file_handle data = header_chosen ? partner : chosen;
    read_stream_header(header, description);
    file_close(header);
    description->kind = STREAM_PAIR;
    description->data_start = 0;
    description->data_length = data_file_length(data);
    description->file_bytes = file_size(data);
    description_note_entries_cut_short(description);
    return data;
}
