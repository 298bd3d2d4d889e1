// Stream pairs: a stream header file (.xsh) listing the entries and a stream
// data file (.xsd) holding their sound, found from each other by extension.
// Headers of version 0x9D (96-byte records), 0x100 and 0x101 with names
// (100-byte records) and 0x101 with ids (72-byte records) are read with their
// own layouts; any other version with the 100-byte layout's offset, length,
// channel count and rate only, every entry taken as Xbox ADPCM.
#pragma once

#include <stdint.h>

#include "containers/byte_source.h"
#include "containers/stream_description.h"
#include "platform/platform.h"

// The layout facts the pair writers share with the reader.
const int32_t STREAM_HEADER_VERSION_AT = 0;
const int32_t STREAM_HEADER_COUNT_AT = 8;
const int32_t STREAM_HEADER_RECORDS_AT = 12;
const uint32_t STREAM_HEADER_VERSION_9D = 0x9D;
const uint32_t STREAM_HEADER_VERSION_100 = 0x100;
const uint32_t STREAM_HEADER_VERSION_101 = 0x101;
// A version 0x101 header holds names when its first record's first word is
// above this (text), ids otherwise.
const uint32_t STREAM_HEADER_LARGEST_ID = 0x1000;
const int32_t STREAM_HEADER_NAME_BYTES = 32;
// A record's flags: the entry loops whole; its sound is in an .xss file.
const uint32_t STREAM_ENTRY_LOOPS = 0x1;
const uint32_t STREAM_ENTRY_EXTERNAL = 0x4;
// A record's type: an empty slot, or (any other value) one with sound.
const uint32_t STREAM_ENTRY_EMPTY = 0;
const uint32_t STREAM_ENTRY_HAS_SOUND = 1;

// Where each field of a record lies, -1 for a field the layout lacks.
struct stream_record_layout {
    int32_t record_bytes;
    int32_t name_at;
    int32_t type_at;
    int32_t offset_at;
    int32_t length_at;
    int32_t flags_at;
    int32_t frames_at;
    int32_t format_at;  // a wave format: tag, channels, rate, ..., bits at +14
    int32_t channels_at;
    int32_t rate_at;
};

// The layout a header of this version, whose first record begins with
// first_word, is read with.
const stream_record_layout& stream_record_layout_of(uint32_t version, uint32_t first_word);

// Reads the header's records into description. Moves the source's position.
// Every header can be read (a count that cannot be read is no record): true.
bool read_stream_header(byte_source* header, stream_description* description);

// The opener's way for a stream pair: a path whose extension is "xsh" (chosen is
// the header) or "xsd" (chosen is the data file). Opens the partner, named by
// the path with the partner's extension (description->partner_extension,
// written whether or not the partner opens), reads the header into the
// description and returns the data file with its size as data_length;
// exactly one of the two files is then left open. When no partner can be
// opened it returns INVALID_FILE, leaves chosen open and notes the missing
// partner, and the opener goes on with chosen.
file_handle open_stream_pair(const char* path, file_handle chosen, bool header_chosen, stream_description* description);
