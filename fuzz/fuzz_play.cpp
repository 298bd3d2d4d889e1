// Fuzz target: a whole play through the module with the recording test host.
// Byte 0 picks the file kind, bytes 1-8 are four scripted host actions
// (seek, pause, full or draining output, queries, an early Stop) carried out
// while the decode thread runs, and the rest is the file. Every play must
// end: by Stop, or by exactly one end-of-stream message.

#include <stdlib.h>

#include <string>
#include <thread>

#include "fuzz/fuzz_support.h"
#include "player/player_state.h"
#include "plugin/module.h"
#include "tests/support/test_host.h"

namespace {

const char* const EXTENSIONS[] = {".wav", ".xwb", ".zwb", ".xsh", ".xsd", ".dat"};
const size_t SCRIPT_BYTES = 8;
const int ROOM = 1 << 30;

// Lets the decode thread run for up to `rounds` turns, or until it has
// written `bytes` or ended the stream. Turns, not milliseconds: a fuzzing run
// must not spend its time asleep.
void let_decoder_run(test_host& host, size_t bytes, int rounds) {
    for (int i = 0; i < rounds; ++i) {
        if (host.written_bytes() >= bytes || host.end_of_stream_messages()) return;
        host.pump_pending();
        std::this_thread::yield();
    }
}

std::string write_input(uint8_t kind, const uint8_t* data, size_t size) {
    const char* extension = EXTENSIONS[kind % 6];
    if (kind % 6 == 3 || kind % 6 == 4) {
        // A pair: the first half is the header, the rest the data.
        write_fuzz_file("input.xsh", data, size / 2);
        write_fuzz_file("input.xsd", data + size / 2, size - size / 2);
        return fuzz_folder() + "input" + extension;
    }
    return write_fuzz_file(std::string("input") + extension, data, size);
}

// Returns false when the script stopped the item.
bool run_action(test_host& host, uint8_t action, uint8_t parameter) {
    switch (action % 7) {
    case 0:
        let_decoder_run(host, (size_t)parameter * 64, (parameter & 15) + 1);
        return true;
    case 1:
        host.module->SetOutputTime((int)parameter * 250 - 1000);
        let_decoder_run(host, SIZE_MAX, 4);
        return true;
    case 2:
        if (parameter & 1)
            host.module->Pause();
        else
            host.module->UnPause();
        return true;
    case 3: {
        char title[HOST_TITLE_BYTES];
        int length = 0;
        host.module->GetOutputTime();
        host.module->GetFileInfo(nullptr, title, &length);
        host.module->GetLength();
        return true;
    }
    case 4:
        host.module->Stop();
        return false;
    case 5:
        host.can_write = (parameter & 1) ? 0 : ROOM;
        return true;
    default:
        host.is_playing = parameter & 1;
        return true;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 + SCRIPT_BYTES) return 0;
    clear_fuzz_folder();
    const uint8_t* script = data + 1;
    std::string path = write_input(data[0], data + 1 + SCRIPT_BYTES, size - 1 - SCRIPT_BYTES);
    {
        test_host host;
        host.log_polls = false;
        if (host.play(path) == 0) {
            bool playing = true;
            for (size_t i = 0; playing && i < SCRIPT_BYTES; i += 2)
                playing = run_action(host, script[i], script[i + 1]);
            if (playing) {
                host.can_write = ROOM;
                host.is_playing = 0;
                // A play that never ends is a hang in the user's player.
                if (!host.wait_for_end_of_stream(10000)) abort();
            }
            host.module->Stop();
            if (playing) {
                // Stop has joined the decode thread, so every message it
                // posted is in the queue by now.
                host.pump_pending();
                if (host.end_of_stream_messages() != 1) abort();
            }
        }
        if (player_state.file != INVALID_FILE || player_state.decode_thread_handle) abort();
    }
    release_item();
    clear_fuzz_folder();
    return 0;
}
