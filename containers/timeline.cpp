// The play plan of an item's entries and the time arithmetic over it.

#include "containers/timeline.h"

#include <limits.h>

#include <algorithm>
#include <stdlib.h>

#include "codec/xbox_adpcm.h"

int64_t frames_to_ms(int64_t frames, uint32_t rate) {
    if (rate == 0 || frames <= 0) return 0;
    return frames * 1000 / rate;
}

namespace {

// A single stream is Xbox ADPCM: its one span is its whole block sets from
// the data start, as far as the file and a 32-bit position reach.
entry_span single_stream_span(const stream_description* description) {
    const codec_row* codec = codec_row_of(CODEC_XBOX_ADPCM);
    int64_t bytes = single_stream_bytes(description);
    int64_t end = std::min<int64_t>((int64_t)description->data_start + std::max<int64_t>(bytes, 0), INT32_MAX);
    int64_t sets = whole_units(*codec, end - description->data_start, description->channels);
    entry_span span = {-1,
                       description->data_start,
                       (int32_t)sets,
                       description->sample_rate,
                       description->channels,
                       0,
                       frames_to_ms(sets * codec->frames_per_unit, description->sample_rate),
                       codec};
    return span;
}

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
        // Only records of a codec with a row play.
        const codec_row* codec = codec_row_of(record.codec, record.block_field);
        int64_t end = record.offset + record.length;
        int64_t start = entry == 0 ? data_start : record.offset;
        int64_t units = 0;
        bool passed_over = entry > 0 && end <= reached;
        // Nothing plays past the data, the file, or what a 32-bit position
        // can reach.
        if (end > data_end) end = data_end;
        if (end > description->file_bytes) end = description->file_bytes;
        if (end > INT32_MAX) end = INT32_MAX;
        // A start a 32-bit seek cannot name cannot be played.
        if (!passed_over && start >= 0 && start <= INT32_MAX && end > start)
            units = whole_units(*codec, end - start, record.channels);
        if (units > 0) reached = start + units * unit_bytes(*codec, record.channels);

        int64_t duration_ms = frames_to_ms(units * codec->frames_per_unit, (uint32_t)record.rate);
        if (spans) {
            entry_span& span = spans[entry];
            span.record_index = i;
            span.play_start = units > 0 ? (int32_t)start : 0;
            span.units = (int32_t)units;
            span.rate = (uint32_t)record.rate;
            span.channels = (uint16_t)record.channels;
            span.start_ms = time_ms;
            span.duration_ms = duration_ms;
            span.codec = codec;
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
    plan->duration_ms = 0;
    plan->single_stream = is_single_stream(description);
    if (plan->single_stream) {
        plan->spans = (entry_span*)malloc(sizeof(entry_span));
        if (!plan->spans) return false;
        plan->spans[0] = single_stream_span(description);
        plan->count = 1;
        plan->duration_ms = plan->spans[0].duration_ms;
        return true;
    }
    if (description->entry_count == 0) return true;
    plan->spans = (entry_span*)malloc((size_t)description->entry_count * sizeof(entry_span));
    if (!plan->spans) return false;
    plan->count = description->entry_count;
    plan->duration_ms = walk_entries(description, plan->spans);
    return true;
}

void plan_release(item_plan* plan) {
    free(plan->spans);
    plan->spans = nullptr;
    plan->count = 0;
    plan->duration_ms = 0;
}

int32_t player_length_ms(const stream_description* description, const item_plan* plan) {
    int64_t length_ms = 0;
    if (is_single_stream(description)) {
        // Blocks of 36 bytes per channel, 65 samples each, with the truncating
        // divisions in this order; 64-bit so long files do not wrap.
        uint64_t divisor = (uint64_t)(description->sample_rate / 100) * description->channels * 2;
        if (divisor == 0 || description->data_length < 0) return 0;
        uint64_t blocks = (uint64_t)description->data_length * 10 / divisor / ADPCM_BLOCK_BYTES;
        length_ms = (int64_t)(blocks * PCM_BLOCK_BYTES);
    } else {
        length_ms = plan ? plan->duration_ms : walk_entries(description, nullptr);
    }
    return length_ms > INT32_MAX ? INT32_MAX : (int32_t)length_ms;
}

bool plan_seek(const item_plan* plan, int32_t time_ms, int32_t* entry, int64_t* skipped_units) {
    if (plan->count == 0) return false;
    if (plan->single_stream) {
        // As the player has always counted it: whole seconds of frames, in
        // whole pairs of blocks from the data start, to the end of the data.
        const entry_span& span = plan->spans[0];
        *entry = 0;
        int64_t frames = (int64_t)(time_ms / 1000) * span.rate / SEEK_STEP_FRAMES * SEEK_STEP_FRAMES;
        *skipped_units = frames / span.codec->frames_per_unit;
        return *skipped_units < span.units;
    }
    *entry = entry_at_time(plan, time_ms);
    if (*entry < 0) return false;
    const entry_span& span = plan->spans[*entry];
    int64_t frames = (time_ms - span.start_ms) * span.rate / (SEEK_STEP_FRAMES * 1000) * SEEK_STEP_FRAMES;
    *skipped_units = frames / span.codec->frames_per_unit;
    return true;
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
    while (index < plan->count && plan->spans[index].units == 0) ++index;
    return index;
}
