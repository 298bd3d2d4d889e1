// The one road from a file name into the containers: picks a reader by the
// extension and then by the file's first bytes, and fills a description the
// caller owns. Play opens files to play them; the playlist and the tolvane
// tool describe files without playing them.
#pragma once

#include <stdint.h>

#include "containers/stream_description.h"
#include "platform/platform.h"

// path names the file chosen; file is the file opened from it, at offset 0;
// description is empty (description_init). Fills the description (its
// data_length negative to refuse the file) and returns the file that playback
// is to read: file itself, or the data file of a stream pair, or the cache
// file of a compressed bank; the other is closed. A stream pair's partner
// extension is left in the description for the caller's path. host_window is
// asked for the player's inflater.
file_handle open_stream(const char* path, file_handle file, window_ref host_window, stream_description* description);

// Describes the file at path as open_stream would, opening and closing what
// it needs and writing nothing anywhere: a compressed bank without its cache
// file is inflated in memory as far as its reader looks. False when the file
// cannot be opened.
bool describe_stream(const char* path, window_ref host_window, stream_description* description);
