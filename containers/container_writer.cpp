// The entries, the choice of writer, and the parts every writer shares.

#include "containers/container_writer.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "codec/little_endian.h"
#include "containers/compressed_bank_writer.h"
#include "containers/file_names.h"
#include "containers/output_file.h"
#include "containers/riff_wave_writer.h"
#include "containers/stream_pair.h"
#include "containers/stream_pair_writer.h"
#include "containers/wave_bank.h"
#include "containers/wave_bank_writer.h"

namespace {

const size_t COPY_BYTES = 1 << 20;

bool write_zeros(output_file* out, uint64_t byte_count) {
    static const uint8_t zeros[4096] = {};
    while (byte_count > 0) {
        size_t now = (size_t)std::min<uint64_t>(byte_count, sizeof zeros);
        if (!output_write(out, zeros, now)) return false;
        byte_count -= now;
    }
    return true;
}

// An entry's sound into out, from memory or copied from its file.
bool write_sound(const built_entry& entry, output_file* out, std::string* error) {
    if (entry.source_path.empty()) return output_write(out, entry.adpcm.data(), entry.adpcm.size());
    FILE* in = fopen(entry.source_path.c_str(), "rb");
    bool copied = in && fseek(in, (long)entry.source_offset, SEEK_SET) == 0;
    std::vector<uint8_t> buffer(COPY_BYTES);
    int64_t left = entry.source_bytes;
    while (copied && left > 0) {
        size_t now = (size_t)std::min<int64_t>(left, (int64_t)COPY_BYTES);
        copied = fread(buffer.data(), 1, now, in) == now && output_write(out, buffer.data(), now);
        left -= (int64_t)now;
    }
    if (in) fclose(in);
    if (!copied && error->empty()) *error = out->error.empty() ? "cannot read " + entry.source_path : out->error;
    return copied;
}

}  // namespace

uint64_t aligned_offset(uint64_t offset, uint32_t alignment) {
    return alignment > 1 ? (offset + alignment - 1) / alignment * alignment : offset;
}

void append_u16le(byte_vector& out, uint16_t value) {
    out.resize(out.size() + 2);
    write_u16le(&out[out.size() - 2], value);
}

void append_u32le(byte_vector& out, uint32_t value) {
    out.resize(out.size() + 4);
    write_u32le(&out[out.size() - 4], value);
}

size_t text_field_kept(const std::string& text, size_t field_bytes) {
    if (field_bytes == 0) return 0;
    size_t kept = std::min(text.size(), field_bytes - 1);
    // Back off continuation bytes so no UTF-8 character is cut in half.
    if (kept < text.size())
        while (kept > 0 && ((uint8_t)text[kept] & 0xc0) == 0x80) --kept;
    return kept;
}

std::vector<std::string> names_cut(const std::vector<built_entry>& entries, const std::string& bank_name,
                                   built_kind kind) {
    std::vector<std::string> said;
    auto check = [&](const std::string& what, const std::string& name, size_t field_bytes) {
        size_t kept = text_field_kept(name, field_bytes);
        if (kept < name.size())
            said.push_back(what + " \"" + name + "\" is kept as \"" + name.substr(0, kept) + "\" (its field holds " +
                           std::to_string(field_bytes - 1) + " bytes)");
    };
    if (kind != BUILT_PAIR) check("the bank's name", bank_name, BANK_NAME_BYTES);
    for (const built_entry& entry : entries)
        check("the name", entry.name, kind == BUILT_PAIR ? STREAM_HEADER_NAME_BYTES : BANK_ENTRY_NAME_BYTES);
    return said;
}

void append_text_field(byte_vector& out, const std::string& text, size_t field_bytes) {
    size_t start = out.size();
    out.resize(start + field_bytes, 0);
    memcpy(&out[start], text.data(), text_field_kept(text, field_bytes));
}

// Where each entry's sound starts in the sound region, and the region's
// length (to the end of the last entry).
std::vector<uint64_t> sound_offsets(const std::vector<built_entry>& entries, uint32_t alignment, uint64_t* length) {
    std::vector<uint64_t> offsets;
    uint64_t at = 0;
    for (const built_entry& entry : entries) {
        at = aligned_offset(at, alignment);
        offsets.push_back(at);
        at += (uint64_t)entry.sound_bytes();
    }
    *length = at;
    return offsets;
}

// The entries' sound one after another, each at its offset.
bool write_sound_region(const std::vector<built_entry>& entries, const std::vector<uint64_t>& offsets, output_file* out,
                        std::string* error) {
    uint64_t at = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!write_zeros(out, offsets[i] - at) || !write_sound(entries[i], out, error)) return false;
        at = offsets[i] + (uint64_t)entries[i].sound_bytes();
    }
    return true;
}

bool discard_with_reason(output_file* out, std::string* error) {
    if (error->empty()) *error = out->error;
    output_discard(out);
    return false;
}

bool refuse(std::string* error, const std::string& reason) {
    *error = reason;
    return false;
}

// Puts new_sound in place of the record's sound. Returns the shift of the
// sound after it (every record starting there moves by it), writing the new
// region length into *region_length.
int64_t splice_sound(sound_region_edit* e, size_t record_index, const byte_vector& new_sound, uint64_t* region_length) {
    uint64_t start = e->offsets[record_index];
    uint64_t next = e->sound_length;
    for (uint32_t offset : e->offsets)
        if (offset > start && offset < next) next = offset;
    e->moved_from = next;
    bool has_next = next < e->sound_length;
    uint64_t new_next = has_next ? aligned_offset(start + new_sound.size(), e->alignment) : start + new_sound.size();
    byte_vector& file = *e->sound_file;
    size_t from = e->sound_at + (size_t)start;
    size_t old_end = e->sound_at + (size_t)std::min<uint64_t>(next, file.size() - e->sound_at);
    byte_vector replaced(new_sound);
    replaced.resize((size_t)(new_next - start), 0);
    file.erase(file.begin() + (long)from, file.begin() + (long)old_end);
    file.insert(file.begin() + (long)from, replaced.begin(), replaced.end());
    int64_t shift = (int64_t)new_next - (int64_t)next;
    *region_length = (uint64_t)((int64_t)e->sound_length + shift);
    return shift;
}

int64_t built_entry::sound_bytes() const {
    return source_path.empty() ? (int64_t)adpcm.size() : source_bytes;
}

int64_t built_entry::frames() const {
    if (stated_frames >= 0) return stated_frames;
    int64_t frames = frames_in_bytes(codec, channels, sound_bytes(), block_field);
    return frames > 0 ? frames : 0;
}

int64_t built_entry::bytes_at(int64_t frame) const {
    const codec_row* row = codec_row_of(codec, block_field);
    return row ? frame / row->frames_per_unit * unit_bytes(*row, channels) : 0;
}

bool set_entry_loop(built_entry* entry, int64_t loop_start, int64_t loop_end, std::string* warning) {
    entry->loop_start = -1;
    entry->loop_end = -1;
    if (loop_start < 0) return true;
    // Banks keep loops in whole units of the codec: block sets of Xbox ADPCM.
    const codec_row* row = codec_row_of(entry->codec, entry->block_field);
    int64_t unit = row ? row->frames_per_unit : SAMPLES_PER_BLOCK;
    int64_t start = loop_start / unit * unit;
    int64_t end = std::min(loop_end / unit * unit, entry->frames());
    if (end > start) {
        entry->loop_start = start;
        entry->loop_end = end;
    }
    std::string within = end < loop_end / unit * unit       ? "within its " + std::to_string(end) + " frames"
                         : entry->codec == CODEC_XBOX_ADPCM ? "in whole block sets of 65 frames"
                                                            : "in whole blocks of " + std::to_string(unit) + " frames";
    if (start != loop_start || end != loop_end)
        *warning = "its loop " + std::to_string(loop_start) + "-" + std::to_string(loop_end) + " is kept as " +
                   (end > start ? std::to_string(start) + "-" + std::to_string(end) : std::string("none")) + ", " +
                   within;
    return end > start;
}

bool built_kind_of(const std::string& path, built_kind* kind) {
    if (path_extension_is(path.c_str(), "xwb"))
        *kind = BUILT_BANK;
    else if (path_extension_is(path.c_str(), "wba"))
        *kind = BUILT_CONTAINER;
    else if (path_extension_is(path.c_str(), "zwb"))
        *kind = BUILT_COMPRESSED;
    else if (path_extension_is(path.c_str(), "xsh") || path_extension_is(path.c_str(), "xsd"))
        *kind = BUILT_PAIR;
    else
        return false;
    return true;
}

std::string entry_misfit(const built_entry& entry, built_kind kind) {
    if (kind == BUILT_PAIR)
        return entry.channels > MAX_CHANNELS ? "more than " + std::to_string(MAX_CHANNELS) + " channels" : "";
    if (entry.channels > BANK_FORMAT_LARGEST_CHANNELS)
        return std::to_string(entry.channels) + " channels: a bank's format word holds 1 to 7";
    if (entry.rate > BANK_FORMAT_LARGEST_RATE)
        return std::to_string(entry.rate) + " Hz: a bank's format word holds rates up to 65535 Hz";
    return "";
}

bool append_entry_sound(const built_entry& entry, byte_vector* sound, std::string* error) {
    if (entry.source_path.empty()) {
        sound->insert(sound->end(), entry.adpcm.begin(), entry.adpcm.end());
        return true;
    }
    byte_vector file;
    if (!read_whole_file(entry.source_path.c_str(), &file) ||
        (int64_t)file.size() < entry.source_offset + entry.source_bytes) {
        *error = "cannot read " + entry.source_path;
        return false;
    }
    sound->insert(sound->end(), file.begin() + entry.source_offset,
                  file.begin() + entry.source_offset + entry.source_bytes);
    return true;
}

bool write_built_container(const std::vector<built_entry>& entries, const std::string& bank_name, uint32_t alignment,
                           built_kind kind, const std::string& path, bool keep_existing, std::string* error) {
    if (kind == BUILT_PAIR) return write_stream_pair(entries, alignment, path, keep_existing, error);
    if (kind != BUILT_COMPRESSED)
        return write_wave_bank(entries, bank_name, alignment, kind == BUILT_CONTAINER, path, keep_existing, error);
    byte_vector bank = built_bank_bytes(entries, bank_name, alignment, error);
    byte_vector packed;
    if (bank.empty() || !compress_bank(bank, &packed)) {
        if (error->empty()) *error = "zlib cannot pack it";
        return false;
    }
    return write_output_file(path, packed.data(), packed.size(), keep_existing, error);
}
