// The one way from a file name into the containers: picks a reader by the
// extension and then by the file's first bytes, and fills a description the
// caller owns. Play opens files to play them; the playlist and the tolvane
// tool describe files without playing them, the same way.
#pragma once

#include <stdint.h>

#include "containers/inflater.h"
#include "containers/stream_description.h"
#include "platform/platform.h"

enum open_purpose {
    OPEN_TO_PLAY,      // a compressed bank is inflated into its cache
    OPEN_TO_DESCRIBE,  // nothing is written anywhere: a bank without cache is inflated in memory
};

// path names the file chosen; file is the file opened from it, at offset 0;
// description is empty (description_init). Fills the description (with its
// refusal when the file would not play). To play, returns the file playback
// is to read: file itself, or the data file of a stream pair, or the cache
// file of a compressed bank; the other is closed. To describe, closes every
// file and returns INVALID_FILE. A stream pair's partner extension is left in
// the description for the caller's path. inflater gives zlib for compressed
// banks.
file_handle open_stream(const char* path, file_handle file, const inflater_source* inflater, open_purpose purpose,
                        stream_description* description);

// Opens the file at path and describes it; false when it cannot be opened.
bool describe_stream(const char* path, const inflater_source* inflater, stream_description* description);
