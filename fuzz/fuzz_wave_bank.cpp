// Fuzz target: the wave bank reader, at offset 0 or (first byte odd) inside
// a container at 4096.

#include "containers/wave_bank.h"
#include "fuzz/fuzz_support.h"
#include "player/player_state.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    reset_player_state();
    int32_t base = (data[0] & 1) ? CONTAINER_BANK_BASE : 0;
    std::string path = write_fuzz_file("input.xwb", data + 1, size - 1);
    file_handle file = file_open_read(path.c_str());
    if (file == INVALID_FILE) abort();
    int32_t length = read_wave_bank(file, base);
    // What the engine relies on: a table within its room, every kept entry
    // playable and reachable by a 32-bit seek, the file at the first entry.
    if (player_state.entry_count < 0 || player_state.entry_count > player_state.entry_capacity) abort();
    if ((uint32_t)player_state.entry_capacity > MAX_BANK_ENTRIES) abort();
    for (int32_t i = 0; i < player_state.entry_count; ++i) {
        if (player_state.entries[i].offset < 0) abort();
        if (!stream_format_is_playable((uint32_t)player_state.entries[i].rate, (uint32_t)player_state.entries[i].channels))
            abort();
    }
    if (player_state.entry_count > 0 && file_tell(file) != player_state.entries[0].offset) abort();
    if (player_state.entry_count == 0 && length > 0) abort();
    file_close(file);
    release_entry_table();
    return 0;
}
