// Sound input where the build has no libsndfile (the Windows build): the
// tool's own 16-bit PCM WAVE reader, and a refusal saying what any other
// file is.
#include "tools/tolvane/encoded_audio_input.h"

#include "tools/tolvane/wave_writer.h"

const char* input_sound_formats() {
    return "16-bit PCM WAVE";
}

bool read_input_sound(const std::string& path, input_sound* sound, std::string* reason) {
    *sound = input_sound();
    const char* why = "";
    pcm_wave_extras extras;
    if (read_pcm_wave(path.c_str(), &sound->rate, &sound->channels, &sound->pcm, &why, &extras)) {
        sound->kind = "a 16-bit PCM WAVE";
        sound->loop_start = extras.loop_start;
        sound->loop_end = extras.loop_end;
        sound->name = extras.name;
        return true;
    }
    std::string kind = describe_sound_file(path);
    // A 16-bit PCM WAVE that the reader still refuses says why.
    if (kind == "a 16-bit PCM WAVE")
        *reason = kind + ": " + why;
    else
        *reason = kind + ": this Windows build reads 16-bit PCM WAVE only";
    return false;
}
