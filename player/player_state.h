// player_state: everything the plug-in keeps while an item plays, in one
// static record. The host thread and the decode thread share some of its
// words without a lock; those are std::atomic, read and written with relaxed
// ordering, each one a value on its own (no ordering between them is needed).
#pragma once

#include <atomic>
#include <stdint.h>

#include "containers/timeline.h"
#include "platform/platform.h"

const int32_t TITLE_BYTES = 304;
const int32_t NO_SEEK_REQUEST = -1;
// The largest channel count the player accepts; block buffers are sized by it.
const uint16_t MAX_CHANNELS = 8;
const uint32_t MIN_SAMPLE_RATE = 100;

struct playback_state {
    file_handle file = INVALID_FILE;
    platform_thread* decode_thread_handle = nullptr;
    std::atomic<int32_t> kill_flag{0};
    std::atomic<int32_t> paused{0};
    std::atomic<int32_t> seek_request_ms{0};
    std::atomic<int32_t> decode_pos_ms{0};
    char title[TITLE_BYTES] = {};
    int32_t data_start = 0;
    int32_t data_length = 0;
    std::atomic<uint16_t> channels{0};
    std::atomic<uint32_t> sample_rate{0};

    // The entry table of a bank or stream pair; empty (count 0) for a single
    // stream. Filled by the readers before the decode thread starts and only
    // read while it runs, apart from current_entry. Play plans the table into
    // spans (one per entry) and the item's length.
    int32_t entry_count = 0;
    int32_t entry_capacity = 0;
    std::atomic<int32_t> current_entry{0};
    entry_record* entries = nullptr;
    entry_span* spans = nullptr;
    int32_t timeline_length_ms = 0;
};

extern playback_state player_state;

// Shorthands for the relaxed loads and stores every shared word uses.
template <typename T>
inline T load_relaxed(const std::atomic<T>& word) {
    return word.load(std::memory_order_relaxed);
}

template <typename T>
inline void store_relaxed(std::atomic<T>& word, T value) {
    word.store(value, std::memory_order_relaxed);
}

// True when the decoder and the engine's arithmetic can play this format.
inline bool stream_format_is_playable(uint32_t sample_rate, uint32_t channels) {
    return channels >= 1 && channels <= MAX_CHANNELS && sample_rate >= MIN_SAMPLE_RATE;
}

// The entry table's life: a reader reserves room for the entries the file can
// hold, appends the ones it accepts, and the opener of the next item releases
// the table. reserve_entries releases any previous table first and returns
// false (with an empty table) when the table cannot be allocated;
// append_entry returns false when the reserved room is used up.
bool reserve_entries(int32_t capacity);
bool append_entry(int32_t offset, int32_t length, int32_t rate, int16_t channels);
void release_entry_table();
