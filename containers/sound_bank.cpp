// Sound bank reader: the header, the wave bank name table, the cue table and
// the sound table, then for each named cue the waves its sounds can play
// (through cue variation tables, trivial, simple and complex sounds, wave
// variation tables and play events). Content versions 43 to 46 take another
// path to the same table: their cues, sounds and tables are found by offset,
// in either byte order. Every count and offset comes from the file and is
// checked against its size before anything is allocated or looped over. Each
// sound's waves are read once, however many cues play it, and a step budget
// bounds the work of tables that point at each other many times over.

#include "containers/sound_bank.h"

#include <stdlib.h>
#include <string.h>

#include "codec/little_endian.h"

const uint8_t SOUND_BANK_MAGIC[4] = {'S', 'D', 'B', 'K'};
const uint8_t SOUND_BANK_MAGIC_SWAPPED[4] = {'K', 'B', 'D', 'S'};

namespace {

// Pitch (7), volume (8) and their repeating forms (16, 17) hold a ramp's 15
// bytes or an equation's, which repeats with 4 bytes more.
const xact3_event_layout XACT3_EVENTS[] = {
    {XACT3_EVENT_STOP, 1, 1, -1, -1},
    {XACT3_EVENT_PLAY_WAVE, 9, 9, 1, -1},
    {XACT3_EVENT_PLAY_TRACK_VARIATION, 14, 14, -1, 6},
    {XACT3_EVENT_PLAY_WAVE_EFFECTS, 33, 33, 1, -1},
    {XACT3_EVENT_PLAY_TRACK_VARIATION_EFFECTS, 38, 38, -1, 30},
    {7, 15, 15, -1, -1},
    {XACT3_EVENT_VOLUME, 15, 15, -1, -1},
    {XACT3_EVENT_MARKER, 4, 4, -1, -1},
    {16, 19, 15, -1, -1},
    {XACT3_EVENT_VOLUME_REPEATING, 19, 15, -1, -1},
    {18, 8, 8, -1, -1},
};
const uint32_t LONGEST_XACT3_EVENT_PARAMETERS = 38;

// Entry bytes by variation table type; 0 for the types no game writes.
const uint8_t XACT3_VARIATION_ENTRY_BYTES[XACT3_VARIATION_TYPE_MASK + 1] = {5, 6, 0, 16, 3, 0, 0, 0};

}  // namespace

const xact3_event_layout* xact3_event_layout_of(uint8_t type) {
    for (const xact3_event_layout& layout : XACT3_EVENTS)
        if (layout.type == type) return &layout;
    return nullptr;
}

uint32_t xact3_variation_entry_bytes(uint8_t type) {
    return type <= XACT3_VARIATION_TYPE_MASK ? XACT3_VARIATION_ENTRY_BYTES[type] : 0;
}

bool xact3_variation_plays_sounds(uint8_t type) {
    return type == XACT3_VARIATION_SOUNDS || type == XACT3_VARIATION_INTERACTIVE_SOUNDS;
}

namespace {

const int32_t WAVE_BANK_NAME_STRIDE = LONGEST_BANK_NAME_BYTES + 1;

struct sound_bank_reading {
    byte_source* source;
    int64_t file_bytes;
    sound_bank_table* table;
    bool big_endian;
    uint16_t declared_wave_banks;
    uint8_t* sounds;  // the sound table's records the file holds
    uint32_t sounds_held;
    uint32_t declared_sounds;
    // Content versions 43 to 46 name sounds by offset: each sound met gets the
    // next of sounds_held slots, found again through a hash of its offset.
    uint32_t* sound_at;  // each slot's offset; null for version 11
    uint32_t* slot_of;   // the hash: a slot + 1, or 0
    uint32_t hash_mask;
    uint32_t slots_used;
    // Each held sound's waves, read once however many cues play it: the wave
    // references from waves_of[i] (-1 until read), wave_counts[i] of them.
    int32_t* waves_of;
    int32_t* wave_counts;
    int32_t* last_cue_of;  // the last cue that added the sound's waves, so a cue adds them once
    uint32_t* waves;
    int32_t wave_count;
    int32_t wave_capacity;
    int64_t steps_left;
    bool stopped;  // over the limits, or out of memory: nothing more is read
};

uint16_t field_u16(const sound_bank_reading* reading, const uint8_t* p) {
    return reading->big_endian ? read_u16be(p) : read_u16le(p);
}

uint32_t field_u32(const sound_bank_reading* reading, const uint8_t* p) {
    return reading->big_endian ? read_u32be(p) : read_u32le(p);
}

// The first thing that went wrong is the one the status tells.
void note(sound_bank_table* table, sound_bank_status status) {
    if (table->status == SOUND_BANK_READ) table->status = status;
}

void stop(sound_bank_reading* reading, sound_bank_status status) {
    note(reading->table, status);
    reading->stopped = true;
}

// One step of work; false (and the reading stopped) once the budget is spent.
bool take_step(sound_bank_reading* reading) {
    if (reading->stopped) return false;
    if (--reading->steps_left >= 0) return true;
    stop(reading, SOUND_BANK_OVER_LIMITS);
    return false;
}

// Up to byte_count bytes at offset, as many as the file delivers.
int64_t read_some(byte_source* source, int64_t offset, uint8_t* buffer, int64_t byte_count) {
    if (offset < 0 || source_seek(source, offset) != offset) return 0;
    int64_t got = 0;
    while (got < byte_count) {
        int64_t wanted = byte_count - got;
        int32_t n = source_read(source, buffer + got, (int32_t)(wanted < INT32_MAX ? wanted : INT32_MAX));
        if (n <= 0) break;
        got += n;
    }
    return got;
}

// Exactly byte_count bytes at offset; false when the file does not hold them.
bool read_at(sound_bank_reading* reading, int64_t offset, uint8_t* buffer, int64_t byte_count) {
    if (offset < 0 || offset + byte_count > reading->file_bytes) return false;
    return read_some(reading->source, offset, buffer, byte_count) == byte_count;
}

// How many records of record_bytes from offset the file holds, at most declared.
uint32_t records_held(int64_t file_bytes, int64_t offset, uint32_t record_bytes, uint32_t declared) {
    if (offset >= file_bytes) return 0;
    int64_t fitting = (file_bytes - offset) / record_bytes;
    return fitting < declared ? (uint32_t)fitting : declared;
}

// declared records of record_bytes at offset, read whole into memory the
// caller frees; *held says how many the file holds. Null when none is held or
// memory runs out (noted).
uint8_t* read_records(sound_bank_reading* reading, int64_t offset, uint32_t record_bytes, uint32_t declared,
                      uint32_t* held) {
    *held = records_held(reading->file_bytes, offset, record_bytes, declared);
    if (*held == 0) return nullptr;
    uint8_t* records = (uint8_t*)malloc((size_t)*held * record_bytes);
    if (!records) {
        stop(reading, SOUND_BANK_NO_MEMORY);
    } else if (!read_at(reading, offset, records, (int64_t)*held * record_bytes)) {
        // The size said the bytes were there and the file did not deliver them.
        note(reading->table, SOUND_BANK_CUT_SHORT);
        free(records);
        records = nullptr;
    }
    if (!records) *held = 0;
    return records;
}

void read_wave_bank_names(sound_bank_reading* reading, uint32_t offset, uint32_t name_bytes) {
    sound_bank_table* table = reading->table;
    uint32_t held = 0;
    uint8_t* names = read_records(reading, offset, name_bytes, reading->declared_wave_banks, &held);
    if (held < reading->declared_wave_banks) note(table, SOUND_BANK_DAMAGED);
    if (!names) return;
    table->wave_bank_names = (char*)calloc(held, WAVE_BANK_NAME_STRIDE);
    if (table->wave_bank_names) {
        for (uint32_t i = 0; i < held; ++i)
            memcpy(table->wave_bank_names + (size_t)i * WAVE_BANK_NAME_STRIDE, names + (size_t)i * name_bytes,
                   name_bytes);
        table->wave_bank_count = (int32_t)held;
    } else {
        stop(reading, SOUND_BANK_NO_MEMORY);
    }
    free(names);
}

// Keeps the cue's name in the table: its offset into the names, or -1 for a
// cue without one (or whose name the file does not hold whole).
int32_t keep_cue_name(sound_bank_reading* reading, int64_t offset) {
    sound_bank_table* table = reading->table;
    if (offset == NO_SOUND_BANK_OFFSET) return -1;
    uint8_t name[LONGEST_CUE_NAME + 1];
    int64_t got = offset < reading->file_bytes ? read_some(reading->source, offset, name, LONGEST_CUE_NAME + 1) : 0;
    const void* end = memchr(name, '\0', (size_t)got);
    // A name longer than the longest kept is cut; one the file ends inside
    // is no name, so a file cut short never names a wave by part of a name.
    if (!end && got < LONGEST_CUE_NAME + 1) {
        note(table, SOUND_BANK_DAMAGED);
        return -1;
    }
    int32_t length = end ? (int32_t)((const uint8_t*)end - name) : LONGEST_CUE_NAME;
    if (length == 0) return -1;
    int32_t at =
        name_pool_append(&table->names, &table->names_bytes, &table->names_capacity, (const char*)name, length);
    if (at == NO_NAME) stop(reading, SOUND_BANK_NO_MEMORY);
    return at;
}

// Where the name after the one at offset begins (the names follow one another,
// each NUL-terminated, however long): past its NUL, or -1 when the file ends
// inside it.
int64_t after_name(sound_bank_reading* reading, int64_t offset) {
    uint8_t chunk[LONGEST_CUE_NAME + 1];
    for (int64_t at = offset; at < reading->file_bytes && take_step(reading);) {
        int64_t got = read_some(reading->source, at, chunk, sizeof chunk);
        const void* end = memchr(chunk, '\0', (size_t)got);
        if (end) return at + ((const uint8_t*)end - chunk) + 1;
        if (got < (int64_t)sizeof chunk) break;
        at += got;
    }
    return -1;
}

void add_reference(sound_bank_reading* reading, uint32_t word, int32_t cue, int32_t name_at) {
    sound_bank_table* table = reading->table;
    if (!take_step(reading)) return;
    uint32_t wave_bank = word >> WAVE_REFERENCE_BANK_SHIFT;
    if (wave_bank >= reading->declared_wave_banks) {
        note(table, SOUND_BANK_DAMAGED);
        return;
    }
    if (table->reference_count >= table->reference_capacity) {
        if (table->reference_capacity >= MAX_SOUND_BANK_REFERENCES) {
            stop(reading, SOUND_BANK_OVER_LIMITS);
            return;
        }
        int32_t capacity = table->reference_capacity ? table->reference_capacity * 2 : 256;
        void* grown = realloc(table->references, (size_t)capacity * sizeof(sound_bank_reference));
        if (!grown) {
            stop(reading, SOUND_BANK_NO_MEMORY);
            return;
        }
        table->references = (sound_bank_reference*)grown;
        table->reference_capacity = capacity;
    }
    table->references[table->reference_count++] = {(uint16_t)wave_bank, (uint16_t)(word & 0xFFFF), cue, name_at};
}

// The entries of a variation table at offset, read whole into memory the
// caller frees; null (noted) when the file does not hold the table.
uint8_t* read_variations(sound_bank_reading* reading, uint32_t offset, uint32_t* count) {
    *count = 0;
    uint8_t word[4];
    if (!read_at(reading, offset, word, 4)) {
        note(reading->table, SOUND_BANK_DAMAGED);
        return nullptr;
    }
    uint32_t declared = read_u32le(word) & VARIATION_COUNT_MASK;
    uint8_t* entries = read_records(reading, (int64_t)offset + 4, VARIATION_ENTRY_BYTES, declared, count);
    if (*count < declared) note(reading->table, SOUND_BANK_DAMAGED);
    return entries;
}

// Keeps one wave reference of the sound being read.
void collect_wave(sound_bank_reading* reading, uint32_t word) {
    if (!take_step(reading)) return;
    if (reading->wave_count >= reading->wave_capacity) {
        int32_t capacity = reading->wave_capacity ? reading->wave_capacity * 2 : 256;
        void* grown = realloc(reading->waves, (size_t)capacity * sizeof(uint32_t));
        if (!grown) {
            stop(reading, SOUND_BANK_NO_MEMORY);
            return;
        }
        reading->waves = (uint32_t*)grown;
        reading->wave_capacity = capacity;
    }
    reading->waves[reading->wave_count++] = word;
}

// Every wave of a wave variation table: a reference at the start of each entry.
void collect_wave_variations(sound_bank_reading* reading, uint32_t offset) {
    uint32_t count = 0;
    uint8_t* entries = read_variations(reading, offset, &count);
    for (uint32_t i = 0; i < count && !reading->stopped; ++i)
        collect_wave(reading, read_u32le(entries + (size_t)i * VARIATION_ENTRY_BYTES));
    free(entries);
}

// The waves a track's play events play; the events lie one after another,
// each its header plus its parameters long.
void collect_track_waves(sound_bank_reading* reading, uint32_t track) {
    uint32_t event_count = track & TRACK_EVENT_COUNT_MASK;
    int64_t event_at = track >> TRACK_EVENTS_SHIFT;
    for (uint32_t e = 0; e < event_count && take_step(reading); ++e) {
        uint8_t event[EVENT_HEADER_BYTES + 4];
        if (!read_at(reading, event_at, event, EVENT_HEADER_BYTES)) {
            note(reading->table, SOUND_BANK_DAMAGED);
            return;
        }
        uint8_t type = event[EVENT_TYPE_AT];
        uint8_t parameter_bytes = event[EVENT_PARAMETER_BYTES_AT];
        bool plays = (type == EVENT_PLAY || type == EVENT_PLAY_AGAIN) && parameter_bytes >= 4;
        if (plays) {
            if (!read_at(reading, event_at + EVENT_HEADER_BYTES, event + EVENT_HEADER_BYTES, 4)) {
                note(reading->table, SOUND_BANK_DAMAGED);
                return;
            }
            uint32_t waves = read_u32le(event + EVENT_HEADER_BYTES);
            if (event[EVENT_FLAGS_AT] & EVENT_WAVE_VARIATIONS) {
                collect_wave_variations(reading, waves);
            } else {
                collect_wave(reading, waves);
            }
        }
        event_at += EVENT_HEADER_BYTES + parameter_bytes;
    }
}

void collect_complex_waves(sound_bank_reading* reading, uint32_t offset, uint8_t track_count) {
    uint8_t tracks[TRACK_BYTES * 255];
    if (!read_at(reading, offset, tracks, (int64_t)TRACK_BYTES * track_count)) {
        note(reading->table, SOUND_BANK_DAMAGED);
        return;
    }
    for (uint32_t t = 0; t < track_count && !reading->stopped; ++t)
        collect_track_waves(reading, read_u32le(tracks + t * TRACK_BYTES));
}

// Content versions 43 to 46: a wave (u16) and its wave bank (u8) as the
// reference word the reading keeps.
uint32_t xact3_wave(const sound_bank_reading* reading, const uint8_t* p) {
    return (uint32_t)p[2] << WAVE_REFERENCE_BANK_SHIFT | field_u16(reading, p);
}

// The waves of the events of a track whose events are at offset. The events
// lie one after another, so one whose type is unknown, or that does not end
// in the separator, ends the track: nothing after it can be found.
void collect_xact3_events(sound_bank_reading* reading, uint32_t offset) {
    uint8_t event_count = 0;
    if (!read_at(reading, offset, &event_count, 1)) {
        note(reading->table, SOUND_BANK_DAMAGED);
        return;
    }
    int64_t event_at = (int64_t)offset + 1;
    for (uint32_t e = 0; e < event_count && take_step(reading); ++e) {
        uint8_t event[XACT3_EVENT_HEADER_BYTES + LONGEST_XACT3_EVENT_PARAMETERS];
        const xact3_event_layout* layout = nullptr;
        if (read_at(reading, event_at, event, XACT3_EVENT_HEADER_BYTES) &&
            event[XACT3_EVENT_SEPARATOR_AT] == XACT3_EVENT_SEPARATOR)
            layout = xact3_event_layout_of((uint8_t)(field_u32(reading, event) & XACT3_EVENT_TYPE_MASK));
        const uint8_t* parameters = event + XACT3_EVENT_HEADER_BYTES;
        // A ramp is the shorter form: read it first, then whether there is more.
        if (!layout || !read_at(reading, event_at + XACT3_EVENT_HEADER_BYTES, event + XACT3_EVENT_HEADER_BYTES,
                                layout->ramp_parameter_bytes)) {
            note(reading->table, SOUND_BANK_DAMAGED);
            return;
        }
        uint32_t parameter_bytes =
            parameters[0] & XACT3_EVENT_RAMP ? layout->ramp_parameter_bytes : layout->parameter_bytes;
        if (!read_at(reading, event_at + XACT3_EVENT_HEADER_BYTES, event + XACT3_EVENT_HEADER_BYTES, parameter_bytes)) {
            note(reading->table, SOUND_BANK_DAMAGED);
            return;
        }
        event_at += XACT3_EVENT_HEADER_BYTES + parameter_bytes;
        if (layout->wave_at >= 0) collect_wave(reading, xact3_wave(reading, parameters + layout->wave_at));
        if (layout->variations_at < 0) continue;
        uint32_t declared = field_u32(reading, parameters + layout->variations_at) & XACT3_VARIATION_COUNT_MASK;
        uint32_t held = 0;
        uint8_t* entries = read_records(reading, event_at, XACT3_EVENT_VARIATION_BYTES, declared, &held);
        for (uint32_t i = 0; i < held && !reading->stopped; ++i)
            collect_wave(reading, xact3_wave(reading, entries + (size_t)i * XACT3_EVENT_VARIATION_BYTES));
        free(entries);
        if (held < declared) {
            note(reading->table, SOUND_BANK_DAMAGED);
            return;
        }
        event_at += (int64_t)XACT3_EVENT_VARIATION_BYTES * declared;
    }
}

// The waves of the sound at offset: a simple sound's one, or those of a
// complex sound's tracks, whose records follow its RPC and DSP blocks.
void collect_xact3_sound_waves(sound_bank_reading* reading, uint32_t offset) {
    uint8_t sound[XACT3_SOUND_HEADER_BYTES + 3];
    bool complex = read_at(reading, offset, sound, XACT3_SOUND_HEADER_BYTES + 1) && (sound[0] & XACT3_SOUND_COMPLEX);
    if (!complex) {
        if (!read_at(reading, offset, sound, sizeof sound)) {
            note(reading->table, SOUND_BANK_DAMAGED);
            return;
        }
        collect_wave(reading, xact3_wave(reading, sound + XACT3_SOUND_WAVE_AT));
        return;
    }
    int64_t at = (int64_t)offset + XACT3_SOUND_HEADER_BYTES + 1;
    uint8_t block[XACT3_DSP_HEADER_BYTES];
    if (sound[0] & XACT3_SOUND_RPC_BLOCK) {
        uint16_t block_bytes = read_at(reading, at, block, 2) ? field_u16(reading, block) : 0;
        if (block_bytes < 2) {
            note(reading->table, SOUND_BANK_DAMAGED);
            return;
        }
        at += block_bytes;
    }
    if (sound[0] & XACT3_SOUND_DSP) {
        if (!read_at(reading, at, block, XACT3_DSP_HEADER_BYTES)) {
            note(reading->table, SOUND_BANK_DAMAGED);
            return;
        }
        at += XACT3_DSP_HEADER_BYTES + XACT3_DSP_PRESET_BYTES * block[XACT3_DSP_COUNT_AT];
    }
    uint8_t tracks[XACT3_TRACK_BYTES * 255];
    uint32_t track_bytes = xact3_track_bytes(reading->table->version);
    uint8_t track_count = sound[XACT3_SOUND_TRACK_COUNT_AT];
    if (!read_at(reading, at, tracks, (int64_t)track_bytes * track_count)) {
        note(reading->table, SOUND_BANK_DAMAGED);
        return;
    }
    for (uint32_t t = 0; t < track_count && !reading->stopped; ++t)
        collect_xact3_events(reading, field_u32(reading, tracks + t * track_bytes + XACT3_TRACK_EVENTS_AT));
}

int compare_words(const void* a, const void* b) {
    uint32_t x = *(const uint32_t*)a;
    uint32_t y = *(const uint32_t*)b;
    return x < y ? -1 : x > y ? 1 : 0;
}

// Reads the waves of the sound of this slot (its index in version 11) into
// the cache, each once.
void read_sound_waves(sound_bank_reading* reading, uint32_t sound) {
    int32_t first = reading->wave_count;
    if (reading->sound_at) {
        collect_xact3_sound_waves(reading, reading->sound_at[sound]);
    } else {
        const uint8_t* record = reading->sounds + (size_t)sound * SOUND_RECORD_BYTES;
        uint32_t waves = read_u32le(record + SOUND_WAVES_AT);
        uint8_t flags = record[SOUND_FLAGS_AT];
        if (flags & SOUND_TRIVIAL) {
            collect_wave(reading, waves);
        } else if (flags & SOUND_SIMPLE) {
            collect_wave_variations(reading, waves);
        } else {
            collect_complex_waves(reading, waves, record[SOUND_TRACK_COUNT_AT]);
        }
    }
    uint32_t* collected = reading->waves + first;
    int32_t count = reading->wave_count - first;
    if (count > 1) qsort(collected, (size_t)count, sizeof *collected, compare_words);
    int32_t kept = 0;
    for (int32_t i = 0; i < count; ++i)
        if (kept == 0 || collected[kept - 1] != collected[i]) collected[kept++] = collected[i];
    reading->wave_count = first + kept;
    reading->waves_of[sound] = first;
    reading->wave_counts[sound] = kept;
}

// The waves of the sound of this slot, read once, for the cue (once however
// often it plays the sound).
void add_slot_waves(sound_bank_reading* reading, uint32_t sound, int32_t cue, int32_t name_at) {
    if (reading->last_cue_of[sound] == cue) return;
    reading->last_cue_of[sound] = cue;
    if (reading->waves_of[sound] < 0) read_sound_waves(reading, sound);
    for (int32_t i = 0; i < reading->wave_counts[sound] && !reading->stopped; ++i)
        add_reference(reading, reading->waves[reading->waves_of[sound] + i], cue, name_at);
}

void add_sound_waves(sound_bank_reading* reading, uint16_t sound, int32_t cue, int32_t name_at) {
    if (sound == NO_SOUND_INDEX || !take_step(reading)) return;
    if (sound >= reading->declared_sounds) {
        note(reading->table, SOUND_BANK_DAMAGED);
        return;
    }
    // A sound the file cut off: the cut was noted when the table was read.
    if (sound >= reading->sounds_held) return;
    add_slot_waves(reading, sound, cue, name_at);
}

// The sound at offset takes a slot the first time it is met. A bank that
// plays more sounds than it states (or than its file can hold) is damaged:
// the sounds beyond the slots are skipped.
void add_sound_waves_at(sound_bank_reading* reading, uint32_t offset, int32_t cue, int32_t name_at) {
    if (!take_step(reading)) return;
    uint32_t h = (offset * 2654435761u) & reading->hash_mask;
    while (reading->slot_of[h] && reading->sound_at[reading->slot_of[h] - 1] != offset)
        h = (h + 1) & reading->hash_mask;
    if (!reading->slot_of[h]) {
        if (reading->slots_used >= reading->sounds_held) {
            note(reading->table, SOUND_BANK_DAMAGED);
            return;
        }
        reading->sound_at[reading->slots_used] = offset;
        reading->slot_of[h] = ++reading->slots_used;
    }
    add_slot_waves(reading, reading->slot_of[h] - 1, cue, name_at);
}

int compare_references(const void* a, const void* b) {
    const sound_bank_reference* x = (const sound_bank_reference*)a;
    const sound_bank_reference* y = (const sound_bank_reference*)b;
    if (x->wave_bank != y->wave_bank) return x->wave_bank < y->wave_bank ? -1 : 1;
    if (x->wave != y->wave) return x->wave < y->wave ? -1 : 1;
    return 0;
}

// A cue that plays one wave through several sounds names it once; a cue the
// caps cut off names nothing, so that what is named is named whole; a name
// no wave takes is not kept. The cue's references begin at first.
void finish_cue(sound_bank_reading* reading, int32_t first, int32_t name_at) {
    sound_bank_table* table = reading->table;
    if (reading->stopped) table->reference_count = first;
    sound_bank_reference* cue_references = table->references + first;
    int32_t count = table->reference_count - first;
    if (count >= 2) {
        qsort(cue_references, (size_t)count, sizeof *cue_references, compare_references);
        int32_t kept = 1;
        for (int32_t i = 1; i < count; ++i)
            if (compare_references(&cue_references[kept - 1], &cue_references[i]) != 0)
                cue_references[kept++] = cue_references[i];
        table->reference_count = first + kept;
    }
    if (table->reference_count == first) table->names_bytes = name_at;
}

// A named cue's waves: those of its one sound, or of every sound of its
// variation table.
void read_cue(sound_bank_reading* reading, const uint8_t* cue_record, int32_t cue) {
    int32_t name_at = keep_cue_name(reading, read_u32le(cue_record + CUE_NAME_AT));
    if (name_at < 0) return;
    int32_t first = reading->table->reference_count;
    uint32_t variations = read_u32le(cue_record + CUE_VARIATIONS_AT);
    if (variations == NO_SOUND_BANK_OFFSET) {
        add_sound_waves(reading, read_u16le(cue_record + CUE_SOUND_AT), cue, name_at);
    } else {
        uint32_t count = 0;
        uint8_t* entries = read_variations(reading, variations, &count);
        for (uint32_t i = 0; i < count && !reading->stopped; ++i)
            add_sound_waves(reading, read_u16le(entries + (size_t)i * VARIATION_ENTRY_BYTES), cue, name_at);
        free(entries);
    }
    finish_cue(reading, first, name_at);
}

// A named cue of content versions 43 to 46: its sound's waves, or those of
// every entry of its variation table, a sound or a wave by the table's type.
void read_xact3_cue(sound_bank_reading* reading, const uint8_t* cue_record, bool complex, int32_t cue,
                    int32_t name_at) {
    int32_t first = reading->table->reference_count;
    uint32_t target = field_u32(reading, cue_record + XACT3_CUE_TARGET_AT);
    uint8_t word[XACT3_VARIATION_HEADER_BYTES];
    if (!complex || (cue_record[XACT3_CUE_FLAGS_AT] & XACT3_CUE_PLAYS_SOUND)) {
        add_sound_waves_at(reading, target, cue, name_at);
    } else if (read_at(reading, target, word, sizeof word)) {
        uint32_t declared = field_u32(reading, word) & XACT3_VARIATION_COUNT_MASK;
        uint8_t type = (uint8_t)((field_u32(reading, word) >> XACT3_VARIATION_TYPE_SHIFT) & XACT3_VARIATION_TYPE_MASK);
        uint32_t entry_bytes = xact3_variation_entry_bytes(type);
        uint32_t held = 0;
        uint8_t* entries =
            entry_bytes ? read_records(reading, (int64_t)target + sizeof word, entry_bytes, declared, &held) : nullptr;
        if (held < declared) note(reading->table, SOUND_BANK_DAMAGED);
        for (uint32_t i = 0; i < held && !reading->stopped; ++i) {
            const uint8_t* entry = entries + (size_t)i * entry_bytes;
            if (xact3_variation_plays_sounds(type)) {
                add_sound_waves_at(reading, field_u32(reading, entry), cue, name_at);
            } else {
                add_reference(reading, xact3_wave(reading, entry), cue, name_at);
            }
        }
        free(entries);
    } else {
        note(reading->table, SOUND_BANK_DAMAGED);
    }
    finish_cue(reading, first, name_at);
}

// The per-sound caches for sounds_held sounds (and, with slots, the hash of
// their offsets), each sound unread; false (noted) when memory runs out.
bool prepare_sounds(sound_bank_reading* reading, bool slots) {
    size_t count = (size_t)reading->sounds_held + 1;
    reading->waves_of = (int32_t*)malloc(count * sizeof(int32_t));
    reading->wave_counts = (int32_t*)calloc(count, sizeof(int32_t));
    reading->last_cue_of = (int32_t*)malloc(count * sizeof(int32_t));
    bool prepared = reading->waves_of && reading->wave_counts && reading->last_cue_of;
    if (slots) {
        // At most half full, so that a probe always ends.
        uint32_t hash_size = 2;
        while (hash_size < 2 * count) hash_size *= 2;
        reading->hash_mask = hash_size - 1;
        reading->sound_at = (uint32_t*)malloc(count * sizeof(uint32_t));
        reading->slot_of = (uint32_t*)calloc(hash_size, sizeof(uint32_t));
        prepared = prepared && reading->sound_at && reading->slot_of;
    }
    if (!prepared) {
        stop(reading, SOUND_BANK_NO_MEMORY);
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        reading->waves_of[i] = -1;
        reading->last_cue_of[i] = -1;
    }
    return true;
}

void release_reading(sound_bank_reading* reading) {
    free(reading->sounds);
    free(reading->waves_of);
    free(reading->wave_counts);
    free(reading->last_cue_of);
    free(reading->waves);
    free(reading->sound_at);
    free(reading->slot_of);
}

void read_cues(sound_bank_reading* reading, const uint8_t* header) {
    sound_bank_table* table = reading->table;
    uint32_t declared_cues = read_u16le(header + SOUND_BANK_CUE_COUNT_AT);
    table->declared_cues = declared_cues;
    uint32_t cues_held = 0;
    uint8_t* cues = read_records(reading, SOUND_BANK_CUES_AT, CUE_RECORD_BYTES, declared_cues, &cues_held);
    reading->declared_sounds = read_u16le(header + SOUND_BANK_SOUND_COUNT_AT);
    int64_t sounds_at = SOUND_BANK_CUES_AT + (int64_t)CUE_RECORD_BYTES * declared_cues;
    reading->sounds =
        read_records(reading, sounds_at, SOUND_RECORD_BYTES, reading->declared_sounds, &reading->sounds_held);
    if (cues_held < declared_cues || reading->sounds_held < reading->declared_sounds) note(table, SOUND_BANK_CUT_SHORT);
    if (prepare_sounds(reading, false)) {
        for (uint32_t i = 0; i < cues_held && take_step(reading); ++i) {
            read_cue(reading, cues + (size_t)i * CUE_RECORD_BYTES, (int32_t)i);
            if (!reading->stopped) table->cues_read = i + 1;
        }
    }
    free(cues);
    release_reading(reading);
}

// Content versions 43 to 46: the simple cues, then the complex ones, their
// names read one after another from the name table.
void read_xact3_cues(sound_bank_reading* reading, const uint8_t* header) {
    sound_bank_table* table = reading->table;
    uint32_t simple_cues = field_u16(reading, header + XACT3_SIMPLE_CUE_COUNT_AT);
    uint32_t complex_cues = field_u16(reading, header + XACT3_COMPLEX_CUE_COUNT_AT);
    table->declared_cues = simple_cues + complex_cues;
    uint32_t simple_held = 0;
    uint32_t complex_held = 0;
    uint8_t* simple = read_records(reading, field_u32(reading, header + XACT3_SIMPLE_CUES_AT), XACT3_SIMPLE_CUE_BYTES,
                                   simple_cues, &simple_held);
    uint8_t* complex = read_records(reading, field_u32(reading, header + XACT3_COMPLEX_CUES_AT),
                                    XACT3_COMPLEX_CUE_BYTES, complex_cues, &complex_held);
    if (simple_held < simple_cues || complex_held < complex_cues) note(table, SOUND_BANK_CUT_SHORT);
    // Every sound is a header and at least a byte more.
    reading->declared_sounds = field_u16(reading, header + XACT3_SOUND_COUNT_AT);
    reading->sounds_held = records_held(reading->file_bytes, 0, XACT3_SOUND_HEADER_BYTES + 1, reading->declared_sounds);
    int64_t name_at = field_u32(reading, header + XACT3_CUE_NAMES_AT);
    if (prepare_sounds(reading, true)) {
        for (uint32_t i = 0; i < table->declared_cues && name_at >= 0 && take_step(reading); ++i) {
            int32_t kept = keep_cue_name(reading, name_at);
            name_at = after_name(reading, name_at);
            bool is_complex = i >= simple_cues;
            uint32_t n = is_complex ? i - simple_cues : i;
            const uint8_t* record = is_complex
                                        ? (n < complex_held ? complex + (size_t)n * XACT3_COMPLEX_CUE_BYTES : nullptr)
                                        : (n < simple_held ? simple + (size_t)n * XACT3_SIMPLE_CUE_BYTES : nullptr);
            if (kept >= 0 && record) {
                read_xact3_cue(reading, record, is_complex, (int32_t)i, kept);
            } else if (kept >= 0) {
                table->names_bytes = kept;
            }
            if (!reading->stopped) table->cues_read = i + 1;
        }
    }
    free(simple);
    free(complex);
    release_reading(reading);
}

}  // namespace

void sound_bank_init(sound_bank_table* table) {
    memset(table, 0, sizeof *table);
    table->status = SOUND_BANK_READ;
}

void sound_bank_release(sound_bank_table* table) {
    free(table->wave_bank_names);
    free(table->references);
    free(table->names);
    sound_bank_init(table);
}

namespace {

// The header and the wave bank names, then, with_cues, the cues' waves.
bool read_table(byte_source* source, sound_bank_table* table, bool with_cues) {
    sound_bank_release(table);
    uint8_t header[XACT3_HEADER_BYTES] = {};
    int64_t got = read_some(source, 0, header, sizeof header);
    // A file that begins as a sound bank does but ends before its version is
    // a sound bank cut short; any other is no sound bank.
    size_t magic_bytes = got < 4 ? (size_t)got : 4;
    bool swapped = memcmp(header, SOUND_BANK_MAGIC_SWAPPED, magic_bytes) == 0;
    if (got == 0 || (memcmp(header, SOUND_BANK_MAGIC, magic_bytes) != 0 && !swapped)) {
        table->status = SOUND_BANK_NOT_SDBK;
        return false;
    }
    if (got < SOUND_BANK_VERSION_AT + 2) {
        table->status = SOUND_BANK_CUT_SHORT;
        return false;
    }
    bool xact3 = true;
    table->version = read_u16le(header + SOUND_BANK_VERSION_AT);
    if (!is_xact3_version(table->version)) {
        uint16_t big_endian = read_u16be(header + SOUND_BANK_VERSION_AT);
        xact3 = is_xact3_version(big_endian);
        table->big_endian = xact3 || swapped;
        if (table->big_endian) table->version = big_endian;
    }
    if (!xact3 && (table->version != SOUND_BANK_VERSION || swapped)) {
        table->status = SOUND_BANK_OTHER_VERSION;
        return false;
    }
    if (got < (xact3 ? XACT3_HEADER_BYTES : SOUND_BANK_CUES_AT)) {
        table->status = SOUND_BANK_CUT_SHORT;
        return true;
    }

    sound_bank_reading reading;
    memset(&reading, 0, sizeof reading);
    reading.source = source;
    reading.file_bytes = source_size(source);
    reading.table = table;
    reading.big_endian = table->big_endian;
    reading.steps_left = MAX_SOUND_BANK_STEPS;
    bool cue_names;
    if (xact3) {
        memcpy(table->name, header + XACT3_NAME_AT, LONGEST_BANK_NAME_BYTES);
        table->name[LONGEST_BANK_NAME_BYTES] = '\0';
        reading.declared_wave_banks = header[XACT3_WAVE_BANK_COUNT_AT];
        read_wave_bank_names(&reading, field_u32(&reading, header + XACT3_WAVE_BANK_NAMES_AT),
                             XACT3_WAVE_BANK_NAME_BYTES);
        cue_names = field_u32(&reading, header + XACT3_CUE_NAMES_AT) != NO_XACT3_OFFSET;
    } else {
        memcpy(table->name, header + SOUND_BANK_NAME_AT, BANK_NAME_BYTES);
        table->name[BANK_NAME_BYTES] = '\0';
        reading.declared_wave_banks = read_u16le(header + SOUND_BANK_WAVE_BANK_COUNT_AT);
        read_wave_bank_names(&reading, read_u32le(header + SOUND_BANK_WAVE_BANK_NAMES_AT),
                             SOUND_BANK_WAVE_BANK_NAME_BYTES);
        cue_names = !(read_u16le(header + SOUND_BANK_FLAGS_AT) & SOUND_BANK_FLAG_NO_CUE_NAMES);
    }
    if (!cue_names) {
        table->status = SOUND_BANK_NO_CUE_NAMES;
        return true;
    }
    if (with_cues) {
        if (xact3) {
            read_xact3_cues(&reading, header);
        } else {
            read_cues(&reading, header);
        }
    }
    return true;
}

}  // namespace

bool read_sound_bank(byte_source* source, sound_bank_table* table) {
    return read_table(source, table, true);
}

bool read_sound_bank_header(byte_source* source, sound_bank_table* table) {
    return read_table(source, table, false);
}

const char* sound_bank_wave_bank_name(const sound_bank_table* table, int32_t index) {
    if (index < 0 || index >= table->wave_bank_count) return "";
    return table->wave_bank_names + (size_t)index * WAVE_BANK_NAME_STRIDE;
}

const char* sound_bank_cue_name(const sound_bank_table* table, const sound_bank_reference& reference) {
    if (reference.cue_name_at < 0 || reference.cue_name_at >= table->names_bytes) return "";
    return table->names + reference.cue_name_at;
}

int32_t find_wave_bank_index(const sound_bank_table* table, const char* name) {
    if (!name[0]) return -1;
    for (int32_t i = 0; i < table->wave_bank_count; ++i)
        if (strncmp(sound_bank_wave_bank_name(table, i), name, LONGEST_BANK_NAME_BYTES) == 0) return i;
    return -1;
}

namespace {

// The record of this number, or null; records are in ascending order.
entry_record* find_record(stream_description* description, int64_t record_number) {
    int32_t low = 0;
    int32_t high = description->record_count;
    while (low < high) {
        int32_t middle = low + (high - low) / 2;
        if (description->records[middle].record < record_number) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    if (low < description->record_count && description->records[low].record == record_number)
        return &description->records[low];
    return nullptr;
}

// Keeps one cue name in the description's pool: its offset, or NO_NAME when
// the pool is full or memory runs out.
int32_t keep_cue_name_in(stream_description* description, const char* name) {
    int32_t length = (int32_t)strlen(name);
    if (description->names_bytes + length + 1 > MAX_KEPT_CUE_NAME_BYTES) return NO_NAME;
    return description_keep_name(description, name, length);
}

// Gives the record the cue names of references[first..end), all of one wave,
// after those it has; its names stay one after another in the pool, so the
// ones it has are copied along first. The pool may move while it grows:
// each name is copied out of it before it is kept again.
void add_cue_names(stream_description* description, entry_record* record, const sound_bank_table* table,
                   const sound_bank_reference* references, int32_t count) {
    int32_t names_at = NO_NAME;
    int32_t kept = 0;
    for (int32_t i = 0; i < record->cue_name_count; ++i) {
        char name[LONGEST_CUE_NAME + 1];
        strncpy(name, record_cue_name(description, *record, i), sizeof name - 1);
        name[LONGEST_CUE_NAME] = '\0';
        int32_t at = keep_cue_name_in(description, name);
        if (at == NO_NAME) return;
        if (kept++ == 0) names_at = at;
    }
    for (int32_t i = 0; i < count; ++i) {
        int32_t at = keep_cue_name_in(description, sound_bank_cue_name(table, references[i]));
        if (at == NO_NAME) break;
        if (kept++ == 0) names_at = at;
    }
    if (kept == 0) return;
    record->cue_names_at = names_at;
    record->cue_name_count = kept;
    if (record->name_at == NO_NAME) record->name_at = names_at;
}

int compare_waves(const void* a, const void* b) {
    const sound_bank_reference* x = (const sound_bank_reference*)a;
    const sound_bank_reference* y = (const sound_bank_reference*)b;
    if (x->wave != y->wave) return x->wave < y->wave ? -1 : 1;
    // Equal waves keep their cue order.
    return x->cue < y->cue ? -1 : x->cue > y->cue ? 1 : 0;
}

}  // namespace

int32_t name_records_from_sound_bank(stream_description* description, const sound_bank_table* table,
                                     int32_t wave_bank_index) {
    if (wave_bank_index < 0 || wave_bank_index >= table->wave_bank_count || table->reference_count == 0) return 0;
    sound_bank_reference* ours =
        (sound_bank_reference*)malloc((size_t)table->reference_count * sizeof(sound_bank_reference));
    if (!ours) return 0;
    int32_t count = 0;
    for (int32_t i = 0; i < table->reference_count; ++i)
        if (table->references[i].wave_bank == wave_bank_index) ours[count++] = table->references[i];
    // Each wave's cues side by side, in cue order (a cue names a wave once).
    qsort(ours, (size_t)count, sizeof *ours, compare_waves);
    int32_t played = 0;
    for (int32_t first = 0; first < count;) {
        int32_t end = first + 1;
        while (end < count && ours[end].wave == ours[first].wave) end++;
        entry_record* record = find_record(description, (int64_t)ours[first].wave + 1);
        if (record) {
            played++;
            add_cue_names(description, record, table, ours + first, end - first);
        }
        first = end;
    }
    free(ours);
    return played;
}

const char* record_cue_name(const stream_description* description, const entry_record& record, int32_t index) {
    if (index < 0 || index >= record.cue_name_count || !description->names) return "";
    const char* name = description->names + record.cue_names_at;
    for (int32_t i = 0; i < index; ++i) name += strlen(name) + 1;
    return name;
}
