// Wave banks: many sounds in one file, described by a table of fixed-size
// entry records. The bank starts at offset 0 ("WBND") or at 4096 behind a
// container header ("HVSIWBA" and a zero byte).
#pragma once

#include <stdint.h>

#include "containers/byte_source.h"
#include "containers/stream_description.h"

// A bank begins with WAVE_BANK_MAGIC; a container with CONTAINER_MAGIC holds
// its bank at CONTAINER_BANK_BASE.
extern const uint8_t WAVE_BANK_MAGIC[4];
extern const uint8_t CONTAINER_MAGIC[8];
const int32_t CONTAINER_BANK_BASE = 4096;
// No real bank comes near this many sounds; the cap bounds the memory and the
// time a hostile entry count can cost.
const uint32_t MAX_BANK_ENTRIES = 1u << 20;
// The format tag of a bank record that holds Xbox ADPCM.
const uint32_t XBOX_ADPCM_ENTRY_TAG = 1;

// Reads the bank at base into description's entry table, keeping the Xbox
// ADPCM entries with a playable format and noting the records it skips.
// Returns the bytes from the first kept entry's start to the last kept
// entry's end (the first one's start becomes data_start), 0 when no entry is
// kept, or -1 when the bytes at base are not "WBND".
int32_t read_wave_bank(byte_source* source, int32_t base, stream_description* description);
