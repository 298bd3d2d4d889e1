// Generated test inputs: scratch folders, RIFF files built chunk by chunk,
// wave banks built record by record, compressed banks, encoded tones and
// their reference decoding.

#include "tests/support/sample_files.h"

#include "codec/ms_adpcm.h"

#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <list>
#include <random>

#include "codec/xbox_adpcm.h"
#include "codec/little_endian.h"
#include "containers/stream_opener.h"
#include "containers/stream_pair.h"
#include "platform/platform.h"
#include "containers/riff_wave_writer.h"
#include "codec/xbox_adpcm_encoder.h"

namespace fs = std::filesystem;

static const double TWO_PI = 6.283185307179586;

std::string make_scratch_dir() {
    std::error_code error;
    fs::path base = fs::temp_directory_path(error);
    if (error) {
        ADD_FAILURE() << "no temporary directory: " << error.message();
        return std::string();
    }
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[40];
        snprintf(name, sizeof name, "tolvane-test-%08x", (unsigned)entropy());
        fs::path dir = base / name;
        // create_directory is false when the name is taken: try another.
        if (fs::create_directory(dir, error)) return dir.string() + PLATFORM_PATH_SEPARATOR;
    }
    ADD_FAILURE() << "cannot create a scratch folder under " << base.string();
    return std::string();
}

void remove_scratch_dir(const std::string& dir) {
    if (dir.empty()) return;
    std::error_code error;
    fs::remove_all(fs::path(dir), error);
}

namespace {

const char* const TEMP_VARIABLES[] = {"TMPDIR", "TMP", "TEMP"};

// putenv keeps the string it is given, so every assignment stays alive here,
// reachable, never freed while the environment may point into it.
void put_environment(const std::string& assignment) {
    static std::list<std::string>* kept = new std::list<std::string>();
    kept->push_back(assignment);
    putenv(&kept->back()[0]);
}

}  // namespace

temp_directory_override::temp_directory_override(const std::string& folder) {
    for (const char* name : TEMP_VARIABLES) {
        const char* value = getenv(name);
        saved_.push_back({name, value != nullptr, value ? value : ""});
    }
    point_at(folder);
}

temp_directory_override::~temp_directory_override() {
    for (const saved_variable& v : saved_) {
        if (v.was_set) {
            put_environment(v.name + "=" + v.value);
        } else {
            // "NAME=" removes the variable on Windows and empties it on
            // POSIX, where "NAME" alone then removes it (Windows refuses
            // that form).
            put_environment(v.name + "=");
            put_environment(v.name);
        }
    }
}

void temp_directory_override::point_at(const std::string& folder) {
    for (const char* name : TEMP_VARIABLES) put_environment(std::string(name) + "=" + folder);
}

std::string write_file_in(const std::string& dir, const std::string& name, const bytes& content) {
    std::string path = dir + name;
    fs::path full(path);
    std::error_code error;
    fs::create_directories(full.parent_path(), error);
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out.write((const char*)content.data(), (std::streamsize)content.size());
    out.close();
    if (!out) ADD_FAILURE() << "cannot write " << path;
    return path;
}

bytes read_file(const std::string& path) {
    std::ifstream in(fs::path(path), std::ios::binary);
    if (!in) return bytes();
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Errors skip what cannot be listed (a folder nested beyond what the system
// reaches) instead of ending the listing.
static void list_files(const fs::path& folder, const std::string& prefix, std::vector<std::string>& names) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code kind_error;
        std::string name = prefix + it->path().filename().string();
        if (it->is_directory(kind_error)) {
            list_files(it->path(), name + "/", names);
        } else if (it->is_regular_file(kind_error)) {
            names.push_back(name);
        }
    }
}

std::vector<std::string> files_under(const std::string& dir) {
    std::vector<std::string> names;
    list_files(fs::path(dir), "", names);
    std::sort(names.begin(), names.end());
    return names;
}

static void put_tag(bytes& out, const std::string& tag) {
    for (size_t i = 0; i < 4; ++i) out.push_back(i < tag.size() ? (uint8_t)tag[i] : (uint8_t)' ');
}

bytes build_riff(const std::vector<riff_chunk>& chunks, const std::string& riff_tag, const std::string& form) {
    bytes body;
    put_tag(body, form);
    for (const riff_chunk& chunk : chunks) {
        put_tag(body, chunk.tag);
        put_u32le(body, chunk.has_declared_size ? chunk.declared_size : (uint32_t)chunk.content.size());
        body.insert(body.end(), chunk.content.begin(), chunk.content.end());
        if (chunk.pad && chunk.content.size() % 2 == 1) body.push_back(0);
    }
    bytes out;
    put_tag(out, riff_tag);
    put_u32le(out, (uint32_t)body.size());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

bytes fmt_content(uint16_t format_tag, uint16_t channels, uint32_t sample_rate, size_t content_bytes) {
    bytes out;
    uint32_t block_align = (uint32_t)ADPCM_BLOCK_BYTES * channels;
    put_u16le(out, format_tag);
    put_u16le(out, channels);
    put_u32le(out, sample_rate);
    // Bytes per second of 36-byte blocks that each hold 65 samples.
    put_u32le(out, (uint32_t)((uint64_t)sample_rate * block_align / SAMPLES_PER_BLOCK));
    put_u16le(out, (uint16_t)block_align);
    put_u16le(out, 4);
    if (out.size() < content_bytes) out.resize(content_bytes, 0);
    return out;
}

bytes adpcm_wave(const bytes& adpcm, uint16_t channels, uint32_t sample_rate) {
    // The files `tolvane encode` writes: a 20-byte format, data at offset 48.
    return make_adpcm_wave(adpcm, channels, sample_rate);
}

bytes make_pcm_wave(const int16_t* pcm, size_t frames, uint32_t channels, uint32_t sample_rate) {
    bytes samples(frames * channels * 2);
    for (size_t i = 0; i < samples.size() / 2; ++i) write_u16le(&samples[2 * i], (uint16_t)pcm[i]);
    return make_wave(pcm_shape(sample_rate, channels), samples.data(), samples.size(), sound_extras());
}

bytes compressed_bank(const bytes& bank, uint32_t stated_size) {
    uLongf packed_bytes = compressBound((uLong)bank.size());
    bytes packed(packed_bytes);
    if (compress2(packed.data(), &packed_bytes, bank.data(), (uLong)bank.size(), Z_DEFAULT_COMPRESSION) != Z_OK) {
        ADD_FAILURE() << "compress2 failed on " << bank.size() << " bytes";
        return bytes();
    }
    bytes file(4, 0xa5);  // never read
    put_u32le(file, stated_size);
    file.insert(file.end(), packed.begin(), packed.begin() + (long)packed_bytes);
    return file;
}

bytes tone_adpcm(uint32_t channels, uint32_t block_sets, uint32_t seed) {
    size_t frames = (size_t)block_sets * SAMPLES_PER_BLOCK;
    std::vector<int16_t> pcm(frames * channels);
    double hertz = 110.0 + (double)(seed % 2000);
    for (size_t frame = 0; frame < frames; ++frame) {
        for (uint32_t channel = 0; channel < channels; ++channel) {
            double phase = TWO_PI * hertz * (double)frame / 44100.0 + (double)(seed % 7 + channel);
            pcm[frame * channels + channel] = (int16_t)lround(12000.0 * sin(phase));
        }
    }
    return encode_xbox_adpcm(pcm.data(), frames, channels);
}

bytes random_bytes(size_t count, uint32_t seed) {
    std::mt19937 generator(seed);
    bytes out(count);
    for (uint8_t& byte : out) byte = (uint8_t)(generator() >> 24);
    return out;
}

bytes reference_pcm(const bytes& adpcm, uint32_t channels) {
    if (channels == 0) return bytes();
    size_t block_sets = adpcm.size() / ((size_t)ADPCM_BLOCK_BYTES * channels);
    std::vector<int16_t> samples(block_sets * SAMPLES_PER_BLOCK * channels);
    int32_t produced = decode_blocks(adpcm.data(), (int32_t)adpcm.size(), samples.data(), channels);
    bytes out;
    out.reserve((size_t)produced);
    for (size_t i = 0; i < (size_t)produced / 2; ++i) put_u16le(out, (uint16_t)samples[i]);
    return out;
}

bytes reference_pcm_of(entry_codec codec, const bytes& sound, uint32_t channels, uint32_t block_field) {
    if (codec == CODEC_XBOX_ADPCM) return reference_pcm(sound, channels);
    if (codec == CODEC_MS_ADPCM) {
        // The codec's own decoder, which its golden blocks pin down.
        int32_t block = ms_adpcm_block_bytes(block_field, channels);
        std::vector<int16_t> samples(sound.size() / (size_t)block * (size_t)ms_adpcm_block_frames(block_field) *
                                     channels);
        int32_t written =
            decode_ms_adpcm(sound.data(), (int32_t)sound.size(), samples.data(), channels, (int32_t)block_field + 22);
        bytes pcm;
        for (int32_t i = 0; i < written / 2; ++i) put_u16le(pcm, (uint16_t)samples[(size_t)i]);
        return pcm;
    }
    size_t frame_bytes = (codec == CODEC_PCM8 ? 1 : 2) * (size_t)channels;
    bytes whole(sound.begin(), sound.begin() + (ptrdiff_t)(sound.size() / frame_bytes * frame_bytes));
    if (codec == CODEC_PCM16) return whole;
    if (codec == CODEC_PCM16_BE) {
        for (size_t i = 0; i + 1 < whole.size(); i += 2) std::swap(whole[i], whole[i + 1]);
        return whole;
    }
    bytes pcm;
    for (uint8_t sample : whole) put_u16le(pcm, (uint16_t)(int16_t)((sample - 128) * 256));
    return pcm;
}

uint32_t test_seed(uint32_t fallback) {
    uint32_t seed = fallback;
    const char* text = getenv("TOLVANE_TEST_SEED");
    if (text && *text) seed = (uint32_t)strtoul(text, nullptr, 0);
    fprintf(stderr, "[ seed     ] TOLVANE_TEST_SEED=%u\n", (unsigned)seed);
    if (::testing::UnitTest::GetInstance()->current_test_info())
        ::testing::Test::RecordProperty("TOLVANE_TEST_SEED", std::to_string(seed));
    return seed;
}

bytes build_stream_header(const std::vector<entry_row>& records, int64_t declared_count) {
    bytes out(8, 0xa5);
    put_u32le(out, (uint32_t)(declared_count == COUNT_OF_RECORDS ? (int64_t)records.size() : declared_count));
    for (const entry_row& row : records) {
        size_t start = out.size();
        out.resize(start + 100, 0x5a);
        uint8_t* record = &out[start];
        write_u32le(record + 36, (uint32_t)row.offset);
        write_u32le(record + 40, (uint32_t)row.length);
        write_u16le(record + 80, XBOX_ADPCM_TAG);
        write_u16le(record + 82, (uint16_t)row.channels);
        write_u32le(record + 84, (uint32_t)row.rate);
    }
    return out;
}

bytes build_versioned_stream_header(uint32_t version, const std::vector<stream_record_design>& records, bool ids) {
    bytes out;
    put_u32le(out, version);
    put_u32le(out, 0);
    put_u32le(out, (uint32_t)records.size());
    uint32_t first_word = ids ? 1 : 0xffffffffu;
    const stream_record_layout& layout = stream_record_layout_of(version, first_word);
    for (const stream_record_design& design : records) {
        size_t start = out.size();
        out.resize(start + (size_t)layout.record_bytes, 0);
        uint8_t* record = &out[start];
        if (layout.name_at >= 0) {
            memcpy(record + layout.name_at, design.name.data(),
                   std::min(design.name.size(), (size_t)STREAM_HEADER_NAME_BYTES));
        } else {
            write_u32le(record, (uint32_t)strtoul(design.name.c_str(), nullptr, 10));
        }
        write_u32le(record + layout.type_at, design.type);
        write_u32le(record + layout.offset_at, (uint32_t)design.row.offset);
        write_u32le(record + layout.length_at, (uint32_t)design.row.length);
        write_u32le(record + layout.flags_at, design.flags);
        if (layout.frames_at >= 0) write_u32le(record + layout.frames_at, design.frames);
        write_u16le(record + layout.format_at, design.format_tag);
        write_u16le(record + layout.channels_at, (uint16_t)design.row.channels);
        write_u32le(record + layout.rate_at, (uint32_t)design.row.rate);
        write_u16le(record + layout.format_at + 14, design.bits);
    }
    return out;
}

static int entries_in(const char* folder) {
    if (PLATFORM_PATH_SEPARATOR != '/') return -1;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error) return -1;
    int count = 0;
    for (; it != fs::directory_iterator(); ++it) ++count;
    return count;
}

int open_descriptors() {
    return entries_in("/proc/self/fd");
}

int running_threads() {
    return entries_in("/proc/self/task");
}

void PrintTo(const entry_row& entry, std::ostream* out) {
    *out << "{record " << entry.record << ": offset " << entry.offset << ", " << entry.length << " bytes, "
         << entry.rate << " Hz, " << entry.channels << " ch}";
}

std::vector<entry_row> entry_table(const stream_description& description) {
    std::vector<entry_row> table;
    for (int32_t i = 0; i < description.record_count; ++i) {
        const entry_record& r = description.records[i];
        if (r.skipped == NOT_SKIPPED) table.push_back({r.offset, r.length, r.rate, r.channels, r.record, r.codec});
    }
    return table;
}

bool add_entries(stream_description* description, const std::vector<entry_row>& rows) {
    if (!description_reserve_records(description, (int32_t)rows.size())) return false;
    for (size_t i = 0; i < rows.size(); ++i) {
        entry_record record = new_record(rows[i].record ? rows[i].record : (int32_t)i + 1);
        record.offset = rows[i].offset;
        record.length = rows[i].length;
        record.rate = rows[i].rate;
        record.channels = rows[i].channels;
        record.codec = rows[i].codec;
        if (!description_add_record(description, record, nullptr, 0)) return false;
    }
    return true;
}

std::vector<std::pair<int32_t, skip_reason>> skipped_table(const stream_description& description) {
    std::vector<std::pair<int32_t, skip_reason>> table;
    for (int32_t i = 0; i < description.record_count; ++i) {
        const entry_record& r = description.records[i];
        if (r.skipped != NOT_SKIPPED) table.push_back({r.record, r.skipped});
    }
    return table;
}

bool open_as_play(const std::string& path, stream_description* description, std::string* path_after,
                  const inflater_source* inflater) {
    if (path_after) *path_after = path;
    file_handle file = file_open_read(path.c_str());
    if (file == INVALID_FILE) return false;
    file_handle played = open_stream(path.c_str(), file, inflater, OPEN_TO_PLAY, description);
    if (path_after && description->partner_extension[0]) {
        size_t dot = path_after->rfind('.');
        path_after->replace(dot + 1, 3, description->partner_extension);
    }
    if (played == INVALID_FILE) return false;
    file_close(played);
    return true;
}
