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

#include "containers/wave_bank.h"
#include "containers/compressed_bank_writer.h"
#include "containers/container_writer.h"
#include "tools/tolvane/input/entry_input.h"
#include "containers/stream_pair_writer.h"
#include "containers/wave_bank_writer.h"
#include "tools/tolvane/cli/file_report.h"
#include "tools/tolvane/cli/render_plan.h"
#include "tools/tolvane/commands/commands.h"
#include "tools/tolvane/input/encoded_audio_input.h"
#include "tools/tolvane/session/linked_zlib.h"
#include "containers/output_file.h"
#include "tools/tolvane/tool_common.h"
#include "containers/riff_wave_writer.h"

namespace fs = std::filesystem;

namespace {

typedef std::vector<uint8_t> bytes;

// A record that may be replaced, as the reader describes it.
struct old_record {
    int32_t record = 0;
    std::string name;           // its name, from the bank or its sound bank; "" for none
    std::string label;          // its name, else its number
    std::string file_label;     // what extract -o DIR/{label}.wav names its file
    std::string numbered_name;  // what extract -o DIR/ names it: the bank's stem and its number
    uint32_t rate = 0;
    uint32_t channels = 0;
    entry_codec codec = CODEC_XBOX_ADPCM;
    uint32_t block_field = 0;
    int64_t frames = 0;
    int64_t loop_start = -1;
    int64_t loop_end = -1;
};

// One replacement: the record, the file that replaces it, and its sound.
struct replacement {
    const old_record* old = nullptr;
    std::string sound_path;
    built_entry sound;
    std::string report;
};

// The container being edited.
struct edited_container {
    std::string path;
    stream_kind kind = STREAM_RAW;
    bool windows = false;  // a bank of content version 41 to 46: no Xbox ADPCM
    bool compressed = false;
    int32_t base = 0;
    std::vector<old_record> records;
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

// The records of the bank or pair, named as info and extract name them.
// EXIT_OK, else the failure said.
int read_records(const command_line& line, const std::string& bank_path, edited_container* c) {
    described_file file;
    file_failure failed;
    if (!describe_for_tool(line, bank_path, false, &file, &failed))
        return failure("cannot read", bank_path, unreadable_reason(bank_path));
    const stream_description& d = file.d;
    c->path = bank_path;
    c->kind = d.kind;
    c->compressed = d.inflated;
    c->windows = d.kind == STREAM_BANK && d.layout_version >= FIRST_WINDOWS_BANK_VERSION;
    c->base = d.bank_base;
    if (c->kind != STREAM_BANK && c->kind != STREAM_PAIR)
        return failure("cannot replace in", bank_path, "not a wave bank or a stream pair");
    std::vector<sound_unit> units;
    for (int32_t i = 0; i < d.record_count; ++i) {
        const entry_record& r = d.records[i];
        old_record old;
        old.record = r.record;
        const char* name = record_name(&d, r);
        old.name = name ? name : "";
        old.label = old.name.empty() ? std::to_string(r.record) : old.name;
        old.rate = r.rate > 0 && r.rate <= UINT32_MAX ? (uint32_t)r.rate : 0;
        old.channels = r.channels > 0 ? (uint32_t)r.channels : 0;
        old.frames = frames_in_bytes(r.codec, r.channels, r.length, r.block_field);
        old.codec = r.codec;
        old.block_field = r.block_field;
        if (r.loop_start >= 0 && r.loop_end > r.loop_start) {
            old.loop_start = r.loop_start;
            old.loop_end = r.loop_end;
        }
        c->records.push_back(old);
        units.emplace_back(i, r.record, i, old.rate, (uint16_t)old.channels, old.frames, 0, 0, old.name);
    }
    mark_shared_names(d, &units);
    int width = record_width(d);
    for (size_t i = 0; i < units.size(); ++i) {
        c->records[i].file_label = file_label(units[i], width);
        c->records[i].numbered_name = stem_of(bank_path) + "-" + padded_record(c->records[i].record, width);
    }
    return EXIT_OK;
}

// The record --entry names: a number, or a name only one record has.
int find_entry(const command_line& line, const edited_container& c, const old_record** found) {
    bool by_number = line.entries.find_first_not_of("0123456789") == std::string::npos;
    int32_t wanted = by_number ? atoi(line.entries.c_str()) : 0;
    int named = 0;
    for (const old_record& old : c.records) {
        if (by_number ? old.record != wanted || wanted == 0 : old.name != line.entries) continue;
        if (named++ == 0) *found = &old;
    }
    if (named > 1)
        return failure("cannot replace in", c.path,
                       std::to_string(named) + " records are named " + line.entries + ": give its number");
    if (named == 0)
        return failure("cannot replace in", c.path, (by_number ? "no record " : "no record named ") + line.entries);
    return EXIT_OK;
}

// The codec the new sound is stored in. A record of a codec the tool writes
// (PCM at its depth, Microsoft or Xbox ADPCM) keeps it, and --codec may only
// name that one. Any other (xWMA, WMA Pro, XMA; an Xbox bank's WMA) becomes
// what --codec asks among the bank's codecs: 16-bit PCM, or by default the
// bank's ADPCM, Microsoft ADPCM in blocks of about 512 bytes for a Windows
// bank. False with the refusal.
bool choose_codec(const command_line& line, const edited_container& c, const old_record& old, entry_shape* shape,
                  std::string* refused) {
    bool pcm16 = old.codec == CODEC_PCM16 || old.codec == CODEC_PCM16_BE;
    bool pcm = pcm16 || old.codec == CODEC_PCM8;
    bool kept = pcm || old.codec == CODEC_MS_ADPCM || old.codec == CODEC_XBOX_ADPCM;
    const char* bank_adpcm = c.windows ? "ms-adpcm" : "xbox-adpcm";
    const char* own = pcm ? "pcm" : old.codec == CODEC_MS_ADPCM ? "ms-adpcm" : "xbox-adpcm";
    std::string record = "record " + std::to_string(old.record) + " is " + codec_name(old.codec);
    if (kept && !line.codec.empty() && line.codec != own) {
        *refused =
            record + " and stays so: --codec " + line.codec + " chooses what an xWMA, WMA Pro or XMA record becomes";
        return false;
    }
    if (!kept && !line.codec.empty() && line.codec != "pcm" && line.codec != bank_adpcm) {
        *refused = record +
                   (c.windows ? "; a Windows or Xbox 360 bank holds PCM or Microsoft ADPCM, not "
                              : "; an Xbox bank holds PCM or Xbox ADPCM, not ") +
                   line.codec;
        return false;
    }
    if (kept)
        shape->codec = old.codec == CODEC_PCM8 ? SHAPE_CODEC_PCM8 : pcm16 ? SHAPE_CODEC_PCM16 : SHAPE_CODEC_ADPCM;
    else
        shape->codec = line.codec == "pcm" ? SHAPE_CODEC_PCM16 : SHAPE_CODEC_ADPCM;
    shape->bank_adpcm = c.windows ? CODEC_MS_ADPCM : CODEC_XBOX_ADPCM;
    if (old.codec == CODEC_MS_ADPCM) shape->block_field = (int32_t)old.block_field;
    return true;
}

// Reads the new sound for the record, in the record's format, codec and loop
// unless asked otherwise, and says what was done. EXIT_OK, else the failure
// said.
int prepare(const command_line& line, const edited_container& c, replacement* r) {
    const old_record& old = *r->old;
    built_entry& sound = r->sound;
    std::string reason;
    std::string warning;
    // The record's format, unless the new sound keeps its own.
    entry_shape shape;
    if (!line.keep_input_format) {
        shape.rate = old.rate;
        shape.channels = old.channels;
    }
    std::string refused;
    if (!choose_codec(line, c, old, &shape, &refused)) return failure("cannot replace in", c.path, refused);
    const std::string& sound_path = r->sound_path;
    if (!read_entry_wave(sound_path, &sound, &reason, &warning, shape))
        return failure("cannot read", sound_path, reason);
    if (sound.rate > XBOX_HIGHEST_RATE)
        return failure("cannot replace with", sound_path,
                       std::to_string(sound.rate) + " Hz: the Xbox plays rates up to " +
                           std::to_string(XBOX_HIGHEST_RATE) + " Hz" +
                           (sound.source_path.empty() ? "; leave out --keep-input-format"
                                                      : " (an Xbox ADPCM WAVE is taken as it is)"));
    std::string misfit = entry_misfit(sound, c.kind == STREAM_PAIR ? BUILT_PAIR : BUILT_BANK);
    if (!misfit.empty()) return failure("cannot replace with", sound_path, misfit);
    if (!warning.empty() && !line.quiet) warn(sound_path, warning);
    warning.clear();
    std::string loop_said = choose_loop(line, old, c.kind == STREAM_PAIR, &sound, &warning);
    if (!warning.empty() && !line.quiet) warn(sound_path, warning);
    r->report = "entry " + std::to_string(old.record) + " " + old.label + ": " + format_words(sound) + ", " + loop_said;
    if (sound.codec == CODEC_MS_ADPCM)
        r->report += ", as Microsoft ADPCM";
    else if (sound.codec != CODEC_XBOX_ADPCM)
        r->report += ", as " + std::string(sound.codec == CODEC_PCM8 ? "8" : "16") + "-bit PCM";
    if (codec_key(sound.codec) != std::string(codec_key(old.codec)))
        r->report += std::string(", ") + codec_key(old.codec) + " -> " + codec_key(sound.codec);
    if (sound.rate != old.rate || sound.channels != old.channels || sound.codec != old.codec)
        r->report += " (the record's format changes)";
    return EXIT_OK;
}

// The replacements a folder holds: each file whose name without its
// extension is a record's label. Files that match nothing are listed in
// *unmatched. EXIT_OK, else the failure said.
int match_folder(const edited_container& c, const std::string& folder, std::vector<replacement>* chosen,
                 std::vector<std::string>* unmatched) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(fs::path(folder), error), end; !error && it != end; it.increment(error)) {
        std::error_code kind;
        if (it->is_regular_file(kind)) names.push_back(it->path().filename().string());
    }
    if (error) return failure("cannot read", folder, system_reason(error.value()));
    std::sort(names.begin(), names.end());
    for (const old_record& old : c.records) {
        std::string matched;
        for (const std::string& name : names) {
            std::string stem = name.substr(0, name.rfind('.'));
            if ((stem != old.file_label && stem != old.numbered_name) || name[0] == '.') continue;
            if (!matched.empty())
                return failure("cannot replace in", c.path,
                               matched + " and " + name + " in " + folder + " both name entry " + old.label);
            matched = name;
        }
        if (matched.empty()) continue;
        replacement r;
        r.old = &old;
        r.sound_path = (fs::path(folder) / matched).string();
        chosen->push_back(r);
        names.erase(std::find(names.begin(), names.end(), matched));
    }
    for (const std::string& name : names)
        if (name[0] != '.') unmatched->push_back(name);
    return EXIT_OK;
}

// Every replacement patched into the pair, then both files written.
int write_pair(const command_line& line, const edited_container& c, const std::vector<replacement>& chosen,
               const std::string& out, std::vector<std::string>* written) {
    std::string header_path = with_extension(c.path, "xsh");
    std::string data_path = with_extension(c.path, "xsd");
    bytes header;
    bytes data;
    if (!read_whole_file(header_path.c_str(), &header) || !read_whole_file(data_path.c_str(), &data))
        return failure("cannot read", c.path, "its pair cannot be read whole");
    std::string error;
    for (const replacement& r : chosen)
        if (!patch_pair_entry(&header, &data, r.old->record, r.sound, &error))
            return failure("cannot replace in", c.path, error);
    std::string out_header = with_extension(out, "xsh");
    std::string out_data = with_extension(out, "xsd");
    if (!line.in_place && (same_file(out_header, header_path) || same_file(out_data, data_path)))
        return failure("cannot replace in", c.path, "-o names the pair itself; give --in-place to rewrite it");
    if (!line.in_place && kept_existing(line, out_header)) return EXIT_OK;
    std::vector<output_part> parts = {{out_data, data.data(), data.size()}, {out_header, header.data(), header.size()}};
    std::string failed_path;
    if (!write_output_files(parts, line.no_clobber && !line.in_place, &failed_path, &error))
        return failure("cannot write", failed_path, error);
    *written = {out_header, out_data};
    return EXIT_OK;
}

// Every replacement patched into the bank (inflated and packed again for a
// .zwb), then the bank written.
int write_bank(const command_line& line, const edited_container& c, const std::vector<replacement>& chosen,
               const std::string& out, std::vector<std::string>* written) {
    bytes file;
    if (!read_whole_file(c.path.c_str(), &file)) return failure("cannot read", c.path, "it cannot be read whole");
    bytes bank;
    if (c.compressed && !inflate_bank_file(c.path.c_str(), &LINKED_ZLIB, &bank))
        return failure("cannot replace in", c.path, "its zlib stream is damaged");
    bytes& edited = c.compressed ? bank : file;
    std::string error;
    for (const replacement& r : chosen)
        if (!patch_bank_entry(&edited, c.compressed ? 0 : (size_t)c.base, r.old->record, r.sound, &error))
            return failure("cannot replace in", c.path, error);
    bytes packed;
    if (c.compressed) {
        if (!compress_bank(bank, &packed)) return failure("cannot replace in", c.path, "zlib cannot pack it");
        // The four bytes in front of the size are the original's.
        memcpy(packed.data(), file.data(), 4);
    }
    const bytes& result = c.compressed ? packed : file;
    if (!line.in_place && same_file(out, c.path))
        return failure("cannot replace in", c.path, "-o names the bank itself; give --in-place to rewrite it");
    if (!line.in_place && kept_existing(line, out)) return EXIT_OK;
    if (!write_output_file(out, result.data(), result.size(), line.no_clobber && !line.in_place, &error))
        return failure("cannot write", out, error);
    *written = {out};
    return EXIT_OK;
}

}  // namespace

// NEW is a sound file, replacing --entry; or a folder, whose files replace
// the records they are named after, all in one pass.
int run_replace(const command_line& line) {
    const std::string& bank_path = line.files[0];
    const std::string& new_path = line.files[1];
    edited_container c;
    int status = read_records(line, bank_path, &c);
    if (status != EXIT_OK) return status;
    std::error_code probe;
    bool folder = fs::is_directory(new_path, probe);
    std::vector<replacement> chosen;
    std::vector<std::string> unmatched;
    if (folder) {
        if (!line.entries.empty())
            return usage_error("--entry chooses one record; a folder's files choose theirs by name", "replace");
        status = match_folder(c, new_path, &chosen, &unmatched);
        if (status != EXIT_OK) return status;
        if (chosen.empty())
            return failure("cannot replace in", bank_path,
                           "no file in " + new_path +
                               " is named after an entry's label, as extract -o DIR/{label}.wav names them");
    } else {
        replacement r;
        status = find_entry(line, c, &r.old);
        if (status != EXIT_OK) return status;
        r.sound_path = new_path;
        chosen.push_back(r);
    }
    std::string out = line.in_place ? bank_path : line.out;
    for (replacement& r : chosen) {
        if (same_file(out, r.sound_path)) return failure("cannot replace in", bank_path, out + " is the new sound");
        status = prepare(line, c, &r);
        if (status != EXIT_OK) return status;
    }
    std::vector<std::string> written;
    status =
        c.kind == STREAM_PAIR ? write_pair(line, c, chosen, out, &written) : write_bank(line, c, chosen, out, &written);
    if (status != EXIT_OK || written.empty() || line.quiet) return status;
    for (const replacement& r : chosen) printf("%s\n", r.report.c_str());
    for (const std::string& name : unmatched) printf("%s matches no entry\n", name.c_str());
    printf("wrote %s%s%s\n", written[0].c_str(), written.size() > 1 ? " and " : "",
           written.size() > 1 ? written[1].c_str() : "");
    return EXIT_OK;
}
