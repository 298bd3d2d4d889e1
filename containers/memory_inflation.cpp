// Inflating a prefix of a zlib stream into a growing buffer.

#include "containers/memory_inflation.h"

#include <stdlib.h>
#include <string.h>

namespace {

const int64_t FIRST_OUT_CAPACITY = 64 * 1024;

bool grow_buffer(memory_inflation* inflation, int64_t wanted) {
    if (wanted <= inflation->out_capacity) return true;
    int64_t capacity = inflation->out_capacity ? inflation->out_capacity : FIRST_OUT_CAPACITY;
    while (capacity < wanted) capacity *= 2;
    if (capacity > inflation->limit) capacity = inflation->limit;
    void* grown = realloc(inflation->out, (size_t)capacity);
    if (!grown) return false;
    inflation->out = (uint8_t*)grown;
    inflation->out_capacity = capacity;
    return true;
}

bool grow_source(byte_source* source, int64_t wanted_end) {
    memory_inflation* inflation = (memory_inflation*)source->grow_context;
    bool reached = memory_inflation_reach(inflation, wanted_end);
    source->bytes = inflation->out;
    source->available = inflation->out_bytes;
    return reached;
}

}  // namespace

bool memory_inflation_begin(memory_inflation* inflation, file_handle compressed, const inflater_source* inflater,
                            int64_t limit) {
    memset(inflation, 0, sizeof *inflation);
    inflation->compressed = compressed;
    inflation->limit = limit;
    if (!get_inflater(inflater, &inflation->zlib, &inflation->library)) return false;
    inflation->in = (uint8_t*)malloc((size_t)INFLATE_IN_BYTES);
    inflation->initialised = inflation->zlib.inflate_init(&inflation->stream, "1.2.3", (int)sizeof(z_stream)) == Z_OK;
    if (!inflation->in || !inflation->initialised) inflation->failed = true;
    return true;
}

bool memory_inflation_reach(memory_inflation* inflation, int64_t wanted) {
    if (wanted > inflation->limit) {
        inflation->failed = true;
        wanted = inflation->limit;
    }
    while (inflation->out_bytes < wanted && !inflation->ended && !inflation->failed) {
        if (!grow_buffer(inflation, wanted)) {
            inflation->failed = true;
            break;
        }
        z_stream* stream = &inflation->stream;
        if (stream->avail_in == 0) {
            int32_t got = file_read(inflation->compressed, inflation->in, INFLATE_IN_BYTES);
            if (got <= 0) {
                inflation->ended = true;
                break;
            }
            stream->next_in = inflation->in;
            stream->avail_in = (uInt)got;
        }
        stream->next_out = inflation->out + inflation->out_bytes;
        stream->avail_out = (uInt)(inflation->out_capacity - inflation->out_bytes);
        uInt room = stream->avail_out;
        int result = inflation->zlib.inflate(stream, Z_NO_FLUSH);
        inflation->out_bytes += room - stream->avail_out;
        if (result == Z_STREAM_END) inflation->ended = true;
        // Z_BUF_ERROR says this call could make no progress: fine when the
        // input was used up (the next read brings more), stuck otherwise.
        else if (result != Z_OK && !(result == Z_BUF_ERROR && stream->avail_in == 0))
            inflation->failed = true;
    }
    return inflation->out_bytes >= wanted;
}

void memory_inflation_end(memory_inflation* inflation) {
    if (inflation->initialised) inflation->zlib.inflate_end(&inflation->stream);
    library_free(inflation->library);
    free(inflation->in);
    free(inflation->out);
    memset(inflation, 0, sizeof *inflation);
}

byte_source memory_inflation_source(memory_inflation* inflation, int64_t size) {
    byte_source source = source_of_memory(inflation->out, size);
    source.available = inflation->out_bytes;
    source.grow = grow_source;
    source.grow_context = inflation;
    return source;
}
