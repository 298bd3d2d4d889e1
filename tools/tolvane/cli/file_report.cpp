// Reasons and warnings, in the words the user reads.

#include "tools/tolvane/cli/file_report.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <filesystem>

#include "codec/xbox_adpcm.h"
#include "containers/file_names.h"
#include "containers/stream_opener.h"
#include "tools/tolvane/session/linked_zlib.h"
#include "containers/output_file.h"

namespace {

// The WAVE format tags a user is likely to meet.
const struct {
    uint16_t tag;
    const char* name;
} WAVE_FORMATS[] = {
    {0x0001, "PCM"},        {0x0002, "Microsoft ADPCM"},
    {0x0003, "IEEE float"}, {0x0006, "A-law"},
    {0x0007, "mu-law"},     {0x0011, "IMA ADPCM"},
    {0x0055, "MP3"},        {0x0160, "WMA"},
    {0x0161, "WMA"},        {0x0165, "XMA"},
    {0x0166, "XMA2"},       {0xfffe, "extensible"},
};

// Skipped records are listed one by one up to this many, then counted.
const int32_t LISTED_SKIPS = 10;

std::string hex4(unsigned value) {
    char text[16];
    snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

// Whether a single stream has a whole block set of sound in the file.
bool holds_a_block_set(const stream_description& description) {
    return whole_block_sets(single_stream_bytes(&description), description.channels) > 0;
}

}  // namespace

bool is_raw_data_name(const std::string& path) {
    return path_extension_is(path.c_str(), "dat");
}

std::string refusal_text(const stream_description& description) {
    switch (description_refusal(&description)) {
    case NOT_REFUSED:
        break;
    case REFUSED_NOT_XBOX_ADPCM: {
        std::string text = "not Xbox ADPCM: format tag " + hex4(description.wave_format_tag);
        for (const auto& format : WAVE_FORMATS)
            if (format.tag == description.wave_format_tag) text += std::string(" (") + format.name + ")";
        if (description.wave_format_tag == 0x0001) text += "; tolvane encode turns PCM into Xbox ADPCM";
        return text;
    }
    case REFUSED_NO_BANK:
        return "a bank container (HVSIWBA) with no wave bank at offset 4096";
    case REFUSED_BANK_ENDS_BEFORE_START:
        return "a wave bank whose last entry ends before its first begins";
    case REFUSED_UNPLAYABLE_FORMAT:
        return "a format that cannot be played (" + std::to_string(description.channels) + " channels at " +
               std::to_string(description.sample_rate) + " Hz: 1 to " + std::to_string(MAX_CHANNELS) +
               " channels and at least " + std::to_string(MIN_SAMPLE_RATE) + " Hz play)";
    case REFUSED_UNREADABLE:
        return "its inflated bank could be neither kept nor read";
    case REFUSED_BANK_VERSION:
        return "wave bank version " + std::to_string(description.layout_version) +
               ": a version of no known layout (Xbox banks are 1 to 3, Windows and Xbox 360 ones 41 to 46)";
    case REFUSED_NOTHING_PLAYABLE:
        return "none of its " + std::to_string(description.record_count) +
               " records is PCM or Microsoft ADPCM, the codecs played here (xWMA, WMA Pro and XMA are not)";
    }
    return "";
}

std::string why_unplayable(const std::string& path) {
    std::string reason = unreadable_reason(path);
    if (!reason.empty()) return reason;
    stream_description description;
    description_init(&description);
    if (!describe_stream(path.c_str(), &LINKED_ZLIB, &description))
        reason = "cannot be opened";
    else
        reason = refusal_text(description);
    description_release(&description);
    return reason;
}

namespace {

// Each codec's words, in the order of entry_codec: its name as info --json
// gives it, and as the user reads it.
const char* const CODEC_WORDS[][2] = {
    {"xbox_adpcm", "Xbox ADPCM"},    {"pcm8", "8-bit PCM"}, {"pcm16", "16-bit PCM"},  {"wma", "WMA"},
    {"pcm16", "16-bit PCM"},  // big-endian
    {"ms_adpcm", "Microsoft ADPCM"}, {"xwma", "xWMA"},      {"wma_pro", "WMA Pro"},   {"xma", "XMA"},
    {"unknown", "unknown"},          {"empty", "no sound"}, {"external", "external"},
};
static_assert(sizeof CODEC_WORDS / sizeof CODEC_WORDS[0] == CODEC_EXTERNAL + 1, "words for every codec");

}  // namespace

const char* codec_key(entry_codec codec) {
    return codec <= CODEC_EXTERNAL ? CODEC_WORDS[codec][0] : "";
}

const char* codec_name(entry_codec codec) {
    return codec <= CODEC_EXTERNAL ? CODEC_WORDS[codec][1] : "";
}

std::string skip_text(const entry_record& record) {
    switch (record.skipped) {
    case NOT_SKIPPED:
        break;
    case SKIPPED_CODEC: {
        // A bank names its format in a few bits, a stream header with a WAVE tag.
        std::string tag = record.format_tag > 3 ? hex4(record.format_tag) : std::to_string(record.format_tag);
        return "format tag " + tag + " (" + codec_name(record.codec) + ", which the player does not decode)";
    }
    case SKIPPED_UNPLAYABLE_FORMAT:
        return std::to_string(record.channels) + " channels at " + std::to_string(record.rate) +
               " Hz (cannot be played)";
    case SKIPPED_OUT_OF_REACH:
        return "starts beyond 2 GiB";
    case SKIPPED_EMPTY:
        return "an empty entry (no sound)";
    case SKIPPED_EXTERNAL:
        return "its sound is in an external .xss file";
    }
    return "";
}

std::string raw_fallback_refusal(const std::string& path, const stream_description& description) {
    if (!(description.notices & NOTICE_PLAYED_AS_RAW) || is_raw_data_name(path)) return "";
    const char* hint = "; --raw decodes it as raw Xbox ADPCM";
    if (description.notices & NOTICE_PARTNER_MISSING)
        return std::string("its stream pair partner (.") + description.partner_extension + ") is missing" + hint;
    if (description.notices & NOTICE_NOT_INFLATED)
        return std::string("a compressed bank that cannot be inflated") + hint;
    return std::string("not a file Tolvane knows (no RIFF WAVE, wave bank or stream pair header)") + hint;
}

namespace {

void add(std::vector<file_warning>* lines, const std::string& text, int32_t first = 0, int32_t last = 0) {
    file_warning warning;
    warning.text = text;
    warning.first_record = first;
    warning.last_record = last;
    lines->push_back(warning);
}

std::string record_range(int32_t first, int32_t last) {
    return first == last ? "record " + std::to_string(first)
                         : "records " + std::to_string(first) + " to " + std::to_string(last);
}

void add_record_warnings(std::vector<file_warning>* lines, const stream_description& description, bool with_skipped) {
    int32_t skipped = 0;
    int32_t cut = 0;
    for (int32_t i = 0; i < description.record_count; ++i) {
        const entry_record& record = description.records[i];
        if (record.skipped == NOT_SKIPPED) {
            bool cut_short = record.offset + record.length > description.file_bytes;
            if (cut_short && cut++ < LISTED_SKIPS) {
                std::string number = "record " + std::to_string(record.record);
                // A sound that starts at or past the end has nothing to play.
                if (record.offset >= description.file_bytes)
                    add(lines,
                        number + "'s sound is not in the file (starts at byte " + std::to_string(record.offset) +
                            " of " + std::to_string(description.file_bytes) + "): nothing of it is written",
                        record.record, record.record);
                else
                    add(lines, number + "'s sound is cut short by the end of the file", record.record, record.record);
            }
            continue;
        }
        if (with_skipped && skipped++ < LISTED_SKIPS)
            add(lines, "record " + std::to_string(record.record) + " skipped: " + skip_text(record), record.record,
                record.record);
    }
    if (cut > LISTED_SKIPS)
        add(lines, "and " + std::to_string(cut - LISTED_SKIPS) + " more records cut short by the end of the file");
    if (skipped > LISTED_SKIPS) add(lines, "and " + std::to_string(skipped - LISTED_SKIPS) + " more records skipped");
}

}  // namespace

std::vector<file_warning> warnings_of(const std::string& path, const stream_description& description,
                                      bool with_skipped) {
    std::vector<file_warning> lines;
    uint32_t notices = description.notices;
    if ((notices & NOTICE_PLAYED_AS_RAW) && !is_raw_data_name(path))
        add(&lines, "no WAVE, bank or stream pair header: played as raw Xbox ADPCM data");
    if (notices & NOTICE_PARTNER_MISSING)
        add(&lines, std::string("its stream pair partner (.") + description.partner_extension +
                        ") is missing: played on its own");
    if (notices & NOTICE_NOT_INFLATED) add(&lines, "a compressed bank that cannot be inflated: played as it is");
    if (notices & NOTICE_INFLATION_CUT_SHORT) add(&lines, "its compressed stream ends early: played as far as it goes");
    if (notices & NOTICE_HEADER_CUT_SHORT) {
        add(&lines, "the file ends at byte " + std::to_string(description.file_bytes) +
                        ", inside the bank's header: nothing of it can be read");
        lines.back().no_sound = true;
    }
    if (notices & NOTICE_RECORDS_CUT_SHORT) {
        int32_t first = (int32_t)description.records_read + 1;
        int32_t last =
            (int32_t)(description.declared_records > (uint32_t)INT32_MAX ? INT32_MAX : description.declared_records);
        add(&lines,
            record_range(first, last) + " of the " + std::to_string(description.declared_records) +
                (first == last ? " declared is lost: the file ends before it"
                               : " declared are lost: the file ends before them") +
                " (at byte " + std::to_string(description.file_bytes) + ")",
            first, last);
    }
    if ((notices & NOTICE_DATA_CUT_SHORT) && description.record_count == 0)
        add(&lines, "sound reaches past the end of the file: the rest is not played");
    add_record_warnings(&lines, description, with_skipped);
    if (notices & NOTICE_NOT_DESCRIBED) add(&lines, "too large to look at in memory: described only in part");
    if (description.kind == STREAM_BANK && description.entry_count == 0 && description.data_length >= 0 &&
        !(notices & NOTICE_HEADER_CUT_SHORT)) {
        add(&lines, "a wave bank with no entry that plays: nothing plays");
        lines.back().no_sound = true;
    }
    if (is_single_stream(&description) && !holds_a_block_set(description)) {
        add(&lines, "holds no whole block set of sound: nothing plays");
        lines.back().no_sound = true;
    }
    return lines;
}
