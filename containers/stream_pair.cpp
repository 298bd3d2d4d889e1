// Stream pair reader: pairs a header file with its data file by rewriting the
// extension, and reads the header's 100-byte entry records.

#include "containers/stream_pair.h"

#include <string.h>

#include "codec/little_endian.h"
#include "player/player_state.h"

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

// The partner's extension, written over the three characters after the last
// dot. With keep_case each letter takes the case of the one it replaces
// (MUSIC.XSD pairs with MUSIC.XSH), otherwise it is lower case.
void write_partner_extension(char* extension, const char* original, const char* partner, bool keep_case) {
    for (int i = 0; i < 3; ++i) {
        char c = partner[i];
        if (keep_case && original[i] >= 'A' && original[i] <= 'Z') c = (char)(c - 'a' + 'A');
        extension[i] = c;
    }
    extension[3] = '\0';
}

file_handle open_partner(char* path, bool header_chosen) {
    char* extension = strrchr(path, '.') + 1;
    char original[3] = {extension[0], extension[1], extension[2]};
    const char* partner = header_chosen ? "xsd" : "xsh";
    write_partner_extension(extension, original, partner, false);
    file_handle file = file_open_read(path);
    if (file != INVALID_FILE || !PLATFORM_CASE_SENSITIVE_NAMES) return file;

    // Where names are case-sensitive, MUSIC.XSD's partner is MUSIC.XSH, not
    // MUSIC.xsh. When neither exists the path keeps the lower-case name.
    write_partner_extension(extension, original, partner, true);
    file = file_open_read(path);
    if (file == INVALID_FILE) write_partner_extension(extension, original, partner, false);
    return file;
}

int32_t data_file_length(file_handle data) {
    int64_t bytes = file_size(data);
    if (bytes < 0) return 0;
    return bytes > INT32_MAX ? INT32_MAX : (int32_t)bytes;
}

}  // namespace

void read_stream_header(file_handle header) {
    uint8_t field[4] = {};
    if (file_seek(header, HEADER_COUNT_OFFSET) != HEADER_COUNT_OFFSET || file_read(header, field, 4) <= 0) return;
    // The count is not trusted: a negative one reads nothing, and no more
    // records are read than the file holds whole.
    int32_t declared = read_s32le(field);
    int32_t records = records_in_header(header);
    if (declared < records) records = declared;
    if (records <= 0 || !reserve_entries(records)) return;

    file_seek(header, HEADER_RECORDS_OFFSET);
    for (int32_t i = 0; i < records; ++i) {
        uint8_t record[STREAM_HEADER_RECORD_BYTES];
        if (file_read(header, record, STREAM_HEADER_RECORD_BYTES) != STREAM_HEADER_RECORD_BYTES) return;
        int32_t offset = read_s32le(record + 36);
        int32_t length = read_s32le(record + 40);
        int16_t channels = read_s16le(record + 82);
        int32_t rate = read_s32le(record + 84);
        // The format word at 80 is not read: every entry is Xbox ADPCM. A
        // record whose format the player cannot decode (no channels, more
        // than it can hold, a rate too low to count time in) is dropped
        // rather than refusing the whole pair.
        if (channels < 0 || rate < 0 || !stream_format_is_playable((uint32_t)rate, (uint32_t)channels)) continue;
        append_entry(offset, length, rate, channels);
    }
}

file_handle open_stream_pair(char* path, file_handle chosen, bool header_chosen, int32_t* length) {
    file_handle partner = open_partner(path, header_chosen);
    if (partner == INVALID_FILE) return INVALID_FILE;

    file_handle header = header_chosen ? chosen : partner;
    file_handle data = header_chosen ? partner : chosen;
    read_stream_header(header);
    file_close(header);
    *length = data_file_length(data);
    // The data file plays from its first byte, where it was opened.
    file_seek(data, 0);
    return data;
}
