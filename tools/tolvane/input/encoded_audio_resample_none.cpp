// Resampling where the build has no libsoxr (the Windows build): refused,
// saying so.
#include "tools/tolvane/input/encoded_audio_input.h"

bool resampling_available() {
    return false;
}

bool resample_input_sound(input_sound* sound, uint32_t rate, std::string* reason) {
    if (rate == 0 || rate == sound->rate) return true;
    *reason = "it is " + std::to_string(sound->rate) + " Hz and " + std::to_string(rate) +
              " Hz is wanted: this Windows build has no resampler (no libsoxr)";
    return false;
}
