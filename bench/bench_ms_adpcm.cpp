// decode_ms_adpcm against FFmpeg's adpcm_ms decoder (libavcodec), on a
// generated 64 MiB Microsoft ADPCM WAVE (tag 2, stereo, 44.1 kHz, blocks of
// 2048 bytes). Both stream the file through the same 1 MiB buffer, block
// after block, as a converter would. Prints the samples per second of each
// (best of three), their ratio, the samples on which the two disagree, and
// the peak resident memory of decoding a 4 MiB and the 64 MiB file. Without
// libavcodec at build time, only our decoder is measured.
//   bench_ms_adpcm [FOLDER]   (the files are written there, default the temporary folder)

#include <stdio.h>
#include <string.h>

#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "codec/little_endian.h"
#include "codec/ms_adpcm.h"

#ifdef TOLVANE_HAVE_LIBAVCODEC
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}
#endif

namespace {

const uint32_t CHANNELS = 2;
const uint32_t RATE = 44100;
const int32_t BLOCK_BYTES = 2048;
const int32_t BLOCK_BYTES_PER_CHANNEL = BLOCK_BYTES / (int32_t)CHANNELS;
const size_t BUFFER_BYTES = 1 << 20;  // a whole number of blocks
const size_t BLOCKS_PER_BUFFER = BUFFER_BYTES / BLOCK_BYTES;
const uint32_t WAVE_HEADER_BYTES = 12 + 8 + 50 + 8;  // RIFF, fmt with the coefficients, data

void append_u16(bytes& out, uint16_t value) {
    out.push_back((uint8_t)value);
    out.push_back((uint8_t)(value >> 8));
}
void append_u32(bytes& out, uint32_t value) {
    append_u16(out, (uint16_t)value);
    append_u16(out, (uint16_t)(value >> 16));
}

// The WAVE header of a stereo Microsoft ADPCM file of data_bytes of blocks:
// the format with its seven standard coefficient pairs, then the data chunk.
bytes wave_header(uint32_t data_bytes) {
    int32_t frames = ms_adpcm_frames_in_block(BLOCK_BYTES_PER_CHANNEL);
    bytes out = {'R', 'I', 'F', 'F'};
    append_u32(out, WAVE_HEADER_BYTES - 8 + data_bytes);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    append_u32(out, 50);
    append_u16(out, MS_ADPCM_TAG);
    append_u16(out, CHANNELS);
    append_u32(out, RATE);
    append_u32(out, (uint32_t)((uint64_t)RATE * BLOCK_BYTES / (uint32_t)frames));
    append_u16(out, BLOCK_BYTES);
    append_u16(out, 4);
    append_u16(out, 32);  // the extension: frames per block, the coefficients
    append_u16(out, (uint16_t)frames);
    append_u16(out, MS_ADPCM_PREDICTORS);
    for (const int16_t* pair : MS_ADPCM_COEFFICIENTS) {
        append_u16(out, (uint16_t)pair[0]);
        append_u16(out, (uint16_t)pair[1]);
    }
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    append_u32(out, data_bytes);
    return out;
}

// One valid block of varied content: each channel's predictor, delta and
// two starting samples, then codes that mostly stay small and now and then
// jump, as coded sound does.
void fill_block(uint8_t* block, std::mt19937& random) {
    for (uint32_t c = 0; c < CHANNELS; ++c) {
        block[c] = (uint8_t)(random() % MS_ADPCM_PREDICTORS);
        write_u16le(block + CHANNELS + 2 * c, (uint16_t)(16 + random() % 1500));
        write_u16le(block + 3 * CHANNELS + 2 * c, (uint16_t)(random() % 20000 - 10000));
        write_u16le(block + 5 * CHANNELS + 2 * c, (uint16_t)(random() % 20000 - 10000));
    }
    // Two codes of sixteen grow the delta (by 1.2 and 3), the rest shrink it,
    // so it wanders without running into its cap.
    static const uint8_t CODES[] = {0, 1, 2, 15, 14, 1, 15, 0, 3, 13, 2, 14, 4, 8, 1, 15};
    for (int32_t i = MS_ADPCM_HEADER_BYTES_PER_CHANNEL * (int32_t)CHANNELS; i < BLOCK_BYTES; ++i) {
        uint32_t r = random();
        block[i] = (uint8_t)(CODES[r & 15] << 4 | CODES[(r >> 4) & 15]);
    }
}

// Writes a WAVE of data_bytes of blocks, a buffer at a time.
bool write_wave(const std::string& path, uint32_t data_bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) return false;
    bytes header = wave_header(data_bytes);
    bool ok = fwrite(header.data(), 1, header.size(), file) == header.size();
    std::mt19937 random(2);
    bytes buffer(BUFFER_BYTES);
    for (uint32_t written = 0; ok && written < data_bytes; written += BUFFER_BYTES) {
        for (size_t b = 0; b < BLOCKS_PER_BUFFER; ++b) fill_block(&buffer[b * BLOCK_BYTES], random);
        size_t n = data_bytes - written < BUFFER_BYTES ? data_bytes - written : BUFFER_BYTES;
        ok = fwrite(buffer.data(), 1, n, file) == n;
    }
    return fclose(file) == 0 && ok;
}

// Reads the file's blocks a buffer at a time and hands each buffer's whole
// blocks to decode; false when the file cannot be read.
bool stream_blocks(const std::string& path, const std::function<void(const uint8_t*, int32_t)>& decode) {
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return false;
    static bytes buffer(BUFFER_BYTES);
    bool ok = fseek(file, WAVE_HEADER_BYTES, SEEK_SET) == 0;
    size_t got = 0;
    while (ok && (got = fread(buffer.data(), 1, BUFFER_BYTES, file)) > 0)
        decode(buffer.data(), (int32_t)(got / BLOCK_BYTES * BLOCK_BYTES));
    fclose(file);
    return ok;
}

const int32_t FRAMES_PER_BLOCK = ms_adpcm_frames_in_block(BLOCK_BYTES_PER_CHANNEL);
std::vector<int16_t> our_samples(BLOCKS_PER_BUFFER* FRAMES_PER_BLOCK* CHANNELS);

// Our decoder on one buffer; the samples it wrote.
size_t decode_ours(const uint8_t* input, int32_t input_bytes) {
    return (size_t)decode_ms_adpcm(input, input_bytes, our_samples.data(), CHANNELS, BLOCK_BYTES_PER_CHANNEL) / 2;
}

#ifdef TOLVANE_HAVE_LIBAVCODEC
// FFmpeg's adpcm_ms decoder, fed one block per packet, as its demuxers do.
struct ffmpeg_decoder {
    AVCodecContext* context = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    std::vector<int16_t> samples = std::vector<int16_t>(BLOCKS_PER_BUFFER * FRAMES_PER_BLOCK * CHANNELS);

    bool open() {
        av_log_set_level(AV_LOG_ERROR);
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_ADPCM_MS);
        if (!codec || !(context = avcodec_alloc_context3(codec))) return false;
        context->sample_rate = RATE;
        av_channel_layout_default(&context->ch_layout, CHANNELS);
        context->block_align = BLOCK_BYTES;
        packet = av_packet_alloc();
        frame = av_frame_alloc();
        return packet && frame && avcodec_open2(context, codec, nullptr) == 0;
    }
    ~ffmpeg_decoder() {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&context);
    }
    // Decodes one buffer into samples, interleaved; the samples written.
    size_t decode(const uint8_t* input, int32_t input_bytes) {
        size_t at = 0;
        for (int32_t offset = 0; offset < input_bytes; offset += BLOCK_BYTES) {
            packet->data = const_cast<uint8_t*>(input + offset);
            packet->size = BLOCK_BYTES;
            if (avcodec_send_packet(context, packet) < 0) continue;
            while (avcodec_receive_frame(context, frame) == 0) at = take_frame(at);
        }
        return at;
    }
    size_t take_frame(size_t at) {
        size_t count = (size_t)frame->nb_samples * CHANNELS;
        if (at + count > samples.size()) count = samples.size() - at;
        if (frame->format == AV_SAMPLE_FMT_S16) {
            memcpy(&samples[at], frame->data[0], count * 2);
        } else {  // planar
            for (size_t i = 0; i < count; ++i)
                samples[at + i] = ((const int16_t*)frame->extended_data[i % CHANNELS])[i / CHANNELS];
        }
        return at + count;
    }
};
#endif

// Streams the file through decode and returns the best time of three, with
// the samples decoded.
double best_of_three(const std::string& path, const std::function<size_t(const uint8_t*, int32_t)>& decode,
                     uint64_t* samples) {
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        uint64_t total = 0;
        auto start = std::chrono::steady_clock::now();
        stream_blocks(path, [&](const uint8_t* input, int32_t input_bytes) { total += decode(input, input_bytes); });
        double seconds = seconds_since(start);
        if (seconds < best) best = seconds;
        *samples = total;
    }
    return best;
}

// The peak resident memory of streaming the file through decode once.
long peak_of(const std::string& path, const std::function<size_t(const uint8_t*, int32_t)>& decode) {
    reset_peak();
    stream_blocks(path, [&](const uint8_t* input, int32_t input_bytes) { decode(input, input_bytes); });
    return peak_kb();
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder = argc > 1 ? std::string(argv[1]) + "/" : make_bench_folder("tolvane-bench-ms-adpcm");
    if (folder.empty()) {
        printf("bench_ms_adpcm: cannot make a folder under the temporary directory\n");
        return 1;
    }
    const std::string large = folder + "ms-adpcm-64m.wav", small = folder + "ms-adpcm-4m.wav";
    if (!write_wave(large, (64u << 20) - WAVE_HEADER_BYTES) || !write_wave(small, (4u << 20) - WAVE_HEADER_BYTES)) {
        printf("bench_ms_adpcm: cannot write the files in %s\n", folder.c_str());
        return 1;
    }
    printf(
        "file: 64 MiB stereo 44.1 kHz Microsoft ADPCM WAVE, blocks of %d bytes (%d frames), streamed %zu KiB "
        "at a time\n",
        BLOCK_BYTES, FRAMES_PER_BLOCK, BUFFER_BYTES >> 10);

    uint64_t ours_samples = 0;
    double ours = best_of_three(large, decode_ours, &ours_samples);
    long ours_small_kb = peak_of(small, decode_ours), ours_large_kb = peak_of(large, decode_ours);
    printf("decode_ms_adpcm: %7.3f s  %8.1f M samples/s  peak %6ld KB (4 MiB file: %6ld KB)\n", ours,
           (double)ours_samples / ours / 1e6, ours_large_kb, ours_small_kb);

#ifdef TOLVANE_HAVE_LIBAVCODEC
    ffmpeg_decoder ffmpeg;
    if (!ffmpeg.open()) {
        printf("libavcodec has no adpcm_ms decoder: no comparison\n");
    } else {
        auto decode_ffmpeg = [&](const uint8_t* input, int32_t input_bytes) {
            return ffmpeg.decode(input, input_bytes);
        };
        uint64_t ffmpeg_samples = 0;
        double theirs = best_of_three(large, decode_ffmpeg, &ffmpeg_samples);
        long theirs_small_kb = peak_of(small, decode_ffmpeg), theirs_large_kb = peak_of(large, decode_ffmpeg);
        printf("libavcodec:      %7.3f s  %8.1f M samples/s  peak %6ld KB (4 MiB file: %6ld KB)\n", theirs,
               (double)ffmpeg_samples / theirs / 1e6, theirs_large_kb, theirs_small_kb);
        printf("ratio ours/libavcodec (samples per second): %.2f (target >= 3)\n",
               ((double)ours_samples / ours) / ((double)ffmpeg_samples / theirs));

        // The same file through both, buffer by buffer, sample by sample.
        uint64_t differing = 0, compared = 0, count_mismatch = 0;
        stream_blocks(large, [&](const uint8_t* input, int32_t input_bytes) {
            size_t a = decode_ours(input, input_bytes), b = ffmpeg.decode(input, input_bytes);
            if (a != b) count_mismatch++;
            for (size_t i = 0; i < a && i < b; ++i) differing += our_samples[i] != ffmpeg.samples[i];
            compared += a < b ? a : b;
        });
        printf("samples that differ: %llu of %llu", (unsigned long long)differing, (unsigned long long)compared);
        if (count_mismatch) printf(" (%llu buffers decoded to different counts)", (unsigned long long)count_mismatch);
        printf("\n");
    }
#else
    printf("libavcodec was not found when this was built: no comparison with FFmpeg's adpcm_ms\n");
#endif
    if (argc <= 1) remove_bench_folder(folder);
    return 0;
}
