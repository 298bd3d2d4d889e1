// Writing and patching stream pairs: a header (.xsh) of version 0x100 and its
// data file (.xsd), and one record's sound replaced in a pair of any layout
// the reader takes (stream_pair.h).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "containers/container_writer.h"

// Writes the pair to path with the extensions .xsh and .xsd, both whole or
// neither. False with the reason.
bool write_stream_pair(const std::vector<built_entry>& entries, uint32_t alignment, const std::string& path,
                       bool keep_existing, std::string* error);
// Replaces record's sound (counted from 1) in a pair's header and data. The
// alignment is inferred from the offsets (a pair states none). False with
// the reason.
bool patch_pair_entry(std::vector<uint8_t>* header, std::vector<uint8_t>* data, int32_t record,
                      const built_entry& sound, std::string* error);
