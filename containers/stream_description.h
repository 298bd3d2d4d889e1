// The description of a stream that the readers fill and their caller owns:
// its format, where its sound lies, the entry table of a bank or stream pair,
// and what the readers noticed on the way. Play installs one as the playing
// item's; the module describes any other file with one for the playlist; the
// tolvane tool lists files with one.
#pragma once

#include <stdint.h>

const uint32_t DEFAULT_SAMPLE_RATE = 44100;
const uint16_t DEFAULT_CHANNELS = 2;
// The largest channel count the player accepts; block buffers are sized by it.
const uint16_t MAX_CHANNELS = 8;
const uint32_t MIN_SAMPLE_RATE = 100;

// One entry of a bank or stream pair.
struct entry_record {
    int32_t offset;  // absolute file offset of the entry's first byte
    int32_t length;  // bytes of sound
    int32_t rate;    // samples per second of each channel
    int16_t channels;
    int32_t record = 0;  // its number among the file's records, from 1
};

enum skip_reason {
    SKIPPED_NOT_XBOX_ADPCM,     // a bank record of another format
    SKIPPED_UNPLAYABLE_FORMAT,  // no channels, more than 8, or a rate below 100 Hz
    SKIPPED_OUT_OF_REACH,       // starts beyond what a 32-bit position reaches
};

// A record the reader found but left out of the entry table, and why.
struct skipped_record {
    int32_t record;
    skip_reason reason;
    uint32_t format_tag;  // a bank record's two-bit format tag
    int64_t offset;
    uint32_t length;
    int64_t rate;
    int32_t channels;
};

// What the readers noticed, as bits of stream_description::notices.
enum stream_notice : uint32_t {
    NOTICE_PLAYED_AS_RAW = 1u << 0,        // no known header: raw data from the first byte
    NOTICE_PARTNER_MISSING = 1u << 1,      // a stream pair file whose partner cannot be opened
    NOTICE_RECORDS_CUT_SHORT = 1u << 2,    // the file ends before the records it declares
    NOTICE_DATA_CUT_SHORT = 1u << 3,       // sound reaches past the end of the file
    NOTICE_NOT_INFLATED = 1u << 4,         // a compressed bank that could not be inflated
    NOTICE_INFLATION_CUT_SHORT = 1u << 5,  // a compressed bank whose stream ends early
    NOTICE_NOT_DESCRIBED = 1u << 6,        // described only in part: too big to look at in memory
};

// Why a file would not play.
enum refusal_reason {
    NOT_REFUSED,
    REFUSED_NOT_XBOX_ADPCM,     // a RIFF WAVE of another format (wave_format_tag)
    REFUSED_NO_BANK,            // a container without a bank at 4096
    REFUSED_BANK_ENDS_BEFORE_START,
    REFUSED_UNPLAYABLE_FORMAT,  // no channels, more than 8, or a rate below 100 Hz
    REFUSED_UNREADABLE,         // an inflated bank that could be neither kept nor read
};

enum stream_kind { STREAM_RAW, STREAM_WAVE, STREAM_BANK, STREAM_PAIR };

struct stream_description {
    stream_kind kind;
    bool compressed;       // inflated from a .zwb
    int32_t bank_base;     // 0, or 4096 in a container
    uint32_t sample_rate;  // of a single stream; of the first entry once planned
    uint16_t channels;
    int32_t data_start;    // file offset of the first byte of sound
    int32_t data_length;   // bytes of sound from data_start; negative refuses the file
    int64_t file_bytes;    // size of the file the sound is read from
    uint16_t wave_format_tag;
    refusal_reason refusal;

    entry_record* entries;
    int32_t entry_count;
    int32_t entry_capacity;
    skipped_record* skipped;
    int32_t skipped_count;
    int32_t skipped_capacity;
    uint32_t declared_records;  // as the file states them
    uint32_t records_read;

    // A stream pair's partner extension, as written over the path's ("xsd" or
    // "xsh"); empty for other files. Set whether or not the partner opened.
    char partner_extension[4];
    uint32_t notices;
};

// An empty description with the defaults: 44100 Hz stereo from offset 0.
void description_init(stream_description* description);
// Frees the tables; the description is empty again.
void description_release(stream_description* description);

// Room for capacity entry records, replacing any table; false (with an empty
// table) when it cannot be allocated.
bool description_reserve_entries(stream_description* description, int32_t capacity);
// False when the reserved room is used up.
bool description_append_entry(stream_description* description, const entry_record& entry);
// Keeps a skipped record for listing; dropped when memory runs out.
void description_note_skipped(stream_description* description, const skipped_record& record);
// Notes NOTICE_DATA_CUT_SHORT when an entry's sound reaches past file_bytes.
void description_note_entries_cut_short(stream_description* description);
// The bytes of a single stream's sound that the file holds.
int64_t single_stream_bytes(const stream_description* description);

// True when the decoder and the engine's arithmetic can play this format.
inline bool stream_format_is_playable(int64_t sample_rate, int64_t channels) {
    return channels >= 1 && channels <= MAX_CHANNELS && sample_rate >= MIN_SAMPLE_RATE;
}

// Why Play would refuse the file described, or NOT_REFUSED.
refusal_reason description_refusal(const stream_description* description);

// Milliseconds of sound in byte_count bytes of ADPCM at the given format,
// with the truncating steps the player shows a single stream's length with;
// 0 for a format that would divide by zero, saturated at INT32_MAX.
int32_t adpcm_bytes_to_ms(int32_t byte_count, uint32_t sample_rate, uint32_t channels);

// The length the player shows for the file described: a single stream's by
// the truncating steps above, an item with entries the sum of what they play.
int32_t description_length_ms(const stream_description* description);
