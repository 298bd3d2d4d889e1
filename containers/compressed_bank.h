// Compressed wave banks (.zwb): a wave bank packed with zlib behind an 8-byte
// header, inflated once into a cache file in the temporary directory and
// played from there; later plays of a bank with the same stem and stated
// size reuse the cache file.
#pragma once

#include <stdint.h>

#include "platform/platform.h"

// The compressed file is read and inflated 64 KiB at a time: each inflate
// call also copies its output into zlib's window, and with 2 KiB pieces that
// per-call cost made a cache fill a third slower than zlib alone. The bytes
// inflated are the same whatever the piece size.
const int32_t INFLATE_IN_BYTES = 0x10000;
const int32_t INFLATE_OUT_BYTES = 0x100000;

// The cache file's name: "<stem>.xwb" in the temporary directory, the stem
// being the file name up to its first dot. Returns false when the path does
// not fit in capacity bytes.
bool compressed_bank_cache_path(const char* path, char* cache_path, uint32_t capacity);

// file is the compressed file opened from path. Returns the file the opener
// goes on with: the inflated bank, or file itself when none can be had. Of
// the two, only the returned one stays open; INVALID_FILE only when a
// finished inflation could be neither installed nor kept for playing.
file_handle open_compressed_bank(const char* path, file_handle file);

// Inflates the zlib stream at the compressed file's position into cache, a
// new empty file, writing no more than limit_bytes. When the stream ended or
// the input ran out, closes compressed and returns cache (at its end); when
// inflating failed (no inflater, damaged data, a failed write, more output
// than limit_bytes), closes cache and returns compressed.
file_handle inflate_file(file_handle compressed, file_handle cache, uint32_t limit_bytes);
