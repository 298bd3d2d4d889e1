// Sound files read for packing.

#include "tools/tolvane/input/entry_input.h"

#include <algorithm>
#include <string>

#include "codec/little_endian.h"
#include "codec/xbox_adpcm.h"
#include "codec/ms_adpcm_encoder.h"
#include "codec/xbox_adpcm_encoder.h"
#include "containers/byte_source.h"
#include "containers/file_names.h"
#include "containers/output_file.h"
#include "containers/riff_wave.h"
#include "platform/platform.h"
#include "tools/tolvane/input/encoded_audio_input.h"

namespace {

typedef std::vector<uint8_t> bytes;

// 8 or 16 for a PCM WAVE of that depth, else 0.
int pcm_wave_depth(const wave_chunks& chunks) {
    uint16_t tag = chunks.format.format_tag;
    if (tag == WAVE_FORMAT_EXTENSIBLE && chunks.extension_bytes >= 22)
        tag = (uint16_t)(chunks.subformat[0] | (chunks.subformat[1] << 8));
    int bits = chunks.format.bits_per_sample;
    return tag == WAVE_FORMAT_PCM && (bits == 8 || bits == 16) ? bits : 0;
}

entry_codec chosen_codec(shape_codec wanted, int depth) {
    switch (wanted) {
    case SHAPE_CODEC_AS_INPUT:
        return depth == 8 ? CODEC_PCM8 : depth == 16 ? CODEC_PCM16 : CODEC_XBOX_ADPCM;
    case SHAPE_CODEC_PCM:
        return depth == 8 ? CODEC_PCM8 : CODEC_PCM16;
    case SHAPE_CODEC_PCM8:
        return CODEC_PCM8;
    case SHAPE_CODEC_PCM16:
        return CODEC_PCM16;
    case SHAPE_CODEC_MS_ADPCM:
        return CODEC_MS_ADPCM;
    case SHAPE_CODEC_XBOX_ADPCM:
        break;
    }
    return CODEC_XBOX_ADPCM;
}

// The samples as the codec stores them: 16-bit little-endian, or 8-bit
// unsigned (rounded to nearest, which gives 8-bit input back exactly).
bytes stored_pcm(const std::vector<int16_t>& pcm, entry_codec codec) {
    bytes out;
    if (codec == CODEC_PCM8) {
        out.resize(pcm.size());
        for (size_t i = 0; i < pcm.size(); i++) {
            int value = ((int)pcm[i] + 128) >> 8;
            out[i] = (uint8_t)((value > 127 ? 127 : value) + 128);
        }
        return out;
    }
    out.resize(pcm.size() * 2);
    for (size_t i = 0; i < pcm.size(); i++) write_u16le(&out[2 * i], (uint16_t)pcm[i]);
    return out;
}

}  // namespace

bool read_entry_wave(const std::string& path, built_entry* entry, std::string* reason, std::string* warning,
                     const entry_shape& shape) {
    *entry = built_entry();
    file_handle file = file_open_read(path.c_str());
    if (file == INVALID_FILE) {
        *reason = unreadable_reason(path);
        if (reason->empty()) *reason = "cannot be opened";
        return false;
    }
    byte_source source = source_of_file(file);
    wave_chunks chunks;
    bool wave = read_wave_chunks(&source, &chunks) && chunks.has_format && chunks.has_data;
    int64_t file_bytes = source_size(&source);
    file_close(file);
    std::string stem = base_name(path.c_str());
    stem = stem.substr(0, stem.rfind('.'));
    int64_t loop_start = -1;
    int64_t loop_end = -1;
    if (wave && chunks.format.format_tag == XBOX_ADPCM_TAG) {
        entry->name = chunks.name[0] ? chunks.name : stem;
        entry->rate = chunks.format.sample_rate;
        entry->channels = chunks.format.channels;
        entry->input_rate = entry->rate;
        entry->input_channels = entry->channels;
        if (entry->channels == 0 || entry->rate == 0) {
            *reason = "an Xbox ADPCM WAVE with no channels or no rate";
            return false;
        }
        loop_start = chunks.loop_start;
        loop_end = chunks.loop_end;
        int64_t set_bytes = block_set_bytes(entry->channels);
        int64_t present = std::min<int64_t>(chunks.data_bytes, file_bytes - chunks.data_start);
        entry->source_path = path;
        entry->source_offset = chunks.data_start;
        entry->source_bytes = present / set_bytes * set_bytes;
    } else {
        // Every other sound file this build reads is brought to the shape
        // asked for and encoded.
        input_sound sound;
        if (!read_input_sound(path, &sound, reason)) return false;
        entry->input_rate = sound.rate;
        entry->input_channels = (uint16_t)sound.channels;
        mix_input_sound(&sound, shape.channels);
        if (!resample_input_sound(&sound, shape.rate, reason)) return false;
        entry->name = sound.name.empty() ? stem : sound.name;
        entry->rate = sound.rate;
        entry->channels = (uint16_t)sound.channels;
        loop_start = sound.loop_start;
        loop_end = sound.loop_end;
        entry->codec = chosen_codec(shape.codec, wave ? pcm_wave_depth(chunks) : 0);
        size_t frames = sound.pcm.size() / sound.channels;
        if (entry->codec == CODEC_XBOX_ADPCM) {
            entry->adpcm = encode_xbox_adpcm(sound.pcm.data(), frames, sound.channels);
        } else if (entry->codec == CODEC_MS_ADPCM) {
            entry->block_field = shape.block_field;
            entry->adpcm = encode_ms_adpcm(sound.pcm.data(), frames, sound.channels, shape.block_field);
        } else
            entry->adpcm = stored_pcm(sound.pcm, entry->codec);
    }
    if (entry->sound_bytes() == 0) {
        *reason = "it holds no whole block set of sound";
        return false;
    }
    entry->input_looped = loop_start >= 0;
    if (loop_start >= 0) set_entry_loop(entry, loop_start, loop_end, warning);
    return true;
}

uint32_t ms_adpcm_field_for(uint32_t channels, uint32_t block_bytes) {
    if (channels == 0) return 0;
    uint32_t per_channel = block_bytes / channels;
    if (per_channel < 22) return 0;
    return per_channel - 22 > LARGEST_BLOCK_FIELD ? LARGEST_BLOCK_FIELD : per_channel - 22;
}

std::string input_rate_misfit(uint32_t input_rate, const entry_shape& shape) {
    if (shape.rate != 0 || input_rate <= XBOX_HIGHEST_RATE) return "";
    return std::to_string(input_rate) + " Hz: the Xbox plays rates up to " + std::to_string(XBOX_HIGHEST_RATE) +
           " Hz; give --rate";
}
