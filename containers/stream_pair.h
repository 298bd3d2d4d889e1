// Stream pairs: a stream header file (.xsh) listing the entries and a stream
// data file (.xsd) holding their sound, found from each other by extension.
#pragma once

#include <stdint.h>

#include "platform/platform.h"

const int32_t STREAM_HEADER_RECORD_BYTES = 100;

// Reads the header's entries into the entry table of player_state, keeping
// only records with a playable format. Moves the header's position; does not
// close it.
void read_stream_header(file_handle header);

// The pair road of the opener for a path whose extension is "xsh" (chosen is
// the header) or "xsd" (chosen is the data file). Rewrites the extension in
// the caller's path buffer to name the partner, opens it, reads the header
// into the entry table and returns the data file with its size in *length;
// exactly one of the two files is then left open. When no partner can be
// opened it returns INVALID_FILE, leaves chosen open and the path naming the
// partner, and the opener goes on with chosen.
file_handle open_stream_pair(char* path, file_handle chosen, bool header_chosen, int32_t* length);
