// Small helpers the benchmark programs share: timing, a scratch folder that
// the module takes for its temporary directory, and banks of many entries.
#pragma once

#include <stdint.h>

#include <chrono>
#include <string>
#include <vector>

typedef std::vector<uint8_t> bytes;

inline double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A bank of `entries` stereo 44100 Hz entries of entry_bytes each, one after
// another, their sound taken from sound (repeated as needed).
bytes bank_of_entries(uint32_t entries, uint32_t entry_bytes, const bytes& sound);

// Creates a fresh folder under the temporary directory and makes it the
// temporary directory of this process (where compressed banks are cached).
// Returns it with a trailing separator, or "" when it cannot be made.
std::string make_bench_folder(const char* program);
void remove_bench_folder(const std::string& folder);

bool write_file(const std::string& path, const bytes& content);

// The peak resident memory since the last reset_peak(), from Linux's /proc;
// -1 where it cannot be had.
void reset_peak();
long peak_kb();

// The opener's way into a file, as Play goes: open, then open_stream with a
// writable copy of the path. The entry count the reader found, or -1 when
// the file was refused.
int32_t open_like_play(const std::string& path);
