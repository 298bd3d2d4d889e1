// Our declarations of the player's plug-in records: the input module record
// that the plug-in hands out (In_Module, interface version 0x100) and the
// output module record it writes to (Out_Module), plus the window messages.
// Member order and types are the player's ABI: every member is one pointer or
// one int, every function pointer is cdecl, and the layout is checked below.
#pragma once

#include <stddef.h>

#include "platform/platform.h"

#if defined(__i386__) || defined(_M_IX86)
#define HOST_CALL __cdecl
#else
#define HOST_CALL
#endif

const int IN_MODULE_VERSION = 0x100;
// The player's title buffer for GetFileInfo is taken to hold this many bytes;
// what the module writes there is cut to fit.
const int HOST_TITLE_BYTES = 512;
// The player's own title buffers hold this many bytes; a host that stands in
// for the player hands the module buffers as large.
const int PLAYER_TITLE_BYTES = 2048;

// Window messages to the host's main window.
const unsigned HOST_MSG_END_OF_STREAM = 1026;  // WM_USER + 2, both parameters 0
const unsigned HOST_MSG_QUERY = 1024;          // WM_USER
const unsigned HOST_QUERY_INFLATE_WPARAM = 0x10100000;
const int HOST_QUERY_INFLATE_LPARAM = 331;

// The player's window is a host_window (an HWND on Windows); an instance is
// an HINSTANCE there and opaque elsewhere.
typedef void* host_instance;

struct Out_Module {
    int version;
    char* description;
    int id;
    host_window hMainWindow;
    host_instance hDllInstance;
    void(HOST_CALL* Config)(host_window parent);
    void(HOST_CALL* About)(host_window parent);
    void(HOST_CALL* Init)();
    void(HOST_CALL* Quit)();
    int(HOST_CALL* Open)(int sample_rate, int channels, int bits_per_sample, int buffer_len_ms, int prebuffer_ms);
    void(HOST_CALL* Close)();
    int(HOST_CALL* Write)(char* buffer, int byte_count);
    int(HOST_CALL* CanWrite)();
    int(HOST_CALL* IsPlaying)();
    int(HOST_CALL* Pause)(int pause);
    void(HOST_CALL* SetVolume)(int volume);
    void(HOST_CALL* SetPan)(int pan);
    void(HOST_CALL* Flush)(int time_ms);
    int(HOST_CALL* GetOutputTime)();
    int(HOST_CALL* GetWrittenTime)();
};

struct In_Module {
    int version;
    char* description;
    host_window hMainWindow;
    host_instance hDllInstance;
    char* FileExtensions;
    int is_seekable;
    int UsesOutputPlug;
    void(HOST_CALL* Config)(host_window parent);
    void(HOST_CALL* About)(host_window parent);
    void(HOST_CALL* Init)();
    void(HOST_CALL* Quit)();
    void(HOST_CALL* GetFileInfo)(char* file, char* title, int* length_ms);
    int(HOST_CALL* InfoBox)(char* file, host_window parent);
    int(HOST_CALL* IsOurFile)(char* file);
    int(HOST_CALL* Play)(char* file);
    void(HOST_CALL* Pause)();
    void(HOST_CALL* UnPause)();
    int(HOST_CALL* IsPaused)();
    void(HOST_CALL* Stop)();
    int(HOST_CALL* GetLength)();
    int(HOST_CALL* GetOutputTime)();
    void(HOST_CALL* SetOutputTime)(int time_ms);
    void(HOST_CALL* SetVolume)(int volume);
    void(HOST_CALL* SetPan)(int pan);
    void(HOST_CALL* SAVSAInit)(int max_latency_ms, int sample_rate);
    void(HOST_CALL* SAVSADeInit)();
    void(HOST_CALL* SAAddPCMData)(void* pcm, int channels, int bits_per_sample, int time_ms);
    int(HOST_CALL* SAGetMode)();
    void(HOST_CALL* SAAdd)(void* data, int time_ms, int type);
    void(HOST_CALL* VSAAddPCMData)(void* pcm, int channels, int bits_per_sample, int time_ms);
    int(HOST_CALL* VSAGetMode)(int* spectrum_channels, int* waveform_channels);
    void(HOST_CALL* VSAAdd)(void* data, int time_ms);
    void(HOST_CALL* VSASetInfo)(int sample_rate, int channels);
    int(HOST_CALL* dsp_isactive)();
    int(HOST_CALL* dsp_dosamples)(short* samples, int samples_per_channel, int bits_per_sample, int channels,
                                  int sample_rate);
    void(HOST_CALL* EQSet)(int on, char data[10], int preamp);
    void(HOST_CALL* SetInfo)(int bitrate_kbps, int sample_rate_khz, int channels, int synched);
    Out_Module* outMod;
};

// The host looks the record up by this name and calls it with C linkage.
typedef In_Module*(HOST_CALL* get_in_module_function)();
#define IN_MODULE_EXPORT_NAME "winampGetInModule2"

// The player's ABI is the 32-bit one: 38 and 20 pointer-sized members.
static_assert(sizeof(void*) != 4 || sizeof(In_Module) == 152, "In_Module must be 152 bytes on 32-bit");
static_assert(sizeof(void*) != 4 || sizeof(Out_Module) == 80, "Out_Module must be 80 bytes on 32-bit");
static_assert(sizeof(void*) != 4 || offsetof(In_Module, hMainWindow) == 8, "In_Module layout");
static_assert(sizeof(void*) != 4 || offsetof(In_Module, Play) == 56, "In_Module layout");
static_assert(sizeof(void*) != 4 || offsetof(In_Module, SAVSAInit) == 96, "In_Module layout");
static_assert(sizeof(void*) != 4 || offsetof(In_Module, SetInfo) == 144, "In_Module layout");
static_assert(sizeof(void*) != 4 || offsetof(In_Module, outMod) == 148, "In_Module layout");
static_assert(sizeof(void*) != 4 || offsetof(Out_Module, Open) == 36, "Out_Module layout");
static_assert(sizeof(void*) != 4 || offsetof(Out_Module, GetWrittenTime) == 76, "Out_Module layout");
