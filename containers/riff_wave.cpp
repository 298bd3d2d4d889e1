// RIFF WAVE reader, and the raw-data fallback that plays every other file as
// headerless stereo ADPCM at 44100 Hz from its first byte.

#include "containers/riff_wave.h"

#include <limits.h>
#include <string.h>

#include "codec/little_endian.h"
#include "codec/xbox_adpcm.h"

namespace {

const int32_t INFO_SUBCHUNK_HEADER_BYTES = 8;

// Raw data is the whole file. Positions are signed 32-bit, so a file of 2 GiB
// or more plays as far as INT32_MAX bytes reach.
int32_t raw_length(const byte_source* source) {
    int64_t size_bytes = source_size(source);
    if (size_bytes < 0) return 0;
    if (size_bytes > INT32_MAX) return INT32_MAX;
    return (int32_t)size_bytes;
}

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
// content is kept when it looks like a chunk's (its tag printable), else the
// one a byte later when that one does.
int64_t after_odd_chunk(byte_source* source, int64_t unpadded) {
    uint8_t tag[4];
    if (tag_at(source, unpadded, tag) && is_printable_tag(tag)) return unpadded;
    if (tag_at(source, unpadded + 1, tag) && is_printable_tag(tag)) return unpadded + 1;
    return unpadded;
}

// Calls visit(context, tag, size, content position) for each chunk from
// offset 12, in order, until visit returns false or the walk can go no
// further: a header cut short by the end of the file, a size with the top
// bit set (it would step backwards, or onto the same header, and loop), or a
// position a signed 32-bit seek cannot name.
typedef bool (*chunk_visitor)(void* context, byte_source* source, const uint8_t* tag, int32_t size_bytes,
                              int64_t content_at);

void walk_chunks(byte_source* source, chunk_visitor visit, void* context) {
    int64_t header_pos = RIFF_HEADER_BYTES;
    for (;;) {
        if (header_pos + RIFF_CHUNK_HEADER_BYTES > INT32_MAX) return;
        if (source_seek(source, header_pos) != header_pos) return;
        uint8_t header[RIFF_CHUNK_HEADER_BYTES];
        if (source_read(source, header, RIFF_CHUNK_HEADER_BYTES) != RIFF_CHUNK_HEADER_BYTES) return;
        int32_t size_bytes = read_s32le(header + 4);
        if (!visit(context, source, header, size_bytes, header_pos + RIFF_CHUNK_HEADER_BYTES)) return;
        if (size_bytes < 0) return;
        header_pos += RIFF_CHUNK_HEADER_BYTES + (int64_t)size_bytes;
        if (size_bytes & 1) header_pos = after_odd_chunk(source, header_pos);
    }
}

// Reads up to byte_count bytes at position into buffer, cleared first;
// returns the bytes delivered.
int32_t read_at(byte_source* source, int64_t position, uint8_t* buffer, int32_t byte_count) {
    memset(buffer, 0, (size_t)byte_count);
    if (position > INT32_MAX || source_seek(source, position) != position) return 0;
    int32_t got = source_read(source, buffer, byte_count);
    return got > 0 ? got : 0;
}

void take_format(byte_source* source, int32_t size_bytes, int64_t content_at, wave_chunks* chunks) {
    uint8_t raw[WAVE_FORMAT_EXTENSIBLE_BYTES];
    // Exactly the 16 format bytes, whatever size the chunk states, and the
    // extension only when the chunk holds it. A format cut short by the end
    // of the file keeps zeros for the bytes it lacks.
    int32_t wanted = size_bytes >= WAVE_FORMAT_EXTENSIBLE_BYTES ? WAVE_FORMAT_EXTENSIBLE_BYTES : WAVE_FORMAT_BYTES;
    int32_t got = read_at(source, content_at, raw, wanted);
    if (got <= 0) return;
    chunks->has_format = true;
    chunks->format_size = size_bytes;
    wave_format& f = chunks->format;
    f.format_tag = read_u16le(raw + 0);
    f.channels = read_u16le(raw + 2);
    f.sample_rate = read_u32le(raw + 4);
    f.average_bytes_per_second = read_u32le(raw + 8);
    f.block_align = read_u16le(raw + 12);
    f.bits_per_sample = read_u16le(raw + 14);
    if (got == WAVE_FORMAT_EXTENSIBLE_BYTES) {
        chunks->extension_bytes = read_u16le(raw + 16);
        memcpy(chunks->subformat, raw + 24, sizeof chunks->subformat);
    }
}

void take_loop(byte_source* source, int32_t size_bytes, int64_t content_at, wave_chunks* chunks) {
    uint8_t raw[SMPL_HEADER_BYTES + SMPL_LOOP_BYTES];
    if (size_bytes < (int32_t)sizeof raw ||
        read_at(source, content_at, raw, (int32_t)sizeof raw) != (int32_t)sizeof raw)
        return;
    if (read_u32le(raw + 28) == 0) return;
    uint32_t start = read_u32le(raw + SMPL_HEADER_BYTES + 8);
    uint32_t last = read_u32le(raw + SMPL_HEADER_BYTES + 12);
    if (last < start) return;
    chunks->loop_start = start;
    chunks->loop_end = (int64_t)last + 1;
}

// A "LIST" chunk of form "INFO": subchunks, each padded to an even size.
void take_name(byte_source* source, int32_t size_bytes, int64_t content_at, wave_chunks* chunks) {
    uint8_t form[4];
    if (size_bytes < 4 || read_at(source, content_at, form, 4) != 4 || memcmp(form, "INFO", 4) != 0) return;
    int64_t end = content_at + size_bytes;
    for (int64_t at = content_at + 4; at + INFO_SUBCHUNK_HEADER_BYTES <= end;) {
        uint8_t header[INFO_SUBCHUNK_HEADER_BYTES];
        if (read_at(source, at, header, INFO_SUBCHUNK_HEADER_BYTES) != INFO_SUBCHUNK_HEADER_BYTES) return;
        uint32_t length = read_u32le(header + 4);
        if (memcmp(header, "INAM", 4) == 0) {
            int32_t wanted = length < (uint32_t)LONGEST_WAVE_NAME ? (int32_t)length : LONGEST_WAVE_NAME;
            read_at(source, at + INFO_SUBCHUNK_HEADER_BYTES, (uint8_t*)chunks->name, wanted);
            chunks->name[LONGEST_WAVE_NAME] = '\0';
            return;
        }
        at += INFO_SUBCHUNK_HEADER_BYTES + (int64_t)length + (length & 1);
    }
}

bool visit_wave_chunk(void* context, byte_source* source, const uint8_t* tag, int32_t size_bytes, int64_t content_at) {
    wave_chunks* chunks = (wave_chunks*)context;
    if (memcmp(tag, "fmt ", 4) == 0 && !chunks->has_format) {
        take_format(source, size_bytes, content_at, chunks);
    } else if (memcmp(tag, "data", 4) == 0 && !chunks->has_data) {
        // A size with the top bit set is no sound the player can reach.
        if (size_bytes < 0) return false;
        chunks->has_data = true;
        chunks->data_start = content_at;
        chunks->data_bytes = size_bytes;
    } else if (memcmp(tag, "fact", 4) == 0 && chunks->format.stated_frames == NO_FRAMES && size_bytes >= 4) {
        uint8_t frames[4];
        if (read_at(source, content_at, frames, 4) == 4) chunks->format.stated_frames = read_u32le(frames);
    } else if (memcmp(tag, "smpl", 4) == 0 && chunks->loop_start == NO_FRAMES) {
        take_loop(source, size_bytes, content_at, chunks);
    } else if (memcmp(tag, "LIST", 4) == 0 && chunks->name[0] == '\0') {
        take_name(source, size_bytes, content_at, chunks);
    }
    return true;
}

struct chunk_search {
    const char* tag;
    bool found;
    int32_t size_bytes;
    int64_t content_at;
};

bool visit_searched_chunk(void* context, byte_source*, const uint8_t* tag, int32_t size_bytes, int64_t content_at) {
    chunk_search* search = (chunk_search*)context;
    if (memcmp(tag, search->tag, 4) != 0) return true;
    search->found = true;
    search->size_bytes = size_bytes;
    search->content_at = content_at;
    return false;
}

}  // namespace

bool read_wave_chunks(byte_source* source, wave_chunks* chunks) {
    memset(chunks, 0, sizeof *chunks);
    chunks->format.stated_frames = NO_FRAMES;
    chunks->loop_start = NO_FRAMES;
    chunks->loop_end = NO_FRAMES;
    uint8_t riff_header[RIFF_HEADER_BYTES];
    if (source_seek(source, 0) != 0 || source_read(source, riff_header, RIFF_HEADER_BYTES) != RIFF_HEADER_BYTES)
        return false;
    if (memcmp(riff_header + 8, "WAVE", 4) != 0) return false;
    walk_chunks(source, visit_wave_chunk, chunks);
    return true;
}

int32_t find_riff_chunk(byte_source* source, const char* tag) {
    chunk_search search = {tag, false, 0, 0};
    walk_chunks(source, visit_searched_chunk, &search);
    if (!search.found || source_seek(source, search.content_at) != search.content_at) return -1;
    return search.size_bytes;
}

bool read_wave_or_raw(byte_source* source, stream_description* description) {
    wave_chunks chunks;
    bool is_wave = read_wave_chunks(source, &chunks) && chunks.has_format && chunks.has_data;
    description->file_bytes = source_size(source);
    if (!is_wave) {
        source_seek(source, 0);
        description->kind = STREAM_RAW;
        description->notices |= NOTICE_PLAYED_AS_RAW;
        description->data_length = raw_length(source);
        return true;
    }
    const wave_format& format = chunks.format;
    description->kind = STREAM_WAVE;
    description->wave_format_tag = format.format_tag;
    if (format.format_tag != XBOX_ADPCM_TAG) {
        source_seek(source, 0);
        description->data_length = 0;
        description->refusal = REFUSED_NOT_XBOX_ADPCM;
        return false;
    }
    // Taken as they stand; the player refuses formats it cannot play.
    description->channels = format.channels;
    description->sample_rate = format.sample_rate;
    description->stated_frames = format.stated_frames;
    description->stream_loop_start = chunks.loop_start;
    description->stream_loop_end = chunks.loop_end;
    description_name_stream(description, chunks.name);
    description->data_start = (int32_t)chunks.data_start;
    source_seek(source, chunks.data_start);
    if (chunks.data_start + chunks.data_bytes > description->file_bytes) description->notices |= NOTICE_DATA_CUT_SHORT;
    description->data_length = chunks.data_bytes;
    return true;
}
