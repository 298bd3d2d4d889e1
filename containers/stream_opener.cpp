// The stream opener: starts every item from the default stream fields, picks
// the reader for a file by its extension and then by its leading bytes, and
// hands back the file to play with the length of its sound data.

#include "containers/stream_opener.h"

#include <string.h>

#include "containers/compressed_bank.h"
#include "containers/riff_wave.h"
#include "containers/stream_pair.h"
#include "containers/wave_bank.h"
#include "player/player_state.h"

namespace {

enum extension_kind {
    EXTENSION_OTHER,
    EXTENSION_COMPRESSED_BANK,  // ".zwb"
    EXTENSION_STREAM_HEADER,    // ".xsh"
    EXTENSION_STREAM_DATA,      // ".xsd"
};

enum container_kind {
    CONTAINER_WAVE_OR_RAW,
    CONTAINER_WAVE_BANK,          // "WBND" at offset 0
    CONTAINER_WRAPPED_WAVE_BANK,  // "HVSIWBA\0" at offset 0, the bank at 4096
};

bool equals_ignoring_case(const char* text, const char* lower) {
    for (; *lower; ++text, ++lower) {
        char c = *text;
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        if (c != *lower) return false;
    }
    return *text == '\0';
}

// The whole text after the last '.' of the path decides. When that dot lies in
// a folder name, the text holds a separator and so matches no extension.
extension_kind path_extension_kind(const char* path) {
    const char* dot = strrchr(path, '.');
    if (!dot) return EXTENSION_OTHER;
    const char* extension = dot + 1;
    if (equals_ignoring_case(extension, "zwb")) return EXTENSION_COMPRESSED_BANK;
    if (equals_ignoring_case(extension, "xsh")) return EXTENSION_STREAM_HEADER;
    if (equals_ignoring_case(extension, "xsd")) return EXTENSION_STREAM_DATA;
    return EXTENSION_OTHER;
}

// Reads the first 8 bytes and rewinds. Only delivered bytes are compared, so
// a file shorter than a magic never matches it; "WBND" is tested first.
container_kind leading_bytes_kind(file_handle file) {
    uint8_t lead[8] = {};
    int32_t delivered = file_read(file, lead, (int32_t)sizeof lead);
    file_seek(file, 0);
    if (delivered >= 4 && memcmp(lead, WAVE_BANK_MAGIC, 4) == 0) return CONTAINER_WAVE_BANK;
    if (delivered >= 8 && memcmp(lead, CONTAINER_MAGIC, 8) == 0) return CONTAINER_WRAPPED_WAVE_BANK;
    return CONTAINER_WAVE_OR_RAW;
}

int32_t read_by_leading_bytes(file_handle file) {
    switch (leading_bytes_kind(file)) {
    case CONTAINER_WAVE_BANK:
        return read_wave_bank(file, 0);
    case CONTAINER_WRAPPED_WAVE_BANK:
        return read_wave_bank(file, CONTAINER_BANK_BASE);
    case CONTAINER_WAVE_OR_RAW:
        break;
    }
    return open_wave_or_raw(file);
}

}  // namespace

file_handle open_stream(char* path, file_handle file, int32_t* length) {
    store_relaxed(player_state.sample_rate, DEFAULT_SAMPLE_RATE);
    store_relaxed(player_state.channels, DEFAULT_CHANNELS);
    player_state.data_start = 0;
    release_entry_table();

    extension_kind extension = path_extension_kind(path);
    switch (extension) {
    case EXTENSION_STREAM_HEADER:
    case EXTENSION_STREAM_DATA: {
        bool header_chosen = extension == EXTENSION_STREAM_HEADER;
        file_handle data = open_stream_pair(path, file, header_chosen, length);
        if (data != INVALID_FILE) return data;
        // No partner: the chosen file is played as whatever its bytes make it.
        break;
    }
    case EXTENSION_COMPRESSED_BANK:
        // The inflated bank, or the compressed file itself when no inflation
        // can be had; either goes through the leading-bytes test from 0.
        file = open_compressed_bank(path, file);
        if (file == INVALID_FILE) {
            *length = -1;
            return file;
        }
        file_seek(file, 0);
        break;
    case EXTENSION_OTHER:
        break;
    }

    *length = read_by_leading_bytes(file);
    return file;
}
