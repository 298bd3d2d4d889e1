// Sound bank reader: the header, the wave bank name table, the cue table and
// the sound table, then for each named cue the waves its sounds can play
// (through cue variation tables, trivial, simple and complex sounds, wave
// variation tables and play events). Every count and offset comes from the
// file and is checked against its size before anything is allocated or
// looped over. Each sound's waves are read once, however many cues play it,
// and a step budget bounds the work of tables that point at each other many
// times over.

#include "containers/sound_bank.h"

#include <stdlib.h>
#include <string.h>

#include "codec/little_endian.h"

const uint8_t SOUND_BANK_MAGIC[4] = {'S', 'D', 'B', 'K'};

namespace {

const int32_t WAVE_BANK_NAME_STRIDE = BANK_NAME_BYTES + 1;

struct sound_bank_reading {
    byte_source* source;
    int64_t file_bytes;
    sound_bank_table* table;
    uint16_t declared_wave_banks;
    uint8_t* sounds;  // the sound table's records the file holds
    uint32_t sounds_held;
    uint32_t declared_sounds;
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

void read_wave_bank_names(sound_bank_reading* reading, uint32_t offset) {
    sound_bank_table* table = reading->table;
    uint32_t held = 0;
    uint8_t* names =
        read_records(reading, offset, SOUND_BANK_WAVE_BANK_NAME_BYTES, reading->declared_wave_banks, &held);
    if (held < reading->declared_wave_banks) note(table, SOUND_BANK_DAMAGED);
    if (!names) return;
    table->wave_bank_names = (char*)calloc(held, WAVE_BANK_NAME_STRIDE);
    if (table->wave_bank_names) {
        for (uint32_t i = 0; i < held; ++i)
            memcpy(table->wave_bank_names + (size_t)i * WAVE_BANK_NAME_STRIDE,
                   names + (size_t)i * SOUND_BANK_WAVE_BANK_NAME_BYTES, SOUND_BANK_WAVE_BANK_NAME_BYTES);
        table->wave_bank_count = (int32_t)held;
    } else {
        stop(reading, SOUND_BANK_NO_MEMORY);
    }
    free(names);
}

// Keeps the cue's name in the table: its offset into the names, or -1 for a
// cue without one (or whose name the file does not hold whole).
int32_t keep_cue_name(sound_bank_reading* reading, uint32_t offset) {
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

int compare_words(const void* a, const void* b) {
    uint32_t x = *(const uint32_t*)a;
    uint32_t y = *(const uint32_t*)b;
    return x < y ? -1 : x > y ? 1 : 0;
}

// Reads a sound's waves into the cache, each once.
void read_sound_waves(sound_bank_reading* reading, uint16_t sound) {
    const uint8_t* record = reading->sounds + (size_t)sound * SOUND_RECORD_BYTES;
    uint32_t waves = read_u32le(record + SOUND_WAVES_AT);
    uint8_t flags = record[SOUND_FLAGS_AT];
    int32_t first = reading->wave_count;
    if (flags & SOUND_TRIVIAL) {
        collect_wave(reading, waves);
    } else if (flags & SOUND_SIMPLE) {
        collect_wave_variations(reading, waves);
    } else {
        collect_complex_waves(reading, waves, record[SOUND_TRACK_COUNT_AT]);
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

void add_sound_waves(sound_bank_reading* reading, uint16_t sound, int32_t cue, int32_t name_at) {
    if (sound == NO_SOUND_INDEX || !take_step(reading)) return;
    if (sound >= reading->declared_sounds) {
        note(reading->table, SOUND_BANK_DAMAGED);
        return;
    }
    // A sound the file cut off: the cut was noted when the table was read.
    if (sound >= reading->sounds_held) return;
    if (reading->last_cue_of[sound] == cue) return;
    reading->last_cue_of[sound] = cue;
    if (reading->waves_of[sound] < 0) read_sound_waves(reading, sound);
    for (int32_t i = 0; i < reading->wave_counts[sound] && !reading->stopped; ++i)
        add_reference(reading, reading->waves[reading->waves_of[sound] + i], cue, name_at);
}

int compare_references(const void* a, const void* b) {
    const sound_bank_reference* x = (const sound_bank_reference*)a;
    const sound_bank_reference* y = (const sound_bank_reference*)b;
    if (x->wave_bank != y->wave_bank) return x->wave_bank < y->wave_bank ? -1 : 1;
    if (x->wave != y->wave) return x->wave < y->wave ? -1 : 1;
    return 0;
}

// A cue that plays one wave through several sounds names it once.
void keep_each_wave_once(sound_bank_table* table, int32_t first) {
    sound_bank_reference* cue_references = table->references + first;
    int32_t count = table->reference_count - first;
    if (count < 2) return;
    qsort(cue_references, (size_t)count, sizeof *cue_references, compare_references);
    int32_t kept = 1;
    for (int32_t i = 1; i < count; ++i)
        if (compare_references(&cue_references[kept - 1], &cue_references[i]) != 0)
            cue_references[kept++] = cue_references[i];
    table->reference_count = first + kept;
}

// A named cue's waves: those of its one sound, or of every sound of its
// variation table.
void read_cue(sound_bank_reading* reading, const uint8_t* cue_record, int32_t cue) {
    sound_bank_table* table = reading->table;
    int32_t name_at = keep_cue_name(reading, read_u32le(cue_record + CUE_NAME_AT));
    if (name_at < 0) return;
    int32_t first = table->reference_count;
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
    // A cue the caps cut off names nothing, so that what is named is named
    // whole.
    if (reading->stopped) table->reference_count = first;
    keep_each_wave_once(table, first);
    // A name no wave takes is not kept.
    if (table->reference_count == first) table->names_bytes = name_at;
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
    reading->waves_of = (int32_t*)malloc(((size_t)reading->sounds_held + 1) * sizeof(int32_t));
    reading->wave_counts = (int32_t*)calloc((size_t)reading->sounds_held + 1, sizeof(int32_t));
    reading->last_cue_of = (int32_t*)malloc(((size_t)reading->sounds_held + 1) * sizeof(int32_t));
    if (!reading->waves_of || !reading->wave_counts || !reading->last_cue_of) stop(reading, SOUND_BANK_NO_MEMORY);
    for (uint32_t i = 0; i < reading->sounds_held && !reading->stopped; ++i) {
        reading->waves_of[i] = -1;
        reading->last_cue_of[i] = -1;
    }
    for (uint32_t i = 0; i < cues_held && take_step(reading); ++i) {
        read_cue(reading, cues + (size_t)i * CUE_RECORD_BYTES, (int32_t)i);
        if (!reading->stopped) table->cues_read = i + 1;
    }
    free(cues);
    free(reading->sounds);
    free(reading->waves_of);
    free(reading->wave_counts);
    free(reading->last_cue_of);
    free(reading->waves);
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
    uint8_t header[SOUND_BANK_CUES_AT] = {};
    int64_t got = read_some(source, 0, header, SOUND_BANK_CUES_AT);
    // A file that begins as "SDBK" does but ends before its version is a
    // sound bank cut short; any other is no sound bank.
    if (got == 0 || memcmp(header, SOUND_BANK_MAGIC, got < 4 ? (size_t)got : 4) != 0) {
        table->status = SOUND_BANK_NOT_SDBK;
        return false;
    }
    if (got < SOUND_BANK_VERSION_AT + 2) {
        table->status = SOUND_BANK_CUT_SHORT;
        return false;
    }
    table->version = read_u16le(header + SOUND_BANK_VERSION_AT);
    if (table->version != SOUND_BANK_VERSION) {
        table->status = SOUND_BANK_OTHER_VERSION;
        return false;
    }
    if (got < SOUND_BANK_CUES_AT) {
        table->status = SOUND_BANK_CUT_SHORT;
        return true;
    }
    memcpy(table->name, header + SOUND_BANK_NAME_AT, BANK_NAME_BYTES);
    table->name[BANK_NAME_BYTES] = '\0';

    sound_bank_reading reading;
    memset(&reading, 0, sizeof reading);
    reading.source = source;
    reading.file_bytes = source_size(source);
    reading.table = table;
    reading.steps_left = MAX_SOUND_BANK_STEPS;
    reading.declared_wave_banks = read_u16le(header + SOUND_BANK_WAVE_BANK_COUNT_AT);
    read_wave_bank_names(&reading, read_u32le(header + SOUND_BANK_WAVE_BANK_NAMES_AT));
    if (read_u16le(header + SOUND_BANK_FLAGS_AT) & SOUND_BANK_FLAG_NO_CUE_NAMES) {
        table->status = SOUND_BANK_NO_CUE_NAMES;
        return true;
    }
    if (with_cues) read_cues(&reading, header);
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
        if (strncmp(sound_bank_wave_bank_name(table, i), name, BANK_NAME_BYTES) == 0) return i;
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
