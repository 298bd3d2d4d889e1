// What the readers read: an open file, or bytes in memory that may grow as
// they are read (a compressed bank inflated only as far as its reader looks).
// Positions are signed 32-bit, as the files' are.
#pragma once

#include <stdint.h>

#include "platform/platform.h"

struct byte_source {
    file_handle file = INVALID_FILE;
    // In memory: bytes[0..available) are at hand out of size in all; a read
    // past them asks grow() for more, which may move bytes.
    const uint8_t* bytes = nullptr;
    int64_t available = 0;
    int64_t size = 0;
    bool (*grow)(byte_source* source, int64_t wanted_end) = nullptr;
    void* grow_context = nullptr;
    int64_t position = 0;
    // Set when a read wanted bytes within size that could not be had.
    bool fell_short = false;
};

byte_source source_of_file(file_handle file);
byte_source source_of_memory(const uint8_t* bytes, int64_t size);

// As file_read, file_seek, file_tell and file_size do for a file.
int32_t source_read(byte_source* source, void* buffer, int32_t byte_count);
int32_t source_seek(byte_source* source, int64_t position);
int32_t source_tell(const byte_source* source);
int64_t source_size(const byte_source* source);
