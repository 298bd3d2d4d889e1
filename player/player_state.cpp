// The one playback state record and its entry table.

#include "player/player_state.h"

#include <stdlib.h>

playback_state player_state;

void release_entry_table() {
    free(player_state.entry_offset);
    free(player_state.entry_length);
    free(player_state.entry_rate);
    free(player_state.entry_channels);
    player_state.entry_offset = nullptr;
    player_state.entry_length = nullptr;
    player_state.entry_rate = nullptr;
    player_state.entry_channels = nullptr;
    player_state.entry_count = 0;
    player_state.entry_capacity = 0;
    store_relaxed(player_state.current_entry, 0);
}

bool reserve_entries(int32_t capacity) {
    release_entry_table();
    if (capacity <= 0) return capacity == 0;
    size_t count = (size_t)capacity;
    player_state.entry_offset = (int32_t*)malloc(count * sizeof(int32_t));
    player_state.entry_length = (int32_t*)malloc(count * sizeof(int32_t));
    player_state.entry_rate = (int32_t*)malloc(count * sizeof(int32_t));
    player_state.entry_channels = (int16_t*)malloc(count * sizeof(int16_t));
    if (!player_state.entry_offset || !player_state.entry_length || !player_state.entry_rate ||
        !player_state.entry_channels) {
        release_entry_table();
        return false;
    }
    player_state.entry_capacity = capacity;
    return true;
}

bool append_entry(int32_t offset, int32_t length, int32_t rate, int16_t channels) {
    int32_t i = player_state.entry_count;
    if (i >= player_state.entry_capacity) return false;
    player_state.entry_offset[i] = offset;
    player_state.entry_length[i] = length;
    player_state.entry_rate[i] = rate;
    player_state.entry_channels[i] = channels;
    player_state.entry_count = i + 1;
    return true;
}
