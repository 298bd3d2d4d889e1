// The recording test host and its scriptable output plug-in.

#include "tests/support/test_host.h"

#include <string.h>

#include "plugin/module.h"

namespace {

test_host* current = nullptr;

void rec(const char* name, std::vector<long long> args = {}) {
    if (current) current->record(name, std::move(args));
}

// ---- Output plug-in ----
int HOST_CALL out_open(int rate, int channels, int bits, int buffer_ms, int prebuffer_ms) {
    rec("Open", {rate, channels, bits, buffer_ms, prebuffer_ms});
    return current->open_result.load();
}
void HOST_CALL out_close() { rec("Close"); }
int HOST_CALL out_write(char* buffer, int byte_count) {
    current->record_write(buffer, byte_count);
    if (current->paced()) current->paced_write(byte_count);
    return 0;
}
int HOST_CALL out_can_write() {
    current->note_poll();
    if (current->log_polls.load()) rec("CanWrite");
    return current->paced() ? current->paced_room() : current->can_write.load();
}
int HOST_CALL out_is_playing() {
    if (current->log_polls.load()) rec("IsPlaying");
    return current->paced() ? current->paced_playing() : current->is_playing.load();
}
int HOST_CALL out_pause(int pause) {
    rec("Pause", {pause});
    if (current->paced()) current->paced_pause(pause);
    return 0;
}
void HOST_CALL out_set_volume(int volume) { rec("SetVolume", {volume}); }
void HOST_CALL out_set_pan(int pan) { rec("SetPan", {pan}); }
void HOST_CALL out_flush(int time_ms) {
    rec("Flush", {time_ms});
    if (current->paced()) current->paced_flush();
}
int HOST_CALL out_get_output_time() {
    rec("GetOutputTime");
    return current->output_time_ms.load();
}
int HOST_CALL out_get_written_time() {
    rec("GetWrittenTime");
    return current->written_time_ms.load();
}

// ---- Visualisation, DSP and info services ----
void HOST_CALL sa_vsa_init(int latency_ms, int rate) { rec("SAVSAInit", {latency_ms, rate}); }
void HOST_CALL sa_vsa_deinit() { rec("SAVSADeInit"); }
void HOST_CALL sa_add_pcm(void*, int channels, int bits, int time_ms) { rec("SAAddPCMData", {channels, bits, time_ms}); }
int HOST_CALL sa_get_mode() {
    rec("SAGetMode");
    return 0;
}
void HOST_CALL sa_add(void*, int, int) { rec("SAAdd"); }
void HOST_CALL vsa_add_pcm(void*, int channels, int bits, int time_ms) { rec("VSAAddPCMData", {channels, bits, time_ms}); }
int HOST_CALL vsa_get_mode(int*, int*) {
    rec("VSAGetMode");
    return 0;
}
void HOST_CALL vsa_add(void*, int) { rec("VSAAdd"); }
void HOST_CALL vsa_set_info(int rate, int channels) { rec("VSASetInfo", {rate, channels}); }
int HOST_CALL dsp_isactive() {
    if (current->log_polls.load()) rec("dsp_isactive");
    return current->dsp_active.load();
}
int HOST_CALL dsp_dosamples(short* samples, int n, int bits, int channels, int rate) {
    rec("dsp_dosamples", {n, bits, channels, rate});
    return current->dsp ? current->dsp(samples, n, channels) : n;
}
void HOST_CALL set_info(int bitrate, int rate_khz, int channels, int synched) {
    rec("SetInfo", {bitrate, rate_khz, channels, synched});
}

intptr_t window_proc(void* context, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    return ((test_host*)context)->on_message(message, wparam, lparam);
}

}  // namespace

test_host::test_host() : module(winampGetInModule2()) {
    current = this;
    window_ = window_create(window_proc, this);
    memset(&output_, 0, sizeof output_);
    output_.version = 0x10;
    output_.Open = out_open;
    output_.Close = out_close;
    output_.Write = out_write;
    output_.CanWrite = out_can_write;
    output_.IsPlaying = out_is_playing;
    output_.Pause = out_pause;
    output_.SetVolume = out_set_volume;
    output_.SetPan = out_set_pan;
    output_.Flush = out_flush;
    output_.GetOutputTime = out_get_output_time;
    output_.GetWrittenTime = out_get_written_time;

    module->hMainWindow = window_;
    module->hDllInstance = nullptr;
    module->SAVSAInit = sa_vsa_init;
    module->SAVSADeInit = sa_vsa_deinit;
    module->SAAddPCMData = sa_add_pcm;
    module->SAGetMode = sa_get_mode;
    module->SAAdd = sa_add;
    module->VSAAddPCMData = vsa_add_pcm;
    module->VSAGetMode = vsa_get_mode;
    module->VSAAdd = vsa_add;
    module->VSASetInfo = vsa_set_info;
    module->dsp_isactive = dsp_isactive;
    module->dsp_dosamples = dsp_dosamples;
    module->SetInfo = set_info;
    module->outMod = &output_;
    module->Init();
}

test_host::~test_host() {
    // Never leave a decode thread running into the next test.
    module->Stop();
    module->Quit();
    module->outMod = nullptr;
    module->hMainWindow = nullptr;
    window_destroy(window_);
    current = nullptr;
}

std::vector<host_call> test_host::calls() const {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
}

std::vector<host_call> test_host::calls_named(const std::string& name) const {
    std::vector<host_call> out;
    for (const host_call& call : calls())
        if (call.name == name) out.push_back(call);
    return out;
}

std::vector<std::string> test_host::call_names() const {
    std::vector<std::string> names;
    for (const host_call& call : calls()) names.push_back(call.name);
    return names;
}

void test_host::clear_calls() {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.clear();
    written_.clear();
    end_of_stream_ = 0;
}

std::vector<uint8_t> test_host::written() const {
    std::lock_guard<std::mutex> guard(lock_);
    return written_;
}

size_t test_host::written_bytes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return written_.size();
}

int test_host::can_write_polls() const {
    std::lock_guard<std::mutex> guard(lock_);
    return polls_;
}

int test_host::end_of_stream_messages() const {
    std::lock_guard<std::mutex> guard(lock_);
    return end_of_stream_;
}

bool test_host::wait_for_end_of_stream(uint32_t timeout_ms) {
    return wait_until([this] { return end_of_stream_messages() > 0; }, timeout_ms);
}

void test_host::pump_for(uint32_t milliseconds) {
    uint64_t end = clock_ms() + milliseconds;
    while (clock_ms() < end) window_pump(window_, 5);
}

int test_host::pump_pending() {
    return window_pump(window_, 0);
}

bool test_host::wait_until(const std::function<bool()>& predicate, uint32_t timeout_ms) {
    uint64_t end = clock_ms() + timeout_ms;
    while (!predicate()) {
        if (clock_ms() >= end) return false;
        window_pump(window_, 2);
    }
    return true;
}

int test_host::play(const std::string& path) {
    path_buffer_.assign(path.begin(), path.end());
    path_buffer_.push_back('\0');
    int result = module->Play(path_buffer_.data());
    played_path = path_buffer_.data();
    return result;
}

void test_host::record(const char* name, std::vector<long long> args) {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(host_call{name, std::move(args)});
}

void test_host::record_write(const char* buffer, int byte_count) {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(host_call{"Write", {byte_count}});
    if (byte_count > 0) written_.insert(written_.end(), buffer, buffer + byte_count);
}

void test_host::note_poll() {
    std::lock_guard<std::mutex> guard(lock_);
    ++polls_;
}

void test_host::use_paced_output(uint32_t buffer_bytes, uint32_t bytes_per_second) {
    std::lock_guard<std::mutex> guard(lock_);
    paced_buffer_bytes_ = buffer_bytes;
    paced_bytes_per_second_ = bytes_per_second;
    paced_queued_ = 0;
    paced_clock_ms_ = clock_ms();
    paced_paused_ = false;
}

// Called with the lock held: what played since the last call leaves the buffer.
void test_host::drain_paced_buffer() {
    uint64_t now = clock_ms();
    if (!paced_paused_) {
        paced_queued_ -= (double)(now - paced_clock_ms_) * paced_bytes_per_second_ / 1000.0;
        if (paced_queued_ < 0) paced_queued_ = 0;
    }
    paced_clock_ms_ = now;
}

int test_host::paced_room() {
    std::lock_guard<std::mutex> guard(lock_);
    drain_paced_buffer();
    double room = paced_buffer_bytes_ - paced_queued_;
    return room > 0 ? (int)room : 0;
}

int test_host::paced_playing() {
    std::lock_guard<std::mutex> guard(lock_);
    drain_paced_buffer();
    return paced_queued_ > 0 ? 1 : 0;
}

void test_host::paced_write(int byte_count) {
    std::lock_guard<std::mutex> guard(lock_);
    drain_paced_buffer();
    if (byte_count > 0) paced_queued_ += byte_count;
}

void test_host::paced_flush() {
    std::lock_guard<std::mutex> guard(lock_);
    paced_queued_ = 0;
    paced_clock_ms_ = clock_ms();
}

void test_host::paced_pause(int pause) {
    std::lock_guard<std::mutex> guard(lock_);
    drain_paced_buffer();
    paced_paused_ = pause != 0;
}

intptr_t test_host::on_message(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        calls_.push_back(host_call{"message", {(long long)message, (long long)wparam, (long long)lparam}});
        if (message == HOST_MSG_END_OF_STREAM) ++end_of_stream_;
    }
    if (message == HOST_MSG_QUERY && wparam == HOST_QUERY_INFLATE_WPARAM && lparam == HOST_QUERY_INFLATE_LPARAM)
        return inflate_table_answer.load();
    return 0;
}
