// Sound files read for packing.

#include "tools/tolvane/input/entry_input.h"

#include <algorithm>
#include <string>

#include "codec/little_endian.h"
#include "codec/ms_adpcm.h"
#include "codec/ms_adpcm_encoder.h"
#include "codec/xbox_adpcm.h"
#include "codec/xbox_adpcm_encoder.h"
#include "containers/byte_source.h"
#include "containers/file_names.h"
#include "containers/output_file.h"
#include "containers/riff_wave.h"
#include "platform/platform.h"
#include "tools/tolvane/input/encoded_audio_input.h"

namespace {

typedef std::vector<uint8_t> bytes;

// Microsoft ADPCM is encoded in blocks of about this many bytes unless the
// shape names a block field.
const uint32_t MS_ADPCM_BLOCK_BYTES = 512;

// What a WAVE input is, as far as the containers care.
struct wave_input {
    bool opened = false;
    bool wave = false;
    uint16_t tag = 0;   // an extensible format's subformat tag
    int pcm_depth = 0;  // 8 or 16 for a PCM WAVE of that depth
    // A Microsoft ADPCM WAVE of the standard coefficients whose blocks a
    // bank's block field states: that field; -1 for any other.
    int32_t block_field = -1;
    wave_chunks chunks;
    int64_t file_bytes = 0;
};

// The block field of a Microsoft ADPCM format chunk's blocks, or -1 when a
// bank cannot state them as they are (a block of more than 277 bytes per
// channel, frames per block that do not match, other coefficients).
int32_t bank_block_field(const uint8_t* format, int32_t format_bytes) {
    const int32_t COEFFICIENTS_AT = 22;
    if (format_bytes < COEFFICIENTS_AT + 4 * MS_ADPCM_PREDICTORS) return -1;
    uint32_t channels = read_u16le(format + 2);
    uint32_t block_align = read_u16le(format + 12);
    if (channels == 0 || block_align % channels != 0 || read_u16le(format + 20) != MS_ADPCM_PREDICTORS) return -1;
    uint32_t per_channel = block_align / channels;
    if (per_channel < 22 || per_channel - 22 > MS_ADPCM_BLOCK_FIELD_MAX) return -1;
    uint32_t field = per_channel - 22;
    if (read_u16le(format + 18) != (uint32_t)ms_adpcm_block_frames(field)) return -1;
    for (int i = 0; i < MS_ADPCM_PREDICTORS; ++i)
        if (read_s16le(format + COEFFICIENTS_AT + 4 * i) != MS_ADPCM_COEFFICIENTS[i][0] ||
            read_s16le(format + COEFFICIENTS_AT + 4 * i + 2) != MS_ADPCM_COEFFICIENTS[i][1])
            return -1;
    return (int32_t)field;
}

wave_input probe_wave(const std::string& path) {
    wave_input input;
    file_handle file = file_open_read(path.c_str());
    if (file == INVALID_FILE) return input;
    input.opened = true;
    byte_source source = source_of_file(file);
    input.wave = read_wave_chunks(&source, &input.chunks) && input.chunks.has_format && input.chunks.has_data;
    input.file_bytes = source_size(&source);
    input.tag = input.wave ? input.chunks.format.format_tag : 0;
    if (input.tag == WAVE_FORMAT_EXTENSIBLE && input.chunks.extension_bytes >= 22)
        input.tag = read_u16le(input.chunks.subformat);
    int bits = input.chunks.format.bits_per_sample;
    if (input.tag == WAVE_FORMAT_PCM && (bits == 8 || bits == 16)) input.pcm_depth = bits;
    uint8_t format[64] = {};
    int32_t format_bytes = input.tag == MS_ADPCM_TAG ? find_riff_chunk(&source, "fmt ") : -1;
    if (format_bytes > 0) {
        int32_t wanted = std::min<int32_t>(format_bytes, (int32_t)sizeof format);
        if (source_read(&source, format, wanted) == wanted) input.block_field = bank_block_field(format, wanted);
    }
    file_close(file);
    return input;
}

// A WAVE whose sound goes in as it is: its whole units, from the file.
void take_as_it_is(const std::string& path, const wave_input& input, entry_codec codec, built_entry* entry) {
    const wave_chunks& chunks = input.chunks;
    entry->codec = codec;
    entry->block_field = codec == CODEC_MS_ADPCM ? (uint32_t)input.block_field : 0;
    entry->rate = entry->input_rate = chunks.format.sample_rate;
    entry->channels = entry->input_channels = chunks.format.channels;
    const codec_row* row = codec_row_of(codec, entry->block_field);
    int64_t unit = row ? unit_bytes(*row, entry->channels) : 0;
    int64_t present = std::min<int64_t>(chunks.data_bytes, input.file_bytes - chunks.data_start);
    entry->source_path = path;
    entry->source_offset = chunks.data_start;
    entry->source_bytes = unit > 0 && present > 0 ? present / unit * unit : 0;
}

// An Xbox ADPCM WAVE's block sets decoded, for a bank that holds no Xbox
// ADPCM.
bool decode_xbox_adpcm_wave(const std::string& path, const wave_input& input, input_sound* sound, std::string* reason) {
    built_entry stored;
    take_as_it_is(path, input, CODEC_XBOX_ADPCM, &stored);
    bytes adpcm;
    if (!append_entry_sound(stored, &adpcm, reason) || adpcm.size() > (size_t)INT32_MAX) return false;
    sound->rate = stored.rate;
    sound->channels = stored.channels;
    sound->pcm.resize(adpcm.size() / block_set_bytes(stored.channels) * SAMPLES_PER_BLOCK * stored.channels);
    decode_blocks(adpcm.data(), (int32_t)adpcm.size(), sound->pcm.data(), stored.channels);
    sound->loop_start = input.chunks.loop_start;
    sound->loop_end = input.chunks.loop_end;
    sound->name = input.chunks.name;
    return true;
}

entry_codec chosen_codec(const entry_shape& shape, int depth) {
    switch (shape.codec) {
    case SHAPE_CODEC_AS_INPUT:
        return depth == 8 ? CODEC_PCM8 : depth == 16 ? CODEC_PCM16 : shape.bank_adpcm;
    case SHAPE_CODEC_PCM:
        return depth == 8 ? CODEC_PCM8 : CODEC_PCM16;
    case SHAPE_CODEC_PCM8:
        return CODEC_PCM8;
    case SHAPE_CODEC_PCM16:
        return CODEC_PCM16;
    case SHAPE_CODEC_ADPCM:
        break;
    }
    return shape.bank_adpcm;
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

// Any other input: read, mixed and resampled to the shape, and encoded.
bool encode_input(const std::string& path, const wave_input& input, const entry_shape& shape, built_entry* entry,
                  std::string* reason) {
    input_sound sound;
    bool read = input.tag == XBOX_ADPCM_TAG ? decode_xbox_adpcm_wave(path, input, &sound, reason)
                                            : read_input_sound(path, &sound, reason);
    if (!read) return false;
    entry->input_rate = sound.rate;
    entry->input_channels = (uint16_t)sound.channels;
    mix_input_sound(&sound, shape.channels);
    if (!resample_input_sound(&sound, shape.rate, reason)) return false;
    entry->name = sound.name;
    entry->rate = sound.rate;
    entry->channels = (uint16_t)sound.channels;
    entry->loop_start = sound.loop_start;
    entry->loop_end = sound.loop_end;
    entry->codec = chosen_codec(shape, input.pcm_depth);
    size_t frames = sound.pcm.size() / sound.channels;
    if (entry->codec == CODEC_XBOX_ADPCM) {
        entry->adpcm = encode_xbox_adpcm(sound.pcm.data(), frames, sound.channels);
    } else if (entry->codec == CODEC_MS_ADPCM) {
        entry->block_field = shape.block_field >= 0 ? (uint32_t)shape.block_field
                                                    : ms_adpcm_field_for(sound.channels, MS_ADPCM_BLOCK_BYTES);
        entry->adpcm = encode_ms_adpcm(sound.pcm.data(), frames, sound.channels, entry->block_field);
    } else {
        entry->adpcm = stored_pcm(sound.pcm, entry->codec);
    }
    return true;
}

}  // namespace

bool read_entry_wave(const std::string& path, built_entry* entry, std::string* reason, std::string* warning,
                     const entry_shape& shape) {
    *entry = built_entry();
    wave_input input = probe_wave(path);
    if (!input.opened) {
        *reason = unreadable_reason(path);
        if (reason->empty()) *reason = "cannot be opened";
        return false;
    }
    const wave_format& format = input.chunks.format;
    bool reshaped =
        (shape.rate && shape.rate != format.sample_rate) || (shape.channels && shape.channels != format.channels);
    bool ms_adpcm_kept = input.block_field >= 0 && !reshaped &&
                         (shape.codec == SHAPE_CODEC_AS_INPUT || shape.codec == SHAPE_CODEC_ADPCM) &&
                         (shape.block_field < 0 || shape.block_field == input.block_field);
    if (input.tag == XBOX_ADPCM_TAG && (format.channels == 0 || format.sample_rate == 0)) {
        *reason = "an Xbox ADPCM WAVE with no channels or no rate";
        return false;
    }
    if (input.tag == XBOX_ADPCM_TAG && shape.bank_adpcm == CODEC_XBOX_ADPCM) {
        take_as_it_is(path, input, CODEC_XBOX_ADPCM, entry);
        entry->name = input.chunks.name;
        entry->loop_start = input.chunks.loop_start;
        entry->loop_end = input.chunks.loop_end;
    } else if (ms_adpcm_kept && shape.bank_adpcm == CODEC_MS_ADPCM && format.sample_rate > 0) {
        take_as_it_is(path, input, CODEC_MS_ADPCM, entry);
        entry->name = input.chunks.name;
        entry->loop_start = input.chunks.loop_start;
        entry->loop_end = input.chunks.loop_end;
    } else if (!encode_input(path, input, shape, entry, reason)) {
        return false;
    }
    if (entry->sound_bytes() == 0) {
        *reason = "it holds no whole block set of sound";
        return false;
    }
    if (entry->name.empty()) {
        entry->name = base_name(path.c_str());
        entry->name = entry->name.substr(0, entry->name.rfind('.'));
    }
    int64_t loop_start = entry->loop_start;
    entry->input_looped = loop_start >= 0;
    set_entry_loop(entry, loop_start, entry->loop_end, warning);
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
