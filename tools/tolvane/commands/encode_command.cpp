// tolvane encode: a sound file into an Xbox ADPCM WAVE, with a "fact" chunk
// stating its exact frame count and the input's loop and name.

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "containers/container_writer.h"
#include "tools/tolvane/input/entry_input.h"
#include "tools/tolvane/commands/commands.h"
#include "tools/tolvane/input/encoded_audio_input.h"
#include "containers/output_file.h"
#include "tools/tolvane/tool_common.h"
#include "containers/riff_wave_writer.h"
#include "codec/xbox_adpcm_encoder.h"

int run_encode(const command_line& line) {
    const std::string& in = line.files[0];
    const std::string& out = line.has_out ? line.out : line.files[1];
    if (same_file(in, out)) return failure("cannot encode", in, "it would overwrite itself");
    if (kept_existing(line, out)) return EXIT_OK;
    // An Xbox ADPCM WAVE is encoded already: pack and replace take it as it is.
    if (describe_sound_file(in) == "an Xbox ADPCM WAVE")
        return failure("cannot encode", in, "an Xbox ADPCM WAVE: it is encoded already");
    input_sound sound;
    std::string reason;
    if (!read_input_sound(in, &sound, &reason)) return failure("cannot encode", in, reason);
    entry_shape shape;
    shape.rate = line.rate;
    shape.channels = line.channels;
    std::string too_fast = input_rate_misfit(sound.rate, shape);
    if (!too_fast.empty()) return failure("cannot encode", in, too_fast);
    mix_input_sound(&sound, line.channels);
    if (!resample_input_sound(&sound, line.rate, &reason)) return failure("cannot encode", in, reason);
    size_t frames = sound.pcm.size() / sound.channels;
    std::vector<uint8_t> adpcm = encode_xbox_adpcm(sound.pcm.data(), frames, sound.channels);
    sound_extras extras;
    extras.frames = (int64_t)frames;
    // A loop that ends past the sound is cut at its end; one left empty goes.
    int64_t loop_end = std::min<int64_t>(sound.loop_end, (int64_t)frames);
    if (sound.loop_start >= 0 && loop_end > sound.loop_start) {
        extras.loop_start = sound.loop_start;
        extras.loop_end = loop_end;
    }
    extras.name = sound.name;
    std::vector<uint8_t> wave = make_adpcm_wave(adpcm, sound.channels, sound.rate, extras);
    std::string error;
    if (!write_output_file(out, wave.data(), wave.size(), line.no_clobber, &error))
        return failure("cannot write", out, error);
    if (!line.quiet)
        printf("wrote %s (Xbox ADPCM, %u channel%s at %u Hz, %.1f s)\n", out.c_str(), sound.channels,
               sound.channels == 1 ? "" : "s", sound.rate, (double)frames / sound.rate);
    return EXIT_OK;
}
