// FLAC and Ogg Vorbis output through libsndfile. libsndfile writes the file
// under a temporary name (through our own I/O callbacks, so that its write
// errors keep the system's reason); it can store a title but no comment of
// our choosing, so when there is a loop to record, the finished file is
// copied once more into a second temporary file with LOOPSTART and
// LOOPLENGTH appended to its Vorbis comment header, and that copy is the one
// that gets the name. Both temporary files are output_files, so an
// interrupt removes them.
#include "tools/tolvane/session/encoded_audio.h"
#include "tools/tolvane/input/encoded_audio_input.h"

#include <errno.h>
#include <string.h>

#include <sndfile.h>

#include "codec/little_endian.h"
#include "containers/stream_description.h"

namespace {

// FLAC's own limit, which libsndfile enforces.
const uint32_t FLAC_MAX_RATE = 655350;
// libvorbis has encoder setups for rates up to 200 kHz and refuses more.
const uint32_t VORBIS_MAX_RATE = 200000;
// libsndfile maps 0..1 onto FLAC's levels 0..8: 5/8 is level 5, the level
// libFLAC and the flac tool use by default.
const double FLAC_COMPRESSION = 5.0 / 8.0;
// Vorbis quality 0.5 (oggenc's -q 5, about 160 kbit/s for stereo at
// 44.1 kHz): ample for sound that was 4-bit ADPCM to begin with.
const double VORBIS_QUALITY = 0.5;

// The sound arrives, as WAVE and FLAC store it, in WAVE's channel order
// (FL FR FC LFE BL BR, then SL SR; with seven, FL FR FC LFE BC SL SR).
// Vorbis has an order of its own (FL FC FR, the surrounds, LFE last) and
// libvorbis low-passes the channel it takes for the LFE, so the channels
// are put in Vorbis order on the way in: Vorbis channel v is WAVE channel
// VORBIS_FROM_WAVE[channels][v].
const uint8_t VORBIS_FROM_WAVE[MAX_CHANNELS + 1][MAX_CHANNELS] = {
    {},
    {0},
    {0, 1},
    {0, 2, 1},
    {0, 1, 2, 3},
    {0, 2, 1, 3, 4},
    {0, 2, 1, 4, 5, 3},
    {0, 2, 1, 5, 6, 4, 3},
    {0, 2, 1, 6, 7, 4, 5, 3},
};
const size_t REORDER_FRAMES = 4096;

const size_t COPY_BUFFER_BYTES = 64 * 1024;
// A FLAC metadata block's length is a 24-bit field.
const uint32_t FLAC_MAX_BLOCK_BYTES = 0xFFFFFF;
const uint8_t FLAC_STREAMINFO = 0;
const uint8_t FLAC_VORBIS_COMMENT = 4;
const uint8_t FLAC_INVALID_BLOCK = 127;
const size_t OGG_HEADER_BYTES = 27;
const size_t OGG_CRC_OFFSET = 22;
const size_t OGG_MAX_SEGMENTS = 255;
const uint8_t OGG_CONTINUED = 0x01;
const uint8_t OGG_FIRST_PAGE = 0x02;
// A Vorbis header packet starts with its type and "vorbis".
const size_t VORBIS_HEADER_TAG_BYTES = 7;

void set_error(std::string* error, const std::string& text) {
    if (error) *error = text;
}

std::string library_reason(SNDFILE* sound) {
    return library_words(sf_strerror(sound));
}

const char* format_name(encoded_format format) {
    return format == ENCODED_FLAC ? "FLAC" : "Ogg Vorbis";
}

}  // namespace

struct encoded_writer {
    output_file stage;  // where libsndfile writes
    SNDFILE* sound = nullptr;
    encoded_format format = ENCODED_FLAC;
    uint32_t channels = 0;
    uint64_t frames_written = 0;
    const uint8_t* channel_order = nullptr;  // for Ogg Vorbis with 3 or more channels
    std::vector<int16_t> reordered;
    std::vector<std::string> comments;  // appended once libsndfile is done
    int io_error = 0;                   // errno of the first failed write
    std::string failure;                // set once a write has failed
};

// ---- libsndfile's I/O, onto the temporary file's stream ----------------------

namespace {

encoded_writer* writer_of(void* user_data) {
    return static_cast<encoded_writer*>(user_data);
}

sf_count_t io_tell(void* user_data) {
    return (sf_count_t)ftello(writer_of(user_data)->stage.stream);
}

sf_count_t io_get_filelen(void* user_data) {
    FILE* stream = writer_of(user_data)->stage.stream;
    off_t position = ftello(stream);
    if (position < 0 || fseeko(stream, 0, SEEK_END) != 0) return -1;
    off_t length = ftello(stream);
    if (fseeko(stream, position, SEEK_SET) != 0) return -1;
    return (sf_count_t)length;
}

sf_count_t io_seek(sf_count_t offset, int whence, void* user_data) {
    FILE* stream = writer_of(user_data)->stage.stream;
    if (fseeko(stream, (off_t)offset, whence) != 0) return -1;
    return (sf_count_t)ftello(stream);
}

// The file is only written while libsndfile has it.
sf_count_t io_read(void*, sf_count_t, void*) {
    return 0;
}

sf_count_t io_write(const void* data, sf_count_t byte_count, void* user_data) {
    encoded_writer* writer = writer_of(user_data);
    if (byte_count <= 0) return 0;
    errno = 0;
    size_t written = fwrite(data, 1, (size_t)byte_count, writer->stage.stream);
    if (written < (size_t)byte_count && writer->io_error == 0) writer->io_error = errno ? errno : EIO;
    return (sf_count_t)written;
}

SF_VIRTUAL_IO stage_io = {io_get_filelen, io_seek, io_read, io_write, io_tell};

}  // namespace

// ---- The public calls -----------------------------------------------------------

bool encoded_audio_available() {
    return true;
}

const char* encoded_audio_unavailable_reason() {
    return "";
}

encoded_writer* encoded_open(const std::string& path, encoded_format format, uint32_t rate, uint32_t channels,
                             const sound_extras& tags, std::string* error) {
    if (format != ENCODED_FLAC && format != ENCODED_OGG) {
        set_error(error, "no such encoded format");
        return nullptr;
    }
    if (channels < 1 || channels > MAX_CHANNELS) {
        set_error(error, std::string(format_name(format)) + " output takes 1 to " + std::to_string(MAX_CHANNELS) +
                             " channels, not " + std::to_string(channels));
        return nullptr;
    }
    uint32_t max_rate = format == ENCODED_FLAC ? FLAC_MAX_RATE : VORBIS_MAX_RATE;
    if (rate < 1 || rate > max_rate) {
        set_error(error, std::string(format_name(format)) + " takes sample rates from 1 to " +
                             std::to_string(max_rate) + " Hz, not " + std::to_string(rate));
        return nullptr;
    }

    encoded_writer* writer = new encoded_writer();
    writer->format = format;
    writer->channels = channels;
    if (format == ENCODED_OGG && channels >= 3) {
        writer->channel_order = VORBIS_FROM_WAVE[channels];
        writer->reordered.resize(REORDER_FRAMES * channels);
    }
    if (tags.loop_start >= 0 && tags.loop_end > tags.loop_start) {
        writer->comments.push_back("LOOPSTART=" + std::to_string(tags.loop_start));
        writer->comments.push_back("LOOPLENGTH=" + std::to_string(tags.loop_end - tags.loop_start));
    }
    if (!output_create(&writer->stage, path)) {
        set_error(error, writer->stage.error);
        delete writer;
        return nullptr;
    }

    SF_INFO info;
    memset(&info, 0, sizeof info);
    info.samplerate = (int)rate;
    info.channels = (int)channels;
    info.format = format == ENCODED_FLAC ? (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) : (SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    writer->sound = sf_open_virtual(&stage_io, SFM_WRITE, &info, writer);
    if (!writer->sound) {
        set_error(error, writer->io_error ? system_reason(writer->io_error) : library_reason(nullptr));
        encoded_discard(writer);
        return nullptr;
    }
    // The setting is a preference: a libsndfile that refuses it still
    // encodes, with its own default, so its answer is not checked.
    if (format == ENCODED_FLAC) {
        double level = FLAC_COMPRESSION;
        sf_command(writer->sound, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
    } else {
        double quality = VORBIS_QUALITY;
        sf_command(writer->sound, SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof quality);
    }
    // Both formats write their headers with the first frames, so the title
    // set here is in them.
    if (!tags.name.empty() && sf_set_string(writer->sound, SF_STR_TITLE, tags.name.c_str()) != 0) {
        set_error(error, "cannot store the title: " + library_reason(writer->sound));
        encoded_discard(writer);
        return nullptr;
    }
    return writer;
}

bool encoded_write(encoded_writer* writer, const int16_t* pcm, size_t frames, std::string* error) {
    if (!writer) {
        set_error(error, "no file open");
        return false;
    }
    if (!writer->failure.empty()) {
        set_error(error, writer->failure);
        return false;
    }
    if (frames == 0) return true;
    if (!pcm || frames > (uint64_t)INT64_MAX / writer->channels) {
        writer->failure = pcm ? "too many frames in one write" : "no sound to write";
        set_error(error, writer->failure);
        return false;
    }
    bool written = true;
    if (!writer->channel_order) {
        written = sf_writef_short(writer->sound, pcm, (sf_count_t)frames) == (sf_count_t)frames;
    } else {
        uint32_t channels = writer->channels;
        for (size_t done = 0; written && done < frames;) {
            size_t piece = frames - done < REORDER_FRAMES ? frames - done : REORDER_FRAMES;
            const int16_t* from = pcm + done * channels;
            int16_t* to = writer->reordered.data();
            for (size_t f = 0; f < piece; f++, from += channels, to += channels)
                for (uint32_t c = 0; c < channels; c++) to[c] = from[writer->channel_order[c]];
            written = sf_writef_short(writer->sound, writer->reordered.data(), (sf_count_t)piece) == (sf_count_t)piece;
            done += piece;
        }
    }
    if (!written) {
        writer->failure = writer->io_error ? system_reason(writer->io_error) : library_reason(writer->sound);
        set_error(error, writer->failure);
        return false;
    }
    writer->frames_written += frames;
    return true;
}

bool encoded_finish(encoded_writer* writer, bool keep_existing, std::string* error) {
    if (!writer) {
        set_error(error, "no file open");
        return false;
    }
    if (!writer->failure.empty()) {
        set_error(error, writer->failure);
        encoded_discard(writer);
        return false;
    }
    // libsndfile writes a FLAC file's header with its first frames; with
    // none it would leave the file empty, so it is asked for the header now.
    // (The stream then states 0 frames, which FLAC reads as "not known".)
    if (writer->format == ENCODED_FLAC && writer->frames_written == 0)
        sf_command(writer->sound, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    int closed = sf_close(writer->sound);
    writer->sound = nullptr;
    std::string failure;
    if (writer->io_error)
        failure = system_reason(writer->io_error);
    else if (closed != 0)
        failure = library_words(sf_error_number(closed));
    else if (fflush(writer->stage.stream) != 0)
        failure = system_reason(errno);
    if (!failure.empty()) {
        set_error(error, failure);
        encoded_discard(writer);
        return false;
    }

    if (writer->comments.empty()) {
        bool finished = output_finish(&writer->stage, keep_existing);
        if (!finished) set_error(error, writer->stage.error);
        encoded_discard(writer);
        return finished;
    }

    // The finished file is read back from the start for the copy.
    fclose(writer->stage.stream);
    writer->stage.stream = fopen(writer->stage.temp_path.c_str(), "rb");
    if (!writer->stage.stream) {
        set_error(error, system_reason(errno));
        encoded_discard(writer);
        return false;
    }
    output_file tagged;
    bool finished = output_create(&tagged, writer->stage.path);
    std::string reason = tagged.error;
    if (finished) {
        finished = encoded_copy_with_comments(writer->stage.stream, writer->format, writer->comments, &tagged, &reason);
        if (finished) {
            finished = output_finish(&tagged, keep_existing);
            if (!finished) reason = tagged.error;
        }
    }
    output_discard(&tagged);
    encoded_discard(writer);
    if (!finished) set_error(error, reason);
    return finished;
}

void encoded_discard(encoded_writer* writer) {
    if (!writer) return;
    // Closing lets libsndfile free what it holds; what it writes meanwhile
    // goes with the temporary file.
    if (writer->sound) sf_close(writer->sound);
    output_discard(&writer->stage);
    delete writer;
}

// ---- Appending to the Vorbis comment header -----------------------------------

namespace {

// The copy: where it reads, where it writes, and what to say when the input
// is not what the encoder writes.
struct comment_copy {
    FILE* from;
    output_file* to;
    std::string* error;
    const char* layout_reason;
};

bool unexpected(comment_copy* copy) {
    set_error(copy->error, copy->layout_reason);
    return false;
}

// Reads exactly byte_count bytes; a file that ends first is not laid out as
// expected.
bool take(comment_copy* copy, void* data, size_t byte_count) {
    if (byte_count == 0 || fread(data, 1, byte_count, copy->from) == byte_count) return true;
    if (ferror(copy->from)) {
        set_error(copy->error, system_reason(errno));
        return false;
    }
    return unexpected(copy);
}

bool put(comment_copy* copy, const void* data, size_t byte_count) {
    if (output_write(copy->to, data, byte_count)) return true;
    set_error(copy->error, copy->to->error);
    return false;
}

// Copies byte_count bytes, or, with copy_all, everything up to the end.
bool pass_through(comment_copy* copy, uint64_t byte_count, bool copy_all) {
    std::vector<uint8_t> buffer(COPY_BUFFER_BYTES);
    while (copy_all || byte_count > 0) {
        size_t want = copy_all || byte_count > buffer.size() ? buffer.size() : (size_t)byte_count;
        size_t got = fread(buffer.data(), 1, want, copy->from);
        if (got > 0 && !put(copy, buffer.data(), got)) return false;
        byte_count -= copy_all ? 0 : got;
        if (got < want) {
            if (ferror(copy->from)) {
                set_error(copy->error, system_reason(errno));
                return false;
            }
            return copy_all || unexpected(copy);
        }
    }
    return true;
}

// A Vorbis comment body (vendor string, count, entries, each with a 32-bit
// little-endian length) that fills body[0, size), with entries appended.
// False when the body does not fill exactly that span.
bool append_entries(const uint8_t* body, size_t size, const std::vector<std::string>& entries,
                    std::vector<uint8_t>* out) {
    size_t position = 0;
    if (size - position < 4) return false;
    uint32_t vendor_bytes = read_u32le(body + position);
    position += 4;
    if (vendor_bytes > size - position) return false;
    position += vendor_bytes;
    if (size - position < 4) return false;
    size_t count_at = position;
    uint32_t count = read_u32le(body + position);
    position += 4;
    // Each entry takes at least its length field, so a count the body cannot
    // hold ends the loop within size / 4 rounds.
    for (uint32_t i = 0; i < count; i++) {
        if (size - position < 4) return false;
        uint32_t entry_bytes = read_u32le(body + position);
        position += 4;
        if (entry_bytes > size - position) return false;
        position += entry_bytes;
    }
    if (position != size || count > UINT32_MAX - entries.size()) return false;

    out->assign(body, body + size);
    write_u32le(out->data() + count_at, count + (uint32_t)entries.size());
    for (const std::string& entry : entries) {
        uint8_t length[4];
        write_u32le(length, (uint32_t)entry.size());
        out->insert(out->end(), length, length + 4);
        out->insert(out->end(), entry.begin(), entry.end());
    }
    return true;
}

// A FLAC file: "fLaC", then metadata blocks (a byte holding the last-block
// flag and the type, a 24-bit big-endian length, the body), STREAMINFO
// first, then the frames. Only the VORBIS_COMMENT block's length and body
// change; a SEEKTABLE's offsets count from the first frame, so they hold.
bool copy_flac(comment_copy* copy, const std::vector<std::string>& entries) {
    uint8_t magic[4];
    if (!take(copy, magic, 4)) return false;
    if (memcmp(magic, "fLaC", 4) != 0) return unexpected(copy);
    if (!put(copy, magic, 4)) return false;
    bool appended = false;
    bool last = false;
    for (int index = 0; !last; index++) {
        uint8_t header[4];
        if (!take(copy, header, 4)) return false;
        uint8_t type = header[0] & 0x7F;
        last = (header[0] & 0x80) != 0;
        uint32_t block_bytes = ((uint32_t)header[1] << 16) | ((uint32_t)header[2] << 8) | header[3];
        if ((index == 0) != (type == FLAC_STREAMINFO) || type == FLAC_INVALID_BLOCK) return unexpected(copy);
        if (type != FLAC_VORBIS_COMMENT || appended) {
            if (!put(copy, header, 4) || !pass_through(copy, block_bytes, false)) return false;
            continue;
        }
        // At most 16 MiB, by the width of the length field.
        std::vector<uint8_t> body(block_bytes);
        std::vector<uint8_t> tagged;
        if (!take(copy, body.data(), body.size())) return false;
        if (!append_entries(body.data(), body.size(), entries, &tagged) || tagged.size() > FLAC_MAX_BLOCK_BYTES)
            return unexpected(copy);
        header[1] = (uint8_t)(tagged.size() >> 16);
        header[2] = (uint8_t)(tagged.size() >> 8);
        header[3] = (uint8_t)tagged.size();
        if (!put(copy, header, 4) || !put(copy, tagged.data(), tagged.size())) return false;
        appended = true;
    }
    if (!appended) return unexpected(copy);
    return pass_through(copy, 0, true);
}

// The Ogg CRC-32: polynomial 0x04C11DB7, not reflected, starting at 0.
uint32_t ogg_crc(const uint8_t* data, size_t size) {
    struct crc_table {
        uint32_t entries[256];
        crc_table() {
            for (uint32_t i = 0; i < 256; i++) {
                uint32_t r = i << 24;
                for (int bit = 0; bit < 8; bit++) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
                entries[i] = r;
            }
        }
    };
    static const crc_table table;
    uint32_t crc = 0;
    for (size_t i = 0; i < size; i++) crc = (crc << 8) ^ table.entries[((crc >> 24) ^ data[i]) & 0xFF];
    return crc;
}

// Fills in a page's CRC: over the whole page with the CRC field zeroed.
uint32_t page_crc(std::vector<uint8_t>* page) {
    memset(page->data() + OGG_CRC_OFFSET, 0, 4);
    return ogg_crc(page->data(), page->size());
}

// One Ogg page whole: the 27-byte header, the lacing values, the body. Its
// CRC must hold, which also tells that it was read as it was written.
bool read_ogg_page(comment_copy* copy, std::vector<uint8_t>* page, size_t* header_bytes) {
    page->resize(OGG_HEADER_BYTES);
    if (!take(copy, page->data(), OGG_HEADER_BYTES)) return false;
    if (memcmp(page->data(), "OggS", 4) != 0 || (*page)[4] != 0) return unexpected(copy);
    size_t segments = (*page)[26];
    page->resize(OGG_HEADER_BYTES + segments);
    if (!take(copy, page->data() + OGG_HEADER_BYTES, segments)) return false;
    size_t body_bytes = 0;
    for (size_t i = 0; i < segments; i++) body_bytes += (*page)[OGG_HEADER_BYTES + i];
    *header_bytes = page->size();
    page->resize(*header_bytes + body_bytes);
    if (!take(copy, page->data() + *header_bytes, body_bytes)) return false;
    uint32_t stored = read_u32le(page->data() + OGG_CRC_OFFSET);
    std::vector<uint8_t> check = *page;
    if (page_crc(&check) != stored) return unexpected(copy);
    return true;
}

bool is_vorbis_header(const uint8_t* packet, size_t size, uint8_t type) {
    return size >= VORBIS_HEADER_TAG_BYTES && packet[0] == type && memcmp(packet + 1, "vorbis", 6) == 0;
}

// An Ogg Vorbis file as libsndfile writes it: the identification header
// alone on the first page, then a page starting with the comment header
// (the setup header after it, perhaps running on to later pages). Only that
// second page is rebuilt: the longer comment packet and its lacing values,
// the other packets' segments after it as they were (so comment and setup
// stay together), the same sequence number and granule position, a new CRC.
// Every later page is copied unchanged.
bool copy_ogg(comment_copy* copy, const std::vector<std::string>& entries) {
    std::vector<uint8_t> first;
    size_t first_header = 0;
    if (!read_ogg_page(copy, &first, &first_header)) return false;
    if (!(first[5] & OGG_FIRST_PAGE) || !is_vorbis_header(first.data() + first_header, first.size() - first_header, 1))
        return unexpected(copy);
    if (!put(copy, first.data(), first.size())) return false;

    std::vector<uint8_t> second;
    size_t second_header = 0;
    if (!read_ogg_page(copy, &second, &second_header)) return false;
    const uint8_t* lacing = second.data() + OGG_HEADER_BYTES;
    const uint8_t* body = second.data() + second_header;
    size_t segments = second_header - OGG_HEADER_BYTES;
    size_t body_bytes = second.size() - second_header;
    if (memcmp(second.data() + 14, first.data() + 14, 4) != 0 || (second[5] & (OGG_CONTINUED | OGG_FIRST_PAGE)) ||
        !is_vorbis_header(body, body_bytes, 3)) {
        return unexpected(copy);
    }
    // The comment packet ends at the first lacing value below 255; one that
    // runs on to the next page is not what the encoder writes.
    size_t packet_bytes = 0;
    size_t packet_segments = 0;
    while (packet_segments < segments) {
        packet_bytes += lacing[packet_segments++];
        if (lacing[packet_segments - 1] < 255) break;
    }
    if (packet_segments == 0 || lacing[packet_segments - 1] == 255 || packet_bytes < VORBIS_HEADER_TAG_BYTES + 1)
        return unexpected(copy);
    // The comment body lies between the tag and the framing bit.
    uint8_t framing = body[packet_bytes - 1];
    std::vector<uint8_t> tagged;
    if (!(framing & 1) ||
        !append_entries(body + VORBIS_HEADER_TAG_BYTES, packet_bytes - VORBIS_HEADER_TAG_BYTES - 1, entries, &tagged)) {
        return unexpected(copy);
    }
    size_t new_packet_bytes = VORBIS_HEADER_TAG_BYTES + tagged.size() + 1;
    // A packet takes one lacing value per whole 255 bytes and one for the
    // rest, 0 when there is none.
    size_t new_segments = new_packet_bytes / 255 + 1 + (segments - packet_segments);
    if (new_segments > OGG_MAX_SEGMENTS) {
        set_error(copy->error, "the Ogg Vorbis comment header has no room on its page for the loop");
        return false;
    }

    std::vector<uint8_t> page(second.begin(), second.begin() + OGG_HEADER_BYTES);
    page[26] = (uint8_t)new_segments;
    page.insert(page.end(), new_packet_bytes / 255, 255);
    page.push_back((uint8_t)(new_packet_bytes % 255));
    page.insert(page.end(), lacing + packet_segments, lacing + segments);
    page.insert(page.end(), body, body + VORBIS_HEADER_TAG_BYTES);
    page.insert(page.end(), tagged.begin(), tagged.end());
    page.push_back(framing);
    page.insert(page.end(), body + packet_bytes, body + body_bytes);
    write_u32le(page.data() + OGG_CRC_OFFSET, page_crc(&page));
    if (!put(copy, page.data(), page.size())) return false;
    return pass_through(copy, 0, true);
}

}  // namespace

bool encoded_copy_with_comments(FILE* from, encoded_format format, const std::vector<std::string>& entries,
                                output_file* to, std::string* error) {
    comment_copy copy = {from, to, error,
                         format == ENCODED_FLAC ? "its FLAC metadata is not laid out as expected"
                                                : "its Ogg Vorbis headers are not laid out as expected"};
    return format == ENCODED_FLAC ? copy_flac(&copy, entries) : copy_ogg(&copy, entries);
}
