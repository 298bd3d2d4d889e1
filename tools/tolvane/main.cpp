// tolvane: a command-line host for the player module. It loads the module as
// the player does and plays files through it: `play` through the sound card
// in real time with keys and a progress bar, `render` into files (or a pipe)
// as fast as the module decodes, `info` lists what the player shows and every
// record of a bank, `extract`, `pack` and `replace` take banks apart and
// build and patch them, `encode` makes Xbox ADPCM files and `demo` plays (or
// renders) a generated bank. Listing and planning read the files' headers
// with the module's own readers; the sound always comes through the module.

#include <stdio.h>

#include <string>

#include "platform/host_io.h"
#include "tools/tolvane/cli/command_line.h"
#include "tools/tolvane/commands/commands.h"
#include "tools/tolvane/tool_common.h"

int main(int argc, char** argv) {
    // A file-size limit is an ordinary write error with its reason, in every
    // command.
    writes_past_size_limit_fail();
    command_line line;
    std::string error;
    if (!parse_command_line(argc, argv, &line, &error)) return usage_error(error, line.command);
    if (line.version) {
        puts(TOLVANE_VERSION_TEXT);
        return EXIT_OK;
    }
    if (line.help || line.command == "help") {
        std::string topic = line.command == "help" ? (line.files.empty() ? "" : line.files[0]) : line.command;
        fputs(help_text(topic).c_str(), stdout);
        return EXIT_OK;
    }
    // render, extract, info and play walk the folders they are given.
    bool walks =
        line.command == "render" || line.command == "extract" || line.command == "info" || line.command == "play";
    if (walks && !walk_folders(&line)) return EXIT_FAILED;
    if (line.command == "play") return run_play(line);
    if (line.command == "render") return run_render(line);
    if (line.command == "info") return run_info(line);
    if (line.command == "extract") return run_extract(line);
    if (line.command == "pack") return run_pack(line);
    if (line.command == "replace") return run_replace(line);
    if (line.command == "encode") return run_encode(line);
    return run_demo(line);
}
