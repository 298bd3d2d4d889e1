// Stream pairs: a stream header file (.xsh) listing the entries and a stream
// data file (.xsd) holding their sound, found from each other by extension.
#pragma once

#include <stdint.h>

#include "containers/stream_description.h"
#include "platform/platform.h"

const int32_t STREAM_HEADER_RECORD_BYTES = 100;

// Reads the header's entries into description's entry table, keeping only
// records with a playable format and noting the others. Moves the header's
// position; does not close it.
void read_stream_header(file_handle header, stream_description* description);

// The pair road of the opener for a path whose extension is "xsh" (chosen is
// the header) or "xsd" (chosen is the data file). Opens the partner, named by
// the path with the partner's extension (description->partner_extension,
// written whether or not the partner opens), reads the header into the
// description and returns the data file with its size as data_length;
// exactly one of the two files is then left open. When no partner can be
// opened it returns INVALID_FILE, leaves chosen open and notes the missing
// partner, and the opener goes on with chosen.
file_handle open_stream_pair(const char* path, file_handle chosen, bool header_chosen,
                             stream_description* description);

// path with its last extension (three characters after the last dot)
// replaced by extension, in new memory the caller frees; null without memory.
char* with_extension(const char* path, const char* extension);
