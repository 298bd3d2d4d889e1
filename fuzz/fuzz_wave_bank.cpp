// Fuzz target: the wave bank reader, at offset 0 or (first byte odd) inside
// a container at 4096, reading a file and the same bytes in memory.

#include "containers/timeline.h"
#include "containers/wave_bank.h"
#include "fuzz/fuzz_support.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    int32_t base = (data[0] & 1) ? CONTAINER_BANK_BASE : 0;
    std::string path = write_fuzz_file("input.xwb", data + 1, size - 1);
    file_handle file = file_open_read(path.c_str());
    if (file == INVALID_FILE) abort();
    stream_description from_file;
    description_init(&from_file);
    from_file.bank_base = base;
    byte_source file_source = source_of_file(file);
    bool read = read_wave_bank(&file_source, &from_file);
    int32_t length = from_file.data_length;
    if (read != (from_file.refusal == NOT_REFUSED)) abort();
    check_description(from_file);
    if ((uint32_t)from_file.record_capacity > MAX_BANK_ENTRIES) abort();
    if (from_file.entry_count == 0 && length > 0) abort();
    file_close(file);

    // The same bytes read from memory describe the same bank.
    stream_description from_memory;
    description_init(&from_memory);
    from_memory.bank_base = base;
    byte_source memory = source_of_memory(data + 1, (int64_t)size - 1);
    if (read_wave_bank(&memory, &from_memory) != read || from_memory.data_length != length) abort();
    check_same_records(from_memory, from_file);
    if (player_length_ms(&from_memory, nullptr) != player_length_ms(&from_file, nullptr)) abort();
    description_release(&from_file);
    description_release(&from_memory);
    return 0;
}
