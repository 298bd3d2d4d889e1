// Sound input where the build has no libsndfile (the Windows build): the
// tool's own 16-bit PCM WAVE reader, and a refusal saying what any other
// file is.
#include "tools/tolvane/input/encoded_audio_input.h"

const char* input_sound_formats() {
    return "16-bit PCM WAVE";
}

bool read_input_sound(const std::string& path, input_sound* sound, std::string* reason) {
    *sound = input_sound();
    const char* why = "";
    if (read_16bit_wave_input(path, sound, &why)) return true;
    std::string kind = describe_sound_file(path);
    // A 16-bit PCM WAVE that the reader still refuses says why.
    if (kind == "a 16-bit PCM WAVE")
        *reason = kind + ": " + why;
    else
        *reason = kind + ": this Windows build reads 16-bit PCM WAVE only";
    return false;
}
