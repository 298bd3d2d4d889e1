// The stream description's tables, refusals and length.

#include "containers/stream_description.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "containers/timeline.h"

void description_init(stream_description* description) {
    memset(description, 0, sizeof *description);
    description->kind = STREAM_RAW;
    description->sample_rate = DEFAULT_SAMPLE_RATE;
    description->channels = DEFAULT_CHANNELS;
}

void description_release(stream_description* description) {
    free(description->entries);
    free(description->skipped);
    description_init(description);
}

bool description_reserve_entries(stream_description* description, int32_t capacity) {
    free(description->entries);
    description->entries = nullptr;
    description->entry_count = 0;
    description->entry_capacity = 0;
    if (capacity <= 0) return capacity == 0;
    description->entries = (entry_record*)malloc((size_t)capacity * sizeof(entry_record));
    if (!description->entries) return false;
    description->entry_capacity = capacity;
    return true;
}

bool description_append_entry(stream_description* description, const entry_record& entry) {
    if (description->entry_count >= description->entry_capacity) return false;
    description->entries[description->entry_count++] = entry;
    return true;
}

void description_note_skipped(stream_description* description, const skipped_record& record) {
    if (description->skipped_count == description->skipped_capacity) {
        int32_t capacity = description->skipped_capacity ? 2 * description->skipped_capacity : 16;
        void* grown = realloc(description->skipped, (size_t)capacity * sizeof(skipped_record));
        if (!grown) return;
        description->skipped = (skipped_record*)grown;
        description->skipped_capacity = capacity;
    }
    description->skipped[description->skipped_count++] = record;
}

void description_note_entries_cut_short(stream_description* description) {
    for (int32_t i = 0; i < description->entry_count; ++i) {
        const entry_record& entry = description->entries[i];
        if ((int64_t)entry.offset + entry.length > description->file_bytes) description->notices |= NOTICE_DATA_CUT_SHORT;
    }
}

int64_t single_stream_bytes(const stream_description* description) {
    int64_t bytes = description->data_length;
    int64_t in_file = description->file_bytes - description->data_start;
    return in_file < bytes ? in_file : bytes;
}

refusal_reason description_refusal(const stream_description* description) {
    if (description->refusal != NOT_REFUSED) return description->refusal;
    if (description->data_length < 0) return REFUSED_BANK_ENDS_BEFORE_START;
    if (description->entry_count == 0 &&
        !stream_format_is_playable(description->sample_rate, description->channels))
        return REFUSED_UNPLAYABLE_FORMAT;
    for (int32_t i = 0; i < description->entry_count; ++i) {
        if (!stream_format_is_playable(description->entries[i].rate, description->entries[i].channels))
            return REFUSED_UNPLAYABLE_FORMAT;
    }
    return NOT_REFUSED;
}

int32_t adpcm_bytes_to_ms(int32_t byte_count, uint32_t sample_rate, uint32_t channels) {
    // Blocks of 36 bytes per channel, 65 samples each, with the truncating
    // divisions in this order; 64-bit so long files do not wrap.
    uint64_t divisor = (uint64_t)(sample_rate / 100) * channels * 2;
    if (divisor == 0 || byte_count < 0) return 0;
    uint64_t blocks = (uint64_t)byte_count * 10 / divisor / 36;
    uint64_t time_ms = blocks * 130;
    return time_ms > INT32_MAX ? INT32_MAX : (int32_t)time_ms;
}

int32_t description_length_ms(const stream_description* description) {
    if (description->entry_count == 0)
        return adpcm_bytes_to_ms(description->data_length, description->sample_rate, description->channels);
    int64_t data_end = (int64_t)description->data_start + description->data_length;
    int64_t length_ms = plan_entries(description->entries, description->entry_count, description->data_start,
                                     data_end, description->file_bytes, nullptr);
    return length_ms > INT32_MAX ? INT32_MAX : (int32_t)length_ms;
}
