// Tests of tolvane's terminal display and keys, with the real executable on a
// pseudo-terminal: the test types keys into it and reads back what the
// program draws. Playing uses the null device, so time passes as with a sound
// card. Quitting, by q or by Ctrl-C, must leave the terminal as it was.

#include <gtest/gtest.h>

// glibc's <fcntl.h> declares a struct file_handle of its own; keep it apart
// from the platform layer's.
#define file_handle glibc_file_handle
#include <fcntl.h>
#undef file_handle
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/sample_files.h"
#include "tests/support/tool_runner.h"

namespace {

const char RIGHT_ARROW[] = "\x1b[C";
const char LEFT_ARROW[] = "\x1b[D";
const char CTRL_C[] = "\x03";

// tolvane running with a pseudo-terminal as its standard input, output and
// error, and as its controlling terminal.
class terminal_run {
public:
    ~terminal_run() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (master >= 0) close(master);
        if (slave >= 0) close(slave);
    }

    bool start(const std::vector<std::string>& arguments) {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
        std::string name = ptsname(master);
        struct winsize size = {24, 80, 0, 0};
        ioctl(master, TIOCSWINSZ, &size);
        // The test's own handle on the terminal, to read its mode afterwards.
        slave = open(name.c_str(), O_RDWR | O_NOCTTY);
        std::vector<std::string> words = {tool_path()};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        saved_mode_ok = tcgetattr(slave, &saved_mode) == 0;

        pid = fork();
        if (pid == 0) {
            // A new session whose first terminal opened becomes its own.
            setsid();
            int tty = open(name.c_str(), O_RDWR);
            dup2(tty, 0);
            dup2(tty, 1);
            dup2(tty, 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid > 0 && slave >= 0;
    }

    void type(const char* keys) {
        ASSERT_EQ((ssize_t)strlen(keys), write(master, keys, strlen(keys)));
    }

    // Reads what the program draws until the condition holds or time is up.
    bool read_until(const std::function<bool()>& condition, uint32_t timeout_ms = 5000) {
        uint64_t deadline = clock_ms() + timeout_ms;
        while (!condition()) {
            if (clock_ms() > deadline) return false;
            read_for(20);
        }
        return true;
    }

    bool shows(const std::string& text) {
        return read_until([&] { return screen.find(text) != std::string::npos; });
    }

    // The status line now on the screen: what follows the last carriage
    // return or line feed.
    std::string status() const {
        size_t last = screen.find_last_of("\r\n");
        return last == std::string::npos ? screen : screen.substr(last + 1);
    }

    // The position shown on the status line in whole seconds, -1 for none.
    int position_s() const {
        std::smatch match;
        std::string line = status();
        if (!std::regex_search(line, match, std::regex("(\\d+):(\\d\\d) / "))) return -1;
        return std::stoi(match[1]) * 60 + std::stoi(match[2]);
    }

    // The exit status once the program has ended, -1 when it did not within
    // the time, or ended by a signal.
    int wait_for_exit(uint32_t timeout_ms = 5000) {
        uint64_t deadline = clock_ms() + timeout_ms;
        while (clock_ms() <= deadline) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                read_for(0);
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            // Keep reading, or a full terminal would hold the program.
            read_for(20);
        }
        return -1;
    }

    // True when the terminal's line editing and echo are back as before.
    bool mode_restored() const {
        struct termios mode;
        if (!saved_mode_ok || tcgetattr(slave, &mode) != 0) return false;
        return mode.c_lflag == saved_mode.c_lflag && (mode.c_lflag & ICANON) && (mode.c_lflag & ECHO);
    }

    std::string screen;

private:
    void read_for(int timeout_ms) {
        struct pollfd input = {master, POLLIN, 0};
        while (poll(&input, 1, timeout_ms) > 0) {
            char buffer[4096];
            ssize_t got = read(master, buffer, sizeof buffer);
            if (got <= 0) return;
            screen.append(buffer, (size_t)got);
            timeout_ms = 0;
        }
    }

    int master = -1;
    int slave = -1;
    pid_t pid = -1;
    struct termios saved_mode;
    bool saved_mode_ok = false;
};

class PlayerTerminal : public ::testing::Test {
protected:
    void SetUp() override {
        scratch = make_scratch_dir();
    }
    void TearDown() override {
        remove_scratch_dir(scratch);
    }

    // A mono 22 050 Hz file of about the given seconds.
    std::string sound_file(const char* name, double seconds, uint32_t seed) {
        uint32_t block_sets = (uint32_t)(seconds * 22050 / 65);
        return write_file_in(scratch, name, adpcm_wave(tone_adpcm(1, block_sets, seed), 1, 22050));
    }

    std::string scratch;
};

TEST_F(PlayerTerminal, KeysPauseSeekSkipAndQuit) {
    std::vector<std::string> files = {sound_file("long.wav", 12, 1), sound_file("second.wav", 10, 2),
                                      sound_file("third.wav", 1, 3)};
    terminal_run run;
    ASSERT_TRUE(run.start({"play", "--device", "null", files[0], files[1], files[2]}));
    ASSERT_TRUE(run.shows("keys: space")) << run.screen;
    ASSERT_TRUE(run.shows("playing long.wav (0:11)")) << run.screen;
    ASSERT_TRUE(run.read_until([&] { return run.status().find(" / 0:11") != std::string::npos; })) << run.screen;
    EXPECT_EQ('[', run.status()[0]) << "a progress bar leads the status line";

    run.type(" ");
    ASSERT_TRUE(run.read_until([&] { return run.status().find("paused") != std::string::npos; })) << run.screen;
    int paused_at = run.position_s();
    sleep_ms(1200);
    run.read_until([] { return false; }, 50);
    EXPECT_EQ(paused_at, run.position_s()) << "the position holds while paused";
    run.type(" ");
    ASSERT_TRUE(run.read_until([&] { return run.status().find("paused") == std::string::npos; })) << run.screen;

    run.type(RIGHT_ARROW);
    EXPECT_TRUE(run.read_until([&] { return run.position_s() >= 3; })) << run.status();
    run.type(LEFT_ARROW);
    EXPECT_TRUE(run.read_until([&] { return run.position_s() >= 0 && run.position_s() <= 2; })) << run.status();

    run.type("n");
    ASSERT_TRUE(run.shows("playing second.wav")) << run.screen;
    run.type("q");
    EXPECT_EQ(0, run.wait_for_exit());
    EXPECT_EQ(std::string::npos, run.screen.find("third.wav")) << "q ends the playlist";
    EXPECT_TRUE(run.mode_restored());
    EXPECT_EQ(std::string::npos, run.status().find_first_not_of(' ')) << "the status line is blanked at the end";
}

TEST_F(PlayerTerminal, CtrlCStopsPlayingAndRestoresTheTerminal) {
    std::string file = sound_file("long.wav", 12, 4);
    terminal_run run;
    ASSERT_TRUE(run.start({"play", "--device", "null", file}));
    ASSERT_TRUE(run.read_until([&] { return run.position_s() >= 0; })) << run.screen;
    run.type(CTRL_C);
    EXPECT_EQ(130, run.wait_for_exit());
    EXPECT_TRUE(run.mode_restored());
}

// The module moves the title on to the next entry once it has decoded the
// last of the current one, up to two seconds (the output's buffer) before
// the listener hears it: the first entry must outlast the buffer to be seen.
TEST_F(PlayerTerminal, ABanksTitleCountsItsEntries) {
    bytes entry1 = tone_adpcm(1, 900, 5);
    bytes entry2 = tone_adpcm(2, 100, 6);
    wave_bank_design bank;
    bank.entries = {{format_word(1, 1, 22050), 0, (uint32_t)entry1.size()},
                    {format_word(1, 2, 44100), (uint32_t)entry1.size(), (uint32_t)entry2.size()}};
    bank.entry_data = entry1;
    bank.entry_data.insert(bank.entry_data.end(), entry2.begin(), entry2.end());
    std::string file = write_file_in(scratch, "music.xwb", build_wave_bank(bank));
    terminal_run run;
    ASSERT_TRUE(run.start({"play", "--device", "null", file}));
    EXPECT_TRUE(run.shows("playing music.xwb - 1 / 2")) << run.screen;
    EXPECT_TRUE(run.shows("playing music.xwb - 2 / 2")) << run.screen;
    EXPECT_EQ(0, run.wait_for_exit());
    EXPECT_TRUE(run.mode_restored());
}

TEST_F(PlayerTerminal, LongRendersShowProgress) {
    // Half an hour of mono sound: a render that takes a while even on a fast
    // machine (the bar first shows 50 ms in). The same block sets repeated,
    // since only the length matters here, and the sound thrown away.
    bytes piece = tone_adpcm(1, 2000, 7);
    bytes adpcm;
    for (int i = 0; i < 612; ++i) adpcm.insert(adpcm.end(), piece.begin(), piece.end());
    std::string file = write_file_in(scratch, "long.wav", adpcm_wave(adpcm, 1, 44100));
    terminal_run run;
    ASSERT_TRUE(run.start({"render", file, "-o", "/dev/null", "--format", "raw"}));
    EXPECT_EQ(0, run.wait_for_exit(60000)) << run.screen;
    EXPECT_TRUE(std::regex_search(run.screen, std::regex("\\[[#-]+\\]  \\d+:\\d\\d / 30:0\\d"))) << run.screen;
    EXPECT_EQ(std::string::npos, run.status().find_first_not_of(' ')) << "the bar is gone at the end";
    EXPECT_TRUE(run.mode_restored());
}

}  // namespace
