// Packing and extracting a bank of 1 000 entries (100 MiB) against copying
// the same bytes. pack reads 1 000 Xbox ADPCM WAVEs and writes one bank;
// its baseline reads the same files and writes their bytes into one file.
// extract (the tolvane command, process start included) writes the bank's
// entries as 1 000 WAVEs; its baseline copies the same byte ranges into
// 1 000 files. The tool flushes every file it writes to the disk before
// naming it, so each baseline is timed twice: as a plain copy, and with its
// files flushed the same way. Best of three runs each; prints times and
// ratios. It reports and always exits 0.

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "platform/platform.h"
#include "containers/container_writer.h"
#include "tools/tolvane/input/entry_input.h"
#include "containers/riff_wave_writer.h"

namespace {

const uint32_t ENTRIES = 1000;
const uint32_t SETS_PER_ENTRY = 1456;  // stereo: 1456 x 72 bytes, about 100 KiB
const int RUNS = 3;

double best_of(double (*run)(const std::string&), const std::string& folder) {
    double best = 1e30;
    for (int i = 0; i < RUNS; ++i) best = std::min(best, run(folder));
    return best;
}

std::string input_path(const std::string& folder, uint32_t i) {
    return folder + "in/" + std::to_string(i) + ".wav";
}

bool flush_to_disk(FILE* file, bool durable) {
    return durable ? stream_flush_to_disk(file) : fflush(file) == 0;
}

// Reads every input whole and appends its bytes to one file.
double copy_into_one(const std::string& folder, bool durable) {
    auto start = std::chrono::steady_clock::now();
    FILE* out = fopen((folder + "copy.bin").c_str(), "wb");
    std::vector<uint8_t> buffer;
    for (uint32_t i = 0; i < ENTRIES && out; ++i) {
        read_whole_file(input_path(folder, i).c_str(), &buffer);
        fwrite(buffer.data(), 1, buffer.size(), out);
    }
    if (out) {
        flush_to_disk(out, durable);
        fclose(out);
    }
    return seconds_since(start);
}

double plain_copy_into_one(const std::string& folder) {
    return copy_into_one(folder, false);
}

double durable_copy_into_one(const std::string& folder) {
    return copy_into_one(folder, true);
}

double pack(const std::string& folder) {
    auto start = std::chrono::steady_clock::now();
    std::vector<built_entry> entries(ENTRIES);
    std::string reason;
    std::string warning;
    for (uint32_t i = 0; i < ENTRIES; ++i) read_entry_wave(input_path(folder, i), &entries[i], &reason, &warning);
    std::string error;
    if (!write_built_container(entries, "bench", 2048, BUILT_BANK, folder + "packed.xwb", false, &error))
        fprintf(stderr, "pack failed: %s\n", error.c_str());
    return seconds_since(start);
}

// Copies each entry's bytes out of the packed bank into a file of its own.
double copy_out(const std::string& folder, bool durable) {
    auto start = std::chrono::steady_clock::now();
    std::vector<uint8_t> bank;
    read_whole_file((folder + "packed.xwb").c_str(), &bank);
    size_t entry_bytes = (size_t)SETS_PER_ENTRY * 72;
    for (uint32_t i = 0; i < ENTRIES; ++i) {
        FILE* out = fopen((folder + "copies/" + std::to_string(i) + ".bin").c_str(), "wb");
        if (!out) continue;
        size_t at = std::min(bank.size(), (size_t)i * entry_bytes);
        fwrite(bank.data() + at, 1, std::min(entry_bytes, bank.size() - at), out);
        flush_to_disk(out, durable);
        fclose(out);
    }
    return seconds_since(start);
}

double plain_copy_out(const std::string& folder) {
    return copy_out(folder, false);
}

double durable_copy_out(const std::string& folder) {
    return copy_out(folder, true);
}

double extract(const std::string& folder) {
    std::string command = std::string("\"") + TOLVANE_BIN_DIR + "/tolvane\" extract \"" + folder +
                          "packed.xwb\" -q -o \"" + folder + "extracted/\"";
    auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) fprintf(stderr, "extract failed\n");
    double elapsed = seconds_since(start);
    std::error_code ignored;
    std::filesystem::remove_all(folder + "extracted", ignored);
    return elapsed;
}

void report(const char* job, double seconds, double plain, double durable) {
    printf("%-8s %7.3f s   plain copy %7.3f s (%.2fx)   flushed copy %7.3f s (%.2fx)\n", job, seconds, plain,
           seconds / plain, durable, seconds / durable);
}

}  // namespace

int main() {
    std::string folder = make_bench_folder("bench_pack");
    if (folder.empty()) return 0;
    std::error_code ignored;
    std::filesystem::create_directories(folder + "in", ignored);
    std::filesystem::create_directories(folder + "copies", ignored);
    bytes sound((size_t)SETS_PER_ENTRY * 72);
    std::mt19937 random(7);
    for (uint8_t& byte : sound) byte = (uint8_t)random();
    for (uint32_t i = 0; i < ENTRIES; ++i) {
        sound_extras extras;
        extras.name = "entry_" + std::to_string(i);
        write_file(input_path(folder, i), make_adpcm_wave(sound, 2, 44100, extras));
    }
    printf("%u Xbox ADPCM WAVEs of %u bytes of sound (%.1f MiB), best of %d runs:\n", ENTRIES, SETS_PER_ENTRY * 72,
           ENTRIES * SETS_PER_ENTRY * 72.0 / (1 << 20), RUNS);
    double packed = best_of(pack, folder);
    report("pack", packed, best_of(plain_copy_into_one, folder), best_of(durable_copy_into_one, folder));
    double extracted = best_of(extract, folder);
    report("extract", extracted, best_of(plain_copy_out, folder), best_of(durable_copy_out, folder));
    printf("target: each within 2x of the copy\n");
    remove_bench_folder(folder);
    return 0;
}
