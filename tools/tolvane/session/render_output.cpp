// The output module behind `tolvane render`: takes every block the module
// writes at once and hands it to the file planned for the entry playing,
// repeating a looped entry's loop and fading it out at the entry's end.

#include "tools/tolvane/session/render_output.h"

#include <errno.h>

#include "tools/tolvane/session/encoded_audio.h"
#include "tools/tolvane/session/null_output.h"
#include "containers/output_file.h"
#include "containers/riff_wave_writer.h"

// Where one target's sound goes once the module reaches it.
struct render_sink {
    const render_target* target = nullptr;
    bool opened = false;
    bool to_stdout = false;
    output_file raw;
    pcm_wave_writer wave;
    bool wave_file = false;
    encoded_writer* encoded = nullptr;
    sound_extras extras;  // a WAVE's loop and name
    uint64_t written = 0;
    int units = 0;        // the entries it holds
    int units_ended = 0;  // those the module has played through
    bool closed = false;
    bool kept = false;  // it got its name
};

// What the render has made of one entry: the frames the module has played of
// it, and a looped entry's loop, kept to be played again at its end.
struct render_unit {
    const sound_unit* unit = nullptr;
    render_sink* sink = nullptr;
    int64_t frames_seen = 0;
    std::vector<int16_t> loop;
    bool ended = false;
};

namespace {

// Room reported to the module: far more than any block set it writes.
const int ROOM_BYTES = 1 << 20;

render_output* attached = nullptr;

void note_call(render_output* out) {
    out->output_calls.store(out->output_calls.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

void record_failure(render_output* out, const std::string& path, const std::string& reason) {
    if (!out->failed) {
        out->failed_path = path;
        out->failed_reason = reason;
    }
    out->failed = true;
}

// The entry the module plays, from the counter it puts in the title: 0 for
// a single stream, whose title has none.
int32_t current_entry_index(render_output* out) {
    char title[PLAYER_TITLE_BYTES] = "";
    char playing_item[1] = "";
    out->job.module->GetFileInfo(playing_item, title, nullptr);
    int entry = 0;
    int count = 0;
    return parse_entry_counter(title, &entry, &count) ? entry - 1 : 0;
}

std::string sink_name(const render_sink& sink) {
    return sink.target->path == "-" ? "standard output" : sink.target->path;
}

// Creates the target's file (or starts its stream on standard output) at
// the first entry the module plays into it.
void open_sink(render_output* out, render_sink* sink, int sample_rate, int channels) {
    sink->opened = true;
    const render_target& target = *sink->target;
    const sound_unit& first = target.units[0];
    if (target.path == "-") {
        sink->to_stdout = true;
        if (out->job.format == RENDER_RAW) return;
        // Streamed: the header states the size the plan expects.
        std::vector<uint8_t> header = pcm_wave_header((uint32_t)sample_rate, (uint32_t)channels, target.pcm_bytes);
        if (fwrite(header.data(), 1, header.size(), stdout) != header.size())
            record_failure(out, sink_name(*sink), system_reason(errno));
        return;
    }
    std::string error;
    switch (out->job.format) {
    case RENDER_RAW:
        if (!output_create(&sink->raw, target.path)) record_failure(out, target.path, sink->raw.error);
        return;
    case RENDER_FLAC:
    case RENDER_OGG: {
        sound_extras tags;
        tags.name = first.name;
        if (target.units.size() == 1 && first.loop_start >= 0) {
            tags.loop_start = first.loop_start;
            tags.loop_end = first.loop_end;
        }
        sink->encoded = encoded_open(target.path, out->job.format == RENDER_FLAC ? ENCODED_FLAC : ENCODED_OGG,
                                     (uint32_t)sample_rate, (uint32_t)channels, tags, &error);
        if (!sink->encoded) record_failure(out, target.path, error);
        return;
    }
    case RENDER_WAV:
        break;
    }
    // A WAVE of one entry keeps its loop and name.
    if (target.units.size() == 1) {
        sink->extras.loop_start = first.loop_start;
        sink->extras.loop_end = first.loop_end;
        sink->extras.name = first.name;
    }
    sink->wave_file = pcm_wave_open(&sink->wave, target.path.c_str(), (uint32_t)sample_rate, (uint32_t)channels);
    if (!sink->wave_file) record_failure(out, target.path, sink->wave.out.error);
}

// Gives a complete sink its name, or removes what it wrote.
void close_sink(render_output* out, render_sink* sink, bool keep) {
    if (sink->closed) return;
    sink->closed = true;
    sink->kept = keep && sink->opened && !out->failed;
    if (sink->to_stdout) {
        if (fflush(stdout) != 0) record_failure(out, sink_name(*sink), system_reason(errno));
        return;
    }
    bool keep_existing = out->job.keep_existing;
    std::string error;
    if (sink->wave_file) {
        if (!keep) {
            pcm_wave_discard(&sink->wave);
        } else if (!pcm_wave_close(&sink->wave, keep_existing, sink->extras)) {
            record_failure(out, sink->target->path, sink->wave.out.error);
        }
    } else if (sink->raw.stream) {
        if (!keep) {
            output_discard(&sink->raw);
        } else if (!output_finish(&sink->raw, keep_existing)) {
            record_failure(out, sink->target->path, sink->raw.error);
        }
    } else if (sink->encoded) {
        if (!keep) {
            encoded_discard(sink->encoded);
        } else if (!encoded_finish(sink->encoded, keep_existing, &error)) {
            record_failure(out, sink->target->path, error);
        }
    }
    sink->wave_file = false;
    sink->encoded = nullptr;
    if (out->failed) sink->kept = false;
}

void write_to_sink(render_output* out, render_sink* sink, const int16_t* pcm, int64_t frames, int channels) {
    size_t byte_count = (size_t)frames * (size_t)channels * 2;
    if (byte_count == 0) return;
    bool written = false;
    std::string error;
    if (sink->wave_file) {
        written = pcm_wave_write(&sink->wave, pcm, (uint32_t)byte_count);
        error = sink->wave.out.error.empty() ? "the WAVE would pass 4 GiB" : sink->wave.out.error;
    } else if (sink->to_stdout) {
        written = fwrite(pcm, 1, byte_count, stdout) == byte_count;
        if (!written) error = system_reason(errno);
    } else if (sink->raw.stream) {
        written = output_write(&sink->raw, pcm, byte_count);
        error = sink->raw.error;
    } else if (sink->encoded) {
        written = encoded_write(sink->encoded, pcm, (size_t)frames, &error);
    }
    if (!written) record_failure(out, sink_name(*sink), error);
    sink->written += byte_count;
}

// Hands the frames the module wrote for an entry to its sink: a looped
// entry's only up to its loop's end, its loop kept for the end.
void take_frames(render_output* out, render_unit* u, const int16_t* pcm, int64_t frames, int channels) {
    const sound_unit& unit = *u->unit;
    int64_t first = u->frames_seen;
    u->frames_seen += frames;
    if (!unit_loops(unit, out->job.looping)) {
        write_to_sink(out, u->sink, pcm, frames, channels);
        return;
    }
    int64_t kept = std::max<int64_t>(0, std::min(frames, unit.loop_end - first));
    write_to_sink(out, u->sink, pcm, kept, channels);
    int64_t from = std::max(first, unit.loop_start);
    int64_t to = std::min(first + frames, unit.loop_end);
    if (to > from) u->loop.insert(u->loop.end(), pcm + (from - first) * channels, pcm + (to - first) * channels);
}

// At a looped entry's end: the loop again until it has played as often as
// asked, then its continuation, faded out linearly to silence.
void play_loop_out(render_output* out, render_unit* u);

// Once every entry of a file has ended, the file gets its name at once: a
// render holds only the files of the entry playing open, and whatever it had
// finished stays when a later entry fails or the render is interrupted.
void end_unit(render_output* out, render_unit* u) {
    if (u->ended) return;
    u->ended = true;
    play_loop_out(out, u);
    if (++u->sink->units_ended == u->sink->units) close_sink(out, u->sink, !out->failed);
}

void play_loop_out(render_output* out, render_unit* u) {
    const sound_unit& unit = *u->unit;
    const loop_rendering& looping = out->job.looping;
    int channels = unit.channels;
    if (!unit_loops(unit, looping) || u->frames_seen < unit.loop_end || u->loop.empty()) return;
    int64_t loop_frames = (int64_t)u->loop.size() / channels;
    for (uint32_t play = 1; play < looping.loops; ++play)
        write_to_sink(out, u->sink, u->loop.data(), loop_frames, channels);
    int64_t fade = fade_frames(unit, looping);
    std::vector<int16_t> faded;
    for (int64_t done = 0; done < fade;) {
        int64_t now = std::min(loop_frames, fade - done);
        faded.assign(u->loop.begin(), u->loop.begin() + now * channels);
        for (int64_t f = 0; f < now; ++f) {
            int64_t left = fade - 1 - (done + f);
            for (int c = 0; c < channels; ++c) {
                int16_t& sample = faded[(size_t)(f * channels + c)];
                sample = fade > 1 ? (int16_t)((int64_t)sample * left / (fade - 1)) : 0;
            }
        }
        write_to_sink(out, u->sink, faded.data(), now, channels);
        done += now;
    }
    u->loop.clear();
    u->loop.shrink_to_fit();
}

void restart_clock(render_output* out, int time_ms) {
    out->clock_start_ms = time_ms;
    out->bytes_since_clock_start = 0;
    out->written_ms.store(time_ms, std::memory_order_relaxed);
}

void advance_clock(render_output* out, int byte_count) {
    out->bytes_since_clock_start += (uint64_t)byte_count;
    uint64_t bytes_per_second = (uint64_t)out->sample_rate * (uint64_t)out->channels * 2;
    if (bytes_per_second == 0) return;
    uint64_t elapsed_ms = out->bytes_since_clock_start * 1000 / bytes_per_second;
    out->written_ms.store(out->clock_start_ms + (int)elapsed_ms, std::memory_order_relaxed);
}

// ---- The Out_Module callbacks ------------------------------------------------

// The module opens the output for every entry it plays (and again after a
// seek): the entry decides where what follows goes.
int HOST_CALL output_open(int sample_rate, int channels, int, int, int) {
    render_output* out = attached;
    note_call(out);
    out->sample_rate = sample_rate;
    out->channels = channels;
    restart_clock(out, 0);
    // Opens before the render is released are the first seek's, not the end
    // of an entry.
    if (out->current && out->released) end_unit(out, out->current);
    int32_t entry = current_entry_index(out);
    bool known = entry >= 0 && entry < (int32_t)out->units.size();
    out->current = known ? out->units[(size_t)entry] : nullptr;
    if (entry > out->last_entry) out->past_targets = true;
    if (out->current) {
        out->current->frames_seen = 0;
        out->current->loop.clear();
        if (!out->current->sink->opened) open_sink(out, out->current->sink, sample_rate, channels);
    }
    // Nothing is held back, so there is no latency to report.
    return 0;
}

// The sinks outlive the module's Close: a bank opens the output again for
// each entry without closing it, and render_output_finish closes them.
void HOST_CALL output_close() {
    note_call(attached);
}

int HOST_CALL output_write(char* buffer, int byte_count) {
    render_output* out = attached;
    note_call(out);
    if (byte_count <= 0 || out->channels <= 0) return 0;
    if (out->current && !out->failed)
        take_frames(out, out->current, (const int16_t*)buffer, byte_count / (2 * out->channels), out->channels);
    advance_clock(out, byte_count);
    return 0;
}

int HOST_CALL output_can_write() {
    render_output* out = attached;
    note_call(out);
    bool holding = !out->released.load() || out->past_targets.load();
    return holding ? 0 : ROOM_BYTES;
}

int HOST_CALL output_is_playing() {
    note_call(attached);
    return 0;
}

int HOST_CALL output_pause(int) {
    note_call(attached);
    return 0;
}

void HOST_CALL output_flush(int time_ms) {
    render_output* out = attached;
    note_call(out);
    restart_clock(out, time_ms);
    out->flushes.store(out->flushes.load() + 1);
}

// What has been written has been heard: the two clocks agree.
int HOST_CALL output_get_written_time() {
    return attached->written_ms.load(std::memory_order_relaxed);
}

int HOST_CALL output_get_output_time() {
    return output_get_written_time();
}

char RENDER_DESCRIPTION[] = "Tolvane render output";

Out_Module render_module = {
    0x10,
    RENDER_DESCRIPTION,
    0,
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

void free_parts(render_output* out) {
    for (render_unit* unit : out->units) delete unit;
    for (render_sink* sink : out->sinks) delete sink;
    out->units.clear();
    out->sinks.clear();
    out->current = nullptr;
}

}  // namespace

render_output::~render_output() {
    if (attached == this) attached = nullptr;
    free_parts(this);
}

Out_Module* render_output_attach(render_output* out, const render_job& job) {
    free_parts(out);
    out->job = job;
    out->last_entry = -1;
    out->failed = false;
    out->failed_path.clear();
    out->failed_reason.clear();
    out->released = false;
    out->past_targets = false;
    out->flushes = 0;
    restart_clock(out, 0);
    for (const render_target& target : *job.targets) {
        render_sink* sink = new render_sink;
        sink->target = &target;
        out->sinks.push_back(sink);
        for (const sound_unit& unit : target.units) {
            if ((size_t)unit.index >= out->units.size()) out->units.resize((size_t)unit.index + 1, nullptr);
            render_unit* u = new render_unit;
            u->unit = &unit;
            u->sink = sink;
            sink->units++;
            out->units[(size_t)unit.index] = u;
            if (unit.index > out->last_entry) out->last_entry = unit.index;
        }
    }
    attached = out;
    note_call(out);
    return &render_module;
}

void render_output_release(render_output* out) {
    out->released = true;
}

bool render_output_finish(render_output* out, bool keep) {
    if (keep && out->current) end_unit(out, out->current);
    // Once one output has failed, none of this file's is kept.
    for (render_sink* sink : out->sinks) close_sink(out, sink, keep && !out->failed);
    if (attached == out) attached = nullptr;
    return !out->failed;
}

int render_output_kept(const render_output* out) {
    int kept = 0;
    for (const render_sink* sink : out->sinks) kept += sink->kept ? 1 : 0;
    return kept;
}

std::vector<uint64_t> render_output_written(const render_output* out) {
    std::vector<uint64_t> written;
    for (const render_sink* sink : out->sinks) written.push_back(sink->written);
    return written;
}

namespace {

render_unit* unit_of(render_output* out, int32_t entry) {
    return entry >= 0 && entry < (int32_t)out->units.size() ? out->units[(size_t)entry] : nullptr;
}

}  // namespace

void render_output_take(render_output* out, int32_t entry, int sample_rate, int channels, const int16_t* pcm,
                        int64_t frames) {
    render_unit* u = unit_of(out, entry);
    if (!u || out->failed) return;
    if (!u->sink->opened) open_sink(out, u->sink, sample_rate, channels);
    if (!out->failed) take_frames(out, u, pcm, frames, channels);
}

void render_output_end(render_output* out, int32_t entry) {
    render_unit* u = unit_of(out, entry);
    if (u) end_unit(out, u);
}

uint32_t render_output_calls() {
    return attached ? attached->output_calls.load(std::memory_order_relaxed) : 0;
}

bool render_output_seeked() {
    return attached && attached->flushes.load() > 0;
}

bool render_output_can_stop() {
    return attached && (attached->past_targets.load() || attached->failed);
}
