// Generated inputs for the tests: scratch folders, RIFF WAVE files laid out
// chunk by chunk, wave banks laid out record by record, compressed banks,
// Xbox ADPCM made by the project's encoder, and the reference decoding that
// rendered output must match byte for byte.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <ostream>
#include <string>
#include <vector>

#include "containers/inflater.h"
#include "containers/stream_description.h"
#include "reference/bank_writer.h"

typedef std::vector<uint8_t> bytes;

// A fresh, empty folder under the temporary directory, ending in the path
// separator. Removed with everything in it by remove_scratch_dir.
std::string make_scratch_dir();
void remove_scratch_dir(const std::string& dir);
// A scratch folder that lives as long as the object, for fixtures.
struct scratch_folder {
    std::string path = make_scratch_dir();
    scratch_folder() = default;
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;
    ~scratch_folder() {
        remove_scratch_dir(path);
    }
};
// Points the temporary directory at folder (with its closing separator) for
// as long as the object lives, then puts the old setting back. POSIX reads
// TMPDIR, Windows TMP and then TEMP; each ignores the others' names, so all
// three are set everywhere.
class temp_directory_override {
public:
    explicit temp_directory_override(const std::string& folder);
    ~temp_directory_override();
    temp_directory_override(const temp_directory_override&) = delete;
    temp_directory_override& operator=(const temp_directory_override&) = delete;
    // Points it somewhere else while the object lives.
    void point_at(const std::string& folder);

private:
    struct saved_variable {
        std::string name;
        bool was_set;
        std::string value;
    };
    std::vector<saved_variable> saved_;
};

// Writes bytes to dir + name and returns the full path.
std::string write_file_in(const std::string& dir, const std::string& name, const bytes& content);
// Every byte of a file; empty when it cannot be read.
bytes read_file(const std::string& path);
// The files in dir and every folder below it, as paths relative to dir with
// '/' between folders, sorted. Folders themselves are not listed.
std::vector<std::string> files_under(const std::string& dir);

// One chunk of a RIFF file. The size field is the content's size unless
// declared_size is set (to lie about it). Odd-sized chunks get no pad byte
// unless pad is set.
struct riff_chunk {
    std::string tag;  // four characters
    bytes content;
    bool has_declared_size = false;
    uint32_t declared_size = 0;
    bool pad = false;
};

// "RIFF" (or another four-character tag), the size of the rest, the form type
// and the chunks in order.
bytes build_riff(const std::vector<riff_chunk>& chunks, const std::string& riff_tag = "RIFF",
                 const std::string& form = "WAVE");
// The content of a "fmt " chunk: the 16-byte format, padded with zero bytes to
// content_bytes when that is larger.
bytes fmt_content(uint16_t format_tag, uint16_t channels, uint32_t sample_rate, size_t content_bytes = 16);
// An Xbox ADPCM WAVE: a "fmt " chunk (format tag 0x0069) then a "data" chunk.
bytes adpcm_wave(const bytes& adpcm, uint16_t channels, uint32_t sample_rate);
// A 16-bit PCM WAVE of frames frames of interleaved pcm.
bytes make_pcm_wave(const int16_t* pcm, size_t frames, uint32_t channels, uint32_t sample_rate);

// ---- Wave banks: the writer of reference/bank_writer.h ---------------------------

// A compressed bank (.zwb): 4 filler bytes, the stated inflated size, then
// the bank as zlib's compress2 packs it (zlib header, deflate data, Adler-32).
const size_t COMPRESSED_BANK_HEADER_BYTES = 8;
bytes compressed_bank(const bytes& bank, uint32_t stated_size);

// An entry as the tests compare it: where its sound lies, its format, its
// record number (0 where a test leaves it out) and its codec.
struct entry_row {
    int64_t offset;
    int64_t length;
    int64_t rate;
    int32_t channels;
    int32_t record = 0;
    entry_codec codec = CODEC_XBOX_ADPCM;
};
inline bool operator==(const entry_row& a, const entry_row& b) {
    return a.offset == b.offset && a.length == b.length && a.rate == b.rate && a.channels == b.channels &&
           a.record == b.record && a.codec == b.codec;
}
void PrintTo(const entry_row& entry, std::ostream* out);

// A description that frees itself, for tests.
struct owned_description {
    stream_description d;
    owned_description() {
        description_init(&d);
    }
    ~owned_description() {
        description_release(&d);
    }
    owned_description(const owned_description&) = delete;
    owned_description& operator=(const owned_description&) = delete;
};

// Adds a record per row (offsets absolute, numbered from 1 unless a row says)
// to a description; false when there is no room.
bool add_entries(stream_description* description, const std::vector<entry_row>& rows);
// The records of a description that play, in order.
std::vector<entry_row> entry_table(const stream_description& description);
// The records of a description that are skipped: (record number, reason).
std::vector<std::pair<int32_t, skip_reason>> skipped_table(const stream_description& description);

// Opens path as Play does and runs the opener on it (inflater lends the
// inflater, when given): the description it fills, and the path as Play
// leaves it for the host (a stream pair's partner named). The file to play is
// closed again; true when there was one.
bool open_as_play(const std::string& path, stream_description* description, std::string* path_after = nullptr,
                  const inflater_source* inflater = &SYSTEM_INFLATER);

// A stream header file: 8 filler bytes (a version no layout knows), the entry
// count (records.size() unless declared_count is given), then one 100-byte
// record per row with the offset at 36, the length at 40, a format tag of
// 0x69 at 80, the channel count at 82 and the rate at 84; the bytes no reader
// looks at are filler.
const int64_t COUNT_OF_RECORDS = INT64_MIN;
bytes build_stream_header(const std::vector<entry_row>& records, int64_t declared_count = COUNT_OF_RECORDS);

// One record of a stream header as games write them.
struct stream_record_design {
    entry_row row;
    std::string name;     // or, with ids, the id's decimal digits
    uint32_t type = 1;    // 0: an empty entry
    uint32_t flags = 0;   // STREAM_ENTRY_LOOPS, STREAM_ENTRY_EXTERNAL
    uint32_t frames = 0;  // the sample count, where the layout has one
    uint16_t format_tag = 0x69;
    uint16_t bits = 4;
};
// A header of version 0x9D, 0x100 or 0x101 (with names, or with ids when
// ids is set), laid out as the reader's layout table says.
bytes build_versioned_stream_header(uint32_t version, const std::vector<stream_record_design>& records,
                                    bool ids = false);

// block_sets block sets of channels-channel ADPCM made by the encoder from a
// tone whose frequency and phase depend on seed, so entries differ.
bytes tone_adpcm(uint32_t channels, uint32_t block_sets, uint32_t seed);
// Random bytes, for data that only needs to decode, not to sound like anything.
bytes random_bytes(size_t count, uint32_t seed);
// What the player must write for adpcm: every whole block set decoded in
// order, as little-endian 16-bit PCM bytes.
bytes reference_pcm(const bytes& adpcm, uint32_t channels);
// What the player must write for sound in codec: Xbox ADPCM as above, PCM as
// its whole frames, 16-bit as stored, 8-bit widened as (s - 128) x 256.
bytes reference_pcm_of(entry_codec codec, const bytes& sound, uint32_t channels, uint32_t block_field = 0);

void put_u16le(bytes& out, uint16_t value);
void put_u32le(bytes& out, uint32_t value);
// The open file descriptors and the threads of this process, where the
// system lists them (/proc on Linux); -1 elsewhere. Under Wine /proc lists
// Wine's own descriptors, so Windows builds report -1 too.
int open_descriptors();
int running_threads();

// The seed for random tests: TOLVANE_TEST_SEED when set, else fallback; the
// test prints it so a failure can be replayed.
uint32_t test_seed(uint32_t fallback);
