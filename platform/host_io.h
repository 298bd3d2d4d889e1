// Host input and output: the sound card and the terminal, for the tolvane
// command only (the plug-in never links this). host_io_posix.cpp speaks to
// ALSA and termios, host_io_win32.cpp to waveOut and the console API; the
// build compiles exactly one of them.
#pragma once

#include <stddef.h>
#include <stdint.h>

// ---- Sound card ---------------------------------------------------------------
// A device plays interleaved 16-bit PCM at one rate and channel count.
struct audio_device;

// Opens the named device ("default" for the system's own choice). On failure
// returns null and writes a one-line reason into error; the audio library
// prints nothing to the terminal either way.
audio_device* audio_open(const char* name, uint32_t sample_rate, uint32_t channels, char* error, size_t error_capacity);
// Drops whatever is still queued and releases the device.
void audio_close(audio_device* device);
// Hands frames to the device, waiting while it is full. False when the device
// has stopped taking sound.
bool audio_write(audio_device* device, const int16_t* pcm, uint32_t frames);
// Frames handed over that the device has not played yet.
uint32_t audio_delay_frames(audio_device* device);
// Holds the device where it is, or lets it go on.
void audio_pause(audio_device* device, bool paused);
// Throws away every queued frame; the device is ready for new ones.
void audio_drop(audio_device* device);

// ---- Terminal -------------------------------------------------------------------

enum terminal_key {
    KEY_NONE,
    KEY_SPACE,
    KEY_LEFT,
    KEY_RIGHT,
    KEY_NEXT,       // n
    KEY_QUIT,       // q
    KEY_INTERRUPT,  // Ctrl-C, or SIGINT/SIGTERM
};

bool terminal_stdout_is_tty();
// Standard output takes bytes as they are (no newline translation on
// Windows), for sound written to a pipe.
void stdout_binary();
// Reads keys one at a time without echo. False (and nothing changed) when
// standard input is not a terminal. The previous mode comes back with
// terminal_raw_off, at exit, and when an interrupt arrives.
bool terminal_raw_on();
void terminal_raw_off();
// From now on Ctrl-C and termination requests are reported as KEY_INTERRUPT
// instead of ending the program, so that it can stop playing and clean up.
void terminal_catch_interrupts();
// True once a caught interrupt has arrived: for loops that read no keys.
bool interrupt_requested();
// Temporary files the program is writing, kept where an interrupt can find
// them: a second interrupt (or one to the whole process group, which arrives
// twice) removes every file registered, then ends the program by the signal
// at once. Registering returns a slot for forgetting it, or -1 when the
// record is full (the file then stays the caller's alone to remove).
int temp_file_register(const char* path);
void temp_file_forget(int slot);
// A write past the process's file-size limit fails with an error (EFBIG)
// instead of ending the program, so the program can clean up and say why.
void writes_past_size_limit_fail();
// The next key, waiting up to timeout_ms; KEY_NONE when none came (or keys
// are not being read). A caught interrupt is reported before any key.
terminal_key terminal_read_key(uint32_t timeout_ms);
// Columns of the terminal on standard output; 80 when it cannot be told.
int terminal_width();
