// Stream pairs written and patched in the reader's layout.

#include "containers/stream_pair_writer.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "codec/little_endian.h"
#include "containers/output_file.h"
#include "containers/riff_wave_writer.h"
#include "containers/stream_pair.h"

namespace {

typedef std::vector<uint8_t> bytes;

const uint32_t LARGEST_INFERRED_ALIGNMENT = 2048;

// A record's wave format: the content of the "fmt " chunk a WAVE of the
// entry would have (after "RIFF", size, "WAVE", "fmt " and its size).
void put_format(uint8_t* at, const built_entry& entry) {
    wave_shape shape = entry.codec == CODEC_XBOX_ADPCM
                           ? adpcm_shape(entry.rate, entry.channels)
                           : pcm_shape(entry.rate, entry.channels, entry.codec == CODEC_PCM8 ? 8 : 16);
    bytes head = wave_head(shape, 0, 0);
    memcpy(at, &head[20], read_u32le(&head[16]));
}

// A stream header of version 0x100: 100-byte records with names, and a
// format record for each entry. Only a loop over the whole entry can be
// said: the header flags the entry as looping whole.
bytes pair_header(const std::vector<built_entry>& entries, const std::vector<uint64_t>& offsets) {
    bytes header;
    append_u32le(header, STREAM_HEADER_VERSION_100);
    append_u32le(header, 0);
    append_u32le(header, (uint32_t)entries.size());
    const stream_record_layout& layout = stream_record_layout_of(STREAM_HEADER_VERSION_100, 0xffffffffu);
    for (size_t i = 0; i < entries.size(); ++i) {
        const built_entry& entry = entries[i];
        size_t start = header.size();
        header.resize(start + (size_t)layout.record_bytes, 0);
        uint8_t* record = &header[start];
        memcpy(record + layout.name_at, entry.name.data(), text_field_kept(entry.name, STREAM_HEADER_NAME_BYTES));
        bool loops_whole = entry.loop_start == 0 && entry.loop_end == entry.frames();
        write_u32le(record + layout.type_at, STREAM_ENTRY_HAS_SOUND);
        write_u32le(record + layout.offset_at, (uint32_t)offsets[i]);
        write_u32le(record + layout.length_at, (uint32_t)entry.sound_bytes());
        write_u32le(record + layout.flags_at, loops_whole ? STREAM_ENTRY_LOOPS : 0);
        write_u32le(record + layout.frames_at, (uint32_t)entry.frames());
        put_format(record + layout.format_at, entry);
    }
    return header;
}

// The largest power of two up to 2048 that every offset is a multiple of: a
// stream pair states no alignment.
uint32_t inferred_alignment(const std::vector<uint32_t>& offsets) {
    uint32_t alignment = LARGEST_INFERRED_ALIGNMENT;
    for (uint32_t offset : offsets)
        while (alignment > 1 && offset % alignment != 0) alignment /= 2;
    return alignment;
}

}  // namespace

bool write_stream_pair(const std::vector<built_entry>& entries, uint32_t alignment, const std::string& path,
                       bool keep_existing, std::string* error) {
    uint64_t length = 0;
    std::vector<uint64_t> offsets = sound_offsets(entries, alignment, &length);
    output_file data;
    if (!output_create(&data, with_extension(path, "xsd")) || !write_sound_region(entries, offsets, &data, error))
        return discard_with_reason(&data, error);
    output_file header;
    bytes header_bytes = pair_header(entries, offsets);
    if (!output_create(&header, with_extension(path, "xsh")) ||
        !output_write(&header, header_bytes.data(), header_bytes.size())) {
        output_discard(&data);
        return discard_with_reason(&header, error);
    }
    // Both files change, or neither does.
    size_t failed = 0;
    if (output_finish_together({&data, &header}, keep_existing, &failed)) return true;
    if (error->empty()) *error = (failed == 0 ? data : header).error;
    return false;
}

bool patch_pair_entry(bytes* header, bytes* data, int32_t record, const built_entry& sound, std::string* error) {
    bytes& h = *header;
    if (h.size() < (size_t)STREAM_HEADER_RECORDS_AT) return refuse(error, "its header is cut short");
    uint32_t version = read_u32le(&h[STREAM_HEADER_VERSION_AT]);
    uint32_t first_word =
        h.size() >= (size_t)STREAM_HEADER_RECORDS_AT + 4 ? read_u32le(&h[STREAM_HEADER_RECORDS_AT]) : 0;
    const stream_record_layout& layout = stream_record_layout_of(version, first_word);
    int32_t count = read_s32le(&h[STREAM_HEADER_COUNT_AT]);
    size_t stride = (size_t)layout.record_bytes;
    if (record > count || (size_t)STREAM_HEADER_RECORDS_AT + stride * (size_t)record > h.size())
        return refuse(error, "no record " + std::to_string(record));
    sound_region_edit e;
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
    uint64_t region_length = 0;
    int64_t shift = splice_sound(&e, index, new_sound, &region_length);
    for (size_t i = 0; i < offset_fields.size(); ++i)
        if (e.offsets[i] >= e.moved_from && i != index)
            write_u32le(&h[offset_fields[i]], (uint32_t)(e.offsets[i] + shift));

    uint8_t* r = &h[(size_t)STREAM_HEADER_RECORDS_AT + stride * index];
    write_u32le(r + layout.length_at, (uint32_t)new_sound.size());
    write_u16le(r + layout.channels_at, sound.channels);
    write_u32le(r + layout.rate_at, sound.rate);
    if (layout.format_at >= 0) put_format(r + layout.format_at, sound);
    if (layout.frames_at >= 0) write_u32le(r + layout.frames_at, (uint32_t)sound.frames());
    if (layout.flags_at >= 0) {
        uint32_t flags = read_u32le(r + layout.flags_at) & ~STREAM_ENTRY_LOOPS;
        if (sound.loop_start == 0 && sound.loop_end == sound.frames()) flags |= STREAM_ENTRY_LOOPS;
        write_u32le(r + layout.flags_at, flags);
    }
    return true;
}
