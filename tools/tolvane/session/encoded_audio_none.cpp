// FLAC and Ogg Vorbis output where the build has no encoder (the Windows
// build, which ships without libsndfile): every call fails with the one
// reason, nothing is created, and the only writer this build sees is null.
#include "tools/tolvane/session/encoded_audio.h"

namespace {

const char* const UNAVAILABLE = "tolvane.exe writes WAVE and raw only";

bool unavailable(std::string* error) {
    if (error) *error = UNAVAILABLE;
    return false;
}

}  // namespace

bool encoded_audio_available() {
    return false;
}

const char* encoded_audio_unavailable_reason() {
    return UNAVAILABLE;
}

encoded_writer* encoded_open(const std::string&, encoded_format, uint32_t, uint32_t, const sound_extras&,
                             std::string* error) {
    unavailable(error);
    return nullptr;
}

bool encoded_write(encoded_writer*, const int16_t*, size_t, std::string* error) {
    return unavailable(error);
}

bool encoded_finish(encoded_writer*, bool, std::string* error) {
    return unavailable(error);
}

void encoded_discard(encoded_writer*) {}

bool encoded_copy_with_comments(FILE*, encoded_format, const std::vector<std::string>&, output_file*,
                                std::string* error) {
    return unavailable(error);
}
