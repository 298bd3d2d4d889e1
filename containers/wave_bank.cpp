// Wave bank reader: the header, the version's layout, and one record per
// entry, each into the description with its format, name and loop. Version 1,
// versions 0, 2 and 3, and the Windows and Xbox 360 versions 41 to 46 differ
// in where the count, the records and the sound lie and in how a record and
// its format word are packed; all are read by one loop over a table of the
// record's fields.

#include "containers/wave_bank.h"

#include <string.h>

#include "codec/little_endian.h"

const uint8_t WAVE_BANK_MAGIC[4] = {'W', 'B', 'N', 'D'};
const uint8_t WAVE_BANK_MAGIC_BIG_ENDIAN[4] = {'D', 'N', 'B', 'W'};
const uint8_t CONTAINER_MAGIC[8] = {'H', 'V', 'S', 'I', 'W', 'B', 'A', 0};

namespace {

const int NONE = -1;

// clang-format off
// Version 1: format word, offset, length, loop start and loop length, in bytes.
// Versions 0, 2 and 3: flags first, then the same. Versions 41 to 46: flags
// and duration, format, offset, length, then the loop in frames.
//                                     size flags format offset length loop loop length, in frames, duration
const record_layout VERSION_1_RECORD = {20, NONE, 0,     4,     8,     12,  16,          false, false,
    0x1, 1, 4, 0x7ffffff, 0,
    {CODEC_PCM8, CODEC_XBOX_ADPCM, CODEC_UNKNOWN, CODEC_UNKNOWN},
    {CODEC_PCM16, CODEC_XBOX_ADPCM, CODEC_UNKNOWN, CODEC_UNKNOWN}};
}  // namespace

const record_layout VERSION_2_RECORD = {24, 0,    4,     8,     12,    16,  20,          false, false,
    0x3, 2, 5, BANK_FORMAT_LARGEST_RATE, 0,
    {CODEC_PCM8, CODEC_XBOX_ADPCM, CODEC_WMA, CODEC_UNKNOWN},
    {CODEC_PCM16, CODEC_XBOX_ADPCM, CODEC_WMA, CODEC_UNKNOWN}};
const record_layout WINDOWS_RECORD = {24,   0,    4,     8,     12,    16,  20,          true,  true,
    0x3, 2, 5, 0x3ffff, 23,
    {CODEC_PCM8, CODEC_XMA, CODEC_MS_ADPCM, CODEC_XWMA},
    {CODEC_PCM16, CODEC_XMA, CODEC_MS_ADPCM, CODEC_WMA_PRO}};
// clang-format on

namespace {

const uint32_t CHANNELS_MASK = BANK_FORMAT_LARGEST_CHANNELS;
const uint32_t PCM16_BIT = 0x80000000u;

// Entry names longer than this are cut.
const uint32_t LONGEST_NAME_READ = 256;

struct region {
    uint32_t offset;
    uint32_t length;
};

// Reads up to byte_count bytes at the source's position into buffer, which is
// cleared first: a short read keeps zeros for the bytes it did not deliver.
// False only when nothing at all was delivered.
bool read_zero_filled(byte_source* source, uint8_t* buffer, int32_t byte_count) {
    memset(buffer, 0, (size_t)byte_count);
    return source_read(source, buffer, byte_count) > 0;
}

// A field of the bank, in its byte order.
uint32_t field_of(const wave_bank_plan& bank, const uint8_t* p) {
    return bank.big_endian ? read_u32be(p) : read_u32le(p);
}

// Positions past 2^31 cannot be sought; they count as failed seeks.
bool seek_to(byte_source* source, int64_t position) {
    return source_seek(source, position) == position;
}

// Records whose first byte lies before the end of the file; reading any
// later one would fail, so the table never needs room for more.
uint32_t records_in_file(const byte_source* source, int64_t first_record, uint32_t stride, uint32_t declared) {
    int64_t file_bytes = source_size(source);
    if (stride == 0 || file_bytes <= first_record) return 0;
    uint64_t fitting = (uint64_t)(file_bytes - first_record + stride - 1) / stride;
    uint64_t count = declared < fitting ? declared : fitting;
    return count < MAX_BANK_ENTRIES ? (uint32_t)count : MAX_BANK_ENTRIES;
}

void take_bank_name(stream_description* description, const uint8_t* name, int32_t name_bytes) {
    memcpy(description->bank_name, name, (size_t)name_bytes);
    description->bank_name[name_bytes] = '\0';
}

// The record's format word, as the layout packs it.
void take_format(const wave_bank_plan& bank, const record_layout& layout, uint32_t word, entry_record* record) {
    record->format_tag = word & layout.tag_mask;
    record->codec = (word & PCM16_BIT ? layout.codec_of_tag_31 : layout.codec_of_tag)[record->format_tag];
    if (record->codec == CODEC_PCM16 && bank.big_endian) record->codec = CODEC_PCM16_BE;
    record->channels = (int32_t)((word >> layout.channels_shift) & CHANNELS_MASK);
    record->rate = (word >> layout.rate_shift) & layout.rate_mask;
    if (layout.block_field_shift) record->block_field = (word >> layout.block_field_shift) & LARGEST_BLOCK_FIELD;
}

// A loop stated in frames is kept in the whole units of the entry's codec,
// as a loop stated in bytes is.
void take_loop_in_frames(entry_record* record, uint32_t start_frames, uint32_t length_frames) {
    const codec_row* row = codec_row_of(record->codec, record->block_field);
    // A codec of packets (xWMA, XMA) keeps its loop as stated, within the
    // frames the record states.
    if (!row && length_frames > 0 && record->stated_frames >= (int64_t)start_frames + length_frames) {
        record->loop_start = start_frames;
        record->loop_end = (int64_t)start_frames + length_frames;
    }
    if (!row || record->channels <= 0) return;
    int64_t unit = unit_bytes(*row, record->channels);
    set_loop_from_bytes(record, (int64_t)start_frames / row->frames_per_unit * unit,
                        ((int64_t)start_frames + length_frames) / row->frames_per_unit * unit -
                            (int64_t)start_frames / row->frames_per_unit * unit);
}

// Reads record i's name, when the bank has names and one for it.
int32_t read_entry_name(byte_source* source, const wave_bank_plan& bank, uint32_t i, char* name) {
    if (bank.names_at == NONE || bank.name_bytes == 0) return 0;
    if ((uint64_t)(i + 1) * bank.name_bytes > bank.names_length) return 0;
    if (!seek_to(source, bank.names_at + (int64_t)i * bank.name_bytes)) return 0;
    uint32_t wanted = bank.name_bytes < LONGEST_NAME_READ ? bank.name_bytes : LONGEST_NAME_READ;
    int32_t got = source_read(source, name, (int32_t)wanted);
    return got > 0 ? got : 0;
}

// One full record: its format, place, length and loop. False when it cannot
// be read.
bool read_full_record(byte_source* source, const wave_bank_plan& bank, uint32_t i, entry_record* record) {
    const record_layout& layout = *bank.layout;
    if (!seek_to(source, bank.first_record + (int64_t)i * bank.stride)) return false;
    // Short records reach only part of a full one; what they lack is zero.
    uint8_t bytes[BANK_RECORD_BYTES] = {};
    uint32_t read_bytes = bank.stride < layout.record_bytes ? bank.stride : layout.record_bytes;
    if (!read_zero_filled(source, bytes, (int32_t)read_bytes)) return false;

    take_format(bank, layout, field_of(bank, bytes + layout.format_at), record);
    record->offset = bank.sound_origin + field_of(bank, bytes + layout.offset_at);
    record->length = field_of(bank, bytes + layout.length_at);
    // A short record without a length plays to the end of the entry data.
    if (bank.lengths_default_to_region && bank.stride < layout.record_bytes && record->length == 0)
        record->length = bank.sound_length;
    uint32_t flags = layout.flags_at != NONE ? field_of(bank, bytes + layout.flags_at) : 0;
    if (layout.duration_in_flags && flags >> WINDOWS_RECORD_DURATION_SHIFT)
        record->stated_frames = flags >> WINDOWS_RECORD_DURATION_SHIFT;
    if (flags & BANK_ENTRY_IGNORE_LOOP) return true;
    uint32_t loop_start = field_of(bank, bytes + layout.loop_start_at);
    uint32_t loop_length = field_of(bank, bytes + layout.loop_length_at);
    if (layout.loops_in_frames)
        take_loop_in_frames(record, loop_start, loop_length);
    else
        set_loop_from_bytes(record, loop_start, loop_length);
    return true;
}

// A compact record states no duration: an xWMA entry's frames are its last
// decoded byte count over the bytes of a frame, an XMA entry's its last
// frame position.
int64_t frames_of_seek_table(byte_source* source, const wave_bank_plan& bank, uint32_t i, const entry_record& record);

uint32_t read_compact_word(byte_source* source, const wave_bank_plan& bank, uint32_t i, bool* read) {
    uint8_t bytes[BANK_COMPACT_RECORD_BYTES];
    *read = seek_to(source, bank.first_record + (int64_t)i * bank.stride) &&
            read_zero_filled(source, bytes, (int32_t)BANK_COMPACT_RECORD_BYTES);
    return *read ? field_of(bank, bytes) : 0;
}

// A compact record is one word; its length runs to the next record's offset
// (the last one's to the end of the sound region), less its deviation.
bool read_compact_record(byte_source* source, const wave_bank_plan& bank, uint32_t i, entry_record* record) {
    bool read = false;
    uint32_t word = read_compact_word(source, bank, i, &read);
    if (!read) return false;
    int64_t offset = (int64_t)(word & COMPACT_OFFSET_MASK) * bank.alignment;
    int64_t end = bank.sound_length;
    if (i + 1 < bank.record_count) {
        uint32_t next = read_compact_word(source, bank, i + 1, &read);
        if (read) end = (int64_t)(next & COMPACT_OFFSET_MASK) * bank.alignment;
    }
    int64_t length = end - offset - (word >> COMPACT_DEVIATION_SHIFT);
    take_format(bank, *bank.layout, bank.compact_format, record);
    record->offset = bank.sound_origin + offset;
    record->length = length > 0 ? length : 0;
    record->stated_frames = frames_of_seek_table(source, bank, i, *record);
    return true;
}

// Reads the records into the description; stops at the first record that
// cannot be read, keeping those before it.
void read_records(byte_source* source, const wave_bank_plan& bank, stream_description* description) {
    if (!description_reserve_records(description, (int32_t)bank.record_count)) return;
    for (uint32_t i = 0; i < bank.record_count; ++i) {
        entry_record record = new_record((int32_t)i + 1);
        bool read =
            bank.compact ? read_compact_record(source, bank, i, &record) : read_full_record(source, bank, i, &record);
        if (!read) return;
        description->records_read = i + 1;
        char name[LONGEST_NAME_READ];
        int32_t name_bytes = read_entry_name(source, bank, i, name);
        description_add_record(description, record, name, name_bytes);
    }
}

// Notes a header that the file ends inside: one whose fields up to end it
// does not hold.
void note_header_end(const byte_source* source, int64_t end, stream_description* description) {
    if (source_size(source) < end) description->notices |= NOTICE_HEADER_CUT_SHORT;
}

// Version 1: count and name in the header, 20-byte records from 0x50, the
// sound right after the last record.
bool plan_version_1(byte_source* source, int32_t base, stream_description* description, wave_bank_plan* bank) {
    uint8_t header[BANK_V1_RECORDS_AT];
    if (!seek_to(source, base) || !read_zero_filled(source, header, (int32_t)sizeof header)) return false;
    note_header_end(source, (int64_t)base + BANK_V1_RECORDS_AT, description);
    uint32_t declared = read_u32le(header + BANK_V1_COUNT_AT);
    description->declared_records = declared;
    take_bank_name(description, header + BANK_V1_NAME_AT, BANK_NAME_BYTES);
    bank->layout = &VERSION_1_RECORD;
    bank->first_record = (int64_t)base + BANK_V1_RECORDS_AT;
    bank->stride = BANK_V1_RECORD_BYTES;
    bank->record_count = records_in_file(source, bank->first_record, bank->stride, declared);
    bank->sound_origin = bank->first_record + (int64_t)BANK_V1_RECORD_BYTES * declared;
    return true;
}

// Where the bank data and the regions of a family of versions lie.
struct region_layout {
    uint32_t regions_at;
    int region_count;
    int names_region;
    int sound_region;
    uint32_t data_bytes;
    uint32_t name_bytes;
    uint32_t record_size_at;
    uint32_t name_size_at;
    uint32_t alignment_at;
    uint32_t compact_format_at;
    const record_layout* record;
};

// clang-format off
//                                         regions at       count  names sound data, name bytes, record size, name size, alignment, compact format
const region_layout XBOX_REGIONS =        {BANK_REGIONS_AT, BANK_REGION_COUNT, REGION_ENTRY_NAMES, REGION_ENTRY_DATA,
    BANK_DATA_BYTES, BANK_NAME_BYTES, BANK_DATA_RECORD_SIZE_AT, BANK_DATA_NAME_SIZE_AT, BANK_DATA_ALIGNMENT_AT,
    BANK_DATA_COMPACT_FORMAT_AT, &VERSION_2_RECORD};
const region_layout WINDOWS_REGIONS_41 =  {8, WINDOWS_BANK_REGION_COUNT, WINDOWS_REGION_NAMES, WINDOWS_REGION_SOUND,
    WINDOWS_BANK_DATA_BYTES, LONGEST_BANK_NAME_BYTES, WINDOWS_BANK_DATA_RECORD_SIZE_AT, WINDOWS_BANK_DATA_NAME_SIZE_AT,
    WINDOWS_BANK_DATA_ALIGNMENT_AT, WINDOWS_BANK_DATA_COMPACT_FORMAT_AT, &WINDOWS_RECORD};
const region_layout WINDOWS_REGIONS =     {12, WINDOWS_BANK_REGION_COUNT, WINDOWS_REGION_NAMES, WINDOWS_REGION_SOUND,
    WINDOWS_BANK_DATA_BYTES, LONGEST_BANK_NAME_BYTES, WINDOWS_BANK_DATA_RECORD_SIZE_AT, WINDOWS_BANK_DATA_NAME_SIZE_AT,
    WINDOWS_BANK_DATA_ALIGNMENT_AT, WINDOWS_BANK_DATA_COMPACT_FORMAT_AT, &WINDOWS_RECORD};
// clang-format on
const int MOST_REGIONS = WINDOWS_BANK_REGION_COUNT;

bool read_regions(byte_source* source, const wave_bank_plan& bank, int count, region regions[MOST_REGIONS]) {
    for (int i = 0; i < count; ++i) {
        uint8_t field[8];
        if (!read_zero_filled(source, field, 4) || !read_zero_filled(source, field + 4, 4)) return false;
        regions[i].offset = field_of(bank, field);
        regions[i].length = field_of(bank, field + 4);
    }
    return true;
}

// Versions 0, 2, 3 and 41 to 46: the regions, then the bank data with the
// count, the name, the record size and, for names and compact records, their
// sizes.
bool plan_regions(byte_source* source, int32_t base, const region_layout& layout, stream_description* description,
                  wave_bank_plan* bank) {
    region regions[MOST_REGIONS];
    uint32_t regions_end = layout.regions_at + BANK_REGION_BYTES * (uint32_t)layout.region_count;
    note_header_end(source, (int64_t)base + regions_end, description);
    if (!seek_to(source, (int64_t)base + layout.regions_at) ||
        !read_regions(source, *bank, layout.region_count, regions))
        return false;
    note_header_end(source, (int64_t)base + regions[REGION_BANK_DATA].offset + layout.data_bytes, description);
    uint8_t data[WINDOWS_BANK_DATA_BYTES];
    if (!seek_to(source, (int64_t)base + regions[REGION_BANK_DATA].offset) ||
        !read_zero_filled(source, data, (int32_t)layout.data_bytes))
        return false;
    uint32_t flags = field_of(*bank, data + BANK_DATA_FLAGS_AT);
    uint32_t declared = field_of(*bank, data + BANK_DATA_COUNT_AT);
    description->declared_records = declared;
    take_bank_name(description, data + BANK_DATA_NAME_AT, (int32_t)layout.name_bytes);

    bank->layout = layout.record;
    bank->compact = (flags & BANK_FLAG_COMPACT) != 0;
    bank->stride = field_of(*bank, data + layout.record_size_at);
    if (bank->compact && bank->stride < BANK_COMPACT_RECORD_BYTES) bank->stride = BANK_COMPACT_RECORD_BYTES;
    bank->compact_format = field_of(*bank, data + layout.compact_format_at);
    bank->alignment = field_of(*bank, data + layout.alignment_at);
    bank->first_record = (int64_t)base + regions[REGION_ENTRY_METADATA].offset;
    bank->record_count = records_in_file(source, bank->first_record, bank->stride, declared);
    bank->sound_origin = (int64_t)base + regions[layout.sound_region].offset;
    bank->sound_length = regions[layout.sound_region].length;
    bank->lengths_default_to_region = true;
    bank->regions_at = (int64_t)base + layout.regions_at;
    bank->region_count = layout.region_count;
    if (layout.region_count > WINDOWS_REGION_SEEK_TABLES && (flags & BANK_FLAG_SEEK_TABLES) &&
        regions[WINDOWS_REGION_SEEK_TABLES].length != 0) {
        bank->seek_tables_at = (int64_t)base + regions[WINDOWS_REGION_SEEK_TABLES].offset;
        bank->seek_tables_length = regions[WINDOWS_REGION_SEEK_TABLES].length;
    }
    bank->sound_region = layout.sound_region;
    if (regions[layout.names_region].length != 0) {
        uint32_t name_bytes = field_of(*bank, data + layout.name_size_at);
        bank->names_at = (int64_t)base + regions[layout.names_region].offset;
        bank->name_bytes = name_bytes ? name_bytes : BANK_ENTRY_NAME_BYTES;
        bank->names_length = regions[layout.names_region].length;
    }
    return true;
}

}  // namespace

uint32_t pack_format(const record_layout& layout, entry_codec codec, uint32_t channels, uint32_t rate,
                     uint32_t block_field) {
    uint32_t tag = 0;
    bool bit_31 = false;
    for (uint32_t t = 0; t <= layout.tag_mask; ++t) {
        if (layout.codec_of_tag_31[t] == codec) tag = t, bit_31 = layout.codec_of_tag[t] != codec;
        if (layout.codec_of_tag[t] == codec) tag = t;
    }
    uint32_t word =
        tag | (channels & CHANNELS_MASK) << layout.channels_shift | (rate & layout.rate_mask) << layout.rate_shift;
    if (layout.block_field_shift) word |= (block_field & LARGEST_BLOCK_FIELD) << layout.block_field_shift;
    return bit_31 ? word | PCM16_BIT : word;
}

bool xwma_packet_format(uint32_t block_field, uint32_t* packet_bytes, uint32_t* bytes_per_second) {
    static const uint32_t PACKET_BYTES[] = {929,  1487, 1280, 2230, 8917, 8192, 4459, 5945, 2304,
                                            1536, 1485, 1008, 2731, 4096, 6827, 5462, 1280};
    static const uint32_t BYTES_PER_SECOND[] = {12000, 24000, 4000, 6000, 8000, 20000, 2500};
    uint32_t packet = block_field & 0x1f;
    uint32_t rate = (block_field >> 5) & 0x7;
    if (packet >= sizeof PACKET_BYTES / sizeof PACKET_BYTES[0] ||
        rate >= sizeof BYTES_PER_SECOND / sizeof BYTES_PER_SECOND[0])
        return false;
    *packet_bytes = PACKET_BYTES[packet];
    *bytes_per_second = BYTES_PER_SECOND[rate];
    return true;
}

uint32_t compact_record_word(uint32_t offset_units, uint32_t deviation_bytes) {
    return (offset_units & COMPACT_OFFSET_MASK) | deviation_bytes << COMPACT_DEVIATION_SHIFT;
}

namespace {

bool refuse(stream_description* description, refusal_reason reason) {
    description->refusal = reason;
    return false;
}

}  // namespace

bool plan_wave_bank(byte_source* source, stream_description* description, wave_bank_plan* bank) {
    int32_t base = description->bank_base;
    memset(bank, 0, sizeof *bank);
    bank->names_at = NONE;
    bank->regions_at = NONE;
    bank->seek_tables_at = NONE;
    uint8_t header[8];
    if (!seek_to(source, base) || !read_zero_filled(source, header, 4) || !read_zero_filled(source, header + 4, 4)) {
        description->notices |= NOTICE_HEADER_CUT_SHORT;
        return false;
    }
    bank->big_endian = memcmp(header, WAVE_BANK_MAGIC_BIG_ENDIAN, 4) == 0;
    description->big_endian = bank->big_endian;
    if (!bank->big_endian && memcmp(header, WAVE_BANK_MAGIC, 4) != 0) return refuse(description, REFUSED_NO_BANK);
    uint32_t version = field_of(*bank, header + 4);
    description->layout_version = version;
    if (version >= FIRST_WINDOWS_BANK_VERSION && version <= LAST_WINDOWS_BANK_VERSION) {
        if (version >= FIRST_HEADER_VERSION_BANK) {
            uint8_t word[4];
            if (!read_zero_filled(source, word, 4)) return false;
            description->header_version = field_of(*bank, word);
        }
        return plan_regions(source, base, version >= FIRST_HEADER_VERSION_BANK ? WINDOWS_REGIONS : WINDOWS_REGIONS_41,
                            description, bank);
    }
    // An Xbox 360 bank of an Xbox version is not known to exist.
    if (version >= FIRST_NON_XBOX_BANK_VERSION || bank->big_endian) return refuse(description, REFUSED_BANK_VERSION);
    return version == 1 ? plan_version_1(source, base, description, bank)
                        : plan_regions(source, base, XBOX_REGIONS, description, bank);
}

bool read_wave_bank(byte_source* source, stream_description* description) {
    description->kind = STREAM_BANK;
    description->data_length = 0;
    description->file_bytes = source_size(source);
    wave_bank_plan bank;
    if (!plan_wave_bank(source, description, &bank)) return description->refusal == NOT_REFUSED;
    // The declared count is not trusted: the table is sized by the records
    // the file can hold, so a huge count neither allocates nor loops.
    read_records(source, bank, description);
    if (description->records_read < description->declared_records) description->notices |= NOTICE_RECORDS_CUT_SHORT;

    const entry_record* first = nullptr;
    const entry_record* last = nullptr;
    for (int32_t i = 0; i < description->record_count; ++i) {
        const entry_record& record = description->records[i];
        if (record.skipped != NOT_SKIPPED) continue;
        if (!first) first = &record;
        last = &record;
    }
    if (!first) return true;
    description_note_entries_cut_short(description);
    description->data_start = (int32_t)first->offset;
    // From the first playing entry's start to the end of the last one in
    // record order, in 32 bits; a bank whose last entry ends before its first
    // begins comes out negative and is refused.
    description->data_length = (int32_t)((uint32_t)last->offset + (uint32_t)last->length - (uint32_t)first->offset);
    if (description->data_length < 0) return refuse(description, REFUSED_BANK_ENDS_BEFORE_START);
    return true;
}

namespace {

// Where record i's seek table values lie and how many there are; false when
// it has none or the table does not lie within its region.
bool locate_seek_table(byte_source* source, const wave_bank_plan& bank, uint32_t i, int64_t* values_at,
                       uint32_t* count) {
    // One offset per record, counted from the end of their array.
    uint64_t offsets_bytes = 4ull * bank.record_count;
    if (bank.seek_tables_at == NONE || i >= bank.record_count || 4ull * i + 4 > bank.seek_tables_length) return false;
    uint8_t field[4];
    if (!seek_to(source, bank.seek_tables_at + 4ll * i) || source_read(source, field, 4) != 4) return false;
    int32_t at = (int32_t)field_of(bank, field);
    if (at < 0 || offsets_bytes + (uint64_t)at + 4 > bank.seek_tables_length) return false;
    int64_t table = bank.seek_tables_at + (int64_t)offsets_bytes + at;
    if (!seek_to(source, table) || source_read(source, field, 4) != 4) return false;
    uint64_t values = field_of(bank, field);
    uint64_t room = (bank.seek_tables_length - offsets_bytes - (uint64_t)at - 4) / 4;
    if (values > room || values > LONGEST_SEEK_TABLE) return false;
    // A region may run past the end of the file; its table's values must not,
    // or the count would depend on how many of them the caller asks for.
    if (table + 4 + 4 * (int64_t)values > source_size(source)) return false;
    *values_at = table + 4;
    *count = (uint32_t)values;
    return true;
}

int64_t frames_of_seek_table(byte_source* source, const wave_bank_plan& bank, uint32_t i, const entry_record& record) {
    if (record.codec != CODEC_XWMA && record.codec != CODEC_WMA_PRO && record.codec != CODEC_XMA) return NO_FRAMES;
    int64_t values_at = 0;
    uint32_t count = 0;
    uint8_t field[4];
    if (record.channels <= 0 || !locate_seek_table(source, bank, i, &values_at, &count) || count == 0 ||
        !seek_to(source, values_at + 4ll * (count - 1)) || source_read(source, field, 4) != 4)
        return NO_FRAMES;
    uint32_t last = field_of(bank, field);
    int64_t frames = record.codec == CODEC_XMA ? last : last / (2 * (uint32_t)record.channels);
    return frames > 0 ? frames : NO_FRAMES;
}

}  // namespace

int64_t read_seek_table(byte_source* source, const wave_bank_plan& bank, uint32_t i, uint32_t* values,
                        uint32_t capacity) {
    int64_t values_at = 0;
    uint32_t count = 0;
    if (!locate_seek_table(source, bank, i, &values_at, &count) || !seek_to(source, values_at)) return -1;
    uint8_t field[4];
    for (uint32_t v = 0; v < count && v < capacity; ++v) {
        if (source_read(source, field, 4) != 4) return -1;
        values[v] = field_of(bank, field);
    }
    return count;
}
