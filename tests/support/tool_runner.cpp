// Runs the tolvane executable through the shell for the tool's tests.

#include "tests/support/tool_runner.h"

#include <stdio.h>
#include <stdlib.h>

#include "platform/platform.h"
#include "tests/support/sample_files.h"
#include "tools/tolvane/wave_writer.h"

bool file_exists(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file) fclose(file);
    return file != nullptr;
}

// The same tests run the native build and, under Wine, the Windows one.
std::string tool_path() {
    std::string base = std::string(TOLVANE_BIN_DIR) + "/tolvane";
    return file_exists(base + ".exe") ? base + ".exe" : base;
}

bool shell_is_cmd() {
    return PLATFORM_PATH_SEPARATOR == '\\';
}

std::string in_quotes(std::string text) {
    if (text.size() > 1 && text.back() == PLATFORM_PATH_SEPARATOR) text.pop_back();
    return "\"" + text + "\"";
}

std::string read_text(const std::string& path) {
    bytes content;
    if (!read_whole_file(path.c_str(), &content)) return "";
    std::string text;
    for (uint8_t byte : content) {
        if (byte != '\r') text += (char)byte;
    }
    return text;
}

int line_count(const std::string& text) {
    int lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
}

run_result run_tool(const std::string& arguments, const std::string& scratch) {
    std::string out_file = scratch + "stdout.txt";
    std::string err_file = scratch + "stderr.txt";
    std::string command =
        in_quotes(tool_path()) + " " + arguments + " > " + in_quotes(out_file) + " 2> " + in_quotes(err_file);
    // cmd.exe strips the first and the last quote of a command line.
    if (shell_is_cmd()) command = in_quotes(command);
    int raw = std::system(command.c_str());
    run_result result;
    // sh reports a wait status with the exit code in the second byte; a
    // status with low bits set is a signal, which no test expects.
    result.status = shell_is_cmd() ? raw : ((raw & 0x7f) != 0 ? -1 : (raw >> 8) & 0xff);
    result.out = read_text(out_file);
    result.err = read_text(err_file);
    return result;
}
