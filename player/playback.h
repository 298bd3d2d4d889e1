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
// Reads one block set at the file's position and decodes it; returns the PCM
// bytes, 0 when no whole block set could be read.
int32_t read_block(int16_t* pcm_buffer);
// Plans the entry table of the item just opened (its spans and length) and
// makes the first entry that plays current, with its format. False when the
// plan cannot be allocated.
bool plan_timeline();

// The visualisation services read this many sample frames from the pointer
// they are given.
const uint32_t VISUALISATION_FRAMES = 576;

// The part of a path after its last separator (the whole path without one).
const char* base_name(const char* path);

// Milliseconds of sound in byte_count bytes of ADPCM at the given format,
// with the truncating steps the player shows lengths with; 0 for a format
// that would divide by zero, saturated at INT32_MAX.
int32_t adpcm_bytes_to_ms(int32_t byte_count, uint32_t sample_rate, uint32_t channels);
