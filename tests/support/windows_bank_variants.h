// Windows and Xbox 360 wave banks (content version 46, as built_bank_bytes
// writes them) for the hostile catalogue and the fuzzers' seeds: their
// entries, fields set in the bank's own byte order, and the same bank with
// compact records, which the writer does not make. Header-only, so the
// fuzzers' corpus maker and the tests share it without a library of its own.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "codec/little_endian.h"
#include "codec/ms_adpcm_encoder.h"
#include "containers/byte_source.h"
#include "containers/container_writer.h"
#include "containers/wave_bank.h"

// Microsoft ADPCM of a sawtooth-like tone, different for every seed.
inline std::vector<uint8_t> ms_adpcm_tone(uint32_t channels, size_t frames, uint32_t block_field, uint32_t seed) {
    std::vector<int16_t> pcm(frames * channels);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = (int16_t)(((i * 7919 + seed * 131) % 30000) - 15000);
    return encode_ms_adpcm(pcm.data(), frames, channels, block_field);
}

// An entry of 44.1 kHz sound; one with a seek table states the frames its
// last value gives (xWMA counts decoded bytes, XMA frames).
inline built_entry windows_bank_entry(const std::string& name, entry_codec codec, uint16_t channels,
                                      const std::vector<uint8_t>& sound, uint32_t block_field,
                                      std::vector<uint32_t> seek_table = {}) {
    built_entry e;
    e.name = name;
    e.codec = codec;
    e.rate = 44100;
    e.channels = channels;
    e.adpcm = sound;
    e.block_field = block_field;
    e.seek_table = std::move(seek_table);
    if (!e.seek_table.empty())
        e.stated_frames = codec == CODEC_XMA ? e.seek_table.back() : e.seek_table.back() / (2 * channels);
    return e;
}

// Version 46 keeps its header version at +8 and its five regions from +12.
const size_t WINDOWS_BANK_REGIONS_AT = 12;

inline bool is_big_endian_bank(const std::vector<uint8_t>& bank) {
    return bank.size() >= 4 && memcmp(bank.data(), WAVE_BANK_MAGIC_BIG_ENDIAN, 4) == 0;
}

inline uint32_t bank_field(const std::vector<uint8_t>& bank, size_t at) {
    if (at + 4 > bank.size()) return 0;
    return is_big_endian_bank(bank) ? read_u32be(&bank[at]) : read_u32le(&bank[at]);
}

// Sets the field at `at` in the bank's byte order; a field past the end is
// left out.
inline void set_bank_field(std::vector<uint8_t>* bank, size_t at, uint32_t value) {
    if (at + 4 > bank->size()) return;
    if (is_big_endian_bank(*bank))
        write_u32be(&(*bank)[at], value);
    else
        write_u32le(&(*bank)[at], value);
}

// Where region r's offset field lies; its length follows it.
inline size_t windows_region_field(int region) {
    return WINDOWS_BANK_REGIONS_AT + BANK_REGION_BYTES * (size_t)region;
}
inline size_t windows_region_offset(const std::vector<uint8_t>& bank, int region) {
    return bank_field(bank, windows_region_field(region));
}
inline size_t windows_bank_data_field(const std::vector<uint8_t>& bank, uint32_t at) {
    return windows_region_offset(bank, REGION_BANK_DATA) + at;
}
// Field `at` of record i (counted from 0) of a bank of full records.
inline size_t windows_record_field(const std::vector<uint8_t>& bank, uint32_t i, uint32_t at) {
    return windows_region_offset(bank, REGION_ENTRY_METADATA) + (size_t)BANK_RECORD_BYTES * i + at;
}

// The bank with compact records: each record one word of its offset in units
// of the alignment and the bytes its sound falls short of the next, every
// entry in record 0's format. The entries must share that format and start
// on the alignment, as built_bank_bytes lays them out. Empty when the bank
// cannot be read.
inline std::vector<uint8_t> compact_windows_bank(std::vector<uint8_t> bank) {
    stream_description d;
    description_init(&d);
    byte_source memory = source_of_memory(bank.data(), (int64_t)bank.size());
    bool read = read_wave_bank(&memory, &d);
    uint32_t alignment = bank_field(bank, windows_bank_data_field(bank, WINDOWS_BANK_DATA_ALIGNMENT_AT));
    if (!read || d.record_count == 0 || alignment == 0) {
        description_release(&d);
        return {};
    }
    const size_t records_at = windows_region_offset(bank, REGION_ENTRY_METADATA);
    const int64_t origin = (int64_t)windows_region_offset(bank, WINDOWS_REGION_SOUND);
    const int64_t sound_length = bank_field(bank, windows_region_field(WINDOWS_REGION_SOUND) + 4);
    uint32_t format = bank_field(bank, windows_record_field(bank, 0, (uint32_t)WINDOWS_RECORD.format_at));
    std::vector<uint32_t> words;
    for (int32_t i = 0; i < d.record_count; ++i) {
        int64_t start = d.records[i].offset - origin;
        int64_t next = i + 1 < d.record_count ? d.records[i + 1].offset - origin : sound_length;
        words.push_back(
            compact_record_word((uint32_t)(start / alignment), (uint32_t)(next - start - d.records[i].length)));
    }
    description_release(&d);
    uint32_t flags = bank_field(bank, windows_bank_data_field(bank, BANK_DATA_FLAGS_AT));
    set_bank_field(&bank, windows_bank_data_field(bank, BANK_DATA_FLAGS_AT), flags | BANK_FLAG_COMPACT);
    set_bank_field(&bank, windows_bank_data_field(bank, WINDOWS_BANK_DATA_RECORD_SIZE_AT), BANK_COMPACT_RECORD_BYTES);
    set_bank_field(&bank, windows_bank_data_field(bank, WINDOWS_BANK_DATA_COMPACT_FORMAT_AT), format);
    size_t full_bytes = (size_t)BANK_RECORD_BYTES * words.size();
    memset(&bank[records_at], 0, full_bytes);
    for (size_t i = 0; i < words.size(); ++i)
        set_bank_field(&bank, records_at + BANK_COMPACT_RECORD_BYTES * i, words[i]);
    set_bank_field(&bank, windows_region_field(REGION_ENTRY_METADATA) + 4,
                   (uint32_t)(BANK_COMPACT_RECORD_BYTES * words.size()));
    return bank;
}
