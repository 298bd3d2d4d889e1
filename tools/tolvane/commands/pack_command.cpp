// tolvane pack: builds a wave bank (.xwb, .wba, .zwb) or a stream pair
// (.xsh + .xsd) from sound files, one entry each, in the order given, each
// brought to --rate and --channels when given.

#include <stdio.h>

#include <filesystem>
#include <string>
#include <vector>

#include "containers/container_writer.h"
#include "tools/tolvane/input/entry_input.h"
#include "tools/tolvane/commands/commands.h"
#include "tools/tolvane/input/encoded_audio_input.h"
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
        entry_shape shape;
        shape.rate = line.rate;
        shape.channels = line.channels;
        if (!line.codec.empty()) shape.codec = line.codec == "pcm" ? SHAPE_CODEC_PCM : SHAPE_CODEC_XBOX_ADPCM;
        if (!read_entry_wave(path, &entry, &reason, &warning, shape)) return failure("cannot pack", path, reason);
        std::string too_fast = input_rate_misfit(entry.input_rate, shape);
        if (!too_fast.empty()) return failure("cannot pack", path, too_fast);
        bool reshaped =
            (shape.rate && shape.rate != entry.rate) || (shape.channels && shape.channels != entry.channels);
        if (reshaped)
            return failure("cannot pack", path,
                           "an Xbox ADPCM WAVE of " + std::to_string(entry.rate) + " Hz " +
                               channel_words(entry.channels) +
                               " is taken as it is, never re-encoded to another format");
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
    if (!line.quiet)
        for (const std::string& text : names_cut(entries, bank_name, kind)) warn(line.out, text);
    std::string error;
    if (!write_built_container(entries, bank_name, line.align, kind, line.out, line.no_clobber, &error))
        return failure("cannot write", line.out, error);
    if (!line.quiet)
        printf("wrote %s (%u entr%s)\n", line.out.c_str(), (unsigned)entries.size(), entries.size() == 1 ? "y" : "ies");
    return EXIT_OK;
}
