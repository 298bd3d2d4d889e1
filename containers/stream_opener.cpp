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

enum container_kind {
    CONTAINER_WAVE_OR_RAW,
    CONTAINER_WAVE_BANK,          // "WBND" at offset 0
    CONTAINER_WRAPPED_WAVE_BANK,  // "HVSIWBA\0" at offset 0, the bank at 4096
};

// Reads the first 8 bytes. Only delivered bytes are compared, so a file
// shorter than a magic never matches it; "WBND" is tested first.
container_kind leading_bytes_kind(byte_source* source) {
    uint8_t lead[8] = {};
    source_seek(source, 0);
    int32_t delivered = source_read(source, lead, (int32_t)sizeof lead);
    if (delivered >= 4 && memcmp(lead, WAVE_BANK_MAGIC, 4) == 0) return CONTAINER_WAVE_BANK;
    if (delivered >= 8 && memcmp(lead, CONTAINER_MAGIC, 8) == 0) return CONTAINER_WRAPPED_WAVE_BANK;
    return CONTAINER_WAVE_OR_RAW;
}

void read_by_leading_bytes(byte_source* source, stream_description* description) {
    switch (leading_bytes_kind(source)) {
    case CONTAINER_WAVE_BANK:
        description->data_length = read_wave_bank(source, 0, description);
        return;
    case CONTAINER_WRAPPED_WAVE_BANK:
        description->data_length = read_wave_bank(source, CONTAINER_BANK_BASE, description);
        return;
    case CONTAINER_WAVE_OR_RAW:
        break;
    }
    description->data_length = open_wave_or_raw(source, description);
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
void describe_compressed_bank(const char* path, file_handle file, window_ref host_window,
                              stream_description* description) {
    compressed_view view;
    open_compressed_view(path, file, host_window, &view);
    read_by_leading_bytes(&view.source, description);
    description->compressed = !view.not_inflated;
    if (view.not_inflated) description->notices |= NOTICE_NOT_INFLATED;
    if (view.source.fell_short) description->notices |= NOTICE_NOT_DESCRIBED;
    close_compressed_view(&view);
}

}  // namespace

file_handle open_stream(const char* path, file_handle file, window_ref host_window, stream_description* description) {
    bool header_chosen = false;
    if (is_stream_pair_name(path, &header_chosen)) {
        file_handle data = open_stream_pair(path, file, header_chosen, description);
        if (data != INVALID_FILE) return data;
        // No partner: the chosen file is played as whatever its bytes make it.
    } else if (path_extension_is(path, "zwb")) {
        // The inflated bank, or the compressed file itself when no inflation
        // can be had; either goes through the leading-bytes test from 0.
        file = open_compressed_bank(path, file, host_window, description);
        if (file == INVALID_FILE) {
            description->refusal = REFUSED_UNREADABLE;
            description->data_length = -1;
            return file;
        }
    }
    read_file_by_leading_bytes(file, description);
    return file;
}

bool describe_stream(const char* path, window_ref host_window, stream_description* description) {
    file_handle file = file_open_read(path);
    if (file == INVALID_FILE) return false;
    bool header_chosen = false;
    if (is_stream_pair_name(path, &header_chosen)) {
        file_handle data = open_stream_pair(path, file, header_chosen, description);
        if (data != INVALID_FILE) {
            file_close(data);
            return true;
        }
        read_file_by_leading_bytes(file, description);
    } else if (path_extension_is(path, "zwb")) {
        describe_compressed_bank(path, file, host_window, description);
    } else {
        read_file_by_leading_bytes(file, description);
    }
    file_close(file);
    return true;
}
