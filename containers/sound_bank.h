// Sound banks (.xsb, "SDBK"): the cues a game plays, each naming the sounds
// it may play, each sound the waves of one or more wave banks. Most wave
// banks carry no names of their own; their sound bank's cue names are the
// only names their waves have. The reader fills a table its caller owns with
// the sound bank's name, the wave banks it plays from and, in cue order,
// every (wave bank, wave, cue name) a named cue can play. Two layouts are
// read: version 11 (the Xbox's), and content versions 43 to 46 (Windows and
// Xbox 360 games), whose every multi-byte field is big-endian on the Xbox 360.
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

// Content versions 43 to 46. Cues, sounds, variation tables and events are
// found by their offsets from the file's start; an offset of -1 is none. An
// Xbox 360 file is byte-swapped throughout, so that its magic reads "KBDS";
// which order a file's fields are in is told by the version, which reads as
// one of these one way only.
extern const uint8_t SOUND_BANK_MAGIC_SWAPPED[4];
const uint16_t FIRST_XACT3_VERSION = 43;
const uint16_t LAST_XACT3_VERSION = 46;
inline bool is_xact3_version(uint16_t version) {
    return version >= FIRST_XACT3_VERSION && version <= LAST_XACT3_VERSION;
}
const uint32_t XACT3_TOOL_VERSION_AT = 0x06;
const uint16_t XACT3_TOOL_VERSION = 43;
const uint32_t XACT3_PLATFORM_AT = 0x12;  // a byte
const uint8_t XACT3_PLATFORM_WINDOWS = 1;
const uint8_t XACT3_PLATFORM_XBOX_360 = 3;
const uint32_t XACT3_SIMPLE_CUE_COUNT_AT = 0x13;
const uint32_t XACT3_COMPLEX_CUE_COUNT_AT = 0x15;
const uint32_t XACT3_TOTAL_CUE_COUNT_AT = 0x19;
const uint32_t XACT3_WAVE_BANK_COUNT_AT = 0x1B;  // a byte
const uint32_t XACT3_SOUND_COUNT_AT = 0x1C;
const uint32_t XACT3_CUE_NAMES_BYTES_AT = 0x1E;
// The offsets of the tables (s32 each).
const uint32_t XACT3_SIMPLE_CUES_AT = 0x22;
const uint32_t XACT3_COMPLEX_CUES_AT = 0x26;
const uint32_t XACT3_CUE_NAMES_AT = 0x2A;  // -1: the bank keeps no cue names
const uint32_t XACT3_VARIATIONS_AT = 0x32;
const uint32_t XACT3_TRANSITIONS_AT = 0x36;
const uint32_t XACT3_WAVE_BANK_NAMES_AT = 0x3A;
const uint32_t XACT3_CUE_HASH_AT = 0x3E;
const uint32_t XACT3_CUE_NAME_INDEX_AT = 0x42;
const uint32_t XACT3_SOUNDS_AT = 0x46;
const uint32_t XACT3_NAME_AT = 0x4A;
const uint32_t XACT3_HEADER_BYTES = XACT3_NAME_AT + LONGEST_BANK_NAME_BYTES;
const uint32_t XACT3_WAVE_BANK_NAME_BYTES = LONGEST_BANK_NAME_BYTES;
const uint32_t NO_XACT3_OFFSET = 0xFFFFFFFF;
// Cue records, simple ones first and numbered first; the cue names follow
// one another in the same order, each NUL-terminated. A simple cue plays a
// sound; a complex one a sound when its flags say so, else a variation table.
const uint32_t XACT3_SIMPLE_CUE_BYTES = 5;
const uint32_t XACT3_COMPLEX_CUE_BYTES = 15;
const uint32_t XACT3_CUE_FLAGS_AT = 0;
const uint32_t XACT3_CUE_TARGET_AT = 1;
const uint8_t XACT3_CUE_PLAYS_SOUND = 0x04;
// The cue name index: each cue's name offset (u32) and a u16.
const uint32_t XACT3_CUE_NAME_INDEX_BYTES = 6;
// A sound: flags, category (u16), volume, pitch (s16), priority, its entry's
// length (u16); then a simple sound's wave (u16) and wave bank (u8), or a
// complex sound's track count (u8). Then, as the flags say, a block of RPC
// codes whose u16 length counts itself, and a block of DSP presets (u16, a
// count byte, a u32 each); then a complex sound's track records.
const uint32_t XACT3_SOUND_HEADER_BYTES = 9;
const uint32_t XACT3_SOUND_ENTRY_BYTES_AT = 7;
const uint32_t XACT3_SOUND_WAVE_AT = 9;
const uint32_t XACT3_SOUND_TRACK_COUNT_AT = 9;
const uint8_t XACT3_SOUND_COMPLEX = 0x01;
const uint8_t XACT3_SOUND_RPC = 0x02;        // the sound's own RPC codes: a count byte, a u32 each
const uint8_t XACT3_SOUND_RPC_BLOCK = 0x0E;  // any of these: the RPC block is there
const uint8_t XACT3_SOUND_DSP = 0x10;
const uint32_t XACT3_DSP_COUNT_AT = 2;
const uint32_t XACT3_DSP_HEADER_BYTES = 3;
const uint32_t XACT3_DSP_PRESET_BYTES = 4;
// A track record: volume, then its events' offset (u32); from version 44 on
// a filter (u16) and a frequency (u16) follow.
const uint32_t XACT3_TRACK_EVENTS_AT = 1;
const uint32_t XACT3_TRACK_BYTES = 9;
const uint32_t FIRST_XACT3_VERSION_TRACK_BYTES = 5;
inline uint32_t xact3_track_bytes(uint16_t version) {
    return version == FIRST_XACT3_VERSION ? FIRST_XACT3_VERSION_TRACK_BYTES : XACT3_TRACK_BYTES;
}
// A track's events: a count byte, then each event's u32 (its type in the low
// bits), a u16, a separator byte, then its parameters.
const uint32_t XACT3_EVENT_HEADER_BYTES = 7;
const uint32_t XACT3_EVENT_SEPARATOR_AT = 6;
const uint8_t XACT3_EVENT_SEPARATOR = 0xFF;
const uint32_t XACT3_EVENT_TYPE_MASK = 0x1F;
const uint8_t XACT3_EVENT_STOP = 0;
const uint8_t XACT3_EVENT_PLAY_WAVE = 1;
const uint8_t XACT3_EVENT_PLAY_TRACK_VARIATION = 3;
const uint8_t XACT3_EVENT_PLAY_WAVE_EFFECTS = 4;
const uint8_t XACT3_EVENT_PLAY_TRACK_VARIATION_EFFECTS = 6;
const uint8_t XACT3_EVENT_VOLUME = 8;
const uint8_t XACT3_EVENT_MARKER = 9;
const uint8_t XACT3_EVENT_VOLUME_REPEATING = 17;
// A pitch or volume event whose first parameter byte has this bit ramps, and
// then holds no repeat count.
const uint8_t XACT3_EVENT_RAMP = 0x01;
// Each event type's parameters: their bytes (a ramp's), where a wave (u16)
// and its wave bank (u8) are, or where the count word (its low 16 bits) of
// the wave variations that follow the parameters is (-1: none).
struct xact3_event_layout {
    uint8_t type;
    uint8_t parameter_bytes;
    uint8_t ramp_parameter_bytes;
    int8_t wave_at;
    int8_t variations_at;
};
// The layout of an event type, or null for a type the reader does not know.
const xact3_event_layout* xact3_event_layout_of(uint8_t type);
// An event's wave variation: wave (u16), wave bank (u8), two weight bytes.
const uint32_t XACT3_EVENT_VARIATION_BYTES = 5;
// A variation table: a u32 of the entry count (its low 16 bits) and the type
// (bits 19 to 21), a u16 and an s16, then the entries: by type, a wave (u16)
// and its wave bank (u8), or a sound's offset (u32), first in each.
const uint32_t XACT3_VARIATION_HEADER_BYTES = 8;
const uint32_t XACT3_VARIATION_COUNT_MASK = 0xFFFF;
const uint32_t XACT3_VARIATION_TYPE_SHIFT = 19;
const uint32_t XACT3_VARIATION_TYPE_MASK = 0x7;
const uint8_t XACT3_VARIATION_WAVES = 0;
const uint8_t XACT3_VARIATION_SOUNDS = 1;
const uint8_t XACT3_VARIATION_INTERACTIVE_SOUNDS = 3;
const uint8_t XACT3_VARIATION_COMPACT_WAVES = 4;
// The bytes of an entry of a variation table of this type, 0 for a type
// unknown; whether its entries are sounds rather than waves.
uint32_t xact3_variation_entry_bytes(uint8_t type);
bool xact3_variation_plays_sounds(uint8_t type);

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
    SOUND_BANK_NOT_SDBK,       // no "SDBK" (nor "KBDS"): not a sound bank
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
    bool big_endian;   // an Xbox 360 sound bank: every field byte-swapped
    char name[LONGEST_BANK_NAME_BYTES + 1];
    // One NUL-terminated name per wave bank, by index, each in
    // LONGEST_BANK_NAME_BYTES + 1 bytes.
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
// True when the file is a sound bank of a version read, whole or in part.
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
