// The playback engine: Play opens the file and the output and starts the
// decode thread; the thread reads one block set at a time, decodes it, hands
// it to the host's visualisation and DSP services and writes it to the output
// plug-in, carrying out seeks and stepping through the entries of a bank;
// Stop ends the thread and releases the file and the output.

#include "player/playback.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "codec/codec_table.h"
#include "containers/file_names.h"
#include "containers/stream_opener.h"
#include "player/player_state.h"

namespace {

// What the player's outputs take as "apply the current volume again".
const int OUTPUT_VOLUME_UNCHANGED = -666;

const uint32_t DRAIN_SLEEP_MS = 10;
const uint32_t NO_ROOM_SLEEP_MS = 20;
const uint32_t ENTRY_DRAIN_SLEEP_MS = 50;
const int ENTRY_DRAIN_MAX_SLEEPS = 40;

const host_services& host() {
    return player_state.host;
}

void* context() {
    return player_state.host.context;
}

void copy_title(const char* path) {
    const char* name = title_name(path);
    size_t length = strlen(name);
    if (length > (size_t)TITLE_BYTES - 1) length = (size_t)TITLE_BYTES - 1;
    memcpy(player_state.title, name, length);
    player_state.title[length] = '\0';
}

void close_file() {
    if (player_state.file != INVALID_FILE) file_close(player_state.file);
    player_state.file = INVALID_FILE;
}

void load_entry_format(int32_t entry) {
    store_relaxed(player_state.sample_rate, player_state.plan.spans[entry].rate);
    store_relaxed(player_state.channels, player_state.plan.spans[entry].channels);
}

int32_t saturated_ms(int64_t time_ms) {
    return time_ms > INT32_MAX ? INT32_MAX : (int32_t)time_ms;
}

// Seeks land on whole seconds: the request cut toward zero, negative ones at 0.
int32_t whole_second(int32_t time_ms) {
    int32_t second = time_ms - time_ms % 1000;
    return second < 0 ? 0 : second;
}

// What the decode thread keeps between passes. The position it reports is
// counted in sample frames from a time base (0 at the start, the target of a
// seek, the start of an entry), so it never drifts from the sound handed on.
struct decode_cursor {
    int32_t entry = 0;  // the entry playing, for items with entries
    const codec_row* codec = nullptr;
    int64_t units_left = 0;  // units of its codec still to play from the file's position
    int64_t time_base_ms = 0;
    int64_t frames = 0;  // frames handed on since the time base
    bool data_done = false;
    int entry_drain_sleeps = 0;  // 50 ms sleeps spent waiting for an entry to play out
};

int64_t cursor_time_ms(const decode_cursor& cursor, int64_t extra_frames) {
    uint32_t rate = load_relaxed(player_state.sample_rate);
    return cursor.time_base_ms + (cursor.frames + extra_frames) * 1000 / rate;
}

void restart_time(decode_cursor* cursor, int64_t time_ms) {
    cursor->time_base_ms = time_ms;
    cursor->frames = 0;
    store_relaxed(player_state.decode_pos_ms, saturated_ms(time_ms));
}

// The visualisation reads VISUALISATION_FRAMES frames at a time; block sets
// are collected until that many are at hand. Each collection is stamped with
// the stream time of its first frame.
struct visualisation_frames {
    int16_t samples[VISUALISATION_FRAMES * MAX_CHANNELS];
    uint32_t frames = 0;
    uint32_t channels = 0;
    int32_t first_time_ms = 0;
};

void restart_collection(visualisation_frames* vis) {
    vis->frames = 0;
}

// A collection holds frames of one channel count: another count (a new
// entry) starts a new one.
void collect_for_visualisation(visualisation_frames* vis, const int16_t* pcm, uint32_t pcm_frames, uint32_t channels,
                               const decode_cursor& cursor) {
    if (vis->channels != channels) {
        vis->frames = 0;
        vis->channels = channels;
    }
    uint32_t taken = 0;
    while (taken < pcm_frames) {
        if (vis->frames == 0) vis->first_time_ms = saturated_ms(cursor_time_ms(cursor, taken));
        uint32_t count = pcm_frames - taken;
        if (count > VISUALISATION_FRAMES - vis->frames) count = VISUALISATION_FRAMES - vis->frames;
        memcpy(vis->samples + vis->frames * channels, pcm + taken * channels, (size_t)count * channels * 2);
        vis->frames += count;
        taken += count;
        if (vis->frames == VISUALISATION_FRAMES) {
            host().spectrum_add(context(), vis->samples, (int)channels, vis->first_time_ms);
            host().visualisation_add(context(), vis->samples, (int)channels, vis->first_time_ms);
            vis->frames = 0;
        }
    }
}

// Makes entry current and places the cursor at the start of its span.
void begin_entry(decode_cursor* cursor, int32_t entry) {
    const entry_span& span = player_state.plan.spans[entry];
    cursor->entry = entry;
    cursor->codec = span.codec;
    cursor->units_left = span.units;
    store_relaxed(player_state.current_entry, entry);
    load_entry_format(entry);
    restart_time(cursor, span.start_ms);
    file_seek(player_state.file, span.play_start);
}

void carry_out_seek(int32_t request, decode_cursor* cursor, visualisation_frames* vis) {
    int32_t target_ms = whole_second(request);
    // Only clear the request we took: one that arrived meanwhile stays pending
    // for the next pass instead of being lost.
    player_state.seek_request_ms.compare_exchange_strong(request, NO_SEEK_REQUEST, std::memory_order_relaxed);
    restart_time(cursor, target_ms);
    host().output_flush(context(), target_ms);
    cursor->data_done = false;
    cursor->entry_drain_sleeps = 0;

    int32_t entry = 0;
    int64_t skipped_units = 0;
    if (!plan_seek(&player_state.plan, target_ms, &entry, &skipped_units)) {
        cursor->data_done = true;
        return;
    }
    const entry_span& span = player_state.plan.spans[entry];
    // Positions are signed 32-bit: sound beyond them cannot be reached.
    int64_t position = span.play_start + skipped_units * span_unit_bytes(span);
    if (position > INT32_MAX) {
        cursor->data_done = true;
        return;
    }
    begin_entry(cursor, entry);
    restart_time(cursor, target_ms);
    cursor->units_left = span.units - skipped_units;
    file_seek(player_state.file, (int32_t)position);
    // An entry of a bank plays in its own format; a single stream's stays.
    if (!player_state.plan.single_stream) open_output();
    restart_collection(vis);
}

enum entry_step { ENTRY_STEPPED, ENTRY_WAITING, ENTRIES_EXHAUSTED };

// Moves on to the next entry that plays once the output has played out the
// current one: for at most two seconds while the output plays, and for as
// long as it takes while the listener holds it paused, so that nothing of the
// entry is flushed unheard. A wait returns to the pass loop, which answers
// Stop and seek requests meanwhile.
entry_step step_to_next_entry(decode_cursor* cursor) {
    int32_t next = next_played_entry(&player_state.plan, cursor->entry + 1);
    if (next >= player_state.plan.count) return ENTRIES_EXHAUSTED;
    if (host().output_is_playing(context())) {
        if (load_relaxed(player_state.paused) != 0) return ENTRY_WAITING;
        if (cursor->entry_drain_sleeps < ENTRY_DRAIN_MAX_SLEEPS) {
            cursor->entry_drain_sleeps++;
            return ENTRY_WAITING;
        }
    }
    cursor->entry_drain_sleeps = 0;
    begin_entry(cursor, next);
    host().output_flush(context(), saturated_ms(cursor->time_base_ms));
    open_output();
    return ENTRY_STEPPED;
}

// Hands one pass of decoded sound to the visualisation, the DSP and the output.
void hand_on_pass(int16_t* pcm, int32_t pcm_bytes, decode_cursor* cursor, visualisation_frames* vis) {
    uint32_t rate = load_relaxed(player_state.sample_rate);
    uint32_t channels = load_relaxed(player_state.channels);
    uint32_t frames = (uint32_t)pcm_bytes / channels / 2;
    collect_for_visualisation(vis, pcm, frames, channels, *cursor);
    cursor->frames += frames;
    store_relaxed(player_state.decode_pos_ms, saturated_ms(cursor_time_ms(*cursor, 0)));

    if (host().dsp_is_active(context())) {
        int given = (int)frames;
        int returned = host().dsp_process(context(), pcm, given, (int)channels, (int)rate);
        // The buffer holds twice the samples given; a DSP that claims more
        // (or fewer than none) must not make us write outside it.
        if (returned < 0) returned = 0;
        if (returned > 2 * given) returned = 2 * given;
        pcm_bytes = returned * (int32_t)channels * 2;
    }
    host().output_write(context(), pcm, pcm_bytes);
}

// Room for one pass of the current format, twice that for a DSP that may
// hand back twice the samples it was given.
bool output_has_room(const codec_row& codec) {
    uint32_t needed = (uint32_t)load_relaxed(player_state.channels) * (uint32_t)frames_per_pass(codec) * 2;
    if (host().dsp_is_active(context())) needed *= 2;
    return (uint32_t)host().output_can_write(context()) >= needed;
}

}  // namespace

int open_output() {
    uint32_t rate = load_relaxed(player_state.sample_rate);
    uint32_t channels = load_relaxed(player_state.channels);
    int latency_ms = host().output_open(context(), (int)rate, (int)channels);
    if (latency_ms < 0) {
        close_file();
        return 1;
    }
    // A re-opened output plays whatever state it was in before: the player's
    // own output drops a paused device and opens one that plays. A pause the
    // listener asked for must hold.
    if (load_relaxed(player_state.paused) != 0) host().output_pause(context(), 1);
    // The bit rate shown is that of the decoded 16-bit PCM.
    uint32_t bitrate_kbps = channels * rate * 16u / 1000u;
    host().show_format(context(), (int)bitrate_kbps, (int)(rate / 1000u), (int)channels);
    host().visualisation_init(context(), latency_ms, (int)rate);
    host().visualisation_format(context(), (int)rate, (int)channels);
    return 0;
}

int32_t read_pass(const codec_row& codec, int64_t units_left, uint8_t* input) {
    uint32_t channels = load_relaxed(player_state.channels);
    if (channels == 0 || channels > MAX_CHANNELS || units_left <= 0) return 0;
    int64_t units = units_left < units_per_pass(codec) ? units_left : units_per_pass(codec);
    return file_read(player_state.file, input, (int32_t)(units * unit_bytes(codec, channels)));
}

bool plan_timeline() {
    if (!plan_item(&player_state.item, &player_state.plan)) return false;
    int32_t count = player_state.plan.count;
    if (count == 0) return true;
    int32_t first = next_played_entry(&player_state.plan, 0);
    if (first >= count) first = 0;
    store_relaxed(player_state.current_entry, first);
    load_entry_format(first);
    return true;
}

unsigned long PLATFORM_THREAD_CALL decode_thread(void* kill_flag_address) {
    const std::atomic<int32_t>* kill_flag = (const std::atomic<int32_t>*)kill_flag_address;
    decode_cursor cursor;
    visualisation_frames vis;
    if (player_state.plan.count > 0) begin_entry(&cursor, load_relaxed(player_state.current_entry));
    // Room for one pass of the largest channel count the player accepts in
    // any codec, the output doubled for a DSP that hands back twice the
    // samples it was given.
    uint8_t input[MAX_CHANNELS * PASS_INPUT_BYTES_PER_CHANNEL];
    int16_t pcm[2 * MAX_CHANNELS * LARGEST_PASS_FRAMES];

    while (load_relaxed(*kill_flag) == 0) {
        int32_t request = load_relaxed(player_state.seek_request_ms);
        if (request != NO_SEEK_REQUEST) {
            carry_out_seek(request, &cursor, &vis);
        } else if (cursor.data_done) {
            host().output_can_write(context());
            if (host().output_is_playing(context())) {
                sleep_ms(DRAIN_SLEEP_MS);
                continue;
            }
            host().end_of_stream(context());
            return 0;
        }
        if (cursor.data_done) continue;

        if (cursor.units_left <= 0) {
            entry_step step = step_to_next_entry(&cursor);
            if (step == ENTRY_WAITING) sleep_ms(ENTRY_DRAIN_SLEEP_MS);
            if (step == ENTRIES_EXHAUSTED) cursor.data_done = true;
            // A new entry may have more channels: its room is asked anew.
            continue;
        }

        if (!output_has_room(*cursor.codec)) {
            sleep_ms(NO_ROOM_SLEEP_MS);
            continue;
        }

        // A read that fails (the file was closed after a failed re-open of
        // the output, or ends early) counts as the end of the data; a short
        // one plays its whole units.
        uint32_t channels = load_relaxed(player_state.channels);
        int32_t read_bytes = read_pass(*cursor.codec, cursor.units_left, input);
        int32_t pcm_bytes = cursor.codec->decode(input, read_bytes, pcm, channels, cursor.codec->unit_bytes_per_channel);
        if (pcm_bytes == 0) {
            cursor.data_done = true;
            continue;
        }
        cursor.units_left -= (int64_t)whole_units(*cursor.codec, read_bytes, channels);
        hand_on_pass(pcm, pcm_bytes, &cursor, &vis);
    }
    return 0;
}

namespace {

char* copy_of(const char* text) {
    size_t length = strlen(text) + 1;
    char* copy = (char*)malloc(length);
    if (copy) memcpy(copy, text, length);
    return copy;
}

// The host's path names the partner of a stream pair from now on: the host
// and its title rely on it.
void write_partner_extension(char* path, const char* extension) {
    char* dot = path + (extension_dot(path) - path);
    if (strlen(dot) == 4) memcpy(dot + 1, extension, 3);
}

}  // namespace

void connect_host(const host_services* services) {
    // The decode thread reads the services: an item still playing ends first.
    if (player_state.decode_thread_handle) Stop();
    player_state.host = *services;
}

bool host_services_ready(const host_services* h) {
    return h->output_open && h->output_close && h->output_write && h->output_can_write && h->output_is_playing &&
           h->output_flush && h->output_pause && h->output_set_volume && h->show_format && h->visualisation_init &&
           h->visualisation_end && h->spectrum_add && h->visualisation_add && h->visualisation_format &&
           h->dsp_is_active && h->dsp_process && h->end_of_stream;
}

int Play(char* path) {
    if (!path || !host_services_ready(&host())) return 1;
    // The host should have stopped the previous item; if it did not, stop it
    // now rather than run two decode threads over one state.
    if (player_state.decode_thread_handle) Stop();
    release_item();

    file_handle file = file_open_read(path);
    if (file == INVALID_FILE) return 1;
    char* path_given = copy_of(path);
    stream_description description;
    description_init(&description);
    file = open_stream(path, file, &host().inflater, OPEN_TO_PLAY, &description);
    if (description.partner_extension[0]) write_partner_extension(path, description.partner_extension);
    // Formats the decoder and the time arithmetic cannot handle are refused
    // here, so nothing later divides by zero or outgrows its block buffers.
    if (file == INVALID_FILE || description_refusal(&description) != NOT_REFUSED) {
        if (file != INVALID_FILE) file_close(file);
        description_release(&description);
        free(path_given);
        return 1;
    }
    install_item(&description);
    player_state.file = file;
    player_state.path_given = path_given;
    player_state.path_played = copy_of(path);

    copy_title(path);
    store_relaxed(player_state.paused, 0);
    store_relaxed(player_state.decode_pos_ms, 0);
    store_relaxed(player_state.seek_request_ms, NO_SEEK_REQUEST);
    store_relaxed(player_state.sample_rate, player_state.item.sample_rate);
    store_relaxed(player_state.channels, player_state.item.channels);
    // An item with entries plays in the format of its first entry.
    if (!plan_timeline()) {
        close_file();
        return 1;
    }

    if (open_output() != 0) return 1;
    host().output_set_volume(context(), OUTPUT_VOLUME_UNCHANGED);

    store_relaxed(player_state.kill_flag, 0);
    player_state.decode_thread_handle = thread_start(decode_thread, &player_state.kill_flag);
    if (!player_state.decode_thread_handle) {
        // Without a thread nothing would ever play or end: report failure.
        host().output_close(context());
        host().visualisation_end(context());
        close_file();
        return 1;
    }
    return 0;
}

void Stop() {
    if (player_state.decode_thread_handle) {
        store_relaxed(player_state.kill_flag, 1);
        thread_join(player_state.decode_thread_handle);
        player_state.decode_thread_handle = nullptr;
    }
    close_file();
    if (host().output_close) host().output_close(context());
    if (host().visualisation_end) host().visualisation_end(context());
}
