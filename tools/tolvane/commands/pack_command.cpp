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

#include "codec/little_endian.h"
#include "codec/ms_adpcm.h"
#include "codec/ms_adpcm_encoder.h"
#include "codec/xbox_adpcm.h"
#include "containers/byte_source.h"
#include "containers/container_writer.h"
#include "containers/file_names.h"
#include "containers/riff_wave.h"
#include "containers/wave_bank_writer.h"
#include "tools/tolvane/input/entry_input.h"
#include "tools/tolvane/commands/commands.h"
#include "tools/tolvane/input/encoded_audio_input.h"
#include "tools/tolvane/tool_common.h"

namespace fs = std::filesystem;

namespace {

// Microsoft ADPCM entries of a Windows bank are encoded in blocks of about
// this many bytes, as replace encodes them.
const uint32_t MS_ADPCM_BLOCK_BYTES = 512;

// What a WAVE input is, as far as a Windows bank cares.
struct wave_input {
    bool wave = false;
    uint16_t tag = 0;   // an extensible format's subformat tag
    int pcm_depth = 0;  // 8 or 16 for a PCM WAVE of that depth
    // A Microsoft ADPCM WAVE of the standard coefficients whose blocks a
    // bank's block field states: that field; -1 for any other.
    int32_t block_field = -1;
    wave_chunks chunks;
    int64_t file_bytes = 0;
};

// The block field of a Microsoft ADPCM format chunk's blocks, or -1 when a
// bank cannot state them as they are (a block of more than 277 bytes per
// channel, frames per block that do not match, other coefficients).
int32_t bank_block_field(const uint8_t* format, int32_t format_bytes) {
    const int32_t COEFFICIENTS_AT = 22;
    if (format_bytes < COEFFICIENTS_AT + 4 * MS_ADPCM_PREDICTORS) return -1;
    uint32_t channels = read_u16le(format + 2);
    uint32_t block_align = read_u16le(format + 12);
    if (channels == 0 || block_align % channels != 0 || read_u16le(format + 20) != MS_ADPCM_PREDICTORS) return -1;
    uint32_t per_channel = block_align / channels;
    if (per_channel < 22 || per_channel - 22 > MS_ADPCM_BLOCK_FIELD_MAX) return -1;
    uint32_t field = per_channel - 22;
    if (read_u16le(format + 18) != (uint32_t)ms_adpcm_block_frames(field)) return -1;
    for (int i = 0; i < MS_ADPCM_PREDICTORS; ++i)
        if (read_s16le(format + COEFFICIENTS_AT + 4 * i) != MS_ADPCM_COEFFICIENTS[i][0] ||
            read_s16le(format + COEFFICIENTS_AT + 4 * i + 2) != MS_ADPCM_COEFFICIENTS[i][1])
            return -1;
    return (int32_t)field;
}

wave_input probe_wave(const std::string& path) {
    wave_input input;
    file_handle file = file_open_read(path.c_str());
    if (file == INVALID_FILE) return input;
    byte_source source = source_of_file(file);
    input.wave = read_wave_chunks(&source, &input.chunks) && input.chunks.has_format && input.chunks.has_data;
    input.file_bytes = source_size(&source);
    input.tag = input.chunks.format.format_tag;
    if (input.tag == WAVE_FORMAT_EXTENSIBLE && input.chunks.extension_bytes >= 22)
        input.tag = read_u16le(input.chunks.subformat);
    int bits = input.chunks.format.bits_per_sample;
    if (input.wave && input.tag == WAVE_FORMAT_PCM && (bits == 8 || bits == 16)) input.pcm_depth = bits;
    uint8_t format[64] = {};
    int32_t format_bytes = input.wave && input.tag == MS_ADPCM_TAG ? find_riff_chunk(&source, "fmt ") : -1;
    if (format_bytes > 0) {
        int32_t wanted = std::min<int32_t>(format_bytes, (int32_t)sizeof format);
        if (source_read(&source, format, wanted) == wanted) input.block_field = bank_block_field(format, wanted);
    }
    file_close(file);
    return input;
}

// A Microsoft ADPCM WAVE taken as it is: its whole blocks, from the file.
bool kept_ms_adpcm_wave(const std::string& path, const wave_input& input, built_entry* entry, std::string* reason,
                        std::string* warning) {
    const wave_chunks& chunks = input.chunks;
    *entry = built_entry();
    std::string stem = base_name(path.c_str());
    entry->name = chunks.name[0] ? chunks.name : stem.substr(0, stem.rfind('.'));
    entry->codec = CODEC_MS_ADPCM;
    entry->block_field = (uint32_t)input.block_field;
    entry->rate = entry->input_rate = chunks.format.sample_rate;
    entry->channels = entry->input_channels = chunks.format.channels;
    int64_t block_bytes = ms_adpcm_block_bytes(entry->block_field, entry->channels);
    int64_t present = std::min<int64_t>(chunks.data_bytes, input.file_bytes - chunks.data_start);
    entry->source_path = path;
    entry->source_offset = chunks.data_start;
    entry->source_bytes = present > 0 ? present / block_bytes * block_bytes : 0;
    if (entry->rate == 0 || entry->source_bytes == 0) {
        *reason = "a Microsoft ADPCM WAVE that holds no whole block of sound";
        return false;
    }
    entry->input_looped = chunks.loop_start >= 0;
    if (entry->input_looped) set_entry_loop(entry, chunks.loop_start, chunks.loop_end, warning);
    return true;
}

// An Xbox ADPCM WAVE's block sets as 16-bit PCM, brought to the shape.
bool decoded_xbox_adpcm_wave(const entry_shape& shape, built_entry* entry, std::string* reason) {
    std::vector<uint8_t> adpcm;
    std::string error;
    if (!append_entry_sound(*entry, &adpcm, &error) || adpcm.size() > (size_t)INT32_MAX) {
        *reason = error.empty() ? "cannot be read" : error;
        return false;
    }
    input_sound sound;
    sound.rate = entry->rate;
    sound.channels = entry->channels;
    sound.pcm.resize(adpcm.size() / block_set_bytes(entry->channels) * SAMPLES_PER_BLOCK * entry->channels);
    decode_blocks(adpcm.data(), (int32_t)adpcm.size(), sound.pcm.data(), entry->channels);
    sound.loop_start = entry->loop_start;
    sound.loop_end = entry->loop_end;
    mix_input_sound(&sound, shape.channels);
    if (!resample_input_sound(&sound, shape.rate, reason)) return false;
    entry->rate = sound.rate;
    entry->channels = (uint16_t)sound.channels;
    entry->codec = CODEC_PCM16;
    entry->source_path.clear();
    entry->adpcm.resize(sound.pcm.size() * 2);
    for (size_t i = 0; i < sound.pcm.size(); ++i) write_u16le(&entry->adpcm[2 * i], (uint16_t)sound.pcm[i]);
    entry->loop_start = sound.loop_start;
    entry->loop_end = sound.loop_end;
    return true;
}

// A 16-bit PCM entry encoded to Microsoft ADPCM, its loop in whole blocks.
void encode_entry_to_ms_adpcm(built_entry* entry, std::string* warning) {
    std::vector<int16_t> pcm(entry->adpcm.size() / 2);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = read_s16le(&entry->adpcm[2 * i]);
    int64_t loop_start = entry->loop_start;
    int64_t loop_end = entry->loop_end;
    entry->codec = CODEC_MS_ADPCM;
    entry->block_field = ms_adpcm_field_for(entry->channels, MS_ADPCM_BLOCK_BYTES);
    entry->adpcm = encode_ms_adpcm(pcm.data(), pcm.size() / entry->channels, entry->channels, entry->block_field);
    set_entry_loop(entry, loop_start, loop_end, warning);
}

// An input for a Windows bank: a PCM WAVE as PCM of its depth, a Microsoft
// ADPCM WAVE whose blocks the bank can state as it is, every other input
// (an Xbox ADPCM WAVE decoded here) as Microsoft ADPCM; --codec forces PCM or
// Microsoft ADPCM.
bool read_windows_entry(const std::string& path, const command_line& line, built_entry* entry, std::string* reason,
                        std::string* warning) {
    wave_input input = probe_wave(path);
    bool as_pcm = line.codec == "pcm" || (line.codec.empty() && input.pcm_depth > 0);
    const wave_format& format = input.chunks.format;
    bool reshaped =
        (line.rate && line.rate != format.sample_rate) || (line.channels && line.channels != format.channels);
    if (!as_pcm && input.block_field >= 0 && !reshaped) return kept_ms_adpcm_wave(path, input, entry, reason, warning);
    entry_shape shape;
    shape.rate = line.rate;
    shape.channels = line.channels;
    shape.codec = as_pcm ? SHAPE_CODEC_PCM : SHAPE_CODEC_PCM16;
    if (!read_entry_wave(path, entry, reason, warning, shape)) return false;
    if (entry->codec == CODEC_XBOX_ADPCM && !decoded_xbox_adpcm_wave(shape, entry, reason)) return false;
    if (!as_pcm) encode_entry_to_ms_adpcm(entry, warning);
    return true;
}

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
        if (!line.codec.empty()) shape.codec = line.codec == "pcm" ? SHAPE_CODEC_PCM : SHAPE_CODEC_XBOX_ADPCM;
        bool read = windows ? read_windows_entry(path, line, &entry, &reason, &warning)
                            : read_entry_wave(path, &entry, &reason, &warning, shape);
        if (!read) return failure("cannot pack", path, reason);
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
