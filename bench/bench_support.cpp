// Helpers shared by the benchmark programs.
#include "bench/bench_support.h"

#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>

#include "containers/stream_opener.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

void put_u32le(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = (uint8_t)(value >> (8 * i));
}

bytes bank_skeleton(uint32_t total_bytes, uint32_t entries, uint32_t data_offset) {
    bytes bank(total_bytes, 0);
    const uint32_t records_bytes = entries * BANK_RECORD_BYTES;
    memcpy(&bank[0], "WBND", 4);
    put_u32le(&bank[4], 43);
    const uint32_t regions[4][2] = {
        {40, 36}, {BANK_HEAD_BYTES, records_bytes}, {0, 0}, {data_offset, total_bytes - data_offset}};
    for (int r = 0; r < 4; ++r) {
        put_u32le(&bank[8 + 8 * r], regions[r][0]);
        put_u32le(&bank[12 + 8 * r], regions[r][1]);
    }
    put_u32le(&bank[40 + 4], entries);
    put_u32le(&bank[40 + 24], BANK_RECORD_BYTES);
    return bank;
}

void put_bank_record(bytes& bank, uint32_t entry, uint32_t format, uint32_t offset, uint32_t length) {
    uint8_t* record = &bank[BANK_HEAD_BYTES + entry * BANK_RECORD_BYTES];
    put_u32le(record + 4, format);
    put_u32le(record + 8, offset);
    put_u32le(record + 12, length);
}

std::string make_bench_folder(const char* program) {
    std::error_code error;
    fs::path folder = fs::temp_directory_path(error) /
                      (std::string(program) + "-" + std::to_string(process_id()) + "-" +
                       std::to_string((unsigned)clock_ms()));
    if (error || !fs::create_directories(folder, error)) return "";
    static std::string assignment;
    assignment = "TMPDIR=" + folder.string() + "/";
    putenv(&assignment[0]);
    return folder.string() + "/";
}

void remove_bench_folder(const std::string& folder) {
    std::error_code error;
    if (!folder.empty()) fs::remove_all(folder, error);
}

bool write_file(const std::string& path, const bytes& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write((const char*)content.data(), (std::streamsize)content.size());
    return (bool)out;
}

int32_t open_like_play(const std::string& path) {
    file_handle file = file_open_read(path.c_str());
    if (file == INVALID_FILE) return -1;
    stream_description item;
    description_init(&item);
    file_handle playing = open_stream(path.c_str(), file, nullptr, &item);
    int32_t entries = playing == INVALID_FILE || item.data_length < 0 ? -1 : item.entry_count;
    if (playing != INVALID_FILE) file_close(playing);
    description_release(&item);
    return entries;
}
