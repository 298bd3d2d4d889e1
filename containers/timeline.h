// The timeline of an item with an entry table: which bytes the engine plays
// for each entry and where that sound sits in time. The engine plays the
// entries one after another, each as whole block sets at its own rate and
// channel count; an item's length is the sum of what its entries play, so the
// position runs on continuously from one entry into the next and a seek can
// find the entry that holds any time. Pure arithmetic over the entry table.
#pragma once

#include <stdint.h>

#include "containers/stream_description.h"

// What the engine plays of one entry: block_sets whole block sets from
// play_start, starting start_ms into the item. An entry with no block set is
// passed over: it never becomes the current entry.
struct entry_span {
    int32_t play_start;
    int32_t block_sets;
    int64_t start_ms;
    int64_t duration_ms;
};

// Milliseconds of sound in block_sets block sets at rate (65 frames each),
// truncated; 0 for a rate of 0.
int64_t block_sets_to_ms(int64_t block_sets, uint32_t rate);

// Plans the play of entries[0..count) and returns the item's length in ms.
// The first entry plays from data_start (a stream data file plays its bytes in
// front of the first entry with that entry's format); every later entry from
// its own offset, unless it ends at or before where the previous entry played
// to, in which case it is passed over. No entry plays past data_end or
// file_bytes, and only its whole block sets play. spans may be null when only
// the length is wanted. Every entry must have 1 to 8 channels.
int64_t plan_entries(const entry_record* entries, int32_t count, int64_t data_start, int64_t data_end,
                     int64_t file_bytes, entry_span* spans);

// The entry whose span holds time_ms (start_ms <= time_ms < start_ms +
// duration_ms), or -1 when time_ms lies at or past the end of the item.
int32_t entry_at_time(const entry_span* spans, int32_t count, int64_t time_ms);

// The first entry that plays at or after index, or count when none does.
int32_t next_played_entry(const entry_span* spans, int32_t count, int32_t index);
