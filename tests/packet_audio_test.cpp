// xWMA, WMA Pro and XMA entries decoded through libavcodec in the Linux tool:
// each to exactly the frames its bank states, sounding like what was encoded
// (WMA 2 encoded here with libavcodec's own encoder, which has none for WMA
// Pro or XMA), and damaged packets never crash it or change the length.

#include <gtest/gtest.h>
#include <math.h>

#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include "containers/wave_bank_writer.h"
#include "tests/support/sample_files.h"
#include "tests/support/tool_runner.h"
#include "tests/support/windows_bank_variants.h"
#include "tools/tolvane/session/packet_audio.h"

namespace {

const uint32_t RATE = 44100;
const uint16_t CHANNELS = 2;
// The bit rate at which libavcodec's WMA 2 packets are 929 bytes, the
// first xWMA packet size (block field 0).
const int64_t BIT_RATE_OF_929_BYTE_PACKETS = 160035;

std::vector<int16_t> tone(int64_t frames) {
    std::vector<int16_t> pcm((size_t)frames * CHANNELS);
    for (int64_t f = 0; f < frames; ++f)
        for (int c = 0; c < CHANNELS; ++c)
            pcm[(size_t)(f * CHANNELS + c)] = (int16_t)(9000 * sin(f * (c ? 0.031 : 0.047)));
    return pcm;
}

struct wma_encoding {
    bytes packets;
    uint32_t packet_bytes = 0;
    uint16_t flags = 0;
};

// WMA 2 as libavcodec encodes it; its packets carry the coding flags it
// chose in its extra data, not those of xWMA.
wma_encoding encode_wma2(const std::vector<int16_t>& pcm) {
    wma_encoding out;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    AVCodecContext* c = avcodec_alloc_context3(codec);
    c->sample_rate = RATE;
    av_channel_layout_default(&c->ch_layout, CHANNELS);
    c->bit_rate = BIT_RATE_OF_929_BYTE_PACKETS;
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    EXPECT_EQ(avcodec_open2(c, codec, nullptr), 0);
    out.packet_bytes = (uint32_t)c->block_align;
    out.flags = (uint16_t)(c->extradata[4] | c->extradata[5] << 8);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    int64_t frames = (int64_t)pcm.size() / CHANNELS;
    for (int64_t at = 0; at <= frames; at += c->frame_size) {
        bool last = at == frames || at + c->frame_size > frames;
        if (at < frames) {
            frame->nb_samples = c->frame_size;
            frame->format = c->sample_fmt;
            av_channel_layout_copy(&frame->ch_layout, &c->ch_layout);
            av_frame_get_buffer(frame, 0);
            for (int f = 0; f < c->frame_size; ++f)
                for (int ch = 0; ch < CHANNELS; ++ch)
                    ((float*)frame->data[ch])[f] =
                        at + f < frames ? pcm[(size_t)((at + f) * CHANNELS + ch)] / 32768.0f : 0.0f;
            avcodec_send_frame(c, frame);
            av_frame_unref(frame);
        }
        if (last) avcodec_send_frame(c, nullptr);
        while (avcodec_receive_packet(c, packet) == 0) {
            out.packets.insert(out.packets.end(), packet->data, packet->data + packet->size);
            av_packet_unref(packet);
        }
        if (last) break;
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&c);
    return out;
}

struct collected {
    std::vector<int16_t> pcm;
};

bool collect(void* context, const int16_t* pcm, int64_t frames) {
    std::vector<int16_t>& all = ((collected*)context)->pcm;
    all.insert(all.end(), pcm, pcm + frames * CHANNELS);
    return true;
}

// The signal-to-noise ratio of decoded against original, at the lag (the
// coder's delay) that makes them agree best.
double best_snr_db(const std::vector<int16_t>& original, const std::vector<int16_t>& decoded) {
    double best = -100;
    for (size_t lag = 0; lag <= 4096; lag += 1) {
        double signal = 0, noise = 0;
        for (size_t i = 0; i + lag * CHANNELS < decoded.size() && i < original.size(); i += 7) {
            double d = decoded[i + lag * CHANNELS] - original[i];
            signal += (double)original[i] * original[i];
            noise += d * d;
        }
        if (noise > 0) best = std::max(best, 10 * log10(signal / noise));
    }
    return best;
}

packet_format wma_format(uint32_t packet_bytes, uint16_t flags) {
    packet_format format;
    format.codec = CODEC_XWMA;
    format.rate = RATE;
    format.channels = CHANNELS;
    format.packet_bytes = packet_bytes;
    format.bytes_per_second = 20000;
    format.wma_flags = flags;
    return format;
}

}  // namespace

// Every length the bank may state is what comes out: the decoder's longer
// output is cut, a shorter one is followed by silence that is counted.
TEST(PacketAudio, AnEncodedEntryDecodesToExactlyItsStatedFramesAndSoundsAlike) {
    const int64_t frames = 3 * RATE / 2;
    std::vector<int16_t> original = tone(frames);
    wma_encoding wma = encode_wma2(original);
    ASSERT_EQ(wma.packet_bytes, 929u);
    packet_format format = wma_format(wma.packet_bytes, wma.flags);
    auto decode = [&](int64_t stated, collected* out, int64_t* padded) {
        int64_t bad = 0;
        std::string reason;
        ASSERT_TRUE(
            decode_packets(format, wma.packets.data(), wma.packets.size(), stated, collect, out, &bad, padded, &reason))
            << reason;
        EXPECT_EQ((int64_t)out->pcm.size(), stated * CHANNELS);
        EXPECT_EQ(bad, 0);
    };
    collected all;
    int64_t padded = 0;
    decode(2 * frames, &all, &padded);
    // The encoder holds back at most its last partial frame.
    int64_t decoded = 2 * frames - padded;
    EXPECT_GE(decoded, frames - 2048);
    all.pcm.resize((size_t)decoded * CHANNELS);
    EXPECT_GT(best_snr_db(original, all.pcm), 10.0);
    for (int64_t stated : {decoded, decoded / 3}) {
        collected out;
        decode(stated, &out, &padded);
        EXPECT_EQ(padded, 0);
        EXPECT_TRUE(std::equal(out.pcm.begin(), out.pcm.end(), all.pcm.begin()));
    }
}

TEST(PacketAudio, DamagedOrMissingPacketsOfEveryCodecKeepTheLength) {
    bytes noise(3 * 2048 + 100);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = (uint8_t)((i * 2654435761u) >> 13);
    for (entry_codec codec : {CODEC_XWMA, CODEC_WMA_PRO, CODEC_XMA}) {
        for (size_t bytes_given : {(size_t)0, noise.size()}) {
            packet_format format = wma_format(codec == CODEC_XMA ? 2048 : 1487, 0x1f);
            format.codec = codec;
            collected out;
            int64_t bad = 0, padded = 0;
            std::string reason;
            ASSERT_TRUE(decode_packets(format, noise.data(), bytes_given, 10000, collect, &out, &bad, &padded, &reason))
                << codec << ": " << reason;
            EXPECT_EQ(out.pcm.size(), 10000u * CHANNELS) << codec;
            if (bytes_given == 0) {
                EXPECT_GT(padded, 0) << codec;
            }
        }
    }
}

// A record's format says how its packets are cut, or why they cannot be.
TEST(PacketAudio, ARecordsPacketFormatComesFromItsBlockField) {
    struct row {
        entry_codec codec;
        uint32_t block_field;
        int64_t stated_frames;
        uint32_t packet_bytes;  // 0: refused
        uint32_t bytes_per_second;
    } rows[] = {
        {CODEC_XWMA, 0x00, 1000, 929, 12000},
        {CODEC_WMA_PRO, 0xa4, 1000, 8917, 20000},
        {CODEC_XWMA, 0xd0, 1000, 1280, 2500},
        {CODEC_XWMA, 0x11, 1000, 0, 0},  // no packet size 17
        {CODEC_XWMA, 0xe0, 1000, 0, 0},  // no rate 7
        {CODEC_XMA, 0xff, 1000, 2048, 0},
        {CODEC_XMA, 0, 64 * 4097 + 1, 0, 0},  // more frames than bytes hold
        {CODEC_XWMA, 0, 0, 0, 0},             // no frame count
        {CODEC_MS_ADPCM, 0, 1000, 0, 0},
    };
    for (const row& r : rows) {
        entry_record record = new_record(1);
        record.codec = r.codec;
        record.block_field = r.block_field;
        record.rate = RATE;
        record.channels = CHANNELS;
        record.length = 4096;
        record.stated_frames = r.stated_frames;
        packet_format format;
        std::string reason;
        EXPECT_EQ(packet_format_of(record, &format, &reason), r.packet_bytes != 0) << r.codec << " " << r.block_field;
        if (r.packet_bytes == 0) {
            EXPECT_FALSE(reason.empty());
            continue;
        }
        EXPECT_EQ(format.packet_bytes, r.packet_bytes);
        EXPECT_EQ(format.bytes_per_second, r.bytes_per_second);
    }
}

// Through the tool: an xWMA entry is rendered to its own file with the
// frames its record states, beside the Microsoft ADPCM one the module plays;
// standard output cannot carry both, and a bank of only xWMA is rendered, not refused.
TEST(PacketAudio, TheToolRendersXwmaEntriesBesideTheModulesOwn) {
    scratch_folder scratch;
    const int64_t frames = RATE;
    wma_encoding wma = encode_wma2(tone(frames));
    built_entry music;
    music.name = "Music_2";
    music.codec = CODEC_XWMA;
    music.rate = RATE;
    music.channels = CHANNELS;
    music.adpcm = wma.packets;
    music.stated_frames = frames;
    built_entry dig = music;
    dig.name = "Dig_0";
    dig.codec = CODEC_PCM16;
    dig.stated_frames = -1;
    dig.adpcm = bytes(4000, 7);
    std::string error;
    write_file_in(scratch.path, "both.xwb", built_bank_bytes({dig, music}, "both", 4, &error, BANK_FOR_WINDOWS));
    write_file_in(scratch.path, "music.xwb", built_bank_bytes({music}, "music", 4, &error, BANK_FOR_WINDOWS));

    run_result run = run_tool("render " + in_quotes(scratch.path + "both.xwb") + " -q -o " +
                                  in_quotes(scratch.path + "out/{name}-{entry}.wav"),
                              scratch.path);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(pcm_wave_samples(scratch.path + "out/both-01.wav", CHANNELS, RATE).size(), 4000u);
    EXPECT_EQ(pcm_wave_samples(scratch.path + "out/both-02.wav", CHANNELS, RATE).size(), (size_t)frames * 4);

    run = run_tool("render " + in_quotes(scratch.path + "both.xwb") + " -o -", scratch.path);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("write them to separate files"), std::string::npos) << run.err;

    run = run_tool("render " + in_quotes(scratch.path + "music.xwb") + " -q -o " + in_quotes(scratch.path + "m.wav"),
                   scratch.path);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(pcm_wave_samples(scratch.path + "m.wav", CHANNELS, RATE).size(), (size_t)frames * 4);

    // A compact record states no duration: its seek table's last value,
    // decoded bytes, gives its frames, in either byte order.
    for (bank_platform platform : {BANK_FOR_WINDOWS, BANK_FOR_XBOX360}) {
        built_entry first = windows_bank_entry("a", CODEC_XWMA, CHANNELS, bytes(929 * 3, 1), 0, {4 * 5000, 4 * 9000});
        built_entry second = windows_bank_entry("b", CODEC_XWMA, CHANNELS, bytes(929 * 2, 2), 0, {4 * 7000});
        write_file_in(scratch.path, "compact.xwb",
                      compact_windows_bank(built_bank_bytes({first, second}, "compact", 2048, &error, platform)));
        run = run_tool(
            "render " + in_quotes(scratch.path + "compact.xwb") + " -q -o " + in_quotes(scratch.path + "c/{entry}.wav"),
            scratch.path);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(pcm_wave_samples(scratch.path + "c/01.wav", CHANNELS, RATE).size(), 9000u * 4);
        EXPECT_EQ(pcm_wave_samples(scratch.path + "c/02.wav", CHANNELS, RATE).size(), 7000u * 4);
    }
}
