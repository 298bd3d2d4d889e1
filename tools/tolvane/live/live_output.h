// The output module behind `tolvane play`: it behaves like the player's own
// sound output. Write fills a buffer of about two seconds, a thread of its own
// feeds the sound device from it, and the clocks count what the device has
// really played, so the module's position, pause, seeking and end of stream
// follow the sound the listener hears.
#pragma once

#include <stdint.h>
#include <string>

#include "host/winamp_host.h"
#include "tools/tolvane/live/sound_device.h"

// The buffer between the module and the device. With the device's own queue
// of about 100 ms it makes about two seconds, which the module's wait for a
// bank entry to play out (two seconds at most) must outlast.
const uint32_t LIVE_BUFFER_MS = 1800;
// The most the device thread hands the device in one write.
const uint32_t LIVE_CHUNK_MS = 20;

// The record to put in the module's outMod. It lives as long as the program.
Out_Module* live_output_module();
// The device that later Opens play through; name is handed to its open.
void live_output_use_device(const sound_device* device, const std::string& name);
// From now on each Open asks heard(context) whether what follows is heard;
// what is not is taken as fast as the module writes it and thrown away
// (play --entry skips entries so). Null hears everything.
void live_output_hear_only(bool (*heard)(void* context), void* context);
// Why the last Open failed; cleared by an Open that succeeds and by Close.
std::string live_output_last_error();
