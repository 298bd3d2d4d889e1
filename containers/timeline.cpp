// The play plan of an item's entries and the time arithmetic over it.

#include "containers/timeline.h"

#include <limits.h>
#include <stdlib.h>

#include "codec/xbox_adpcm.h"

int64_t block_sets_to_ms(int64_t block_sets, uint32_t rate) {
    if (rate == 0 || block_sets <= 0) return 0;
    return block_sets * SAMPLES_PER_BLOCK * 1000 / rate;
}

namespace {

// Walks the entries, filling spans when given; returns the item's length.
int64_t walk_entries(const stream_description* description, entry_span* spans) {
    int64_t data_start = description->data_start;
    int64_t data_end = data_start + description->data_length;
    int64_t time_ms = 0;
    // Where the previous entry that played stopped reading.
    int64_t reached = data_start;
    int32_t entry = 0;
    for (int32_t i = 0; i < description->record_count; ++i) {
        const entry_record& record = description->records[i];
        if (record.skipped != NOT_SKIPPED) continue;
        int64_t end = record.offset + record.length;
        int64_t start = entry == 0 ? data_start : record.offset;
        int64_t block_sets = 0;
        bool passed_over = entry > 0 && end <= reached;
        // Nothing plays past the data, the file, or what a 32-bit position
        // can reach.
        if (end > data_end) end = data_end;
        if (end > description->file_bytes) end = description->file_bytes;
        if (end > INT32_MAX) end = INT32_MAX;
        int64_t set_bytes = (int64_t)record.channels * ADPCM_BLOCK_BYTES;
        // A start a 32-bit seek cannot name cannot be played.
        if (!passed_over && set_bytes > 0 && start >= 0 && start <= INT32_MAX && end > start)
            block_sets = (end - start) / set_bytes;
        if (block_sets > 0) reached = start + block_sets * set_bytes;

        int64_t duration_ms = block_sets_to_ms(block_sets, (uint32_t)record.rate);
        if (spans) {
            entry_span& span = spans[entry];
            span.record_index = i;
            span.play_start = block_sets > 0 ? (int32_t)start : 0;
            span.block_sets = (int32_t)block_sets;
            span.rate = (uint32_t)record.rate;
            span.channels = (uint16_t)record.channels;
            span.start_ms = time_ms;
            span.duration_ms = duration_ms;
        }
        time_ms += duration_ms;
        entry++;
    }
    return time_ms;
}

}  // namespace

bool plan_item(const stream_description* description, item_plan* plan) {
    plan->spans = nullptr;
    plan->count = 0;
    plan->length_ms = 0;
    if (description->entry_count == 0) return true;
    plan->spans = (entry_span*)malloc((size_t)description->entry_count * sizeof(entry_span));
    if (!plan->spans) return false;
    plan->count = description->entry_count;
    plan->length_ms = walk_entries(description, plan->spans);
    return true;
}

void plan_release(item_plan* plan) {
    free(plan->spans);
    plan->spans = nullptr;
    plan->count = 0;
    plan->length_ms = 0;
}

int64_t entries_length_ms(const stream_description* description) {
    return walk_entries(description, nullptr);
}

int32_t entry_at_time(const item_plan* plan, int64_t time_ms) {
    if (time_ms < 0) time_ms = 0;
    // Spans follow one another without gaps, so the last one that starts at
    // or before time_ms is the only one that can hold it.
    int32_t low = 0;
    int32_t high = plan->count;
    while (low < high) {
        int32_t middle = low + (high - low) / 2;
        if (plan->spans[middle].start_ms <= time_ms) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    if (low == 0) return -1;
    const entry_span& span = plan->spans[low - 1];
    return time_ms < span.start_ms + span.duration_ms ? low - 1 : -1;
}

int32_t next_played_entry(const item_plan* plan, int32_t index) {
    while (index < plan->count && plan->spans[index].block_sets == 0) ++index;
    return index;
}
