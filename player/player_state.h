// player_state: everything the plug-in keeps while an item plays, in one
// static record. The host thread and the decode thread share some of its
// words without a lock; those are std::atomic, read and written with relaxed
// ordering, each one a value on its own (no ordering between them is needed).
#pragma once

#include <atomic>
#include <stdint.h>

#include "containers/inflater.h"
#include "containers/stream_description.h"
#include "containers/timeline.h"
#include "host/winamp_host.h"
#include "platform/platform.h"

const int32_t TITLE_BYTES = 304;
const int32_t NO_SEEK_REQUEST = -1;

// The player's services the engine calls, in one record the plug-in fills
// from the player's own record before each item: the output plug-in, the
// format shown, visualisation and DSP, the end-of-stream notice, and where a
// compressed bank's inflater comes from.
struct host_services {
    Out_Module* output;
    void(HOST_CALL* show_format)(int bitrate_kbps, int sample_rate_khz, int channels, int synched);
    void(HOST_CALL* visualisation_init)(int max_latency_ms, int sample_rate);
    void(HOST_CALL* visualisation_end)();
    void(HOST_CALL* spectrum_add)(void* pcm, int channels, int bits_per_sample, int time_ms);
    void(HOST_CALL* visualisation_add)(void* pcm, int channels, int bits_per_sample, int time_ms);
    void(HOST_CALL* visualisation_format)(int sample_rate, int channels);
    int(HOST_CALL* dsp_is_active)();
    int(HOST_CALL* dsp_process)(short* samples, int samples_per_channel, int bits_per_sample, int channels,
                                int sample_rate);
    // Called on the decode thread once the item has played out.
    void (*end_of_stream)(void* context);
    void* context;
    inflater_source inflater;
};

struct player_state_record {
    host_services host = {};
    file_handle file = INVALID_FILE;
    platform_thread* decode_thread_handle = nullptr;
    std::atomic<int32_t> kill_flag{0};
    std::atomic<int32_t> paused{0};
    std::atomic<int32_t> seek_request_ms{0};
    std::atomic<int32_t> decode_pos_ms{0};
    char title[TITLE_BYTES] = {};
    // The path Play was given, and as it left it (a stream pair's partner
    // named): either names the item playing.
    char* path_given = nullptr;
    char* path_played = nullptr;

    // The item installed by Play: its description (records included) and the
    // plan of its entries (one for a single stream) with their length, read
    // by the decode thread and the callbacks, changed only by Play.
    stream_description item = {};
    item_plan plan = {};

    // The format now playing, and the entry, which the decode thread changes.
    std::atomic<uint16_t> channels{0};
    std::atomic<uint32_t> sample_rate{0};
    std::atomic<int32_t> current_entry{0};
};

extern player_state_record player_state;

// Shorthands for the relaxed loads and stores every shared word uses.
template <typename T>
inline T load_relaxed(const std::atomic<T>& word) {
    return word.load(std::memory_order_relaxed);
}

template <typename T>
inline void store_relaxed(std::atomic<T>& word, T value) {
    word.store(value, std::memory_order_relaxed);
}

// Makes description the item's (taking its tables) in place of the last one.
void install_item(stream_description* description);
// Frees the item's description, plan and paths. The item stays until the
// next Play or until the player quits; Stop leaves it.
void release_item();
