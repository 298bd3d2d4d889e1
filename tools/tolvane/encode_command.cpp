// tolvane encode: a 16-bit PCM WAVE into an Xbox ADPCM WAVE, with a "fact"
// chunk stating its exact frame count.

#include <stdio.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tools/tolvane/commands.h"
#include "tools/tolvane/output_file.h"
#include "tools/tolvane/tool_common.h"
#include "tools/tolvane/wave_writer.h"
#include "codec/xbox_adpcm_encoder.h"

int run_encode(const command_line& line) {
    const std::string& in = line.files[0];
    const std::string& out = line.files[1];
    if (same_file(in, out)) return failure("cannot encode", in, "it would overwrite itself");
    std::error_code probe;
    if (line.no_clobber && std::filesystem::exists(out, probe)) {
        fprintf(stderr, "tolvane: kept %s: it exists (--no-clobber)\n", out.c_str());
        return EXIT_OK;
    }
    uint32_t sample_rate = 0;
    uint32_t channels = 0;
    std::vector<int16_t> pcm;
    const char* reason = "";
    if (!read_pcm_wave(in.c_str(), &sample_rate, &channels, &pcm, &reason)) return failure("cannot encode", in, reason);
    size_t frames = pcm.size() / channels;
    std::vector<uint8_t> adpcm = encode_xbox_adpcm(pcm.data(), frames, channels);
    wave_extras extras;
    extras.frames = (int64_t)frames;
    std::vector<uint8_t> wave = make_adpcm_wave(adpcm, channels, sample_rate, extras);
    std::string error;
    if (!write_output_file(out, wave.data(), wave.size(), line.no_clobber, &error))
        return failure("cannot write", out, error);
    printf("wrote %s (Xbox ADPCM, %u channel%s at %u Hz, %.1f s)\n", out.c_str(), channels, channels == 1 ? "" : "s",
           sample_rate, (double)frames / sample_rate);
    return EXIT_OK;
}
