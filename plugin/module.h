// The module record handed to the player and the one exported function that
// hands it out.
#pragma once

#include "host/winamp_host.h"

#if defined(_WIN32)
// in_tolvane.def names the export, so nothing else leaks into the table.
#define TOLVANE_EXPORT extern "C"
#else
#define TOLVANE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#define TOLVANE_DESCRIPTION "Tolvane 0.1.2"

TOLVANE_EXPORT In_Module* HOST_CALL winampGetInModule2();
