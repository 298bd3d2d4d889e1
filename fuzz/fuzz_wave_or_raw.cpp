// Fuzz target: the RIFF WAVE reader and its raw-data fallback.

#include "containers/riff_wave.h"
#include "fuzz/fuzz_support.h"
#include "player/player_state.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    reset_player_state();
    std::string path = write_fuzz_file("input.wav", data, size);
    file_handle file = file_open_read(path.c_str());
    if (file == INVALID_FILE) abort();
    int32_t length = open_wave_or_raw(file);
    // A WAVE leaves the file at its data; raw data and a refusal at offset 0.
    int32_t position = file_tell(file);
    if (length < -1 || position < 0) abort();
    if (length < 0 && position != 0) abort();
    file_close(file);
    return 0;
}
