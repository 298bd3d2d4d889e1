// Writing and patching wave banks: version-3 banks (.xwb), the same behind
// the 4096-byte container (.wba), and one record's sound replaced in a bank
// of any version the reader takes, in the reader's layout (wave_bank.h).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "containers/container_writer.h"

// A bank of version 3 laid out in memory, for the compressed kind and tests.
std::vector<uint8_t> built_bank_bytes(const std::vector<built_entry>& entries, const std::string& bank_name,
                                      uint32_t alignment, std::string* error);
// Writes a version-3 bank to path, behind the container's 4096 bytes when
// in_container. False with the reason, leaving nothing.
bool write_wave_bank(const std::vector<built_entry>& entries, const std::string& bank_name, uint32_t alignment,
                     bool in_container, const std::string& path, bool keep_existing, std::string* error);
// Replaces record's sound (counted from 1) in the bank whose header starts
// at base in *file: versions 0 to 3 with full or compact records, and
// version 1. The sound after it moves to the next aligned offset, and every
// offset and region pointing there moves with it. False with the reason.
bool patch_bank_entry(std::vector<uint8_t>* file, size_t base, int32_t record, const built_entry& sound,
                      std::string* error);
