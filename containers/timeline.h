// The timeline of an item with entries: which bytes the engine plays for each
// entry and where that sound sits in time. The engine plays the entries (the
// records that play, in file order) one after another, each as whole block
// sets at its own rate and channel count; an item's length is the sum of what
// its entries play, so the position runs on continuously from one entry into
// the next and a seek can find the entry that holds any time. Pure arithmetic
// over the description's records.
#pragma once

#include <stdint.h>

#include "containers/stream_description.h"

// What the engine plays of one entry: block_sets whole block sets from
// play_start, starting start_ms into the item, in the entry's format. An entry
// with no block set is passed over: it never becomes the current entry.
struct entry_span {
    int32_t record_index;  // the entry's record in the description
    int32_t play_start;
    int32_t block_sets;
    uint32_t rate;
    uint16_t channels;
    int64_t start_ms;
    int64_t duration_ms;
};

// The spans of every entry, in order, and the item's length.
struct item_plan {
    entry_span* spans;
    int32_t count;
    int64_t length_ms;
};

// Milliseconds of sound in block_sets block sets at rate (65 frames each),
// truncated; 0 for a rate of 0.
int64_t block_sets_to_ms(int64_t block_sets, uint32_t rate);

// Plans the play of the description's entries. The first entry plays from
// data_start (a stream data file plays its bytes in front of the first entry
// with that entry's format); every later entry from its own offset, unless it
// ends at or before where the previous entry played to, in which case it is
// passed over. No entry plays past the data, the file, or what a 32-bit
// position reaches, and only its whole block sets play. False (with an empty
// plan) when the spans cannot be allocated.
bool plan_item(const stream_description* description, item_plan* plan);
void plan_release(item_plan* plan);
// The length plan_item would find, without keeping the spans.
int64_t entries_length_ms(const stream_description* description);

// The entry whose span holds time_ms (start_ms <= time_ms < start_ms +
// duration_ms), or -1 when time_ms lies at or past the end of the item.
int32_t entry_at_time(const item_plan* plan, int64_t time_ms);

// The first entry that plays at or after index, or count when none does.
int32_t next_played_entry(const item_plan* plan, int32_t index);
