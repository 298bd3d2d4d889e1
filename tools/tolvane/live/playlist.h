// `tolvane play`: the files play one after another through the live output,
// as a player's playlist does. When the module posts the end of an item the
// host calls Stop and Plays the next file; a file the module refuses is
// reported and skipped. On a terminal, keys pause, seek, skip and quit;
// elsewhere the files just play, and Ctrl-C stops them.
#pragma once

#include <string>
#include <vector>

#include "tools/tolvane/live/sound_device.h"

enum playlist_outcome {
    PLAYLIST_PLAYED,       // every file played, or the listener skipped or quit
    PLAYLIST_SOME_FAILED,  // at least one file could not be played
    PLAYLIST_INTERRUPTED,  // Ctrl-C or a termination request
    PLAYLIST_NO_MODULE,    // the module could not be loaded
};

// How far the arrow keys seek.
const int SEEK_STEP_MS = 5000;

// sound_bank is --xsb as given, "" for none.
playlist_outcome play_playlist(const std::vector<std::string>& files, const std::string& module_path,
                               const sound_device* device, const std::string& device_name,
                               const std::string& sound_bank, const std::string& entries, bool quiet);
