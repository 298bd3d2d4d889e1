// tolvane extract: writes each chosen entry's sound as the file stores it,
// without decoding: an Xbox ADPCM entry as an Xbox ADPCM WAVE (its frame
// count, loop and name in fact, smpl and LIST chunks), a Microsoft ADPCM one
// as a Microsoft ADPCM WAVE with the same chunks, a PCM entry as a PCM WAVE
// of its width, a WMA entry as the .wma file it holds, an xWMA or WMA Pro
// entry as an .xwma file (its seek table as the "dpds" chunk), an XMA entry
// as an XMA WAVE, a single stream as its WAVE. An ADPCM WAVE holds exactly
// the blocks the player plays of the entry, so rendering it gives the
// entry's samples.

#include <stdio.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "containers/file_names.h"
#include "containers/wave_bank.h"
#include "containers/stream_opener.h"
#include "containers/timeline.h"
#include "platform/host_io.h"
#include "platform/platform.h"
#include "tools/tolvane/commands/commands.h"
#include "tools/tolvane/session/linked_zlib.h"
#include "containers/output_file.h"
#include "tools/tolvane/cli/render_plan.h"
#include "tools/tolvane/cli/sound_bank_names.h"
#include "tools/tolvane/tool_common.h"
#include "containers/riff_wave_writer.h"

namespace {

const int32_t COPY_BYTES = 1 << 20;

// One thing to write: a record's sound as stored, or the single stream's.
struct extract_item {
    sound_unit unit = sound_unit(0, 0, -1, 0, 0, 0, 0, 0);  // numbering and naming, as render names them
    entry_codec codec = CODEC_XBOX_ADPCM;
    int64_t offset = 0;  // the bytes to copy from the file played
    int64_t bytes = 0;
    uint16_t bits = 4;         // of PCM
    uint32_t block_field = 0;  // of Microsoft ADPCM, xWMA and WMA Pro
    // An Xbox 360 bank's 16-bit PCM is big-endian; a WAVE is little-endian,
    // so each sample's bytes are swapped on the way out.
    bool swap_bytes = false;
    std::vector<uint32_t> seek_table;  // of xWMA and WMA Pro: the "dpds" chunk
    sound_extras extras;
};

// The single stream: the block sets it plays, its WAVE's stated frames
// (else the block sets' frames), loop and name.
extract_item single_stream_item(const stream_description& d, const entry_span& span) {
    extract_item item;
    item.unit = sound_unit(0, 0, -1, span.rate, span.channels, span_frames(span), 0, 0, stream_name(&d));
    item.offset = span.play_start;
    item.bytes = span.units * span_unit_bytes(span);
    item.extras.frames =
        d.stated_frames >= 0 && d.stated_frames <= item.unit.frames ? d.stated_frames : item.unit.frames;
    item.extras.loop_start = d.stream_loop_start;
    item.extras.loop_end = d.stream_loop_end;
    item.extras.name = stream_name(&d);
    return item;
}

// Record index's seek table (counted from 0) in the bank the description was
// read from; false when it has none (or the bank cannot be planned again).
bool read_record_seek_table(file_handle file, const stream_description& d, int32_t index,
                            std::vector<uint32_t>* values) {
    stream_description planned;
    description_init(&planned);
    planned.bank_base = d.bank_base;
    byte_source source = source_of_file(file);
    wave_bank_plan plan;
    bool ok = plan_wave_bank(&source, &planned, &plan);
    description_release(&planned);
    int64_t count = ok ? read_seek_table(&source, plan, (uint32_t)index, nullptr, 0) : -1;
    if (count <= 0) return false;
    values->resize((size_t)count);
    return read_seek_table(&source, plan, (uint32_t)index, values->data(), (uint32_t)count) == count;
}

std::string record_words(const entry_record& record) {
    return "record " + std::to_string(record.record) + " (" + codec_name(record.codec) + ")";
}

// What the player plays of an ADPCM entry: its whole blocks, the frames it
// states when they lie within them.
bool adpcm_item(const entry_record& record, const entry_span& span, extract_item* item, std::string* why) {
    if (span.units == 0) {
        *why = "record " + std::to_string(record.record) +
               " plays nothing (it holds less than a block set, or lies inside the entry before it)";
        return false;
    }
    item->offset = span.play_start;
    item->bytes = span.units * span_unit_bytes(span);
    item->bits = 4;
    item->block_field = record.block_field;
    item->extras.frames = span_frames(span);
    if (record.codec == CODEC_MS_ADPCM && record.stated_frames >= 0 && record.stated_frames <= item->extras.frames)
        item->extras.frames = record.stated_frames;
    return true;
}

// An xWMA or XMA entry's stored bytes and what its file's format needs: for
// xWMA and WMA Pro the packet format its block field names and its seek
// table, for XMA its frames (stated, else its seek table's last value).
bool packet_item(file_handle file, const stream_description& d, const entry_record& record, extract_item* item,
                 std::string* why) {
    bool xma = record.codec == CODEC_XMA;
    uint32_t packet_bytes = 0;
    uint32_t bytes_per_second = 0;
    if (!xma && !xwma_packet_format(record.block_field, &packet_bytes, &bytes_per_second)) {
        *why = record_words(record) + " has block field " + std::to_string(record.block_field) +
               ", which names no packet size: it is not written";
        return false;
    }
    bool has_table = read_record_seek_table(file, d, record.record - 1, &item->seek_table);
    if (!xma && !has_table) {
        *why = record_words(record) + " has no seek table, which an .xwma file needs: it is not written";
        return false;
    }
    item->extras.frames = record.stated_frames;
    if (xma && item->extras.frames < 0 && has_table && item->seek_table.back() > 0)
        item->extras.frames = item->seek_table.back();
    if (xma && item->extras.frames < 0) {
        *why =
            record_words(record) + " states no frame count and has no seek table to take one from: it is not written";
        return false;
    }
    item->block_field = record.block_field;
    return true;
}

// A record's item: what the player plays of an ADPCM entry, the stored bytes
// of a PCM, WMA, xWMA or XMA one (cut at the end of the file, PCM to whole
// frames). False, with why, for a record that holds nothing to write.
bool record_item(file_handle file, const stream_description& d, int32_t index, const entry_span* span,
                 extract_item* item, std::string* why) {
    const entry_record& record = d.records[index];
    std::string name = record_name(&d, record);
    item->codec = record.codec;
    item->extras.name = name;
    item->extras.loop_start = record.loop_start;
    item->extras.loop_end = record.loop_end;
    uint32_t rate = (uint32_t)record.rate;
    uint16_t channels = (uint16_t)record.channels;
    bool adpcm = record.codec == CODEC_XBOX_ADPCM || record.codec == CODEC_MS_ADPCM;
    if (record.skipped == NOT_SKIPPED && adpcm) {
        if (!adpcm_item(record, *span, item, why)) return false;
        item->unit = sound_unit(0, record.record, 0, rate, channels, item->extras.frames, 0, 0, name);
        return true;
    }
    bool packets = record.codec == CODEC_XWMA || record.codec == CODEC_WMA_PRO || record.codec == CODEC_XMA;
    bool pcm = record.codec == CODEC_PCM8 || record.codec == CODEC_PCM16 || record.codec == CODEC_PCM16_BE;
    bool stored_sound = pcm || packets || record.codec == CODEC_WMA;
    int64_t end = std::min(record.offset + record.length, d.file_bytes);
    if (!stored_sound || record.offset < 0 || record.offset > INT32_MAX || end <= record.offset ||
        (pcm && !stream_format_is_playable(record.rate, record.channels)) ||
        (packets &&
         (record.channels <= 0 || record.channels > 0xffff || record.rate <= 0 || record.rate > UINT32_MAX))) {
        *why = "record " + std::to_string(record.record) + " holds no sound to extract (" + skip_text(record) + ")";
        return false;
    }
    item->offset = record.offset;
    item->bytes = end - record.offset;
    item->bits = record.codec == CODEC_PCM8 ? 8 : 16;
    item->swap_bytes = record.codec == CODEC_PCM16_BE;
    item->extras.frames = -1;
    if (pcm) {
        int64_t frame_bytes = (int64_t)channels * (item->bits / 8);
        item->bytes -= item->bytes % frame_bytes;
        if (item->bytes == 0) {
            *why = "record " + std::to_string(record.record) + " holds no whole frame of sound";
            return false;
        }
    }
    if (packets && !packet_item(file, d, record, item, why)) return false;
    item->unit = sound_unit(0, record.record, 0, rate, channels, 0, 0, 0, name);
    return true;
}

// The items chosen, in file order, with a warning for each chosen record
// that holds nothing to write and each number the file lacks.
bool chosen_items(const command_line& line, file_handle file, const stream_description& d,
                  std::vector<extract_item>* items, std::vector<std::string>* warnings, std::string* reason) {
    item_plan plan;
    if (!plan_item(&d, &plan)) {
        *reason = "not enough memory";
        return false;
    }
    if (plan.single_stream) {
        if (!line.entries.empty())
            *reason = "it has no entries; --entry chooses among a bank's or stream pair's";
        else
            items->push_back(single_stream_item(d, plan.spans[0]));
        if (reason->empty() && items->back().bytes == 0) *reason = "it holds no whole block set of sound";
        plan_release(&plan);
        return reason->empty();
    }
    record_ranges ranges = chosen_ranges(line);
    std::vector<std::string> left_out;
    int32_t entry = 0;
    int32_t last_record = 0;
    for (int32_t i = 0; i < d.record_count; ++i) {
        const entry_record& record = d.records[i];
        last_record = std::max(last_record, record.record);
        const entry_span* span = record.skipped == NOT_SKIPPED ? &plan.spans[entry++] : nullptr;
        if (!record_chosen(ranges, record.record)) continue;
        extract_item item;
        std::string why;
        if (record_item(file, d, i, span, &item, &why)) {
            items->push_back(item);
        } else {
            left_out.push_back(why);
        }
    }
    plan_release(&plan);
    for (const auto& range : ranges) {
        if (range.second == TO_THE_LAST_RECORD || range.second <= last_record) continue;
        int32_t first = std::max(range.first, last_record + 1);
        left_out.push_back((first == range.second
                                ? "no record " + std::to_string(first)
                                : "no records " + std::to_string(first) + " to " + std::to_string(range.second)) +
                           " (the file has " + std::to_string(last_record) + ")");
    }
    if (items->empty()) {
        *reason = left_out.size() == 1 ? left_out[0] : "none of the records chosen holds sound to extract";
        return false;
    }
    warnings->insert(warnings->end(), left_out.begin(), left_out.end());
    return true;
}

// The extension of an entry that is not a WAVE: .wma for a WMA entry,
// .xwma for xWMA and WMA Pro; "" for a WAVE.
const char* extension_for(const extract_item& item) {
    if (item.codec == CODEC_WMA) return "wma";
    if (item.codec == CODEC_XWMA || item.codec == CODEC_WMA_PRO) return "xwma";
    return "";
}

// The file's name: as render names it, an entry that is not a WAVE getting
// its own extension in place of .wav, unless -o names the one file to write.
std::string target_for(const extract_item& item, const std::string& planned, bool named_whole) {
    const char* extension = extension_for(item);
    if (!*extension || named_whole || !path_extension_is(planned.c_str(), "wav")) return planned;
    return planned.substr(0, planned.size() - 3) + extension;
}

void swap_sample_bytes(uint8_t* samples, size_t byte_count) {
    for (size_t i = 0; i + 1 < byte_count; i += 2) std::swap(samples[i], samples[i + 1]);
}

bool copy_bytes(file_handle file, int64_t offset, int64_t byte_count, bool swap_bytes, output_file* out,
                std::string* error) {
    std::vector<uint8_t> buffer((size_t)std::min<int64_t>(byte_count, COPY_BYTES));
    if (file_seek(file, (int32_t)offset) != offset) {
        *error = "cannot read its sound";
        return false;
    }
    while (byte_count > 0) {
        int32_t wanted = (int32_t)std::min<int64_t>(byte_count, COPY_BYTES);
        int32_t got = file_read(file, buffer.data(), wanted);
        if (got != wanted) {
            *error = "cannot read its sound";
            return false;
        }
        // Whole samples each time: the copy's pieces are of an even size.
        if (swap_bytes) swap_sample_bytes(buffer.data(), (size_t)got);
        if (!output_write(out, buffer.data(), (size_t)got)) {
            *error = out->error;
            return false;
        }
        byte_count -= got;
    }
    return true;
}

// What goes around the item's stored bytes: nothing for WMA; the head of an
// xWMA file or an XMA WAVE, then the pad byte; a WAVE's head and its chunks.
void item_head(const extract_item& item, std::vector<uint8_t>* head, std::vector<uint8_t>* tail) {
    uint32_t data_bytes = (uint32_t)item.bytes;
    const sound_unit& unit = item.unit;
    if (item.codec == CODEC_WMA) return;
    if (item.codec == CODEC_XWMA || item.codec == CODEC_WMA_PRO) {
        uint32_t packet_bytes = 0;
        uint32_t bytes_per_second = 0;
        xwma_packet_format(item.block_field, &packet_bytes, &bytes_per_second);
        xwma_shape shape = {item.codec == CODEC_XWMA ? XWMA_WAVE_TAG : WMA_PRO_WAVE_TAG, unit.channels, unit.rate,
                            bytes_per_second, (uint16_t)packet_bytes};
        *head = xwma_head(shape, item.seek_table, data_bytes);
        *tail = wave_tail(data_bytes, sound_extras(), unit.rate);
        return;
    }
    if (item.codec == CODEC_XMA) {
        bool looped = item.extras.loop_start >= 0 && item.extras.loop_end > item.extras.loop_start;
        xma_stream stream = {unit.channels, unit.rate, (uint32_t)std::min<int64_t>(item.extras.frames, UINT32_MAX),
                             looped ? (uint32_t)item.extras.loop_start : 0,
                             looped ? (uint32_t)(item.extras.loop_end - item.extras.loop_start) : 0};
        *head = xma_wave_head(stream, data_bytes);
        *tail = wave_tail(data_bytes, sound_extras(), unit.rate);
        return;
    }
    wave_shape shape = item.codec == CODEC_XBOX_ADPCM ? adpcm_shape(unit.rate, unit.channels)
                       : item.codec == CODEC_MS_ADPCM ? ms_adpcm_shape(unit.rate, unit.channels, item.block_field)
                                                      : pcm_shape(unit.rate, unit.channels, item.bits);
    *tail = wave_tail(data_bytes, item.extras, unit.rate);
    *head = wave_head(shape, data_bytes, (uint32_t)tail->size());
}

// Writes one item into path, whole or not at all.
bool write_item(file_handle file, const extract_item& item, const std::string& path, bool keep_existing,
                std::string* error) {
    output_file out;
    if (!output_create(&out, path)) {
        *error = out.error;
        return false;
    }
    std::vector<uint8_t> head;
    std::vector<uint8_t> tail;
    item_head(item, &head, &tail);
    bool written = output_write(&out, head.data(), head.size()) &&
                   copy_bytes(file, item.offset, item.bytes, item.swap_bytes, &out, error) &&
                   output_write(&out, tail.data(), tail.size()) && output_finish(&out, keep_existing);
    if (!written) {
        if (error->empty()) *error = out.error;
        output_discard(&out);
    }
    return written;
}

int extract_one(outputs_run* run, const std::string& path) {
    const command_line& line = *run->line;
    described_file file;
    file_failure failed;
    if (!describe_for_tool(line, path, true, &file, &failed)) return failure(failed.what.c_str(), path, failed.reason);

    // The file the sound is read from: a pair's data file, a compressed
    // bank's inflation, as the player opens them.
    file_handle opened = file_open_read(path.c_str());
    stream_description played;
    description_init(&played);
    file_handle source =
        opened == INVALID_FILE ? INVALID_FILE : open_stream(path.c_str(), opened, &LINKED_ZLIB, OPEN_TO_PLAY, &played);
    if (file.format_overridden) {
        played.sample_rate = file.d.sample_rate;
        played.channels = file.d.channels;
    }
    // Named as describe_for_tool named file.d (its notes and warnings are said once, from there).
    if (source != INVALID_FILE) name_from_sound_banks(path, line.sound_bank, &played);
    std::vector<extract_item> items;
    std::vector<std::string> warnings;
    std::string reason;
    bool chosen = source != INVALID_FILE && chosen_items(line, source, played, &items, &warnings, &reason);
    if (source == INVALID_FILE) reason = "cannot be opened";
    description_release(&played);

    record_ranges ranges = chosen_ranges(line);
    // The file's warnings come first, in record order, then the records left out.
    std::vector<std::string> said;
    for (const file_warning& warning : file.warnings)
        if (warning_concerns(warning, ranges) && !(warning.no_sound && !chosen)) said.push_back(warning.text);
    warnings.insert(warnings.begin(), said.begin(), said.end());
    run->warned = run->warned || !warnings.empty();
    if (!line.quiet)
        for (const std::string& text : warnings) warn(path, text);
    if (!chosen) {
        if (source != INVALID_FILE) file_close(source);
        return failure("cannot extract", path, reason);
    }

    std::vector<sound_unit> units;
    for (const extract_item& item : items) units.push_back(item.unit);
    mark_shared_names(file.d, &units);
    std::vector<render_target> targets;
    if (!plan_targets(out_for_file(line, path), stem_of(path), false, units, record_width(file.d), &targets, &reason) ||
        classify_out(line.out) == OUT_STANDARD_OUTPUT) {
        file_close(source);
        return failure("cannot extract", path, reason.empty() ? "extract writes files, not standard output" : reason);
    }
    int status = EXIT_OK;
    out_kind kind = classify_out(line.out);
    for (size_t i = 0; i < items.size() && status == EXIT_OK; ++i) {
        std::string target = target_for(items[i], targets[i].path, kind == OUT_FILE && items.size() == 1);
        for (const std::string& input : inputs_of(path, file.d)) {
            if (same_file(target, input))
                status = failure("cannot extract", path, target + " is an input; it is never overwritten");
        }
        if (status != EXIT_OK) break;
        if (!run->outputs.insert(target).second) {
            status = failure("cannot extract", path, "another file of this run is also written to " + target);
            break;
        }
        if (kept_existing(line, target)) continue;
        std::string error;
        if (!write_item(source, items[i], target, line.no_clobber, &error)) {
            status = failure("cannot write", target, error);
            break;
        }
        run->entries_written++;
        if (!line.quiet) printf("wrote %s\n", target.c_str());
        if (interrupt_requested()) status = EXIT_INTERRUPTED;
    }
    file_close(source);
    return status;
}

}  // namespace

int run_extract(const command_line& line) {
    outputs_run run;
    run.line = &line;
    if (classify_out(line.out) == OUT_STANDARD_OUTPUT) return usage_error("extract writes files, not -o -", "extract");
    if (line.files.size() > 1 && classify_out(line.out) == OUT_FILE)
        return usage_error("several files need -o DIR/ or a pattern with {name}", "extract");
    return run_each_input(
        &run, [&run](const std::string& path) { return extract_one(&run, path); }, true);
}
