// Writing and patching wave banks: version-3 banks (.xwb) for the Xbox, the
// same behind the 4096-byte container (.wba), version-46 banks for Windows
// (and, big-endian, the Xbox 360), and one record's sound replaced in a bank
// of any version the reader takes, in the reader's layout (wave_bank.h).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "containers/container_writer.h"

// Who a bank is written for: an Xbox bank of version 3, or a bank of
// content version 46 (header version 44), little-endian for Windows or
// big-endian for the Xbox 360 (whose 16-bit PCM the entries hold big-endian).
enum bank_platform { BANK_FOR_XBOX, BANK_FOR_WINDOWS, BANK_FOR_XBOX360 };

// A bank laid out in memory, for the compressed kind and tests.
std::vector<uint8_t> built_bank_bytes(const std::vector<built_entry>& entries, const std::string& bank_name,
                                      uint32_t alignment, std::string* error,
                                      bank_platform platform = BANK_FOR_XBOX);
// Writes a bank to path, behind the container's 4096 bytes when
// in_container. False with the reason, leaving nothing.
bool write_wave_bank(const std::vector<built_entry>& entries, const std::string& bank_name, uint32_t alignment,
                     bool in_container, const std::string& path, bool keep_existing, std::string* error,
                     bank_platform platform = BANK_FOR_XBOX);
// Replaces record's sound (counted from 1) in the bank whose header starts
// at base in *file: versions 0 to 3 with full or compact records, and
// version 1. The sound after it moves to the next aligned offset, and every
// offset and region pointing there moves with it. False with the reason.
bool patch_bank_entry(std::vector<uint8_t>* file, size_t base, int32_t record, const built_entry& sound,
                      std::string* error);
