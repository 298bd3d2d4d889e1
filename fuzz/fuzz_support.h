// Shared by the fuzz targets: the module opens files, so each input is
// written to a file in a scratch folder of this process first.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "containers/stream_description.h"
#include "platform/platform.h"

// The process's scratch folder (with its closing separator), made on first
// use and pointed to by the temporary-directory variables, so the compressed
// bank cache lands there too.
const std::string& fuzz_folder();
// Writes data to fuzz_folder() + name and returns the full path.
std::string write_fuzz_file(const std::string& name, const uint8_t* data, size_t size);
// Removes every file of the scratch folder, aborting when one of them is a
// partial inflation that should have been removed.
void clear_fuzz_folder();

// Aborts unless the description holds what the engine and the tool rely on:
// records within their room and in file order, entry_count of them playing,
// each of those playable and reachable by a 32-bit seek, loops inside their
// record, names inside the name pool.
void check_description(const stream_description& description);
// Aborts unless two descriptions of the same bytes agree record for record.
void check_same_records(const stream_description& a, const stream_description& b);
