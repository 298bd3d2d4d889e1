// Fuzz target: a stream pair through the opener. The first two bytes give
// the header file's size; the header file holds that many of the following
// bytes and the data file the rest. The first byte's top bit chooses which
// file is played.

#include <stdlib.h>
#include <string.h>

#include <vector>

#include "containers/stream_opener.h"
#include "containers/timeline.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    bool choose_header = (data[0] & 0x80) != 0;
    size_t header_size = ((size_t)(data[0] & 0x7f) << 8 | data[1]);
    data += 2;
    size -= 2;
    if (header_size > size) header_size = size;
    write_fuzz_file("pair.xsh", data, header_size);
    write_fuzz_file("pair.xsd", data + header_size, size - header_size);

    std::string chosen = fuzz_folder() + (choose_header ? "pair.xsh" : "pair.xsd");
    file_handle file = file_open_read(chosen.c_str());
    if (file == INVALID_FILE) abort();
    stream_description pair;
    description_init(&pair);
    file_handle playing = open_stream(chosen.c_str(), file, &SYSTEM_INFLATER, OPEN_TO_PLAY, &pair);
    // The data file is played, from its first byte, for its whole size.
    if (pair.data_length != (int32_t)(size - header_size) || pair.data_start != 0) abort();
    check_description(pair);
    // Room only for the records the header holds: 72 bytes is the shortest.
    if (pair.record_capacity > (int32_t)(header_size / 72)) abort();
    file_close(playing);

    // Described without playing, the pair comes to the same.
    stream_description described;
    description_init(&described);
    if (!describe_stream(chosen.c_str(), &SYSTEM_INFLATER, &described)) abort();
    check_same_records(described, pair);
    if (player_length_ms(&described, nullptr) != player_length_ms(&pair, nullptr)) abort();
    description_release(&pair);
    description_release(&described);
    return 0;
}
