// Scratch files and state resets for the fuzz targets.

#include "fuzz/fuzz_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>

namespace fs = std::filesystem;

const std::string& fuzz_folder() {
    static std::string folder;
    if (folder.empty()) {
        // TOLVANE_FUZZ_DIR may point at a memory-backed folder: every input
        // goes through a file, and the file system sets the pace.
        const char* parent = getenv("TOLVANE_FUZZ_DIR");
        fs::path base = (parent && *parent ? fs::path(parent) : fs::temp_directory_path()) /
                        ("tolvane-fuzz-" + std::to_string(process_id()) + "-" + std::to_string((unsigned)clock_ms()));
        fs::create_directories(base);
        folder = base.string() + PLATFORM_PATH_SEPARATOR;
        // Where the compressed-bank cache goes (TMPDIR on POSIX, TMP/TEMP on
        // Windows); kept for the life of the process.
        static std::string tmpdir = "TMPDIR=" + folder, tmp = "TMP=" + folder, temp = "TEMP=" + folder;
        putenv(&tmpdir[0]);
        putenv(&tmp[0]);
        putenv(&temp[0]);
    }
    return folder;
}

std::string write_fuzz_file(const std::string& name, const uint8_t* data, size_t size) {
    std::string path = fuzz_folder() + name;
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) abort();
    if (size > 0 && fwrite(data, 1, size, file) != size) abort();
    fclose(file);
    return path;
}

void clear_fuzz_folder() {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(fuzz_folder(), error)) {
        std::string name = entry.path().filename().string();
        if (name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0) {
            fprintf(stderr, "a partial inflation was left behind: %s\n", name.c_str());
            abort();
        }
        fs::remove(entry.path(), error);
    }
}

void check_description(const stream_description& d) {
    if (d.record_count < 0 || d.record_count > d.record_capacity) abort();
    int32_t playing = 0;
    for (int32_t i = 0; i < d.record_count; ++i) {
        const entry_record& record = d.records[i];
        if (i > 0 && record.record <= d.records[i - 1].record) abort();
        if (record.loop_start != NO_FRAMES && (record.loop_start < 0 || record.loop_end <= record.loop_start)) abort();
        if (record.name_at != NO_NAME &&
            (record.name_at < 0 || record.name_at >= d.names_bytes ||
             !memchr(d.names + record.name_at, 0, (size_t)(d.names_bytes - record.name_at))))
            abort();
        if (record.skipped != NOT_SKIPPED) continue;
        playing++;
        if (record.offset < 0 && d.kind == STREAM_BANK) abort();
        if (record.offset > INT32_MAX || !stream_format_is_playable(record.rate, record.channels)) abort();
    }
    if (playing != d.entry_count) abort();
}

void check_same_records(const stream_description& a, const stream_description& b) {
    if (a.record_count != b.record_count || a.entry_count != b.entry_count) abort();
    for (int32_t i = 0; i < a.record_count; ++i) {
        const entry_record& x = a.records[i];
        const entry_record& y = b.records[i];
        if (x.offset != y.offset || x.length != y.length || x.rate != y.rate || x.channels != y.channels ||
            x.record != y.record || x.skipped != y.skipped || x.codec != y.codec || x.loop_start != y.loop_start ||
            x.loop_end != y.loop_end || x.stated_frames != y.stated_frames ||
            strcmp(record_name(&a, x), record_name(&b, y)) != 0)
            abort();
    }
    if (a.layout_version != b.layout_version || strcmp(a.bank_name, b.bank_name) != 0) abort();
}
