// Config and About on POSIX hosts, where message boxes go to stderr.

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_host.h"

namespace {

std::string box_shown_by(void (*HOST_CALL show)(host_window)) {
    testing::internal::CaptureStderr();
    show(nullptr);
    return testing::internal::GetCapturedStderr();
}

TEST(AboutBoxTest, ConfigSaysThereIsNothingToConfigure) {
    test_host host;
    EXPECT_EQ(box_shown_by(host.module->Config), "[Configuration]\nNo configuration\n");
}

TEST(AboutBoxTest, AboutShowsFiveLinesUnderTheName) {
    test_host host;
    std::string box = box_shown_by(host.module->About);
    ASSERT_EQ(box.rfind("[Tolvane]\nTolvane " TOLVANE_VERSION "\nby ", 0), 0u) << box;
    const char* prefixes[] = {"\nby ", "\ne-mail: ", "\nweb:    ", "\nplugin: "};
    size_t at = 0;
    for (const char* prefix : prefixes) {
        at = box.find(prefix, at);
        EXPECT_NE(at, std::string::npos) << prefix;
    }
}

}  // namespace
