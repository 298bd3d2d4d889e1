// The zlib tolvane links, as a source of inflaters for the readers: the tool
// needs no zlib1.dll on Windows and asks no player for one.
#pragma once

#include "containers/inflater.h"

extern const inflater_source LINKED_ZLIB;
