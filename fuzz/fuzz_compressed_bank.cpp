// Fuzz target: a compressed bank through the opener, with the cache in this
// process's scratch folder. Every run starts from an empty folder, and no
// partial inflation may be left behind.

#include <stdlib.h>

#include <vector>

#include "containers/stream_opener.h"
#include "fuzz/fuzz_support.h"
#include "player/player_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    reset_player_state();
    clear_fuzz_folder();
    std::string chosen = write_fuzz_file("bank.zwb", data, size);
    std::vector<char> path(chosen.begin(), chosen.end());
    path.push_back('\0');
    file_handle file = file_open_read(path.data());
    if (file == INVALID_FILE) abort();
    int32_t length = 0;
    file_handle playing = open_stream(path.data(), file, &length);
    if (playing != INVALID_FILE) file_close(playing);
    release_entry_table();
    clear_fuzz_folder();
    return 0;
}
