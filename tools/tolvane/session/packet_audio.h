// xWMA, WMA Pro and XMA entries of Windows and Xbox 360 wave banks, which the
// module does not decode: the Linux tool decodes them for `render` through
// FFmpeg's libavcodec, one decoder per entry fed the entry's packets. The
// Windows build has no decoder (packet_audio_none.cpp) and says so.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "containers/stream_description.h"

// True where this build decodes xWMA, WMA Pro and XMA.
bool packet_audio_available();
// Why it cannot, in one line, or "".
const char* packet_audio_unavailable_reason();
// True for the codecs decoded here rather than by the module.
bool is_packet_codec(entry_codec codec);

// How an entry's packets are coded, as the bank states it.
struct packet_format {
    entry_codec codec = CODEC_XWMA;
    uint32_t rate = 0;
    uint16_t channels = 0;
    uint32_t packet_bytes = 0;      // xWMA: from the block field; XMA: 2048
    uint32_t bytes_per_second = 0;  // xWMA's average rate
    // The WMA 2 coding flags, which an xWMA entry does not store: every
    // xWMA stream is coded with all of them (exponents by VLC, the bit
    // reservoir, variable block lengths and the rest).
    uint16_t wma_flags = 0x1f;
};

// The format of a bank record of a packet codec; false with the reason when
// its block field indexes no packet size or its format cannot be played.
bool packet_format_of(const entry_record& record, packet_format* format, std::string* reason);

// Receives decoded interleaved 16-bit frames in order; false stops the
// decoding.
typedef bool (*frames_receiver)(void* context, const int16_t* pcm, int64_t frames);

// Decodes byte_count bytes of packets (a short last packet is padded with
// zeros) into exactly `frames` frames, handed to receive in pieces: what the
// decoder yields past them is dropped, and a decoder that yields fewer is
// followed by silence up to them. Packets the decoder rejects are skipped and
// counted in *bad_packets. False with the reason when no decoder can be
// opened or receive stops it.
bool decode_packets(const packet_format& format, const uint8_t* bytes, size_t byte_count, int64_t frames,
                    frames_receiver receive, void* context, int64_t* bad_packets, int64_t* padded_frames,
                    std::string* reason);
