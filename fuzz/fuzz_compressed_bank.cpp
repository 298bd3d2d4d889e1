// Fuzz target: a compressed bank described without a cache (inflated in
// memory), opened to play (making the cache) and described again (from the
// cache), the cache in this process's scratch folder. Every run starts from
// an empty folder, and no partial inflation may be left behind.

#include <stdlib.h>

#include "containers/stream_opener.h"
#include "containers/timeline.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    clear_fuzz_folder();
    std::string chosen = write_fuzz_file("bank.zwb", data, size);
    // Described first, with no cache yet (in memory), then played (making the
    // cache), then described again (from the cache).
    for (int round = 0; round < 3; ++round) {
        stream_description bank;
        description_init(&bank);
        if (round == 1) {
            file_handle file = file_open_read(chosen.c_str());
            if (file == INVALID_FILE) abort();
            file_handle playing = open_stream(chosen.c_str(), file, &SYSTEM_INFLATER, OPEN_TO_PLAY, &bank);
            if (playing != INVALID_FILE) file_close(playing);
        } else if (!describe_stream(chosen.c_str(), &SYSTEM_INFLATER, &bank)) {
            abort();
        }
        player_length_ms(&bank, nullptr);
        description_release(&bank);
    }
    clear_fuzz_folder();
    return 0;
}
