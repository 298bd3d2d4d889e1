// The sound devices the live output can play through, behind one table of
// functions: the system's sound card (ALSA or waveOut), the null device of
// our own that discards the sound at the pace a card would play it, and, in
// the tests, fakes whose clock the test controls. Only the live output's
// device thread calls a device once it is open.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct sound_device {
    // Opens the named device for interleaved 16-bit PCM; null with a
    // one-line reason in error when it cannot.
    void* (*open)(const char* name, uint32_t sample_rate, uint32_t channels, char* error, size_t error_capacity);
    void (*close)(void* handle);
    // Waits while the device is full; false when it stopped taking sound.
    bool (*write)(void* handle, const int16_t* pcm, uint32_t frames);
    // Frames handed over and not yet played.
    uint32_t (*delay_frames)(void* handle);
    void (*pause)(void* handle, bool paused);
    // Throws away what is queued.
    void (*drop)(void* handle);
};

// The name that picks the null device.
const char NULL_DEVICE_NAME[] = "null";

// The null device for NULL_DEVICE_NAME, the system's for any other name.
const sound_device* sound_device_named(const char* name);

// Opens and closes the device once, to learn whether playing can work.
// False with the reason in error when it cannot be opened.
bool sound_device_probe(const sound_device* device, const char* name, char* error, size_t error_capacity);
