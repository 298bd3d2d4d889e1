// Wave banks written and patched in the reader's layout.

#include "containers/wave_bank_writer.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "codec/little_endian.h"
#include "containers/output_file.h"
#include "containers/wave_bank.h"

namespace {

typedef std::vector<uint8_t> bytes;

const uint32_t BANK_VERSION = 3;

// Everything of a version-3 bank in front of its sound region, which starts
// at *sound_at (aligned), and the sound's offsets.
bytes bank_head(const std::vector<built_entry>& entries, const std::string& bank_name, uint32_t alignment,
                std::vector<uint64_t>* offsets, uint64_t* sound_at, uint64_t* sound_length) {
    uint32_t count = (uint32_t)entries.size();
    uint32_t records_at = BANK_HEADER_BYTES + BANK_DATA_BYTES;
    uint32_t names_at = records_at + BANK_RECORD_BYTES * count;
    uint32_t names_bytes = BANK_ENTRY_NAME_BYTES * count;
    *sound_at = aligned_offset(names_at + names_bytes, alignment);
    *offsets = sound_offsets(entries, alignment, sound_length);

    bytes head = {'W', 'B', 'N', 'D'};
    append_u32le(head, BANK_VERSION);
    const uint32_t region[BANK_REGION_COUNT][2] = {{BANK_HEADER_BYTES, BANK_DATA_BYTES},
                                                   {records_at, BANK_RECORD_BYTES * count},
                                                   {names_at, names_bytes},
                                                   {(uint32_t)*sound_at, (uint32_t)*sound_length}};
    for (const auto& r : region) {
        append_u32le(head, r[0]);
        append_u32le(head, r[1]);
    }
    append_u32le(head, BANK_FLAG_ENTRY_NAMES);
    append_u32le(head, count);
    append_text_field(head, bank_name, BANK_NAME_BYTES);
    append_u32le(head, BANK_RECORD_BYTES);
    append_u32le(head, BANK_ENTRY_NAME_BYTES);
    append_u32le(head, alignment);
    append_u32le(head, 0);  // the compact format word, for compact banks only
    for (size_t i = 0; i < entries.size(); ++i) {
        const built_entry& entry = entries[i];
        bool looped = entry.loop_start >= 0 && entry.loop_end > entry.loop_start;
        append_u32le(head, 0);  // flags
        append_u32le(head, bank_format_word(entry.codec, entry.channels, entry.rate));
        append_u32le(head, (uint32_t)(*offsets)[i]);
        append_u32le(head, (uint32_t)entry.sound_bytes());
        append_u32le(head, looped ? (uint32_t)entry.bytes_at(entry.loop_start) : 0);
        append_u32le(head, looped ? (uint32_t)(entry.bytes_at(entry.loop_end) - entry.bytes_at(entry.loop_start)) : 0);
    }
    for (const built_entry& entry : entries) append_text_field(head, entry.name, BANK_ENTRY_NAME_BYTES);
    head.resize((size_t)*sound_at, 0);
    return head;
}

}  // namespace

bytes built_bank_bytes(const std::vector<built_entry>& entries, const std::string& bank_name, uint32_t alignment,
                       std::string* error) {
    std::vector<uint64_t> offsets;
    uint64_t sound_at = 0;
    uint64_t sound_length = 0;
    bytes bank = bank_head(entries, bank_name, alignment, &offsets, &sound_at, &sound_length);
    for (size_t i = 0; i < entries.size(); ++i) {
        bank.resize((size_t)(sound_at + offsets[i]), 0);
        if (!append_entry_sound(entries[i], &bank, error)) return {};
    }
    return bank;
}

bool write_wave_bank(const std::vector<built_entry>& entries, const std::string& bank_name, uint32_t alignment,
                     bool in_container, const std::string& path, bool keep_existing, std::string* error) {
    std::vector<uint64_t> offsets;
    uint64_t sound_at = 0;
    uint64_t sound_length = 0;
    bytes head = bank_head(entries, bank_name, alignment, &offsets, &sound_at, &sound_length);
    output_file out;
    if (!output_create(&out, path)) return discard_with_reason(&out, error);
    if (in_container) {
        bytes container(CONTAINER_BANK_BASE, 0);
        memcpy(container.data(), CONTAINER_MAGIC, sizeof CONTAINER_MAGIC);
        if (!write_bytes(&out, container.data(), container.size())) return discard_with_reason(&out, error);
    }
    if (!write_bytes(&out, head.data(), head.size()) || !write_sound_region(entries, offsets, &out, error) ||
        !output_finish(&out, keep_existing))
        return discard_with_reason(&out, error);
    return true;
}

// Where the fields of the record being replaced lie, in file bytes.
struct record_fields {
    size_t format_at;  // a full record's format word
    size_t offset_at;
    size_t length_at;
    size_t loop_at;  // loop start, then loop length; 0 without
};

// Versions 0, 2 and 3, full or compact records; and version 1.
bool patch_bank_entry(bytes* file, size_t base, int32_t record, const built_entry& sound, std::string* error) {
    bytes& f = *file;
    if (f.size() < base + BANK_REGIONS_AT) return refuse(error, "not a wave bank");
    uint32_t version = read_u32le(&f[base + 4]);
    uint32_t index = (uint32_t)record - 1;
    sound_region_edit e;
    e.sound_file = file;
    std::vector<size_t> offset_fields;  // where each record's offset is stored
    size_t compact_words_at = 0;
    uint32_t compact_stride = 0;
    record_fields fields = {0, 0, 0, 0};
    size_t regions_at = base + BANK_REGIONS_AT;
    if (version == 1) {
        if (f.size() < base + BANK_V1_RECORDS_AT) return refuse(error, "its header is cut short");
        uint32_t count = read_u32le(&f[base + BANK_V1_COUNT_AT]);
        size_t records_at = base + BANK_V1_RECORDS_AT;
        e.sound_at = records_at + (size_t)BANK_V1_RECORD_BYTES * count;
        if (e.sound_at > f.size() || index >= count) return refuse(error, "no record " + std::to_string(record));
        e.sound_length = f.size() - e.sound_at;
        e.alignment = 1;
        for (uint32_t i = 0; i < count; ++i)
            offset_fields.push_back(records_at + (size_t)BANK_V1_RECORD_BYTES * i + BANK_V1_RECORD_OFFSET_AT);
        size_t at = records_at + (size_t)BANK_V1_RECORD_BYTES * index;
        fields = {at + BANK_V1_RECORD_FORMAT_AT, at + BANK_V1_RECORD_OFFSET_AT, at + BANK_V1_RECORD_LENGTH_AT,
                  at + BANK_V1_RECORD_LOOP_AT};
    } else {
        if (f.size() < base + BANK_HEADER_BYTES) return refuse(error, "its header is cut short");
        uint32_t data_at = read_u32le(&f[regions_at + BANK_REGION_BYTES * REGION_BANK_DATA]);
        uint32_t records_offset = read_u32le(&f[regions_at + BANK_REGION_BYTES * REGION_ENTRY_METADATA]);
        if (f.size() < base + (size_t)data_at + BANK_DATA_BYTES) return refuse(error, "its bank data is cut short");
        const uint8_t* data = &f[base + data_at];
        uint32_t flags = read_u32le(data + BANK_DATA_FLAGS_AT);
        uint32_t count = read_u32le(data + BANK_DATA_COUNT_AT);
        uint32_t stride = read_u32le(data + BANK_DATA_RECORD_SIZE_AT);
        e.alignment = std::max<uint32_t>(read_u32le(data + BANK_DATA_ALIGNMENT_AT), 1);
        e.sound_at = base + read_u32le(&f[regions_at + BANK_REGION_BYTES * REGION_ENTRY_DATA]);
        e.sound_length = read_u32le(&f[regions_at + BANK_REGION_BYTES * REGION_ENTRY_DATA + 4]);
        size_t records_at = base + records_offset;
        bool compact = (flags & BANK_FLAG_COMPACT) != 0;
        if (compact) stride = std::max(stride, BANK_COMPACT_RECORD_BYTES);
        if (!compact && stride < BANK_RECORD_BYTES)
            return refuse(error, "records of " + std::to_string(stride) + " bytes hold no loop to replace");
        if (index >= count || records_at + (uint64_t)stride * count > f.size() || e.sound_at > f.size())
            return refuse(error, "no record " + std::to_string(record));
        if (compact) {
            uint32_t shared = read_u32le(data + BANK_DATA_COMPACT_FORMAT_AT);
            uint32_t wanted = bank_format_word(sound.codec, sound.channels, sound.rate);
            if ((shared & ~0x80000000u) != wanted)
                return refuse(error, "a compact bank's entries share one format, and the new sound's is another");
            compact_words_at = records_at;
            compact_stride = stride;
            for (uint32_t i = 0; i < count; ++i)
                e.offsets.push_back((read_u32le(&f[records_at + (size_t)stride * i]) & COMPACT_OFFSET_MASK) *
                                    e.alignment);
        } else {
            for (uint32_t i = 0; i < count; ++i)
                offset_fields.push_back(records_at + (size_t)stride * i + BANK_RECORD_OFFSET_AT);
            size_t at = records_at + (size_t)stride * index;
            fields = {at + BANK_RECORD_FORMAT_AT, at + BANK_RECORD_OFFSET_AT, at + BANK_RECORD_LENGTH_AT,
                      at + BANK_RECORD_LOOP_AT};
        }
    }
    for (size_t at : offset_fields) e.offsets.push_back(read_u32le(&f[at]));

    bytes new_sound;
    if (!append_entry_sound(sound, &new_sound, error)) return false;
    uint32_t start = e.offsets[index];
    uint64_t region_length = 0;
    uint64_t next_before = e.sound_length;
    for (uint32_t offset : e.offsets)
        if (offset > start && offset < next_before) next_before = offset;
    size_t sound_at_before = e.sound_at;
    int64_t shift = splice_sound(&e, index, new_sound, &region_length);
    if (region_length > 0xffffffffu) return refuse(error, "the bank would outgrow 4 GiB");

    // Records, and regions, that lay at or after the sound that moved.
    for (size_t i = 0; i < offset_fields.size(); ++i)
        if (e.offsets[i] >= next_before && i != index)
            write_u32le(&f[offset_fields[i]], (uint32_t)(e.offsets[i] + shift));
    if (compact_words_at) {
        for (size_t i = 0; i < e.offsets.size(); ++i) {
            size_t at = compact_words_at + compact_stride * i;
            uint32_t word = read_u32le(&f[at]);
            uint32_t units = word & COMPACT_OFFSET_MASK;
            if (e.offsets[i] >= next_before && i != index) units += (uint32_t)(shift / (int64_t)e.alignment);
            uint32_t deviation = word >> COMPACT_DEVIATION_SHIFT;
            if (i == index) {
                bool last = next_before >= e.sound_length;
                deviation = last ? 0 : (uint32_t)(aligned_offset(new_sound.size(), e.alignment) - new_sound.size());
            }
            write_u32le(&f[at], compact_record_word(units, deviation));
        }
    } else if (version == 1) {
        write_u32le(&f[fields.format_at], bank_v1_format_word(sound.codec, sound.channels, sound.rate));
    } else {
        write_u32le(&f[fields.format_at], bank_format_word(sound.codec, sound.channels, sound.rate));
    }
    if (!compact_words_at) {
        write_u32le(&f[fields.length_at], (uint32_t)new_sound.size());
        write_u32le(&f[fields.loop_at], loop_field(sound, false));
        write_u32le(&f[fields.loop_at + 4], loop_field(sound, true));
    }
    if (version != 1) {
        write_u32le(&f[regions_at + BANK_REGION_BYTES * REGION_ENTRY_DATA + 4], (uint32_t)region_length);
        for (int region = 0; region < BANK_REGION_COUNT; ++region) {
            size_t at = regions_at + BANK_REGION_BYTES * (size_t)region;
            uint32_t offset = read_u32le(&f[at]);
            if (region != REGION_ENTRY_DATA && base + offset > sound_at_before + start)
                write_u32le(&f[at], (uint32_t)((int64_t)offset + shift));
        }
    }
    return true;
}
