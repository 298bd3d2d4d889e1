// A test host for the module that behaves as the player does and records
// every call (name and arguments, in order). Like the player it fills the
// main window, the instance and the visualisation and DSP services before
// Init, leaves SetInfo empty until Init has returned and outMod empty until
// the first play; before every Play it sets outMod and calls SetVolume and
// SetPan; after a successful Play it asks for the title ("" names the item
// playing) and the length, then for the position and the length every
// 100 ms while it pumps its window; SetInfo with a bit rate and a rate makes
// it ask for the title again; on the end-of-stream message it calls Stop and
// plays the next queued item, and after a failed Play it never calls Stop.
// Its visualisation reads exactly 576 sample frames from the pointer it is
// given, as the player's does. Its output plug-in's room, playing state and
// clocks are scripted by the test, or paced like a sound card. One test_host
// exists at a time; the callbacks find it through a static pointer.
#pragma once

#include <stdint.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "host/winamp_host.h"
#include "platform/platform.h"

struct host_call {
    std::string name;
    std::vector<long long> args;
};

// What the visualisation read in one call: its time stamp and the frames.
struct visualisation_capture {
    int channels;
    int time_ms;
    std::vector<int16_t> samples;
};

// How many frames the player's visualisation reads.
const int PLAYER_VISUALISATION_FRAMES = 576;

class test_host {
public:
    test_host();
    ~test_host();
    test_host(const test_host&) = delete;
    test_host& operator=(const test_host&) = delete;

    In_Module* module;

    // The output plug-in's script, read on whichever thread calls.
    std::atomic<int> can_write{1 << 30};
    std::atomic<int> is_playing{0};
    std::atomic<int> open_result{0};  // latency; negative makes Open fail
    // The output's clocks count what was written (and, when paced, played)
    // since the last Open or Flush; with scripted_clocks set they report
    // output_time_ms and written_time_ms instead.
    std::atomic<bool> scripted_clocks{false};
    std::atomic<int> output_time_ms{0};
    std::atomic<int> written_time_ms{0};
    std::atomic<int> dsp_active{0};
    // Samples per channel the DSP hands back for n given; identity by default.
    std::function<int(short* samples, int n, int channels)> dsp;
    // A paced output: instead of the scripted room and playing state, a
    // buffer of paced_buffer_bytes that plays paced_bytes_per_second away in
    // real time (held while paused, emptied by Flush), as a sound card does.
    // Open while it is open plays out what it holds first when the format
    // changes; a paused one is dropped instead, and the new one plays.
    void use_paced_output(uint32_t buffer_bytes, uint32_t bytes_per_second);
    // What the window answers to the inflate-table query.
    std::atomic<intptr_t> inflate_table_answer{0};
    // Polling calls (CanWrite, IsPlaying, dsp_isactive, the output's clocks)
    // are counted but only logged when this is set, to keep logs small.
    std::atomic<bool> log_polls{false};
    // Keep what the visualisation reads (it always reads it).
    std::atomic<bool> keep_visualisation{false};

    // A copy of the calls so far, or those with one name.
    std::vector<host_call> calls() const;
    std::vector<host_call> calls_named(const std::string& name) const;
    std::vector<std::string> call_names() const;
    // Forgets the calls, the written bytes, the visualisation captures and
    // the end-of-stream messages.
    void clear_calls();
    // Every byte written to the output, in order.
    std::vector<uint8_t> written() const;
    size_t written_bytes() const;
    int can_write_polls() const;
    std::vector<visualisation_capture> visualisation() const;
    // Writes larger than the room the output last reported, counting only
    // reports since the previous write.
    int writes_beyond_room() const;
    // Bytes the paced output dropped before they were played: by Flush, or
    // by an Open while paused.
    uint64_t unheard_bytes() const;

    // Pumps the host window until the end-of-stream message has arrived (or
    // the time is up); true when it did.
    bool wait_for_end_of_stream(uint32_t timeout_ms = 20000);
    // Pumps messages for a while, for tests that expect none.
    void pump_for(uint32_t milliseconds);
    // Delivers the messages posted so far without waiting; returns how many.
    int pump_pending();
    int end_of_stream_messages() const;
    // Polls (pumping the window) until the predicate holds or time is up.
    bool wait_until(const std::function<bool()>& predicate, uint32_t timeout_ms = 10000);

    // Plays path as the player does, with a writable copy of the path; the
    // copy (possibly rewritten by the module) is kept in played_path.
    int play(const std::string& path);
    std::string played_path;
    // Items the host plays, in turn, each time one ends.
    std::vector<std::string> queue;
    // What the player shows: the title and length it read after Play (and
    // after SetInfo), the position and length of its last 100 ms poll, and
    // the position when the end-of-stream message arrived.
    std::string shown_title() const;
    int shown_length_ms() const;
    int position_at_end_ms() const;
    // The output plug-in as the player hands it to the module before Play,
    // for tests that start the decode thread themselves.
    void attach_output();

    // Called by the static callbacks.
    void record(const char* name, std::vector<long long> args);
    void record_write(const char* buffer, int byte_count);
    void record_visualisation(const char* name, const void* pcm, int channels, int bits, int time_ms);
    int room();
    void note_set_info(int bitrate_kbps, int rate_khz);
    int output_open(int rate, int channels);
    void output_flush(int time_ms);
    int output_time();
    int written_time();
    int playing();
    void paced_pause(int pause);
    intptr_t on_message(uint32_t message, uintptr_t wparam, intptr_t lparam);

private:
    mutable std::mutex lock_;
    std::vector<host_call> calls_;
    std::vector<uint8_t> written_;
    std::vector<visualisation_capture> visualisation_;
    int polls_ = 0;
    int end_of_stream_ = 0;
    int writes_beyond_room_ = 0;
    int last_room_ = 0;
    host_window window_;
    Out_Module output_;
    std::vector<char> path_buffer_;

    // The player's side, used on the test's thread only.
    bool item_playing_ = false;
    uint64_t last_poll_ms_ = 0;
    std::atomic<bool> title_stale_{false};
    std::string shown_title_;
    int shown_length_ms_ = -1;
    int position_at_end_ms_ = -1;
    void after_pump();
    void read_title();

    // The output's format and clocks, guarded by lock_.
    int rate_ = 0;
    int channels_ = 0;
    int clock_base_ms_ = 0;
    uint64_t bytes_since_clock_ = 0;
    uint64_t unheard_bytes_ = 0;

    void drain_paced_buffer();
    uint32_t paced_buffer_bytes_ = 0;
    uint32_t paced_bytes_per_second_ = 0;
    double paced_queued_ = 0;
    uint64_t paced_clock_ms_ = 0;
    bool paced_paused_ = false;
};
