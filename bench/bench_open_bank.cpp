// Opening a wave bank of 100 000 entries, as Play does, against the floor of
// the job: the same file read into memory in one call and its records
// decoded in a plain loop. Best of five runs each; prints both times and
// their ratio. Then `tolvane info` listing the bank, a row per record,
// against listing a bank of 1 000: time and peak memory of each. It reports
// and always exits 0.

#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <vector>

#include "bench/bench_support.h"
#include "codec/little_endian.h"
#include "platform/platform.h"
#include "reference/bank_writer.h"

namespace {

const uint32_t ENTRIES = 100000;
const uint32_t ENTRY_BYTES = 72;  // one stereo block set each
const int RUNS = 5;

bytes build_bank() {
    return bank_of_entries(ENTRIES, ENTRY_BYTES, bytes(ENTRY_BYTES, 0));
}

// The floor: one read of the whole file, then the three fields of every
// record taken out in a loop.
double time_plain_parse(const std::string& path, uint64_t* checksum) {
    auto start = std::chrono::steady_clock::now();
    file_handle file = file_open_read(path.c_str());
    if (file == INVALID_FILE) return -1;
    bytes content((size_t)file_size(file));
    int32_t got = file_read(file, content.data(), (int32_t)content.size());
    file_close(file);
    if (got != (int32_t)content.size()) return -1;
    std::vector<uint32_t> format(ENTRIES), offset(ENTRIES), length(ENTRIES);
    for (uint32_t e = 0; e < ENTRIES; ++e) {
        const uint8_t* record = &content[BANK_HEADER_BYTES + BANK_DATA_BYTES + e * BANK_RECORD_BYTES];
        format[e] = read_u32le(record + 4);
        offset[e] = read_u32le(record + 8);
        length[e] = read_u32le(record + 12);
    }
    double elapsed = seconds_since(start);
    *checksum += format[ENTRIES - 1] + offset[ENTRIES / 2] + length[0];
    return elapsed;
}

// Runs `tolvane info` on path with its listing thrown away: the time, and
// the peak memory of the largest child run so far.
double time_listing(const std::string& path, long* peak_kb) {
    std::string command = std::string(TOLVANE_BIN_DIR) + "/tolvane info '" + path + "' > /dev/null";
    auto start = std::chrono::steady_clock::now();
    int status = system(command.c_str());
    double elapsed = seconds_since(start);
    struct rusage usage;
    getrusage(RUSAGE_CHILDREN, &usage);
    *peak_kb = usage.ru_maxrss;
    return status == 0 ? elapsed : -1;
}

double time_open(const std::string& path, int32_t* entries) {
    auto start = std::chrono::steady_clock::now();
    *entries = open_like_play(path);
    return seconds_since(start);
}

}  // namespace

int main() {
    std::string folder = make_bench_folder("tolvane-bench-bank");
    if (folder.empty()) {
        printf("bench_open_bank: cannot make a folder under the temporary directory\n");
        return 0;
    }
    const std::string path = folder + "bank.xwb";
    bytes bank = build_bank();
    if (!write_file(path, bank)) printf("bench_open_bank: cannot write %s\n", path.c_str());
    printf("bench_open_bank: %u entries, %.1f MiB\n", ENTRIES, (double)bank.size() / (1 << 20));

    double plain_best = -1, open_best = -1;
    int32_t entries = 0;
    uint64_t checksum = 0;
    for (int run = 0; run < RUNS; ++run) {
        double plain = time_plain_parse(path, &checksum);
        double open = time_open(path, &entries);
        if (plain >= 0 && (plain_best < 0 || plain < plain_best)) plain_best = plain;
        if (entries == (int32_t)ENTRIES && (open_best < 0 || open < open_best)) open_best = open;
    }
    printf("read + plain parse:  %8.2f ms (best of %d)\n", plain_best * 1000, RUNS);
    printf("open like Play:      %8.2f ms (best of %d, %.0f ns per entry)\n", open_best * 1000, RUNS,
           open_best * 1e9 / ENTRIES);
    if (plain_best > 0 && open_best > 0)
        printf("ratio open/plain:    %8.2f\n", open_best / plain_best);
    else
        printf("ratio open/plain:    not measured (%s)\n",
               entries != (int32_t)ENTRIES ? "the bank was refused or cut" : "read failed");
    // The listing of a small bank first, so the peak of the children is its own.
    const std::string small_path = folder + "small.xwb";
    write_file(small_path, bank_of_entries(1000, ENTRY_BYTES, bytes(ENTRY_BYTES, 0)));
    long small_kb = 0, big_kb = 0;
    double small_s = time_listing(small_path, &small_kb);
    double big_s = time_listing(path, &big_kb);
    printf("tolvane info, 1 000 rows:   %8.1f ms, peak %6ld KB\n", small_s * 1000, small_kb);
    printf("tolvane info, 100 000 rows: %8.1f ms, peak %6ld KB (target < 500 ms)\n", big_s * 1000, big_kb);
    // Looking at what the plain parse read also keeps it from being
    // optimised away.
    if (checksum == 0) printf("bench_open_bank: the plain parse read no records\n");
    remove_bench_folder(folder);
    return 0;
}
