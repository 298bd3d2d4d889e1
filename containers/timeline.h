// The timeline of an item: which bytes the engine plays for each entry and
// where that sound sits in time. A single stream is an item with one entry.
// The engine plays the entries (a bank's or pair's records that play, in
// file order) one after another, each as whole block sets at its own rate and
// channel count, so the position runs on continuously from one entry into the
// next and a seek can find the entry that holds any time. Each entry plays in
// whole units of its codec (codec/codec_table.h): block sets of Xbox ADPCM,
// frames of PCM. Only what the player is shown of a single stream keeps the
// arithmetic it always had: its length in steps of 130 ms, and seeks in whole
// pairs of blocks from the data start. Pure arithmetic over the description.
#pragma once

#include <stdint.h>

#include "containers/stream_description.h"

// What the engine plays of one entry: units whole units of its codec from
// play_start, starting start_ms into the item, in the entry's format. An entry
// with no unit is passed over: it never becomes the current entry.
struct entry_span {
    int32_t record_index;  // the entry's record in the description; -1 for a single stream
    int32_t play_start;
    int32_t units;
    uint32_t rate;
    uint16_t channels;
    int64_t start_ms;
    int64_t duration_ms;
    const codec_row* codec;
};

inline int64_t span_frames(const entry_span& span) {
    return (int64_t)span.units * span.codec->frames_per_unit;
}
inline int64_t span_unit_bytes(const entry_span& span) {
    return unit_bytes(*span.codec, span.channels);
}

// The spans of every entry, in order, and how long their sound lasts. (A
// "length" is what the player is shown: see player_length_ms.)
struct item_plan {
    entry_span* spans;
    int32_t count;
    int64_t duration_ms;
    bool single_stream;
};

// Milliseconds of sound in frames frames at rate, truncated; 0 for a rate of 0.
int64_t frames_to_ms(int64_t frames, uint32_t rate);

// Plans the play of the description's entries. The first entry plays from
// data_start (a stream data file plays its bytes in front of the first entry
// with that entry's format); every later entry from its own offset, unless it
// ends at or before where the previous entry played to, in which case it is
// passed over. No entry plays past the data, the file, or what a 32-bit
// position reaches, and only its whole units play. A single stream (no
// entries, not a bank) is one entry of its format over its data. False (with
// an empty plan) when the spans cannot be allocated.
bool plan_item(const stream_description* description, item_plan* plan);
void plan_release(item_plan* plan);

// The length the player shows for the item: the sound of its entries (the
// plan's, or worked out when plan is null), or for a single stream whole
// blocks of its data at its rate in steps of 130 ms, as the player has always
// shown it, ((bytes x 10 / ((rate / 100) x channels x 2)) / 36) x 130, every
// division truncating. Saturated at INT32_MAX; 0 for a format that would
// divide by zero.
int32_t player_length_ms(const stream_description* description, const item_plan* plan);

// Where a seek to time_ms (whole seconds) lands: the entry whose span holds
// it and the units skipped into it, whole steps of SEEK_STEP_FRAMES at or
// before the time (for a single stream, counted from the data start). False
// when the time lies at or past the end of the sound.
bool plan_seek(const item_plan* plan, int32_t time_ms, int32_t* entry, int64_t* skipped_units);
// Seeks land on whole pairs of Xbox ADPCM blocks, in every codec.
const int64_t SEEK_STEP_FRAMES = 2 * SAMPLES_PER_BLOCK;

// The entry whose span holds time_ms (start_ms <= time_ms < start_ms +
// duration_ms), or -1 when time_ms lies at or past the end of the item.
int32_t entry_at_time(const item_plan* plan, int64_t time_ms);

// The first entry that plays at or after index, or count when none does.
int32_t next_played_entry(const item_plan* plan, int32_t index);
