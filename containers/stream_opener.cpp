// The stream opener: picks the reader for a file by its extension and then by
// its leading bytes, and fills the caller's description.

#include "containers/stream_opener.h"

#include <string.h>

#include "containers/byte_source.h"
#include "containers/compressed_bank.h"
#include "containers/file_names.h"
#include "containers/riff_wave.h"
#include "containers/stream_pair.h"
#include "containers/wave_bank.h"

namespace {

// Reads the first 8 bytes and hands the source to its reader. Only delivered
// bytes are compared, so a file shorter than a magic never matches it;
// "WBND" (or an Xbox 360 bank's "DNBW") is tested first; a container holds its bank at 4096.
void read_by_leading_bytes(byte_source* source, stream_description* description) {
    uint8_t lead[8] = {};
    source_seek(source, 0);
    int32_t delivered = source_read(source, lead, (int32_t)sizeof lead);
    if (delivered >= 4 && (memcmp(lead, WAVE_BANK_MAGIC, 4) == 0 || memcmp(lead, WAVE_BANK_MAGIC_BIG_ENDIAN, 4) == 0)) {
        description->bank_base = 0;
        read_wave_bank(source, description);
    } else if (delivered >= 8 && memcmp(lead, CONTAINER_MAGIC, 8) == 0) {
        description->bank_base = CONTAINER_BANK_BASE;
        read_wave_bank(source, description);
    } else {
        read_wave_or_raw(source, description);
    }
}

void read_file_by_leading_bytes(file_handle file, stream_description* description) {
    byte_source source = source_of_file(file);
    read_by_leading_bytes(&source, description);
}

bool is_stream_pair_name(const char* path, bool* header_chosen) {
    *header_chosen = path_extension_is(path, "xsh");
    return *header_chosen || path_extension_is(path, "xsd");
}

// A compressed bank looked at through its cache file or in memory.
void describe_compressed_bank(const char* path, file_handle file, const inflater_source* inflater,
                              stream_description* description) {
    compressed_view view;
    open_compressed_view(path, file, inflater, &view);
    read_by_leading_bytes(&view.source, description);
    description->inflated = !view.compressed_file;
    if (view.compressed_file) description->notices |= NOTICE_NOT_INFLATED;
    if (view.source.fell_short) description->notices |= NOTICE_NOT_DESCRIBED;
    close_compressed_view(&view);
}

// What the caller gets back: the file to play, or, to describe, nothing.
file_handle handed_back(file_handle file, open_purpose purpose) {
    if (purpose == OPEN_TO_PLAY) return file;
    file_close(file);
    return INVALID_FILE;
}

}  // namespace

file_handle open_stream(const char* path, file_handle file, const inflater_source* inflater, open_purpose purpose,
                        stream_description* description) {
    bool header_chosen = false;
    if (is_stream_pair_name(path, &header_chosen)) {
        file_handle data = open_stream_pair(path, file, header_chosen, description);
        if (data != INVALID_FILE) return handed_back(data, purpose);
        // No partner: the chosen file is played as whatever its bytes make it.
    } else if (path_extension_is(path, "zwb")) {
        if (purpose == OPEN_TO_DESCRIBE) {
            describe_compressed_bank(path, file, inflater, description);
            return handed_back(file, purpose);
        }
        // The inflated bank, or the compressed file itself when no inflation
        // can be had; either goes through the leading-bytes test from 0.
        file = open_compressed_bank(path, file, inflater, description);
        if (file == INVALID_FILE) {
            description->refusal = REFUSED_UNREADABLE;
            return file;
        }
    }
    read_file_by_leading_bytes(file, description);
    return handed_back(file, purpose);
}

bool describe_stream(const char* path, const inflater_source* inflater, stream_description* description) {
    file_handle file = file_open_read(path);
    if (file == INVALID_FILE) return false;
    open_stream(path, file, inflater, OPEN_TO_DESCRIBE, description);
    return true;
}
