// xWMA, WMA Pro and XMA decoded through FFmpeg's libavcodec: one decoder per
// entry, opened with the extra data the codec expects (an entry stores
// none), fed the entry's packets in order, its float output clipped to
// 16-bit samples and cut or padded to the frames the bank states.

#include <string.h>

#include <algorithm>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

#include "codec/little_endian.h"
#include "tools/tolvane/session/packet_audio.h"

bool packet_audio_available() {
    return true;
}

const char* packet_audio_unavailable_reason() {
    return "";
}

namespace {

// The standard speaker masks of one and two channels; wider XMA streams
// are laid out by their stream count alone.
uint32_t channel_mask(uint16_t channels) {
    return channels == 1 ? 0x4 : channels == 2 ? 0x3 : 0;
}

// The extra data each decoder is opened with, as a WAVE format would carry
// it: WMA 2's coding flags, WMA Pro's sample size, mask and flags, and the
// XMA2 format's stream count and mask.
std::vector<uint8_t> extra_data(const packet_format& format) {
    std::vector<uint8_t> extra;
    switch (format.codec) {
    case CODEC_XWMA:
        extra.assign(6, 0);
        write_u16le(&extra[4], format.wma_flags);
        break;
    case CODEC_WMA_PRO:
        extra.assign(18, 0);
        write_u16le(&extra[0], 16);
        write_u32le(&extra[2], channel_mask(format.channels));
        write_u16le(&extra[14], 0xe0);
        break;
    default:
        extra.assign(34, 0);
        write_u16le(&extra[0], (uint16_t)((format.channels + 1) / 2));
        write_u32le(&extra[2], channel_mask(format.channels));
        break;
    }
    return extra;
}

AVCodecID codec_id(entry_codec codec) {
    return codec == CODEC_XWMA ? AV_CODEC_ID_WMAV2 : codec == CODEC_WMA_PRO ? AV_CODEC_ID_WMAPRO : AV_CODEC_ID_XMA2;
}

int16_t clipped(float sample) {
    float scaled = sample * 32768.0f;
    if (!(scaled > -32768.0f)) return scaled != scaled ? 0 : -32768;
    if (scaled >= 32767.0f) return 32767;
    return (int16_t)(scaled < 0 ? scaled - 0.5f : scaled + 0.5f);
}

// One sample of a decoded frame, of any of the formats these decoders give.
int16_t sample_at(const AVFrame* frame, int channel, int index, int channels) {
    switch ((AVSampleFormat)frame->format) {
    case AV_SAMPLE_FMT_FLTP:
        return clipped(((const float*)frame->extended_data[channel])[index]);
    case AV_SAMPLE_FMT_FLT:
        return clipped(((const float*)frame->extended_data[0])[index * channels + channel]);
    case AV_SAMPLE_FMT_S16P:
        return ((const int16_t*)frame->extended_data[channel])[index];
    case AV_SAMPLE_FMT_S16:
        return ((const int16_t*)frame->extended_data[0])[index * channels + channel];
    default:
        return 0;
    }
}

struct entry_decoder {
    AVCodecContext* context = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    std::vector<int16_t> pcm;
    int64_t frames_left = 0;
    frames_receiver receive = nullptr;
    void* receiver_context = nullptr;
    bool stopped = false;

    ~entry_decoder() {
        avcodec_free_context(&context);
        av_packet_free(&packet);
        av_frame_free(&frame);
    }
};

bool open_decoder(const packet_format& format, entry_decoder* d, std::string* reason) {
    av_log_set_level(AV_LOG_QUIET);
    const AVCodec* codec = avcodec_find_decoder(codec_id(format.codec));
    d->context = codec ? avcodec_alloc_context3(codec) : nullptr;
    d->packet = av_packet_alloc();
    d->frame = av_frame_alloc();
    if (!d->context || !d->packet || !d->frame) {
        *reason = codec ? "out of memory" : "this libavcodec has no decoder for it";
        return false;
    }
    AVCodecContext* c = d->context;
    c->sample_rate = (int)format.rate;
    av_channel_layout_default(&c->ch_layout, format.channels);
    c->block_align = (int)format.packet_bytes;
    c->bit_rate = (int64_t)format.bytes_per_second * 8;
    c->bits_per_coded_sample = 16;
    std::vector<uint8_t> extra = extra_data(format);
    c->extradata = (uint8_t*)av_mallocz(extra.size() + AV_INPUT_BUFFER_PADDING_SIZE);
    if (!c->extradata) {
        *reason = "out of memory";
        return false;
    }
    memcpy(c->extradata, extra.data(), extra.size());
    c->extradata_size = (int)extra.size();
    if (avcodec_open2(c, codec, nullptr) < 0) {
        *reason = "libavcodec refuses its format";
        return false;
    }
    return true;
}

// Hands on what the decoder has ready, up to the frames still wanted.
void take_decoded(entry_decoder* d, uint16_t channels) {
    while (!d->stopped && avcodec_receive_frame(d->context, d->frame) == 0) {
        int frame_channels = d->frame->ch_layout.nb_channels;
        int64_t frames = std::min<int64_t>(d->frame->nb_samples, d->frames_left);
        d->pcm.assign((size_t)frames * channels, 0);
        for (int64_t f = 0; f < frames; ++f)
            for (int c = 0; c < channels && c < frame_channels; ++c)
                d->pcm[(size_t)(f * channels + c)] = sample_at(d->frame, c, (int)f, frame_channels);
        av_frame_unref(d->frame);
        if (frames > 0 && !d->receive(d->receiver_context, d->pcm.data(), frames)) d->stopped = true;
        d->frames_left -= frames;
    }
}

}  // namespace

bool decode_packets(const packet_format& format, const uint8_t* bytes, size_t byte_count, int64_t frames,
                    frames_receiver receive, void* context, int64_t* bad_packets, int64_t* padded_frames,
                    std::string* reason) {
    *bad_packets = 0;
    *padded_frames = 0;
    entry_decoder d;
    if (format.channels == 0 || format.packet_bytes == 0) {
        *reason = "no packet format";
        return false;
    }
    if (!open_decoder(format, &d, reason)) return false;
    d.frames_left = frames;
    d.receive = receive;
    d.receiver_context = context;
    for (size_t at = 0; at < byte_count && d.frames_left > 0 && !d.stopped; at += format.packet_bytes) {
        size_t size = std::min<size_t>(format.packet_bytes, byte_count - at);
        if (av_new_packet(d.packet, (int)format.packet_bytes) < 0) {
            *reason = "out of memory";
            return false;
        }
        memcpy(d.packet->data, bytes + at, size);
        memset(d.packet->data + size, 0, format.packet_bytes - size);
        int sent = avcodec_send_packet(d.context, d.packet);
        av_packet_unref(d.packet);
        if (sent < 0) (*bad_packets)++;
        take_decoded(&d, format.channels);
    }
    if (!d.stopped && d.frames_left > 0 && avcodec_send_packet(d.context, nullptr) == 0)
        take_decoded(&d, format.channels);
    // A decoder that yields fewer frames than stated is followed by silence.
    std::vector<int16_t> silence((size_t)4096 * format.channels, 0);
    while (!d.stopped && d.frames_left > 0) {
        int64_t now = std::min<int64_t>(4096, d.frames_left);
        if (!receive(context, silence.data(), now)) d.stopped = true;
        d.frames_left -= now;
        *padded_frames += now;
    }
    if (d.stopped) {
        *reason = "its output could not be written";
        return false;
    }
    return true;
}
