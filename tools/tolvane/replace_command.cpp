// tolvane replace: a bank (.xwb, .wba, .zwb) or stream pair with one
// record's sound replaced and everything else kept: every other record's
// bytes, the names, loops, order, version and alignment. The record gets the
// new sound's format, length and loop; the sound that follows it moves to
// the next aligned offset, and the records pointing there move with it.

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/little_endian.h"
#include "codec/xbox_adpcm.h"
#include "containers/stream_opener.h"
#include "containers/stream_pair.h"
#include "containers/wave_bank.h"
#include "tools/tolvane/bank_builder.h"
#include "tools/tolvane/commands.h"
#include "tools/tolvane/linked_zlib.h"
#include "tools/tolvane/output_file.h"
#include "tools/tolvane/tool_common.h"
#include "tools/tolvane/wave_writer.h"

namespace fs = std::filesystem;

namespace {

typedef std::vector<uint8_t> bytes;

const uint32_t LARGEST_INFERRED_ALIGNMENT = 2048;

// Where the fields of the record being replaced lie, in file bytes.
struct record_fields {
    size_t format_at;  // a full record's format word
    size_t offset_at;
    size_t length_at;
    size_t loop_at;  // loop start, then loop length; 0 without
};

// A bank or pair laid out for editing: the file holding the sound region,
// where that region lies, and how its offsets are stored.
struct editable {
    bytes* sound_file;  // the bank itself, or a pair's data file
    size_t sound_at;    // the region's first byte in sound_file
    uint64_t sound_length;
    uint32_t alignment;
    std::vector<uint32_t> offsets;  // every record's offset, from the region's start
};

uint64_t aligned(uint64_t offset, uint32_t alignment) {
    return alignment > 1 ? (offset + alignment - 1) / alignment * alignment : offset;
}

// The largest power of two up to 2048 that every offset is a multiple of: a
// stream pair states no alignment.
uint32_t inferred_alignment(const std::vector<uint32_t>& offsets) {
    uint32_t alignment = LARGEST_INFERRED_ALIGNMENT;
    for (uint32_t offset : offsets)
        while (alignment > 1 && offset % alignment != 0) alignment /= 2;
    return alignment;
}

// Puts new_sound in place of the record's sound. Returns the shift of the
// sound after it (every record starting there moves by it), writing the new
// region length into *region_length.
int64_t splice(editable* e, size_t record_index, const bytes& new_sound, uint64_t* region_length) {
    uint64_t start = e->offsets[record_index];
    uint64_t next = e->sound_length;
    for (uint32_t offset : e->offsets)
        if (offset > start && offset < next) next = offset;
    bool has_next = next < e->sound_length;
    uint64_t new_next = has_next ? aligned(start + new_sound.size(), e->alignment) : start + new_sound.size();
    bytes& file = *e->sound_file;
    size_t from = e->sound_at + (size_t)start;
    size_t old_end = e->sound_at + (size_t)std::min<uint64_t>(next, file.size() - e->sound_at);
    bytes replaced(new_sound);
    replaced.resize((size_t)(new_next - start), 0);
    file.erase(file.begin() + (long)from, file.begin() + (long)old_end);
    file.insert(file.begin() + (long)from, replaced.begin(), replaced.end());
    int64_t shift = (int64_t)new_next - (int64_t)next;
    *region_length = (uint64_t)((int64_t)e->sound_length + shift);
    return shift;
}

uint32_t loop_field(const built_entry& sound, bool length) {
    if (sound.loop_start < 0) return 0;
    int64_t set_bytes = block_set_bytes(sound.channels);
    int64_t frames = length ? sound.loop_end - sound.loop_start : sound.loop_start;
    return (uint32_t)(frames / SAMPLES_PER_BLOCK * set_bytes);
}

bool fail(std::string* error, const std::string& reason) {
    *error = reason;
    return false;
}

// Versions 0, 2 and 3, full or compact records; and version 1.
bool replace_in_bank(bytes* file, size_t base, int32_t record, const built_entry& sound, std::string* error) {
    bytes& f = *file;
    if (f.size() < base + BANK_REGIONS_AT) return fail(error, "not a wave bank");
    uint32_t version = read_u32le(&f[base + 4]);
    uint32_t index = (uint32_t)record - 1;
    editable e;
    e.sound_file = file;
    std::vector<size_t> offset_fields;  // where each record's offset is stored
    size_t compact_words_at = 0;
    uint32_t compact_stride = 0;
    record_fields fields = {0, 0, 0, 0};
    size_t regions_at = base + BANK_REGIONS_AT;
    if (version == 1) {
        if (f.size() < base + BANK_V1_RECORDS_AT) return fail(error, "its header is cut short");
        uint32_t count = read_u32le(&f[base + BANK_V1_COUNT_AT]);
        size_t records_at = base + BANK_V1_RECORDS_AT;
        e.sound_at = records_at + (size_t)BANK_V1_RECORD_BYTES * count;
        if (e.sound_at > f.size() || index >= count) return fail(error, "no record " + std::to_string(record));
        e.sound_length = f.size() - e.sound_at;
        e.alignment = 1;
        for (uint32_t i = 0; i < count; ++i)
            offset_fields.push_back(records_at + (size_t)BANK_V1_RECORD_BYTES * i + BANK_V1_RECORD_OFFSET_AT);
        size_t at = records_at + (size_t)BANK_V1_RECORD_BYTES * index;
        fields = {at + BANK_V1_RECORD_FORMAT_AT, at + BANK_V1_RECORD_OFFSET_AT, at + BANK_V1_RECORD_LENGTH_AT,
                  at + BANK_V1_RECORD_LOOP_AT};
    } else {
        if (f.size() < base + BANK_HEADER_BYTES) return fail(error, "its header is cut short");
        uint32_t data_at = read_u32le(&f[regions_at + BANK_REGION_BYTES * REGION_BANK_DATA]);
        uint32_t records_offset = read_u32le(&f[regions_at + BANK_REGION_BYTES * REGION_ENTRY_METADATA]);
        if (f.size() < base + (size_t)data_at + BANK_DATA_BYTES) return fail(error, "its bank data is cut short");
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
            return fail(error, "records of " + std::to_string(stride) + " bytes hold no loop to replace");
        if (index >= count || records_at + (uint64_t)stride * count > f.size() || e.sound_at > f.size())
            return fail(error, "no record " + std::to_string(record));
        if (compact) {
            uint32_t shared = read_u32le(data + BANK_DATA_COMPACT_FORMAT_AT);
            uint32_t wanted = bank_format_word(CODEC_XBOX_ADPCM, sound.channels, sound.rate);
            if ((shared & ~0x80000000u) != wanted)
                return fail(error, "a compact bank's entries share one format, and the new sound's is another");
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
    int64_t shift = splice(&e, index, new_sound, &region_length);
    if (region_length > 0xffffffffu) return fail(error, "the bank would outgrow 4 GiB");

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
                deviation = last ? 0 : (uint32_t)(aligned(new_sound.size(), e.alignment) - new_sound.size());
            }
            write_u32le(&f[at], compact_record_word(units, deviation));
        }
    } else if (version == 1) {
        write_u32le(&f[fields.format_at], bank_v1_format_word(CODEC_XBOX_ADPCM, sound.channels, sound.rate));
    } else {
        write_u32le(&f[fields.format_at], bank_format_word(CODEC_XBOX_ADPCM, sound.channels, sound.rate));
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

bool replace_in_pair(bytes* header, bytes* data, int32_t record, const built_entry& sound, std::string* error) {
    bytes& h = *header;
    if (h.size() < (size_t)STREAM_HEADER_RECORDS_AT) return fail(error, "its header is cut short");
    uint32_t version = read_u32le(&h[STREAM_HEADER_VERSION_AT]);
    uint32_t first_word =
        h.size() >= (size_t)STREAM_HEADER_RECORDS_AT + 4 ? read_u32le(&h[STREAM_HEADER_RECORDS_AT]) : 0;
    const stream_record_layout& layout = stream_record_layout_of(version, first_word);
    int32_t count = read_s32le(&h[STREAM_HEADER_COUNT_AT]);
    size_t stride = (size_t)layout.record_bytes;
    if (record > count || (size_t)STREAM_HEADER_RECORDS_AT + stride * (size_t)record > h.size())
        return fail(error, "no record " + std::to_string(record));
    editable e;
    e.sound_file = data;
    e.sound_at = 0;
    e.sound_length = data->size();
    std::vector<size_t> offset_fields;
    for (int32_t i = 0; i < count && (size_t)STREAM_HEADER_RECORDS_AT + stride * (size_t)(i + 1) <= h.size(); ++i) {
        offset_fields.push_back((size_t)STREAM_HEADER_RECORDS_AT + stride * (size_t)i + (size_t)layout.offset_at);
        e.offsets.push_back(read_u32le(&h[offset_fields.back()]));
    }
    e.alignment = inferred_alignment(e.offsets);
    bytes new_sound;
    if (!append_entry_sound(sound, &new_sound, error)) return false;
    size_t index = (size_t)record - 1;
    uint32_t start = e.offsets[index];
    uint64_t next_before = e.sound_length;
    for (uint32_t offset : e.offsets)
        if (offset > start && offset < next_before) next_before = offset;
    uint64_t region_length = 0;
    int64_t shift = splice(&e, index, new_sound, &region_length);
    for (size_t i = 0; i < offset_fields.size(); ++i)
        if (e.offsets[i] >= next_before && i != index)
            write_u32le(&h[offset_fields[i]], (uint32_t)(e.offsets[i] + shift));

    uint8_t* r = &h[(size_t)STREAM_HEADER_RECORDS_AT + stride * index];
    write_u32le(r + layout.length_at, (uint32_t)new_sound.size());
    write_u16le(r + layout.channels_at, sound.channels);
    write_u32le(r + layout.rate_at, sound.rate);
    if (layout.format_at >= 0) write_u16le(r + layout.format_at, XBOX_ADPCM_TAG);
    if (layout.frames_at >= 0) write_u32le(r + layout.frames_at, (uint32_t)sound.frames());
    if (layout.flags_at >= 0) {
        uint32_t flags = read_u32le(r + layout.flags_at) & ~STREAM_ENTRY_LOOPS;
        if (sound.loop_start == 0 && sound.loop_end == sound.frames()) flags |= STREAM_ENTRY_LOOPS;
        write_u32le(r + layout.flags_at, flags);
    }
    return true;
}

bool kept_existing(const command_line& line, const std::string& path) {
    std::error_code probe;
    if (!line.no_clobber || line.in_place || !fs::exists(path, probe)) return false;
    fprintf(stderr, "tolvane: kept %s: it exists (--no-clobber)\n", path.c_str());
    return true;
}

}  // namespace

int run_replace(const command_line& line) {
    const std::string& bank_path = line.files[0];
    const std::string& sound_path = line.files[1];
    int32_t record = atoi(line.entries.c_str());
    stream_description d;
    description_init(&d);
    bool described = describe_stream(bank_path.c_str(), &LINKED_ZLIB, &d);
    stream_kind kind = d.kind;
    bool compressed = d.inflated;
    int32_t base = d.bank_base;
    bool has_record = false;
    for (int32_t i = 0; i < d.record_count; ++i) has_record = has_record || d.records[i].record == record;
    description_release(&d);
    if (!described) return failure("cannot read", bank_path, unreadable_reason(bank_path));
    if (kind != STREAM_BANK && kind != STREAM_PAIR)
        return failure("cannot replace in", bank_path, "not a wave bank or a stream pair");
    if (!has_record) return failure("cannot replace in", bank_path, "no record " + line.entries);

    built_entry sound;
    std::string reason;
    std::string warning;
    if (!read_entry_wave(sound_path, &sound, &reason, &warning)) return failure("cannot read", sound_path, reason);
    std::string misfit = entry_misfit(sound, kind == STREAM_PAIR ? BUILT_PAIR : BUILT_BANK);
    if (!misfit.empty()) return failure("cannot replace with", sound_path, misfit);
    if (!warning.empty() && !line.quiet) warn(sound_path, warning);

    std::string out = line.in_place ? bank_path : line.out;
    if (same_file(out, sound_path)) return failure("cannot replace in", bank_path, out + " is the new sound");
    std::string error;
    if (kind == STREAM_PAIR) {
        std::string header_path = with_extension(bank_path, "xsh");
        std::string data_path = with_extension(bank_path, "xsd");
        bytes header;
        bytes data;
        if (!read_whole_file(header_path.c_str(), &header) || !read_whole_file(data_path.c_str(), &data))
            return failure("cannot read", bank_path, "its pair cannot be read whole");
        if (!replace_in_pair(&header, &data, record, sound, &error))
            return failure("cannot replace in", bank_path, error);
        std::string out_header = with_extension(out, "xsh");
        std::string out_data = with_extension(out, "xsd");
        if (!line.in_place && (same_file(out_header, header_path) || same_file(out_data, data_path)))
            return failure("cannot replace in", bank_path, "-o names the pair itself; give --in-place to rewrite it");
        if (kept_existing(line, out_header)) return EXIT_OK;
        if (!write_output_file(out_data, data.data(), data.size(), line.no_clobber && !line.in_place, &error))
            return failure("cannot write", out_data, error);
        if (!write_output_file(out_header, header.data(), header.size(), line.no_clobber && !line.in_place, &error))
            return failure("cannot write", out_header, error);
        if (!line.quiet) printf("wrote %s and %s\n", out_header.c_str(), out_data.c_str());
        return EXIT_OK;
    }

    bytes file;
    if (!read_whole_file(bank_path.c_str(), &file)) return failure("cannot read", bank_path, "it cannot be read whole");
    bytes bank;
    if (compressed && !inflate_bank(file, &bank))
        return failure("cannot replace in", bank_path, "its zlib stream is damaged");
    bytes& edited = compressed ? bank : file;
    if (!replace_in_bank(&edited, compressed ? 0 : (size_t)base, record, sound, &error))
        return failure("cannot replace in", bank_path, error);
    bytes written;
    if (compressed) {
        if (!compress_bank(bank, &written)) return failure("cannot replace in", bank_path, "zlib cannot pack it");
        // The four bytes in front of the size are the original's.
        memcpy(written.data(), file.data(), 4);
    }
    const bytes& result = compressed ? written : file;
    if (!line.in_place && same_file(out, bank_path))
        return failure("cannot replace in", bank_path, "-o names the bank itself; give --in-place to rewrite it");
    if (kept_existing(line, out)) return EXIT_OK;
    if (!write_output_file(out, result.data(), result.size(), line.no_clobber && !line.in_place, &error))
        return failure("cannot write", out, error);
    if (!line.quiet) printf("wrote %s\n", out.c_str());
    return EXIT_OK;
}
