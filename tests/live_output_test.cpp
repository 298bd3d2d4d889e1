// Tests of the live output module behind `tolvane play`, driven as the
// player module drives it, against a fake sound card whose playing the test
// moves on by hand: the clocks count only what the card has played, the room
// is the buffer's, Flush drops and restarts the clock, Pause holds the card,
// and the next bank entry's Open takes its own format. Last, the null device
// keeps real time.

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tools/tolvane/live/live_output.h"
#include "tools/tolvane/live/sound_device.h"

namespace {

// ---- The fake sound card ------------------------------------------------------

struct fake_card {
    std::mutex lock;
    bool fail_open = false;
    std::string open_error;
    uint32_t sample_rate = 0;
    uint32_t channels = 0;
    int opens = 0;
    int closes = 0;
    int drops = 0;
    bool paused = false;
    int writes_while_paused = 0;
    uint64_t received_frames = 0;
    uint64_t played_frames = 0;
    uint64_t played_at_last_close = 0;
};

fake_card card;

void* fake_open(const char*, uint32_t sample_rate, uint32_t channels, char* error, size_t error_capacity) {
    std::lock_guard<std::mutex> guard(card.lock);
    if (card.fail_open) {
        snprintf(error, error_capacity, "%s", card.open_error.c_str());
        return nullptr;
    }
    card.opens++;
    card.sample_rate = sample_rate;
    card.channels = channels;
    card.paused = false;
    card.received_frames = 0;
    card.played_frames = 0;
    return &card;
}

void fake_close(void*) {
    std::lock_guard<std::mutex> guard(card.lock);
    card.closes++;
    card.played_at_last_close = card.played_frames;
}

bool fake_write(void*, const int16_t*, uint32_t frames) {
    std::lock_guard<std::mutex> guard(card.lock);
    // Counted rather than asserted: this runs on the output's own thread.
    if (card.paused) card.writes_while_paused++;
    card.received_frames += frames;
    return true;
}

uint32_t fake_delay_frames(void*) {
    std::lock_guard<std::mutex> guard(card.lock);
    return (uint32_t)(card.received_frames - card.played_frames);
}

void fake_pause(void*, bool paused) {
    std::lock_guard<std::mutex> guard(card.lock);
    card.paused = paused;
}

void fake_drop(void*) {
    std::lock_guard<std::mutex> guard(card.lock);
    card.drops++;
    card.played_frames = card.received_frames;
}

const sound_device FAKE_DEVICE = {fake_open, fake_close, fake_write, fake_delay_frames, fake_pause, fake_drop};

// The card plays frames of what it holds.
void card_plays(uint64_t frames) {
    std::lock_guard<std::mutex> guard(card.lock);
    card.played_frames += frames;
    if (card.played_frames > card.received_frames) card.played_frames = card.received_frames;
}

template <typename T>
T card_read(T fake_card::*field) {
    std::lock_guard<std::mutex> guard(card.lock);
    return card.*field;
}

bool wait_until(const std::function<bool()>& condition, uint32_t timeout_ms = 5000) {
    uint64_t deadline = clock_ms() + timeout_ms;
    while (!condition()) {
        if (clock_ms() > deadline) return false;
        sleep_ms(1);
    }
    return true;
}

// ---- Driving the output as the module does -----------------------------------

class LiveOutput : public ::testing::Test {
protected:
    void SetUp() override {
        {
            std::lock_guard<std::mutex> guard(card.lock);
            card.fail_open = false;
            card.opens = 0;
            card.closes = 0;
            card.drops = 0;
            card.writes_while_paused = 0;
        }
        live_output_use_device(&FAKE_DEVICE, "fake");
        out = live_output_module();
    }
    void TearDown() override {
        out->Close();
        EXPECT_EQ(0, card_read(&fake_card::writes_while_paused));
    }

    // Writes frames of silence in block sets of 65 frames, as the module
    // does, each only once CanWrite has room for it. Returns the bytes
    // written; stops early when the room stays short.
    uint64_t write_frames(uint64_t frames, uint32_t channels) {
        std::vector<char> block(65 * 2 * channels, 0);
        uint64_t written = 0;
        while (frames > 0) {
            uint32_t count = frames < 65 ? (uint32_t)frames : 65;
            int bytes = (int)(count * 2 * channels);
            if (!wait_until([&] { return out->CanWrite() >= bytes; }, 200)) break;
            out->Write(block.data(), bytes);
            written += (uint64_t)bytes;
            frames -= count;
        }
        return written;
    }

    Out_Module* out = nullptr;
};

int ring_bytes(uint32_t sample_rate, uint32_t channels) {
    return (int)((uint64_t)sample_rate * LIVE_BUFFER_MS / 1000 * 2 * channels);
}

struct format_case {
    uint32_t sample_rate;
    uint32_t channels;
};

const format_case FORMATS[] = {{8000, 1}, {22050, 2}, {44100, 2}, {48000, 6}};

TEST_F(LiveOutput, ClocksCountWhatWasWrittenAndWhatTheCardPlayed) {
    for (const format_case& f : FORMATS) {
        SCOPED_TRACE(testing::Message() << f.sample_rate << " Hz, " << f.channels << " ch");
        ASSERT_GE(out->Open((int)f.sample_rate, (int)f.channels, 16, -1, -1), 0);
        EXPECT_EQ(f.sample_rate, card_read(&fake_card::sample_rate));
        EXPECT_EQ(f.channels, card_read(&fake_card::channels));
        EXPECT_EQ(ring_bytes(f.sample_rate, f.channels), out->CanWrite());
        EXPECT_EQ(0, out->IsPlaying());

        // One second, all of it handed to the card and none of it played.
        ASSERT_EQ((uint64_t)f.sample_rate * 2 * f.channels, write_frames(f.sample_rate, f.channels));
        EXPECT_EQ(1000, out->GetWrittenTime());
        ASSERT_TRUE(wait_until([&] { return card_read(&fake_card::received_frames) == f.sample_rate; }));
        EXPECT_EQ(0, out->GetOutputTime());
        EXPECT_EQ(1, out->IsPlaying());

        uint32_t quarter = f.sample_rate / 4;
        int quarter_ms = (int)((uint64_t)quarter * 1000 / f.sample_rate);
        card_plays(quarter);
        EXPECT_TRUE(wait_until([&] { return out->GetOutputTime() == quarter_ms; })) << out->GetOutputTime();
        EXPECT_EQ(1, out->IsPlaying());
        EXPECT_EQ(1000, out->GetWrittenTime());

        card_plays(f.sample_rate);
        EXPECT_TRUE(wait_until([&] { return out->IsPlaying() == 0; }));
        EXPECT_EQ(1000, out->GetOutputTime());
        out->Close();
    }
}

TEST_F(LiveOutput, WhilePausedTheBufferFillsAndThenHasNoRoom) {
    ASSERT_GE(out->Open(22050, 2, 16, -1, -1), 0);
    EXPECT_EQ(0, out->Pause(1));
    ASSERT_TRUE(wait_until([] { return card_read(&fake_card::paused); }));

    uint64_t written = write_frames(22050 * 3, 2);
    int ring = ring_bytes(22050, 2);
    EXPECT_LE(written, (uint64_t)ring);
    EXPECT_GT(written, (uint64_t)ring - 65 * 4) << "the whole buffer takes sound";
    EXPECT_LT(out->CanWrite(), 65 * 4);
    EXPECT_EQ(0u, card_read(&fake_card::received_frames));
    EXPECT_EQ(1, out->IsPlaying());
    EXPECT_EQ(0, out->GetOutputTime());

    EXPECT_EQ(1, out->Pause(0));
    EXPECT_TRUE(wait_until([] { return !card_read(&fake_card::paused); }));
    EXPECT_TRUE(wait_until([&] { return card_read(&fake_card::received_frames) * 4 == written; }));
    EXPECT_EQ(ring, out->CanWrite());
}

TEST_F(LiveOutput, FlushDropsWhatIsQueuedAndRestartsTheClocks) {
    ASSERT_GE(out->Open(8000, 1, 16, -1, -1), 0);
    write_frames(8000, 1);
    ASSERT_TRUE(wait_until([] { return card_read(&fake_card::received_frames) == 8000; }));
    card_plays(2400);
    ASSERT_TRUE(wait_until([&] { return out->GetOutputTime() == 300; }));

    out->Flush(7000);
    EXPECT_EQ(7000, out->GetOutputTime());
    EXPECT_EQ(7000, out->GetWrittenTime());
    EXPECT_EQ(ring_bytes(8000, 1), out->CanWrite());
    EXPECT_TRUE(wait_until([] { return card_read(&fake_card::drops) == 1; }));
    EXPECT_TRUE(wait_until([&] { return out->IsPlaying() == 0; }));

    write_frames(4000, 1);
    EXPECT_EQ(7500, out->GetWrittenTime());
    ASSERT_TRUE(wait_until([] { return card_read(&fake_card::received_frames) == 8000 + 4000; }));
    EXPECT_EQ(7000, out->GetOutputTime());
    card_plays(1600);
    EXPECT_TRUE(wait_until([&] { return out->GetOutputTime() == 7200; })) << out->GetOutputTime();
}

TEST_F(LiveOutput, FlushWhilePausedStaysPaused) {
    ASSERT_GE(out->Open(8000, 1, 16, -1, -1), 0);
    out->Pause(1);
    write_frames(4000, 1);
    out->Flush(3000);
    EXPECT_EQ(3000, out->GetOutputTime());
    write_frames(800, 1);
    sleep_ms(30);
    EXPECT_EQ(0u, card_read(&fake_card::received_frames));
    EXPECT_TRUE(card_read(&fake_card::paused));
    out->Pause(0);
    EXPECT_TRUE(wait_until([] { return card_read(&fake_card::received_frames) == 800; }));
    card_plays(800);
    EXPECT_TRUE(wait_until([&] { return out->GetOutputTime() == 3100; })) << out->GetOutputTime();
}

// A bank's next entry opens the output again, without a Close, in its own
// format. As with the player's own output, what the old device holds plays
// out first, and a paused device is dropped: the new one plays.
TEST_F(LiveOutput, TheNextEntrysOpenPlaysOutTheOldSoundOrDropsAPausedDevice) {
    ASSERT_GE(out->Open(44100, 2, 16, -1, -1), 0);
    write_frames(4410, 2);
    ASSERT_TRUE(wait_until([] { return card_read(&fake_card::received_frames) == 4410; }));
    std::thread listener([] {
        sleep_ms(50);
        card_plays(4410);
    });
    ASSERT_GE(out->Open(22050, 1, 16, -1, -1), 0);
    listener.join();
    EXPECT_EQ(2, card_read(&fake_card::opens));
    EXPECT_EQ(1, card_read(&fake_card::closes));
    EXPECT_EQ(4410u, card_read(&fake_card::played_at_last_close));
    EXPECT_EQ(22050u, card_read(&fake_card::sample_rate));
    EXPECT_EQ(1u, card_read(&fake_card::channels));
    EXPECT_EQ(0, out->GetWrittenTime());
    EXPECT_EQ(0, out->GetOutputTime());
    EXPECT_EQ(ring_bytes(22050, 1), out->CanWrite());

    write_frames(2205, 1);
    out->Pause(1);
    ASSERT_TRUE(wait_until([] { return card_read(&fake_card::paused); }));
    ASSERT_GE(out->Open(32000, 1, 16, -1, -1), 0);
    EXPECT_EQ(3, card_read(&fake_card::opens));
    EXPECT_FALSE(card_read(&fake_card::paused));
    EXPECT_EQ(0, out->Pause(0)) << "the new device plays";
}

TEST_F(LiveOutput, AFailedOpenLeavesItsReason) {
    {
        std::lock_guard<std::mutex> guard(card.lock);
        card.fail_open = true;
        card.open_error = "cannot open \"fake\": no card here";
    }
    EXPECT_LT(out->Open(44100, 2, 16, -1, -1), 0);
    EXPECT_EQ("cannot open \"fake\": no card here", live_output_last_error());
    EXPECT_EQ(0, out->CanWrite());
    EXPECT_EQ(0, out->IsPlaying());
    out->Close();
    EXPECT_EQ("", live_output_last_error());

    {
        std::lock_guard<std::mutex> guard(card.lock);
        card.fail_open = false;
    }
    EXPECT_LT(out->Open(44100, 2, 8, -1, -1), 0) << "only 16-bit sound";
    EXPECT_NE("", live_output_last_error());
    EXPECT_GE(out->Open(44100, 2, 16, -1, -1), 0);
    EXPECT_EQ("", live_output_last_error());
}

// ---- The null device keeps real time --------------------------------------------

TEST_F(LiveOutput, TheNullDevicePlaysInRealTimeAndHoldsWhilePaused) {
    live_output_use_device(sound_device_named(NULL_DEVICE_NAME), NULL_DEVICE_NAME);
    ASSERT_GE(out->Open(8000, 1, 16, -1, -1), 0);
    uint64_t started_ms = clock_ms();
    write_frames(4800, 1);  // 600 ms

    sleep_ms(150);
    out->Pause(1);
    sleep_ms(30);
    int paused_at_ms = out->GetOutputTime();
    EXPECT_GT(paused_at_ms, 50);
    EXPECT_LT(paused_at_ms, 600);
    sleep_ms(300);
    EXPECT_EQ(paused_at_ms, out->GetOutputTime()) << "the clock stands still while paused";
    out->Pause(0);

    EXPECT_TRUE(wait_until([&] { return out->IsPlaying() == 0; }));
    uint64_t elapsed_ms = clock_ms() - started_ms;
    // 600 ms of sound and 330 ms of pause; the upper bound only guards
    // against a device that never finishes.
    EXPECT_GE(elapsed_ms, 880u);
    EXPECT_LT(elapsed_ms, 4000u);
    EXPECT_EQ(600, out->GetOutputTime());
}

}  // namespace
