// Helpers shared by the benchmark programs.
#include "bench/bench_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>

#include "containers/stream_opener.h"
#include "platform/platform.h"
#include "reference/bank_writer.h"

namespace fs = std::filesystem;

bytes bank_of_entries(uint32_t entries, uint32_t entry_bytes, const bytes& sound) {
    wave_bank_design design;
    design.entry_data.resize((size_t)entries * entry_bytes);
    for (size_t i = 0; i < design.entry_data.size(); ++i) design.entry_data[i] = sound[i % sound.size()];
    for (uint32_t e = 0; e < entries; ++e)
        design.entries.push_back({format_word(1, 2, 44100), e * entry_bytes, entry_bytes});
    return build_wave_bank(design);
}

std::string make_bench_folder(const char* program) {
    std::error_code error;
    fs::path folder = fs::temp_directory_path(error) / (std::string(program) + "-" + std::to_string(process_id()) +
                                                        "-" + std::to_string((unsigned)clock_ms()));
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
    file_handle playing = open_stream(path.c_str(), file, &SYSTEM_INFLATER, OPEN_TO_PLAY, &item);
    int32_t entries = playing == INVALID_FILE || item.data_length < 0 ? -1 : item.entry_count;
    if (playing != INVALID_FILE) file_close(playing);
    description_release(&item);
    return entries;
}

void reset_peak() {
    FILE* file = fopen("/proc/self/clear_refs", "w");
    if (!file) return;
    fputs("5", file);
    fclose(file);
}

long peak_kb() {
    FILE* file = fopen("/proc/self/status", "r");
    if (!file) return -1;
    char line[256];
    long kb = -1;
    while (fgets(line, sizeof line, file))
        if (sscanf(line, "VmHWM: %ld kB", &kb) == 1) break;
    fclose(file);
    return kb;
}
