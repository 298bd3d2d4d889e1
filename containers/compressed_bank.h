// Compressed wave banks (.zwb): a wave bank packed with zlib behind an 8-byte
// header, inflated once into a cache file in the temporary directory and
// played from there; later plays of the same bank reuse the cache file.
#pragma once

#include <stdint.h>

#include "containers/byte_source.h"
#include "containers/inflater.h"
#include "containers/stream_description.h"
#include "platform/platform.h"

// A compressed bank: four bytes of its own, the size of the inflated bank
// (32-bit little-endian), then the zlib stream.
const int32_t COMPRESSED_BANK_SIZE_AT = 4;
const int32_t COMPRESSED_BANK_STREAM_AT = 8;

// A file is a cache of the bank when it begins with the same bytes as the
// bank inflates to, this many of them (all of a smaller bank). It is used
// when it also has the stated size and is not older than the compressed file.
const int32_t CACHE_CHECK_BYTES = 0x10000;
// How many names a bank's cache may take: "<stem>.xwb", then "<stem>~2.xwb"
// up to "<stem>~9.xwb", each passed over while it holds some other file.
const int CACHE_NAMES = 9;
// The most of a bank inflated in memory to describe it without a cache.
const int64_t DESCRIBE_INFLATE_LIMIT = 32 << 20;

// The cache file's name number (1 to CACHE_NAMES) in the temporary
// directory: "<stem>.xwb" for 1, "<stem>~<number>.xwb" after it, the stem
// being the file name up to its first dot. Returns false when the path does
// not fit in capacity bytes.
bool compressed_bank_cache_path(const char* path, int number, char* cache_path, uint32_t capacity);

// file is the compressed file opened from path. Returns the file the opener
// goes on with: this bank's cache file, or file itself when no inflation can
// be had (noted in the description). The cache file is the first of the
// cache names holding a cache of this bank that has the stated size and is
// not older than file; without one the bank is inflated, replacing a stale
// cache of this bank, else under the first name no file has. A file that is
// not a cache of this bank is never replaced; when every name holds one, no
// inflation can be had. Of the two, only the returned one stays open;
// INVALID_FILE only when a finished inflation could be neither installed nor
// kept for playing. inflater gives zlib.
file_handle open_compressed_bank(const char* path, file_handle file, const inflater_source* inflater,
                                 stream_description* description);

// Inflates the zlib stream at the compressed file's position into cache, a
// new empty file, writing no more than limit_bytes. When the stream ended or
// the input ran out, closes compressed and returns cache (at its end); when
// inflating failed (no inflater, damaged data, a failed write, more output
// than limit_bytes), closes cache and returns compressed.
file_handle inflate_file(file_handle compressed, file_handle cache, uint32_t limit_bytes,
                         const inflater_source* inflater);

// How a compressed bank is looked at without being played: through a cache
// file Play would use as it stands (found under the same names by the same
// test), else inflated in memory as far as the reader reads (at most
// DESCRIBE_INFLATE_LIMIT bytes), else, when it cannot be inflated, the
// compressed file itself as Play would play it. Nothing is written to the
// disk.
struct compressed_view {
    byte_source source;
    file_handle cache;  // the cache file when it is used
    struct memory_inflation* inflation;
    bool compressed_file;  // source reads the compressed file itself: no inflation
};
// file is the compressed file, which stays the caller's.
void open_compressed_view(const char* path, file_handle file, const inflater_source* inflater, compressed_view* view);
void close_compressed_view(compressed_view* view);
