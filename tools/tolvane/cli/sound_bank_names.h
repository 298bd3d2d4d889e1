// Names for a wave bank's entries from the sound banks (.xsb) a game ships
// beside it: the bank's waves take the names of the cues that play them.
// Which sound banks: the one --xsb gives, else every .xsb in the bank's
// folder whose wave bank table holds the bank's name, in the order of their
// file names (the first to name a wave wins); for a bank without a name, the
// .xsb of its own stem. A sound bank that cannot be read names nothing and
// never keeps the bank from listing, playing or rendering.
#pragma once

#include <string>
#include <vector>

#include "containers/sound_bank.h"
#include "containers/stream_description.h"

struct sound_bank_naming {
    // For info: which sound bank named the entries, or why one named nothing.
    std::vector<std::string> notes;
    // A --xsb that cannot be read, or given for a file that is no wave bank.
    std::vector<std::string> warnings;
};

// Names the records of the wave bank described from path's sound banks;
// xsb_path is --xsb as given ("" for none). Only wave banks are named.
sound_bank_naming name_from_sound_banks(const std::string& path, const std::string& xsb_path,
                                        stream_description* description);

// Why a sound bank names nothing, or what it noticed: "a sound bank of
// version 7"; "" for one read whole.
std::string sound_bank_status_text(const sound_bank_table& table);
