// The module record and the host callbacks that do not start, feed or stop
// the decode thread: configuration and About boxes, pause, volume and pan,
// seek requests, position, length and the playlist title.

#include "plugin/module.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include "containers/file_names.h"
#include "containers/inflater.h"
#include "containers/stream_opener.h"
#include "containers/timeline.h"
#include "player/playback.h"
#include "player/player_state.h"

// The record handed to the player, defined at the end of this file.
extern In_Module plugin_module;

namespace {

// Pairs of extension and file-dialog label, each NUL-terminated, with one
// more NUL after the last pair (the literal's own).
char file_extensions[] =
    "WAV\0Xbox wave file (*.WAV)\0"
    "XWB\0Xbox wave bank file (*.XWB)\0"
    "ZWB\0Xbox wave bank file (*.ZWB)\0"
    "WBA\0Xbox wave bank file (*.WBA)\0"
    "XSD\0Xbox stream data file (*.XSD)\0"
    "XSH\0Xbox stream header file (*.XSH)\0"
    "DAT\0Xbox old kavro file (*.DAT)\0";

char description[] = TOLVANE_DESCRIPTION;

const char ABOUT_TEXT[] = TOLVANE_DESCRIPTION
    "\n"
    "by the Tolvane developers\n"
    "e-mail: tolvane@example.org\n"
    "web:    https://tolvane.example.org/\n"
    "plugin: https://tolvane.example.org/in_tolvane/\n";

void HOST_CALL Config(host_window parent) {
    message_box(parent, "No configuration", "Configuration");
}

void HOST_CALL About(host_window parent) {
    message_box(parent, ABOUT_TEXT, "Tolvane");
}

// The player's answer to the inflate-table query, else the system's zlib.
bool player_inflater(void* window, inflate_table* table, library_handle* library) {
    intptr_t answer = 0;
    if (window)
        answer = window_send_message(window, HOST_MSG_QUERY, HOST_QUERY_INFLATE_WPARAM, HOST_QUERY_INFLATE_LPARAM);
    if (answer == 0) return get_system_inflater(table, library);
    // The player's table is taken as it is; get_inflater refuses one with an
    // empty entry.
    *table = *(const inflate_table*)answer;
    return true;
}

void end_of_stream(void* window) {
    window_post_message(window, HOST_MSG_END_OF_STREAM, 0, 0);
}

host_services services_of_player() {
    const In_Module& m = plugin_module;
    host_services services = {m.outMod,        m.SetInfo,       m.SAVSAInit,   m.SAVSADeInit,
                              m.SAAddPCMData,  m.VSAAddPCMData, m.VSASetInfo,  m.dsp_isactive,
                              m.dsp_dosamples, end_of_stream,   m.hMainWindow, {player_inflater, m.hMainWindow}};
    return services;
}

int HOST_CALL play_for_player(char* path) {
    connect_engine_to_player();
    return Play(path);
}

void HOST_CALL stop_for_player() {
    Stop();
}

void HOST_CALL Init() {}

// The item outlives Stop until the next one is opened; when the player is
// done with the module it is released here, so unloading leaks nothing. The
// player stops the item before it quits.
void HOST_CALL Quit() {
    if (!player_state.decode_thread_handle) release_item();
}

int HOST_CALL InfoBox(char*, host_window) {
    return 0;
}

int HOST_CALL IsOurFile(char*) {
    return 0;
}

// The host fills outMod when it loads the module; these guards only keep a
// host that calls early from crashing.
Out_Module* output() {
    return plugin_module.outMod;
}

void HOST_CALL Pause() {
    store_relaxed(player_state.paused, 1);
    if (output() && output()->Pause) output()->Pause(1);
}

void HOST_CALL UnPause() {
    store_relaxed(player_state.paused, 0);
    if (output() && output()->Pause) output()->Pause(0);
}

int HOST_CALL IsPaused() {
    return load_relaxed(player_state.paused);
}

// A single stream's length comes from its data size with the truncating
// arithmetic the player has always shown; an item with entries lasts as long
// as the sound of its entries, each at its own format.
int HOST_CALL GetLength() {
    return player_length_ms(&player_state.item, &player_state.plan);
}

int HOST_CALL GetOutputTime() {
    // The output plug-in's clock runs behind what has been written to it.
    if (!output() || !output()->GetOutputTime || !output()->GetWrittenTime)
        return load_relaxed(player_state.decode_pos_ms);
    uint32_t output_ms = (uint32_t)output()->GetOutputTime();
    uint32_t written_ms = (uint32_t)output()->GetWrittenTime();
    return (int)((uint32_t)load_relaxed(player_state.decode_pos_ms) + output_ms - written_ms);
}

void HOST_CALL SetOutputTime(int time_ms) {
    store_relaxed(player_state.seek_request_ms, (int32_t)time_ms);
}

void HOST_CALL SetVolume(int volume) {
    if (output() && output()->SetVolume) output()->SetVolume(volume);
}

void HOST_CALL SetPan(int pan) {
    if (output() && output()->SetPan) output()->SetPan(pan);
}

void HOST_CALL EQSet(int, char[10], int) {}

// What the player shows for "unknown" in its playlist.
const int UNKNOWN_LENGTH_MS = -1000;

bool names_the_item_playing(const char* file) {
    return (player_state.path_given && same_path(file, player_state.path_given)) ||
           (player_state.path_played && same_path(file, player_state.path_played));
}

// Another file of the playlist: described on the caller's thread into a
// description of our own, so nothing of the item playing changes.
int length_of_other_file(const char* file) {
    stream_description other;
    description_init(&other);
    int length_ms = UNKNOWN_LENGTH_MS;
    inflater_source inflater = inflater_of_player();
    if (describe_stream(file, &inflater, &other) && description_refusal(&other) == NOT_REFUSED &&
        !(other.notices & NOTICE_NOT_DESCRIBED))
        length_ms = player_length_ms(&other, nullptr);
    description_release(&other);
    return length_ms;
}

// The playlist asks about the item playing (no name, an empty one, or its
// own) and about every other file in it. The item playing gets the bank's
// title with its entry counter; any other file its name and its own length.
void HOST_CALL GetFileInfo(char* file, char* title, int* length_ms) {
    if (file && file[0] != '\0' && !names_the_item_playing(file)) {
        if (title) snprintf(title, HOST_TITLE_BYTES, "%s", title_name(file));
        if (length_ms) *length_ms = length_of_other_file(file);
        return;
    }
    if (player_state.item.entry_count != 0 && title) {
        snprintf(title, HOST_TITLE_BYTES, "%s - %d / %d", player_state.title,
                 (int)load_relaxed(player_state.current_entry) + 1, (int)player_state.item.entry_count);
    } else if (file && file[0] != '\0' && title) {
        snprintf(title, HOST_TITLE_BYTES, "%s", title_name(file));
    }
    if (length_ms) *length_ms = GetLength();
}

}  // namespace

In_Module plugin_module = {
    IN_MODULE_VERSION, description,
    nullptr,  // hMainWindow, set by the host
    nullptr,  // hDllInstance, set by the host
    file_extensions,
    1,  // is_seekable
    1,  // UsesOutputPlug
    Config, About, Init, Quit, GetFileInfo, InfoBox, IsOurFile, play_for_player, Pause, UnPause, IsPaused,
    stop_for_player, GetLength, GetOutputTime, SetOutputTime, SetVolume, SetPan,
    // Visualisation and DSP services, filled in by the host.
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, EQSet,
    nullptr,  // SetInfo, set by the host
    nullptr,  // outMod, set by the host
};

In_Module* HOST_CALL winampGetInModule2() {
    return &plugin_module;
}

inflater_source inflater_of_player() {
    return {player_inflater, plugin_module.hMainWindow};
}

void connect_engine_to_player() {
    host_services services = services_of_player();
    connect_host(&services);
}
