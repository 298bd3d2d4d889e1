// Reading a file or a buffer through one set of calls.

#include "containers/byte_source.h"

#include <limits.h>
#include <string.h>

byte_source source_of_file(file_handle file) {
    byte_source source;
    source.file = file;
    return source;
}

byte_source source_of_memory(const uint8_t* bytes, int64_t size) {
    byte_source source;
    source.bytes = bytes;
    source.available = size;
    source.size = size;
    return source;
}

int32_t source_read(byte_source* source, void* buffer, int32_t byte_count) {
    if (source->file != INVALID_FILE) return file_read(source->file, buffer, byte_count);
    if (byte_count <= 0 || source->position >= source->size) return 0;
    int64_t end = source->position + byte_count;
    if (end > source->size) end = source->size;
    if (end > source->available && !(source->grow && source->grow(source, end))) source->fell_short = true;
    if (end > source->available) end = source->available;
    if (end <= source->position) return 0;
    int32_t count = (int32_t)(end - source->position);
    memcpy(buffer, source->bytes + source->position, (size_t)count);
    source->position = end;
    return count;
}

int32_t source_seek(byte_source* source, int64_t position) {
    if (position < 0 || position > INT32_MAX) return -1;
    if (source->file != INVALID_FILE) return file_seek(source->file, (int32_t)position);
    source->position = position;
    return (int32_t)position;
}

int32_t source_tell(const byte_source* source) {
    if (source->file != INVALID_FILE) return file_tell(source->file);
    return (int32_t)source->position;
}

int64_t source_size(const byte_source* source) {
    if (source->file != INVALID_FILE) return file_size(source->file);
    return source->size;
}
