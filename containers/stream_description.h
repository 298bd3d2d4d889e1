// The description of a stream that the readers fill and their caller owns:
// its format, where its sound lies, the records of a bank or stream pair in
// file order (those that play and those skipped, each with its name, loop and
// codec), and what the readers noticed on the way. Play installs one as the
// playing item's; the module describes any other file with one for the
// playlist; the tolvane tool lists files with one.
#pragma once

#include <stdint.h>

#include "codec/codec_table.h"

const uint32_t DEFAULT_SAMPLE_RATE = 44100;
const uint16_t DEFAULT_CHANNELS = 2;
// The largest channel count the player accepts; block buffers are sized by it.
const uint16_t MAX_CHANNELS = 8;
const uint32_t MIN_SAMPLE_RATE = 100;
// A frame count or loop point the file does not state.
const int64_t NO_FRAMES = -1;
const int32_t NO_NAME = -1;

// Why a record does not play; NOT_SKIPPED for one that does.
enum skip_reason : uint8_t {
    NOT_SKIPPED,
    SKIPPED_CODEC,              // a codec the engine does not decode
    SKIPPED_UNPLAYABLE_FORMAT,  // no channels, more than 8, or a rate below 100 Hz
    SKIPPED_OUT_OF_REACH,       // starts beyond what a 32-bit position reaches
    SKIPPED_EMPTY,
    SKIPPED_EXTERNAL,
};

// One record of a bank or stream pair, kept or skipped.
struct entry_record {
    int32_t record;  // its number among the file's records, from 1
    int64_t offset;  // absolute file offset of the sound's first byte
    int64_t length;  // bytes of sound
    int64_t rate;    // samples per second of each channel
    int32_t channels;
    entry_codec codec;
    skip_reason skipped;
    uint32_t format_tag;    // the format tag as the file states it
    uint32_t block_field;   // the block size field of a codec whose entries state one (Microsoft ADPCM)
    int64_t loop_start;     // frames from the entry's start; NO_FRAMES without a loop
    int64_t loop_end;       // frames, the first one after the loop
    int64_t stated_frames;  // the frame count the file states; NO_FRAMES when none
    int32_t name_at;        // into the description's names; NO_NAME when it has none
    // The names of the sound bank cues that play it (containers/sound_bank.h):
    // cue_name_count names one after another in the names from cue_names_at,
    // which means nothing when the count is 0.
    int32_t cue_names_at;
    int32_t cue_name_count;
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
    NOTICE_HEADER_CUT_SHORT = 1u << 7,     // a bank whose file ends inside its header: no record can be read
};

// Why a file would not play.
enum refusal_reason {
    NOT_REFUSED,
    REFUSED_NOT_XBOX_ADPCM,  // a RIFF WAVE of another format (wave_format_tag)
    REFUSED_NO_BANK,         // a container without a bank at 4096
    REFUSED_BANK_ENDS_BEFORE_START,
    REFUSED_UNPLAYABLE_FORMAT,  // no channels, more than 8, or a rate below 100 Hz
    REFUSED_UNREADABLE,         // an inflated bank that could be neither kept nor read
    REFUSED_BANK_VERSION,       // a bank version of no known layout (4 to 40, above 46), or a big-endian Xbox one
    REFUSED_NOTHING_PLAYABLE,   // a Windows or Xbox 360 bank none of whose records is in a codec played here
};

enum stream_kind { STREAM_RAW, STREAM_WAVE, STREAM_BANK, STREAM_PAIR };

// A bank's name field: 16 bytes in an Xbox bank, 64 in a Windows or Xbox 360
// one.
const int32_t BANK_NAME_BYTES = 16;
const int32_t LONGEST_BANK_NAME_BYTES = 64;

struct stream_description {
    stream_kind kind;
    bool inflated;         // a bank inflated from a .zwb
    int32_t bank_base;     // 0, or 4096 in a container
    uint32_t sample_rate;  // of a single stream
    uint16_t channels;
    int32_t data_start;   // file offset of the first byte of sound
    int32_t data_length;  // bytes of sound from data_start
    int64_t file_bytes;   // size of the file the sound is read from
    uint16_t wave_format_tag;
    int64_t stated_frames;      // a single stream's frame count as its file states it
    int64_t stream_loop_start;  // a single stream's loop, frames; NO_FRAMES for none
    int64_t stream_loop_end;    // the first frame after it
    int32_t stream_name_at;     // a single stream's name in names; NO_NAME for none
    refusal_reason refusal;
    // The layout version the file states (a bank's or a stream header's),
    // -1 for files without one; a bank's name, NUL-terminated, empty if none.
    int64_t layout_version;
    char bank_name[LONGEST_BANK_NAME_BYTES + 1];
    int64_t header_version;  // a Windows or Xbox 360 bank's, -1 for none
    bool big_endian;         // a bank written for the Xbox 360

    // Every record in file order; entry_count of them play.
    entry_record* records;
    int32_t record_count;
    int32_t record_capacity;
    int32_t entry_count;
    // Record names, NUL-terminated one after another.
    char* names;
    int32_t names_bytes;
    int32_t names_capacity;
    uint32_t declared_records;  // as the file states them
    uint32_t records_read;

    // A stream pair's partner extension, as written over the path's ("xsd" or
    // "xsh"); empty for other files. Set whether or not the partner opened.
    char partner_extension[4];
    uint32_t notices;
};

// Appends length bytes of text and a NUL to a pool of names that grows by
// doubling: the text's offset in the pool, or NO_NAME when memory runs out or
// the pool would pass 1 GiB.
int32_t name_pool_append(char** pool, int32_t* used, int32_t* capacity, const char* text, int32_t length);

// An empty description with the defaults: 44100 Hz stereo from offset 0.
void description_init(stream_description* description);
// Frees the tables; the description is empty again.
void description_release(stream_description* description);

// Room for capacity records, replacing any table; false (with an empty
// table) when it cannot be allocated.
bool description_reserve_records(stream_description* description, int32_t capacity);
// A record as a reader finds it: no loop, no stated frame count, no name.
entry_record new_record(int32_t record_number);
// Appends a record, deciding whether it plays (its codec and format) and
// keeping its name (name_bytes bytes, cut at the first NUL; none when
// empty). False when the reserved room is used up.
bool description_add_record(stream_description* description, entry_record record, const char* name, int32_t name_bytes);
// The record's name, "" when it has none.
const char* record_name(const stream_description* description, const entry_record& record);
// Keeps a name (name_bytes bytes, cut at the first NUL) in the names: its
// offset there, or NO_NAME when it is empty or memory runs out.
int32_t description_keep_name(stream_description* description, const char* name, int32_t name_bytes);
// Names a single stream (a WAVE's own name); an empty name is none.
void description_name_stream(stream_description* description, const char* name);
const char* stream_name(const stream_description* description);
// Notes NOTICE_DATA_CUT_SHORT when a playing entry's sound reaches past file_bytes.
void description_note_entries_cut_short(stream_description* description);
// A single stream (a WAVE, raw data, or a stream pair whose header lists no
// entry) plays its data as one sound of the description's format; anything
// else plays its entries.
bool is_single_stream(const stream_description* description);
// The bytes of a single stream's sound that the file holds.
int64_t single_stream_bytes(const stream_description* description);

// Whole frames of a codec's sound in byte_count bytes: the frames of its
// whole units (block sets of 65 frames for Xbox ADPCM, single frames for
// PCM); NO_FRAMES for a codec the engine does not decode.
int64_t frames_in_bytes(entry_codec codec, int64_t channels, int64_t byte_count, uint32_t block_field = 0);
// Sets the record's loop from byte positions counted from its start, in whole
// frames of its codec; a loop that is empty or does not lie within the record
// is no loop.
void set_loop_from_bytes(entry_record* record, int64_t start_bytes, int64_t length_bytes);

// True when the decoder and the engine's arithmetic can play this format.
inline bool stream_format_is_playable(int64_t sample_rate, int64_t channels) {
    return channels >= 1 && channels <= MAX_CHANNELS && sample_rate >= MIN_SAMPLE_RATE;
}

// Why Play would refuse the file described, or NOT_REFUSED.
refusal_reason description_refusal(const stream_description* description);
