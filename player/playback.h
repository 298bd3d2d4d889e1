// The playback engine: Play and Stop, the output, and the decode thread that
// reads, decodes and writes one block set at a time.
#pragma once

#include <stdint.h>

#include "host/winamp_host.h"
#include "platform/platform.h"

// The module record the engine calls back through (hMainWindow, outMod and the
// visualisation and DSP services). Defined in plugin/.
extern In_Module plugin_module;

int HOST_CALL Play(char* path);
void HOST_CALL Stop();

int open_output();
unsigned long PLATFORM_THREAD_CALL decode_thread(void* kill_flag);
// Reads the ADPCM of one block set at the file's position into adpcm (room
// for MAX_CHANNELS blocks); returns the bytes read.
int32_t read_block(uint8_t* adpcm);
// Plans the entry table of the item just opened (its spans and length) and
// makes the first entry that plays current, with its format. False when the
// plan cannot be allocated.
bool plan_timeline();

// The visualisation services read this many sample frames from the pointer
// they are given.
const uint32_t VISUALISATION_FRAMES = 576;

