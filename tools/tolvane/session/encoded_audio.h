// FLAC and Ogg Vorbis output for `tolvane render`: 16-bit PCM in, a tagged
// file out, under the same rules as every file the tool writes (it appears
// whole under its name or not at all; output_file.h). The file carries the
// entry's name as its title and its loop as the Vorbis comments LOOPSTART
// and LOOPLENGTH, in frames, which game-music players read.
//
// The Linux build encodes through libsndfile (encoded_audio_sndfile.cpp);
// the Windows build has no encoder (encoded_audio_none.cpp) and every call
// says so.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "containers/output_file.h"
#include "containers/riff_wave_writer.h"

enum encoded_format { ENCODED_FLAC, ENCODED_OGG };

// True where this build can write FLAC and Ogg Vorbis.
bool encoded_audio_available();
// Why it cannot, in one line ("tolvane.exe writes WAVE and raw only"), or "".
const char* encoded_audio_unavailable_reason();

struct encoded_writer;

// Creates the file under a temporary name beside path (making path's folder
// when it is missing) for 16-bit PCM at rate Hz in channels (1 to 8). FLAC
// takes 1 to 655350 Hz and Ogg Vorbis 1 to 200000 Hz. Null with *error.
encoded_writer* encoded_open(const std::string& path, encoded_format format, uint32_t rate, uint32_t channels,
                             const sound_extras& tags, std::string* error);
// Encodes interleaved frames. After a failure every later call fails too,
// and the writer is left only to encoded_finish or encoded_discard.
bool encoded_write(encoded_writer* writer, const int16_t* pcm, size_t frames, std::string* error);
// Completes the file and gives it its name, replacing a file of that name,
// or, with keep_existing, only when no file has it. Frees the writer. False
// (and nothing left behind) on failure.
bool encoded_finish(encoded_writer* writer, bool keep_existing, std::string* error);
// Frees the writer and removes its temporary file; harmless with null.
void encoded_discard(encoded_writer* writer);

// The rewrite encoded_finish does to add the loop, apart so that it can be
// tested on damaged input: copies the FLAC or Ogg Vorbis file read from
// `from` (at its start) into `to`, with entries ("NAME=value") appended to
// its Vorbis comment header and everything else unchanged. False with
// *error, when the file is not laid out as the encoder writes it or cannot
// be read or written; `to` then holds part of it and is the caller's to
// discard.
bool encoded_copy_with_comments(FILE* from, encoded_format format, const std::vector<std::string>& entries,
                                output_file* to, std::string* error);
