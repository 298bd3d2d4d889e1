// Wave banks: many sounds in one file, described by a table of entry records.
// The bank starts at offset 0 ("WBND") or at 4096 behind a container header
// ("HVSIWBA" and a zero byte). Xbox games shipped two layouts: version 1,
// whose 20-byte records follow an 80-byte header, and versions 0, 2 and 3,
// whose header points at four regions (bank data, records, names, sound) and
// whose records are 24 bytes, or one 4-byte word in a compact bank. Windows
// and Xbox 360 games (content versions 41 to 46) point at five regions (bank
// data, records, seek tables, names, sound), state loops in frames and pack
// their formats otherwise; an Xbox 360 bank is big-endian ("DNBW"). Versions
// 4 to 40 have no known layout and are refused.
#pragma once

#include <stdint.h>

#include "containers/byte_source.h"
#include "containers/stream_description.h"

// A bank begins with WAVE_BANK_MAGIC; a container with CONTAINER_MAGIC holds
// its bank at CONTAINER_BANK_BASE.
extern const uint8_t WAVE_BANK_MAGIC[4];
// An Xbox 360 bank is written big-endian and so begins "DNBW".
extern const uint8_t WAVE_BANK_MAGIC_BIG_ENDIAN[4];
extern const uint8_t CONTAINER_MAGIC[8];
const int32_t CONTAINER_BANK_BASE = 4096;
// No real bank comes near this many sounds; the cap bounds the memory and the
// time a hostile entry count can cost.
const uint32_t MAX_BANK_ENTRIES = 1u << 20;
// The format tag of a bank record that holds Xbox ADPCM, in every version.
const uint32_t XBOX_ADPCM_ENTRY_TAG = 1;

// The layout facts the bank writers share with the reader.
const uint32_t FIRST_NON_XBOX_BANK_VERSION = 4;
const uint32_t FIRST_WINDOWS_BANK_VERSION = 41;
const uint32_t LAST_WINDOWS_BANK_VERSION = 46;
// From this content version on, a header version follows it.
const uint32_t FIRST_HEADER_VERSION_BANK = 42;
// Content versions 41 to 46: five regions from +8 (+12 with a header version)
// and 96 bytes of bank data.
const int WINDOWS_BANK_REGION_COUNT = 5;
enum windows_bank_region { WINDOWS_REGION_SEEK_TABLES = 2, WINDOWS_REGION_NAMES = 3, WINDOWS_REGION_SOUND = 4 };
const uint32_t WINDOWS_BANK_DATA_BYTES = 96;
const uint32_t WINDOWS_BANK_DATA_RECORD_SIZE_AT = 0x48;
const uint32_t WINDOWS_BANK_DATA_NAME_SIZE_AT = 0x4C;
const uint32_t WINDOWS_BANK_DATA_ALIGNMENT_AT = 0x50;
const uint32_t WINDOWS_BANK_DATA_COMPACT_FORMAT_AT = 0x54;
const uint32_t WINDOWS_BANK_DATA_BUILD_TIME_AT = 0x58;
const uint32_t BANK_FLAG_SEEK_TABLES = 0x80000;
// A record's first word: flags in bits 0-3, the duration in frames above.
const uint32_t WINDOWS_RECORD_DURATION_SHIFT = 4;
// Version 1: the header holds the count and the name; records follow it.
const uint32_t BANK_V1_COUNT_AT = 0x0C;
const uint32_t BANK_V1_NAME_AT = 0x10;
const uint32_t BANK_V1_RECORDS_AT = 0x50;
const uint32_t BANK_V1_RECORD_BYTES = 20;
// Versions 0, 2 and 3: "WBND", the version and four regions of offset and
// length, then the regions' content.
const uint32_t BANK_HEADER_BYTES = 40;
// The header's regions follow its magic and version: each an offset from the
// bank's start and a length.
const uint32_t BANK_REGIONS_AT = 8;
const uint32_t BANK_REGION_BYTES = 8;
const int BANK_REGION_COUNT = 4;
enum bank_region { REGION_BANK_DATA = 0, REGION_ENTRY_METADATA = 1, REGION_ENTRY_NAMES = 2, REGION_ENTRY_DATA = 3 };
const uint32_t BANK_DATA_BYTES = 40;
const uint32_t BANK_DATA_FLAGS_AT = 0x00;
const uint32_t BANK_DATA_COUNT_AT = 0x04;
const uint32_t BANK_DATA_NAME_AT = 0x08;
const uint32_t BANK_DATA_RECORD_SIZE_AT = 0x18;
const uint32_t BANK_DATA_NAME_SIZE_AT = 0x1C;
const uint32_t BANK_DATA_ALIGNMENT_AT = 0x20;
const uint32_t BANK_DATA_COMPACT_FORMAT_AT = 0x24;
const uint32_t BANK_FLAG_STREAMING = 0x1;
const uint32_t BANK_FLAG_ENTRY_NAMES = 0x10000;
const uint32_t BANK_FLAG_COMPACT = 0x20000;
const uint32_t BANK_RECORD_BYTES = 24;
// A compact record is one word: the offset in units of the bank's alignment
// in its low bits, above them the bytes its sound falls short of the next.
const uint32_t BANK_COMPACT_RECORD_BYTES = 4;
const uint32_t COMPACT_OFFSET_MASK = 0x1fffff;
const uint32_t COMPACT_DEVIATION_SHIFT = 21;
const uint32_t BANK_ENTRY_NAME_BYTES = 64;
// A record's flags: its loop is to be ignored.
const uint32_t BANK_ENTRY_IGNORE_LOOP = 0x8;

// The most channels and the highest rate a version 0, 2 or 3 format word holds.
const uint32_t BANK_FORMAT_LARGEST_CHANNELS = 7;
const uint32_t BANK_FORMAT_LARGEST_RATE = 0xffff;

// A compact record: its offset in units of the alignment, and the bytes its
// sound falls short of the next record's offset.
uint32_t compact_record_word(uint32_t offset_units, uint32_t deviation_bytes);

// Where a record's fields lie and how its format word is packed, in one
// layout per family of versions.
struct record_layout {
    uint32_t record_bytes;
    int flags_at;  // -1 when records have no flags
    int format_at;
    int offset_at;
    int length_at;
    int loop_start_at;
    int loop_length_at;
    bool loops_in_frames;    // else in bytes
    bool duration_in_flags;  // the flags word holds the duration above its flags
    uint32_t tag_mask;
    uint32_t channels_shift;
    uint32_t rate_shift;
    uint32_t rate_mask;
    uint32_t block_field_shift;      // 0 when the word holds no block field
    entry_codec codec_of_tag[4];     // with bit 31 clear
    entry_codec codec_of_tag_31[4];  // with bit 31 set (16-bit PCM, WMA Pro)
};
extern const record_layout VERSION_2_RECORD;
extern const record_layout WINDOWS_RECORD;

// Where the parts of one bank lie: what the reader reads its records by,
// and what the patcher edits them by.
struct wave_bank_plan {
    const record_layout* layout;
    int64_t first_record;   // file offset of record 0
    uint32_t stride;        // bytes from one record to the next
    uint32_t record_count;  // records the file can hold, at most the declared count
    int64_t sound_origin;   // file offset play offsets count from
    uint32_t sound_length;  // the sound region's stated length; 0 in version 1
    bool lengths_default_to_region;
    bool compact;
    uint32_t compact_format;
    uint32_t alignment;
    int64_t names_at;  // file offset of name 0; -1 without names
    uint32_t name_bytes;
    uint32_t names_length;
    int64_t regions_at;  // file offset of the region table; -1 in version 1
    int region_count;
    int sound_region;  // the region holding the sound
    bool big_endian;   // every field, and 16-bit samples, of an Xbox 360 bank
    // Versions 41 to 46 with seek tables: the region's file offset (-1
    // without) and length.
    int64_t seek_tables_at;
    uint32_t seek_tables_length;
};

// A record's format word as the layout packs it.
uint32_t pack_format(const record_layout& layout, entry_codec codec, uint32_t channels, uint32_t rate,
                     uint32_t block_field = 0);

// Checks the bank at description->bank_base and plans its reading, noting
// its version, name and declared count in the description. False, with any
// refusal in the description, when there is nothing to read.
bool plan_wave_bank(byte_source* source, stream_description* description, wave_bank_plan* plan);

// An xWMA or WMA Pro record's block field: bits 0-4 index its packet size
// and bits 5-7 its average bytes per second. False for an index past the
// tables.
bool xwma_packet_format(uint32_t block_field, uint32_t* packet_bytes, uint32_t* bytes_per_second);
// XMA is kept in packets of this many bytes.
const uint32_t XMA_PACKET_BYTES = 2048;

// A seek table never holds more values than this; no entry of a real bank
// comes near it (an XMA or xWMA packet lasts at least a few milliseconds).
const uint32_t LONGEST_SEEK_TABLE = 1u << 20;

// Record i's seek table (xWMA: the decoded bytes at the end of each packet;
// XMA: frame positions): its values into values (room for capacity; more
// are not read) and their count, or -1 when the record has none or it lies
// outside its region.
int64_t read_seek_table(byte_source* source, const wave_bank_plan& bank, uint32_t i, uint32_t* values,
                        uint32_t capacity);

// Reads the bank at description->bank_base (0, or 4096 in a container) into
// description's records, noting the version, the bank's name and the records
// it skips. The sound runs from the first playing entry's start (data_start)
// to the last one's end (data_length; 0 when no entry plays). False, with the
// refusal in the description, when the bytes at the base are not "WBND", the
// bank is of a version laid out for another machine, or its last entry ends
// before its first begins. A big-endian bank is refused with its version.
bool read_wave_bank(byte_source* source, stream_description* description);
