// The one playback state record and its entry table.

#include "player/player_state.h"

#include <stdlib.h>

playback_state player_state;

void release_entry_table() {
    free(player_state.entries);
    free(player_state.spans);
    player_state.entries = nullptr;
    player_state.spans = nullptr;
    player_state.entry_count = 0;
    player_state.entry_capacity = 0;
    player_state.timeline_length_ms = 0;
    store_relaxed(player_state.current_entry, 0);
}

bool reserve_entries(int32_t capacity) {
    release_entry_table();
    if (capacity <= 0) return capacity == 0;
    player_state.entries = (entry_record*)malloc((size_t)capacity * sizeof(entry_record));
    if (!player_state.entries) return false;
    player_state.entry_capacity = capacity;
    return true;
}

bool append_entry(int32_t offset, int32_t length, int32_t rate, int16_t channels) {
    int32_t i = player_state.entry_count;
    if (i >= player_state.entry_capacity) return false;
    player_state.entries[i] = entry_record{offset, length, rate, channels};
    player_state.entry_count = i + 1;
    return true;
}
