// Sound banks (.xsb, "SDBK", version 11): the cues a game plays, each naming
// the sounds it may play, each sound the waves of one or more wave banks.
// Most wave banks carry no names of their own; their sound bank's cue names
// are the only names their waves have. The reader fills a table its caller
// owns with the sound bank's name, the wave banks it plays from and, in cue
// order, every (wave bank, wave, cue name) a named cue can play.
#pragma once

#include <stdint.h>

#include "containers/byte_source.h"
#include "containers/stream_description.h"

// The layout facts the sound bank writer shares with the reader.
extern const uint8_t SOUND_BANK_MAGIC[4];
const uint16_t SOUND_BANK_VERSION = 11;
const uint32_t SOUND_BANK_VERSION_AT = 0x04;
const uint32_t SOUND_BANK_WAVE_BANK_NAMES_AT = 0x08;  // the offset of the wave bank name table
const uint32_t SOUND_BANK_FLAGS_AT = 0x18;
const uint32_t SOUND_BANK_SOUND_COUNT_AT = 0x1C;
const uint32_t SOUND_BANK_CUE_COUNT_AT = 0x1E;
const uint32_t SOUND_BANK_WAVE_BANK_COUNT_AT = 0x22;
const uint32_t SOUND_BANK_NAME_AT = 0x28;
// The cue table starts here; the sound table follows it directly.
const uint32_t SOUND_BANK_CUES_AT = 0x38;
const uint16_t SOUND_BANK_FLAG_NO_CUE_NAMES = 0x1;  // a flag of the header
// A wave bank name in the name table: 16 bytes, NUL-padded.
const uint32_t SOUND_BANK_WAVE_BANK_NAME_BYTES = BANK_NAME_BYTES;
// A cue record: flags, sound index, name offset, variation table offset.
const uint32_t CUE_RECORD_BYTES = 20;
const uint32_t CUE_SOUND_AT = 2;
const uint32_t CUE_NAME_AT = 4;
const uint32_t CUE_VARIATIONS_AT = 8;
const uint16_t NO_SOUND_INDEX = 0xFFFF;
const uint32_t NO_SOUND_BANK_OFFSET = 0xFFFFFFFF;
// Variation tables (of a cue's sounds, or of a sound's or an event's waves):
// a word whose low bits are the count, then 8-byte entries each beginning
// with a u16 sound index (cue) or a u32 wave reference (sound, event).
const uint32_t VARIATION_COUNT_MASK = 0x1FFF;
const uint32_t VARIATION_ENTRY_BYTES = 8;
// A sound record: the waves (a wave reference, or the offset of a wave
// variation table or of the tracks), the track count and the flags.
const uint32_t SOUND_RECORD_BYTES = 20;
const uint32_t SOUND_WAVES_AT = 0;
const uint32_t SOUND_TRACK_COUNT_AT = 8;
const uint32_t SOUND_FLAGS_AT = 11;
const uint8_t SOUND_TRIVIAL = 0x08;
const uint8_t SOUND_SIMPLE = 0x10;
// A complex sound's track: the event count in the low 8 bits, the events'
// offset above them.
const uint32_t TRACK_BYTES = 4;
const uint32_t TRACK_EVENT_COUNT_MASK = 0xFF;
const uint32_t TRACK_EVENTS_SHIFT = 8;
// An event: type, timestamp, parameter size, flags, then the parameters.
const uint32_t EVENT_HEADER_BYTES = 8;
const uint32_t EVENT_TYPE_AT = 0;
const uint32_t EVENT_PARAMETER_BYTES_AT = 4;
const uint32_t EVENT_FLAGS_AT = 5;
const uint8_t EVENT_PLAY = 0;
const uint8_t EVENT_PLAY_AGAIN = 1;
const uint8_t EVENT_WAVE_VARIATIONS = 0x04;  // its first parameter is a wave variation table's offset
// A wave reference: the wave bank's index in the high half, the wave's
// (its record number in that bank, from 0) in the low half.
const uint32_t WAVE_REFERENCE_BANK_SHIFT = 16;

// The cue names kept are cut to this many bytes.
const int32_t LONGEST_CUE_NAME = 255;
// No game's sound bank comes near this many wave references; the caps bound
// the memory and the time a hostile sound bank can cost.
const int32_t MAX_SOUND_BANK_REFERENCES = 1 << 20;
const int64_t MAX_SOUND_BANK_STEPS = 1 << 20;
// A description keeps cue names only while its name pool stays below this.
const int32_t MAX_KEPT_CUE_NAME_BYTES = 1 << 24;

// How far the reader got.
enum sound_bank_status {
    SOUND_BANK_READ,           // every cue was read
    SOUND_BANK_NOT_SDBK,       // no "SDBK": not a sound bank
    SOUND_BANK_OTHER_VERSION,  // a version laid out otherwise: nothing read
    SOUND_BANK_NO_CUE_NAMES,   // flagged as holding no cue names: nothing to read
    SOUND_BANK_CUT_SHORT,      // the file ends inside its header or tables: what it holds was read
    SOUND_BANK_DAMAGED,        // an offset or index points outside the file or its tables: skipped
    SOUND_BANK_OVER_LIMITS,    // more wave references than any game's: read up to the cap
    SOUND_BANK_NO_MEMORY,
};

// A wave a named cue can play.
struct sound_bank_reference {
    uint16_t wave_bank;   // its index in the wave bank name table
    uint16_t wave;        // its record in that bank, from 0, counting every record
    int32_t cue;          // the cue's number, from 0
    int32_t cue_name_at;  // into the table's names
};

struct sound_bank_table {
    sound_bank_status status;
    uint16_t version;  // as the file states it; 0 when it states none
    char name[BANK_NAME_BYTES + 1];
    // One NUL-terminated name per wave bank, by index, each in
    // BANK_NAME_BYTES + 1 bytes.
    char* wave_bank_names;
    int32_t wave_bank_count;
    // In cue order; a cue's waves each once, in wave bank and wave order.
    sound_bank_reference* references;
    int32_t reference_count;
    int32_t reference_capacity;
    // Cue names, NUL-terminated one after another.
    char* names;
    int32_t names_bytes;
    int32_t names_capacity;
    uint32_t declared_cues;  // as the header states them
    uint32_t cues_read;
};

// An empty table; every table is released with sound_bank_release.
void sound_bank_init(sound_bank_table* table);
void sound_bank_release(sound_bank_table* table);

// Reads the sound bank at the source's start into table (which it releases
// first), noting in its status how far it got. Moves the source's position.
// True when the file is a sound bank of the version read, whole or in part.
bool read_sound_bank(byte_source* source, sound_bank_table* table);
// The same as far as the header and the wave bank names only: enough to tell
// whose sound bank it is, without reading its cues.
bool read_sound_bank_header(byte_source* source, sound_bank_table* table);

const char* sound_bank_wave_bank_name(const sound_bank_table* table, int32_t index);
const char* sound_bank_cue_name(const sound_bank_table* table, const sound_bank_reference& reference);
// The index of the wave bank of this name in the table, or -1. An empty name
// is nobody's.
int32_t find_wave_bank_index(const sound_bank_table* table, const char* name);

// Names the records of a described wave bank, the sound bank's wave bank
// wave_bank_index: a record without a name (its bank's own names come first)
// takes the name of the first cue that plays it, and every record keeps the
// names of all the cues that play it, after any it already has. The number of
// records the sound bank plays.
int32_t name_records_from_sound_bank(stream_description* description, const sound_bank_table* table,
                                     int32_t wave_bank_index);
// The record's cue names kept in the description: index from 0 to
// record.cue_name_count - 1; "" beyond them.
const char* record_cue_name(const stream_description* description, const entry_record& record, int32_t index);
