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
const uint32_t WINDOWS_BANK_VERSION = 46;
const uint32_t WINDOWS_HEADER_VERSION = 44;

// What differs between an Xbox bank and a Windows or Xbox 360 one.
struct bank_shape {
    int region_count;
    uint32_t header_bytes;
    uint32_t data_bytes;
    uint32_t name_bytes;
    const record_layout* record;
};
const bank_shape XBOX_SHAPE = {BANK_REGION_COUNT, BANK_HEADER_BYTES, BANK_DATA_BYTES, BANK_NAME_BYTES,
                               &VERSION_2_RECORD};
const bank_shape WINDOWS_SHAPE = {WINDOWS_BANK_REGION_COUNT, 12 + BANK_REGION_BYTES* WINDOWS_BANK_REGION_COUNT,
                                  WINDOWS_BANK_DATA_BYTES, LONGEST_BANK_NAME_BYTES, &WINDOWS_RECORD};

// A record's loop start and length as its layout counts them, in frames or
// in bytes; zeros without a loop.
void loop_fields(const record_layout& layout, const built_entry& entry, uint32_t fields[2]) {
    bool looped = entry.loop_start >= 0 && entry.loop_end > entry.loop_start;
    int64_t start = !looped ? 0 : layout.loops_in_frames ? entry.loop_start : entry.bytes_at(entry.loop_start);
    int64_t end = !looped ? 0 : layout.loops_in_frames ? entry.loop_end : entry.bytes_at(entry.loop_end);
    fields[0] = (uint32_t)start;
    fields[1] = (uint32_t)(end - start);
}

void append_field(bytes& out, uint32_t value, bool big_endian) {
    if (!big_endian) return append_u32le(out, value);
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back((uint8_t)(value >> shift));
}

// The seek table region of a Windows bank: one offset per record (-1 for
// none) counted from the end of that array, then each table as its count
// and values. Empty when no entry has a table.
bytes seek_tables(const std::vector<built_entry>& entries, bool big_endian) {
    bool any = false;
    for (const built_entry& entry : entries) any = any || !entry.seek_table.empty();
    if (!any) return {};
    bytes offsets, tables;
    for (const built_entry& entry : entries) {
        append_field(offsets, entry.seek_table.empty() ? 0xffffffffu : (uint32_t)tables.size(), big_endian);
        if (entry.seek_table.empty()) continue;
        append_field(tables, (uint32_t)entry.seek_table.size(), big_endian);
        for (uint32_t value : entry.seek_table) append_field(tables, value, big_endian);
    }
    offsets.insert(offsets.end(), tables.begin(), tables.end());
    return offsets;
}

// Everything of a bank in front of its sound region, which starts at
// *sound_at (aligned), and the sound's offsets.
bytes bank_head(const std::vector<built_entry>& entries, const std::string& bank_name, uint32_t alignment,
                bank_platform platform, std::vector<uint64_t>* offsets, uint64_t* sound_at, uint64_t* sound_length) {
    bool windows = platform != BANK_FOR_XBOX;
    bool be = platform == BANK_FOR_XBOX360;
    const bank_shape& shape = windows ? WINDOWS_SHAPE : XBOX_SHAPE;
    uint32_t count = (uint32_t)entries.size();
    uint32_t records_at = shape.header_bytes + shape.data_bytes;
    bytes seeks = windows ? seek_tables(entries, be) : bytes();
    uint32_t seeks_at = records_at + BANK_RECORD_BYTES * count;
    uint32_t names_at = seeks_at + (uint32_t)seeks.size();
    uint32_t names_bytes = BANK_ENTRY_NAME_BYTES * count;
    *sound_at = aligned_offset(names_at + names_bytes, alignment);
    *offsets = sound_offsets(entries, alignment, sound_length);

    bytes head(be ? WAVE_BANK_MAGIC_BIG_ENDIAN : WAVE_BANK_MAGIC,
               (be ? WAVE_BANK_MAGIC_BIG_ENDIAN : WAVE_BANK_MAGIC) + 4);
    append_field(head, windows ? WINDOWS_BANK_VERSION : BANK_VERSION, be);
    if (windows) append_field(head, WINDOWS_HEADER_VERSION, be);
    // In a Windows bank's order; an Xbox bank has no seek table region.
    const uint32_t regions[WINDOWS_BANK_REGION_COUNT][2] = {{shape.header_bytes, shape.data_bytes},
                                                            {records_at, BANK_RECORD_BYTES * count},
                                                            {seeks_at, (uint32_t)seeks.size()},
                                                            {names_at, names_bytes},
                                                            {(uint32_t)*sound_at, (uint32_t)*sound_length}};
    for (int r = 0; r < WINDOWS_BANK_REGION_COUNT; ++r) {
        if (r == WINDOWS_REGION_SEEK_TABLES && !windows) continue;
        append_field(head, regions[r][0], be);
        append_field(head, regions[r][1], be);
    }
    append_field(head, BANK_FLAG_ENTRY_NAMES | (seeks.empty() ? 0 : BANK_FLAG_SEEK_TABLES), be);
    append_field(head, count, be);
    append_text_field(head, bank_name, shape.name_bytes);
    append_field(head, BANK_RECORD_BYTES, be);
    append_field(head, BANK_ENTRY_NAME_BYTES, be);
    append_field(head, alignment, be);
    append_field(head, 0, be);   // the compact format word, for compact banks only
    head.resize(records_at, 0);  // a Windows bank's build time: none
    for (size_t i = 0; i < entries.size(); ++i) {
        const built_entry& entry = entries[i];
        entry_codec codec = entry.codec == CODEC_PCM16_BE ? CODEC_PCM16 : entry.codec;
        uint32_t duration = windows ? (uint32_t)entry.frames() << WINDOWS_RECORD_DURATION_SHIFT : 0;
        uint32_t loop[2];
        loop_fields(*shape.record, entry, loop);
        append_field(head, duration, be);  // and no flags
        append_field(head, pack_format(*shape.record, codec, entry.channels, entry.rate, entry.block_field), be);
        append_field(head, (uint32_t)(*offsets)[i], be);
        append_field(head, (uint32_t)entry.sound_bytes(), be);
        append_field(head, loop[0], be);
        append_field(head, loop[1], be);
    }
    head.insert(head.end(), seeks.begin(), seeks.end());
    for (const built_entry& entry : entries) append_text_field(head, entry.name, BANK_ENTRY_NAME_BYTES);
    head.resize((size_t)*sound_at, 0);
    return head;
}

}  // namespace

bytes built_bank_bytes(const std::vector<built_entry>& entries, const std::string& bank_name, uint32_t alignment,
                       std::string* error, bank_platform platform) {
    std::vector<uint64_t> offsets;
    uint64_t sound_at = 0;
    uint64_t sound_length = 0;
    bytes bank = bank_head(entries, bank_name, alignment, platform, &offsets, &sound_at, &sound_length);
    for (size_t i = 0; i < entries.size(); ++i) {
        bank.resize((size_t)(sound_at + offsets[i]), 0);
        if (!append_entry_sound(entries[i], &bank, error)) return {};
    }
    return bank;
}

bool write_wave_bank(const std::vector<built_entry>& entries, const std::string& bank_name, uint32_t alignment,
                     bool in_container, const std::string& path, bool keep_existing, std::string* error,
                     bank_platform platform) {
    std::vector<uint64_t> offsets;
    uint64_t sound_at = 0;
    uint64_t sound_length = 0;
    bytes head = bank_head(entries, bank_name, alignment, platform, &offsets, &sound_at, &sound_length);
    output_file out;
    if (!output_create(&out, path)) return discard_with_reason(&out, error);
    if (in_container) {
        bytes container(CONTAINER_BANK_BASE, 0);
        memcpy(container.data(), CONTAINER_MAGIC, sizeof CONTAINER_MAGIC);
        if (!output_write(&out, container.data(), container.size())) return discard_with_reason(&out, error);
    }
    if (!output_write(&out, head.data(), head.size()) || !write_sound_region(entries, offsets, &out, error) ||
        !output_finish(&out, keep_existing))
        return discard_with_reason(&out, error);
    return true;
}

namespace {

// Every record's sound offset, from the sound region's start.
std::vector<uint32_t> record_offsets(const bytes& f, const wave_bank_plan& plan) {
    std::vector<uint32_t> offsets;
    for (uint32_t i = 0; i < plan.record_count; ++i) {
        size_t at = (size_t)plan.first_record + (size_t)plan.stride * i;
        if (plan.compact)
            offsets.push_back((read_u32le(&f[at]) & COMPACT_OFFSET_MASK) * plan.alignment);
        else
            offsets.push_back(read_u32le(&f[at + plan.layout->offset_at]));
    }
    return offsets;
}

}  // namespace

// Every layout the reader plans: version 1 and versions 0, 2 and 3, full or
// compact records. The sound is spliced in; the records and regions after it
// move with it.
bool patch_bank_entry(bytes* file, size_t base, int32_t record, const built_entry& sound, std::string* error) {
    bytes& f = *file;
    stream_description description;
    description_init(&description);
    description.bank_base = (int32_t)base;
    byte_source source = source_of_memory(f.data(), (int64_t)f.size());
    wave_bank_plan plan;
    bool planned = plan_wave_bank(&source, &description, &plan);
    uint32_t declared = description.declared_records;
    bool cut_short = (description.notices & NOTICE_HEADER_CUT_SHORT) != 0;
    description_release(&description);
    if (cut_short) return refuse(error, "its header is cut short");
    if (!planned) return refuse(error, "not a wave bank it can edit");
    if (plan.big_endian) return refuse(error, "an Xbox 360 bank is read, not edited");
    const record_layout& layout = *plan.layout;
    uint32_t index = (uint32_t)record - 1;
    if (!plan.compact && plan.stride < layout.record_bytes)
        return refuse(error, "records of " + std::to_string(plan.stride) + " bytes hold no loop to replace");
    if (index >= plan.record_count || plan.record_count < declared ||
        plan.first_record + (int64_t)plan.stride * declared > (int64_t)f.size() ||
        plan.sound_origin > (int64_t)f.size())
        return refuse(error, "no record " + std::to_string(record));
    uint32_t format = pack_format(layout, sound.codec, sound.channels, sound.rate, sound.block_field);
    if (plan.compact && (plan.compact_format & ~0x80000000u) != (format & ~0x80000000u))
        return refuse(error, "a compact bank's entries share one format, and the new sound's is another");

    sound_region_edit e;
    e.sound_file = file;
    e.sound_at = (size_t)plan.sound_origin;
    e.sound_length = plan.regions_at < 0 ? f.size() - e.sound_at : plan.sound_length;
    e.alignment = std::max<uint32_t>(plan.alignment, 1);
    e.offsets = record_offsets(f, plan);
    bytes new_sound;
    if (!append_entry_sound(sound, &new_sound, error)) return false;
    uint32_t start = e.offsets[index];
    uint64_t region_length = 0;
    int64_t shift = splice_sound(&e, index, new_sound, &region_length);
    if (region_length > 0xffffffffu) return refuse(error, "the bank would outgrow 4 GiB");

    // Records that lay at or after the sound that moved move with it.
    for (uint32_t i = 0; i < plan.record_count; ++i) {
        size_t at = (size_t)plan.first_record + (size_t)plan.stride * i;
        bool moved = e.offsets[i] >= e.moved_from && i != index;
        if (plan.compact) {
            uint32_t word = read_u32le(&f[at]);
            uint32_t units = (word & COMPACT_OFFSET_MASK) + (moved ? (uint32_t)(shift / (int64_t)e.alignment) : 0);
            uint32_t deviation = word >> COMPACT_DEVIATION_SHIFT;
            if (i == index)
                deviation = e.moved_from >= e.sound_length
                                ? 0
                                : (uint32_t)(aligned_offset(new_sound.size(), e.alignment) - new_sound.size());
            write_u32le(&f[at], compact_record_word(units, deviation));
        } else if (moved) {
            write_u32le(&f[at + layout.offset_at], (uint32_t)(e.offsets[i] + shift));
        }
    }
    if (!plan.compact) {
        size_t at = (size_t)plan.first_record + (size_t)plan.stride * index;
        write_u32le(&f[at + layout.format_at], format);
        write_u32le(&f[at + layout.length_at], (uint32_t)new_sound.size());
        uint32_t loop[2];
        loop_fields(layout, sound, loop);
        write_u32le(&f[at + layout.loop_start_at], loop[0]);
        write_u32le(&f[at + layout.loop_length_at], loop[1]);
        if (layout.duration_in_flags) {
            uint32_t flags = read_u32le(&f[at + layout.flags_at]) & ((1u << WINDOWS_RECORD_DURATION_SHIFT) - 1);
            write_u32le(&f[at + layout.flags_at], (uint32_t)sound.frames() << WINDOWS_RECORD_DURATION_SHIFT | flags);
        }
    }
    // The new sound is in a codec without seek tables: the record's says none.
    if (plan.seek_tables_at >= 0 && 4ull * index + 4 <= plan.seek_tables_length)
        write_u32le(&f[(size_t)plan.seek_tables_at + 4 * (size_t)index], 0xffffffffu);
    // Regions after the sound that moved, and the sound region's length.
    for (int r = 0; r < plan.region_count; ++r) {
        size_t at = (size_t)plan.regions_at + BANK_REGION_BYTES * (size_t)r;
        uint32_t offset = read_u32le(&f[at]);
        if (r == plan.sound_region)
            write_u32le(&f[at + 4], (uint32_t)region_length);
        else if (base + offset > e.sound_at + start)
            write_u32le(&f[at], (uint32_t)((int64_t)offset + shift));
    }
    return true;
}
