// Sound input through libsndfile. A 16-bit PCM WAVE goes through the tool's
// own reader, as it always has, so what it makes of one does not change;
// every other file libsndfile reads is taken as 16-bit samples, float ones
// clipped rather than wrapped. The loop comes from a WAVE's "smpl" chunk
// (the chunk walker the player uses), else libsndfile's instrument (AIFF's
// sustain loop), else the Vorbis comments LOOPSTART and LOOPLENGTH that
// tolvane render writes into FLAC and Ogg Vorbis files; the name from the
// title.
#include "tools/tolvane/input/encoded_audio_input.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <sndfile.h>

#include "codec/little_endian.h"
#include "containers/byte_source.h"
#include "containers/riff_wave.h"
#include "containers/stream_description.h"
#include "platform/platform.h"

namespace {

const sf_count_t READ_FRAMES = 1 << 16;
// 2^31 samples (4 GiB of 16-bit sound) is more than any container the tool
// writes can hold; a longer file is refused rather than read.
const uint64_t MOST_SAMPLES = (uint64_t)1 << 31;
// A Vorbis comment header larger than this is not searched for a loop.
const uint32_t MOST_COMMENT_BYTES = 1 << 24;
const size_t OGG_HEADER_BYTES = 27;
const int MOST_OGG_PAGES = 64;

struct name_of {
    int format;
    const char* name;
};

const name_of MAJOR_NAMES[] = {
    {SF_FORMAT_WAV, "WAVE"},  {SF_FORMAT_WAVEX, "WAVE"}, {SF_FORMAT_AIFF, "AIFF"},
    {SF_FORMAT_FLAC, "FLAC"}, {SF_FORMAT_OGG, "Ogg"},    {SF_FORMAT_W64, "Wave64"},
    {SF_FORMAT_CAF, "CAF"},   {SF_FORMAT_RF64, "RF64"},  {SF_FORMAT_AU, "AU"},
};
const name_of SUBTYPE_NAMES[] = {
    {SF_FORMAT_PCM_S8, "8-bit PCM"},    {SF_FORMAT_PCM_U8, "8-bit PCM"},    {SF_FORMAT_PCM_16, "16-bit PCM"},
    {SF_FORMAT_PCM_24, "24-bit PCM"},   {SF_FORMAT_PCM_32, "32-bit PCM"},   {SF_FORMAT_FLOAT, "32-bit float"},
    {SF_FORMAT_DOUBLE, "64-bit float"}, {SF_FORMAT_VORBIS, "Vorbis"},       {SF_FORMAT_ULAW, "u-law"},
    {SF_FORMAT_ALAW, "A-law"},          {SF_FORMAT_IMA_ADPCM, "IMA ADPCM"}, {SF_FORMAT_MS_ADPCM, "MS ADPCM"},
};

const char* lookup(const name_of* names, size_t count, int format, const char* otherwise) {
    for (size_t i = 0; i < count; i++)
        if (names[i].format == format) return names[i].name;
    return otherwise;
}

// "a 24-bit PCM WAVE", "a FLAC file", "an Ogg Vorbis file".
std::string kind_of(int format) {
    int major = format & SF_FORMAT_TYPEMASK;
    int subtype = format & SF_FORMAT_SUBMASK;
    std::string container = lookup(MAJOR_NAMES, sizeof MAJOR_NAMES / sizeof MAJOR_NAMES[0], major, "sound");
    std::string samples = lookup(SUBTYPE_NAMES, sizeof SUBTYPE_NAMES / sizeof SUBTYPE_NAMES[0], subtype, "");
    std::string text;
    if (major == SF_FORMAT_FLAC)
        text = "FLAC file";
    else if (major == SF_FORMAT_OGG)
        text = subtype == SF_FORMAT_VORBIS ? "Ogg Vorbis file" : "Ogg file";
    else
        text = samples.empty() ? container + " file" : samples + " " + container;
    bool vowel = text[0] == '8' || text[0] == 'A' || text[0] == 'O' || text[0] == 'I' || text[0] == 'M' ||
                 text[0] == 'u' || text.compare(0, 4, "RF64") == 0;
    return (vowel ? "an " : "a ") + text;
}

// ---- LOOPSTART and LOOPLENGTH from a Vorbis comment header ------------------

struct vorbis_loop {
    int64_t start = -1;
    int64_t length = -1;
};

bool whole_number(const char* text, size_t size, int64_t* value) {
    if (size == 0 || size > 18) return false;
    int64_t n = 0;
    for (size_t i = 0; i < size; i++) {
        if (text[i] < '0' || text[i] > '9') return false;
        n = n * 10 + (text[i] - '0');
    }
    *value = n;
    return true;
}

// A comment body: vendor string, count, entries, each behind a 32-bit
// little-endian length. Field names compare without case.
void read_comment_body(const uint8_t* body, size_t size, vorbis_loop* loop) {
    size_t at = 0;
    if (size < 4) return;
    uint32_t vendor = read_u32le(body);
    at = 4;
    if (vendor > size - at || size - at - vendor < 4) return;
    at += vendor;
    uint32_t count = read_u32le(body + at);
    at += 4;
    for (uint32_t i = 0; i < count && size - at >= 4; i++) {
        uint32_t entry_bytes = read_u32le(body + at);
        at += 4;
        if (entry_bytes > size - at) return;
        const char* entry = (const char*)body + at;
        at += entry_bytes;
        const char* equals = (const char*)memchr(entry, '=', entry_bytes);
        if (!equals) continue;
        size_t key_bytes = (size_t)(equals - entry);
        size_t value_bytes = entry_bytes - key_bytes - 1;
        if (key_bytes == 9 && strncasecmp(entry, "LOOPSTART", 9) == 0)
            whole_number(equals + 1, value_bytes, &loop->start);
        else if (key_bytes == 10 && strncasecmp(entry, "LOOPLENGTH", 10) == 0)
            whole_number(equals + 1, value_bytes, &loop->length);
    }
}

bool read_exactly(FILE* file, void* data, size_t size) {
    return size == 0 || fread(data, 1, size, file) == size;
}

// A FLAC file's metadata blocks, up to its VORBIS_COMMENT block.
void flac_loop(FILE* file, vorbis_loop* loop) {
    uint8_t magic[4];
    if (!read_exactly(file, magic, 4) || memcmp(magic, "fLaC", 4) != 0) return;
    for (bool last = false; !last;) {
        uint8_t header[4];
        if (!read_exactly(file, header, 4)) return;
        last = (header[0] & 0x80) != 0;
        uint32_t block_bytes = ((uint32_t)header[1] << 16) | ((uint32_t)header[2] << 8) | header[3];
        if ((header[0] & 0x7F) != 4) {
            if (fseek(file, (long)block_bytes, SEEK_CUR) != 0) return;
            continue;
        }
        std::vector<uint8_t> body(block_bytes);
        if (!read_exactly(file, body.data(), body.size())) return;
        read_comment_body(body.data(), body.size(), loop);
        return;
    }
}

// An Ogg Vorbis file's second packet, gathered over as many pages as it
// takes (up to MOST_OGG_PAGES): the comment header, "\3vorbis" then the body.
void ogg_loop(FILE* file, vorbis_loop* loop) {
    std::vector<uint8_t> packet;
    int packets_ended = 0;
    for (int page = 0; page < MOST_OGG_PAGES && packets_ended < 2; page++) {
        uint8_t header[OGG_HEADER_BYTES];
        if (!read_exactly(file, header, sizeof header) || memcmp(header, "OggS", 4) != 0) return;
        uint8_t lacing[255];
        size_t segments = header[26];
        if (!read_exactly(file, lacing, segments)) return;
        size_t body_bytes = 0;
        for (size_t i = 0; i < segments; i++) body_bytes += lacing[i];
        std::vector<uint8_t> body(body_bytes);
        if (!read_exactly(file, body.data(), body.size())) return;
        size_t at = 0;
        for (size_t i = 0; i < segments && packets_ended < 2; i++) {
            if (packets_ended == 1)
                packet.insert(packet.end(), body.begin() + (long)at, body.begin() + (long)(at + lacing[i]));
            at += lacing[i];
            if (lacing[i] < 255) packets_ended++;
            if (packet.size() > MOST_COMMENT_BYTES) return;
        }
    }
    // The body lies between the 7-byte tag and the framing bit.
    if (packets_ended < 2 || packet.size() < 8 || packet[0] != 3 || memcmp(packet.data() + 1, "vorbis", 6) != 0) return;
    read_comment_body(packet.data() + 7, packet.size() - 8, loop);
}

// The loop a file states besides its sound, in frames.
void stated_loop(const std::string& path, SNDFILE* sound, int format, input_sound* out) {
    int major = format & SF_FORMAT_TYPEMASK;
    if (major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX) {
        file_handle file = file_open_read(path.c_str());
        if (file == INVALID_FILE) return;
        byte_source source = source_of_file(file);
        wave_chunks chunks;
        if (read_wave_chunks(&source, &chunks) && chunks.loop_start >= 0) {
            out->loop_start = chunks.loop_start;
            out->loop_end = chunks.loop_end;
        }
        file_close(file);
        return;
    }
    SF_INSTRUMENT instrument;
    memset(&instrument, 0, sizeof instrument);
    if (sf_command(sound, SFC_GET_INSTRUMENT, &instrument, sizeof instrument) == SF_TRUE && instrument.loop_count > 0 &&
        instrument.loops[0].mode != SF_LOOP_NONE && instrument.loops[0].end > instrument.loops[0].start) {
        out->loop_start = instrument.loops[0].start;
        out->loop_end = instrument.loops[0].end;
        return;
    }
    if (major != SF_FORMAT_FLAC && major != SF_FORMAT_OGG) return;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return;
    vorbis_loop loop;
    if (major == SF_FORMAT_FLAC)
        flac_loop(file, &loop);
    else
        ogg_loop(file, &loop);
    fclose(file);
    if (loop.start >= 0 && loop.length > 0) {
        out->loop_start = loop.start;
        out->loop_end = loop.start + loop.length;
    }
}

}  // namespace

const char* input_sound_formats() {
    return "WAVE (8, 16, 24 or 32-bit PCM, 32-bit float), FLAC, Ogg Vorbis, AIFF";
}

bool read_input_sound(const std::string& path, input_sound* sound, std::string* reason) {
    *sound = input_sound();
    const char* why = "";
    if (read_16bit_wave_input(path, sound, &why)) return true;

    SF_INFO info;
    memset(&info, 0, sizeof info);
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        *reason = describe_sound_file(path) + ", which libsndfile cannot read: " + library_words(sf_strerror(nullptr));
        return false;
    }
    sound->kind = kind_of(info.format);
    bool fits = true;
    if (info.channels < 1 || info.channels > MAX_CHANNELS) {
        *reason = sound->kind + " with " + std::to_string(info.channels) + " channels: tolvane takes 1 to " +
                  std::to_string(MAX_CHANNELS);
        fits = false;
    } else if (info.samplerate < 1) {
        *reason = sound->kind + " with no sample rate";
        fits = false;
    }
    if (!fits) {
        sf_close(file);
        return false;
    }
    sound->rate = (uint32_t)info.samplerate;
    sound->channels = (uint32_t)info.channels;
    // Float samples are scaled from +-1.0 to full scale; beyond it they are
    // clipped, not wrapped.
    sf_command(file, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    // The stated frame count is only a hint (an Ogg file's may be off): the
    // file is read until it ends.
    std::vector<int16_t> piece((size_t)READ_FRAMES * sound->channels);
    for (;;) {
        sf_count_t got = sf_readf_short(file, piece.data(), READ_FRAMES);
        if (got <= 0) break;
        if (sound->pcm.size() + (uint64_t)got * sound->channels > MOST_SAMPLES) {
            *reason = sound->kind + " longer than tolvane takes (2^31 samples)";
            sf_close(file);
            return false;
        }
        sound->pcm.insert(sound->pcm.end(), piece.begin(), piece.begin() + (long)(got * sound->channels));
    }
    if (sf_error(file) != SF_ERR_NO_ERROR) {
        *reason = sound->kind + " that cannot be read whole: " + library_words(sf_strerror(file));
        sf_close(file);
        return false;
    }
    const char* title = sf_get_string(file, SF_STR_TITLE);
    if (title) sound->name = title;
    stated_loop(path, file, info.format, sound);
    sf_close(file);
    return true;
}
