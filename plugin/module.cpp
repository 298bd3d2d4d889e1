// The module record and the host callbacks that do not start, feed or stop
// the decode thread: configuration and About boxes, pause, volume and pan,
// seek requests, position, length and the playlist title.

#include "plugin/module.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include "player/playback.h"
#include "player/player_state.h"

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

const char ABOUT_TEXT[] =
    TOLVANE_DESCRIPTION "\n"
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

void HOST_CALL Init() {}

// The entry table outlives its item until the next one is opened; when the
// player is done with the module it is released here, so unloading leaks
// nothing. The player stops the item before it quits.
void HOST_CALL Quit() {
    if (!player_state.decode_thread_handle) release_entry_table();
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
    if (player_state.entry_count != 0) return player_state.timeline_length_ms;
    return adpcm_bytes_to_ms(player_state.data_length, load_relaxed(player_state.sample_rate),
                             load_relaxed(player_state.channels));
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

// The playlist shows the playing bank's title with the entry counter whatever
// file it asks about, since nothing is known about files not playing.
void HOST_CALL GetFileInfo(char* file, char* title, int* length_ms) {
    if (player_state.entry_count != 0 && title) {
        snprintf(title, HOST_TITLE_BYTES, "%s - %d / %d", player_state.title,
                 (int)load_relaxed(player_state.current_entry) + 1, (int)player_state.entry_count);
    } else if (file && file[0] != '\0' && title) {
        snprintf(title, HOST_TITLE_BYTES, "%s", base_name(file));
    }
    if (length_ms) *length_ms = GetLength();
}

}  // namespace

In_Module plugin_module = {
    IN_MODULE_VERSION,
    description,
    nullptr,  // hMainWindow, set by the host
    nullptr,  // hDllInstance, set by the host
    file_extensions,
    1,  // is_seekable
    1,  // UsesOutputPlug
    Config,
    About,
    Init,
    Quit,
    GetFileInfo,
    InfoBox,
    IsOurFile,
    Play,
    Pause,
    UnPause,
    IsPaused,
    Stop,
    GetLength,
    GetOutputTime,
    SetOutputTime,
    SetVolume,
    SetPan,
    // Visualisation and DSP services, filled in by the host.
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    EQSet,
    nullptr,  // SetInfo, set by the host
    nullptr,  // outMod, set by the host
};

In_Module* HOST_CALL winampGetInModule2() {
    return &plugin_module;
}
