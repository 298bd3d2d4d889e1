// RIFF WAVE files for the tools and tests: 16-bit PCM written as it arrives
// or built in memory, Xbox and Microsoft ADPCM files built in memory, the
// heads of XMA WAVEs and xWMA files, and a reader for the 16-bit PCM files
// the encoder takes as input.
#include "containers/riff_wave_writer.h"

#include <string.h>

#include "codec/little_endian.h"
#include "containers/container_writer.h"
#include "codec/ms_adpcm.h"
#include "codec/xbox_adpcm.h"
#include "containers/byte_source.h"
#include "containers/riff_wave.h"
#include "containers/wave_bank.h"

static const uint32_t PCM_HEADER_BYTES = 44;
// The RIFF size field counts everything after itself: 36 header bytes, the
// data and its pad byte must all fit 32 bits. Even, so whole 16-bit samples.
static const uint32_t MAX_DATA_BYTES = 0xFFFFFFFFu - 37;
// Xbox ADPCM's format carries two more bytes: cbSize, samples per block.
static const uint32_t ADPCM_FORMAT_BYTES = 20;
static const uint32_t FACT_CHUNK_BYTES = 12;
static const uint32_t MIDI_MIDDLE_C = 60;

// Header fields are 16 or 32 bits wide; a value too large for its field is
// written as the largest it can hold rather than wrapping to a small one.
static uint16_t clamp16(uint64_t value) {
    return value > 0xFFFF ? 0xFFFF : (uint16_t)value;
}

static uint32_t clamp32(uint64_t value) {
    return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)value;
}

static void put_tag(std::vector<uint8_t>& out, const char* tag) {
    for (int i = 0; i < 4; ++i) out.push_back((uint8_t)tag[i]);
}

wave_shape pcm_shape(uint32_t sample_rate, uint32_t channels, uint16_t bits_per_sample) {
    return {WAVE_FORMAT_PCM, clamp16(channels), sample_rate, bits_per_sample};
}

wave_shape adpcm_shape(uint32_t sample_rate, uint32_t channels) {
    return {XBOX_ADPCM_TAG, clamp16(channels), sample_rate, 4};
}

wave_shape ms_adpcm_shape(uint32_t sample_rate, uint32_t channels, uint32_t block_field) {
    return {MS_ADPCM_TAG, clamp16(channels), sample_rate, 4, block_field};
}

std::vector<uint8_t> wave_tail(uint32_t data_bytes, const sound_extras& extras, uint32_t sample_rate) {
    std::vector<uint8_t> out;
    if (data_bytes & 1) out.push_back(0);
    if (extras.frames >= 0) {
        put_tag(out, "fact");
        append_u32le(out, 4);
        append_u32le(out, clamp32((uint64_t)extras.frames));
    }
    if (extras.loop_start >= 0 && extras.loop_end > extras.loop_start) {
        put_tag(out, "smpl");
        append_u32le(out, (uint32_t)(SMPL_HEADER_BYTES + SMPL_LOOP_BYTES));
        append_u32le(out, 0);                                            // manufacturer
        append_u32le(out, 0);                                            // product
        append_u32le(out, sample_rate ? 1000000000u / sample_rate : 0);  // sample period, ns
        append_u32le(out, MIDI_MIDDLE_C);
        for (int i = 0; i < 3; ++i) append_u32le(out, 0);  // pitch fraction, SMPTE format and offset
        append_u32le(out, 1);                              // one loop
        append_u32le(out, 0);                              // no sampler data
        append_u32le(out, 0);                              // cue point
        append_u32le(out, 0);                              // forward
        append_u32le(out, clamp32((uint64_t)extras.loop_start));
        append_u32le(out, clamp32((uint64_t)extras.loop_end - 1));  // its last frame
        append_u32le(out, 0);                                       // fraction
        append_u32le(out, 0);                                       // plays for ever
    }
    if (!extras.name.empty()) {
        uint32_t text_bytes = (uint32_t)extras.name.size() + 1;
        uint32_t padded = text_bytes + (text_bytes & 1);
        put_tag(out, "LIST");
        append_u32le(out, 4 + 8 + padded);
        put_tag(out, "INFO");
        put_tag(out, "INAM");
        append_u32le(out, text_bytes);
        out.insert(out.end(), extras.name.begin(), extras.name.end());
        out.resize(out.size() + (padded - text_bytes) + 1, 0);
    }
    return out;
}

// The RIFF header and a "fmt " chunk's header, for a file of riff_content
// bytes after the form type.
static void put_riff_start(std::vector<uint8_t>& out, const char* form, uint64_t riff_content, uint32_t format_bytes) {
    put_tag(out, "RIFF");
    append_u32le(out, clamp32(4 + riff_content));
    put_tag(out, form);
    put_tag(out, "fmt ");
    append_u32le(out, format_bytes);
}

// WAVEFORMATEX up to cbSize.
static void put_wave_format(std::vector<uint8_t>& out, uint16_t tag, uint16_t channels, uint32_t sample_rate,
                            uint64_t bytes_per_second, uint64_t block_align, uint16_t bits_per_sample) {
    append_u16le(out, tag);
    append_u16le(out, channels);
    append_u32le(out, sample_rate);
    append_u32le(out, clamp32(bytes_per_second));
    append_u16le(out, clamp16(block_align));
    append_u16le(out, bits_per_sample);
}

std::vector<uint8_t> wave_head(const wave_shape& shape, uint32_t data_bytes, uint32_t tail_bytes) {
    bool xbox_adpcm = shape.format_tag == XBOX_ADPCM_TAG;
    bool ms_adpcm = shape.format_tag == MS_ADPCM_TAG;
    uint32_t format_bytes = xbox_adpcm ? ADPCM_FORMAT_BYTES : ms_adpcm ? MS_ADPCM_FORMAT_BYTES : WAVE_FORMAT_BYTES;
    uint64_t block_align = xbox_adpcm ? (uint64_t)ADPCM_BLOCK_BYTES * shape.channels
                           : ms_adpcm ? (uint64_t)ms_adpcm_block_bytes(shape.block_field, shape.channels)
                                      : (uint64_t)shape.channels * (shape.bits_per_sample / 8u);
    uint32_t frames_per_block = xbox_adpcm ? SAMPLES_PER_BLOCK
                                : ms_adpcm ? (uint32_t)ms_adpcm_block_frames(shape.block_field)
                                           : 1;
    uint64_t bytes_per_second = frames_per_block ? (uint64_t)shape.sample_rate * block_align / frames_per_block : 0;
    std::vector<uint8_t> out;
    put_riff_start(out, "WAVE", (uint64_t)8 + format_bytes + 8 + data_bytes + tail_bytes, format_bytes);
    put_wave_format(out, shape.format_tag, shape.channels, shape.sample_rate, bytes_per_second, block_align,
                    shape.bits_per_sample);
    if (xbox_adpcm) {
        append_u16le(out, 2);
        append_u16le(out, SAMPLES_PER_BLOCK);
    }
    if (ms_adpcm) {
        append_u16le(out, (uint16_t)(format_bytes - 18));
        append_u16le(out, (uint16_t)frames_per_block);
        append_u16le(out, MS_ADPCM_PREDICTORS);
        for (int i = 0; i < MS_ADPCM_PREDICTORS; ++i) {
            append_u16le(out, (uint16_t)MS_ADPCM_COEFFICIENTS[i][0]);
            append_u16le(out, (uint16_t)MS_ADPCM_COEFFICIENTS[i][1]);
        }
    }
    put_tag(out, "data");
    append_u32le(out, data_bytes);
    return out;
}

std::vector<uint8_t> xma_wave_head(const xma_stream& stream, uint32_t data_bytes) {
    // XMA is decoded in blocks of whole packets; this file holds one block
    // of all its data.
    uint64_t block_bytes = aligned_offset(data_bytes, XMA_PACKET_BYTES);
    uint64_t bytes_per_second = stream.frames ? (uint64_t)data_bytes * stream.sample_rate / stream.frames : 0;
    uint32_t channel_mask = stream.channels == 1 ? 0x4 : stream.channels == 2 ? 0x3 : 0;
    bool looped = stream.loop_length > 0;
    std::vector<uint8_t> out;
    put_riff_start(out, "WAVE", (uint64_t)8 + XMA_FORMAT_BYTES + 8 + data_bytes + (data_bytes & 1), XMA_FORMAT_BYTES);
    put_wave_format(out, XMA_WAVE_TAG, stream.channels, stream.sample_rate, bytes_per_second,
                    (uint64_t)stream.channels * 2, 16);
    append_u16le(out, (uint16_t)(XMA_FORMAT_BYTES - 18));
    append_u16le(out, (uint16_t)((stream.channels + 1) / 2));  // streams of one or two channels
    append_u32le(out, channel_mask);
    append_u32le(out, stream.frames);  // samples encoded
    append_u32le(out, clamp32(block_bytes));
    append_u32le(out, 0);  // play begin
    append_u32le(out, stream.frames);
    append_u32le(out, looped ? stream.loop_start : 0);
    append_u32le(out, looped ? stream.loop_length : 0);
    out.push_back(looped ? 255 : 0);  // loop count: for ever
    out.push_back(4);                 // encoder version
    append_u16le(out, 1);             // block count
    put_tag(out, "data");
    append_u32le(out, data_bytes);
    return out;
}

std::vector<uint8_t> xwma_head(const xwma_shape& shape, const std::vector<uint32_t>& seek_table, uint32_t data_bytes) {
    uint64_t seek_bytes = 4ull * seek_table.size();
    std::vector<uint8_t> out;
    put_riff_start(out, "XWMA", (uint64_t)8 + 18 + 8 + seek_bytes + 8 + data_bytes + (data_bytes & 1), 18);
    put_wave_format(out, shape.format_tag, shape.channels, shape.sample_rate, shape.bytes_per_second,
                    shape.packet_bytes, 16);
    append_u16le(out, 0);
    put_tag(out, "dpds");
    append_u32le(out, clamp32(seek_bytes));
    for (uint32_t value : seek_table) append_u32le(out, value);
    put_tag(out, "data");
    append_u32le(out, data_bytes);
    return out;
}

bool pcm_wave_open(pcm_wave_writer* writer, const char* path, uint32_t sample_rate, uint32_t channels) {
    writer->data_bytes = 0;
    writer->sample_rate = sample_rate;
    if (!output_create(&writer->out, path)) return false;
    std::vector<uint8_t> header = pcm_wave_header(sample_rate, channels, 0);
    if (output_write(&writer->out, header.data(), header.size())) return true;
    output_discard(&writer->out);
    return false;
}

bool pcm_wave_write(pcm_wave_writer* writer, const void* pcm, uint32_t byte_count) {
    if (!writer->out.stream) return false;
    // A write that would take the file past what its size fields can describe
    // is refused whole, so the file stays valid with everything before it.
    if (byte_count > MAX_DATA_BYTES - writer->data_bytes) return false;
    if (!output_write(&writer->out, pcm, byte_count)) return false;
    writer->data_bytes += byte_count;
    return true;
}

bool pcm_wave_close(pcm_wave_writer* writer, bool keep_existing, const sound_extras& extras) {
    if (!writer->out.stream) return false;
    std::vector<uint8_t> tail = wave_tail(writer->data_bytes, extras, writer->sample_rate);
    uint8_t size[4];
    bool ok = output_write(&writer->out, tail.data(), tail.size());
    write_u32le(size, clamp32((uint64_t)PCM_HEADER_BYTES - 8 + writer->data_bytes + tail.size()));
    ok = ok && output_patch(&writer->out, 4, size, 4);
    write_u32le(size, writer->data_bytes);
    ok = ok && output_patch(&writer->out, 40, size, 4);
    if (ok) return output_finish(&writer->out, keep_existing);
    pcm_wave_discard(writer);
    return false;
}

void pcm_wave_discard(pcm_wave_writer* writer) {
    output_discard(&writer->out);
}

std::vector<uint8_t> pcm_wave_header(uint32_t sample_rate, uint32_t channels, uint64_t data_bytes) {
    uint32_t kept = (uint32_t)(data_bytes > MAX_DATA_BYTES ? MAX_DATA_BYTES : data_bytes);
    return wave_head(pcm_shape(sample_rate, channels), kept, kept & 1);
}

std::vector<uint8_t> make_wave(const wave_shape& shape, const uint8_t* data, size_t data_bytes,
                               const sound_extras& extras) {
    // An in-memory file past 4 GiB cannot be described; keep what fits.
    uint32_t kept = data_bytes > MAX_DATA_BYTES ? MAX_DATA_BYTES : (uint32_t)data_bytes;
    std::vector<uint8_t> tail = wave_tail(kept, extras, shape.sample_rate);
    std::vector<uint8_t> out = wave_head(shape, kept, (uint32_t)tail.size());
    out.insert(out.end(), data, data + kept);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

std::vector<uint8_t> make_adpcm_wave(const std::vector<uint8_t>& adpcm, uint32_t channels, uint32_t sample_rate,
                                     const sound_extras& extras) {
    return make_wave(adpcm_shape(sample_rate, channels), adpcm.data(), adpcm.size(), extras);
}

static bool fail(const char** error, const char* reason) {
    if (error) *error = reason;
    return false;
}

// The extensible format's subformat GUID for integer PCM.
static const uint8_t PCM_SUBFORMAT[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                          0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool read_pcm_wave(const char* path, uint32_t* sample_rate, uint32_t* channels, std::vector<int16_t>* pcm,
                   const char** error, sound_extras* extras) {
    std::vector<uint8_t> file;
    if (!read_whole_file(path, &file)) return fail(error, "cannot read the file");
    byte_source source = source_of_memory(file.data(), (int64_t)file.size());
    wave_chunks chunks;
    if (file.size() < 12 || memcmp(file.data(), "RIFF", 4) != 0 || !read_wave_chunks(&source, &chunks))
        return fail(error, "not a RIFF WAVE file");
    if (!chunks.has_format) return fail(error, "no format chunk");
    if (chunks.format_size < WAVE_FORMAT_BYTES) return fail(error, "format chunk too short");
    const wave_format& format = chunks.format;
    if (format.format_tag == WAVE_FORMAT_EXTENSIBLE) {
        if (chunks.extension_bytes < 22) return fail(error, "format chunk too short");
        if (memcmp(chunks.subformat, PCM_SUBFORMAT, 16) != 0) return fail(error, "not 16-bit PCM");
    } else if (format.format_tag != WAVE_FORMAT_PCM) {
        return fail(error, "not 16-bit PCM");
    }
    if (format.bits_per_sample != 16) return fail(error, "not 16-bit PCM");
    if (format.channels == 0) return fail(error, "0 channels");
    if (format.channels > MAX_CHANNELS) return fail(error, "more than 8 channels");
    if (format.sample_rate == 0) return fail(error, "sample rate 0");
    if (!chunks.has_data) return fail(error, "no data chunk");

    // A data chunk that runs past the end of the file yields the samples it
    // holds. The block align field is not trusted: frames are 2 bytes per
    // channel.
    uint64_t data_bytes = (uint64_t)chunks.data_bytes;
    uint64_t present = file.size() - (uint64_t)chunks.data_start;
    if (data_bytes > present) data_bytes = present;
    size_t frames = (size_t)(data_bytes / (2u * format.channels));
    pcm->resize(frames * format.channels);
    const uint8_t* data = file.data() + chunks.data_start;
    for (size_t i = 0; i < pcm->size(); ++i) (*pcm)[i] = read_s16le(data + 2 * i);
    *sample_rate = format.sample_rate;
    *channels = format.channels;
    if (extras) {
        extras->loop_start = chunks.loop_start;
        extras->loop_end = chunks.loop_end;
        extras->name = chunks.name;
    }
    return true;
}

bool read_whole_file(const char* path, std::vector<uint8_t>* bytes) {
    bytes->clear();
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    // Read in pieces to the end rather than trusting a size from ftell, which
    // is a long and cannot describe large files on every platform.
    uint8_t piece[65536];
    size_t got;
    while ((got = fread(piece, 1, sizeof piece, f)) > 0) bytes->insert(bytes->end(), piece, piece + got);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}
