// The output module behind `tolvane render` and `tolvane info`: takes every
// block the module writes at once and hands it to the file planned for the
// entry playing.

#include "tools/tolvane/render_output.h"

#include <errno.h>

#include <atomic>

#include "tools/tolvane/wave_writer.h"

namespace {

// Room reported to the module: far more than any block set it writes.
const int ROOM_BYTES = 1 << 20;
const size_t TITLE_CAPACITY = 2048;

// Where one target's sound goes once the module reaches it.
struct target_sink {
    const render_target* target = nullptr;
    bool opened = false;
    bool to_stdout = false;
    output_file raw;  // a raw file
    pcm_wave_writer wave;
    bool wave_file = false;
    uint64_t written = 0;
};

struct render_state {
    bool nothing = false;
    bool raw = false;
    In_Module* module = nullptr;
    std::vector<target_sink> sinks;
    // The target of each entry of the table (index 0: a single stream), -1
    // for none; and the last entry any target holds.
    std::vector<int32_t> target_of_entry;
    int32_t last_entry = -1;
    int32_t current_target = -1;

    bool failed = false;
    std::string failed_path;
    std::string failed_reason;
    bool keep_existing = false;

    int open_calls = 0;
    int first_sample_rate = 0;
    int first_channels = 0;
    int sample_rate = 0;
    int channels = 0;

    // The written-time clock: restarted by Open and Flush, advanced by Write.
    int clock_start_ms = 0;
    uint64_t bytes_since_clock_start = 0;
    std::atomic<int> written_ms{0};
    std::atomic<bool> released{false};
    std::atomic<bool> past_targets{false};
    std::atomic<int> flushes{0};
    // Counts the module's calls, for the host thread's stall watch. A plain
    // load and store, not a locked increment: this runs several times per
    // block set, and a count lost between two threads only delays the watch.
    std::atomic<uint32_t> output_calls{0};
};

render_state state;

void note_call() {
    state.output_calls.store(state.output_calls.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

void record_failure(const std::string& path, const std::string& reason) {
    if (!state.failed) {
        state.failed_path = path;
        state.failed_reason = reason;
    }
    state.failed = true;
}

// The entry the module plays, from the counter it puts in the title: 0 for
// a single stream, whose title has none.
int32_t current_entry_index() {
    char title[TITLE_CAPACITY] = "";
    char playing_item[1] = "";
    state.module->GetFileInfo(playing_item, title, nullptr);
    int entry = 0;
    int count = 0;
    return parse_entry_counter(title, &entry, &count) ? entry - 1 : 0;
}

std::string sink_name(const target_sink& sink) {
    return sink.target->path == "-" ? "standard output" : sink.target->path;
}

// Creates the target's file (or starts its stream on standard output) at
// the first entry the module plays into it.
void open_sink(target_sink* sink, int sample_rate, int channels) {
    sink->opened = true;
    const render_target& target = *sink->target;
    if (target.path == "-") {
        sink->to_stdout = true;
        if (state.raw) return;
        // Streamed: the header states the size the plan expects.
        std::vector<uint8_t> header = pcm_wave_header((uint32_t)sample_rate, (uint32_t)channels, target.pcm_bytes);
        if (fwrite(header.data(), 1, header.size(), stdout) != header.size())
            record_failure(sink_name(*sink), system_reason(errno));
        return;
    }
    if (state.raw) {
        if (!output_create(&sink->raw, target.path)) record_failure(target.path, sink->raw.error);
        return;
    }
    sink->wave_file = pcm_wave_open(&sink->wave, target.path.c_str(), (uint32_t)sample_rate, (uint32_t)channels);
    if (!sink->wave_file) record_failure(target.path, sink->wave.out.error);
}

// Gives a complete sink its name, or removes what it wrote.
void close_sink(target_sink* sink, bool keep) {
    if (sink->to_stdout) {
        if (fflush(stdout) != 0) record_failure(sink_name(*sink), system_reason(errno));
        return;
    }
    if (sink->wave_file) {
        if (!keep) {
            pcm_wave_discard(&sink->wave);
        } else if (!pcm_wave_close(&sink->wave, state.keep_existing)) {
            record_failure(sink->target->path, sink->wave.out.error);
        }
    } else if (sink->raw.stream) {
        if (!keep) {
            output_discard(&sink->raw);
        } else if (!output_finish(&sink->raw, state.keep_existing)) {
            record_failure(sink->target->path, sink->raw.error);
        }
    }
    sink->wave_file = false;
}

void write_to_sink(target_sink* sink, const char* buffer, int byte_count) {
    bool written = false;
    if (sink->wave_file) {
        written = pcm_wave_write(&sink->wave, buffer, (uint32_t)byte_count);
        if (!written) record_failure(sink_name(*sink), sink->wave.out.error.empty() ? "the WAVE would pass 4 GiB"
                                                                                    : sink->wave.out.error);
    } else if (sink->to_stdout) {
        written = fwrite(buffer, 1, (size_t)byte_count, stdout) == (size_t)byte_count;
        if (!written) record_failure(sink_name(*sink), system_reason(errno));
    } else if (sink->raw.stream) {
        written = output_write(&sink->raw, buffer, (size_t)byte_count);
        if (!written) record_failure(sink_name(*sink), sink->raw.error);
    }
    sink->written += (uint64_t)byte_count;
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

void reset(In_Module* module) {
    state.module = module;
    state.nothing = false;
    state.raw = false;
    state.sinks.clear();
    state.target_of_entry.clear();
    state.last_entry = -1;
    state.current_target = -1;
    state.failed = false;
    state.failed_path.clear();
    state.failed_reason.clear();
    state.open_calls = 0;
    state.first_sample_rate = 0;
    state.first_channels = 0;
    state.released = false;
    state.past_targets = false;
    state.flushes = 0;
    restart_clock(0);
    note_call();
}

// ---- The Out_Module callbacks ------------------------------------------------

void HOST_CALL output_config(host_window) {}
void HOST_CALL output_about(host_window) {}
void HOST_CALL output_init() {}
void HOST_CALL output_quit() {}

// The module opens the output for every entry it plays (and again after a
// seek): the entry decides where what follows goes.
int HOST_CALL output_open(int sample_rate, int channels, int, int, int) {
    note_call();
    if (state.open_calls++ == 0) {
        state.first_sample_rate = sample_rate;
        state.first_channels = channels;
    }
    state.sample_rate = sample_rate;
    state.channels = channels;
    restart_clock(0);
    if (state.nothing) return 0;
    int32_t entry = current_entry_index();
    bool known = entry >= 0 && entry < (int32_t)state.target_of_entry.size();
    state.current_target = known ? state.target_of_entry[(size_t)entry] : -1;
    if (entry > state.last_entry) state.past_targets = true;
    if (state.current_target >= 0) {
        target_sink& sink = state.sinks[(size_t)state.current_target];
        if (!sink.opened) open_sink(&sink, sample_rate, channels);
    }
    // Nothing is held back, so there is no latency to report.
    return 0;
}

// The sinks outlive the module's Close: a bank opens the output again for
// each entry without closing it, and render_output_end closes them.
void HOST_CALL output_close() {
    note_call();
}

int HOST_CALL output_write(char* buffer, int byte_count) {
    note_call();
    if (byte_count <= 0) return 0;
    if (state.current_target >= 0) write_to_sink(&state.sinks[(size_t)state.current_target], buffer, byte_count);
    advance_clock(byte_count);
    return 0;
}

int HOST_CALL output_can_write() {
    note_call();
    bool holding = state.nothing || !state.released.load() || state.past_targets.load();
    return holding ? 0 : ROOM_BYTES;
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
    state.flushes.store(state.flushes.load() + 1);
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

void render_output_begin(const std::vector<render_target>* targets, bool raw, bool keep_existing, In_Module* module) {
    reset(module);
    state.raw = raw;
    state.keep_existing = keep_existing;
    for (size_t t = 0; t < targets->size(); ++t) {
        target_sink sink;
        sink.target = &(*targets)[t];
        state.sinks.push_back(sink);
        for (const sound_unit& unit : (*targets)[t].units) {
            if ((size_t)unit.index >= state.target_of_entry.size()) state.target_of_entry.resize((size_t)unit.index + 1, -1);
            state.target_of_entry[(size_t)unit.index] = (int32_t)t;
            if (unit.index > state.last_entry) state.last_entry = unit.index;
        }
    }
}

void render_output_begin_nothing(In_Module* module) {
    reset(module);
    state.nothing = true;
}

void render_output_release() {
    state.released = true;
}

int render_output_flushes() {
    return state.flushes.load();
}

bool render_output_past_targets() {
    return state.past_targets.load();
}

bool render_output_end(bool keep) {
    // Once one output has failed, none of this file's is kept.
    for (target_sink& sink : state.sinks) close_sink(&sink, keep && !state.failed);
    return !state.failed;
}

const std::string& render_output_failed_path() {
    return state.failed_path;
}

bool render_output_has_failed() {
    return state.failed;
}

const std::string& render_output_failed_reason() {
    return state.failed_reason;
}

std::vector<uint64_t> render_output_written() {
    std::vector<uint64_t> written;
    for (const target_sink& sink : state.sinks) written.push_back(sink.written);
    return written;
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
