// What a sound file is, said in refusals by both builds' readers (taken from
// its first bytes and, for a RIFF WAVE, its format chunk), and channel
// mixing, which needs no library.
#include "tools/tolvane/input/encoded_audio_input.h"

#include <stdio.h>
#include <string.h>

#include "containers/byte_source.h"
#include "containers/riff_wave.h"
#include "platform/platform.h"
#include "containers/riff_wave_writer.h"

namespace {

const uint16_t WAVE_FORMAT_IEEE_FLOAT = 0x0003;
const uint16_t WAVE_FORMAT_XBOX_ADPCM = 0x0069;
// An extensible format's subformat GUID starts with the format tag it
// stands for.
const size_t MAGIC_BYTES = 12;

std::string wave_kind(const wave_chunks& chunks) {
    uint16_t tag = chunks.format.format_tag;
    if (tag == WAVE_FORMAT_EXTENSIBLE && chunks.extension_bytes >= 22)
        tag = (uint16_t)(chunks.subformat[0] | (chunks.subformat[1] << 8));
    std::string bits = std::to_string(chunks.format.bits_per_sample);
    if (tag == WAVE_FORMAT_PCM) return (bits == "8" ? "an " : "a ") + bits + "-bit PCM WAVE";
    if (tag == WAVE_FORMAT_IEEE_FLOAT) return "a " + bits + "-bit float WAVE";
    if (tag == WAVE_FORMAT_XBOX_ADPCM) return "an Xbox ADPCM WAVE";
    char text[64];
    snprintf(text, sizeof text, "a WAVE of format tag 0x%04x", tag);
    return text;
}

}  // namespace

std::string describe_sound_file(const std::string& path) {
    file_handle file = file_open_read(path.c_str());
    if (file == INVALID_FILE) return "a file that cannot be opened";
    byte_source source = source_of_file(file);
    uint8_t magic[MAGIC_BYTES] = {};
    int32_t got = source_read(&source, magic, (int32_t)MAGIC_BYTES);
    std::string kind = got == 0 ? "an empty file" : "a file of no sound format tolvane knows";
    wave_chunks chunks;
    if (got >= 12 && memcmp(magic, "RIFF", 4) == 0 && memcmp(magic + 8, "WAVE", 4) == 0) {
        source_seek(&source, 0);
        kind =
            read_wave_chunks(&source, &chunks) && chunks.has_format ? wave_kind(chunks) : "a WAVE with no format chunk";
    } else if (got >= 4 && memcmp(magic, "fLaC", 4) == 0) {
        kind = "a FLAC file";
    } else if (got >= 4 && memcmp(magic, "OggS", 4) == 0) {
        kind = "an Ogg file";
    } else if (got >= 12 && memcmp(magic, "FORM", 4) == 0 &&
               (memcmp(magic + 8, "AIFF", 4) == 0 || memcmp(magic + 8, "AIFC", 4) == 0)) {
        kind = "an AIFF file";
    }
    file_close(file);
    return kind;
}

void mix_input_sound(input_sound* sound, uint32_t channels) {
    uint32_t from = sound->channels;
    if (channels == 0 || channels == from || from == 0) return;
    size_t frames = sound->pcm.size() / from;
    std::vector<int16_t> mixed(frames * channels);
    // How many input channels fall to each output channel, when mixing down.
    std::vector<int32_t> shares(channels, 0);
    for (uint32_t c = 0; c < from; c++) shares[c % channels]++;
    std::vector<int32_t> sums(channels);
    for (size_t f = 0; f < frames; f++) {
        const int16_t* in = &sound->pcm[f * from];
        int16_t* out = &mixed[f * channels];
        if (from < channels) {
            for (uint32_t m = 0; m < channels; m++) out[m] = in[m % from];
            continue;
        }
        for (uint32_t m = 0; m < channels; m++) sums[m] = 0;
        for (uint32_t c = 0; c < from; c++) sums[c % channels] += in[c];
        // A mean of 16-bit samples stays within 16 bits; rounded to nearest.
        for (uint32_t m = 0; m < channels; m++) {
            int32_t sum = sums[m];
            int32_t share = shares[m];
            out[m] = (int16_t)(sum >= 0 ? (sum + share / 2) / share : -((-sum + share / 2) / share));
        }
    }
    sound->pcm.swap(mixed);
    sound->channels = channels;
}

std::string channel_words(uint32_t channels) {
    if (channels == 1) return "mono";
    if (channels == 2) return "stereo";
    return std::to_string(channels) + " channels";
}

bool read_16bit_wave_input(const std::string& path, input_sound* sound, const char** why) {
    sound_extras extras;
    if (!read_pcm_wave(path.c_str(), &sound->rate, &sound->channels, &sound->pcm, why, &extras)) return false;
    sound->kind = "a 16-bit PCM WAVE";
    sound->loop_start = extras.loop_start;
    sound->loop_end = extras.loop_end;
    sound->name = extras.name;
    return true;
}

std::string library_words(const char* message) {
    std::string text = message ? message : "";
    while (!text.empty() && (text.back() == '.' || text.back() == ' ' || text.back() == '\n')) text.pop_back();
    if (text.size() > 1 && text[0] >= 'A' && text[0] <= 'Z' && !(text[1] >= 'A' && text[1] <= 'Z'))
        text[0] = (char)(text[0] - 'A' + 'a');
    return text;
}
