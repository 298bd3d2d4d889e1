// tolvane play: a playlist through the sound card, as the player plays it.

#include <stdio.h>

#include <string>
#include <vector>

#include "tools/tolvane/commands/commands.h"
#include "tools/tolvane/live/playlist.h"
#include "tools/tolvane/live/sound_device.h"
#include "tools/tolvane/tool_common.h"

namespace {

const size_t ERROR_CAPACITY = 256;

int exit_status_of(playlist_outcome outcome, const std::string& module_path) {
    switch (outcome) {
    case PLAYLIST_PLAYED:
        return EXIT_OK;
    case PLAYLIST_SOME_FAILED:
        return EXIT_FAILED;
    case PLAYLIST_INTERRUPTED:
        return EXIT_INTERRUPTED;
    case PLAYLIST_NO_MODULE:
        break;
    }
    return failure("cannot load module", module_path);
}

}  // namespace

bool device_works(const std::string& device_name, std::string* error) {
    char text[ERROR_CAPACITY] = "";
    const sound_device* device = sound_device_named(device_name.c_str());
    if (sound_device_probe(device, device_name.c_str(), text, sizeof text)) return true;
    *error = text[0] ? text : "cannot open \"" + device_name + "\"";
    return false;
}

int play_files(const std::vector<std::string>& files, const command_line& line) {
    std::string device_name = device_name_of(line);
    std::string module_path = module_path_of(line);
    playlist_outcome outcome = play_playlist(files, module_path, sound_device_named(device_name.c_str()), device_name,
                                             line.sound_bank, line.entries, line.quiet);
    return exit_status_of(outcome, module_path);
}

int run_play(const command_line& line) {
    std::string error;
    if (!device_works(device_name_of(line), &error)) {
        fprintf(stderr, "tolvane: no sound output (%s); tolvane render FILE -o OUT.wav writes the sound to a file\n",
                error.c_str());
        return EXIT_FAILED;
    }
    return play_files(line.files, line);
}
