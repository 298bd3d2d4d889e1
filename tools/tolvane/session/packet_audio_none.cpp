// The Windows build decodes no xWMA, WMA Pro or XMA: FFmpeg's libavcodec is
// not part of it.

#include "tools/tolvane/session/packet_audio.h"

bool packet_audio_available() {
    return false;
}

const char* packet_audio_unavailable_reason() {
    return "tolvane.exe does not decode xWMA, WMA Pro or XMA (the Linux tolvane does, through libavcodec)";
}

bool decode_packets(const packet_format&, const uint8_t*, size_t, int64_t, frames_receiver, void*, int64_t*, int64_t*,
                    std::string* reason) {
    *reason = packet_audio_unavailable_reason();
    return false;
}
