// Packing a bank as a .zwb holds it, and unpacking one whole for patching.
#pragma once

#include <stdint.h>

#include <vector>

#include "containers/inflater.h"

// zlib-packs a bank: four bytes no reader looks at, the inflated size, then
// the zlib stream. False when zlib fails.
bool compress_bank(const std::vector<uint8_t>& bank, std::vector<uint8_t>* packed);
// Inflates the .zwb at path whole, as its header states its size, with the
// readers' inflation; false when it is damaged, cut short or not a .zwb.
bool inflate_bank_file(const char* path, const inflater_source* inflater, std::vector<uint8_t>* bank);
