// A zlib stream inflated into memory only as far as it is read, up to a
// limit: how a compressed bank's header and records are looked at without a
// cache file, and how a cache file is checked against its bank.
#pragma once

#include <stdint.h>

#include "containers/byte_source.h"
#include "containers/inflater.h"

struct memory_inflation {
    inflate_table zlib;
    library_handle library;
    z_stream stream;
    bool initialised;
    file_handle compressed;  // read from its position on; not owned
    uint8_t* in;
    uint8_t* out;
    int64_t out_bytes;
    int64_t out_capacity;
    int64_t limit;
    bool ended;   // the stream is complete, or its input ran out
    bool failed;  // damaged data, no memory, or more than limit bytes wanted
};

// Prepares to inflate the zlib stream at the compressed file's position, at
// most limit bytes of it. False when no inflater can be had (nothing to end).
bool memory_inflation_begin(memory_inflation* inflation, file_handle compressed, const inflater_source* inflater,
                            int64_t limit);
// Inflates until wanted bytes are out, or the stream ends or fails; true when
// wanted bytes are at hand.
bool memory_inflation_reach(memory_inflation* inflation, int64_t wanted);
void memory_inflation_end(memory_inflation* inflation);

// A source that reads the inflated bytes, inflating more as reads need them,
// standing for size bytes in all.
byte_source memory_inflation_source(memory_inflation* inflation, int64_t size);
