// tolvane's stall watch: the wait for the end of an item gives up only when
// the module has stopped calling the output for the stall limit, never while
// calls keep coming, however long the item takes.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/platform.h"
#include "tools/tolvane/session/host_session.h"

namespace {

const uint32_t STALL_LIMIT_MS = 300;

std::atomic<uint32_t> output_calls{0};

uint32_t frozen_calls() {
    return output_calls.load();
}

uint32_t moving_calls() {
    return output_calls.fetch_add(1) + 1;
}

struct pump_script {
    host_session* session;
    uint64_t end_after_ms;  // the end-of-stream message "arrives" then; 0: never
    uint64_t started_ms;
};

void end_when_due(void* context) {
    pump_script* script = (pump_script*)context;
    if (script->end_after_ms && clock_ms() - script->started_ms >= script->end_after_ms)
        script->session->end_of_stream_messages = 1;
}

intptr_t ignore_messages(void*, uint32_t, uintptr_t, intptr_t) {
    return 0;
}

TEST(StallWatch, GivesUpOnlyWhenTheOutputHearsNothing) {
    const struct {
        const char* name;
        uint32_t (*calls)();
        uint64_t end_after_ms;
        bool ended;
        uint64_t min_ms;
    } cases[] = {
        {"silent module", frozen_calls, 0, false, STALL_LIMIT_MS},
        {"busy module, long item", moving_calls, 3 * STALL_LIMIT_MS, true, 3 * STALL_LIMIT_MS},
        {"silent module that ends in time", frozen_calls, STALL_LIMIT_MS / 3, true, STALL_LIMIT_MS / 3},
    };
    for (const auto& c : cases) {
        host_session session;
        session.window = window_create(ignore_messages, nullptr);
        ASSERT_NE(session.window, nullptr);
        pump_script script = {&session, c.end_after_ms, clock_ms()};
        bool ended = session_wait_for_end(&session, c.calls, STALL_LIMIT_MS, end_when_due, &script);
        uint64_t elapsed = clock_ms() - script.started_ms;
        EXPECT_EQ(ended, c.ended) << c.name;
        EXPECT_GE(elapsed, c.min_ms) << c.name;
        // Loose: a loaded machine may pump late, but the wait must end.
        EXPECT_LE(elapsed, c.min_ms + 5000) << c.name;
        window_destroy(session.window);
    }
}

}  // namespace
