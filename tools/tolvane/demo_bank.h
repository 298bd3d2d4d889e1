// The demo's sound: a small wave bank of generated tunes, each entry at its
// own rate and channel count, encoded with the project's own encoder, so a
// newcomer hears the plug-in at work without any game files.
#pragma once

#include <stdint.h>
#include <vector>

struct bank_sound {
    uint32_t sample_rate;
    uint32_t channels;  // 1 to 7: the bank's format word holds three bits
    std::vector<uint8_t> adpcm;
};

// The bytes of a wave bank ("WBND") whose entries are the sounds, in order,
// as Xbox ADPCM.
std::vector<uint8_t> make_wave_bank(const std::vector<bank_sound>& sounds);

// The demo's entries: a stereo chord at 44 100 Hz, a mono tune at 22 050 Hz
// and stereo bells at 32 000 Hz, about five seconds in all.
std::vector<bank_sound> demo_sounds();
