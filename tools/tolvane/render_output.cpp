// The output module behind `tolvane render` and `tolvane info`: takes every
// block the module writes at once and hands it to the render's sink.

#include "tools/tolvane/render_output.h"

#include <atomic>

#include "tools/tolvane/wave_writer.h"

namespace {

// Room reported to the module: far more than any block set it writes.
const int ROOM_BYTES = 1 << 20;
const size_t TITLE_CAPACITY = 2048;

struct render_state {
    render_sink sink = RENDER_TO_NOTHING;
    In_Module* module = nullptr;
    std::string out_path;
    FILE* raw = nullptr;

    pcm_wave_writer wave;
    std::string wave_path;
    bool wave_open = false;
    // Entry number of the bank entry whose file is open, 0 for none.
    int entry_opened = 0;

    bool failed = false;
    std::string failed_path;

    int open_calls = 0;
    int first_sample_rate = 0;
    int first_channels = 0;
    int sample_rate = 0;
    int channels = 0;

    // The written-time clock: restarted by Open and Flush, advanced by Write.
    int clock_start_ms = 0;
    uint64_t bytes_since_clock_start = 0;
    std::atomic<int> written_ms{0};
    // Counts the module's calls, for the host thread's stall watch. A plain
    // load and store, not a locked increment: this runs several times per
    // block set, and a count lost between two threads only delays the watch.
    std::atomic<uint32_t> output_calls{0};
};

render_state state;

void note_call() {
    state.output_calls.store(state.output_calls.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

void record_failure(const std::string& path) {
    if (!state.failed) state.failed_path = path;
    state.failed = true;
}

// 0 for a single stream; n for entry n of a bank or stream pair. The module
// writes the counter only for an item with entries, and leaves the title
// alone for a single stream when no file name is given.
int current_entry_number() {
    char title[TITLE_CAPACITY] = "";
    char no_file[1] = "";
    state.module->GetFileInfo(no_file, title, nullptr);
    int entry = 0;
    int count = 0;
    return parse_entry_counter(title, &entry, &count) ? entry : 0;
}

void close_wave_file() {
    if (!state.wave_open) return;
    if (!pcm_wave_close(&state.wave)) record_failure(state.wave_path);
    state.wave_open = false;
}

bool open_wave_file(const std::string& path, int sample_rate, int channels) {
    if (!pcm_wave_open(&state.wave, path.c_str(), (uint32_t)sample_rate, (uint32_t)channels)) {
        record_failure(path);
        return false;
    }
    state.wave_path = path;
    state.wave_open = true;
    return true;
}

// A single stream keeps its one file for the whole render; each bank entry
// gets a file of its own when the module opens the output for it.
bool switch_wave_file(int sample_rate, int channels) {
    int entry = current_entry_number();
    if (entry == 0) return state.wave_open || open_wave_file(state.out_path, sample_rate, channels);
    if (entry == state.entry_opened && state.wave_open) return true;
    close_wave_file();
    state.entry_opened = entry;
    return open_wave_file(entry_wave_path(state.out_path, entry), sample_rate, channels);
}

// Created at the first Open, so that nothing is written for a file the
// module refuses.
bool open_raw_file() {
    if (state.raw) return true;
    state.raw = fopen(state.out_path.c_str(), "wb");
    if (!state.raw) record_failure(state.out_path);
    return state.raw != nullptr;
}

void restart_clock(int time_ms) {
    state.clock_start_ms = time_ms;
    state.bytes_since_clock_start = 0;
    state.written_ms.store(time_ms, std::memory_order_relaxed);
}

void advance_clock(int byte_count) {
    state.bytes_since_clock_start += (uint64_t)byte_count;
    uint64_t bytes_per_second = (uint64_t)state.sample_rate * (uint64_t)state.channels * 2;
    if (bytes_per_second == 0) return;
    uint64_t elapsed_ms = state.bytes_since_clock_start * 1000 / bytes_per_second;
    state.written_ms.store(state.clock_start_ms + (int)elapsed_ms, std::memory_order_relaxed);
}

void write_to_sink(const char* buffer, int byte_count) {
    if (state.sink == RENDER_TO_RAW && state.raw) {
        if (fwrite(buffer, 1, (size_t)byte_count, state.raw) != (size_t)byte_count) record_failure(state.out_path);
    } else if (state.sink == RENDER_TO_WAVE && state.wave_open) {
        if (!pcm_wave_write(&state.wave, buffer, (uint32_t)byte_count)) record_failure(state.wave_path);
    }
}

// ---- The Out_Module callbacks ------------------------------------------------

void HOST_CALL output_config(host_window) {}
void HOST_CALL output_about(host_window) {}
void HOST_CALL output_init() {}
void HOST_CALL output_quit() {}

int HOST_CALL output_open(int sample_rate, int channels, int, int, int) {
    note_call();
    if (state.open_calls++ == 0) {
        state.first_sample_rate = sample_rate;
        state.first_channels = channels;
    }
    state.sample_rate = sample_rate;
    state.channels = channels;
    restart_clock(0);
    if (state.sink == RENDER_TO_RAW && !open_raw_file()) return -1;
    if (state.sink == RENDER_TO_WAVE && !switch_wave_file(sample_rate, channels)) return -1;
    // Nothing is held back, so there is no latency to report.
    return 0;
}

// The sink's files outlive the module's Close: a bank opens the output again
// for each entry without closing it, and render_output_end closes them.
void HOST_CALL output_close() {
    note_call();
}

int HOST_CALL output_write(char* buffer, int byte_count) {
    note_call();
    if (byte_count <= 0) return 0;
    write_to_sink(buffer, byte_count);
    advance_clock(byte_count);
    return 0;
}

int HOST_CALL output_can_write() {
    note_call();
    return state.sink == RENDER_TO_NOTHING ? 0 : ROOM_BYTES;
}

int HOST_CALL output_is_playing() {
    note_call();
    return 0;
}

int HOST_CALL output_pause(int) {
    note_call();
    return 0;
}

void HOST_CALL output_set_volume(int) {}
void HOST_CALL output_set_pan(int) {}

void HOST_CALL output_flush(int time_ms) {
    note_call();
    restart_clock(time_ms);
}

// What has been written has been heard: the two clocks agree.
int HOST_CALL output_get_written_time() {
    return state.written_ms.load(std::memory_order_relaxed);
}

int HOST_CALL output_get_output_time() {
    return output_get_written_time();
}

char OUTPUT_DESCRIPTION[] = "Tolvane render output";

Out_Module render_module = {
    0x10,
    OUTPUT_DESCRIPTION,
    0,
    nullptr,
    nullptr,
    output_config,
    output_about,
    output_init,
    output_quit,
    output_open,
    output_close,
    output_write,
    output_can_write,
    output_is_playing,
    output_pause,
    output_set_volume,
    output_set_pan,
    output_flush,
    output_get_output_time,
    output_get_written_time,
};

}  // namespace

Out_Module* render_output_module() {
    return &render_module;
}

void render_output_begin(render_sink sink, const std::string& out_path, In_Module* module) {
    state.sink = sink;
    state.module = module;
    state.out_path = out_path;
    state.raw = nullptr;
    state.wave_open = false;
    state.entry_opened = 0;
    state.failed = false;
    state.failed_path.clear();
    state.open_calls = 0;
    state.first_sample_rate = 0;
    state.first_channels = 0;
    restart_clock(0);
    note_call();
}

bool render_output_end() {
    if (state.raw && fclose(state.raw) != 0) record_failure(state.out_path);
    state.raw = nullptr;
    close_wave_file();
    return !state.failed;
}

const std::string& render_output_failed_path() {
    return state.failed_path;
}

int render_output_first_sample_rate() {
    return state.first_sample_rate;
}

int render_output_first_channels() {
    return state.first_channels;
}

uint32_t render_output_calls() {
    return state.output_calls.load(std::memory_order_relaxed);
}
