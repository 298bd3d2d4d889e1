// The module record handed to the player and the one exported function that
// hands it out.
#pragma once

#include "containers/inflater.h"
#include "host/winamp_host.h"

#if defined(_WIN32)
// in_tolvane.def names the export, so nothing else leaks into the table.
#define TOLVANE_EXPORT extern "C"
#else
#define TOLVANE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#define TOLVANE_DESCRIPTION "Tolvane " TOLVANE_VERSION

TOLVANE_EXPORT In_Module* HOST_CALL winampGetInModule2();

// Hands the engine the services the player has put in the module record:
// Play does it before every item; tests that drive the engine directly call
// it themselves.
void connect_engine_to_player();
// Where the module gets zlib: the player's table when it lends one, else the
// system's.
inflater_source inflater_of_player();
