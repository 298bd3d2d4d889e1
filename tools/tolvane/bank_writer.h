// Writing wave banks, for the demo, the tests and the benchmarks: a bank is
// laid out from a design, record by record, with every field the reader
// looks at under the design's control (counts, record sizes and region
// offsets included, so that damaged banks can be made on purpose).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

// Little-endian values appended to a byte vector.
void put_u16le(std::vector<uint8_t>& out, uint16_t value);
void put_u32le(std::vector<uint8_t>& out, uint32_t value);

// Layout: "WBND", version, four regions (offset, length), 40 bytes in all;
// then the bank data (36 bytes: entry count at +4, element size at +24), the
// entry records, and the entry data (region 3), each right after the other
// unless a region offset says otherwise. Offsets are from the bank's start.

const uint32_t BANK_HEADER_BYTES = 40;
const uint32_t BANK_DATA_BYTES = 36;
const uint32_t BANK_ENTRY_BYTES = 24;
// Region offsets and lengths left at this are laid out by the writer.
const int64_t LAID_OUT = -1;
// Content placed at a region offset this far or further is left out, so the
// region points past the end of the file instead of growing it.
const uint32_t BANK_WRITER_MAX_BYTES = 16u << 20;

// The packed format word of an entry record: tag in bits 0-1, channels in
// bits 2-3, rate from bit 5 on (not masked, so larger rates spill over).
uint32_t format_word(uint32_t tag, uint32_t channels, uint32_t rate);

struct bank_entry_design {
    uint32_t format_word;
    uint32_t play_offset;  // from the start of region 3
    uint32_t play_length;
};

struct wave_bank_design {
    std::vector<bank_entry_design> entries;
    // Bytes from one record to the next. Below 24 a record holds only its
    // first element_size bytes; above, it is padded with filler bytes (0xee).
    // Above 4096 only the first record is written (24 bytes): the others
    // would start far beyond any test file.
    uint32_t element_size = BANK_ENTRY_BYTES;
    // The entry count stored in the bank data; entries.size() unless set.
    bool has_declared_count = false;
    uint32_t declared_count = 0;
    uint32_t version = 43;
    int64_t region_offset[4] = {LAID_OUT, LAID_OUT, LAID_OUT, LAID_OUT};
    // Region 3's stored length; the size of entry_data unless set.
    int64_t entry_data_length = LAID_OUT;
    std::vector<uint8_t> entry_data;  // region 3's bytes
};

std::vector<uint8_t> build_wave_bank(const wave_bank_design& design);
// Where the writer puts region 3 (and so each entry's data) in the bank.
uint32_t bank_entry_data_offset(const wave_bank_design& design);
// A container: "HVSIWBA" and a zero byte, zeros up to 4096, then the bank.
std::vector<uint8_t> in_bank_container(const std::vector<uint8_t>& bank);
const size_t BANK_CONTAINER_BASE = 4096;

