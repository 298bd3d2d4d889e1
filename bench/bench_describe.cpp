// Describing files as the player's playlist asks the module to: the module's
// own GetFileInfo on a file that is not playing, for a WAVE, a bank of
// 100 000 entries, a stream pair, a 100 MiB compressed bank without its
// cache, and a playlist of 1 000 files of every kind. Each is timed against
// a floor measured in the same run: opening the same files and reading up to
// 4 MiB of each (enough for a 100 000-entry bank's records). Best of five; also the peak resident memory
// while the uncached compressed bank is described. It reports and always
// exits 0.

#include <stdio.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "codec/little_endian.h"
#include "platform/platform.h"
#include "plugin/module.h"
#include "reference/bank_writer.h"
#include "containers/riff_wave_writer.h"

namespace {

const int RUNS = 5;
const uint32_t BIG_ENTRIES = 100000;
const uint32_t ZWB_BANK_BYTES = 100u << 20;
const int PLAYLIST_FILES = 1000;

struct case_result {
    double describe_s = -1;
    double floor_s = -1;
    int lengths_known = 0;
};

// The floor: each file opened and up to 4 MiB of it read.
double time_floor(const std::vector<std::string>& paths) {
    static std::vector<uint8_t> buffer(4 << 20);
    auto start = std::chrono::steady_clock::now();
    for (const std::string& path : paths) {
        file_handle file = file_open_read(path.c_str());
        if (file == INVALID_FILE) continue;
        file_read(file, buffer.data(), (int32_t)buffer.size());
        file_close(file);
    }
    return seconds_since(start);
}

double time_describe(In_Module* module, const std::vector<std::string>& paths, int* known) {
    auto start = std::chrono::steady_clock::now();
    *known = 0;
    for (const std::string& path : paths) {
        std::string name = path;
        char title[2048] = "";
        int length_ms = -1;
        module->GetFileInfo(&name[0], title, &length_ms);
        if (length_ms != -1000) ++*known;
    }
    return seconds_since(start);
}

case_result best_of_runs(In_Module* module, const std::vector<std::string>& paths) {
    case_result best;
    for (int run = 0; run < RUNS; ++run) {
        double floor_s = time_floor(paths);
        int known = 0;
        double describe_s = time_describe(module, paths, &known);
        if (best.floor_s < 0 || floor_s < best.floor_s) best.floor_s = floor_s;
        if (best.describe_s < 0 || describe_s < best.describe_s) best.describe_s = describe_s;
        best.lengths_known = known;
    }
    return best;
}

void report(const char* what, const case_result& r, size_t files, double target_ms) {
    printf("%-28s %8.2f ms  floor %7.2f ms  ratio %6.2f  lengths %d/%zu  (target < %.0f ms)\n", what,
           r.describe_s * 1000, r.floor_s * 1000, r.floor_s > 0 ? r.describe_s / r.floor_s : 0.0, r.lengths_known,
           files, target_ms);
}

bytes zwb_of(const bytes& bank) {
    uLongf packed_bytes = compressBound((uLong)bank.size());
    bytes zwb(8 + packed_bytes);
    write_u32le(&zwb[4], (uint32_t)bank.size());
    compress2(&zwb[8], &packed_bytes, bank.data(), (uLong)bank.size(), Z_DEFAULT_COMPRESSION);
    zwb.resize(8 + packed_bytes);
    return zwb;
}

// A stream pair of entries records, each of entry_bytes stereo sound.
void write_pair(const std::string& stem, uint32_t entries, uint32_t entry_bytes) {
    bytes header(12 + 100 * (size_t)entries, 0);
    write_u32le(&header[8], entries);
    for (uint32_t e = 0; e < entries; ++e) {
        uint8_t* record = &header[12 + 100 * (size_t)e];
        write_u32le(record + 36, e * entry_bytes);
        write_u32le(record + 40, entry_bytes);
        write_u16le(record + 82, 2);
        write_u32le(record + 84, 44100);
    }
    write_file(stem + ".xsh", header);
    write_file(stem + ".xsd", bytes((size_t)entries * entry_bytes, 0));
}

}  // namespace

int main() {
    std::string folder = make_bench_folder("tolvane-bench-describe");
    if (folder.empty()) {
        printf("bench_describe: cannot make a folder under the temporary directory\n");
        return 0;
    }
    In_Module* module = winampGetInModule2();
    const bytes sound(72 * 100, 0);

    write_file(folder + "song.wav", make_adpcm_wave(sound, 2, 44100));
    write_file(folder + "big.xwb", bank_of_entries(BIG_ENTRIES, 72, sound));
    write_pair(folder + "pair", 200, 7200);
    printf("bench_describe: building a %u MiB compressed bank...\n", ZWB_BANK_BYTES >> 20);
    fflush(stdout);
    {
        bytes bank = bank_of_entries(ZWB_BANK_BYTES / 7200 - 1, 7200, sound);
        bank.resize(ZWB_BANK_BYTES, 0);
        write_file(folder + "huge.zwb", zwb_of(bank));
    }

    std::vector<std::string> playlist;
    const bytes small_bank = bank_of_entries(12, 720, sound);
    const bytes small_zwb = zwb_of(small_bank);
    for (int i = 0; i < PLAYLIST_FILES; ++i) {
        std::string stem = folder + "list" + std::to_string(i);
        switch (i % 5) {
        case 0:
            write_file(stem + ".wav", make_adpcm_wave(sound, 2, 44100));
            playlist.push_back(stem + ".wav");
            break;
        case 1:
            write_file(stem + ".xwb", small_bank);
            playlist.push_back(stem + ".xwb");
            break;
        case 2:
            write_pair(stem, 12, 720);
            playlist.push_back(stem + ".xsh");
            break;
        case 3:
            write_file(stem + ".zwb", small_zwb);
            playlist.push_back(stem + ".zwb");
            break;
        default:
            write_file(stem + ".dat", sound);
            playlist.push_back(stem + ".dat");
            break;
        }
    }

    report("WAVE", best_of_runs(module, {folder + "song.wav"}), 1, 1);
    report("bank of 100 000 entries", best_of_runs(module, {folder + "big.xwb"}), 1, 5);
    report("stream pair (200 entries)", best_of_runs(module, {folder + "pair.xsh"}), 1, 1);
    long resident_kb = peak_kb();
    reset_peak();
    report("100 MiB .zwb, no cache", best_of_runs(module, {folder + "huge.zwb"}), 1, 20);
    printf("%-28s %8ld KB peak resident (%ld KB before)\n", "  while describing it", peak_kb(), resident_kb);
    report("playlist of 1 000 files", best_of_runs(module, playlist), playlist.size(), 500);
    remove_bench_folder(folder);
    return 0;
}
