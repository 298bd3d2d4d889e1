// POSIX host input and output: ALSA for the sound card, termios for keys.
// ALSA's own error messages are silenced: a machine without a sound card
// gets one line from tolvane, not a page from the library.

#include "platform/host_io.h"

#include <alsa/asoundlib.h>
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <new>

// ---- Sound card ---------------------------------------------------------------

namespace {

// About 100 ms queued in the device: enough to ride out scheduling hiccups,
// small enough that pausing and seeking feel immediate.
const unsigned DEVICE_LATENCY_US = 100000;
// A write that makes no progress for this long means the device is gone.
const int WRITE_STALL_LIMIT_MS = 2000;
const int WRITE_WAIT_SLICE_MS = 100;

void silent_alsa_error(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

struct audio_device {
    snd_pcm_t* pcm = nullptr;
    uint32_t channels = 0;
    bool can_pause = false;
};

static void write_error(char* error, size_t capacity, const char* name, int code) {
    if (error && capacity > 0) snprintf(error, capacity, "cannot open \"%s\": %s", name, snd_strerror(code));
}

static bool hardware_can_pause(snd_pcm_t* pcm) {
    snd_pcm_hw_params_t* params = nullptr;
    if (snd_pcm_hw_params_malloc(&params) < 0) return false;
    bool can = snd_pcm_hw_params_current(pcm, params) == 0 && snd_pcm_hw_params_can_pause(params) == 1;
    snd_pcm_hw_params_free(params);
    return can;
}

audio_device* audio_open(const char* name, uint32_t sample_rate, uint32_t channels, char* error,
                         size_t error_capacity) {
    snd_lib_error_set_handler(silent_alsa_error);
    snd_pcm_t* pcm = nullptr;
    // Non-blocking, so that a device that stops taking sound cannot hold the
    // writer forever; audio_write does the waiting itself.
    int code = snd_pcm_open(&pcm, name, SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (code < 0) {
        write_error(error, error_capacity, name, code);
        return nullptr;
    }
    code = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, channels, sample_rate, 1,
                              DEVICE_LATENCY_US);
    audio_device* device = code < 0 ? nullptr : new (std::nothrow) audio_device;
    if (!device) {
        write_error(error, error_capacity, name, code < 0 ? code : -ENOMEM);
        snd_pcm_close(pcm);
        return nullptr;
    }
    device->pcm = pcm;
    device->channels = channels;
    device->can_pause = hardware_can_pause(pcm);
    return device;
}

void audio_close(audio_device* device) {
    if (!device) return;
    snd_pcm_drop(device->pcm);
    snd_pcm_close(device->pcm);
    delete device;
}

bool audio_write(audio_device* device, const int16_t* pcm, uint32_t frames) {
    int waited_ms = 0;
    while (frames > 0) {
        snd_pcm_sframes_t written = snd_pcm_writei(device->pcm, pcm, frames);
        if (written == -EAGAIN || written == 0) {
            if (waited_ms >= WRITE_STALL_LIMIT_MS) return false;
            snd_pcm_wait(device->pcm, WRITE_WAIT_SLICE_MS);
            waited_ms += WRITE_WAIT_SLICE_MS;
            continue;
        }
        // An underrun (or a suspend) is recovered and the write tried again.
        if (written < 0) {
            if (snd_pcm_recover(device->pcm, (int)written, 1) < 0) return false;
            continue;
        }
        waited_ms = 0;
        pcm += (size_t)written * device->channels;
        frames -= (uint32_t)written;
    }
    return true;
}

uint32_t audio_delay_frames(audio_device* device) {
    snd_pcm_state_t state = snd_pcm_state(device->pcm);
    snd_pcm_sframes_t delay = 0;
    if (state != SND_PCM_STATE_RUNNING && state != SND_PCM_STATE_PREPARED && state != SND_PCM_STATE_PAUSED) return 0;
    if (snd_pcm_delay(device->pcm, &delay) < 0 || delay <= 0) return 0;
    // The device starts by itself only once its buffer is full; a sound
    // shorter than that (or its last frames) must be started by hand.
    if (state == SND_PCM_STATE_PREPARED) snd_pcm_start(device->pcm);
    return (uint32_t)delay;
}

void audio_pause(audio_device* device, bool paused) {
    snd_pcm_state_t state = snd_pcm_state(device->pcm);
    // A device that cannot pause plays out its short queue and then waits;
    // the next write recovers it.
    if (!device->can_pause) return;
    if (paused && state == SND_PCM_STATE_RUNNING) snd_pcm_pause(device->pcm, 1);
    if (!paused && state == SND_PCM_STATE_PAUSED) snd_pcm_pause(device->pcm, 0);
}

void audio_drop(audio_device* device) {
    snd_pcm_drop(device->pcm);
    snd_pcm_prepare(device->pcm);
}

// ---- Terminal -------------------------------------------------------------------

namespace {

struct terminal_state {
    bool raw = false;
    struct termios saved;
    // Set by the handler on whichever thread the signal lands on, read by
    // the main thread: a lock-free atomic, safe in both places.
    std::atomic<int> interrupted{0};
    // Interrupts seen: the count decides which one is the first, even when
    // two arrive at once on two threads.
    std::atomic<int> interrupts{0};
    // Bytes read but not yet turned into keys (an escape sequence may arrive
    // in pieces).
    unsigned char pending[16];
    size_t pending_count = 0;
};

terminal_state terminal;

void restore_terminal() {
    if (terminal.raw) tcsetattr(STDIN_FILENO, TCSANOW, &terminal.saved);
    terminal.raw = false;
}

// The temporary files registered, as fixed buffers a signal handler can read.
const int TEMP_SLOTS = 64;
const size_t TEMP_PATH_BYTES = 4096;
char temp_paths[TEMP_SLOTS][TEMP_PATH_BYTES];
// A slot's path is written before the slot is marked used (release), and a
// handler on any thread reads the mark before the path (acquire).
std::atomic<int> temp_used[TEMP_SLOTS];
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may only touch lock-free atomics");

// Runs in a signal handler: only async-signal-safe calls. The first
// interrupt is reported to the program, which cleans up and ends; a second
// one removes the temporary files itself and ends the program by the signal.
void on_interrupt(int signal_number) {
    if (terminal.raw) tcsetattr(STDIN_FILENO, TCSANOW, &terminal.saved);
    if (terminal.interrupts.fetch_add(1) == 0) {
        terminal.interrupted = 1;
        return;
    }
    terminal.interrupted = 1;
    for (int i = 0; i < TEMP_SLOTS; ++i)
        if (temp_used[i].load(std::memory_order_acquire)) unlink(temp_paths[i]);
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

void restore_at_exit() {
    restore_terminal();
}

void drop_pending(size_t count) {
    memmove(terminal.pending, terminal.pending + count, terminal.pending_count - count);
    terminal.pending_count -= count;
}

// Turns the first pending bytes into a key; KEY_NONE while an escape
// sequence is still incomplete. Bytes that mean nothing to us are skipped.
terminal_key take_pending_key() {
    while (terminal.pending_count > 0) {
        unsigned char first = terminal.pending[0];
        if (first != 0x1b) {
            drop_pending(1);
            if (first == ' ') return KEY_SPACE;
            if (first == 'n' || first == 'N') return KEY_NEXT;
            if (first == 'q' || first == 'Q') return KEY_QUIT;
            if (first == 3) return KEY_INTERRUPT;
            continue;
        }
        // Arrows come as ESC [ C/D, or ESC O C/D in application mode.
        if (terminal.pending_count < 3) return KEY_NONE;
        unsigned char kind = terminal.pending[1];
        unsigned char final_byte = terminal.pending[2];
        if (kind != '[' && kind != 'O') {
            drop_pending(1);
            continue;
        }
        drop_pending(3);
        if (final_byte == 'C') return KEY_RIGHT;
        if (final_byte == 'D') return KEY_LEFT;
    }
    return KEY_NONE;
}

bool read_more(uint32_t timeout_ms) {
    struct pollfd input = {STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, (int)timeout_ms) <= 0) return false;
    size_t room = sizeof terminal.pending - terminal.pending_count;
    ssize_t got = read(STDIN_FILENO, terminal.pending + terminal.pending_count, room);
    if (got <= 0) return false;
    terminal.pending_count += (size_t)got;
    return true;
}

}  // namespace

void stdout_binary() {}

bool terminal_stdout_is_tty() {
    return isatty(STDOUT_FILENO) == 1;
}

bool terminal_raw_on() {
    if (terminal.raw) return true;
    if (isatty(STDIN_FILENO) != 1 || tcgetattr(STDIN_FILENO, &terminal.saved) != 0) return false;
    struct termios raw = terminal.saved;
    // Keys arrive one by one and unechoed; ISIG stays on, so Ctrl-C still
    // raises SIGINT, which terminal_catch_interrupts turns into a key.
    raw.c_lflag &= (tcflag_t) ~(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return false;
    terminal.raw = true;
    static bool exit_hook_installed = false;
    if (!exit_hook_installed) atexit(restore_at_exit);
    exit_hook_installed = true;
    return true;
}

void terminal_raw_off() {
    restore_terminal();
}

void terminal_catch_interrupts() {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    // Each signal blocks the other while its handler runs, so two arriving
    // together are handled one after the other.
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int temp_file_register(const char* path) {
    size_t length = strlen(path);
    if (length >= TEMP_PATH_BYTES) return -1;
    for (int i = 0; i < TEMP_SLOTS; ++i) {
        if (temp_used[i].load(std::memory_order_relaxed)) continue;
        memcpy(temp_paths[i], path, length + 1);
        temp_used[i].store(1, std::memory_order_release);
        return i;
    }
    return -1;
}

void temp_file_forget(int slot) {
    if (slot >= 0 && slot < TEMP_SLOTS) temp_used[slot].store(0, std::memory_order_release);
}

bool interrupt_requested() {
    return terminal.interrupted != 0;
}

void writes_past_size_limit_fail() {
    signal(SIGXFSZ, SIG_IGN);
}

terminal_key terminal_read_key(uint32_t timeout_ms) {
    if (terminal.interrupted) return KEY_INTERRUPT;
    if (!terminal.raw) {
        // Nothing to read; still wait, so callers can pace a loop on this.
        if (timeout_ms > 0) poll(nullptr, 0, (int)timeout_ms);
        return terminal.interrupted ? KEY_INTERRUPT : KEY_NONE;
    }
    terminal_key key = take_pending_key();
    if (key != KEY_NONE) return key;
    if (!read_more(timeout_ms)) return terminal.interrupted ? KEY_INTERRUPT : KEY_NONE;
    // The rest of an escape sequence follows its first byte at once.
    if (terminal.pending_count > 0 && terminal.pending[0] == 0x1b && terminal.pending_count < 3) read_more(20);
    key = take_pending_key();
    // A lone ESC (or a sequence cut short) is thrown away.
    if (key == KEY_NONE && terminal.pending_count > 0 && terminal.pending[0] == 0x1b) terminal.pending_count = 0;
    return terminal.interrupted ? KEY_INTERRUPT : key;
}

int terminal_width() {
    struct winsize size;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
    return size.ws_col;
}
