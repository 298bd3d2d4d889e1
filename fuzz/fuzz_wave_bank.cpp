// Fuzz target: the wave bank reader, at offset 0 or (first byte odd) inside
// a container at 4096, reading a file and the same bytes in memory.

#include "containers/wave_bank.h"
#include "fuzz/fuzz_support.h"

#include <stdlib.h>

namespace {

// What the engine relies on: a table within its room, every kept entry
// playable and reachable by a 32-bit seek, no length without an entry.
void check_bank(const stream_description& bank, int32_t length) {
    if (bank.entry_count < 0 || bank.entry_count > bank.entry_capacity) abort();
    if ((uint32_t)bank.entry_capacity > MAX_BANK_ENTRIES) abort();
    for (int32_t i = 0; i < bank.entry_count; ++i) {
        if (bank.entries[i].offset < 0) abort();
        if (!stream_format_is_playable(bank.entries[i].rate, bank.entries[i].channels)) abort();
    }
    if (bank.entry_count == 0 && length > 0) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    int32_t base = (data[0] & 1) ? CONTAINER_BANK_BASE : 0;
    std::string path = write_fuzz_file("input.xwb", data + 1, size - 1);
    file_handle file = file_open_read(path.c_str());
    if (file == INVALID_FILE) abort();
    stream_description from_file;
    description_init(&from_file);
    byte_source file_source = source_of_file(file);
    int32_t length = read_wave_bank(&file_source, base, &from_file);
    check_bank(from_file, length);
    file_close(file);

    // The same bytes read from memory describe the same bank.
    stream_description from_memory;
    description_init(&from_memory);
    byte_source memory = source_of_memory(data + 1, (int64_t)size - 1);
    if (read_wave_bank(&memory, base, &from_memory) != length) abort();
    if (from_memory.entry_count != from_file.entry_count || from_memory.skipped_count != from_file.skipped_count)
        abort();
    for (int32_t i = 0; i < from_file.entry_count; ++i) {
        const entry_record& a = from_memory.entries[i];
        const entry_record& b = from_file.entries[i];
        if (a.offset != b.offset || a.length != b.length || a.rate != b.rate || a.channels != b.channels ||
            a.record != b.record)
            abort();
    }
    if (description_length_ms(&from_memory) != description_length_ms(&from_file)) abort();
    description_release(&from_file);
    description_release(&from_memory);
    return 0;
}
