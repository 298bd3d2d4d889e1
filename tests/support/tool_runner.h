// Running the real tolvane executable from a test: the native build's, or
// under Wine the Windows one, through the shell with its output captured.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

bool file_exists(const std::string& path);
// tolvane (or tolvane.exe) in the build's bin folder.
std::string tool_path();
// std::system hands the command to cmd.exe on Windows and to sh elsewhere.
bool shell_is_cmd();
// A folder's closing separator is dropped: before a closing quote a
// backslash would escape the quote in a Windows command line.
std::string in_quotes(std::string text);
// A text file's content with carriage returns taken out.
std::string read_text(const std::string& path);
int line_count(const std::string& text);

// Checks a 16-bit PCM WAVE's header field by field (as the tool writes it)
// and returns its samples; empty when it cannot be read.
std::vector<uint8_t> pcm_wave_samples(const std::string& path, uint16_t channels, uint32_t sample_rate);

struct run_result {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs tolvane with the arguments (already quoted where needed), capturing
// its output in files of the scratch folder.
run_result run_tool(const std::string& arguments, const std::string& scratch);

// POSIX shells only. Runs tolvane in the background and sends it signal
// ("INT", "TERM") as soon as a file whose name matches the grep pattern
// shows in folder (by default a temporary output, *.tmp), then waits for it
// to end.
// With twice, the signal goes again 1 ms later (an impatient double Ctrl-C).
run_result run_tool_and_signal(const std::string& arguments, const std::string& signal, const std::string& folder,
                               const std::string& scratch, bool twice = false, const std::string& shows = "[.]tmp$");
// POSIX shells only. Runs tolvane under timeout(1), which signals the whole
// process group with signal after seconds.
run_result run_tool_under_timeout(const std::string& arguments, const std::string& signal, const std::string& seconds,
                                  const std::string& scratch);
// POSIX shells only. Runs tolvane under a shell limit: "-f 2000" (a file
// size of 2000 blocks of 512 bytes), "-n 32" (32 open files).
run_result run_tool_under_limit(const std::string& arguments, const std::string& limit, const std::string& scratch);
