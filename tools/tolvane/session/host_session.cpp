// The tolvane host's side of the player: module loading, the host services in
// the module record, and one item's Play, wait and Stop.

#include "tools/tolvane/session/host_session.h"

#include <string.h>

#include "containers/file_names.h"

namespace {

// The module's callbacks carry no context, so only one session may hold a
// module at a time; session_open refuses a second one.
host_session* current_session = nullptr;

// Room for a path as long as the player's own path buffers allow, even when
// the name given is shorter: the module edits the buffer in place.
const size_t MIN_PATH_CAPACITY = 1024;
// How long one pump waits before the stall watchdog looks again.
const uint32_t PUMP_SLICE_MS = 50;
// What the player hands the module's SetVolume and SetPan before each Play.
const int PLAYER_VOLUME = 255;
const int PLAYER_PAN = 0;

intptr_t handle_window_message(void* context, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    host_session* session = (host_session*)context;
    if (message == HOST_MSG_END_OF_STREAM && wparam == 0 && lparam == 0) {
        session->end_of_stream_messages++;
        return 0;
    }
    // Every other message, among them the module's query for the player's own
    // inflate functions (HOST_MSG_QUERY), gets 0: the tool has none to lend,
    // so the module loads zlib itself.
    return 0;
}

// ---- Visualisation and DSP services: the tool shows nothing -------------------

void HOST_CALL visualisation_init(int, int) {}
void HOST_CALL visualisation_deinit() {}
void HOST_CALL spectrum_add_pcm(void*, int, int, int) {}
int HOST_CALL spectrum_get_mode() {
    return 0;
}
void HOST_CALL spectrum_add(void*, int, int) {}
void HOST_CALL vis_add_pcm(void*, int, int, int) {}
int HOST_CALL vis_get_mode(int* spectrum_channels, int* waveform_channels) {
    if (spectrum_channels) *spectrum_channels = 0;
    if (waveform_channels) *waveform_channels = 0;
    return 0;
}
void HOST_CALL vis_add(void*, int) {}
void HOST_CALL vis_set_info(int, int) {}
int HOST_CALL dsp_is_active() {
    return 0;
}
int HOST_CALL dsp_do_samples(short*, int samples_per_channel, int, int, int) {
    return samples_per_channel;
}
void HOST_CALL set_info(int, int, int, int) {}

// As the player fills the record: everything but SetInfo and outMod before
// Init; SetInfo once Init has returned, outMod before each Play.
void fill_host_members(In_Module* module, host_session* session) {
    module->hMainWindow = session->window;
    module->hDllInstance = session->library;
    module->SAVSAInit = visualisation_init;
    module->SAVSADeInit = visualisation_deinit;
    module->SAAddPCMData = spectrum_add_pcm;
    module->SAGetMode = spectrum_get_mode;
    module->SAAdd = spectrum_add;
    module->VSAAddPCMData = vis_add_pcm;
    module->VSAGetMode = vis_get_mode;
    module->VSAAdd = vis_add;
    module->VSASetInfo = vis_set_info;
    module->dsp_isactive = dsp_is_active;
    module->dsp_dosamples = dsp_do_samples;
    module->SetInfo = nullptr;
    module->outMod = nullptr;
}

bool record_is_usable(const In_Module* module) {
    return module && module->version == IN_MODULE_VERSION && module->Init && module->Quit && module->Play &&
           module->Stop && module->GetFileInfo && module->GetLength;
}

bool has_separator(const std::string& path) {
    return base_name(path.c_str()) != path.c_str();
}

In_Module* find_module_record(library_handle library) {
    get_in_module_function get_module = (get_in_module_function)library_symbol(library, IN_MODULE_EXPORT_NAME);
    return get_module ? get_module() : nullptr;
}

}  // namespace

std::string default_module_path() {
    char folder[4096];
    uint32_t length = executable_directory(folder, sizeof folder);
    std::string path(folder, length);
    return path + PLATFORM_LIBRARY_PREFIX "in_tolvane" PLATFORM_LIBRARY_SUFFIX;
}

bool session_open(host_session* session, const char* module_path, Out_Module* output) {
    if (current_session) return false;
    std::string name = module_path;
    // A bare file name would send the loader searching its library path; the
    // user means the file in the current folder.
    if (!has_separator(name)) name = std::string(".") + PLATFORM_PATH_SEPARATOR + name;

    library_handle library = library_load(name.c_str());
    if (!library) return false;
    In_Module* module = find_module_record(library);
    if (!record_is_usable(module)) {
        library_free(library);
        return false;
    }
    host_window window = window_create(handle_window_message, session);
    if (!window) {
        library_free(library);
        return false;
    }
    session->library = library;
    session->module = module;
    session->window = window;
    session->output = output;
    session->end_of_stream_messages = 0;
    session->playing = false;
    current_session = session;
    fill_host_members(module, session);
    module->Init();
    module->SetInfo = set_info;
    return true;
}

void session_close(host_session* session) {
    if (!session->module) return;
    session_stop(session);
    session->module->Quit();
    library_free(session->library);
    window_destroy(session->window);
    session->library = nullptr;
    session->module = nullptr;
    session->window = nullptr;
    if (current_session == session) current_session = nullptr;
}

// As the player plays an item: the output, the volume and the pan first;
// Stop only after a Play that succeeded.
bool session_play(host_session* session, const char* file) {
    size_t length = strlen(file);
    session->path.assign(length + 1 > MIN_PATH_CAPACITY ? length + 1 : MIN_PATH_CAPACITY, '\0');
    memcpy(session->path.data(), file, length);
    session->end_of_stream_messages = 0;
    In_Module* module = session->module;
    module->outMod = session->output;
    module->SetVolume(PLAYER_VOLUME);
    module->SetPan(PLAYER_PAN);
    session->playing = module->Play(session->path.data()) == 0;
    return session->playing;
}

bool session_wait_for_end(host_session* session, uint32_t (*output_calls)(), uint32_t stall_limit_ms,
                          void (*each_pump)(void* context), void* context, bool (*done)()) {
    // A healthy decode thread calls the output every few milliseconds, even
    // while it waits for room or for the sound to play out.
    uint32_t calls_seen = output_calls();
    uint64_t last_change_ms = clock_ms();
    while (session->end_of_stream_messages == 0) {
        if (done && done()) return true;
        window_pump(session->window, PUMP_SLICE_MS);
        if (session->end_of_stream_messages != 0) break;
        if (each_pump) each_pump(context);
        uint32_t calls = output_calls();
        uint64_t now_ms = clock_ms();
        if (calls != calls_seen) {
            calls_seen = calls;
            last_change_ms = now_ms;
        } else if (now_ms - last_change_ms > stall_limit_ms) {
            return false;
        }
    }
    return true;
}

void session_stop(host_session* session) {
    if (!session->playing) return;
    session->module->Stop();
    session->playing = false;
}

// The player asks about the item playing with an empty name; the module
// names only a bank's entry that way, and for anything else the player shows
// the file's name, as this does.
std::string session_title(host_session* session, int* length_ms) {
    char title[PLAYER_TITLE_BYTES] = "";
    char playing_item[1] = "";
    int length = -1;
    session->module->GetFileInfo(playing_item, title, &length);
    if (length_ms) *length_ms = length;
    if (title[0] == '\0') return base_name(session->path.data());
    return title;
}
