// The system's sound card through the host I/O layer, and the null device:
// a card of our own that takes frames at the sample rate, measured on the
// monotonic clock, and throws them away. ALSA's "null" device takes them all
// at once and keeps no time, so with it nothing would pace playback.

#include "tools/tolvane/live/sound_device.h"

#include <string.h>

#include <new>

#include "platform/host_io.h"
#include "platform/platform.h"

namespace {

// ---- The system's sound card ------------------------------------------------

void* system_open(const char* name, uint32_t sample_rate, uint32_t channels, char* error, size_t error_capacity) {
    return audio_open(name, sample_rate, channels, error, error_capacity);
}

void system_close(void* handle) {
    audio_close((audio_device*)handle);
}

bool system_write(void* handle, const int16_t* pcm, uint32_t frames) {
    return audio_write((audio_device*)handle, pcm, frames);
}

uint32_t system_delay_frames(void* handle) {
    return audio_delay_frames((audio_device*)handle);
}

void system_pause(void* handle, bool paused) {
    audio_pause((audio_device*)handle, paused);
}

void system_drop(void* handle) {
    audio_drop((audio_device*)handle);
}

const sound_device SYSTEM_DEVICE = {system_open,         system_close, system_write,
                                    system_delay_frames, system_pause, system_drop};

// ---- The null device -----------------------------------------------------------

// As much queued as a sound card would hold, about 100 ms.
const uint32_t NULL_DEVICE_QUEUE_MS = 100;
const uint32_t NULL_DEVICE_WAIT_MS = 2;

struct null_device {
    uint32_t sample_rate = 0;
    uint32_t capacity_frames = 0;
    uint32_t queued_frames = 0;
    bool paused = false;
    uint64_t last_ms = 0;
    // Frame-thousandths not yet played, so that rates that are not a
    // multiple of 1000 keep exact time.
    uint64_t partial = 0;
};

// Plays what the time since the last look allows.
void null_play_elapsed(null_device* device) {
    uint64_t now = clock_ms();
    uint64_t elapsed_ms = now - device->last_ms;
    device->last_ms = now;
    if (device->paused || device->queued_frames == 0) {
        device->partial = 0;
        return;
    }
    uint64_t played = elapsed_ms * device->sample_rate + device->partial;
    device->partial = played % 1000;
    played /= 1000;
    if (played >= device->queued_frames) {
        device->queued_frames = 0;
        device->partial = 0;
    } else {
        device->queued_frames -= (uint32_t)played;
    }
}

void* null_open(const char*, uint32_t sample_rate, uint32_t, char*, size_t) {
    null_device* device = new (std::nothrow) null_device;
    if (!device) return nullptr;
    device->sample_rate = sample_rate;
    device->capacity_frames = sample_rate * NULL_DEVICE_QUEUE_MS / 1000 + 1;
    device->last_ms = clock_ms();
    return device;
}

void null_close(void* handle) {
    delete (null_device*)handle;
}

bool null_write(void* handle, const int16_t*, uint32_t frames) {
    null_device* device = (null_device*)handle;
    while (frames > 0) {
        null_play_elapsed(device);
        uint32_t room = device->capacity_frames - device->queued_frames;
        uint32_t taken = frames < room ? frames : room;
        device->queued_frames += taken;
        frames -= taken;
        if (frames > 0) sleep_ms(NULL_DEVICE_WAIT_MS);
    }
    return true;
}

uint32_t null_delay_frames(void* handle) {
    null_device* device = (null_device*)handle;
    null_play_elapsed(device);
    return device->queued_frames;
}

void null_pause(void* handle, bool paused) {
    null_device* device = (null_device*)handle;
    null_play_elapsed(device);
    device->paused = paused;
}

void null_drop(void* handle) {
    null_device* device = (null_device*)handle;
    device->queued_frames = 0;
    device->partial = 0;
}

const sound_device NULL_DEVICE = {null_open, null_close, null_write, null_delay_frames, null_pause, null_drop};

}  // namespace

const sound_device* sound_device_named(const char* name) {
    return strcmp(name, NULL_DEVICE_NAME) == 0 ? &NULL_DEVICE : &SYSTEM_DEVICE;
}

bool sound_device_probe(const sound_device* device, const char* name, char* error, size_t error_capacity) {
    void* handle = device->open(name, 44100, 2, error, error_capacity);
    if (!handle) return false;
    device->close(handle);
    return true;
}
