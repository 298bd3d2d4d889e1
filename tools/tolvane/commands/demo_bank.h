// The demo's sound: a small wave bank of generated tunes, each entry at its
// own rate and channel count, encoded with the project's own encoder and laid
// out by its own bank builder, so a newcomer hears the plug-in at work
// without any game files.
#pragma once

#include <stdint.h>
#include <vector>

#include "containers/container_writer.h"

// A demo sound is an entry as the bank builder takes it: its name, rate,
// channel count (1 to 7: the bank's format word holds three bits) and Xbox
// ADPCM block sets.
typedef built_entry bank_sound;

// The bytes of the demo's wave bank ("WBND", version 3, named "tolvane-demo")
// whose entries are the sounds, in order. Empty when the builder refuses
// them, which sounds held in memory never give it cause to.
std::vector<uint8_t> make_wave_bank(const std::vector<bank_sound>& sounds);

// The demo's entries: a stereo chord at 44 100 Hz, a mono tune at 22 050 Hz
// and stereo bells at 32 000 Hz, about five seconds in all.
std::vector<bank_sound> demo_sounds();
