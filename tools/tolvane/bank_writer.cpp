// The wave bank writer: the header with its four regions, the bank data, the
// records cut or padded to the element size, and the entry data, each placed
// where the design says or right after what came before.

#include "tools/tolvane/bank_writer.h"

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

namespace {

const uint8_t RECORD_FILLER = 0xee;
// Records above this size are not padded out: a test with such a size only
// needs the first record to be there.
const uint32_t LARGEST_PADDED_ELEMENT = 4096;

struct bank_layout {
    uint32_t offset[4];
    uint32_t length[4];
    bytes records;
};

// The bytes of the entry records as the element size lays them out: each
// 24-byte record cut or padded to the element size.
bytes entry_records(const wave_bank_design& design) {
    bytes out;
    for (size_t i = 0; i < design.entries.size(); ++i) {
        const bank_entry_design& entry = design.entries[i];
        bytes record;
        // The fields the reader must not look at hold bytes that would show
        // if it did.
        put_u32le(record, 0xa5a50000u + (uint32_t)i);
        put_u32le(record, entry.format_word);
        put_u32le(record, entry.play_offset);
        put_u32le(record, entry.play_length);
        put_u32le(record, 0x5a5a5a5au);
        put_u32le(record, 0xc3c3c3c3u);
        if (design.element_size > LARGEST_PADDED_ELEMENT) {
            out.insert(out.end(), record.begin(), record.end());
            break;
        }
        record.resize(design.element_size, RECORD_FILLER);
        out.insert(out.end(), record.begin(), record.end());
    }
    return out;
}

// Each region laid out right after what was written before it, unless the
// design places it.
bank_layout lay_out_bank(const wave_bank_design& design) {
    bank_layout layout = {};
    layout.records = entry_records(design);
    const uint32_t content_bytes[4] = {BANK_DATA_BYTES, (uint32_t)layout.records.size(), 0,
                                       (uint32_t)design.entry_data.size()};
    uint32_t cursor = BANK_HEADER_BYTES;
    for (int region = 0; region < 4; ++region) {
        bool placed = design.region_offset[region] != LAID_OUT;
        if (region == 2 && !placed) continue;
        layout.offset[region] = placed ? (uint32_t)design.region_offset[region] : cursor;
        layout.length[region] = content_bytes[region];
        if (layout.offset[region] < BANK_WRITER_MAX_BYTES) cursor = layout.offset[region] + content_bytes[region];
    }
    if (design.entry_data_length != LAID_OUT) layout.length[3] = (uint32_t)design.entry_data_length;
    return layout;
}

void place(bytes& file, uint32_t offset, const bytes& content) {
    if (offset >= BANK_WRITER_MAX_BYTES || content.empty()) return;
    if (file.size() < offset + content.size()) file.resize(offset + content.size(), 0);
    std::copy(content.begin(), content.end(), file.begin() + offset);
}

}  // namespace

bytes build_wave_bank(const wave_bank_design& design) {
    bank_layout layout = lay_out_bank(design);
    bytes header = {'W', 'B', 'N', 'D'};
    put_u32le(header, design.version);
    for (int region = 0; region < 4; ++region) {
        put_u32le(header, layout.offset[region]);
        put_u32le(header, layout.length[region]);
    }
    bytes bank_data;
    put_u32le(bank_data, 0x11111111u);
    put_u32le(bank_data, design.has_declared_count ? design.declared_count : (uint32_t)design.entries.size());
    for (int i = 0; i < 4; ++i) put_u32le(bank_data, 0x22222222u);
    put_u32le(bank_data, design.element_size);
    put_u32le(bank_data, 0x33333333u);
    put_u32le(bank_data, 0x44444444u);

    bytes file;
    place(file, 0, header);
    place(file, layout.offset[0], bank_data);
    place(file, layout.offset[1], layout.records);
    place(file, layout.offset[3], design.entry_data);
    return file;
}

uint32_t bank_entry_data_offset(const wave_bank_design& design) {
    return lay_out_bank(design).offset[3];
}

bytes in_bank_container(const bytes& bank) {
    bytes file = {'H', 'V', 'S', 'I', 'W', 'B', 'A', 0};
    file.resize(BANK_CONTAINER_BASE, 0);
    file.insert(file.end(), bank.begin(), bank.end());
    return file;
}

