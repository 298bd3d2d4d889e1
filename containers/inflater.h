// The zlib inflate functions the compressed-bank cache uses, and where they
// come from: a source the caller provides (the plug-in asks the player for
// its table first, the tool uses the zlib it links), so the readers know
// nothing of the player.
#pragma once

#include <zlib.h>

#include "platform/platform.h"

// The compressed file is read and inflated 64 KiB at a time: each inflate
// call also copies its output into zlib's window, and with 2 KiB pieces that
// per-call cost made a cache fill a third slower than zlib alone. The bytes
// inflated are the same whatever the piece size.
const int32_t INFLATE_IN_BYTES = 0x10000;
const int32_t INFLATE_OUT_BYTES = 0x100000;

// Four zlib entry points in this order, each with zlib's own signature; the
// player's answer to its inflate-table query points at such a table.
// inflateReset is part of the table but never called.
struct inflate_table {
    int (*inflate_reset)(z_streamp stream);
    int (*inflate_init)(z_streamp stream, const char* version, int stream_size);
    int (*inflate)(z_streamp stream, int flush);
    int (*inflate_end)(z_streamp stream);
};

// Where one inflation gets its table: get fills it (and sets *library when
// it loaded one, to be released with library_free afterwards) or answers
// false when there is none.
struct inflater_source {
    bool (*get)(void* context, inflate_table* table, library_handle* library);
    void* context;
};

// The table for one inflation from source; false when there is none or it
// has an empty entry, which would crash when called.
bool get_inflater(const inflater_source* source, inflate_table* table, library_handle* library);

// The system's zlib: "zlib1.dll" loaded by name on Windows, the zlib the
// build links elsewhere. One implementation is built per platform.
bool get_system_inflater(inflate_table* table, library_handle* library);
// A source of the system's zlib and nothing else.
extern const inflater_source SYSTEM_INFLATER;
