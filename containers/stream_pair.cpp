// Stream pair reader: pairs a header file with its data file by rewriting the
// extension, and reads the header's records with its version's layout.

#include "containers/stream_pair.h"

#include <stdlib.h>
#include <string.h>

#include "codec/little_endian.h"
#include "codec/xbox_adpcm.h"
#include "containers/file_names.h"

namespace {

const int32_t NONE = -1;

//                                           bytes name  type  offset length flags frames format ch    rate
const stream_record_layout LAYOUT_9D = {96, 0, 0x20, 0x24, 0x28, 0x34, NONE, 0x4C, 0x4E, 0x50};
const stream_record_layout LAYOUT_NAMED = {100, 0, 0x20, 0x24, 0x28, 0x34, 0x38, 0x50, 0x52, 0x54};
const stream_record_layout LAYOUT_IDS = {72, NONE, 4, 8, 0x0C, 0x18, 0x1C, 0x34, 0x36, 0x38};
// Headers of other versions: the fields every layout agrees on, nothing more.
const stream_record_layout LAYOUT_LENIENT = {100, NONE, NONE, 0x24, 0x28, NONE, NONE, NONE, 0x52, 0x54};
const int32_t LONGEST_RECORD = 100;

const int32_t FORMAT_BITS_AT = 14;
const uint16_t PCM_TAG = 0x0001;
const uint16_t FIRST_WMA_TAG = 0x0160;
const uint16_t LAST_WMA_TAG = 0x0163;

// Whole records the header file holds after its 12-byte preamble.
int32_t records_in_header(const byte_source* header, int32_t record_bytes) {
    int64_t bytes = source_size(header) - STREAM_HEADER_RECORDS_AT;
    if (bytes <= 0) return 0;
    int64_t records = bytes / record_bytes;
    return records > INT32_MAX ? INT32_MAX : (int32_t)records;
}

entry_codec codec_of_format(const uint8_t* format) {
    uint16_t tag = read_u16le(format);
    if (tag == XBOX_ADPCM_TAG || tag == 0) return CODEC_XBOX_ADPCM;
    if (tag == PCM_TAG) return read_u16le(format + FORMAT_BITS_AT) == 8 ? CODEC_PCM8 : CODEC_PCM16;
    if (tag >= FIRST_WMA_TAG && tag <= LAST_WMA_TAG) return CODEC_WMA;
    return CODEC_UNKNOWN;
}

void read_record(const stream_record_layout& layout, const uint8_t* bytes, entry_record* record) {
    record->offset = read_s32le(bytes + layout.offset_at);
    record->length = read_s32le(bytes + layout.length_at);
    record->channels = read_s16le(bytes + layout.channels_at);
    record->rate = read_s32le(bytes + layout.rate_at);
    if (layout.format_at != NONE) {
        record->format_tag = read_u16le(bytes + layout.format_at);
        record->codec = codec_of_format(bytes + layout.format_at);
    } else {
        // Every entry of a header of unknown version is taken as Xbox ADPCM.
        record->format_tag = XBOX_ADPCM_TAG;
    }
    if (layout.frames_at != NONE) record->stated_frames = read_u32le(bytes + layout.frames_at);
    uint32_t flags = layout.flags_at != NONE ? read_u32le(bytes + layout.flags_at) : 0;
    if (flags & STREAM_ENTRY_EXTERNAL) record->codec = CODEC_EXTERNAL;
    if (layout.type_at != NONE && read_u32le(bytes + layout.type_at) == STREAM_ENTRY_EMPTY) record->codec = CODEC_EMPTY;
    if (flags & STREAM_ENTRY_LOOPS) set_loop_from_bytes(record, 0, record->length);
}

// The partner's extension for the chosen one's: with keep_case each letter
// takes the case of the one it replaces (MUSIC.XSD pairs with MUSIC.XSH),
// otherwise it is lower case.
void name_partner_extension(char* out, const char* original, const char* partner, bool keep_case) {
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
    const char* original = extension_dot(path) + 1;
    const char* partner = header_chosen ? "xsd" : "xsh";
    name_partner_extension(description->partner_extension, original, partner, false);
    file_handle file = open_with_extension(path, description->partner_extension);
    if (file != INVALID_FILE || !PLATFORM_CASE_SENSITIVE_NAMES) return file;

    // Where names are case-sensitive, MUSIC.XSD's partner is MUSIC.XSH, not
    // MUSIC.xsh. When neither exists the lower-case name stays.
    char kept_case[4];
    name_partner_extension(kept_case, original, partner, true);
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

const stream_record_layout& stream_record_layout_of(uint32_t version, uint32_t first_word) {
    switch (version) {
    case STREAM_HEADER_VERSION_9D:
        return LAYOUT_9D;
    case STREAM_HEADER_VERSION_100:
        return LAYOUT_NAMED;
    case STREAM_HEADER_VERSION_101:
        return first_word > STREAM_HEADER_LARGEST_ID ? LAYOUT_NAMED : LAYOUT_IDS;
    default:
        return LAYOUT_LENIENT;
    }
}

bool read_stream_header(byte_source* header, stream_description* description) {
    description->kind = STREAM_PAIR;
    uint8_t preamble[STREAM_HEADER_RECORDS_AT + 4] = {};
    if (source_seek(header, 0) != 0 ||
        source_read(header, preamble, (int32_t)sizeof preamble) <= STREAM_HEADER_COUNT_AT)
        return true;
    uint32_t version = read_u32le(preamble + STREAM_HEADER_VERSION_AT);
    const stream_record_layout& layout =
        stream_record_layout_of(version, read_u32le(preamble + STREAM_HEADER_RECORDS_AT));
    if (&layout != &LAYOUT_LENIENT) description->layout_version = version;
    // The count is not trusted: a negative one reads nothing, and no more
    // records are read than the file holds whole.
    int32_t declared = read_s32le(preamble + STREAM_HEADER_COUNT_AT);
    int32_t records = records_in_header(header, layout.record_bytes);
    description->declared_records = declared > 0 ? (uint32_t)declared : 0;
    if (declared > records) description->notices |= NOTICE_RECORDS_CUT_SHORT;
    if (declared < records) records = declared;
    if (records <= 0 || !description_reserve_records(description, records)) return true;

    source_seek(header, STREAM_HEADER_RECORDS_AT);
    for (int32_t i = 0; i < records; ++i) {
        uint8_t bytes[LONGEST_RECORD];
        if (source_read(header, bytes, layout.record_bytes) != layout.record_bytes) return true;
        description->records_read = (uint32_t)i + 1;
        entry_record record = new_record(i + 1);
        read_record(layout, bytes, &record);
        // A record whose format the player cannot decode (no channels, more
        // than it can hold, a rate too low to count time in) is skipped
        // rather than refusing the whole pair.
        const char* name = layout.name_at != NONE ? (const char*)bytes + layout.name_at : nullptr;
        description_add_record(description, record, name, name ? STREAM_HEADER_NAME_BYTES : 0);
    }
    return true;
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
    byte_source header_source = source_of_file(header);
    read_stream_header(&header_source, description);
    file_close(header);
    description->kind = STREAM_PAIR;
    description->data_start = 0;
    description->data_length = data_file_length(data);
    description->file_bytes = file_size(data);
    description_note_entries_cut_short(description);
    return data;
}
