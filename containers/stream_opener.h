// The one road from Play into the containers: resets the stream fields of
// player_state, picks a reader by extension or by the file's first bytes, and
// hands back the file that playback is to read with the length of its sound.
#pragma once

#include <stdint.h>

#include "platform/platform.h"

const uint32_t DEFAULT_SAMPLE_RATE = 44100;
const uint16_t DEFAULT_CHANNELS = 2;

// path is the caller's writable path buffer (the stream-pair branches rewrite
// its extension in place); file is the file opened from it, at offset 0.
// Stores the length of the sound data in *length, negative to refuse the
// file, and returns the file to play, positioned at the first byte of sound.
file_handle open_stream(char* path, file_handle file, int32_t* length);
