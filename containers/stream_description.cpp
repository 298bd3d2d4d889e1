// The stream description's tables, refusals and length.

#include "containers/stream_description.h"

#include "containers/wave_bank.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

void description_init(stream_description* description) {
    memset(description, 0, sizeof *description);
    description->kind = STREAM_RAW;
    description->sample_rate = DEFAULT_SAMPLE_RATE;
    description->channels = DEFAULT_CHANNELS;
    description->stated_frames = NO_FRAMES;
    description->stream_loop_start = NO_FRAMES;
    description->stream_loop_end = NO_FRAMES;
    description->stream_name_at = NO_NAME;
    description->layout_version = -1;
    description->header_version = -1;
}

void description_release(stream_description* description) {
    free(description->records);
    free(description->names);
    description_init(description);
}

bool description_reserve_records(stream_description* description, int32_t capacity) {
    free(description->records);
    description->records = nullptr;
    description->record_count = 0;
    description->record_capacity = 0;
    description->entry_count = 0;
    if (capacity <= 0) return capacity == 0;
    description->records = (entry_record*)malloc((size_t)capacity * sizeof(entry_record));
    if (!description->records) return false;
    description->record_capacity = capacity;
    return true;
}

entry_record new_record(int32_t record_number) {
    entry_record record;
    memset(&record, 0, sizeof record);
    record.record = record_number;
    record.codec = CODEC_XBOX_ADPCM;
    record.loop_start = NO_FRAMES;
    record.loop_end = NO_FRAMES;
    record.stated_frames = NO_FRAMES;
    record.name_at = NO_NAME;
    return record;
}

namespace {

// A record plays when the engine decodes its codec, in a format the player
// can play, and it starts where a 32-bit seek can reach.
skip_reason judge_record(const entry_record& record) {
    if (record.codec == CODEC_EMPTY) return SKIPPED_EMPTY;
    if (record.codec == CODEC_EXTERNAL) return SKIPPED_EXTERNAL;
    if (!codec_row_of(record.codec, record.block_field)) return SKIPPED_CODEC;
    if (!stream_format_is_playable(record.rate, record.channels)) return SKIPPED_UNPLAYABLE_FORMAT;
    if (record.offset > INT32_MAX) return SKIPPED_OUT_OF_REACH;
    return NOT_SKIPPED;
}

// Keeps a name in the pool; NO_NAME when it is empty or memory runs out.
int32_t keep_name(stream_description* description, const char* name, int32_t name_bytes) {
    if (!name || name_bytes <= 0) return NO_NAME;
    const char* end = (const char*)memchr(name, '\0', (size_t)name_bytes);
    int32_t length = end ? (int32_t)(end - name) : name_bytes;
    if (length == 0) return NO_NAME;
    return name_pool_append(&description->names, &description->names_bytes, &description->names_capacity, name, length);
}

}  // namespace

int32_t name_pool_append(char** pool, int32_t* used, int32_t* capacity, const char* text, int32_t length) {
    const int32_t LARGEST_POOL = 1 << 30;
    if (length < 0 || length >= LARGEST_POOL - *used) return NO_NAME;
    int32_t needed = *used + length + 1;
    if (needed > *capacity) {
        int32_t grown_capacity = *capacity ? *capacity : 1024;
        while (grown_capacity < needed) grown_capacity *= 2;
        void* grown = realloc(*pool, (size_t)grown_capacity);
        if (!grown) return NO_NAME;
        *pool = (char*)grown;
        *capacity = grown_capacity;
    }
    int32_t at = *used;
    memcpy(*pool + at, text, (size_t)length);
    (*pool)[at + length] = '\0';
    *used = needed;
    return at;
}

bool description_add_record(stream_description* description, entry_record record, const char* name,
                            int32_t name_bytes) {
    if (description->record_count >= description->record_capacity) return false;
    record.skipped = judge_record(record);
    record.name_at = keep_name(description, name, name_bytes);
    description->records[description->record_count++] = record;
    if (record.skipped == NOT_SKIPPED) description->entry_count++;
    return true;
}

int32_t description_keep_name(stream_description* description, const char* name, int32_t name_bytes) {
    return keep_name(description, name, name_bytes);
}

const char* record_name(const stream_description* description, const entry_record& record) {
    if (record.name_at == NO_NAME || !description->names) return "";
    return description->names + record.name_at;
}

void description_name_stream(stream_description* description, const char* name) {
    description->stream_name_at = keep_name(description, name, (int32_t)strlen(name));
}

const char* stream_name(const stream_description* description) {
    if (description->stream_name_at == NO_NAME || !description->names) return "";
    return description->names + description->stream_name_at;
}

void description_note_entries_cut_short(stream_description* description) {
    for (int32_t i = 0; i < description->record_count; ++i) {
        const entry_record& record = description->records[i];
        if (record.skipped == NOT_SKIPPED && record.offset + record.length > description->file_bytes)
            description->notices |= NOTICE_DATA_CUT_SHORT;
    }
}

bool is_single_stream(const stream_description* description) {
    return description->entry_count == 0 && description->kind != STREAM_BANK;
}

int64_t single_stream_bytes(const stream_description* description) {
    int64_t bytes = description->data_length;
    int64_t in_file = description->file_bytes - description->data_start;
    return in_file < bytes ? in_file : bytes;
}

int64_t frames_in_bytes(entry_codec codec, int64_t channels, int64_t byte_count, uint32_t block_field) {
    const codec_row* row = codec_row_of(codec, block_field);
    if (!row || channels <= 0 || byte_count < 0) return NO_FRAMES;
    return whole_units(*row, byte_count, channels) * row->frames_per_unit;
}

void set_loop_from_bytes(entry_record* record, int64_t start_bytes, int64_t length_bytes) {
    record->loop_start = NO_FRAMES;
    record->loop_end = NO_FRAMES;
    if (length_bytes <= 0 || start_bytes < 0 || start_bytes + length_bytes > record->length) return;
    int64_t start = frames_in_bytes(record->codec, record->channels, start_bytes, record->block_field);
    int64_t end = frames_in_bytes(record->codec, record->channels, start_bytes + length_bytes, record->block_field);
    if (start == NO_FRAMES || end <= start) return;
    record->loop_start = start;
    record->loop_end = end;
}

refusal_reason description_refusal(const stream_description* description) {
    if (description->refusal != NOT_REFUSED) return description->refusal;
    // Xbox banks of nothing playable have always played as nothing; a
    // Windows bank of xWMA or XMA alone is refused with its reason.
    if (description->kind == STREAM_BANK && description->layout_version >= FIRST_WINDOWS_BANK_VERSION &&
        description->record_count > 0 && description->entry_count == 0)
        return REFUSED_NOTHING_PLAYABLE;
    if (is_single_stream(description) && !stream_format_is_playable(description->sample_rate, description->channels))
        return REFUSED_UNPLAYABLE_FORMAT;
    return NOT_REFUSED;
}
