// Fuzz target: the RIFF WAVE reader and its raw-data fallback.

#include "containers/riff_wave.h"
#include "fuzz/fuzz_support.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = write_fuzz_file("input.wav", data, size);
    file_handle file = file_open_read(path.c_str());
    if (file == INVALID_FILE) abort();
    stream_description wave;
    description_init(&wave);
    byte_source source = source_of_file(file);
    bool read = read_wave_or_raw(&source, &wave);
    // A WAVE's data lies after its header; raw data is the whole file; only
    // a WAVE of another format is refused, and said to be.
    if (read != (wave.refusal == NOT_REFUSED)) abort();
    if (!read && wave.refusal != REFUSED_NOT_XBOX_ADPCM) abort();
    if (wave.kind == STREAM_RAW && (wave.data_length != (int32_t)size || wave.data_start != 0)) abort();
    if (wave.kind == STREAM_WAVE && read && wave.data_start < 20) abort();
    file_close(file);
    description_release(&wave);
    return 0;
}
