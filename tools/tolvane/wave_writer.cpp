// RIFF WAVE files for the tools and tests: 16-bit PCM written as it arrives
// or built in memory, Xbox ADPCM files built in memory, and a reader for the
// 16-bit PCM files the encoder takes as input.
#include "tools/tolvane/wave_writer.h"

#include <string.h>

#include "codec/little_endian.h"
#include "codec/xbox_adpcm.h"
#include "containers/byte_source.h"
#include "containers/riff_wave.h"

static const uint32_t PCM_HEADER_BYTES = 44;
// The RIFF size field counts everything after itself: 36 header bytes, the
// data and its pad byte must all fit 32 bits. Even, so whole 16-bit samples.
static const uint32_t MAX_DATA_BYTES = 0xFFFFFFFFu - 37;

// Header fields are 16 or 32 bits wide; a value too large for its field is
// written as the largest it can hold rather than wrapping to a small one.
static uint16_t clamp16(uint64_t value) {
    return value > 0xFFFF ? 0xFFFF : (uint16_t)value;
}

static uint32_t clamp32(uint64_t value) {
    return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)value;
}

// The 44-byte header of a 16-bit PCM WAVE whose data chunk holds data_bytes.
static void fill_pcm_header(uint8_t* h, uint32_t sample_rate, uint32_t channels, uint32_t data_bytes) {
    uint32_t pad = data_bytes & 1;
    memcpy(h, "RIFF", 4);
    write_u32le(h + 4, PCM_HEADER_BYTES - 8 + data_bytes + pad);
    memcpy(h + 8, "WAVE", 4);
    memcpy(h + 12, "fmt ", 4);
    write_u32le(h + 16, 16);
    write_u16le(h + 20, 1);
    write_u16le(h + 22, clamp16(channels));
    write_u32le(h + 24, sample_rate);
    write_u32le(h + 28, clamp32((uint64_t)sample_rate * 2 * channels));
    write_u16le(h + 32, clamp16((uint64_t)2 * channels));
    write_u16le(h + 34, 16);
    memcpy(h + 36, "data", 4);
    write_u32le(h + 40, data_bytes);
}

bool pcm_wave_open(pcm_wave_writer* writer, const char* path, uint32_t sample_rate, uint32_t channels) {
    writer->data_bytes = 0;
    if (!output_create(&writer->out, path)) return false;
    uint8_t header[PCM_HEADER_BYTES];
    fill_pcm_header(header, sample_rate, channels, 0);
    if (output_write(&writer->out, header, sizeof header)) return true;
    std::string error = writer->out.error;
    output_discard(&writer->out);
    writer->out.error = error;
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

bool pcm_wave_close(pcm_wave_writer* writer, bool keep_existing) {
    if (!writer->out.stream) return false;
    uint8_t pad = 0;
    uint8_t size[4];
    bool ok = !(writer->data_bytes & 1) || output_write(&writer->out, &pad, 1);
    write_u32le(size, PCM_HEADER_BYTES - 8 + writer->data_bytes + (writer->data_bytes & 1));
    ok = ok && output_patch(&writer->out, 4, size, 4);
    write_u32le(size, writer->data_bytes);
    ok = ok && output_patch(&writer->out, 40, size, 4);
    if (ok) return output_finish(&writer->out, keep_existing);
    pcm_wave_discard(writer);
    return false;
}

void pcm_wave_discard(pcm_wave_writer* writer) {
    std::string error = writer->out.error;
    output_discard(&writer->out);
    writer->out.error = error;
}

std::vector<uint8_t> pcm_wave_header(uint32_t sample_rate, uint32_t channels, uint64_t data_bytes) {
    std::vector<uint8_t> header(PCM_HEADER_BYTES);
    fill_pcm_header(header.data(), sample_rate, channels, (uint32_t)(data_bytes > MAX_DATA_BYTES ? MAX_DATA_BYTES : data_bytes));
    return header;
}

std::vector<uint8_t> make_pcm_wave(const int16_t* pcm, size_t frames, uint32_t channels, uint32_t sample_rate) {
    uint64_t frame_bytes = (uint64_t)2 * channels;
    uint64_t data_bytes = frame_bytes * frames;
    if (frame_bytes > 0 && data_bytes > MAX_DATA_BYTES) data_bytes = MAX_DATA_BYTES / frame_bytes * frame_bytes;

    std::vector<uint8_t> out(PCM_HEADER_BYTES + (size_t)data_bytes);
    fill_pcm_header(out.data(), sample_rate, channels, (uint32_t)data_bytes);
    for (size_t i = 0; i < (size_t)data_bytes / 2; ++i) write_u16le(&out[PCM_HEADER_BYTES + 2 * i], (uint16_t)pcm[i]);
    return out;
}

std::vector<uint8_t> make_adpcm_wave(const std::vector<uint8_t>& adpcm, uint32_t channels, uint32_t sample_rate,
                                     const wave_extras& extras) {
    const uint32_t fmt_bytes = 20;
    const uint32_t header_bytes = 12 + 8 + fmt_bytes + 8;
    // An in-memory file past 4 GiB cannot be described; keep what fits.
    uint32_t data_bytes = adpcm.size() > MAX_DATA_BYTES ? MAX_DATA_BYTES : (uint32_t)adpcm.size();
    uint32_t pad = data_bytes & 1;

    std::vector<uint8_t> out(header_bytes + (size_t)data_bytes + pad, 0);
    uint8_t* h = out.data();
    memcpy(h, "RIFF", 4);
    write_u32le(h + 4, header_bytes - 8 + data_bytes + pad);
    memcpy(h + 8, "WAVE", 4);
    memcpy(h + 12, "fmt ", 4);
    write_u32le(h + 16, fmt_bytes);
    write_u16le(h + 20, XBOX_ADPCM_TAG);
    write_u16le(h + 22, clamp16(channels));
    write_u32le(h + 24, sample_rate);
    write_u32le(h + 28, clamp32((uint64_t)sample_rate * ADPCM_BLOCK_BYTES * channels / SAMPLES_PER_BLOCK));
    write_u16le(h + 32, clamp16((uint64_t)ADPCM_BLOCK_BYTES * channels));
    write_u16le(h + 34, 4);
    write_u16le(h + 36, 2);
    write_u16le(h + 38, SAMPLES_PER_BLOCK);
    memcpy(h + 40, "data", 4);
    write_u32le(h + 44, data_bytes);
    if (data_bytes > 0) memcpy(h + header_bytes, adpcm.data(), data_bytes);
    if (extras.frames >= 0) {
        uint8_t fact[12];
        memcpy(fact, "fact", 4);
        write_u32le(fact + 4, 4);
        write_u32le(fact + 8, clamp32((uint64_t)extras.frames));
        out.insert(out.end(), fact, fact + sizeof fact);
        write_u32le(out.data() + 4, clamp32((uint64_t)out.size() - 8));
    }
    return out;
}

static bool fail(const char** error, const char* reason) {
    if (error) *error = reason;
    return false;
}

// The extensible format's subformat GUID for integer PCM.
static const uint8_t PCM_SUBFORMAT[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                          0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool read_pcm_wave(const char* path, uint32_t* sample_rate, uint32_t* channels, std::vector<int16_t>* pcm,
                   const char** error, pcm_wave_extras* extras) {
    std::vector<uint8_t> file;
    if (!read_whole_file(path, &file)) return fail(error, "cannot read the file");
    byte_source source = source_of_memory(file.data(), (int64_t)file.size());
    wave_chunks chunks;
    if (file.size() < 12 || memcmp(file.data(), "RIFF", 4) != 0 || !read_wave_chunks(&source, &chunks))
        return fail(error, "not a RIFF WAVE file");
    if (!chunks.has_format) return fail(error, "no format chunk");
    const wave_format& format = chunks.format;
    if (format.format_tag == WAVE_FORMAT_EXTENSIBLE) {
        if (chunks.extension_bytes < 22) return fail(error, "format chunk too short");
        if (memcmp(chunks.subformat, PCM_SUBFORMAT, 16) != 0) return fail(error, "not 16-bit PCM");
    } else if (format.format_tag != WAVE_FORMAT_PCM) {
        return fail(error, "not 16-bit PCM");
    }
    if (format.bits_per_sample != 16) return fail(error, "not 16-bit PCM");
    if (format.channels == 0) return fail(error, "0 channels");
    if (format.channels > 8) return fail(error, "more than 8 channels");
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

bool write_whole_file(const char* path, const std::vector<uint8_t>& bytes) {
    FILE* f = fopen(path, "wb");
    if (!f) return false;
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (fclose(f) != 0) ok = false;
    return ok;
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
