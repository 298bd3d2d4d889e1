// tolvane's commands, one source file each; each returns the exit status.
#pragma once

#include <string>
#include <vector>

#include "tools/tolvane/cli/command_line.h"

int run_play(const command_line& line);
int run_render(const command_line& line);
int run_info(const command_line& line);
int run_extract(const command_line& line);
int run_pack(const command_line& line);
int run_replace(const command_line& line);
int run_encode(const command_line& line);
int run_demo(const command_line& line);

// Shared by play and demo: true when the device opens, else the reason.
bool device_works(const std::string& device_name, std::string* error);
// Plays the files through the named device as a playlist; exit status.
int play_files(const std::vector<std::string>& files, const command_line& line);
