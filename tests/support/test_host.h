// A test host for the module: it fills the host members of the module record
// with services that record every call (name and arguments, in order) and an
// output plug-in whose room, playing state and clock the test scripts. One
// test_host exists at a time; the callbacks find it through a static pointer.
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
    std::atomic<int> output_time_ms{0};
    std::atomic<int> written_time_ms{0};
    std::atomic<int> dsp_active{0};
    // Samples per channel the DSP hands back for n given; identity by default.
    std::function<int(short* samples, int n, int channels)> dsp;
    // A paced output: instead of the scripted room and playing state, a
    // buffer of paced_buffer_bytes that plays paced_bytes_per_second away in
    // real time (held while paused, emptied by Flush), as a sound card does.
    void use_paced_output(uint32_t buffer_bytes, uint32_t bytes_per_second);
    // What the window answers to the inflate-table query.
    std::atomic<intptr_t> inflate_table_answer{0};
    // Polling calls (CanWrite, IsPlaying, dsp_isactive) are counted but only
    // logged when this is set, to keep long plays' logs small.
    std::atomic<bool> log_polls{false};

    // A copy of the calls so far, or those with one name.
    std::vector<host_call> calls() const;
    std::vector<host_call> calls_named(const std::string& name) const;
    std::vector<std::string> call_names() const;
    // Forgets the calls, the written bytes and the end-of-stream messages.
    void clear_calls();
    // Every byte written to the output, in order.
    std::vector<uint8_t> written() const;
    size_t written_bytes() const;
    int can_write_polls() const;

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

    // Plays path through the module's Play with a writable copy of the path;
    // the copy (possibly rewritten by the module) is kept in played_path.
    int play(const std::string& path);
    std::string played_path;

    // Called by the static callbacks.
    void record(const char* name, std::vector<long long> args);
    void record_write(const char* buffer, int byte_count);
    void note_poll();
    // The paced output's state, updated to the present on every call.
    bool paced() const { return paced_bytes_per_second_ != 0; }
    int paced_room();
    int paced_playing();
    void paced_write(int byte_count);
    void paced_flush();
    void paced_pause(int pause);
    intptr_t on_message(uint32_t message, uintptr_t wparam, intptr_t lparam);

private:
    mutable std::mutex lock_;
    std::vector<host_call> calls_;
    std::vector<uint8_t> written_;
    int polls_ = 0;
    int end_of_stream_ = 0;
    window_ref window_;
    Out_Module output_;
    std::vector<char> path_buffer_;

    void drain_paced_buffer();
    uint32_t paced_buffer_bytes_ = 0;
    uint32_t paced_bytes_per_second_ = 0;
    double paced_queued_ = 0;
    uint64_t paced_clock_ms_ = 0;
    bool paced_paused_ = false;
};
