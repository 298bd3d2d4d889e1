// RIFF WAVE writing for the tools and tests: 16-bit PCM files, streamed with
// the sizes patched in at the end, Xbox ADPCM and Microsoft ADPCM files built
// in memory, and the heads of the XMA WAVEs and xWMA files extract writes
// around a bank entry's stored bytes.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "containers/output_file.h"

// What a sound file states besides its sound: its exact frame count, its
// loop and its name. A WAVE tolvane writes keeps them in chunks after the
// sound, so its sound starts at offset 44, 48 for Xbox ADPCM or 78 for
// Microsoft ADPCM.
struct sound_extras {
    int64_t frames = -1;      // a "fact" chunk; -1 for none
    int64_t loop_start = -1;  // a "smpl" chunk's loop, frames; -1 for none
    int64_t loop_end = -1;    // the first frame after the loop
    std::string name;         // a "LIST" "INFO" chunk's "INAM"; "" for none
};

// The format of a WAVE to write.
struct wave_shape {
    uint16_t format_tag;  // 0x0001 PCM, 0x0069 Xbox ADPCM or 0x0002 Microsoft ADPCM
    uint16_t channels;
    uint32_t sample_rate;
    uint16_t bits_per_sample;  // 8 or 16 for PCM, 4 for either ADPCM
    uint32_t block_field = 0;  // of Microsoft ADPCM: a wave bank's block field (ms_adpcm.h)
};
wave_shape pcm_shape(uint32_t sample_rate, uint32_t channels, uint16_t bits_per_sample = 16);
wave_shape adpcm_shape(uint32_t sample_rate, uint32_t channels);
// Microsoft ADPCM in blocks of (block_field + 22) x channels bytes, with the
// seven standard coefficient pairs in its format.
wave_shape ms_adpcm_shape(uint32_t sample_rate, uint32_t channels, uint32_t block_field);

// The size of a Microsoft ADPCM WAVE's format chunk: WAVEFORMATEX, the
// samples per block, the coefficient count and the seven pairs.
const uint32_t MS_ADPCM_FORMAT_BYTES = 18 + 4 + 4 * 7;
// XMA2WAVEFORMATEX: WAVEFORMATEX and 34 bytes of its own.
const uint16_t XMA_WAVE_TAG = 0x0166;
const uint32_t XMA_FORMAT_BYTES = 18 + 34;
// xWMA files: WMA 2 (xWMA) and WMA Pro.
const uint16_t XWMA_WAVE_TAG = 0x0161;
const uint16_t WMA_PRO_WAVE_TAG = 0x0162;

// Everything in front of the sound: the RIFF header, "fmt " and the "data"
// chunk's header, for data_bytes of sound followed by tail_bytes.
std::vector<uint8_t> wave_head(const wave_shape& shape, uint32_t data_bytes, uint32_t tail_bytes);
// Everything after the sound: its pad byte and the extras' chunks.
std::vector<uint8_t> wave_tail(uint32_t data_bytes, const sound_extras& extras, uint32_t sample_rate);
// The XMA stream a WAVE of format tag 0x0166 holds: its frames and loop.
struct xma_stream {
    uint16_t channels;
    uint32_t sample_rate;
    uint32_t frames;
    uint32_t loop_start;   // frames
    uint32_t loop_length;  // 0 without a loop
};
// Everything in front of data_bytes of XMA packets: the RIFF header, the
// XMA2WAVEFORMATEX "fmt " chunk and the "data" chunk's header. The file ends
// with the data and its pad byte (wave_tail with no extras).
std::vector<uint8_t> xma_wave_head(const xma_stream& stream, uint32_t data_bytes);

// An xWMA file's format: the tag (WMA 2 or WMA Pro) and the packet size and
// average rate its block field names (wave_bank.h's xwma_packet_format).
struct xwma_shape {
    uint16_t format_tag;
    uint16_t channels;
    uint32_t sample_rate;
    uint32_t bytes_per_second;
    uint16_t packet_bytes;
};
// Everything in front of data_bytes of WMA packets: "RIFF" size "XWMA", the
// 18-byte "fmt ", the "dpds" chunk of seek values (the decoded bytes at the
// end of each packet) and the "data" chunk's header; then the data and its
// pad byte.
std::vector<uint8_t> xwma_head(const xwma_shape& shape, const std::vector<uint32_t>& seek_table, uint32_t data_bytes);

// A whole WAVE in memory.
std::vector<uint8_t> make_wave(const wave_shape& shape, const uint8_t* data, size_t data_bytes,
                               const sound_extras& extras);

// A 16-bit PCM WAVE written as the samples arrive, appearing under its name
// only once complete (output_file).
struct pcm_wave_writer {
    output_file out;
    uint32_t data_bytes = 0;
    uint32_t sample_rate = 0;
};

// Creates the file and writes a header for the format; false on failure,
// with the reason in writer->out.error.
bool pcm_wave_open(pcm_wave_writer* writer, const char* path, uint32_t sample_rate, uint32_t channels);
bool pcm_wave_write(pcm_wave_writer* writer, const void* pcm, uint32_t byte_count);
// Appends the extras, patches the sizes into the header and gives the file
// its name (only when no file has it, with keep_existing); false on failure,
// leaving nothing.
bool pcm_wave_close(pcm_wave_writer* writer, bool keep_existing = false, const sound_extras& extras = sound_extras());
// Removes what was written.
void pcm_wave_discard(pcm_wave_writer* writer);

// The 44-byte header of a 16-bit PCM WAVE whose data chunk holds data_bytes
// (cut to what the size fields can hold), for a WAVE written in one go.
std::vector<uint8_t> pcm_wave_header(uint32_t sample_rate, uint32_t channels, uint64_t data_bytes);
// The bytes of an Xbox ADPCM WAVE file (format tag 0x0069, 36-byte blocks per
// channel) holding the given block sets.
std::vector<uint8_t> make_adpcm_wave(const std::vector<uint8_t>& adpcm, uint32_t channels, uint32_t sample_rate,
                                     const sound_extras& extras = sound_extras());

// Reads a 16-bit PCM WAVE: fills the format and the interleaved samples (and
// extras, when given). Returns false, with a reason in error, when the file
// is not one.
bool read_pcm_wave(const char* path, uint32_t* sample_rate, uint32_t* channels, std::vector<int16_t>* pcm,
                   const char** error, sound_extras* extras = nullptr);

bool read_whole_file(const char* path, std::vector<uint8_t>* bytes);
