// The reference wave bank writer (tests and benchmarks only, not product
// code): the header with its four regions (or version 1's header), the bank
// data, the records cut or padded to the element size, the names and the
// entry data, each placed where the design says or right after what came
// before.

#include "reference/bank_writer.h"

#include <string.h>

#include <algorithm>

#include "codec/little_endian.h"

typedef std::vector<uint8_t> bytes;

void put_u16le(bytes& out, uint16_t value) {
    out.resize(out.size() + 2);
    write_u16le(&out[out.size() - 2], value);
}

void put_u32le(bytes& out, uint32_t value) {
    out.resize(out.size() + 4);
    write_u32le(&out[out.size() - 4], value);
}

uint32_t format_word(uint32_t tag, uint32_t channels, uint32_t rate) {
    return tag | channels << 2 | rate << 5;
}

uint32_t format_word_v1(uint32_t tag, uint32_t channels, uint32_t rate, bool pcm16) {
    return (tag & 1) | (channels & 7) << 1 | rate << 4 | (pcm16 ? 0x80000000u : 0);
}

namespace {

const uint8_t RECORD_FILLER = 0xee;
// Records above this size are not padded out: a test with such a size only
// needs the first record to be there.
const uint32_t LARGEST_PADDED_ELEMENT = 4096;

struct bank_layout {
    uint32_t offset[BANK_REGION_COUNT];
    uint32_t length[BANK_REGION_COUNT];
    bytes records;
    bytes names;
};

void put_text(bytes& out, const std::string& text, size_t field_bytes) {
    size_t start = out.size();
    out.resize(start + field_bytes, 0);
    std::copy_n(text.begin(), std::min(text.size(), field_bytes), out.begin() + (long)start);
}

// The bytes of the entry records as the element size lays them out: each
// full record cut or padded to the element size.
bytes entry_records(const wave_bank_design& design) {
    bytes out;
    if (design.compact) {
        for (uint32_t word : design.compact_words) {
            bytes record;
            put_u32le(record, word);
            record.resize(std::max<uint32_t>(design.element_size, BANK_COMPACT_RECORD_BYTES), RECORD_FILLER);
            out.insert(out.end(), record.begin(), record.end());
        }
        return out;
    }
    for (const bank_entry_design& entry : design.entries) {
        bytes record;
        put_u32le(record, entry.flags);
        put_u32le(record, entry.format_word);
        put_u32le(record, entry.play_offset);
        put_u32le(record, entry.play_length);
        put_u32le(record, entry.loop_start);
        put_u32le(record, entry.loop_length);
        if (design.element_size > LARGEST_PADDED_ELEMENT) {
            out.insert(out.end(), record.begin(), record.end());
            break;
        }
        record.resize(design.element_size, RECORD_FILLER);
        out.insert(out.end(), record.begin(), record.end());
    }
    return out;
}

// Names of a hostile size are cut to what a record can be padded to; the
// bank still states the size.
bytes entry_names(const wave_bank_design& design) {
    bytes out;
    if (!design.with_names) return out;
    size_t field_bytes = std::min(design.entry_name_size, LARGEST_PADDED_ELEMENT);
    for (const bank_entry_design& entry : design.entries) put_text(out, entry.name, field_bytes);
    return out;
}

// Each region laid out right after what was written before it, unless the
// design places it; the sound region on the design's alignment.
bank_layout lay_out_bank(const wave_bank_design& design) {
    bank_layout layout = {};
    layout.records = entry_records(design);
    layout.names = entry_names(design);
    const uint32_t content_bytes[BANK_REGION_COUNT] = {BANK_DATA_BYTES, (uint32_t)layout.records.size(),
                                                       (uint32_t)layout.names.size(),
                                                       (uint32_t)design.entry_data.size()};
    uint32_t cursor = BANK_HEADER_BYTES;
    for (int region = 0; region < BANK_REGION_COUNT; ++region) {
        bool placed = design.region_offset[region] != LAID_OUT;
        if (region == REGION_ENTRY_NAMES && !placed && layout.names.empty()) continue;
        if (region == REGION_ENTRY_DATA && !placed && design.alignment > 1)
            cursor = (cursor + design.alignment - 1) / design.alignment * design.alignment;
        layout.offset[region] = placed ? (uint32_t)design.region_offset[region] : cursor;
        layout.length[region] = content_bytes[region];
        if (layout.offset[region] < BANK_WRITER_MAX_BYTES) cursor = layout.offset[region] + content_bytes[region];
    }
    if (design.entry_data_length != LAID_OUT) layout.length[REGION_ENTRY_DATA] = (uint32_t)design.entry_data_length;
    return layout;
}

void place(bytes& file, uint32_t offset, const bytes& content) {
    if (offset >= BANK_WRITER_MAX_BYTES || content.empty()) return;
    if (file.size() < offset + content.size()) file.resize(offset + content.size(), 0);
    std::copy(content.begin(), content.end(), file.begin() + offset);
}

uint32_t declared_count(const wave_bank_design& design) {
    if (design.has_declared_count) return design.declared_count;
    return (uint32_t)(design.compact ? design.compact_words.size() : design.entries.size());
}

// Version 1: the header, the 20-byte records, then the sound.
bytes build_version_1(const wave_bank_design& design) {
    bytes file = {'W', 'B', 'N', 'D'};
    put_u32le(file, 1);
    put_u32le(file, design.flags);
    put_u32le(file, declared_count(design));
    put_text(file, design.bank_name, BANK_NAME_BYTES);
    file.resize(BANK_V1_RECORDS_AT, 0);
    for (const bank_entry_design& entry : design.entries) {
        put_u32le(file, entry.format_word);
        put_u32le(file, entry.play_offset);
        put_u32le(file, entry.play_length);
        put_u32le(file, entry.loop_start);
        put_u32le(file, entry.loop_length);
    }
    file.insert(file.end(), design.entry_data.begin(), design.entry_data.end());
    return file;
}

}  // namespace

bytes build_wave_bank(const wave_bank_design& design) {
    if (design.version == 1) return build_version_1(design);
    bank_layout layout = lay_out_bank(design);
    bytes header = {'W', 'B', 'N', 'D'};
    put_u32le(header, design.version);
    for (int region = 0; region < BANK_REGION_COUNT; ++region) {
        put_u32le(header, layout.offset[region]);
        put_u32le(header, layout.length[region]);
    }
    uint32_t flags = design.flags;
    if (design.with_names) flags |= BANK_FLAG_ENTRY_NAMES;
    if (design.compact) flags |= BANK_FLAG_COMPACT;
    bytes bank_data;
    put_u32le(bank_data, flags);
    put_u32le(bank_data, declared_count(design));
    put_text(bank_data, design.bank_name, BANK_NAME_BYTES);
    put_u32le(bank_data, design.element_size);
    put_u32le(bank_data, design.entry_name_size);
    put_u32le(bank_data, design.alignment);
    put_u32le(bank_data, design.compact_format);

    bytes file;
    place(file, 0, header);
    place(file, layout.offset[REGION_BANK_DATA], bank_data);
    place(file, layout.offset[REGION_ENTRY_METADATA], layout.records);
    place(file, layout.offset[REGION_ENTRY_NAMES], layout.names);
    place(file, layout.offset[REGION_ENTRY_DATA], design.entry_data);
    return file;
}

uint32_t bank_entry_data_offset(const wave_bank_design& design) {
    if (design.version == 1) return BANK_V1_RECORDS_AT + BANK_V1_RECORD_BYTES * (uint32_t)design.entries.size();
    return lay_out_bank(design).offset[REGION_ENTRY_DATA];
}

bytes in_bank_container(const bytes& bank) {
    bytes file = {'H', 'V', 'S', 'I', 'W', 'B', 'A', 0};
    file.resize(CONTAINER_BANK_BASE, 0);
    file.insert(file.end(), bank.begin(), bank.end());
    return file;
}

std::vector<uint8_t> with_big_endian_header(std::vector<uint8_t> bank) {
    if (bank.size() < 8) return bank;
    memcpy(bank.data(), WAVE_BANK_MAGIC_BIG_ENDIAN, 4);
    std::swap(bank[4], bank[7]);
    std::swap(bank[5], bank[6]);
    return bank;
}
