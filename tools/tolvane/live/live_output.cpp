// The real-time output module: a ring buffer filled by Write, a device
// thread that moves it to the sound device in short pieces, and clocks kept
// from what the device reports as played. Every device call happens on the
// device thread; the module's threads only change the shared state below
// (under one lock) and leave requests (drop, pause) for it to carry out.

#include "tools/tolvane/live/live_output.h"

#include <string.h>

#include <mutex>
#include <vector>

#include "platform/platform.h"
#include "tools/tolvane/session/null_output.h"

namespace {

const uint32_t IDLE_WAIT_MS = 5;
const size_t ERROR_CAPACITY = 256;

struct live_state {
    // Set before playing and by Open/Close, which the module calls from one
    // thread at a time; the device thread only reads them while it runs.
    const sound_device* device = nullptr;
    std::string device_name;
    void* handle = nullptr;
    platform_thread* feeder = nullptr;
    uint32_t chunk_frames = 0;
    uint32_t channels = 0;
    // Asked at each Open whether what follows is heard; what is not is
    // taken as fast as it comes and thrown away, with no device open.
    bool (*heard)(void* context) = nullptr;
    void* heard_context = nullptr;

    std::mutex lock;
    // Everything below is guarded by lock.
    std::string last_error;
    std::vector<uint8_t> ring;
    size_t ring_start = 0;
    size_t ring_fill = 0;
    uint32_t sample_rate = 0;
    uint32_t frame_bytes = 0;
    // The clocks: both start at clock_base_ms (0 at Open, the time given to
    // Flush) and count what was written and what the device has played since.
    int clock_base_ms = 0;
    uint64_t written_bytes = 0;
    uint64_t handed_frames = 0;
    uint32_t device_delay_frames = 0;
    // Frames the device thread has taken from the ring and is writing now.
    uint32_t in_flight_frames = 0;
    // Counts Flushes, so that a write begun before one is not counted after it.
    uint64_t generation = 0;
    bool paused = false;
    bool unheard = false;
    bool drop_requested = false;
    bool stopping = false;
};

live_state state;

// ---- The ring ------------------------------------------------------------------

size_t ring_room() {
    return state.ring.size() - state.ring_fill;
}

size_t copy_into_ring(const char* buffer, size_t byte_count) {
    size_t capacity = state.ring.size();
    size_t count = byte_count < ring_room() ? byte_count : ring_room();
    size_t at = (state.ring_start + state.ring_fill) % capacity;
    size_t first = count < capacity - at ? count : capacity - at;
    memcpy(state.ring.data() + at, buffer, first);
    memcpy(state.ring.data(), buffer + first, count - first);
    state.ring_fill += count;
    return count;
}

// Takes up to max_frames whole frames from the ring; returns how many.
uint32_t take_from_ring(int16_t* pcm, uint32_t max_frames) {
    uint32_t frames = (uint32_t)(state.ring_fill / state.frame_bytes);
    if (frames > max_frames) frames = max_frames;
    size_t count = (size_t)frames * state.frame_bytes;
    size_t capacity = state.ring.size();
    size_t first = count < capacity - state.ring_start ? count : capacity - state.ring_start;
    memcpy(pcm, state.ring.data() + state.ring_start, first);
    memcpy((uint8_t*)pcm + first, state.ring.data(), count - first);
    state.ring_start = (state.ring_start + count) % capacity;
    state.ring_fill -= count;
    return frames;
}

void restart_clocks(int time_ms) {
    state.clock_base_ms = time_ms;
    state.written_bytes = 0;
    state.handed_frames = 0;
    state.device_delay_frames = 0;
    state.ring_start = 0;
    state.ring_fill = 0;
    state.generation++;
}

// ---- The device thread ----------------------------------------------------------

struct feed_order {
    uint32_t frames = 0;
    uint64_t generation = 0;
    bool drop = false;
    bool paused = false;
    bool stop = false;
};

feed_order next_order(int16_t* chunk) {
    std::lock_guard<std::mutex> guard(state.lock);
    feed_order order;
    order.stop = state.stopping;
    order.drop = state.drop_requested;
    state.drop_requested = false;
    order.paused = state.paused;
    order.generation = state.generation;
    if (!order.paused && !order.stop) order.frames = take_from_ring(chunk, state.chunk_frames);
    state.in_flight_frames = order.frames;
    return order;
}

void account_for(const feed_order& order, uint32_t delay_frames) {
    std::lock_guard<std::mutex> guard(state.lock);
    // After a Flush the device still held old sound until the drop: neither
    // the frames nor the delay of that time belong to the new clock.
    if (order.generation == state.generation) {
        state.handed_frames += order.frames;
        state.device_delay_frames = delay_frames;
    }
    state.in_flight_frames = 0;
}

unsigned long PLATFORM_THREAD_CALL feed_device(void*) {
    const sound_device* device = state.device;
    void* handle = state.handle;
    const uint32_t sample_rate = state.sample_rate;
    std::vector<int16_t> chunk((size_t)state.chunk_frames * state.channels);
    bool device_paused = false;
    for (;;) {
        feed_order order = next_order(chunk.data());
        if (order.stop) return 0;
        if (order.drop) device->drop(handle);
        if (order.paused != device_paused) {
            device->pause(handle, order.paused);
            device_paused = order.paused;
        }
        // A device that stops taking sound is waited out as if it had played
        // the piece, so the clock runs on and the item still comes to its end.
        if (order.frames > 0 && !device->write(handle, chunk.data(), order.frames)) {
            sleep_ms((uint32_t)((uint64_t)order.frames * 1000 / sample_rate));
        }
        account_for(order, device->delay_frames(handle));
        if (order.frames == 0) sleep_ms(IDLE_WAIT_MS);
    }
}

void close_device() {
    if (state.feeder) {
        {
            std::lock_guard<std::mutex> guard(state.lock);
            state.stopping = true;
        }
        thread_join(state.feeder);
        state.feeder = nullptr;
    }
    if (state.handle) state.device->close(state.handle);
    state.handle = nullptr;
    std::lock_guard<std::mutex> guard(state.lock);
    state.stopping = false;
    state.drop_requested = false;
    state.ring.clear();
    restart_clocks(0);
}

void set_last_error(const std::string& text) {
    std::lock_guard<std::mutex> guard(state.lock);
    state.last_error = text;
}

// ---- The Out_Module callbacks ------------------------------------------------

// Before an Open replaces an open device, what it holds plays out, as the
// player's own output lets the previous sound finish when the format
// changes; a paused device is dropped instead. Bounded, so a device that
// stops taking sound cannot hold the module forever.
void play_out_unless_paused() {
    if (!state.feeder) return;
    uint64_t give_up_ms = clock_ms() + LIVE_BUFFER_MS + 1000;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(state.lock);
            bool holding = state.ring_fill > 0 || state.in_flight_frames > 0 || state.device_delay_frames > 0;
            if (state.paused || !holding) return;
        }
        if (clock_ms() >= give_up_ms) return;
        sleep_ms(IDLE_WAIT_MS);
    }
}

// The module opens the output again for each bank entry, with that entry's
// format and without closing it first: the device is reopened, and like the
// player's own output the new one plays, whether or not the old one was
// paused; the module pauses it again.
int HOST_CALL output_open(int sample_rate, int channels, int bits_per_sample, int, int) {
    play_out_unless_paused();
    close_device();
    {
        std::lock_guard<std::mutex> guard(state.lock);
        state.paused = false;
        state.unheard = false;
    }
    if (!state.device || bits_per_sample != 16 || sample_rate <= 0 || channels <= 0) {
        set_last_error("the output plays 16-bit sound only");
        return -1;
    }
    if (state.heard && !state.heard(state.heard_context)) {
        std::lock_guard<std::mutex> guard(state.lock);
        state.unheard = true;
        state.sample_rate = (uint32_t)sample_rate;
        state.frame_bytes = 2 * (uint32_t)channels;
        restart_clocks(0);
        return (int)LIVE_BUFFER_MS;
    }
    char error[ERROR_CAPACITY] = "";
    void* handle =
        state.device->open(state.device_name.c_str(), (uint32_t)sample_rate, (uint32_t)channels, error, sizeof error);
    if (!handle) {
        set_last_error(error[0] ? error : "cannot open the sound device");
        return -1;
    }
    state.handle = handle;
    state.channels = (uint32_t)channels;
    state.chunk_frames = (uint32_t)sample_rate * LIVE_CHUNK_MS / 1000 + 1;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        state.last_error.clear();
        state.sample_rate = (uint32_t)sample_rate;
        state.frame_bytes = 2 * (uint32_t)channels;
        state.ring.assign((size_t)sample_rate * LIVE_BUFFER_MS / 1000 * state.frame_bytes, 0);
        restart_clocks(0);
    }
    state.feeder = thread_start(feed_device, nullptr);
    if (!state.feeder) {
        close_device();
        set_last_error("cannot start the sound thread");
        return -1;
    }
    return (int)LIVE_BUFFER_MS;
}

void HOST_CALL output_close() {
    close_device();
    std::lock_guard<std::mutex> guard(state.lock);
    state.paused = false;
    state.unheard = false;
    state.last_error.clear();
}

// The module writes only after CanWrite promised room; anything beyond the
// room would be a module fault and is dropped rather than overwrite the ring.
int HOST_CALL output_write(char* buffer, int byte_count) {
    std::lock_guard<std::mutex> guard(state.lock);
    if (byte_count > 0 && state.unheard) {
        state.written_bytes += (uint64_t)byte_count;
        state.handed_frames += (uint64_t)byte_count / state.frame_bytes;
        return 0;
    }
    if (byte_count <= 0 || state.ring.empty()) return 0;
    state.written_bytes += copy_into_ring(buffer, (size_t)byte_count);
    return 0;
}

int HOST_CALL output_can_write() {
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.unheard) return (int)(state.sample_rate * state.frame_bytes);
    return (int)ring_room();
}

int HOST_CALL output_is_playing() {
    std::lock_guard<std::mutex> guard(state.lock);
    return state.ring_fill > 0 || state.in_flight_frames > 0 || state.device_delay_frames > 0;
}

// Returns the previous state, as the player's outputs do.
int HOST_CALL output_pause(int pause) {
    std::lock_guard<std::mutex> guard(state.lock);
    bool was_paused = state.paused;
    state.paused = pause != 0;
    return was_paused ? 1 : 0;
}

void HOST_CALL output_flush(int time_ms) {
    std::lock_guard<std::mutex> guard(state.lock);
    restart_clocks(time_ms);
    state.drop_requested = true;
}

int HOST_CALL output_get_output_time() {
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.sample_rate == 0) return state.clock_base_ms;
    uint64_t queued = state.device_delay_frames < state.handed_frames ? state.device_delay_frames : state.handed_frames;
    uint64_t played = state.handed_frames - queued;
    return state.clock_base_ms + (int)(played * 1000 / state.sample_rate);
}

int HOST_CALL output_get_written_time() {
    std::lock_guard<std::mutex> guard(state.lock);
    uint64_t bytes_per_second = (uint64_t)state.sample_rate * state.frame_bytes;
    if (bytes_per_second == 0) return state.clock_base_ms;
    return state.clock_base_ms + (int)(state.written_bytes * 1000 / bytes_per_second);
}

char OUTPUT_DESCRIPTION[] = "Tolvane live output";

// No dialogs and nothing to set up; volume and pan are the player's mixer's
// business, so the sound passes as it is.
Out_Module live_module = {
    0x10,
    OUTPUT_DESCRIPTION,
    1,
    nullptr,
    nullptr,
    null_output_config,
    null_output_about,
    null_output_init,
    null_output_quit,
    output_open,
    output_close,
    output_write,
    output_can_write,
    output_is_playing,
    output_pause,
    null_output_set_volume,
    null_output_set_pan,
    output_flush,
    output_get_output_time,
    output_get_written_time,
};

}  // namespace

void live_output_hear_only(bool (*heard)(void* context), void* context) {
    state.heard = heard;
    state.heard_context = context;
}

Out_Module* live_output_module() {
    return &live_module;
}

void live_output_use_device(const sound_device* device, const std::string& name) {
    state.device = device;
    state.device_name = name;
}

std::string live_output_last_error() {
    std::lock_guard<std::mutex> guard(state.lock);
    return state.last_error;
}
