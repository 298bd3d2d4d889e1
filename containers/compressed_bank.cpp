// Compressed bank cache. A bank is inflated into a new file of its own beside
// the cache name and only moved into place once it is complete and exactly
// the size the compressed file states, so a failed or cut-short inflation can
// never leave a cache file that later plays would take for the bank. Two
// players inflating the same bank at once each write their own file; the
// second to finish takes the cache the first put in place.
//
// The temporary directory is shared with everything else on the system, and
// banks of different games share stems. A file under a cache name is taken
// for a cache of this bank only when it begins with the bytes the bank
// inflates to; anything else there is someone else's and is never replaced:
// the cache moves on to the next name ("music~2.xwb"). A cache of this bank
// that has another size, or is older than the compressed file (the bank was
// edited past its first bytes since), is stale and is replaced.

#include "containers/compressed_bank.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "codec/little_endian.h"
#include "containers/file_names.h"
#include "containers/inflater.h"
#include "containers/memory_inflation.h"

namespace {

// The temporary directory is asked for with room for this many characters.
const uint32_t TEMP_PATH_CHARS = 260;
const uint32_t CACHE_PATH_BYTES = 1024;
const int PARTIAL_NAME_TRIES = 16;
// Bits 1 to CACHE_NAMES: every cache name.
static_assert(CACHE_NAMES >= 1 && CACHE_NAMES < 31, "cache names are bits of a 32-bit word");
const uint32_t EVERY_NAME = (1u << (CACHE_NAMES + 1)) - 2;

// Reads the inflated size the compressed file states; false when the file is
// too short to hold it.
bool read_stated_size(file_handle file, uint32_t* stated_size) {
    uint8_t field[4];
    if (file_seek(file, COMPRESSED_BANK_SIZE_AT) != COMPRESSED_BANK_SIZE_AT) return false;
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

int32_t check_bytes(uint32_t stated_size) {
    return stated_size < (uint32_t)CACHE_CHECK_BYTES ? (int32_t)stated_size : CACHE_CHECK_BYTES;
}

// A memory inflation of the stream, begun at its start; null when no inflater
// (or no memory) can be had.
memory_inflation* begin_inflation(file_handle compressed, const inflater_source* inflater, int64_t limit) {
    memory_inflation* inflation = (memory_inflation*)malloc(sizeof(memory_inflation));
    if (!inflation) return nullptr;
    file_seek(compressed, COMPRESSED_BANK_STREAM_AT);
    if (memory_inflation_begin(inflation, compressed, inflater, limit)) return inflation;
    free(inflation);
    return nullptr;
}

void end_inflation(memory_inflation* inflation) {
    if (!inflation) return;
    memory_inflation_end(inflation);
    free(inflation);
}

// What the files under the cache names are held against: the bank's stated
// size, the compressed file's modification time, and the first bytes of the
// bank. Those are had only when a file first needs comparing (most plays
// find one cache file at the first name, or no file at all), from a memory
// inflation of the stream, or, once the bank is inflated whole, from the
// file holding it.
struct bank_check {
    file_handle compressed;
    const inflater_source* inflater;
    uint32_t stated_size;
    int32_t compared;
    int64_t bank_time;
    int64_t inflation_limit;    // how far the memory inflation may go on
    const char* inflated_path;  // the whole bank, once it is inflated
    bool sought;
    memory_inflation* inflation;
    uint8_t* read_back;
    const uint8_t* expected;  // the first compared bytes; null when they cannot be had
};

void begin_check(bank_check* check, file_handle compressed, const inflater_source* inflater, uint32_t stated_size,
                 int64_t inflation_limit) {
    memset(check, 0, sizeof *check);
    check->compressed = compressed;
    check->inflater = inflater;
    check->stated_size = stated_size;
    check->compared = check_bytes(stated_size);
    check->bank_time = file_modified_time(compressed);
    check->inflation_limit = inflation_limit;
}

// Lets go of the first bytes; the sizes and the time stay.
void end_check(bank_check* check) {
    end_inflation(check->inflation);
    free(check->read_back);
    check->inflation = nullptr;
    check->read_back = nullptr;
    check->expected = nullptr;
    check->sought = false;
}

// From now on the first bytes are read from inflated_path, the bank inflated
// whole (the compressed file is closed by then).
void check_against_file(bank_check* check, const char* inflated_path) {
    end_check(check);
    check->compressed = INVALID_FILE;
    check->inflated_path = inflated_path;
}

const uint8_t* expected_bytes(bank_check* check) {
    if (check->sought) return check->expected;
    check->sought = true;
    if (check->inflated_path) {
        file_handle inflated = file_open_read(check->inflated_path);
        check->read_back = (uint8_t*)malloc((size_t)check->compared);
        if (inflated != INVALID_FILE && check->read_back && file_seek(inflated, 0) == 0 &&
            file_read(inflated, check->read_back, check->compared) == check->compared)
            check->expected = check->read_back;
        if (inflated != INVALID_FILE) file_close(inflated);
    } else {
        check->inflation = begin_inflation(check->compressed, check->inflater, check->inflation_limit);
        if (check->inflation && memory_inflation_reach(check->inflation, check->compared))
            check->expected = check->inflation->out;
    }
    return check->expected;
}

// True when file (size bytes long) begins with the bank's first bytes. A bank
// that inflates to nothing has no bytes to be known by: only an empty file is
// taken for its cache, so no one's file is ever replaced on the strength of
// comparing nothing.
bool begins_with_bank(file_handle file, int64_t size, bank_check* check) {
    if (check->compared == 0) return size == 0;
    if (size < check->compared) return false;
    const uint8_t* expected = expected_bytes(check);
    if (!expected || file_seek(file, 0) != 0) return false;
    uint8_t cached[4096];
    for (int32_t at = 0; at < check->compared; at += (int32_t)sizeof cached) {
        int32_t count = check->compared - at < (int32_t)sizeof cached ? check->compared - at : (int32_t)sizeof cached;
        if (file_read(file, cached, count) != count || memcmp(cached, expected + at, (size_t)count) != 0) return false;
    }
    return true;
}

// True when file was last written before the compressed file. When either
// time cannot be had, nothing says the cache is stale and its size and first
// bytes decide alone: calling it stale would inflate the bank again at every
// play on a system without times, to no better sound.
bool older_than_bank(file_handle file, const bank_check* check) {
    int64_t file_time = file_modified_time(file);
    return check->bank_time >= 0 && file_time >= 0 && file_time < check->bank_time;
}

enum name_state { NAME_FREE, FRESH_CACHE, STALE_CACHE, OTHER_FILE };

// What the file under cache_path is to the bank. A fresh cache is left open
// in *fresh. With tell_stale false only a file of the stated size that is not
// older than the bank is compared, and any other file is reported as
// another's.
name_state look_at(const char* cache_path, bank_check* check, bool tell_stale, file_handle* fresh) {
    file_handle file = file_open_read(cache_path);
    // A name that cannot be opened counts as free: a free name is only ever
    // taken by a rename that fails when the name exists.
    if (file == INVALID_FILE) return NAME_FREE;
    int64_t size = file_size(file);
    bool fresh_if_alike = size == (int64_t)check->stated_size && !older_than_bank(file, check);
    name_state state = OTHER_FILE;
    if ((fresh_if_alike || tell_stale) && begins_with_bank(file, size, check))
        state = fresh_if_alike ? FRESH_CACHE : STALE_CACHE;
    if (state == FRESH_CACHE) {
        *fresh = file;
    } else {
        file_close(file);
    }
    return state;
}

// What the cache names hold for the bank: the first fresh cache, open, or the
// name a new inflation goes under (0 for none): of the names allowed in
// targets, the first holding a stale cache of this bank, which it replaces,
// else the first no file has.
struct cache_search {
    file_handle fresh;
    int target;
    bool replacing;
};

cache_search find_cache(const char* path, bank_check* check, uint32_t targets, bool tell_stale) {
    cache_search found = {INVALID_FILE, 0, false};
    int stale_name = 0;
    int free_name = 0;
    char cache_path[CACHE_PATH_BYTES];
    for (int number = 1; number <= CACHE_NAMES; ++number) {
        if (!compressed_bank_cache_path(path, number, cache_path, sizeof cache_path)) break;
        name_state state = look_at(cache_path, check, tell_stale, &found.fresh);
        if (state == FRESH_CACHE) return found;
        bool allowed = (targets >> number & 1) != 0;
        if (state == STALE_CACHE && allowed && stale_name == 0) stale_name = number;
        if (state == NAME_FREE && allowed && free_name == 0) free_name = number;
    }
    found.target = stale_name != 0 ? stale_name : free_name;
    found.replacing = stale_name != 0;
    return found;
}

// Plays the inflation at partial_path from a file that goes away when it is
// closed.
file_handle keep_partial(const char* partial_path) {
    file_handle kept = file_open_read_then_delete(partial_path);
    if (kept == INVALID_FILE) file_remove(partial_path);
    return kept;
}

// Moves a complete inflation of the stated size into place, as the cache
// names stand now that it is done: a fresh cache another player put in place
// meanwhile is taken instead; else it replaces this bank's stale cache or
// takes a free name, only while that name is still free. When neither can be
// done it is still played, without being cached.
file_handle install_or_keep(const char* path, const char* partial_path, bank_check* check) {
    check_against_file(check, partial_path);
    uint32_t targets = EVERY_NAME;
    for (;;) {
        cache_search found = find_cache(path, check, targets, true);
        if (found.fresh != INVALID_FILE) {
            file_remove(partial_path);
            return found.fresh;
        }
        if (found.target == 0) break;
        char cache_path[CACHE_PATH_BYTES];
        compressed_bank_cache_path(path, found.target, cache_path, sizeof cache_path);
        int moved =
            found.replacing ? file_rename_replace(partial_path, cache_path) : file_rename_new(partial_path, cache_path);
        if (moved) return file_open_read(cache_path);
        // A stale cache that cannot be replaced (on Windows, while another
        // player has it open) is left for a later play; a name taken since it
        // was found free is passed over for the next. The search that follows
        // finds a fresh cache another player may have just put in place.
        targets = found.replacing ? 0 : targets & ~(1u << found.target);
    }
    return keep_partial(partial_path);
}

struct inflater_buffers {
    uint8_t* in;
    uint8_t* out;
};

enum inflate_outcome { INFLATE_FINISHED, INFLATE_FAILED };

// Writes what has collected in the output buffer to the cache file.
bool write_out(file_handle cache, const uint8_t* buffer, uint32_t* pending_bytes) {
    bool complete =
        *pending_bytes == 0 || file_write(cache, buffer, (int32_t)*pending_bytes) == (int32_t)*pending_bytes;
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
        if (result == Z_STREAM_END)
            return write_out(cache, buffers.out, &pending_bytes) ? INFLATE_FINISHED : INFLATE_FAILED;
        if (result != Z_OK) return INFLATE_FAILED;
    }
}

}  // namespace

bool compressed_bank_cache_path(const char* path, int number, char* cache_path, uint32_t capacity) {
    const char* name = base_name(path);
    const char* dot = strchr(name, '.');
    int stem_chars = dot ? (int)(dot - name) : (int)strlen(name);

    char folder[TEMP_PATH_CHARS + 1];
    uint32_t folder_chars = temp_directory(folder, sizeof folder);
    // A folder too long for the room asked would not fit; with none reported
    // the name alone is used, relative to the current folder.
    if (folder_chars >= sizeof folder) return false;
    folder[folder_chars] = '\0';
    char suffix[16] = "";
    if (number > 1) snprintf(suffix, sizeof suffix, "~%d", number);
    int written = snprintf(cache_path, capacity, "%s%.*s%s.xwb", folder, stem_chars, name, suffix);
    return written >= 0 && (uint32_t)written < capacity;
}

// What the opener goes on with when no inflation can be had: the compressed
// file itself.
file_handle played_compressed(file_handle file, stream_description* description) {
    description->notices |= NOTICE_NOT_INFLATED;
    return file;
}

file_handle open_compressed_bank(const char* path, file_handle file, const inflater_source* inflater,
                                 stream_description* description) {
    uint32_t stated_size = 0;
    char cache_path[CACHE_PATH_BYTES];
    // Without a stated size there is nothing to recognise a cache file by.
    if (!read_stated_size(file, &stated_size)) return played_compressed(file, description);
    if (!compressed_bank_cache_path(path, 1, cache_path, sizeof cache_path))
        return played_compressed(file, description);
    // Positions are signed 32-bit: a bank of 2 GiB or more cannot be played,
    // from a cache file or otherwise.
    if (stated_size > (uint32_t)INT32_MAX) return played_compressed(file, description);

    bank_check check;
    begin_check(&check, file, inflater, stated_size, check_bytes(stated_size));
    cache_search found = find_cache(path, &check, EVERY_NAME, true);
    end_check(&check);
    if (found.fresh != INVALID_FILE) {
        file_close(file);
        description->inflated = true;
        return found.fresh;
    }
    // Every name holds someone else's file: there is nowhere to cache the bank.
    if (found.target == 0) return played_compressed(file, description);

    // The inflation is written beside the first name whichever name it goes
    // under: the name is chosen again once it is complete.
    char partial_path[CACHE_PATH_BYTES + 32];
    file_handle partial = create_partial_file(cache_path, partial_path, sizeof partial_path);
    if (partial == INVALID_FILE) return played_compressed(file, description);
    file_seek(file, COMPRESSED_BANK_STREAM_AT);
    file_handle result = inflate_file(file, partial, stated_size, inflater);
    if (result == file) {
        file_remove(partial_path);
        return played_compressed(file, description);
    }
    int64_t inflated_bytes = file_tell(result);
    file_close(result);
    description->inflated = true;
    // One of another size (a cut-short stream) is still played, but never
    // becomes a cache.
    if (inflated_bytes != (int64_t)stated_size) {
        description->notices |= NOTICE_INFLATION_CUT_SHORT;
        return keep_partial(partial_path);
    }
    file_handle cache = install_or_keep(path, partial_path, &check);
    end_check(&check);
    return cache;
}

void open_compressed_view(const char* path, file_handle file, const inflater_source* inflater, compressed_view* view) {
    view->cache = INVALID_FILE;
    view->inflation = nullptr;
    view->compressed_file = true;
    view->source = source_of_file(file);
    uint32_t stated_size = 0;
    if (!read_stated_size(file, &stated_size) || stated_size > (uint32_t)INT32_MAX) return;
    int64_t limit = stated_size < DESCRIBE_INFLATE_LIMIT ? (int64_t)stated_size : DESCRIBE_INFLATE_LIMIT;

    // Only a fresh cache is looked for: no name is a target, nothing is written.
    bank_check check;
    begin_check(&check, file, inflater, stated_size, limit);
    cache_search found = find_cache(path, &check, 0, false);
    if (found.fresh != INVALID_FILE) {
        end_check(&check);
        view->cache = found.fresh;
        view->source = source_of_file(view->cache);
        view->compressed_file = false;
        return;
    }
    // An inflation begun to compare a file goes on to describe the bank.
    memory_inflation* inflation = nullptr;
    if (check.sought) {
        inflation = check.inflation;
        check.inflation = nullptr;
    } else {
        inflation = begin_inflation(file, inflater, limit);
    }
    end_check(&check);
    if (!inflation) {
        file_seek(file, 0);
        return;
    }
    // A stream that fails at once is one Play cannot inflate either.
    memory_inflation_reach(inflation, limit < 8 ? limit : 8);
    if (inflation->failed && inflation->out_bytes == 0) {
        end_inflation(inflation);
        file_seek(file, 0);
        return;
    }
    view->inflation = inflation;
    view->source = memory_inflation_source(inflation, stated_size);
    view->compressed_file = false;
}

void close_compressed_view(compressed_view* view) {
    if (view->cache != INVALID_FILE) file_close(view->cache);
    end_inflation(view->inflation);
    view->cache = INVALID_FILE;
    view->inflation = nullptr;
}

file_handle inflate_file(file_handle compressed, file_handle cache, uint32_t limit_bytes,
                         const inflater_source* inflater) {
    inflate_table zlib;
    library_handle library = nullptr;
    if (!get_inflater(inflater, &zlib, &library)) {
        file_close(cache);
        return compressed;
    }

    inflate_outcome outcome = INFLATE_FAILED;
    z_stream stream;
    memset(&stream, 0, sizeof stream);  // null allocators: zlib's own
    bool initialised = zlib.inflate_init(&stream, "1.2.3", (int)sizeof(z_stream)) == Z_OK;
    inflater_buffers buffers = {(uint8_t*)malloc((size_t)INFLATE_IN_BYTES),
                                (uint8_t*)malloc((size_t)INFLATE_OUT_BYTES)};
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
