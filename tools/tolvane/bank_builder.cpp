// Laying out banks and stream pairs from entries, reading the sound files
// that become entries, and writing them.

#include "tools/tolvane/bank_builder.h"

#include <stdio.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>

#include "codec/little_endian.h"
#include "codec/xbox_adpcm.h"
#include "codec/xbox_adpcm_encoder.h"
#include "containers/byte_source.h"
#include "containers/compressed_bank.h"
#include "containers/file_names.h"
#include "containers/riff_wave.h"
#include "containers/stream_pair.h"
#include "containers/wave_bank.h"
#include "platform/platform.h"
#include "tools/tolvane/encoded_audio_input.h"
#include "tools/tolvane/output_file.h"
#include "tools/tolvane/wave_writer.h"

namespace {

const size_t COPY_BYTES = 1 << 20;
const uint32_t BANK_VERSION = 3;

typedef std::vector<uint8_t> bytes;

uint64_t aligned(uint64_t offset, uint32_t alignment) {
    return alignment > 1 ? (offset + alignment - 1) / alignment * alignment : offset;
}

void put32(bytes& out, uint32_t value) {
    out.resize(out.size() + 4);
    write_u32le(&out[out.size() - 4], value);
}

void put_text(bytes& out, const std::string& text, size_t field_bytes) {
    size_t start = out.size();
    out.resize(start + field_bytes, 0);
    memcpy(&out[start], text.data(), std::min(text.size(), field_bytes));
}

// Where each entry's sound starts in the sound region, and the region's
// length (to the end of the last entry).
std::vector<uint64_t> sound_offsets(const std::vector<built_entry>& entries, uint32_t alignment, uint64_t* length) {
    std::vector<uint64_t> offsets;
    uint64_t at = 0;
    for (const built_entry& entry : entries) {
        at = aligned(at, alignment);
        offsets.push_back(at);
        at += (uint64_t)entry.sound_bytes();
    }
    *length = at;
    return offsets;
}

// Everything of a version-3 bank in front of its sound region, which starts
// at *sound_at (aligned), and the sound's offsets.
bytes bank_head(const std::vector<built_entry>& entries, const std::string& bank_name, uint32_t alignment,
                std::vector<uint64_t>* offsets, uint64_t* sound_at, uint64_t* sound_length) {
    uint32_t count = (uint32_t)entries.size();
    uint32_t records_at = BANK_HEADER_BYTES + BANK_DATA_BYTES;
    uint32_t names_at = records_at + BANK_RECORD_BYTES * count;
    uint32_t names_bytes = BANK_ENTRY_NAME_BYTES * count;
    *sound_at = aligned(names_at + names_bytes, alignment);
    *offsets = sound_offsets(entries, alignment, sound_length);

    bytes head = {'W', 'B', 'N', 'D'};
    put32(head, BANK_VERSION);
    const uint32_t region[BANK_REGION_COUNT][2] = {{BANK_HEADER_BYTES, BANK_DATA_BYTES},
                                                   {records_at, BANK_RECORD_BYTES * count},
                                                   {names_at, names_bytes},
                                                   {(uint32_t)*sound_at, (uint32_t)*sound_length}};
    for (const auto& r : region) {
        put32(head, r[0]);
        put32(head, r[1]);
    }
    put32(head, BANK_FLAG_ENTRY_NAMES);
    put32(head, count);
    put_text(head, bank_name, BANK_NAME_BYTES);
    put32(head, BANK_RECORD_BYTES);
    put32(head, BANK_ENTRY_NAME_BYTES);
    put32(head, alignment);
    put32(head, 0);  // the compact format word, for compact banks only
    for (size_t i = 0; i < entries.size(); ++i) {
        const built_entry& entry = entries[i];
        bool looped = entry.loop_start >= 0 && entry.loop_end > entry.loop_start;
        put32(head, 0);  // flags
        put32(head, bank_format_word(entry.codec, entry.channels, entry.rate));
        put32(head, (uint32_t)(*offsets)[i]);
        put32(head, (uint32_t)entry.sound_bytes());
        put32(head, looped ? (uint32_t)entry.bytes_at(entry.loop_start) : 0);
        put32(head, looped ? (uint32_t)(entry.bytes_at(entry.loop_end) - entry.bytes_at(entry.loop_start)) : 0);
    }
    for (const built_entry& entry : entries) put_text(head, entry.name, BANK_ENTRY_NAME_BYTES);
    head.resize((size_t)*sound_at, 0);
    return head;
}

// A stream header of version 0x100: 100-byte records with names, and a
// format record for each entry. Only a loop over the whole entry can be
// said: the header flags the entry as looping whole.
bytes pair_header(const std::vector<built_entry>& entries, const std::vector<uint64_t>& offsets) {
    bytes header;
    put32(header, STREAM_HEADER_VERSION_100);
    put32(header, 0);
    put32(header, (uint32_t)entries.size());
    const stream_record_layout& layout = stream_record_layout_of(STREAM_HEADER_VERSION_100, 0xffffffffu);
    for (size_t i = 0; i < entries.size(); ++i) {
        const built_entry& entry = entries[i];
        size_t start = header.size();
        header.resize(start + (size_t)layout.record_bytes, 0);
        uint8_t* record = &header[start];
        memcpy(record + layout.name_at, entry.name.data(),
               std::min(entry.name.size(), (size_t)STREAM_HEADER_NAME_BYTES));
        bool loops_whole = entry.loop_start == 0 && entry.loop_end == entry.frames();
        write_u32le(record + layout.type_at, STREAM_ENTRY_HAS_SOUND);
        write_u32le(record + layout.offset_at, (uint32_t)offsets[i]);
        write_u32le(record + layout.length_at, (uint32_t)entry.sound_bytes());
        write_u32le(record + layout.flags_at, loops_whole ? STREAM_ENTRY_LOOPS : 0);
        write_u32le(record + layout.frames_at, (uint32_t)entry.frames());
        wave_shape shape = entry.codec == CODEC_XBOX_ADPCM
                               ? adpcm_shape(entry.rate, entry.channels)
                               : pcm_shape(entry.rate, entry.channels, entry.codec == CODEC_PCM8 ? 8 : 16);
        std::vector<uint8_t> format = wave_head(shape, 0, 0);
        // The "fmt " chunk's content: after "RIFF", size, "WAVE", "fmt " and its size.
        memcpy(record + layout.format_at, format.data() + 20, 20);
    }
    return header;
}

bool write_bytes(output_file* out, const uint8_t* data, size_t byte_count) {
    return byte_count == 0 || output_write(out, data, byte_count);
}

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
    if (entry.source_path.empty()) return write_bytes(out, entry.adpcm.data(), entry.adpcm.size());
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

bool fail_output(output_file* out, std::string* error) {
    if (error->empty()) *error = out->error;
    output_discard(out);
    return false;
}

bool write_in_one(const std::string& path, const bytes& content, bool keep_existing, std::string* error) {
    return write_output_file(path, content.data(), content.size(), keep_existing, error);
}

bool write_pair(const std::vector<built_entry>& entries, uint32_t alignment, const std::string& path,
                bool keep_existing, std::string* error) {
    uint64_t length = 0;
    std::vector<uint64_t> offsets = sound_offsets(entries, alignment, &length);
    std::string data_path = with_extension(path, "xsd");
    output_file data;
    if (!output_create(&data, data_path) || !write_sound_region(entries, offsets, &data, error))
        return fail_output(&data, error);
    output_file header;
    bytes header_bytes = pair_header(entries, offsets);
    if (!output_create(&header, with_extension(path, "xsh")) ||
        !write_bytes(&header, header_bytes.data(), header_bytes.size())) {
        output_discard(&data);
        return fail_output(&header, error);
    }
    if (!output_finish(&data, keep_existing)) {
        output_discard(&header);
        return fail_output(&data, error);
    }
    if (!output_finish(&header, keep_existing)) {
        // The data file is this run's own: it goes with its header.
        file_remove(data_path.c_str());
        return fail_output(&header, error);
    }
    return true;
}

// 8 or 16 for a PCM WAVE of that depth, else 0.
int pcm_wave_depth(const wave_chunks& chunks) {
    uint16_t tag = chunks.format.format_tag;
    if (tag == WAVE_FORMAT_EXTENSIBLE && chunks.extension_bytes >= 22)
        tag = (uint16_t)(chunks.subformat[0] | (chunks.subformat[1] << 8));
    int bits = chunks.format.bits_per_sample;
    return tag == WAVE_FORMAT_PCM && (bits == 8 || bits == 16) ? bits : 0;
}

entry_codec chosen_codec(shape_codec wanted, int depth) {
    switch (wanted) {
    case SHAPE_CODEC_AS_INPUT:
        return depth == 8 ? CODEC_PCM8 : depth == 16 ? CODEC_PCM16 : CODEC_XBOX_ADPCM;
    case SHAPE_CODEC_PCM:
        return depth == 8 ? CODEC_PCM8 : CODEC_PCM16;
    case SHAPE_CODEC_PCM8:
        return CODEC_PCM8;
    case SHAPE_CODEC_PCM16:
        return CODEC_PCM16;
    case SHAPE_CODEC_XBOX_ADPCM:
        break;
    }
    return CODEC_XBOX_ADPCM;
}

// The samples as the codec stores them: 16-bit little-endian, or 8-bit
// unsigned (rounded to nearest, which gives 8-bit input back exactly).
bytes stored_pcm(const std::vector<int16_t>& pcm, entry_codec codec) {
    bytes out;
    if (codec == CODEC_PCM8) {
        out.resize(pcm.size());
        for (size_t i = 0; i < pcm.size(); i++) {
            int value = ((int)pcm[i] + 128) >> 8;
            out[i] = (uint8_t)((value > 127 ? 127 : value) + 128);
        }
        return out;
    }
    out.resize(pcm.size() * 2);
    for (size_t i = 0; i < pcm.size(); i++) write_u16le(&out[2 * i], (uint16_t)pcm[i]);
    return out;
}

}  // namespace

int64_t built_entry::sound_bytes() const {
    return source_path.empty() ? (int64_t)adpcm.size() : source_bytes;
}

int64_t built_entry::frames() const {
    int64_t frames = frames_in_bytes(codec, channels, sound_bytes());
    return frames > 0 ? frames : 0;
}

int64_t built_entry::bytes_at(int64_t frame) const {
    const codec_row* row = codec_row_of(codec);
    return row ? frame / row->frames_per_unit * unit_bytes(*row, channels) : 0;
}

bool read_entry_wave(const std::string& path, built_entry* entry, std::string* reason, std::string* warning,
                     const entry_shape& shape) {
    *entry = built_entry();
    file_handle file = file_open_read(path.c_str());
    if (file == INVALID_FILE) {
        *reason = "cannot be opened";
        return false;
    }
    byte_source source = source_of_file(file);
    wave_chunks chunks;
    bool wave = read_wave_chunks(&source, &chunks) && chunks.has_format && chunks.has_data;
    int64_t file_bytes = source_size(&source);
    file_close(file);
    std::string stem = base_name(path.c_str());
    stem = stem.substr(0, stem.rfind('.'));
    int64_t loop_start = -1;
    int64_t loop_end = -1;
    if (wave && chunks.format.format_tag == XBOX_ADPCM_TAG) {
        entry->name = chunks.name[0] ? chunks.name : stem;
        entry->rate = chunks.format.sample_rate;
        entry->channels = chunks.format.channels;
        entry->input_rate = entry->rate;
        entry->input_channels = entry->channels;
        if (entry->channels == 0 || entry->rate == 0) {
            *reason = "an Xbox ADPCM WAVE with no channels or no rate";
            return false;
        }
        loop_start = chunks.loop_start;
        loop_end = chunks.loop_end;
        int64_t set_bytes = block_set_bytes(entry->channels);
        int64_t present = std::min<int64_t>(chunks.data_bytes, file_bytes - chunks.data_start);
        entry->source_path = path;
        entry->source_offset = chunks.data_start;
        entry->source_bytes = present / set_bytes * set_bytes;
    } else {
        // Every other sound file this build reads is brought to the shape
        // asked for and encoded.
        input_sound sound;
        if (!read_input_sound(path, &sound, reason)) return false;
        entry->input_rate = sound.rate;
        entry->input_channels = (uint16_t)sound.channels;
        mix_input_sound(&sound, shape.channels);
        if (!resample_input_sound(&sound, shape.rate, reason)) return false;
        entry->name = sound.name.empty() ? stem : sound.name;
        entry->rate = sound.rate;
        entry->channels = (uint16_t)sound.channels;
        loop_start = sound.loop_start;
        loop_end = sound.loop_end;
        entry->codec = chosen_codec(shape.codec, wave ? pcm_wave_depth(chunks) : 0);
        if (entry->codec == CODEC_XBOX_ADPCM)
            entry->adpcm = encode_xbox_adpcm(sound.pcm.data(), sound.pcm.size() / sound.channels, sound.channels);
        else
            entry->adpcm = stored_pcm(sound.pcm, entry->codec);
    }
    if (entry->sound_bytes() == 0) {
        *reason = "it holds no whole block set of sound";
        return false;
    }
    entry->input_looped = loop_start >= 0;
    if (loop_start >= 0) set_entry_loop(entry, loop_start, loop_end, warning);
    return true;
}

std::string input_rate_misfit(uint32_t input_rate, const entry_shape& shape) {
    if (shape.rate != 0 || input_rate <= XBOX_HIGHEST_RATE) return "";
    return std::to_string(input_rate) + " Hz: the Xbox plays rates up to " + std::to_string(XBOX_HIGHEST_RATE) +
           " Hz; give --rate";
}

bool set_entry_loop(built_entry* entry, int64_t loop_start, int64_t loop_end, std::string* warning) {
    entry->loop_start = -1;
    entry->loop_end = -1;
    if (loop_start < 0) return true;
    // Banks keep loops in whole units of the codec: block sets of Xbox ADPCM.
    const codec_row* row = codec_row_of(entry->codec);
    int64_t unit = row ? row->frames_per_unit : SAMPLES_PER_BLOCK;
    int64_t start = loop_start / unit * unit;
    int64_t end = std::min(loop_end / unit * unit, entry->frames());
    if (end > start) {
        entry->loop_start = start;
        entry->loop_end = end;
    }
    if (start != loop_start || end != loop_end)
        *warning = "its loop " + std::to_string(loop_start) + "-" + std::to_string(loop_end) + " is kept as " +
                   (end > start ? std::to_string(start) + "-" + std::to_string(end) : std::string("none")) +
                   ", in whole block sets of 65 frames";
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

bool append_entry_sound(const built_entry& entry, bytes* sound, std::string* error) {
    if (entry.source_path.empty()) {
        sound->insert(sound->end(), entry.adpcm.begin(), entry.adpcm.end());
        return true;
    }
    bytes file;
    if (!read_whole_file(entry.source_path.c_str(), &file) ||
        (int64_t)file.size() < entry.source_offset + entry.source_bytes) {
        *error = "cannot read " + entry.source_path;
        return false;
    }
    sound->insert(sound->end(), file.begin() + entry.source_offset,
                  file.begin() + entry.source_offset + entry.source_bytes);
    return true;
}

bool compress_bank(const bytes& bank, bytes* packed) {
    uLongf packed_bytes = compressBound((uLong)bank.size());
    packed->assign(COMPRESSED_BANK_STREAM_AT + (size_t)packed_bytes, 0);
    memcpy(packed->data(), "ZWB", 3);
    write_u32le(packed->data() + COMPRESSED_BANK_SIZE_AT, (uint32_t)bank.size());
    if (compress2(packed->data() + COMPRESSED_BANK_STREAM_AT, &packed_bytes, bank.data(), (uLong)bank.size(),
                  Z_DEFAULT_COMPRESSION) != Z_OK)
        return false;
    packed->resize(COMPRESSED_BANK_STREAM_AT + (size_t)packed_bytes);
    return true;
}

bool inflate_bank(const bytes& packed, bytes* bank) {
    if (packed.size() < (size_t)COMPRESSED_BANK_STREAM_AT) return false;
    z_stream stream;
    memset(&stream, 0, sizeof stream);
    if (inflateInit(&stream) != Z_OK) return false;
    stream.next_in = const_cast<Bytef*>(packed.data() + COMPRESSED_BANK_STREAM_AT);
    stream.avail_in = (uInt)(packed.size() - COMPRESSED_BANK_STREAM_AT);
    bank->clear();
    uint8_t out[COPY_BYTES / 16];
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = out;
        stream.avail_out = sizeof out;
        result = inflate(&stream, Z_NO_FLUSH);
        bank->insert(bank->end(), out, out + (sizeof out - stream.avail_out));
        if (result == Z_BUF_ERROR && stream.avail_in == 0) break;
    }
    inflateEnd(&stream);
    return result == Z_STREAM_END;
}

bool write_built_container(const std::vector<built_entry>& entries, const std::string& bank_name, uint32_t alignment,
                           built_kind kind, const std::string& path, bool keep_existing, std::string* error) {
    if (kind == BUILT_PAIR) return write_pair(entries, alignment, path, keep_existing, error);
    if (kind == BUILT_COMPRESSED) {
        bytes bank = built_bank_bytes(entries, bank_name, alignment, error);
        bytes packed;
        if (bank.empty() || !compress_bank(bank, &packed)) {
            if (error->empty()) *error = "zlib cannot pack it";
            return false;
        }
        return write_in_one(path, packed, keep_existing, error);
    }
    std::vector<uint64_t> offsets;
    uint64_t sound_at = 0;
    uint64_t sound_length = 0;
    bytes head = bank_head(entries, bank_name, alignment, &offsets, &sound_at, &sound_length);
    output_file out;
    if (!output_create(&out, path)) return fail_output(&out, error);
    if (kind == BUILT_CONTAINER) {
        bytes container(CONTAINER_BANK_BASE, 0);
        memcpy(container.data(), CONTAINER_MAGIC, sizeof CONTAINER_MAGIC);
        if (!write_bytes(&out, container.data(), container.size())) return fail_output(&out, error);
    }
    if (!write_bytes(&out, head.data(), head.size()) || !write_sound_region(entries, offsets, &out, error) ||
        !output_finish(&out, keep_existing))
        return fail_output(&out, error);
    return true;
}
