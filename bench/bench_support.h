// Small helpers the benchmark programs share: timing, a scratch folder that
// the module takes for its temporary directory, and the wave bank layout.
#pragma once

#include <stdint.h>

#include <chrono>
#include <string>
#include <vector>

typedef std::vector<uint8_t> bytes;

const uint32_t BANK_RECORD_BYTES = 24;
const uint32_t BANK_HEAD_BYTES = 40 + 36;  // header with four regions, then the bank data
const uint32_t STEREO_44100_FORMAT = 1 | 2 << 2 | 44100 << 5;

inline double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void put_u32le(uint8_t* at, uint32_t value);

// A bank of total_bytes holding `entries` records at BANK_HEAD_BYTES and the
// sound at data_offset; the records are left for the caller to fill.
bytes bank_skeleton(uint32_t total_bytes, uint32_t entries, uint32_t data_offset);
void put_bank_record(bytes& bank, uint32_t entry, uint32_t format, uint32_t offset, uint32_t length);

// Creates a fresh folder under the temporary directory and makes it the
// temporary directory of this process (where compressed banks are cached).
// Returns it with a trailing separator, or "" when it cannot be made.
std::string make_bench_folder(const char* program);
void remove_bench_folder(const std::string& folder);

bool write_file(const std::string& path, const bytes& content);

// The opener's way into a file, as Play goes: open, then open_stream with a
// writable copy of the path. The entry count the reader found, or -1 when
// the file was refused.
int32_t open_like_play(const std::string& path);
