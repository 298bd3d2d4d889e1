// The packet formats of a bank's xWMA, WMA Pro and XMA records.

#include "containers/wave_bank.h"
#include "tools/tolvane/session/packet_audio.h"

bool is_packet_codec(entry_codec codec) {
    return codec == CODEC_XWMA || codec == CODEC_WMA_PRO || codec == CODEC_XMA;
}

bool packet_format_of(const entry_record& record, packet_format* format, std::string* reason) {
    *format = packet_format();
    format->codec = record.codec;
    format->rate = (uint32_t)record.rate;
    format->channels = (uint16_t)record.channels;
    if (!is_packet_codec(record.codec)) {
        *reason = "not an xWMA, WMA Pro or XMA record";
        return false;
    }
    if (!stream_format_is_playable(record.rate, record.channels)) {
        *reason =
            std::to_string(record.channels) + " channels at " + std::to_string(record.rate) + " Hz cannot be played";
        return false;
    }
    // The lowest xWMA rate, 2500 bytes a second, carries 48 kHz mono at
    // about 19 frames a byte: a record stating far more would render little
    // but silence, up to gigabytes of it.
    const int64_t MOST_FRAMES_PER_BYTE = 64;
    if (record.stated_frames <= 0) {
        *reason = "its frame count is stated nowhere (no duration, no seek table)";
        return false;
    }
    if (record.stated_frames > (record.length + 1) * MOST_FRAMES_PER_BYTE) {
        *reason = "it states " + std::to_string(record.stated_frames) + " frames, more than its " +
                  std::to_string(record.length) + " bytes can hold";
        return false;
    }
    if (record.codec == CODEC_XMA) {
        format->packet_bytes = XMA_PACKET_BYTES;
        return true;
    }
    if (!xwma_packet_format(record.block_field, &format->packet_bytes, &format->bytes_per_second)) {
        *reason = "its block field " + std::to_string(record.block_field) + " names no xWMA packet size";
        return false;
    }
    return true;
}
