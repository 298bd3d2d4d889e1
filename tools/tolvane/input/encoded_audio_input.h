// Sound files read in for encoding (tolvane encode, pack and replace): any
// file this build reads, as 16-bit interleaved samples with the loop and the
// name it states. An Xbox ADPCM WAVE is not read here: the commands take its
// block sets as they are.
//
// The Linux build reads through libsndfile: WAVE of 8, 16, 24 and 32-bit
// integer and 32-bit float samples, FLAC, Ogg Vorbis, AIFF and the other
// formats libsndfile knows (encoded_audio_input_sndfile.cpp). The Windows
// build has no libsndfile and reads 16-bit PCM WAVE only
// (encoded_audio_input_none.cpp).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct input_sound {
    uint32_t rate = 0;
    uint32_t channels = 0;     // 1 to MAX_CHANNELS
    std::vector<int16_t> pcm;  // interleaved; float input clipped to 16 bits
    int64_t loop_start = -1;   // frames; -1 for no loop
    int64_t loop_end = -1;     // the first frame after the loop
    std::string name;          // its title, "" for none
    std::string kind;          // what the file is: "a 24-bit PCM WAVE", "a FLAC file"
};

// Reads the file whole. False with the reason, which says what the file is
// when this build cannot read it ("a 24-bit PCM WAVE: this Windows build
// reads 16-bit PCM WAVE only"), or the library's reason for a file it cannot
// make out.
bool read_input_sound(const std::string& path, input_sound* sound, std::string* reason);

// Reads a 16-bit PCM WAVE with the tool's own reader, as both builds do first
// (so such inputs give the same samples everywhere). False with why.
bool read_16bit_wave_input(const std::string& path, input_sound* sound, const char** why);

// A library's message in the form the tool's messages continue it:
// "Format not recognised." becomes "format not recognised".
std::string library_words(const char* message);

// The formats this build reads, for help and messages.
const char* input_sound_formats();

// What the file at path is, by its first bytes and, for a RIFF WAVE, its
// format chunk ("a 24-bit PCM WAVE", "a FLAC file"); "a file of
// no sound format tolvane knows" when nothing matches.
std::string describe_sound_file(const std::string& path);

// Mixes the sound to channels: mono is copied to every channel; to fewer
// channels, each output channel is the even mean of the input channels that
// fall to it (input channel c goes to c % channels, so stereo to mono is
// (L + R) / 2); to more, output channel m takes input channel m % channels.
void mix_input_sound(input_sound* sound, uint32_t channels);

// True where this build can resample (libsoxr; the Windows build cannot).
bool resampling_available();
// Resamples the sound to rate Hz with libsoxr's very high quality recipe,
// scaling its loop with it. False with the reason where this build cannot
// or the library fails; the sound is then unchanged.
bool resample_input_sound(input_sound* sound, uint32_t rate, std::string* reason);

// "mono", "stereo", "6 channels".
std::string channel_words(uint32_t channels);
