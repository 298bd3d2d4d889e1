// Linear PCM to interleaved 16-bit samples.

#include "codec/pcm.h"

#include "codec/little_endian.h"

int32_t decode_pcm8(const uint8_t* input, int32_t input_bytes, int16_t* output, uint32_t channels) {
    if (channels == 0 || input_bytes <= 0) return 0;
    int32_t samples = input_bytes / (int32_t)channels * (int32_t)channels;
    for (int32_t i = 0; i < samples; ++i) output[i] = (int16_t)((input[i] - 128) * 256);
    return samples * 2;
}

int32_t decode_pcm16(const uint8_t* input, int32_t input_bytes, int16_t* output, uint32_t channels) {
    if (channels == 0 || input_bytes <= 0) return 0;
    int32_t samples = input_bytes / (2 * (int32_t)channels) * (int32_t)channels;
    for (int32_t i = 0; i < samples; ++i) output[i] = read_s16le(input + 2 * i);
    return samples * 2;
}

int32_t decode_pcm16be(const uint8_t* input, int32_t input_bytes, int16_t* output, uint32_t channels) {
    if (channels == 0 || input_bytes <= 0) return 0;
    int32_t samples = input_bytes / (2 * (int32_t)channels) * (int32_t)channels;
    for (int32_t i = 0; i < samples; ++i) output[i] = (int16_t)(input[2 * i] << 8 | input[2 * i + 1]);
    return samples * 2;
}
