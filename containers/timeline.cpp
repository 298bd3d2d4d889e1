// The play plan of an entry table and the time arithmetic over it.

#include "containers/timeline.h"

#include <limits.h>

#include "codec/xbox_adpcm.h"

int64_t block_sets_to_ms(int64_t block_sets, uint32_t rate) {
    if (rate == 0 || block_sets <= 0) return 0;
    return block_sets * SAMPLES_PER_BLOCK * 1000 / rate;
}

int64_t plan_entries(const entry_record* entries, int32_t count, int64_t data_start, int64_t data_end,
                     int64_t file_bytes, entry_span* spans) {
    int64_t time_ms = 0;
    // Where the previous entry that played stopped reading.
    int64_t reached = data_start;
    for (int32_t i = 0; i < count; ++i) {
        const entry_record& entry = entries[i];
        int64_t end = (int64_t)entry.offset + entry.length;
        int64_t start = i == 0 ? data_start : (int64_t)entry.offset;
        int64_t block_sets = 0;
        bool passed_over = i > 0 && end <= reached;
        // Nothing plays past the data, the file, or what a 32-bit position
        // can reach.
        if (end > data_end) end = data_end;
        if (end > file_bytes) end = file_bytes;
        if (end > INT32_MAX) end = INT32_MAX;
        int64_t set_bytes = (int64_t)entry.channels * ADPCM_BLOCK_BYTES;
        // A start a 32-bit seek cannot name cannot be played.
        if (!passed_over && set_bytes > 0 && start >= 0 && start <= INT32_MAX && end > start)
            block_sets = (end - start) / set_bytes;
        if (block_sets > 0) reached = start + block_sets * set_bytes;

        int64_t duration_ms = block_sets_to_ms(block_sets, (uint32_t)entry.rate);
        if (spans) {
            spans[i].play_start = block_sets > 0 ? (int32_t)start : 0;
            spans[i].block_sets = (int32_t)block_sets;
            spans[i].start_ms = time_ms;
            spans[i].duration_ms = duration_ms;
        }
        time_ms += duration_ms;
    }
    return time_ms;
}

int32_t entry_at_time(const entry_span* spans, int32_t count, int64_t time_ms) {
    if (time_ms < 0) time_ms = 0;
    // Spans follow one another without gaps, so the last one that starts at
    // or before time_ms is the only one that can hold it.
    int32_t low = 0;
    int32_t high = count;
    while (low < high) {
        int32_t middle = low + (high - low) / 2;
        if (spans[middle].start_ms <= time_ms) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    if (low == 0) return -1;
    const entry_span& span = spans[low - 1];
    return time_ms < span.start_ms + span.duration_ms ? low - 1 : -1;
}

int32_t next_played_entry(const entry_span* spans, int32_t count, int32_t index) {
    while (index < count && spans[index].block_sets == 0) ++index;
    return index;
}
