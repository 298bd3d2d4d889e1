// Wave bank reader: the bank header and its four regions, the bank data with
// the entry count and record size, and one record per entry, from which the
// Xbox ADPCM entries go into the entry table of player_state.

#include "containers/wave_bank.h"

#include <string.h>

#include "codec/little_endian.h"
#include "player/player_state.h"

const uint8_t WAVE_BANK_MAGIC[4] = {'W', 'B', 'N', 'D'};
const uint8_t CONTAINER_MAGIC[8] = {'H', 'V', 'S', 'I', 'W', 'B', 'A', 0};

namespace {

const int32_t BANK_DATA_BYTES = 36;
const uint32_t ENTRY_RECORD_BYTES = 24;
const uint32_t XBOX_ADPCM_ENTRY_TAG = 1;

enum bank_region { REGION_BANK_DATA = 0, REGION_ENTRY_METADATA = 1, REGION_ENTRY_DATA = 3 };

struct region {
    uint32_t offset;
    uint32_t length;
};

// Reads up to byte_count bytes at the file's position into buffer, which is
// cleared first: a short read keeps zeros for the bytes it did not deliver.
// False only when nothing at all was delivered.
bool read_zero_filled(file_handle file, uint8_t* buffer, int32_t byte_count) {
    memset(buffer, 0, (size_t)byte_count);
    return file_read(file, buffer, byte_count) > 0;
}

// Positions past 2^31 cannot be sought; they count as failed seeks.
bool seek_to(file_handle file, int64_t position) {
    return position >= 0 && position <= INT32_MAX && file_seek(file, (int32_t)position) == (int32_t)position;
}

bool read_regions(file_handle file, region regions[4]) {
    for (int i = 0; i < 4; ++i) {
        uint8_t field[4];
        if (!read_zero_filled(file, field, 4)) return false;
        regions[i].offset = read_u32le(field);
        if (!read_zero_filled(file, field, 4)) return false;
        regions[i].length = read_u32le(field);
    }
    return true;
}

// Records whose first byte lies before the end of the file; reading any
// later one would fail, so the table never needs room for more.
uint32_t records_in_file(file_handle file, int64_t first_record, uint32_t element_size, uint32_t declared) {
    int64_t file_bytes = file_size(file);
    if (element_size == 0 || file_bytes <= first_record) return 0;
    uint64_t fitting = (uint64_t)(file_bytes - first_record + element_size - 1) / element_size;
    uint64_t count = declared < fitting ? declared : fitting;
    return count < MAX_BANK_ENTRIES ? (uint32_t)count : MAX_BANK_ENTRIES;
}

// An entry is kept when it is Xbox ADPCM in a format the player can play and
// starts where a 32-bit seek can reach.
bool keep_entry(uint32_t format_word, int64_t absolute_offset) {
    uint32_t tag = format_word & 3;
    uint32_t channels = (format_word >> 2) & 3;
    uint32_t rate = (format_word >> 5) & 0xffff;
    return tag == XBOX_ADPCM_ENTRY_TAG && stream_format_is_playable(rate, channels) && absolute_offset <= INT32_MAX;
}

// Reads the records into the entry table; stops at the first record that
// cannot be read, keeping the entries before it.
void read_entry_records(file_handle file, int32_t base, const region regions[4], uint32_t record_count,
                        uint32_t element_size) {
    const region& metadata = regions[REGION_ENTRY_METADATA];
    const region& entry_data = regions[REGION_ENTRY_DATA];
    // Short records reach only part of a full one; what they lack is zero.
    int32_t read_bytes = (int32_t)(element_size < ENTRY_RECORD_BYTES ? element_size : ENTRY_RECORD_BYTES);
    for (uint32_t i = 0; i < record_count; ++i) {
        if (!seek_to(file, (int64_t)base + metadata.offset + (int64_t)i * element_size)) return;
        // Zeroed whole: a short record leaves the fields it does not reach 0.
        uint8_t record[ENTRY_RECORD_BYTES] = {};
        if (!read_zero_filled(file, record, read_bytes)) return;

        uint32_t format_word = read_u32le(record + 4);
        uint32_t play_offset = read_u32le(record + 8);
        uint32_t play_length = read_u32le(record + 12);
        // A short record without a length plays to the end of the entry data.
        if (element_size < ENTRY_RECORD_BYTES && play_length == 0) play_length = entry_data.length;

        int64_t absolute_offset = (int64_t)base + entry_data.offset + play_offset;
        if (!keep_entry(format_word, absolute_offset)) continue;
        append_entry((int32_t)absolute_offset, (int32_t)play_length, (int32_t)((format_word >> 5) & 0xffff),
                     (int16_t)((format_word >> 2) & 3));
    }
}

}  // namespace

int32_t read_wave_bank(file_handle file, int32_t base) {
    uint8_t header[8];
    if (!seek_to(file, base) || !read_zero_filled(file, header, 4) || !read_zero_filled(file, header + 4, 4)) return 0;
    if (memcmp(header, WAVE_BANK_MAGIC, 4) != 0) {
        file_seek(file, base);
        return -1;
    }
    // The version is not looked at: every version is read the same way.

    region regions[4];
    if (!read_regions(file, regions)) return 0;
    uint8_t bank_data[BANK_DATA_BYTES];
    if (!seek_to(file, (int64_t)base + regions[REGION_BANK_DATA].offset) ||
        !read_zero_filled(file, bank_data, BANK_DATA_BYTES))
        return 0;
    uint32_t declared_count = read_u32le(bank_data + 4);
    uint32_t element_size = read_u32le(bank_data + 24);

    // The declared count is not trusted: the table is sized by the records
    // the file can hold, so a huge count neither allocates nor loops.
    int64_t first_record = (int64_t)base + regions[REGION_ENTRY_METADATA].offset;
    uint32_t record_count = records_in_file(file, first_record, element_size, declared_count);
    if (!reserve_entries((int32_t)record_count)) return 0;
    read_entry_records(file, base, regions, record_count, element_size);

    if (player_state.entry_count == 0) return 0;
    int32_t first = player_state.entries[0].offset;
    int32_t last = player_state.entry_count - 1;
    file_seek(file, first);
    player_state.data_start = first;
    // From the first kept entry's start to the end of the last one in record
    // order; a bank whose last entry ends before its first begins comes out
    // negative and is refused.
    return (int32_t)((uint32_t)player_state.entries[last].offset + (uint32_t)player_state.entries[last].length -
                     (uint32_t)first);
}
