// The tests' and benchmarks' reference wave bank writer, not product code:
// no part of the plug-in or of tolvane links it (tolvane's own banks come
// from tools/tolvane/bank_builder.h). A bank is laid out from a design,
// record by record, with every field the reader looks at under the design's
// control (version, counts, record sizes, region offsets, names, loops and
// compact records), so that the banks games shipped and damaged banks can
// both be made on purpose. Sizes and field places are the reader's own
// constants (containers/wave_bank.h).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "containers/wave_bank.h"

// Little-endian values appended to a byte vector.
void put_u16le(std::vector<uint8_t>& out, uint16_t value);
void put_u32le(std::vector<uint8_t>& out, uint32_t value);

// Region offsets and lengths left at this are laid out by the writer.
const int64_t LAID_OUT = -1;
// Content placed at a region offset this far or further is left out, so the
// region points past the end of the file instead of growing it.
const uint32_t BANK_WRITER_MAX_BYTES = 16u << 20;

// The packed format word of a version 0, 2 or 3 record: tag in bits 0-1,
// channels from bit 2, rate from bit 5 on (not masked, so larger values spill
// over, as damaged banks do).
uint32_t format_word(uint32_t tag, uint32_t channels, uint32_t rate);
// The format word of a version 1 record: tag in bit 0, channels in bits 1-3,
// rate from bit 4, bit 31 set for 16-bit PCM.
uint32_t format_word_v1(uint32_t tag, uint32_t channels, uint32_t rate, bool pcm16 = false);

struct bank_entry_design {
    uint32_t format_word = 0;
    uint32_t play_offset = 0;  // from the start of the sound region
    uint32_t play_length = 0;
    uint32_t flags = 0;        // BANK_ENTRY_IGNORE_LOOP...
    uint32_t loop_start = 0;   // bytes from the entry's start
    uint32_t loop_length = 0;  // 0: no loop
    std::string name;          // written when the design has names

    bank_entry_design() = default;
    bank_entry_design(uint32_t word, uint32_t offset, uint32_t length, uint32_t entry_flags = 0,
                      uint32_t loop_start_bytes = 0, uint32_t loop_length_bytes = 0, std::string entry_name = "")
        : format_word(word),
          play_offset(offset),
          play_length(length),
          flags(entry_flags),
          loop_start(loop_start_bytes),
          loop_length(loop_length_bytes),
          name(std::move(entry_name)) {}
};

struct wave_bank_design {
    std::vector<bank_entry_design> entries;
    // 1 lays the bank out as version 1 (80-byte header, 20-byte records, the
    // sound right after them); every other version as versions 0, 2 and 3.
    uint32_t version = 3;
    uint32_t flags = 0;  // the bank data's flags; names and compact set theirs
    std::string bank_name;
    // Bytes from one record to the next. Below 24 a record holds only its
    // first element_size bytes; above, it is padded with filler bytes (0xee).
    // Above 4096 only the first record is written (24 bytes): the others
    // would start far beyond any test file.
    uint32_t element_size = BANK_RECORD_BYTES;
    // The entry count stored in the bank data; entries.size() unless set.
    bool has_declared_count = false;
    uint32_t declared_count = 0;
    // Region 2 with one name per entry, entry_name_size bytes each.
    bool with_names = false;
    uint32_t entry_name_size = BANK_ENTRY_NAME_BYTES;
    uint32_t alignment = 0;
    // A compact bank: one word per record (compact_record_word), all entries
    // in compact_format; element_size should then be 4.
    bool compact = false;
    uint32_t compact_format = 0;
    std::vector<uint32_t> compact_words;
    int64_t region_offset[BANK_REGION_COUNT] = {LAID_OUT, LAID_OUT, LAID_OUT, LAID_OUT};
    // Region 3's stored length; the size of entry_data unless set.
    int64_t entry_data_length = LAID_OUT;
    std::vector<uint8_t> entry_data;  // the sound region's bytes
};

std::vector<uint8_t> build_wave_bank(const wave_bank_design& design);
// Where the writer puts the sound region (and so each entry's data) in the bank.
uint32_t bank_entry_data_offset(const wave_bank_design& design);
// The bank with the header an Xbox 360 bank begins with: "DNBW" and the
// version big-endian (the rest stays as built).
std::vector<uint8_t> with_big_endian_header(std::vector<uint8_t> bank);
// A container: "HVSIWBA" and a zero byte, zeros up to 4096, then the bank.
std::vector<uint8_t> in_bank_container(const std::vector<uint8_t>& bank);
