// Packing a bank as a .zwb holds it, and unpacking one whole for patching.
#pragma once

#include <stdint.h>

#include <vector>

// zlib-packs a bank: four bytes no reader looks at, the inflated size, then
// the zlib stream. False when zlib fails.
bool compress_bank(const std::vector<uint8_t>& bank, std::vector<uint8_t>* packed);
// Inflates a .zwb's stream whole; false when it is damaged or not a .zwb.
bool inflate_bank(const std::vector<uint8_t>& packed, std::vector<uint8_t>* bank);
