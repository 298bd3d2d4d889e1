// Compressed bank cache. A bank is inflated into a new file of its own beside
// the cache name and only moved into place once it is complete and exactly
// the size the compressed file states, so a failed or cut-short inflation can
// never leave a cache file that later plays would take for the bank. Two
// players inflating the same bank at once each write their own file; the
// last one to finish puts identical bytes in place. Banks of different games
// can share a name and a size: a cache file is taken for a bank only when it
// also begins with the bytes the bank inflates to, and is replaced otherwise.

#include "containers/compressed_bank.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "codec/little_endian.h"
#include "containers/file_names.h"
#include "containers/inflater.h"
#include "containers/memory_inflation.h"

namespace {

const int32_t STATED_SIZE_OFFSET = 4;
const int32_t STREAM_OFFSET = 8;
// The temporary directory is asked for with room for this many characters.
const uint32_t TEMP_PATH_CHARS = 260;
const uint32_t CACHE_PATH_BYTES = 1024;
const int PARTIAL_NAME_TRIES = 16;

// Reads the inflated size the compressed file states; false when the file is
// too short to hold it.
bool read_stated_size(file_handle file, uint32_t* stated_size) {
    uint8_t field[4];
    if (file_seek(file, STATED_SIZE_OFFSET) != STATED_SIZE_OFFSET) return false;
    if (file_read(file, field, 4) != 4) return false;
    *stated_size = read_u32le(field);
    return true;
}

// Creates a new file named after the cache file with a suffix no other player
// is using, and writes its name into partial_path.
file_handle create_partial_file(const char* cache_path, char* partial_path, uint32_t capacity) {
    static uint32_t counter = 0;
    for (int attempt = 0; attempt < PARTIAL_NAME_TRIES; ++attempt) {
        uint32_t tag = (uint32_t)clock_ms() * 2654435761u ^ (uint32_t)(uintptr_t)&counter ^ (++counter << 20);
        int written = snprintf(partial_path, capacity, "%s.%08x.part", cache_path, tag);
        if (written < 0 || (uint32_t)written >= capacity) return INVALID_FILE;
        file_handle file = file_create_new(partial_path);
        if (file != INVALID_FILE) return file;
    }
    return INVALID_FILE;
}

// True when both files hold the same first byte_count bytes.
bool files_begin_alike(file_handle a, file_handle b, int32_t byte_count) {
    uint8_t bytes_a[4096];
    uint8_t bytes_b[4096];
    if (file_seek(a, 0) != 0 || file_seek(b, 0) != 0) return false;
    while (byte_count > 0) {
        int32_t count = byte_count < (int32_t)sizeof bytes_a ? byte_count : (int32_t)sizeof bytes_a;
        if (file_read(a, bytes_a, count) != count || file_read(b, bytes_b, count) != count) return false;
        if (memcmp(bytes_a, bytes_b, (size_t)count) != 0) return false;
        byte_count -= count;
    }
    return true;
}

int32_t check_bytes(uint32_t stated_size) {
    return stated_size < (uint32_t)CACHE_CHECK_BYTES ? (int32_t)stated_size : CACHE_CHECK_BYTES;
}

// True when cache holds this bank: the stated size, and the first bytes that
// the compressed file's stream inflates to. The compressed file is left at
// the start of its stream.
bool cache_is_this_banks(file_handle cache, file_handle compressed, uint32_t stated_size, window_ref host_window) {
    if (file_size(cache) != (int64_t)stated_size) return false;
    int32_t compared = check_bytes(stated_size);
    if (file_seek(compressed, STREAM_OFFSET) != STREAM_OFFSET) return false;
    memory_inflation inflation;
    if (!memory_inflation_begin(&inflation, compressed, host_window, compared)) return false;
    bool alike = memory_inflation_reach(&inflation, compared);
    uint8_t cached[4096];
    for (int32_t at = 0; alike && at < compared; at += (int32_t)sizeof cached) {
        int32_t count = compared - at < (int32_t)sizeof cached ? compared - at : (int32_t)sizeof cached;
        alike = file_seek(cache, at) == at && file_read(cache, cached, count) == count &&
                memcmp(cached, inflation.out + at, (size_t)count) == 0;
    }
    memory_inflation_end(&inflation);
    file_seek(compressed, STREAM_OFFSET);
    return alike;
}

// The cache file at cache_path when it is this bank's, opened for playing,
// or INVALID_FILE.
file_handle open_cache_of(const char* cache_path, file_handle compressed, uint32_t stated_size,
                          window_ref host_window) {
    file_handle cache = file_open_read(cache_path);
    if (cache == INVALID_FILE) return INVALID_FILE;
    if (cache_is_this_banks(cache, compressed, stated_size, host_window)) return cache;
    file_close(cache);
    return INVALID_FILE;
}

// A complete inflation of the stated size goes in place of the cache file,
// replacing any stale one or another bank's; one of another size (a
// cut-short stream) is still played, from a file that goes away when it is
// closed.
file_handle install_or_keep(const char* partial_path, const char* cache_path, int64_t inflated_bytes,
                            uint32_t stated_size) {
    if (inflated_bytes == (int64_t)stated_size) {
        if (file_rename_replace(partial_path, cache_path)) {
            file_handle cache = file_open_read(cache_path);
            if (cache != INVALID_FILE) return cache;
        } else {
            // The cache name could not be replaced (on Windows, when another
            // player has it open); if what is there is this bank, use it.
            file_handle cache = file_open_read(cache_path);
            file_handle partial = file_open_read(partial_path);
            bool same = cache != INVALID_FILE && partial != INVALID_FILE &&
                        file_size(cache) == (int64_t)stated_size &&
                        files_begin_alike(cache, partial, check_bytes(stated_size));
            if (partial != INVALID_FILE) file_close(partial);
            if (same) {
                file_remove(partial_path);
                return cache;
            }
            if (cache != INVALID_FILE) file_close(cache);
        }
    }
    file_handle kept = file_open_read_then_delete(partial_path);
    if (kept == INVALID_FILE) file_remove(partial_path);
    return kept;
}

struct inflater_buffers {
    uint8_t* in;
    uint8_t* out;
};

enum inflate_outcome { INFLATE_FINISHED, INFLATE_FAILED };

// Writes what has collected in the output buffer to the cache file.
bool write_out(file_handle cache, const uint8_t* buffer, uint32_t* pending_bytes) {
    bool complete = *pending_bytes == 0 || file_write(cache, buffer, (int32_t)*pending_bytes) == (int32_t)*pending_bytes;
    *pending_bytes = 0;
    return complete;
}

// Feeds the compressed file through the stream INFLATE_IN_BYTES at a time. Output
// collects in the 1 MiB buffer and is written whenever the buffer is full and
// at the end: a call that fills the buffer may have left input unconsumed or
// output pending, so inflate is called again (after writing) until it stops
// short of the buffer's end. Collecting the output of many calls writes the
// same bytes with far fewer writes than one per call.
inflate_outcome run_inflation(const inflate_table& zlib, z_stream* stream, const inflater_buffers& buffers,
                              file_handle compressed, file_handle cache, uint32_t limit_bytes) {
    uint64_t inflated_bytes = 0;
    uint32_t pending_bytes = 0;
    for (;;) {
        int32_t got = file_read(compressed, buffers.in, INFLATE_IN_BYTES);
        // The input ran out: what was inflated is complete.
        if (got <= 0) return write_out(cache, buffers.out, &pending_bytes) ? INFLATE_FINISHED : INFLATE_FAILED;
        stream->next_in = buffers.in;
        stream->avail_in = (uInt)got;
        int result = Z_OK;
        bool repeated = false;
        do {
            if (pending_bytes == (uint32_t)INFLATE_OUT_BYTES && !write_out(cache, buffers.out, &pending_bytes))
                return INFLATE_FAILED;
            stream->next_out = buffers.out + pending_bytes;
            stream->avail_out = (uInt)INFLATE_OUT_BYTES - pending_bytes;
            uInt room = stream->avail_out;
            result = zlib.inflate(stream, Z_NO_FLUSH);
            // After a full buffer there may be nothing left to give.
            if (result == Z_BUF_ERROR && repeated) result = Z_OK;
            uint32_t produced = room - stream->avail_out;
            pending_bytes += produced;
            inflated_bytes += produced;
            // More than the stated size means the header lies or the stream
            // is a bomb: stop before it fills the disk.
            if (inflated_bytes > limit_bytes) return INFLATE_FAILED;
            repeated = true;
        } while (result == Z_OK && stream->avail_out == 0);
        if (result == Z_STREAM_END) return write_out(cache, buffers.out, &pending_bytes) ? INFLATE_FINISHED : INFLATE_FAILED;
        if (result != Z_OK) return INFLATE_FAILED;
    }
}

}  // namespace

bool compressed_bank_cache_path(const char* path, char* cache_path, uint32_t capacity) {
    const char* name = base_name(path);
    const char* dot = strchr(name, '.');
    int stem_chars = dot ? (int)(dot - name) : (int)strlen(name);

    char folder[TEMP_PATH_CHARS + 1];
    uint32_t folder_chars = temp_directory(folder, sizeof folder);
    // A folder too long for the room asked would not fit; with none reported
    // the name alone is used, relative to the current folder.
    if (folder_chars >= sizeof folder) return false;
    folder[folder_chars] = '\0';
    int written = snprintf(cache_path, capacity, "%s%.*s.xwb", folder, stem_chars, name);
    return written >= 0 && (uint32_t)written < capacity;
}

// What the opener goes on with when no inflation can be had: the compressed
// file itself.
file_handle not_inflated(file_handle file, stream_description* description) {
    description->notices |= NOTICE_NOT_INFLATED;
    return file;
}

file_handle open_compressed_bank(const char* path, file_handle file, window_ref host_window,
                                 stream_description* description) {
    uint32_t stated_size = 0;
    char cache_path[CACHE_PATH_BYTES];
    // Without a stated size there is nothing to recognise a cache file by.
    if (!read_stated_size(file, &stated_size)) return not_inflated(file, description);
    if (!compressed_bank_cache_path(path, cache_path, sizeof cache_path)) return not_inflated(file, description);

    file_handle cache = open_cache_of(cache_path, file, stated_size, host_window);
    if (cache != INVALID_FILE) {
        file_close(file);
        description->compressed = true;
        return cache;
    }
    // Positions are signed 32-bit: a bank of 2 GiB or more cannot be played.
    if (stated_size > (uint32_t)INT32_MAX) return not_inflated(file, description);

    char partial_path[CACHE_PATH_BYTES + 32];
    file_handle partial = create_partial_file(cache_path, partial_path, sizeof partial_path);
    if (partial == INVALID_FILE) return not_inflated(file, description);
    file_seek(file, STREAM_OFFSET);
    file_handle result = inflate_file(file, partial, stated_size, host_window);
    if (result == file) {
        file_remove(partial_path);
        return not_inflated(file, description);
    }
    int64_t inflated_bytes = file_tell(result);
    file_close(result);
    description->compressed = true;
    if (inflated_bytes != (int64_t)stated_size) description->notices |= NOTICE_INFLATION_CUT_SHORT;
    return install_or_keep(partial_path, cache_path, inflated_bytes, stated_size);
}

void open_compressed_view(const char* path, file_handle file, window_ref host_window, compressed_view* view) {
    view->cache = INVALID_FILE;
    view->inflation = nullptr;
    view->not_inflated = true;
    view->source = source_of_file(file);
    uint32_t stated_size = 0;
    char cache_path[CACHE_PATH_BYTES];
    if (!read_stated_size(file, &stated_size) || stated_size > (uint32_t)INT32_MAX) return;
    if (compressed_bank_cache_path(path, cache_path, sizeof cache_path))
        view->cache = open_cache_of(cache_path, file, stated_size, host_window);
    if (view->cache != INVALID_FILE) {
        view->source = source_of_file(view->cache);
        view->not_inflated = false;
        return;
    }
    memory_inflation* inflation = (memory_inflation*)malloc(sizeof(memory_inflation));
    if (!inflation) return;
    file_seek(file, STREAM_OFFSET);
    int64_t limit = stated_size < DESCRIBE_INFLATE_LIMIT ? (int64_t)stated_size : DESCRIBE_INFLATE_LIMIT;
    if (!memory_inflation_begin(inflation, file, host_window, limit)) {
        free(inflation);
        return;
    }
    // A stream that fails at once is one Play cannot inflate either.
    memory_inflation_reach(inflation, limit < 8 ? limit : 8);
    if (inflation->failed && inflation->out_bytes == 0) {
        memory_inflation_end(inflation);
        free(inflation);
        file_seek(file, 0);
        return;
    }
    view->inflation = inflation;
    view->source = memory_inflation_source(inflation, stated_size);
    view->not_inflated = false;
}

void close_compressed_view(compressed_view* view) {
    if (view->cache != INVALID_FILE) file_close(view->cache);
    if (view->inflation) {
        memory_inflation_end(view->inflation);
        free(view->inflation);
    }
    view->cache = INVALID_FILE;
    view->inflation = nullptr;
}

file_handle inflate_file(file_handle compressed, file_handle cache, uint32_t limit_bytes, window_ref host_window) {
    inflate_table zlib;
    library_handle library = nullptr;
    if (!get_inflater(host_window, &zlib, &library)) {
        file_close(cache);
        return compressed;
    }

    inflate_outcome outcome = INFLATE_FAILED;
    z_stream stream;
    memset(&stream, 0, sizeof stream);  // null allocators: zlib's own
    bool initialised = zlib.inflate_init(&stream, "1.2.3", (int)sizeof(z_stream)) == Z_OK;
    inflater_buffers buffers = {(uint8_t*)malloc((size_t)INFLATE_IN_BYTES), (uint8_t*)malloc((size_t)INFLATE_OUT_BYTES)};
    if (initialised && buffers.in && buffers.out)
        outcome = run_inflation(zlib, &stream, buffers, compressed, cache, limit_bytes);

    free(buffers.in);
    free(buffers.out);
    if (initialised) zlib.inflate_end(&stream);
    library_free(library);

    if (outcome == INFLATE_FINISHED) {
        file_close(compressed);
        return cache;
    }
    file_close(cache);
    return compressed;
}
