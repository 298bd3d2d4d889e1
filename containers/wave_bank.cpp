// Wave bank reader: the bank header and its four regions, the bank data with
// the entry count and record size, and one record per entry, from which the
// Xbox ADPCM entries go into the entry table of the description.

#include "containers/wave_bank.h"

#include <string.h>

#include "codec/little_endian.h"

const uint8_t WAVE_BANK_MAGIC[4] = {'W', 'B', 'N', 'D'};
const uint8_t CONTAINER_MAGIC[8] = {'H', 'V', 'S', 'I', 'W', 'B', 'A', 0};

namespace {

const int32_t BANK_DATA_BYTES = 36;
const uint32_t ENTRY_RECORD_BYTES = 24;

enum bank_region { REGION_BANK_DATA = 0, REGION_ENTRY_METADATA = 1, REGION_ENTRY_DATA = 3 };

struct region {
    uint32_t offset;
    uint32_t length;
};

// Reads up to byte_count bytes at the file's position into buffer, which is
// cleared first: a short read keeps zeros for the bytes it did not deliver.
// False only when nothing at all was delivered.
bool read_zero_filled(byte_source* source, uint8_t* buffer, int32_t byte_count) {
    memset(buffer, 0, (size_t)byte_count);
    return source_read(source, buffer, byte_count) > 0;
}

// Positions past 2^31 cannot be sought; they count as failed seeks.
bool seek_to(byte_source* source, int64_t position) {
    return source_seek(source, position) == position;
}

bool read_regions(byte_source* source, region regions[4]) {
    for (int i = 0; i < 4; ++i) {
        uint8_t field[4];
        if (!read_zero_filled(source, field, 4)) return false;
        regions[i].offset = read_u32le(field);
        if (!read_zero_filled(source, field, 4)) return false;
        regions[i].length = read_u32le(field);
    }
    return true;
}

// Records whose first byte lies before the end of the file; reading any
// later one would fail, so the table never needs room for more.
uint32_t records_in_file(const byte_source* source, int64_t first_record, uint32_t element_size, uint32_t declared) {
    int64_t file_bytes = source_size(source);
    if (element_size == 0 || file_bytes <= first_record) return 0;
    uint64_t fitting = (uint64_t)(file_bytes - first_record + element_size - 1) / element_size;
    uint64_t count = declared < fitting ? declared : fitting;
    return count < MAX_BANK_ENTRIES ? (uint32_t)count : MAX_BANK_ENTRIES;
}

// An entry is kept when it is Xbox ADPCM in a format the player can play and
// starts where a 32-bit seek can reach.
bool keep_entry(const skipped_record& record, skip_reason* reason) {
    if (record.format_tag != XBOX_ADPCM_ENTRY_TAG) {
        *reason = SKIPPED_NOT_XBOX_ADPCM;
    } else if (!stream_format_is_playable(record.rate, record.channels)) {
        *reason = SKIPPED_UNPLAYABLE_FORMAT;
    } else if (record.offset > INT32_MAX) {
        *reason = SKIPPED_OUT_OF_REACH;
    } else {
        return true;
    }
    return false;
}

// Reads the records into the entry table; stops at the first record that
// cannot be read, keeping the entries before it.
void read_entry_records(byte_source* source, int32_t base, const region regions[4], uint32_t record_count,
                        uint32_t element_size, stream_description* description) {
    const region& metadata = regions[REGION_ENTRY_METADATA];
    const region& entry_data = regions[REGION_ENTRY_DATA];
    // Short records reach only part of a full one; what they lack is zero.
    int32_t read_bytes = (int32_t)(element_size < ENTRY_RECORD_BYTES ? element_size : ENTRY_RECORD_BYTES);
    for (uint32_t i = 0; i < record_count; ++i) {
        if (!seek_to(source, (int64_t)base + metadata.offset + (int64_t)i * element_size)) return;
        // Zeroed whole: a short record leaves the fields it does not reach 0.
        uint8_t bytes[ENTRY_RECORD_BYTES] = {};
        if (!read_zero_filled(source, bytes, read_bytes)) return;
        description->records_read = i + 1;

        uint32_t format_word = read_u32le(bytes + 4);
        uint32_t play_length = read_u32le(bytes + 12);
        // A short record without a length plays to the end of the entry data.
        if (element_size < ENTRY_RECORD_BYTES && play_length == 0) play_length = entry_data.length;
        skipped_record record;
        record.record = (int32_t)i + 1;
        record.format_tag = format_word & 3;
        record.offset = (int64_t)base + entry_data.offset + read_u32le(bytes + 8);
        record.length = play_length;
        record.rate = (format_word >> 5) & 0xffff;
        record.channels = (int32_t)((format_word >> 2) & 3);
        if (!keep_entry(record, &record.reason)) {
            description_note_skipped(description, record);
            continue;
        }
        description_append_entry(description, entry_record{(int32_t)record.offset, (int32_t)record.length,
                                                           (int32_t)record.rate, (int16_t)record.channels,
                                                           record.record});
    }
}

}  // namespace

int32_t read_wave_bank(byte_source* source, int32_t base, stream_description* description) {
    description->kind = STREAM_BANK;
    description->bank_base = base;
    description->file_bytes = source_size(source);
    uint8_t header[8];
    if (!seek_to(source, base) || !read_zero_filled(source, header, 4) || !read_zero_filled(source, header + 4, 4))
        return 0;
    if (memcmp(header, WAVE_BANK_MAGIC, 4) != 0) {
        description->refusal = REFUSED_NO_BANK;
        return -1;
    }
    // The version is not looked at: every version is read the same way.

    region regions[4];
    if (!read_regions(source, regions)) return 0;
    uint8_t bank_data[BANK_DATA_BYTES];
    if (!seek_to(source, (int64_t)base + regions[REGION_BANK_DATA].offset) ||
        !read_zero_filled(source, bank_data, BANK_DATA_BYTES))
        return 0;
    uint32_t declared_count = read_u32le(bank_data + 4);
    uint32_t element_size = read_u32le(bank_data + 24);
    description->declared_records = declared_count;

    // The declared count is not trusted: the table is sized by the records
    // the file can hold, so a huge count neither allocates nor loops.
    int64_t first_record = (int64_t)base + regions[REGION_ENTRY_METADATA].offset;
    uint32_t record_count = records_in_file(source, first_record, element_size, declared_count);
    if (!description_reserve_entries(description, (int32_t)record_count)) return 0;
    read_entry_records(source, base, regions, record_count, element_size, description);
    if (description->records_read < declared_count) description->notices |= NOTICE_RECORDS_CUT_SHORT;

    if (description->entry_count == 0) return 0;
    const entry_record& first = description->entries[0];
    const entry_record& last = description->entries[description->entry_count - 1];
    description_note_entries_cut_short(description);
    description->data_start = first.offset;
    // From the first kept entry's start to the end of the last one in record
    // order; a bank whose last entry ends before its first begins comes out
    // negative and is refused.
    return (int32_t)((uint32_t)last.offset + (uint32_t)last.length - (uint32_t)first.offset);
}
