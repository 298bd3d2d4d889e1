// Config and About on Windows: the message boxes are caught as they open with
// a CBT hook on this thread, which reads their caption, text and owner and
// closes them, so the test needs no one to click OK.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tests/support/test_host.h"

namespace {

struct shown_box {
    int count = 0;
    std::string caption;
    std::string text;
    HWND owner = nullptr;
};

shown_box box;
HHOOK hook;

LRESULT CALLBACK catch_message_box(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HCBT_ACTIVATE) {
        HWND window = (HWND)wparam;
        char buffer[1024] = "";
        GetClassNameA(window, buffer, sizeof buffer);
        if (std::string(buffer) == "#32770") {
            ++box.count;
            GetWindowTextA(window, buffer, sizeof buffer);
            box.caption = buffer;
            // A message box's text is its static control, id 0xFFFF.
            GetDlgItemTextA(window, 0xFFFF, buffer, sizeof buffer);
            box.text = buffer;
            box.owner = GetWindow(window, GW_OWNER);
            PostMessageA(window, WM_COMMAND, IDOK, 0);
        }
    }
    return CallNextHookEx(hook, code, wparam, lparam);
}

shown_box box_shown_by(void(HOST_CALL* show)(host_window), HWND parent) {
    box = shown_box();
    hook = SetWindowsHookExA(WH_CBT, catch_message_box, NULL, GetCurrentThreadId());
    show(parent);
    UnhookWindowsHookEx(hook);
    return box;
}

class AboutBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        parent = CreateWindowExA(0, "STATIC", "parent", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, NULL, NULL, NULL, NULL);
    }
    void TearDown() override {
        DestroyWindow(parent);
    }
    test_host host;
    HWND parent = nullptr;
};

TEST_F(AboutBoxTest, ConfigSaysThereIsNothingToConfigure) {
    shown_box shown = box_shown_by(host.module->Config, parent);
    EXPECT_EQ(shown.count, 1);
    EXPECT_EQ(shown.caption, "Configuration");
    EXPECT_EQ(shown.text, "No configuration");
    EXPECT_EQ(shown.owner, parent);
}

TEST_F(AboutBoxTest, AboutShowsFiveLinesUnderTheName) {
    shown_box shown = box_shown_by(host.module->About, parent);
    EXPECT_EQ(shown.count, 1);
    EXPECT_EQ(shown.caption, "Tolvane");
    EXPECT_EQ(shown.text.rfind("Tolvane " TOLVANE_VERSION "\nby ", 0), 0u) << shown.text;
    const char* prefixes[] = {"\nby ", "\ne-mail: ", "\nweb:    ", "\nplugin: "};
    size_t at = 0;
    for (const char* prefix : prefixes) {
        at = shown.text.find(prefix, at);
        EXPECT_NE(at, std::string::npos) << prefix;
    }
    EXPECT_EQ(shown.owner, parent);
}

}  // namespace
