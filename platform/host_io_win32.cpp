// Win32 host input and output: waveOut for the sound card, the console API
// for keys. waveOut plays a ring of a few short buffers; the console's input
// mode is switched to unbuffered key events while tolvane plays.

#include "platform/host_io.h"

#include <windows.h>
#include <mmsystem.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

// ---- Sound card ---------------------------------------------------------------

namespace {

// Four buffers of 25 ms: about 100 ms queued in the device.
const int BUFFER_COUNT = 4;
const uint32_t BUFFER_MS = 25;
const DWORD WRITE_WAIT_SLICE_MS = 100;
const DWORD WRITE_STALL_LIMIT_MS = 2000;

}  // namespace

struct audio_device {
    HWAVEOUT wave = nullptr;
    HANDLE buffer_done = nullptr;
    uint32_t frame_bytes = 0;
    uint32_t buffer_frames = 0;
    WAVEHDR headers[BUFFER_COUNT];
    char* memory = nullptr;
    // Frames handed to waveOut since it was opened or last reset, cut to 32
    // bits like the position it reports.
    uint32_t frames_written = 0;
};

// "default" is the wave mapper; a number is a device index; any other name
// is matched against the start of the devices' names.
static bool find_device_id(const char* name, UINT* id) {
    if (strcmp(name, "default") == 0) {
        *id = WAVE_MAPPER;
        return true;
    }
    char* end = nullptr;
    unsigned long number = strtoul(name, &end, 10);
    UINT count = waveOutGetNumDevs();
    if (end != name && *end == '\0') {
        *id = (UINT)number;
        return number < count;
    }
    for (UINT i = 0; i < count; ++i) {
        WAVEOUTCAPSA caps;
        if (waveOutGetDevCapsA(i, &caps, sizeof caps) != MMSYSERR_NOERROR) continue;
        if (_strnicmp(caps.szPname, name, strlen(name)) == 0) {
            *id = i;
            return true;
        }
    }
    return false;
}

static void close_wave(audio_device* device) {
    if (device->wave) {
        waveOutReset(device->wave);
        for (WAVEHDR& header : device->headers) {
            if (header.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(device->wave, &header, sizeof header);
        }
        waveOutClose(device->wave);
    }
    if (device->buffer_done) CloseHandle(device->buffer_done);
    delete[] device->memory;
    delete device;
}

audio_device* audio_open(const char* name, uint32_t sample_rate, uint32_t channels, char* error,
                         size_t error_capacity) {
    UINT id = 0;
    if (!find_device_id(name, &id)) {
        if (error && error_capacity > 0) snprintf(error, error_capacity, "no audio device named \"%s\"", name);
        return nullptr;
    }
    audio_device* device = new (std::nothrow) audio_device;
    if (!device) return nullptr;
    memset(device->headers, 0, sizeof device->headers);
    device->frame_bytes = 2 * channels;
    device->buffer_frames = sample_rate * BUFFER_MS / 1000 + 1;
    device->memory = new (std::nothrow) char[(size_t)BUFFER_COUNT * device->buffer_frames * device->frame_bytes];
    device->buffer_done = CreateEventA(NULL, FALSE, FALSE, NULL);

    WAVEFORMATEX format;
    memset(&format, 0, sizeof format);
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = (WORD)channels;
    format.nSamplesPerSec = sample_rate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = (WORD)(2 * channels);
    format.nAvgBytesPerSec = sample_rate * format.nBlockAlign;
    MMRESULT result = MMSYSERR_NOMEM;
    if (device->memory && device->buffer_done) {
        result = waveOutOpen(&device->wave, id, &format, (DWORD_PTR)device->buffer_done, 0, CALLBACK_EVENT);
    }
    if (result != MMSYSERR_NOERROR) {
        device->wave = nullptr;
        char text[MAXERRORLENGTH] = "";
        waveOutGetErrorTextA(result, text, sizeof text);
        // The system's sentences end in a full stop; ours go on after them.
        size_t length = strlen(text);
        while (length > 0 && strchr(". \r\n", text[length - 1])) text[--length] = '\0';
        if (error && error_capacity > 0) snprintf(error, error_capacity, "cannot open \"%s\": %s", name, text);
        close_wave(device);
        return nullptr;
    }
    for (int i = 0; i < BUFFER_COUNT; ++i) {
        device->headers[i].lpData = device->memory + (size_t)i * device->buffer_frames * device->frame_bytes;
    }
    return device;
}

void audio_close(audio_device* device) {
    if (device) close_wave(device);
}

// A header that waveOut is not playing, made ready for new data; null when
// all of them are queued.
static WAVEHDR* free_header(audio_device* device) {
    for (WAVEHDR& header : device->headers) {
        bool queued = (header.dwFlags & WHDR_PREPARED) && !(header.dwFlags & WHDR_DONE);
        if (queued) continue;
        if (header.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(device->wave, &header, sizeof header);
        return &header;
    }
    return nullptr;
}

bool audio_write(audio_device* device, const int16_t* pcm, uint32_t frames) {
    DWORD waited_ms = 0;
    while (frames > 0) {
        WAVEHDR* header = free_header(device);
        if (!header) {
            if (waited_ms >= WRITE_STALL_LIMIT_MS) return false;
            WaitForSingleObject(device->buffer_done, WRITE_WAIT_SLICE_MS);
            waited_ms += WRITE_WAIT_SLICE_MS;
            continue;
        }
        waited_ms = 0;
        uint32_t count = frames < device->buffer_frames ? frames : device->buffer_frames;
        char* data = header->lpData;
        memset(header, 0, sizeof *header);
        header->lpData = data;
        header->dwBufferLength = count * device->frame_bytes;
        memcpy(data, pcm, header->dwBufferLength);
        if (waveOutPrepareHeader(device->wave, header, sizeof *header) != MMSYSERR_NOERROR) return false;
        if (waveOutWrite(device->wave, header, sizeof *header) != MMSYSERR_NOERROR) return false;
        device->frames_written += count;
        pcm += (size_t)count * device->frame_bytes / 2;
        frames -= count;
    }
    return true;
}

// Frames in the buffers waveOut has not finished, for when it cannot tell
// its position.
static uint32_t frames_in_queued_buffers(audio_device* device) {
    uint32_t frames = 0;
    for (const WAVEHDR& header : device->headers) {
        if ((header.dwFlags & WHDR_PREPARED) && !(header.dwFlags & WHDR_DONE))
            frames += header.dwBufferLength / device->frame_bytes;
    }
    return frames;
}

uint32_t audio_delay_frames(audio_device* device) {
    uint32_t queued = frames_in_queued_buffers(device);
    if (queued == 0) return 0;
    MMTIME position;
    memset(&position, 0, sizeof position);
    position.wType = TIME_SAMPLES;
    if (waveOutGetPosition(device->wave, &position, sizeof position) != MMSYSERR_NOERROR) return queued;
    uint32_t played = 0;
    if (position.wType == TIME_SAMPLES) {
        played = position.u.sample;
    } else if (position.wType == TIME_BYTES) {
        played = position.u.cb / device->frame_bytes;
    } else {
        return queued;
    }
    uint32_t delay = device->frames_written - played;
    return delay < queued ? delay : queued;
}

void audio_pause(audio_device* device, bool paused) {
    if (paused) {
        waveOutPause(device->wave);
    } else {
        waveOutRestart(device->wave);
    }
}

void audio_drop(audio_device* device) {
    // Reset marks every buffer done and sets the position back to 0.
    waveOutReset(device->wave);
    device->frames_written = 0;
}

// ---- Terminal -------------------------------------------------------------------

namespace {

struct console_state {
    bool raw = false;
    DWORD saved_mode = 0;
    volatile LONG interrupted = 0;
};

console_state console;

HANDLE console_input() {
    return GetStdHandle(STD_INPUT_HANDLE);
}

void restore_console() {
    if (console.raw) SetConsoleMode(console_input(), console.saved_mode);
    console.raw = false;
}

void restore_at_exit() {
    restore_console();
}

// Runs on a thread of the system's: only marks the request. The console
// closing ends the process once this returns, so its mode is restored here.
BOOL WINAPI on_console_control(DWORD event) {
    InterlockedExchange(&console.interrupted, 1);
    if (event == CTRL_CLOSE_EVENT && console.raw) SetConsoleMode(console_input(), console.saved_mode);
    return TRUE;
}

terminal_key key_of(const KEY_EVENT_RECORD& event) {
    if (!event.bKeyDown) return KEY_NONE;
    switch (event.wVirtualKeyCode) {
    case VK_SPACE:
        return KEY_SPACE;
    case VK_LEFT:
        return KEY_LEFT;
    case VK_RIGHT:
        return KEY_RIGHT;
    case 'N':
        return KEY_NEXT;
    case 'Q':
        return KEY_QUIT;
    default:
        return KEY_NONE;
    }
}

bool interrupted() {
    return InterlockedCompareExchange(&console.interrupted, 0, 0) != 0;
}

}  // namespace

void stdout_binary() {
    _setmode(_fileno(stdout), _O_BINARY);
}

bool terminal_stdout_is_tty() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool terminal_raw_on() {
    if (console.raw) return true;
    if (!GetConsoleMode(console_input(), &console.saved_mode)) return false;
    // Key events one by one, unechoed; processed input stays on, so Ctrl-C
    // reaches the control handler.
    DWORD mode = (console.saved_mode & ~(DWORD)(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT)) | ENABLE_PROCESSED_INPUT;
    if (!SetConsoleMode(console_input(), mode)) return false;
    console.raw = true;
    static bool exit_hook_installed = false;
    if (!exit_hook_installed) atexit(restore_at_exit);
    exit_hook_installed = true;
    return true;
}

void terminal_raw_off() {
    restore_console();
}

void terminal_catch_interrupts() {
    SetConsoleCtrlHandler(on_console_control, TRUE);
}

// The console's Ctrl-C handler runs on a thread of its own while the program
// cleans up in order, so Windows needs no record for a second interrupt.
int temp_file_register(const char*) {
    return -1;
}

void temp_file_forget(int) {}

bool interrupt_requested() {
    return interrupted();
}

// Windows has no file-size limit signal.
void writes_past_size_limit_fail() {}

terminal_key terminal_read_key(uint32_t timeout_ms) {
    if (interrupted()) return KEY_INTERRUPT;
    if (!console.raw) {
        if (timeout_ms > 0) Sleep(timeout_ms);
        return interrupted() ? KEY_INTERRUPT : KEY_NONE;
    }
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        DWORD wait = elapsed >= timeout_ms ? 0 : timeout_ms - elapsed;
        if (WaitForSingleObject(console_input(), wait) != WAIT_OBJECT_0) break;
        INPUT_RECORD record;
        DWORD count = 0;
        if (!ReadConsoleInputA(console_input(), &record, 1, &count) || count == 0) break;
        if (record.EventType != KEY_EVENT) continue;
        terminal_key key = key_of(record.Event.KeyEvent);
        if (key != KEY_NONE) return key;
    }
    return interrupted() ? KEY_INTERRUPT : KEY_NONE;
}

int terminal_width() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 80;
    int width = info.srWindow.Right - info.srWindow.Left + 1;
    return width > 0 ? width : 80;
}
