// Runs the tolvane executable through the shell for the tool's tests.

#include "tests/support/tool_runner.h"

#include <stdio.h>
#include <stdlib.h>

#include <gtest/gtest.h>
#include <string.h>

#include "codec/little_endian.h"
#include "containers/riff_wave.h"
#include "platform/platform.h"
#include "tests/support/sample_files.h"
#include "containers/riff_wave_writer.h"

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

std::vector<uint8_t> pcm_wave_samples(const std::string& path, uint16_t channels, uint32_t sample_rate) {
    bytes file;
    EXPECT_TRUE(read_whole_file(path.c_str(), &file)) << path;
    if (file.size() < 44) return {};
    EXPECT_EQ(0, memcmp(&file[0], "RIFF", 4));
    EXPECT_EQ(file.size() - 8, read_u32le(&file[4]));
    byte_source source = source_of_memory(file.data(), (int64_t)file.size());
    wave_chunks chunks;
    EXPECT_TRUE(read_wave_chunks(&source, &chunks));
    EXPECT_TRUE(chunks.has_format && chunks.has_data);
    if (!chunks.has_format || !chunks.has_data) return {};
    EXPECT_GE(chunks.format_size, 16);
    const wave_format& f = chunks.format;
    EXPECT_EQ(1, f.format_tag);
    EXPECT_EQ(channels, f.channels);
    EXPECT_EQ(sample_rate, f.sample_rate);
    EXPECT_EQ(sample_rate * channels * 2u, f.average_bytes_per_second);
    EXPECT_EQ(channels * 2, f.block_align);
    EXPECT_EQ(16, f.bits_per_sample);
    size_t end = (size_t)chunks.data_start + (size_t)chunks.data_bytes;
    if (end > file.size()) return {};
    return bytes(file.begin() + (std::ptrdiff_t)chunks.data_start, file.begin() + (std::ptrdiff_t)end);
}

namespace {

run_result result_of(int raw, const std::string& scratch) {
    run_result result;
    // sh reports a wait status with the exit code in the second byte; a
    // status with low bits set is a signal, which no test expects.
    result.status = shell_is_cmd() ? raw : ((raw & 0x7f) != 0 ? -1 : (raw >> 8) & 0xff);
    result.out = read_text(scratch + "stdout.txt");
    result.err = read_text(scratch + "stderr.txt");
    return result;
}

std::string redirected(const std::string& arguments, const std::string& scratch) {
    return in_quotes(tool_path()) + " " + arguments + " > " + in_quotes(scratch + "stdout.txt") + " 2> " +
           in_quotes(scratch + "stderr.txt");
}

}  // namespace

run_result run_tool_and_signal(const std::string& arguments, const std::string& signal, const std::string& folder,
                               const std::string& scratch, bool twice, const std::string& shows) {
    std::string status_file = scratch + "status.txt";
    std::string script = redirected(arguments, scratch) + " & pid=$!; i=0; while [ $i -lt 1000 ] && ! ls " +
                         in_quotes(folder) + " | grep -q '" + shows + "'; do sleep 0.01; i=$((i+1)); done; kill -" +
                         signal + " $pid;" + (twice ? " sleep 0.001; kill -" + signal + " $pid;" : "") +
                         " wait $pid; echo $? > " + in_quotes(status_file);
    std::system(script.c_str());
    run_result result = result_of(0, scratch);
    result.status = atoi(read_text(status_file).c_str());
    return result;
}

run_result run_tool_under_limit(const std::string& arguments, const std::string& limit, const std::string& scratch) {
    std::string script = "ulimit " + limit + "; " + redirected(arguments, scratch);
    return result_of(std::system(script.c_str()), scratch);
}

run_result run_tool_under_timeout(const std::string& arguments, const std::string& signal, const std::string& seconds,
                                  const std::string& scratch) {
    std::string script = "timeout -s " + signal + " " + seconds + " " + redirected(arguments, scratch);
    return result_of(std::system(script.c_str()), scratch);
}

run_result run_tool(const std::string& arguments, const std::string& scratch) {
    std::string command = redirected(arguments, scratch);
    // cmd.exe strips the first and the last quote of a command line.
    if (shell_is_cmd()) command = in_quotes(command);
    return result_of(std::system(command.c_str()), scratch);
}
