// The playback engine: Play and Stop, the output, and the decode thread that
// reads, decodes and writes one block set at a time.
#pragma once

#include <stdint.h>

#include "host/winamp_host.h"
#include "platform/platform.h"
#include "player/player_state.h"

// The player's services for the items to come: the plug-in hands them over
// before each Play (the player may change its output between items).
void connect_host(const host_services* host);
// True when the player has lent every service the engine calls; calling an
// empty one would take the player down.
bool host_services_ready(const host_services* host);

int Play(char* path);
void Stop();

int open_output();
unsigned long PLATFORM_THREAD_CALL decode_thread(void* kill_flag);
// Reads the ADPCM of one block set at the file's position into adpcm (room
// for MAX_CHANNELS blocks); returns the bytes read.
int32_t read_block(uint8_t* adpcm);
// Plans the item just opened (its spans and length) and makes the first
// entry that plays current, with its format. False when the plan cannot be
// allocated.
bool plan_timeline();

// The visualisation services read this many sample frames from the pointer
// they are given.
const uint32_t VISUALISATION_FRAMES = 576;
