// tolvane pack: builds a wave bank (.xwb, .wba, .zwb) or a stream pair
// (.xsh + .xsd) from sound files, one entry each, in the order given, each
// brought to --rate and --channels when given. With --platform windows it
// builds a bank of content version 46 of PCM and Microsoft ADPCM entries.

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "containers/container_writer.h"
#include "containers/wave_bank_writer.h"
#include "tools/tolvane/input/entry_input.h"
#include "tools/tolvane/commands/commands.h"
#include "tools/tolvane/input/encoded_audio_input.h"
#include "tools/tolvane/tool_common.h"

namespace fs = std::filesystem;

namespace {

// What the bank keeps of the names it cannot keep whole; a Windows bank's
// name has a field of 64 bytes.
std::vector<std::string> names_said(const std::vector<built_entry>& entries, const std::string& bank_name,
                                    built_kind kind, bool windows) {
    std::vector<std::string> said = names_cut(entries, windows ? "" : bank_name, kind);
    size_t kept = text_field_kept(bank_name, LONGEST_BANK_NAME_BYTES);
    if (windows && kept < bank_name.size())
        said.insert(said.begin(), "the bank's name \"" + bank_name + "\" is kept as \"" + bank_name.substr(0, kept) +
                                      "\" (its field holds " + std::to_string(LONGEST_BANK_NAME_BYTES - 1) + " bytes)");
    return said;
}

}  // namespace

int run_pack(const command_line& line) {
    built_kind kind;
    if (!built_kind_of(line.out, &kind))
        return usage_error("pack writes .xwb, .wba, .zwb or .xsh (with its .xsd), not " + line.out, "pack");
    bool windows = line.platform == "windows";
    if (windows && kind != BUILT_BANK)
        return usage_error(
            "--platform windows writes a .xwb bank only: Windows games read no .wba, .zwb or stream "
            "pair, not " +
                line.out,
            "pack");
    if (kept_existing(line, line.out)) return EXIT_OK;
    std::vector<built_entry> entries;
    for (const std::string& path : line.files) {
        if (same_file(path, line.out)) return failure("cannot pack", path, "it is the output; it is never overwritten");
        built_entry entry;
        std::string reason;
        std::string warning;
        entry_shape shape;
        shape.rate = line.rate;
        shape.channels = line.channels;
        if (!line.codec.empty()) shape.codec = line.codec == "pcm" ? SHAPE_CODEC_PCM : SHAPE_CODEC_ADPCM;
        if (windows) shape.bank_adpcm = CODEC_MS_ADPCM;
        if (!read_entry_wave(path, &entry, &reason, &warning, shape)) return failure("cannot pack", path, reason);
        std::string too_fast = input_rate_misfit(entry.input_rate, shape);
        if (!too_fast.empty()) return failure("cannot pack", path, too_fast);
        bool reshaped = !windows && ((shape.rate && shape.rate != entry.rate) ||
                                     (shape.channels && shape.channels != entry.channels));
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
        for (const std::string& text : names_said(entries, bank_name, kind, windows)) warn(line.out, text);
    std::string error;
    bool written = windows
                       ? write_wave_bank(entries, bank_name, line.align, false, line.out, line.no_clobber, &error,
                                         BANK_FOR_WINDOWS)
                       : write_built_container(entries, bank_name, line.align, kind, line.out, line.no_clobber, &error);
    if (!written) return failure("cannot write", line.out, error);
    if (!line.quiet)
        printf("wrote %s (%u entr%s)\n", line.out.c_str(), (unsigned)entries.size(), entries.size() == 1 ? "y" : "ies");
    return EXIT_OK;
}
