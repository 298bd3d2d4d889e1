// The playback engine: Play and Stop, the output, and the decode thread that
// reads, decodes and writes one block set at a time.
#pragma once

#include <stdint.h>

#include "platform/platform.h"
#include "codec/codec_table.h"
#include "player/player_state.h"

// The player's services for the items to come: the plug-in hands them over
// before each Play (the player may change its output between items).
void connect_host(const host_services* host);
// True when every service the engine calls is there; calling an empty one
// would take the player down.
bool host_services_ready(const host_services* host);

int Play(char* path);
void Stop();

int open_output();
unsigned long PLATFORM_THREAD_CALL decode_thread(void* kill_flag);
// Reads one pass of the codec's units at the file's position into input
// (room for MAX_CHANNELS x PASS_INPUT_BYTES_PER_CHANNEL): at most units_left
// units; returns the bytes read.
int32_t read_pass(const codec_row& codec, int64_t units_left, uint8_t* input);
// Plans the item just opened (its spans and length) and makes the first
// entry that plays current, with its format. False when the plan cannot be
// allocated.
bool plan_timeline();

// The visualisation services read this many sample frames from the pointer
// they are given.
const uint32_t VISUALISATION_FRAMES = 576;
