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
#include "tools/tolvane/bank_builder.h"
#include "tools/tolvane/commands.h"
#include "tools/tolvane/encoded_audio_input.h"
#include "tools/tolvane/linked_zlib.h"
#include "tools/tolvane/output_file.h"
#include "tools/tolvane/tool_common.h"
#include "tools/tolvane/wave_writer.h"

namespace fs = std::filesystem;

namespace {

typedef std::vector<uint8_t> bytes;

const uint32_t LARGEST_INFERRED_ALIGNMENT = 2048;

// Where the fields of the record being replaced lie, in file bytes.
struct record_fields {
    size_t format_at;  // a full record's format word
    size_t offset_at;
    size_t length_at;
    size_t loop_at;  // loop start, then loop length; 0 without
};

// A bank or pair laid out for editing: the file holding the sound region,
// where that region lies, and how its offsets are stored.
struct editable {
    bytes* sound_file;  // the bank itself, or a pair's data file
    size_t sound_at;    // the region's first byte in sound_file
    uint64_t sound_length;
    uint32_t alignment;
    std::vector<uint32_t> offsets;  // every record's offset, from the region's start
};

uint64_t aligned(uint64_t offset, uint32_t alignment) {
    return alignment > 1 ? (offset + alignment - 1) / alignment * alignment : offset;
}

// The largest power of two up to 2048 that every offset is a multiple of: a
// stream pair states no alignment.
uint32_t inferred_alignment(const std::vector<uint32_t>& offsets) {
    uint32_t alignment = LARGEST_INFERRED_ALIGNMENT;
    for (uint32_t offset : offsets)
        while (alignment > 1 && offset % alignment != 0) alignment /= 2;
    return alignment;
}

// Puts new_sound in place of the record's sound. Returns the shift of the
// sound after it (every record starting there moves by it), writing the new
// region length into *region_length.
int64_t splice(editable* e, size_t record_index, const bytes& new_sound, uint64_t* region_length) {
    uint64_t start = e->offsets[record_index];
    uint64_t next = e->sound_length;
    for (uint32_t offset : e->offsets)
        if (offset > start && offset < next) next = offset;
    bool has_next = next < e->sound_length;
    uint64_t new_next = has_next ? aligned(start + new_sound.size(), e->alignment) : start + new_sound.size();
    bytes& file = *e->sound_file;
    size_t from = e->sound_at + (size_t)start;
    size_t old_end = e->sound_at + (size_t)std::min<uint64_t>(next, file.size() - e->sound_at);
    bytes replaced(new_sound);
    replaced.resize((size_t)(new_next - start), 0);
    file.erase(file.begin() + (long)from, file.begin() + (long)old_end);
    file.insert(file.begin() + (long)from, replaced.begin(), replaced.end());
    int64_t shift = (int64_t)new_next - (int64_t)next;
    *region_length = (uint64_t)((int64_t)e->sound_length + shift);
    return shift;
}

uint32_t loop_field(const built_entry& sound, bool length) {
    if (sound.loop_start < 0) return 0;
    int64_t start = sound.bytes_at(sound.loop_start);
    return (uint32_t)(length ? sound.bytes_at(sound.loop_end) - start : start);
}

bool fail(std::string* error, const std::string& reason) {
    *error = reason;
    return false;
}

// Versions 0, 2 and 3, full or compact records; and version 1.
bool replace_in_bank(bytes* file, size_t base, int32_t record, const built_entry& sound, std::string* error) {
    bytes& f = *file;
    if (f.size() < base + BANK_REGIONS_AT) return fail(error, "not a wave bank");
    uint32_t version = read_u32le(&f[base + 4]);
    uint32_t index = (uint32_t)record - 1;
    editable e;
    e.sound_file = file;
    std::vector<size_t> offset_fields;  // where each record's offset is stored
    size_t compact_words_at = 0;
    uint32_t compact_stride = 0;
    record_fields fields = {0, 0, 0, 0};
    size_t regions_at = base + BANK_REGIONS_AT;
    if (version == 1) {
        if (f.size() < base + BANK_V1_RECORDS_AT) return fail(error, "its header is cut short");
        uint32_t count = read_u32le(&f[base + BANK_V1_COUNT_AT]);
        size_t records_at = base + BANK_V1_RECORDS_AT;
        e.sound_at = records_at + (size_t)BANK_V1_RECORD_BYTES * count;
        if (e.sound_at > f.size() || index >= count) return fail(error, "no record " + std::to_string(record));
        e.sound_length = f.size() - e.sound_at;
        e.alignment = 1;
        for (uint32_t i = 0; i < count; ++i)
            offset_fields.push_back(records_at + (size_t)BANK_V1_RECORD_BYTES * i + BANK_V1_RECORD_OFFSET_AT);
        size_t at = records_at + (size_t)BANK_V1_RECORD_BYTES * index;
        fields = {at + BANK_V1_RECORD_FORMAT_AT, at + BANK_V1_RECORD_OFFSET_AT, at + BANK_V1_RECORD_LENGTH_AT,
                  at + BANK_V1_RECORD_LOOP_AT};
    } else {
        if (f.size() < base + BANK_HEADER_BYTES) return fail(error, "its header is cut short");
        uint32_t data_at = read_u32le(&f[regions_at + BANK_REGION_BYTES * REGION_BANK_DATA]);
        uint32_t records_offset = read_u32le(&f[regions_at + BANK_REGION_BYTES * REGION_ENTRY_METADATA]);
        if (f.size() < base + (size_t)data_at + BANK_DATA_BYTES) return fail(error, "its bank data is cut short");
        const uint8_t* data = &f[base + data_at];
        uint32_t flags = read_u32le(data + BANK_DATA_FLAGS_AT);
        uint32_t count = read_u32le(data + BANK_DATA_COUNT_AT);
        uint32_t stride = read_u32le(data + BANK_DATA_RECORD_SIZE_AT);
        e.alignment = std::max<uint32_t>(read_u32le(data + BANK_DATA_ALIGNMENT_AT), 1);
        e.sound_at = base + read_u32le(&f[regions_at + BANK_REGION_BYTES * REGION_ENTRY_DATA]);
        e.sound_length = read_u32le(&f[regions_at + BANK_REGION_BYTES * REGION_ENTRY_DATA + 4]);
        size_t records_at = base + records_offset;
        bool compact = (flags & BANK_FLAG_COMPACT) != 0;
        if (compact) stride = std::max(stride, BANK_COMPACT_RECORD_BYTES);
        if (!compact && stride < BANK_RECORD_BYTES)
            return fail(error, "records of " + std::to_string(stride) + " bytes hold no loop to replace");
        if (index >= count || records_at + (uint64_t)stride * count > f.size() || e.sound_at > f.size())
            return fail(error, "no record " + std::to_string(record));
        if (compact) {
            uint32_t shared = read_u32le(data + BANK_DATA_COMPACT_FORMAT_AT);
            uint32_t wanted = bank_format_word(sound.codec, sound.channels, sound.rate);
            if ((shared & ~0x80000000u) != wanted)
                return fail(error, "a compact bank's entries share one format, and the new sound's is another");
            compact_words_at = records_at;
            compact_stride = stride;
            for (uint32_t i = 0; i < count; ++i)
                e.offsets.push_back((read_u32le(&f[records_at + (size_t)stride * i]) & COMPACT_OFFSET_MASK) *
                                    e.alignment);
        } else {
            for (uint32_t i = 0; i < count; ++i)
                offset_fields.push_back(records_at + (size_t)stride * i + BANK_RECORD_OFFSET_AT);
            size_t at = records_at + (size_t)stride * index;
            fields = {at + BANK_RECORD_FORMAT_AT, at + BANK_RECORD_OFFSET_AT, at + BANK_RECORD_LENGTH_AT,
                      at + BANK_RECORD_LOOP_AT};
        }
    }
    for (size_t at : offset_fields) e.offsets.push_back(read_u32le(&f[at]));

    bytes new_sound;
    if (!append_entry_sound(sound, &new_sound, error)) return false;
    uint32_t start = e.offsets[index];
    uint64_t region_length = 0;
    uint64_t next_before = e.sound_length;
    for (uint32_t offset : e.offsets)
        if (offset > start && offset < next_before) next_before = offset;
    size_t sound_at_before = e.sound_at;
    int64_t shift = splice(&e, index, new_sound, &region_length);
    if (region_length > 0xffffffffu) return fail(error, "the bank would outgrow 4 GiB");

    // Records, and regions, that lay at or after the sound that moved.
    for (size_t i = 0; i < offset_fields.size(); ++i)
        if (e.offsets[i] >= next_before && i != index)
            write_u32le(&f[offset_fields[i]], (uint32_t)(e.offsets[i] + shift));
    if (compact_words_at) {
        for (size_t i = 0; i < e.offsets.size(); ++i) {
            size_t at = compact_words_at + compact_stride * i;
            uint32_t word = read_u32le(&f[at]);
            uint32_t units = word & COMPACT_OFFSET_MASK;
            if (e.offsets[i] >= next_before && i != index) units += (uint32_t)(shift / (int64_t)e.alignment);
            uint32_t deviation = word >> COMPACT_DEVIATION_SHIFT;
            if (i == index) {
                bool last = next_before >= e.sound_length;
                deviation = last ? 0 : (uint32_t)(aligned(new_sound.size(), e.alignment) - new_sound.size());
            }
            write_u32le(&f[at], compact_record_word(units, deviation));
        }
    } else if (version == 1) {
        write_u32le(&f[fields.format_at], bank_v1_format_word(sound.codec, sound.channels, sound.rate));
    } else {
        write_u32le(&f[fields.format_at], bank_format_word(sound.codec, sound.channels, sound.rate));
    }
    if (!compact_words_at) {
        write_u32le(&f[fields.length_at], (uint32_t)new_sound.size());
        write_u32le(&f[fields.loop_at], loop_field(sound, false));
        write_u32le(&f[fields.loop_at + 4], loop_field(sound, true));
    }
    if (version != 1) {
        write_u32le(&f[regions_at + BANK_REGION_BYTES * REGION_ENTRY_DATA + 4], (uint32_t)region_length);
        for (int region = 0; region < BANK_REGION_COUNT; ++region) {
            size_t at = regions_at + BANK_REGION_BYTES * (size_t)region;
            uint32_t offset = read_u32le(&f[at]);
            if (region != REGION_ENTRY_DATA && base + offset > sound_at_before + start)
                write_u32le(&f[at], (uint32_t)((int64_t)offset + shift));
        }
    }
    return true;
}

bool replace_in_pair(bytes* header, bytes* data, int32_t record, const built_entry& sound, std::string* error) {
    bytes& h = *header;
    if (h.size() < (size_t)STREAM_HEADER_RECORDS_AT) return fail(error, "its header is cut short");
    uint32_t version = read_u32le(&h[STREAM_HEADER_VERSION_AT]);
    uint32_t first_word =
        h.size() >= (size_t)STREAM_HEADER_RECORDS_AT + 4 ? read_u32le(&h[STREAM_HEADER_RECORDS_AT]) : 0;
    const stream_record_layout& layout = stream_record_layout_of(version, first_word);
    int32_t count = read_s32le(&h[STREAM_HEADER_COUNT_AT]);
    size_t stride = (size_t)layout.record_bytes;
    if (record > count || (size_t)STREAM_HEADER_RECORDS_AT + stride * (size_t)record > h.size())
        return fail(error, "no record " + std::to_string(record));
    editable e;
    e.sound_file = data;
    e.sound_at = 0;
    e.sound_length = data->size();
    std::vector<size_t> offset_fields;
    for (int32_t i = 0; i < count && (size_t)STREAM_HEADER_RECORDS_AT + stride * (size_t)(i + 1) <= h.size(); ++i) {
        offset_fields.push_back((size_t)STREAM_HEADER_RECORDS_AT + stride * (size_t)i + (size_t)layout.offset_at);
        e.offsets.push_back(read_u32le(&h[offset_fields.back()]));
    }
    e.alignment = inferred_alignment(e.offsets);
    bytes new_sound;
    if (!append_entry_sound(sound, &new_sound, error)) return false;
    size_t index = (size_t)record - 1;
    uint32_t start = e.offsets[index];
    uint64_t next_before = e.sound_length;
    for (uint32_t offset : e.offsets)
        if (offset > start && offset < next_before) next_before = offset;
    uint64_t region_length = 0;
    int64_t shift = splice(&e, index, new_sound, &region_length);
    for (size_t i = 0; i < offset_fields.size(); ++i)
        if (e.offsets[i] >= next_before && i != index)
            write_u32le(&h[offset_fields[i]], (uint32_t)(e.offsets[i] + shift));

    uint8_t* r = &h[(size_t)STREAM_HEADER_RECORDS_AT + stride * index];
    write_u32le(r + layout.length_at, (uint32_t)new_sound.size());
    write_u16le(r + layout.channels_at, sound.channels);
    write_u32le(r + layout.rate_at, sound.rate);
    if (layout.format_at >= 0 && sound.codec == CODEC_XBOX_ADPCM) write_u16le(r + layout.format_at, XBOX_ADPCM_TAG);
    if (layout.format_at >= 0 && sound.codec != CODEC_XBOX_ADPCM) {
        // The "fmt " chunk's first 16 bytes, after "RIFF", size, "WAVE", "fmt " and its size.
        bytes format = wave_head(pcm_shape(sound.rate, sound.channels, sound.codec == CODEC_PCM8 ? 8 : 16), 0, 0);
        memcpy(r + layout.format_at, format.data() + 20, 16);
    }
    if (layout.frames_at >= 0) write_u32le(r + layout.frames_at, (uint32_t)sound.frames());
    if (layout.flags_at >= 0) {
        uint32_t flags = read_u32le(r + layout.flags_at) & ~STREAM_ENTRY_LOOPS;
        if (sound.loop_start == 0 && sound.loop_end == sound.frames()) flags |= STREAM_ENTRY_LOOPS;
        write_u32le(r + layout.flags_at, flags);
    }
    return true;
}

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
        if (!replace_in_pair(&header, &data, record, sound, &error))
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
    if (!replace_in_bank(&edited, compressed ? 0 : (size_t)base, record, sound, &error))
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
