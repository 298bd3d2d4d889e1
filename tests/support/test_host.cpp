// The recording test host and its scriptable output plug-in.

#include "tests/support/test_host.h"

#include <string.h>

#include "plugin/module.h"

namespace {

test_host* current = nullptr;

// What the player hands the module's SetVolume and SetPan before each Play.
const int PLAYER_VOLUME = 255;
const int PLAYER_PAN = 0;
const uint32_t PLAYER_POLL_MS = 100;
// An Open that waits for the previous sound gives up after this long.
const uint64_t OPEN_PLAY_OUT_LIMIT_MS = 10000;

void rec(const char* name, std::vector<long long> args = {}) {
    if (current) current->record(name, std::move(args));
}

// ---- Output plug-in ----
int HOST_CALL out_open(int rate, int channels, int bits, int buffer_ms, int prebuffer_ms) {
    rec("Open", {rate, channels, bits, buffer_ms, prebuffer_ms});
    return current->output_open(rate, channels);
}
void HOST_CALL out_close() {
    rec("Close");
}
int HOST_CALL out_write(char* buffer, int byte_count) {
    current->record_write(buffer, byte_count);
    return 0;
}
int HOST_CALL out_can_write() {
    if (current->log_polls.load()) rec("CanWrite");
    return current->room();
}
int HOST_CALL out_is_playing() {
    if (current->log_polls.load()) rec("IsPlaying");
    return current->playing();
}
int HOST_CALL out_pause(int pause) {
    rec("Pause", {pause});
    current->paced_pause(pause);
    return 0;
}
void HOST_CALL out_set_volume(int volume) {
    rec("SetVolume", {volume});
}
void HOST_CALL out_set_pan(int pan) {
    rec("SetPan", {pan});
}
void HOST_CALL out_flush(int time_ms) {
    rec("Flush", {time_ms});
    current->output_flush(time_ms);
}
int HOST_CALL out_get_output_time() {
    if (current->log_polls.load()) rec("GetOutputTime");
    return current->output_time();
}
int HOST_CALL out_get_written_time() {
    if (current->log_polls.load()) rec("GetWrittenTime");
    return current->written_time();
}

// ---- Visualisation, DSP and info services ----
void HOST_CALL sa_vsa_init(int latency_ms, int rate) {
    rec("SAVSAInit", {latency_ms, rate});
}
void HOST_CALL sa_vsa_deinit() {
    rec("SAVSADeInit");
}
void HOST_CALL sa_add_pcm(void* pcm, int channels, int bits, int time_ms) {
    current->record_visualisation("SAAddPCMData", pcm, channels, bits, time_ms);
}
int HOST_CALL sa_get_mode() {
    rec("SAGetMode");
    return 0;
}
void HOST_CALL sa_add(void*, int, int) {
    rec("SAAdd");
}
void HOST_CALL vsa_add_pcm(void* pcm, int channels, int bits, int time_ms) {
    current->record_visualisation("VSAAddPCMData", pcm, channels, bits, time_ms);
}
int HOST_CALL vsa_get_mode(int*, int*) {
    rec("VSAGetMode");
    return 0;
}
void HOST_CALL vsa_add(void*, int) {
    rec("VSAAdd");
}
void HOST_CALL vsa_set_info(int rate, int channels) {
    rec("VSASetInfo", {rate, channels});
}
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
    current->note_set_info(bitrate, rate_khz);
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

    // As the player fills the record: everything but SetInfo and outMod
    // before Init, SetInfo once Init has returned, outMod at the first play.
    module->hMainWindow = window_;
    module->hDllInstance = (host_instance)&output_;
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
    module->SetInfo = nullptr;
    module->outMod = nullptr;
    module->Init();
    module->SetInfo = set_info;
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
    visualisation_.clear();
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

std::vector<visualisation_capture> test_host::visualisation() const {
    std::lock_guard<std::mutex> guard(lock_);
    return visualisation_;
}

int test_host::writes_beyond_room() const {
    std::lock_guard<std::mutex> guard(lock_);
    return writes_beyond_room_;
}

uint64_t test_host::unheard_bytes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return unheard_bytes_;
}

int test_host::end_of_stream_messages() const {
    std::lock_guard<std::mutex> guard(lock_);
    return end_of_stream_;
}

std::string test_host::shown_title() const {
    return shown_title_;
}

int test_host::shown_length_ms() const {
    return shown_length_ms_;
}

int test_host::position_at_end_ms() const {
    return position_at_end_ms_;
}

// ---- The player's side ----------------------------------------------------------

// Written only when it changes: the player never changes it while an item
// plays, and the decode thread reads it.
void test_host::attach_output() {
    if (module->outMod != &output_) module->outMod = &output_;
}

int test_host::play(const std::string& path) {
    // Messages the previous item posted before it was stopped are handled
    // first, as the player's message loop would, so that one cannot end the
    // new item.
    window_pump(window_, 0);
    attach_output();
    module->SetVolume(PLAYER_VOLUME);
    module->SetPan(PLAYER_PAN);
    path_buffer_.assign(path.begin(), path.end());
    path_buffer_.push_back('\0');
    int result = module->Play(path_buffer_.data());
    played_path = path_buffer_.data();
    item_playing_ = result == 0;
    if (item_playing_) {
        read_title();
        shown_length_ms_ = module->GetLength();
        last_poll_ms_ = clock_ms();
    }
    return result;
}

// A module of version 0x100 is asked about the item playing with "".
void test_host::read_title() {
    char title[PLAYER_TITLE_BYTES] = "";
    char current_item[1] = "";
    int length_ms = -1;
    title_stale_ = false;
    module->GetFileInfo(current_item, title, &length_ms);
    shown_title_ = title;
}

// What the player does between messages: the title when SetInfo made it
// stale, and the position and length every 100 ms.
void test_host::after_pump() {
    if (!item_playing_) return;
    if (title_stale_) read_title();
    uint64_t now = clock_ms();
    if (now - last_poll_ms_ < PLAYER_POLL_MS) return;
    last_poll_ms_ = now;
    module->GetOutputTime();
    shown_length_ms_ = module->GetLength();
}

bool test_host::wait_for_end_of_stream(uint32_t timeout_ms) {
    return wait_until([this] { return end_of_stream_messages() > 0; }, timeout_ms);
}

void test_host::pump_for(uint32_t milliseconds) {
    uint64_t end = clock_ms() + milliseconds;
    while (clock_ms() < end) {
        window_pump(window_, 5);
        after_pump();
    }
}

int test_host::pump_pending() {
    int handled = window_pump(window_, 0);
    after_pump();
    return handled;
}

bool test_host::wait_until(const std::function<bool()>& predicate, uint32_t timeout_ms) {
    uint64_t end = clock_ms() + timeout_ms;
    while (!predicate()) {
        if (clock_ms() >= end) return false;
        window_pump(window_, 2);
        after_pump();
    }
    return true;
}

intptr_t test_host::on_message(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        calls_.push_back(host_call{"message", {(long long)message, (long long)wparam, (long long)lparam}});
        if (message == HOST_MSG_END_OF_STREAM) ++end_of_stream_;
    }
    if (message == HOST_MSG_END_OF_STREAM && item_playing_) {
        position_at_end_ms_ = module->GetOutputTime();
        item_playing_ = false;
        module->Stop();
        if (!queue.empty()) {
            std::string next = queue.front();
            queue.erase(queue.begin());
            play(next);
        }
    }
    if (message == HOST_MSG_QUERY && wparam == HOST_QUERY_INFLATE_WPARAM && lparam == HOST_QUERY_INFLATE_LPARAM)
        return inflate_table_answer.load();
    return 0;
}

void test_host::note_set_info(int bitrate_kbps, int rate_khz) {
    if (bitrate_kbps > 0 && rate_khz > 0) title_stale_ = true;
}

// ---- Recording --------------------------------------------------------------------

void test_host::record(const char* name, std::vector<long long> args) {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(host_call{name, std::move(args)});
}

void test_host::record_write(const char* buffer, int byte_count) {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(host_call{"Write", {byte_count}});
    // Every write needs room reported for it since the previous one.
    if (byte_count > last_room_) ++writes_beyond_room_;
    last_room_ = 0;
    if (byte_count <= 0) return;
    written_.insert(written_.end(), buffer, buffer + byte_count);
    bytes_since_clock_ += (uint64_t)byte_count;
    if (paced_bytes_per_second_ != 0) {
        drain_paced_buffer();
        paced_queued_ += byte_count;
    }
}

// The player's visualisation reads 576 frames whatever it is given; so does
// this one, so that a sanitizer build catches a shorter buffer.
void test_host::record_visualisation(const char* name, const void* pcm, int channels, int bits, int time_ms) {
    std::vector<int16_t> samples((size_t)PLAYER_VISUALISATION_FRAMES * (channels > 0 ? channels : 0));
    if (!samples.empty()) memcpy(samples.data(), pcm, samples.size() * sizeof(int16_t));
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(host_call{name, {channels, bits, time_ms}});
    if (keep_visualisation.load())
        visualisation_.push_back(visualisation_capture{channels, time_ms, std::move(samples)});
}

// ---- The output's room, clocks and pace ---------------------------------------------

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

int test_host::room() {
    std::lock_guard<std::mutex> guard(lock_);
    ++polls_;
    int room = can_write.load();
    if (paced_bytes_per_second_ != 0) {
        drain_paced_buffer();
        double free_bytes = paced_buffer_bytes_ - paced_queued_;
        room = free_bytes > 0 ? (int)free_bytes : 0;
    }
    last_room_ = room;
    return room;
}

int test_host::playing() {
    std::lock_guard<std::mutex> guard(lock_);
    if (paced_bytes_per_second_ == 0) return is_playing.load();
    drain_paced_buffer();
    return paced_queued_ > 0 ? 1 : 0;
}

int test_host::output_open(int rate, int channels) {
    int result = open_result.load();
    if (result < 0) return result;
    bool format_changes = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        format_changes = rate != rate_ || channels != channels_;
        if (paced_bytes_per_second_ != 0 && paced_paused_) {
            // The player's output drops a paused device and opens one that plays.
            drain_paced_buffer();
            unheard_bytes_ += (uint64_t)paced_queued_;
            paced_queued_ = 0;
            paced_paused_ = false;
        }
    }
    // Another format waits for the previous sound to play out.
    uint64_t give_up = clock_ms() + OPEN_PLAY_OUT_LIMIT_MS;
    while (format_changes && paced_bytes_per_second_ != 0 && playing() && clock_ms() < give_up) sleep_ms(2);
    std::lock_guard<std::mutex> guard(lock_);
    rate_ = rate;
    channels_ = channels;
    clock_base_ms_ = 0;
    bytes_since_clock_ = 0;
    return result;
}

void test_host::output_flush(int time_ms) {
    std::lock_guard<std::mutex> guard(lock_);
    clock_base_ms_ = time_ms;
    bytes_since_clock_ = 0;
    if (paced_bytes_per_second_ == 0) return;
    drain_paced_buffer();
    unheard_bytes_ += (uint64_t)paced_queued_;
    paced_queued_ = 0;
}

int test_host::written_time() {
    if (scripted_clocks.load()) return written_time_ms.load();
    std::lock_guard<std::mutex> guard(lock_);
    uint64_t bytes_per_second = (uint64_t)rate_ * (uint64_t)channels_ * 2;
    if (bytes_per_second == 0) return clock_base_ms_;
    return clock_base_ms_ + (int)(bytes_since_clock_ * 1000 / bytes_per_second);
}

// What has been written less what the paced buffer still holds.
int test_host::output_time() {
    if (scripted_clocks.load()) return output_time_ms.load();
    std::lock_guard<std::mutex> guard(lock_);
    uint64_t bytes_per_second = (uint64_t)rate_ * (uint64_t)channels_ * 2;
    if (bytes_per_second == 0) return clock_base_ms_;
    uint64_t played = bytes_since_clock_;
    if (paced_bytes_per_second_ != 0) {
        drain_paced_buffer();
        uint64_t queued = (uint64_t)paced_queued_;
        played = queued < played ? played - queued : 0;
    }
    return clock_base_ms_ + (int)(played * 1000 / bytes_per_second);
}

void test_host::paced_pause(int pause) {
    std::lock_guard<std::mutex> guard(lock_);
    if (paced_bytes_per_second_ == 0) return;
    drain_paced_buffer();
    paced_paused_ = pause != 0;
}
