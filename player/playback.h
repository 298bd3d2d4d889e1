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
// Reads and decodes one block set at the file's position, reading no more
// than data_bytes_left; returns the PCM bytes, 0 when no whole set was read.
int32_t read_block(int16_t* pcm_buffer, int64_t data_bytes_left);
// Moves the file to an entry's first byte, sets the decode position from the
// offset and flushes the output to it. False when the file cannot be moved
// there (an offset outside the file's range): the entry cannot be played.
bool jump_to_entry(int32_t offset);

// The part of a path after its last separator (the whole path without one).
const char* base_name(const char* path);

// Milliseconds of sound in byte_count bytes of ADPCM at the given format,
// with the truncating steps the player shows lengths with; 0 for a format
// that would divide by zero, saturated at INT32_MAX.
int32_t adpcm_bytes_to_ms(int32_t byte_count, uint32_t sample_rate, uint32_t channels);
