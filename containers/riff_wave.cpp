// RIFF WAVE reader for Xbox ADPCM, and the raw-data fallback that plays every
// other file as headerless stereo ADPCM at 44100 Hz from its first byte.

#include "containers/riff_wave.h"

#include <limits.h>
#include <string.h>

#include "codec/little_endian.h"
#include "codec/xbox_adpcm.h"

namespace {

const int32_t RIFF_HEADER_BYTES = 12;  // "RIFF", size of the rest, form type
const int32_t CHUNK_HEADER_BYTES = 8;
const int32_t WAVE_FORMAT_BYTES = 16;

// Raw data is the whole file. Positions are signed 32-bit, so a file of 2 GiB
// or more plays as far as INT32_MAX bytes reach.
int32_t raw_length(const byte_source* source) {
    int64_t size_bytes = source_size(source);
    if (size_bytes < 0) return 0;
    if (size_bytes > INT32_MAX) return INT32_MAX;
    return (int32_t)size_bytes;
}

}  // namespace

namespace {

bool is_printable_tag(const uint8_t* tag) {
    for (int i = 0; i < 4; ++i)
        if (tag[i] < 0x20 || tag[i] > 0x7e) return false;
    return true;
}

// The four tag bytes of the chunk header at position; false when they
// cannot be read.
bool tag_at(byte_source* source, int64_t position, uint8_t* tag) {
    return position <= INT32_MAX && source_seek(source, position) == position && source_read(source, tag, 4) == 4;
}

// Where the chunk after an odd-sized one begins. RIFF pads such a chunk with
// one byte, but some writers leave the pad out: the header right after the
// content is kept when it is the one wanted or looks like a chunk (its tag
// printable), else the one a byte later when that one does.
int64_t after_odd_chunk(byte_source* source, int64_t unpadded, const char* wanted) {
    uint8_t tag[4];
    if (tag_at(source, unpadded, tag) && (memcmp(tag, wanted, 4) == 0 || is_printable_tag(tag))) return unpadded;
    if (tag_at(source, unpadded + 1, tag) && is_printable_tag(tag)) return unpadded + 1;
    return unpadded;
}

}  // namespace

int32_t find_riff_chunk(byte_source* source, const char* tag) {
    int64_t header_pos = RIFF_HEADER_BYTES;
    for (;;) {
        // The content must start at a position a signed 32-bit seek can name.
        if (header_pos + CHUNK_HEADER_BYTES > INT32_MAX) return -1;
        if (source_seek(source, header_pos) != header_pos) return -1;
        uint8_t header[CHUNK_HEADER_BYTES];
        // A header cut short by the end of the file ends the search too.
        if (source_read(source, header, CHUNK_HEADER_BYTES) != CHUNK_HEADER_BYTES) return -1;
        int32_t size_bytes = read_s32le(header + 4);
        if (memcmp(header, tag, 4) == 0) return size_bytes;
        // Only forward moves below 2^31: a size with the top bit set would step
        // backwards (or onto the same header for -8) and the search could loop.
        if (size_bytes < 0) return -1;
        header_pos += CHUNK_HEADER_BYTES + (int64_t)size_bytes;
        if (size_bytes & 1) header_pos = after_odd_chunk(source, header_pos, tag);
    }
}

int32_t read_riff_wave(byte_source* source, wave_format* format) {
    // The "RIFF" tag and the size are not checked; the form type must match.
    uint8_t riff_header[RIFF_HEADER_BYTES];
    if (source_read(source, riff_header, RIFF_HEADER_BYTES) != RIFF_HEADER_BYTES) return -1;
    if (memcmp(riff_header + 8, "WAVE", 4) != 0) return -1;

    if (find_riff_chunk(source, "fmt ") < 0) return -1;
    // Exactly the 16 format bytes, whatever size the chunk states. A format cut
    // short by the end of the file keeps zeros for the bytes it lacks.
    uint8_t raw[WAVE_FORMAT_BYTES] = {};
    format->stated_frames = NO_FRAMES;
    if (source_read(source, raw, WAVE_FORMAT_BYTES) <= 0) return -1;
    format->format_tag = read_u16le(raw + 0);
    format->channels = read_u16le(raw + 2);
    format->sample_rate = read_u32le(raw + 4);
    format->average_bytes_per_second = read_u32le(raw + 8);
    format->block_align = read_u16le(raw + 12);
    format->bits_per_sample = read_u16le(raw + 14);

    // The searches start again at offset 12, so the chunks may come in any
    // order. A "fact" chunk states the exact frame count.
    uint8_t fact[4];
    if (find_riff_chunk(source, "fact") >= 4 && source_read(source, fact, 4) == 4)
        format->stated_frames = read_u32le(fact);
    return find_riff_chunk(source, "data");
}

int32_t open_wave_or_raw(byte_source* source, stream_description* description) {
    source_seek(source, 0);
    wave_format format;
    int32_t data_bytes = read_riff_wave(source, &format);
    description->file_bytes = source_size(source);
    if (data_bytes < 0) {
        description->kind = STREAM_RAW;
        description->notices |= NOTICE_PLAYED_AS_RAW;
        return raw_length(source);
    }
    description->kind = STREAM_WAVE;
    description->wave_format_tag = format.format_tag;
    if (format.format_tag != XBOX_ADPCM_TAG) {
        description->refusal = REFUSED_NOT_XBOX_ADPCM;
        return -1;
    }
    // Taken as they stand; the player refuses formats it cannot play.
    description->channels = format.channels;
    description->sample_rate = format.sample_rate;
    description->stated_frames = format.stated_frames;
    description->data_start = source_tell(source);
    if ((int64_t)description->data_start + data_bytes > description->file_bytes)
        description->notices |= NOTICE_DATA_CUT_SHORT;
    return data_bytes;
}
