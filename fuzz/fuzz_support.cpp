// Scratch files and state resets for the fuzz targets.

#include "fuzz/fuzz_support.h"

#include <stdio.h>
#include <stdlib.h>

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
