// tolvane pack: builds a wave bank (.xwb, .wba, .zwb) or a stream pair
// (.xsh + .xsd) from WAVE files, one entry each, in the order given.

#include <stdio.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tools/tolvane/bank_builder.h"
#include "tools/tolvane/commands.h"
#include "tools/tolvane/tool_common.h"

namespace fs = std::filesystem;

int run_pack(const command_line& line) {
    built_kind kind;
    if (!built_kind_of(line.out, &kind))
        return usage_error("pack writes .xwb, .wba, .zwb or .xsh (with its .xsd), not " + line.out, "pack");
    std::error_code probe;
    if (line.no_clobber && fs::exists(line.out, probe)) {
        fprintf(stderr, "tolvane: kept %s: it exists (--no-clobber)\n", line.out.c_str());
        return EXIT_OK;
    }
    std::vector<built_entry> entries;
    for (const std::string& path : line.files) {
        if (same_file(path, line.out)) return failure("cannot pack", path, "it is the output; it is never overwritten");
        built_entry entry;
        std::string reason;
        std::string warning;
        if (!read_entry_wave(path, &entry, &reason, &warning)) return failure("cannot pack", path, reason);
        std::string misfit = entry_misfit(entry, kind);
        if (!misfit.empty()) return failure("cannot pack", path, misfit);
        bool loop_kept =
            entry.loop_start < 0 || kind != BUILT_PAIR || (entry.loop_start == 0 && entry.loop_end == entry.frames());
        if (!loop_kept) warning = "a stream header keeps only a loop over a whole entry: its loop is dropped";
        if (!warning.empty() && !line.quiet) warn(path, warning);
        entries.push_back(entry);
    }
    std::string stem = fs::path(line.out).stem().string();
    std::string bank_name = line.bank_name.empty() ? stem : line.bank_name;
    std::string error;
    if (!write_built_container(entries, bank_name, line.align, kind, line.out, line.no_clobber, &error))
        return failure("cannot write", line.out, error);
    if (!line.quiet)
        printf("wrote %s (%u entr%s)\n", line.out.c_str(), (unsigned)entries.size(), entries.size() == 1 ? "y" : "ies");
    return EXIT_OK;
}
