// Fuzz target: the decoder. The first byte is the channel count (0 to 255);
// the output buffer is as large as the whole block sets need plus one spare
// sample that must stay untouched, so any write past them is caught. For the
// channel counts the player plays (1 to 8) the samples must also be the
// scalar decoder's.

#include <stdlib.h>

#include <vector>

#include "codec/xbox_adpcm.h"
#include "reference/scalar_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    uint32_t channels = data[0];
    const uint8_t* input = data + 1;
    int32_t input_bytes = (int32_t)(size - 1);
    size_t block_sets = channels ? (size_t)input_bytes / ADPCM_BLOCK_BYTES / channels : 0;
    std::vector<int16_t> output(block_sets * SAMPLES_PER_BLOCK * channels + 1);
    int32_t produced = decode_blocks(input, input_bytes, output.data(), channels);
    if (produced != (int32_t)(block_sets * PCM_BLOCK_BYTES * channels) || output.back() != 0) abort();
    if (channels >= 1 && channels <= 8) {
        std::vector<int16_t> expected(output.size());
        scalar_decode_blocks(input, input_bytes, expected.data(), channels);
        if (expected != output) abort();
    }
    return 0;
}
