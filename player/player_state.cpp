// The one playback state record and the life of its item.

#include "player/player_state.h"

#include <stdlib.h>

player_state_record player_state;

void release_item() {
    description_release(&player_state.item);
    plan_release(&player_state.plan);
    free(player_state.path_given);
    free(player_state.path_played);
    player_state.path_given = nullptr;
    player_state.path_played = nullptr;
    store_relaxed(player_state.current_entry, 0);
}

void install_item(stream_description* description) {
    release_item();
    player_state.item = *description;
    // The tables are the item's now; the caller's copy is left empty.
    description_init(description);
}
