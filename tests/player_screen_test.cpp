// Tests of the lines tolvane's screen draws: clock times, and the status line
// with its progress bar, which must fit the terminal at every width.

#include <gtest/gtest.h>

#include <string>

#include "tools/tolvane/live/player_screen.h"

namespace {

TEST(PlayerScreen, ClockTimesCountWholeSeconds) {
    const struct {
        int time_ms;
        const char* shown;
    } cases[] = {
        {0, "0:00"},        {999, "0:00"},        {1000, "0:01"},         {59999, "0:59"}, {61000, "1:01"},
        {3599999, "59:59"}, {3600000, "1:00:00"}, {36061000, "10:01:01"}, {-5000, "0:00"}, {2147483647, "596:31:23"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.shown, format_clock(c.time_ms)) << c.time_ms;
}

struct status_case {
    int position_ms;
    int length_ms;
    bool paused;
    int width;
    const char* expected;
};

const status_case STATUS_CASES[] = {
    // The bar is 40 columns at most.
    {0, 60000, false, 80, "[----------------------------------------]  0:00 / 1:00"},
    {30000, 60000, false, 80, "[####################--------------------]  0:30 / 1:00"},
    {60000, 60000, true, 80, "[########################################]  1:00 / 1:00  paused"},
    // Past the end (the clock runs on while the last sound plays out) and
    // with no length known, the bar stays within itself.
    {90000, 60000, false, 80, "[########################################]  1:30 / 1:00"},
    {5000, 0, false, 80, "[----------------------------------------]  0:05 / 0:00"},
    // Narrower terminals get a shorter bar, then none.
    {30000, 60000, false, 30, "[#######-------]  0:30 / 1:00"},
    {30000, 60000, true, 34, "[#####-----]  0:30 / 1:00  paused"},
    {30000, 60000, true, 33, "0:30 / 1:00  paused"},
    {30000, 60000, true, 10, "0:30 / 1:00  paused"},
};

TEST(PlayerScreen, StatusLineFitsTheWidth) {
    for (const status_case& c : STATUS_CASES) {
        SCOPED_TRACE(testing::Message() << c.position_ms << " / " << c.length_ms << " at " << c.width);
        std::string line = status_line(c.position_ms, c.length_ms, c.paused, c.width);
        EXPECT_EQ(c.expected, line);
    }
    for (int width = 1; width <= 120; ++width) {
        std::string line = status_line(3599000, 3600000, true, width);
        // The last column stays free unless even the bare times do not fit.
        if (width > 25) {
            EXPECT_LT((int)line.size(), width) << width;
        }
    }
}

}  // namespace
