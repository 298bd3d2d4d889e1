// A second reader for the wave banks the writers build: FAudio, the XACT3
// runtime that Linux ports of XNA games ship. It opens a bank held in memory
// and lists each wave as FAudio sees it, so tests can hold our banks against
// a reader that shares none of our code. Built only where FAudio is found
// (TOLVANE_HAVE_FAUDIO).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// One wave as FAudio reports it, by wave index.
struct faudio_wave {
    std::string name;     // the entry name, "" when the bank has none
    uint32_t format_tag;  // 0 PCM, 1 XMA, 2 MS ADPCM, 3 xWMA
    uint32_t channels;
    uint32_t sample_rate;
    uint32_t block_align;      // the format's block align field, as stored
    uint32_t bits_per_sample;  // the format's one-bit field: PCM 0 = 8-bit, 1 = 16-bit
    // FAudio derives this from the play length, not from the record's own
    // duration: PCM bytes / channels / sample size, MS ADPCM whole blocks
    // times frames per block; for XMA and xWMA it is the play length in bytes.
    uint32_t duration;
    uint32_t loop_start;   // frames
    uint32_t loop_length;  // frames
    // From the start of the bank: FAudio adds the wave data region's offset
    // to the record's.
    uint32_t play_offset;
    uint32_t play_length;  // bytes
};

// Opens bank with FAudio, without a sound device, and fills waves. False,
// with waves empty and the reason in error, when FAudio refuses the bank or
// when FAudio's parser would read or write outside it (it checks no bounds,
// so such banks are turned away before FAudio sees them).
bool faudio_wave_properties(const std::vector<uint8_t>& bank, std::vector<faudio_wave>* waves, std::string* error);
