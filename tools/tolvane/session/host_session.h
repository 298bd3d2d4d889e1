// The tolvane host's side of the player: loads the input module as the player
// does, fills the host members of its record (main window, visualisation and
// DSP services, output), and drives one item through Play, the wait for the
// end-of-stream message, and Stop.
#pragma once

#include <stdint.h>
#include <string>
#include <vector>

#include "host/winamp_host.h"
#include "platform/platform.h"

struct host_session {
    library_handle library = nullptr;
    In_Module* module = nullptr;
    host_window window = nullptr;
    Out_Module* output = nullptr;
    int end_of_stream_messages = 0;
    // The writable path handed to Play; the module may rewrite its extension
    // in place, and what it leaves there names the item afterwards.
    std::vector<char> path;
    bool playing = false;
};

// The module beside the running executable, as the player would find it.
std::string default_module_path();

// Loads the module, fills the host members and calls Init; output becomes
// outMod when the first item plays. False (with nothing left loaded) when the library, its export or a
// usable record is missing. Only one session may be open at a time.
bool session_open(host_session* session, const char* module_path, Out_Module* output);
// Stops any item still playing, calls Quit and unloads the module.
void session_close(host_session* session);

// Plays file through the module; true when Play accepted it.
bool session_play(host_session* session, const char* file);
// Pumps the host window until the module posts the end-of-stream message.
// output_calls counts the module's calls to the output; when stall_limit_ms
// pass without a new call and without the message, the module has given up
// silently and this returns false. each_pump, when given, is called with
// context after every pump (about every 50 ms), for a progress display.
// done, when given, ends the wait early (true) once it says so.
bool session_wait_for_end(host_session* session, uint32_t (*output_calls)(), uint32_t stall_limit_ms,
                          void (*each_pump)(void* context) = nullptr, void* context = nullptr,
                          bool (*done)() = nullptr);
// Stops the item; harmless when nothing plays.
void session_stop(host_session* session);

// What the player shows for the item now playing, read through the path
// buffer that Play was given: the title and the length in milliseconds.
std::string session_title(host_session* session, int* length_ms);
