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

// The player's records as the engine's services: the output plug-in and the
// module record's visualisation and DSP members, taken when an item starts
// (the player may change its output between items), with its main window
// for the end-of-stream message.
struct player_link {
    Out_Module* output;
    In_Module services;
};

player_link link;

Out_Module* out_of(void* context) {
    return ((player_link*)context)->output;
}

const In_Module& record_of(void* context) {
    return ((player_link*)context)->services;
}

int output_open(void* c, int sample_rate, int channels) {
    return out_of(c)->Open(sample_rate, channels, 16, -1, -1);
}
void output_close(void* c) {
    out_of(c)->Close();
}
void output_write(void* c, void* pcm, int byte_count) {
    out_of(c)->Write((char*)pcm, byte_count);
}
int output_can_write(void* c) {
    return out_of(c)->CanWrite();
}
int output_is_playing(void* c) {
    return out_of(c)->IsPlaying();
}
void output_flush(void* c, int time_ms) {
    out_of(c)->Flush(time_ms);
}
void output_pause(void* c, int paused) {
    if (out_of(c)->Pause) out_of(c)->Pause(paused);
}
void output_set_volume(void* c, int volume) {
    out_of(c)->SetVolume(volume);
}
void show_format(void* c, int bitrate_kbps, int sample_rate_khz, int channels) {
    record_of(c).SetInfo(bitrate_kbps, sample_rate_khz, channels, 1);
}
void visualisation_init(void* c, int max_latency_ms, int sample_rate) {
    record_of(c).SAVSAInit(max_latency_ms, sample_rate);
}
void visualisation_end(void* c) {
    record_of(c).SAVSADeInit();
}
void spectrum_add(void* c, int16_t* pcm, int channels, int time_ms) {
    record_of(c).SAAddPCMData(pcm, channels, 16, time_ms);
}
void visualisation_add(void* c, int16_t* pcm, int channels, int time_ms) {
    record_of(c).VSAAddPCMData(pcm, channels, 16, time_ms);
}
void visualisation_format(void* c, int sample_rate, int channels) {
    record_of(c).VSASetInfo(sample_rate, channels);
}
int dsp_is_active(void* c) {
    return record_of(c).dsp_isactive();
}
int dsp_process(void* c, int16_t* samples, int samples_per_channel, int channels, int sample_rate) {
    return record_of(c).dsp_dosamples(samples, samples_per_channel, 16, channels, sample_rate);
}
void end_of_stream(void* c) {
    window_post_message(record_of(c).hMainWindow, HOST_MSG_END_OF_STREAM, 0, 0);
}

// True when the player has filled every member the engine's services call.
bool player_lent_every_service(const In_Module& m) {
    const Out_Module* o = m.outMod;
    return o && o->Open && o->Close && o->Write && o->CanWrite && o->IsPlaying && o->Flush && o->SetVolume &&
           m.SetInfo && m.SAVSAInit && m.SAVSADeInit && m.SAAddPCMData && m.VSAAddPCMData && m.VSASetInfo &&
           m.dsp_isactive && m.dsp_dosamples;
}

// The services over the player's records; none at all (which Play refuses)
// when the player has left a member empty.
host_services services_of_player() {
    host_services services = {};
    services.inflater = {player_inflater, plugin_module.hMainWindow};
    if (!player_lent_every_service(plugin_module)) return services;
    link.output = plugin_module.outMod;
    link.services = plugin_module;
    services.context = &link;
    services.output_open = output_open;
    services.output_close = output_close;
    services.output_write = output_write;
    services.output_can_write = output_can_write;
    services.output_is_playing = output_is_playing;
    services.output_flush = output_flush;
    services.output_pause = output_pause;
    services.output_set_volume = output_set_volume;
    services.show_format = show_format;
    services.visualisation_init = visualisation_init;
    services.visualisation_end = visualisation_end;
    services.spectrum_add = spectrum_add;
    services.visualisation_add = visualisation_add;
    services.visualisation_format = visualisation_format;
    services.dsp_is_active = dsp_is_active;
    services.dsp_process = dsp_process;
    services.end_of_stream = end_of_stream;
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
