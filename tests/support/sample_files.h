// Generated inputs for the tests: scratch folders, RIFF WAVE files laid out
// chunk by chunk, Xbox ADPCM made by the project's encoder, and the reference
// decoding that rendered output must match byte for byte.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string>
#include <vector>

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
    ~scratch_folder() { remove_scratch_dir(path); }
};
// Writes bytes to dir + name and returns the full path.
std::string write_file_in(const std::string& dir, const std::string& name, const bytes& content);

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

// block_sets block sets of channels-channel ADPCM made by the encoder from a
// tone whose frequency and phase depend on seed, so entries differ.
bytes tone_adpcm(uint32_t channels, uint32_t block_sets, uint32_t seed);
// Random bytes, for data that only needs to decode, not to sound like anything.
bytes random_bytes(size_t count, uint32_t seed);
// What the player must write for adpcm: every whole block set decoded in
// order, as little-endian 16-bit PCM bytes.
bytes reference_pcm(const bytes& adpcm, uint32_t channels);

void put_u16le(bytes& out, uint16_t value);
void put_u32le(bytes& out, uint32_t value);
// The seed for random tests: TOLVANE_TEST_SEED when set, else fallback; the
// test prints it so a failure can be replayed.
uint32_t test_seed(uint32_t fallback);
