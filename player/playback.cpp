// The playback engine: Play opens the file and the output and starts the
// decode thread; the thread reads one block set at a time, decodes it, hands
// it to the host's visualisation and DSP services and writes it to the output
// plug-in, carrying out seeks and stepping through the entries of a bank;
// Stop ends the thread and releases the file and the output.

#include "player/playback.h"

#include <limits.h>
#include <string.h>

#include "codec/xbox_adpcm.h"
#include "containers/stream_opener.h"
#include "player/player_state.h"

namespace {

const uint32_t DRAIN_SLEEP_MS = 10;
const uint32_t NO_ROOM_SLEEP_MS = 20;
const uint32_t ENTRY_DRAIN_SLEEP_MS = 50;
const int ENTRY_DRAIN_MAX_SLEEPS = 40;

Out_Module* output() {
    return plugin_module.outMod;
}

// The engine calls these host services on every item; a host that left one
// of them empty cannot play anything, and calling through null would take the
// player down.
bool host_services_ready() {
    const In_Module& m = plugin_module;
    const Out_Module* o = m.outMod;
    return o && o->Open && o->Close && o->Write && o->CanWrite && o->IsPlaying && o->Flush && o->SetVolume &&
           m.SetInfo && m.SAVSAInit && m.SAVSADeInit && m.SAAddPCMData && m.VSAAddPCMData && m.VSASetInfo &&
           m.dsp_isactive && m.dsp_dosamples;
}

bool entry_table_is_playable() {
    for (int32_t i = 0; i < player_state.entry_count; ++i) {
        int32_t rate = player_state.entry_rate[i];
        int16_t channels = player_state.entry_channels[i];
        if (rate < 0 || channels < 0 || !stream_format_is_playable((uint32_t)rate, (uint32_t)channels)) return false;
    }
    return true;
}

void copy_title(const char* path) {
    const char* name = base_name(path);
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
    store_relaxed(player_state.sample_rate, (uint32_t)player_state.entry_rate[entry]);
    store_relaxed(player_state.channels, (uint16_t)player_state.entry_channels[entry]);
}

int64_t entry_end(int32_t entry) {
    return (int64_t)player_state.entry_offset[entry] + player_state.entry_length[entry];
}

// Seeks land on whole seconds: the request cut toward zero, negative ones at 0.
int32_t whole_second(int32_t time_ms) {
    int32_t second = time_ms - time_ms % 1000;
    return second < 0 ? 0 : second;
}

// The entry to play from for a seek target: the last one that starts at or
// before it, or the first entry when the target lies in front of them all.
int32_t entry_holding(int64_t position) {
    int32_t index = 0;
    while (index < player_state.entry_count && player_state.entry_offset[index] <= position) ++index;
    return index > 0 ? index - 1 : 0;
}

void carry_out_seek(int32_t request) {
    int32_t target_ms = whole_second(request);
    store_relaxed(player_state.decode_pos_ms, target_ms);
    // Only clear the request we took: one that arrived meanwhile stays pending
    // for the next pass instead of being lost.
    player_state.seek_request_ms.compare_exchange_strong(request, NO_SEEK_REQUEST, std::memory_order_relaxed);
    output()->Flush(target_ms);

    // Whole pairs of blocks per channel at or before the requested time, with
    // the format in effect when the request was taken. 64-bit, so a target
    // far beyond the data cannot wrap round into it.
    uint32_t rate = load_relaxed(player_state.sample_rate);
    uint32_t channels = load_relaxed(player_state.channels);
    int64_t block_pairs = (int64_t)(target_ms / 1000) * rate / 130;
    int64_t position = player_state.data_start + block_pairs * channels * 2 * ADPCM_BLOCK_BYTES;

    if (player_state.entry_count != 0) {
        int32_t entry = entry_holding(position);
        int64_t start = player_state.entry_offset[entry];
        if (position < start) position = start;
        // Align to a whole block set of the entry's own channel count, so an
        // entry with another layout than the previous one decodes correctly.
        int64_t block_set = (int64_t)player_state.entry_channels[entry] * ADPCM_BLOCK_BYTES;
        position -= (position - start) % block_set;
        store_relaxed(player_state.current_entry, entry);
        load_entry_format(entry);
        open_output();
    }
    if (position > INT32_MAX) position = INT32_MAX;
    file_seek(player_state.file, (int32_t)position);
}

enum entry_step { ENTRY_STEPPED, ENTRIES_EXHAUSTED, STOP_REQUESTED };

// Lets the output play out the previous entry, for at most two seconds, so the
// re-opened output does not cut its end off.
bool wait_for_entry_play_out(const std::atomic<int32_t>* kill_flag) {
    for (int i = 0; i < ENTRY_DRAIN_MAX_SLEEPS && output()->IsPlaying(); ++i) {
        if (load_relaxed(*kill_flag) != 0) return false;
        sleep_ms(ENTRY_DRAIN_SLEEP_MS);
    }
    return load_relaxed(*kill_flag) == 0;
}

// Moves on from the current entry, whose end the file position has reached,
// to the first later entry that ends beyond it.
entry_step step_to_next_entry(int32_t position, const std::atomic<int32_t>* kill_flag) {
    int32_t next = load_relaxed(player_state.current_entry) + 1;
    while (next < player_state.entry_count && entry_end(next) <= position) ++next;
    // Past the last entry the stream is over; the current entry stays the
    // last one played.
    if (next >= player_state.entry_count) return ENTRIES_EXHAUSTED;
    store_relaxed(player_state.current_entry, next);
    if (!wait_for_entry_play_out(kill_flag)) return STOP_REQUESTED;
    load_entry_format(next);
    // An entry that starts outside the file cannot be played, and going on
    // from the old position would play the wrong sound.
    if (!jump_to_entry(player_state.entry_offset[next])) return ENTRIES_EXHAUSTED;
    open_output();
    return ENTRY_STEPPED;
}

// Hands one decoded block set on and writes it to the output.
void hand_on_block_set(int16_t* pcm, int32_t pcm_bytes) {
    uint32_t rate = load_relaxed(player_state.sample_rate);
    uint32_t channels = load_relaxed(player_state.channels);
    int32_t time_ms = load_relaxed(player_state.decode_pos_ms);
    plugin_module.SAAddPCMData(pcm, (int)channels, 16, time_ms);
    plugin_module.VSAAddPCMData(pcm, (int)channels, 16, time_ms);
    store_relaxed(player_state.decode_pos_ms, time_ms + (int32_t)(65000u / rate));

    if (plugin_module.dsp_isactive()) {
        int given = (int)((uint32_t)pcm_bytes / channels / 2);
        int returned = plugin_module.dsp_dosamples(pcm, given, 16, (int)channels, (int)rate);
        // The buffer holds twice the samples given; a DSP that claims more
        // (or fewer than none) must not make us write outside it.
        if (returned < 0) returned = 0;
        if (returned > 2 * given) returned = 2 * given;
        pcm_bytes = returned * (int32_t)channels * 2;
    }
    output()->Write((char*)pcm, pcm_bytes);
}

}  // namespace

const char* base_name(const char* path) {
    const char* last = strrchr(path, PLATFORM_PATH_SEPARATOR);
    return last ? last + 1 : path;
}

int32_t adpcm_bytes_to_ms(int32_t byte_count, uint32_t sample_rate, uint32_t channels) {
    // Blocks of 36 bytes per channel, 65 samples each, with the truncating
    // divisions in this order; 64-bit so long files do not wrap.
    uint64_t divisor = (uint64_t)(sample_rate / 100) * channels * 2;
    if (divisor == 0 || byte_count < 0) return 0;
    uint64_t blocks = (uint64_t)byte_count * 10 / divisor / 36;
    uint64_t time_ms = blocks * 130;
    return time_ms > INT32_MAX ? INT32_MAX : (int32_t)time_ms;
}

int open_output() {
    uint32_t rate = load_relaxed(player_state.sample_rate);
    uint32_t channels = load_relaxed(player_state.channels);
    int latency_ms = output()->Open((int)rate, (int)channels, 16, -1, -1);
    if (latency_ms < 0) {
        close_file();
        return 1;
    }
    // The bit rate shown is that of the decoded 16-bit PCM.
    uint32_t bitrate_kbps = channels * rate * 16u / 1000u;
    plugin_module.SetInfo((int)bitrate_kbps, (int)(rate / 1000u), (int)channels, 1);
    plugin_module.SAVSAInit(latency_ms, (int)rate);
    plugin_module.VSASetInfo((int)rate, (int)channels);
    return 0;
}

int32_t read_block(int16_t* pcm_buffer, int64_t data_bytes_left) {
    uint32_t channels = load_relaxed(player_state.channels);
    if (channels == 0 || channels > MAX_CHANNELS) return 0;
    uint8_t adpcm[MAX_CHANNELS * ADPCM_BLOCK_BYTES];
    // Never past the end of the sound data: a partial block set there would
    // otherwise be completed with whatever follows it in the file (a pad
    // byte, another chunk) and play as a burst of noise.
    int32_t wanted = (int32_t)channels * ADPCM_BLOCK_BYTES;
    if (data_bytes_left < wanted) wanted = data_bytes_left < 0 ? 0 : (int32_t)data_bytes_left;
    int32_t got = file_read(player_state.file, adpcm, wanted);
    return decode_blocks(adpcm, got, pcm_buffer, channels);
}

bool jump_to_entry(int32_t offset) {
    if (offset < 0 || file_seek(player_state.file, offset) != offset) return false;
    int32_t time_ms = adpcm_bytes_to_ms(offset, load_relaxed(player_state.sample_rate),
                                        load_relaxed(player_state.channels));
    int32_t whole = time_ms - time_ms % 1000;
    store_relaxed(player_state.decode_pos_ms, whole);
    output()->Flush(whole);
    return true;
}

unsigned long PLATFORM_THREAD_CALL decode_thread(void* kill_flag_address) {
    const std::atomic<int32_t>* kill_flag = (const std::atomic<int32_t>*)kill_flag_address;
    bool data_done = false;
    // The room asked of the output is fixed for the life of the thread.
    const uint32_t threshold = (uint32_t)load_relaxed(player_state.channels) * PCM_BLOCK_BYTES;
    // Room for the largest channel count the player accepts, doubled for a
    // DSP that hands back twice the samples it was given.
    int16_t pcm[2 * MAX_CHANNELS * SAMPLES_PER_BLOCK];

    while (load_relaxed(*kill_flag) == 0) {
        int32_t request = load_relaxed(player_state.seek_request_ms);
        if (request != NO_SEEK_REQUEST) {
            carry_out_seek(request);
            data_done = false;
        } else if (data_done) {
            output()->CanWrite();
            if (output()->IsPlaying()) {
                sleep_ms(DRAIN_SLEEP_MS);
                continue;
            }
            window_post_message(plugin_module.hMainWindow, HOST_MSG_END_OF_STREAM, 0, 0);
            return 0;
        }

        uint32_t room_needed = plugin_module.dsp_isactive() ? 2 * threshold : threshold;
        if ((uint32_t)output()->CanWrite() < room_needed) {
            sleep_ms(NO_ROOM_SLEEP_MS);
            continue;
        }

        // A position that cannot be had (the file was closed after a failed
        // re-open of the output) counts as the end of the data.
        int32_t position = file_tell(player_state.file);
        int64_t data_end = (int64_t)player_state.data_start + player_state.data_length;
        if (position < 0 || position >= data_end) {
            data_done = true;
            continue;
        }

        if (player_state.entry_count != 0 && entry_end(load_relaxed(player_state.current_entry)) <= position) {
            entry_step step = step_to_next_entry(position, kill_flag);
            if (step == STOP_REQUESTED) return 0;
            if (step == ENTRIES_EXHAUSTED) {
                data_done = true;
                continue;
            }
            position = player_state.entry_offset[load_relaxed(player_state.current_entry)];
        }

        int32_t pcm_bytes = read_block(pcm, data_end - position);
        if (pcm_bytes == 0) {
            data_done = true;
            continue;
        }
        hand_on_block_set(pcm, pcm_bytes);
    }
    return 0;
}

int HOST_CALL Play(char* path) {
    if (!path || !host_services_ready()) return 1;
    // The host should have stopped the previous item; if it did not, stop it
    // now rather than run two decode threads over one state.
    if (player_state.decode_thread_handle) Stop();

    file_handle file = file_open_read(path);
    if (file == INVALID_FILE) return 1;
    // Stored before the opener runs: the compressed-bank reader takes its
    // source file from here.
    player_state.file = file;
    int32_t length = 0;
    player_state.file = open_stream(path, file, &length);
    player_state.data_length = length;
    if (length < 0) {
        close_file();
        return 1;
    }

    copy_title(path);
    store_relaxed(player_state.paused, 0);
    store_relaxed(player_state.decode_pos_ms, 0);
    store_relaxed(player_state.seek_request_ms, NO_SEEK_REQUEST);
    if (player_state.entry_count != 0) load_entry_format(0);

    // Formats the decoder and the time arithmetic cannot handle are refused
    // here, so nothing later divides by zero or outgrows its block buffers.
    if (!stream_format_is_playable(load_relaxed(player_state.sample_rate), load_relaxed(player_state.channels)) ||
        !entry_table_is_playable()) {
        close_file();
        return 1;
    }

    if (open_output() != 0) return 1;
    output()->SetVolume(-666);

    store_relaxed(player_state.kill_flag, 0);
    player_state.decode_thread_handle = thread_start(decode_thread, &player_state.kill_flag);
    if (!player_state.decode_thread_handle) {
        // Without a thread nothing would ever play or end: report failure.
        output()->Close();
        plugin_module.SAVSADeInit();
        close_file();
        return 1;
    }
    return 0;
}

void HOST_CALL Stop() {
    if (player_state.decode_thread_handle) {
        store_relaxed(player_state.kill_flag, 1);
        thread_join(player_state.decode_thread_handle);
        player_state.decode_thread_handle = nullptr;
    }
    close_file();
    if (output() && output()->Close) output()->Close();
    if (plugin_module.SAVSADeInit) plugin_module.SAVSADeInit();
}
