// The one playback state record and the life of its item.

#include "player/player_state.h"

#include <stdlib.h>

player_state_record player_state;

void release_item() {
    description_release(&player_state.item);
    free(player_state.spans);
    free(player_state.path_given);
    free(player_state.path_played);
    player_state.spans = nullptr;
    player_state.path_given = nullptr;
    player_state.path_played = nullptr;
    player_state.timeline_length_ms = 0;
    store_relaxed(player_state.current_entry, 0);
}

void install_item(stream_description* description) {
    release_item();
    player_state.item = *description;
    // The tables are the item's now; the caller's copy is left empty.
    description_init(description);
}
