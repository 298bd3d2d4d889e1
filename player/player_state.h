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
#include "platform/platform.h"

const int32_t TITLE_BYTES = 304;
const int32_t NO_SEEK_REQUEST = -1;

// The player's services the engine calls, as plain functions: the plug-in
// fills them before each item, adapting the player's own records to them, so
// the engine knows nothing of the player's interface. Each is handed the
// context the plug-in chose. The output (opened per format with 16-bit PCM,
// fed, asked for room, flushed, paused, closed), the format shown,
// visualisation and DSP, the end-of-stream notice, and where a compressed
// bank's inflater comes from.
struct host_services {
    void* context;
    int (*output_open)(void* context, int sample_rate, int channels);  // the latency in ms; negative on failure
    void (*output_close)(void* context);
    void (*output_write)(void* context, void* pcm, int byte_count);
    int (*output_can_write)(void* context);
    int (*output_is_playing)(void* context);
    void (*output_flush)(void* context, int time_ms);
    void (*output_pause)(void* context, int paused);
    void (*output_set_volume)(void* context, int volume);
    void (*show_format)(void* context, int bitrate_kbps, int sample_rate_khz, int channels);
    void (*visualisation_init)(void* context, int max_latency_ms, int sample_rate);
    void (*visualisation_end)(void* context);
    // Both read VISUALISATION_FRAMES frames of 16-bit samples.
    void (*spectrum_add)(void* context, int16_t* pcm, int channels, int time_ms);
    void (*visualisation_add)(void* context, int16_t* pcm, int channels, int time_ms);
    void (*visualisation_format)(void* context, int sample_rate, int channels);
    int (*dsp_is_active)(void* context);
    // Processes samples_per_channel frames in place (the buffer holds twice
    // as many) and returns the frames it hands back.
    int (*dsp_process)(void* context, int16_t* samples, int samples_per_channel, int channels, int sample_rate);
    // Called on the decode thread once the item has played out.
    void (*end_of_stream)(void* context);
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
