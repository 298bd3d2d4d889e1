// tolvane replace: a bank (.xwb, .wba, .zwb) or stream pair with one
// record's sound replaced and everything else kept: every other record's
// bytes, the names, loops, order, version and alignment. The new sound is
// brought to the record's rate and channel count (unless asked to keep its
// own), and takes the new sound's loop, else the record's, scaled to the new
// length; the sound that follows it moves to the next aligned offset, and the
// records pointing there move with it.

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/little_endian.h"
#include "codec/xbox_adpcm.h"
#include "containers/stream_opener.h"
#include "containers/stream_pair.h"
#include "containers/wave_bank.h"
#include "containers/compressed_bank_writer.h"
#include "containers/container_writer.h"
#include "tools/tolvane/input/entry_input.h"
#include "containers/stream_pair_writer.h"
#include "containers/wave_bank_writer.h"
#include "tools/tolvane/commands/commands.h"
#include "tools/tolvane/input/encoded_audio_input.h"
#include "tools/tolvane/session/linked_zlib.h"
#include "containers/output_file.h"
#include "tools/tolvane/tool_common.h"
#include "containers/riff_wave_writer.h"

namespace fs = std::filesystem;

namespace {

typedef std::vector<uint8_t> bytes;

// The record being replaced, as the reader describes it.
struct old_record {
    std::string label;  // its name, else its number
    uint32_t rate = 0;
    uint32_t channels = 0;
    entry_codec codec = CODEC_XBOX_ADPCM;
    int64_t frames = 0;
    int64_t loop_start = -1;
    int64_t loop_end = -1;
};

std::string loop_words(int64_t start, int64_t end) {
    return std::to_string(start) + "-" + std::to_string(end);
}

// Gives the new sound its loop: --no-loop, --loop, the new sound's own, else
// the record's scaled to the new length. Says what became of it.
std::string choose_loop(const command_line& line, const old_record& old, bool pair, built_entry* sound,
                        std::string* warning) {
    int64_t frames = sound->frames();
    if (line.no_loop) {
        set_entry_loop(sound, -1, -1, warning);
        return "no loop (--no-loop)";
    }
    if (line.loop_start >= 0) {
        if (line.loop_end > frames) {
            *warning = "--loop " + loop_words(line.loop_start, line.loop_end) + " ends after its " +
                       std::to_string(frames) + " frames";
            set_entry_loop(sound, -1, -1, warning);
            return "no loop";
        }
        set_entry_loop(sound, line.loop_start, line.loop_end, warning);
    } else if (!sound->input_looped) {
        if (old.loop_start < 0) {
            set_entry_loop(sound, -1, -1, warning);
            return "no loop";
        }
        int64_t start = old.loop_start;
        int64_t end = old.loop_end;
        if (old.frames > 0 && old.frames != frames) {
            start = (int64_t)((double)start * frames / old.frames + 0.5);
            end = (int64_t)((double)end * frames / old.frames + 0.5);
        }
        if (!set_entry_loop(sound, start, end, warning)) {
            *warning = "the record's loop " + loop_words(old.loop_start, old.loop_end) +
                       " cannot be kept: " + "scaled to the new sound it holds no whole block set";
            return "no loop";
        }
        warning->clear();
    }
    if (sound->loop_start < 0) return "no loop";
    // A stream header only says "loops whole".
    if (pair && !(sound->loop_start == 0 && sound->loop_end == frames)) {
        *warning = "a stream header keeps only a loop over a whole entry: the loop " +
                   loop_words(sound->loop_start, sound->loop_end) + " is dropped";
        return "no loop";
    }
    std::string how = line.loop_start >= 0  ? "loop set at "
                      : sound->input_looped ? "its own loop at "
                                            : "loop kept at ";
    return how + loop_words(sound->loop_start, sound->loop_end);
}

// "48000 Hz stereo resampled to 22050 Hz mono", "22050 Hz mono".
std::string format_words(const built_entry& sound) {
    std::string from = std::to_string(sound.input_rate) + " Hz " + channel_words(sound.input_channels);
    std::string to = std::to_string(sound.rate) + " Hz " + channel_words(sound.channels);
    if (from == to) return to;
    const char* how = sound.input_rate == sound.rate ? " mixed to " : " resampled to ";
    return from + how + to;
}

bool kept_existing(const command_line& line, const std::string& path) {
    std::error_code probe;
    if (!line.no_clobber || line.in_place || !fs::exists(path, probe)) return false;
    fprintf(stderr, "tolvane: kept %s: it exists (--no-clobber)\n", path.c_str());
    return true;
}

}  // namespace

int run_replace(const command_line& line) {
    const std::string& bank_path = line.files[0];
    const std::string& sound_path = line.files[1];
    // --entry is a record number, or else a record's name.
    bool by_number = line.entries.find_first_not_of("0123456789") == std::string::npos;
    int32_t record = by_number ? atoi(line.entries.c_str()) : 0;
    stream_description d;
    description_init(&d);
    bool described = describe_stream(bank_path.c_str(), &LINKED_ZLIB, &d);
    stream_kind kind = d.kind;
    bool compressed = d.inflated;
    int32_t base = d.bank_base;
    bool has_record = false;
    old_record old;
    int32_t named = 0;
    for (int32_t i = 0; i < d.record_count && !by_number; ++i) {
        const char* name = record_name(&d, d.records[i]);
        if (name && line.entries == name && named++ == 0) record = d.records[i].record;
    }
    for (int32_t i = 0; i < d.record_count; ++i) {
        const entry_record& r = d.records[i];
        if (r.record != record || record == 0) continue;
        has_record = true;
        const char* name = record_name(&d, r);
        old.label = name && name[0] ? name : std::to_string(record);
        old.rate = r.rate > 0 && r.rate <= UINT32_MAX ? (uint32_t)r.rate : 0;
        old.channels = r.channels > 0 ? (uint32_t)r.channels : 0;
        old.frames = frames_in_bytes(r.codec, r.channels, r.length);
        old.codec = r.codec;
        if (r.loop_start >= 0 && r.loop_end > r.loop_start) {
            old.loop_start = r.loop_start;
            old.loop_end = r.loop_end;
        }
    }
    description_release(&d);
    if (!described) return failure("cannot read", bank_path, unreadable_reason(bank_path));
    if (kind != STREAM_BANK && kind != STREAM_PAIR)
        return failure("cannot replace in", bank_path, "not a wave bank or a stream pair");
    if (named > 1)
        return failure("cannot replace in", bank_path,
                       std::to_string(named) + " records are named " + line.entries + ": give its number");
    if (!has_record)
        return failure("cannot replace in", bank_path, (by_number ? "no record " : "no record named ") + line.entries);

    built_entry sound;
    std::string reason;
    std::string warning;
    // The record's format, unless the new sound keeps its own.
    entry_shape shape;
    if (!line.keep_input_format) {
        shape.rate = old.rate;
        shape.channels = old.channels;
    }
    // The codec is the record's: PCM at its depth, else Xbox ADPCM.
    shape.codec = old.codec == CODEC_PCM8    ? SHAPE_CODEC_PCM8
                  : old.codec == CODEC_PCM16 ? SHAPE_CODEC_PCM16
                                             : SHAPE_CODEC_XBOX_ADPCM;
    if (!read_entry_wave(sound_path, &sound, &reason, &warning, shape))
        return failure("cannot read", sound_path, reason);
    if (sound.rate > XBOX_HIGHEST_RATE)
        return failure("cannot replace with", sound_path,
                       std::to_string(sound.rate) + " Hz: the Xbox plays rates up to " +
                           std::to_string(XBOX_HIGHEST_RATE) + " Hz" +
                           (sound.source_path.empty() ? "; leave out --keep-input-format"
                                                      : " (an Xbox ADPCM WAVE is taken as it is)"));
    std::string misfit = entry_misfit(sound, kind == STREAM_PAIR ? BUILT_PAIR : BUILT_BANK);
    if (!misfit.empty()) return failure("cannot replace with", sound_path, misfit);
    if (!warning.empty() && !line.quiet) warn(sound_path, warning);
    warning.clear();
    std::string loop_said = choose_loop(line, old, kind == STREAM_PAIR, &sound, &warning);
    if (!warning.empty() && !line.quiet) warn(sound_path, warning);
    std::string report =
        "entry " + std::to_string(record) + " " + old.label + ": " + format_words(sound) + ", " + loop_said;
    if (sound.codec != CODEC_XBOX_ADPCM)
        report += ", as " + std::string(sound.codec == CODEC_PCM8 ? "8" : "16") + "-bit PCM";
    if (sound.rate != old.rate || sound.channels != old.channels || sound.codec != old.codec)
        report += " (the record's format changes)";

    std::string out = line.in_place ? bank_path : line.out;
    if (same_file(out, sound_path)) return failure("cannot replace in", bank_path, out + " is the new sound");
    std::string error;
    if (kind == STREAM_PAIR) {
        std::string header_path = with_extension(bank_path, "xsh");
        std::string data_path = with_extension(bank_path, "xsd");
        bytes header;
        bytes data;
        if (!read_whole_file(header_path.c_str(), &header) || !read_whole_file(data_path.c_str(), &data))
            return failure("cannot read", bank_path, "its pair cannot be read whole");
        if (!patch_pair_entry(&header, &data, record, sound, &error))
            return failure("cannot replace in", bank_path, error);
        std::string out_header = with_extension(out, "xsh");
        std::string out_data = with_extension(out, "xsd");
        if (!line.in_place && (same_file(out_header, header_path) || same_file(out_data, data_path)))
            return failure("cannot replace in", bank_path, "-o names the pair itself; give --in-place to rewrite it");
        if (kept_existing(line, out_header)) return EXIT_OK;
        if (!write_output_file(out_data, data.data(), data.size(), line.no_clobber && !line.in_place, &error))
            return failure("cannot write", out_data, error);
        if (!write_output_file(out_header, header.data(), header.size(), line.no_clobber && !line.in_place, &error))
            return failure("cannot write", out_header, error);
        if (!line.quiet) printf("%s\nwrote %s and %s\n", report.c_str(), out_header.c_str(), out_data.c_str());
        return EXIT_OK;
    }

    bytes file;
    if (!read_whole_file(bank_path.c_str(), &file)) return failure("cannot read", bank_path, "it cannot be read whole");
    bytes bank;
    if (compressed && !inflate_bank(file, &bank))
        return failure("cannot replace in", bank_path, "its zlib stream is damaged");
    bytes& edited = compressed ? bank : file;
    if (!patch_bank_entry(&edited, compressed ? 0 : (size_t)base, record, sound, &error))
        return failure("cannot replace in", bank_path, error);
    bytes written;
    if (compressed) {
        if (!compress_bank(bank, &written)) return failure("cannot replace in", bank_path, "zlib cannot pack it");
        // The four bytes in front of the size are the original's.
        memcpy(written.data(), file.data(), 4);
    }
    const bytes& result = compressed ? written : file;
    if (!line.in_place && same_file(out, bank_path))
        return failure("cannot replace in", bank_path, "-o names the bank itself; give --in-place to rewrite it");
    if (kept_existing(line, out)) return EXIT_OK;
    if (!write_output_file(out, result.data(), result.size(), line.no_clobber && !line.in_place, &error))
        return failure("cannot write", out, error);
    if (!line.quiet) printf("%s\nwrote %s\n", report.c_str(), out.c_str());
    return EXIT_OK;
}
