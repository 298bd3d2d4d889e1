// Fuzz target: a stream pair through the opener. The first two bytes give
// the header file's size; the header file holds that many of the following
// bytes and the data file the rest. The first byte's top bit chooses which
// file is played.

#include <stdlib.h>
#include <string.h>

#include <vector>

#include "containers/stream_opener.h"
#include "fuzz/fuzz_support.h"
#include "player/player_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    reset_player_state();
    bool choose_header = (data[0] & 0x80) != 0;
    size_t header_size = ((size_t)(data[0] & 0x7f) << 8 | data[1]);
    data += 2;
    size -= 2;
    if (header_size > size) header_size = size;
    write_fuzz_file("pair.xsh", data, header_size);
    std::string data_path = write_fuzz_file("pair.xsd", data + header_size, size - header_size);

    std::string chosen = fuzz_folder() + (choose_header ? "pair.xsh" : "pair.xsd");
    std::vector<char> path(chosen.begin(), chosen.end());
    path.push_back('\0');
    file_handle file = file_open_read(path.data());
    if (file == INVALID_FILE) abort();
    int32_t length = 0;
    file_handle playing = open_stream(path.data(), file, &length);
    // The data file is played, from its first byte, for its whole size.
    if (length != (int32_t)(size - header_size) || file_tell(playing) != 0) abort();
    if (player_state.entry_count > 0 &&
        (player_state.entry_count > player_state.entry_capacity ||
         player_state.entry_capacity > (int32_t)(header_size / 100)))
        abort();
    for (int32_t i = 0; i < player_state.entry_count; ++i)
        if (!stream_format_is_playable((uint32_t)player_state.entries[i].rate, (uint32_t)player_state.entries[i].channels))
            abort();
    file_close(playing);
    release_entry_table();
    (void)data_path;
    return 0;
}
