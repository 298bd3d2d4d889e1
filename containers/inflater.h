// The zlib inflate functions the compressed-bank cache uses: lent by the host
// in answer to its inflate-table query, or else the system's own zlib.
#pragma once

#include <zlib.h>

#include "platform/platform.h"

// Four zlib entry points in this order, each with zlib's own signature; the
// host's answer to the query points at such a table. inflateReset is part of
// the table but never called.
struct inflate_table {
    int (*inflate_reset)(z_streamp stream);
    int (*inflate_init)(z_streamp stream, const char* version, int stream_size);
    int (*inflate)(z_streamp stream, int flush);
    int (*inflate_end)(z_streamp stream);
};

// The inflater for one inflation: the host's table when it lends one, else
// the system's zlib (*library is then set when a library was loaded for it
// and must be released with library_free afterwards). False when there is
// none; a table with an empty entry counts as none.
bool get_inflater(window_ref main_window, inflate_table* table, library_handle* library);

// The system's zlib: "zlib1.dll" loaded by name on Windows, the zlib the
// build links elsewhere. One implementation is built per platform.
bool get_system_inflater(inflate_table* table, library_handle* library);
