// Win32 implementation of the platform layer, for in_tolvane.dll, tolvane.exe
// and the Windows tests. Files are opened with sharing for reading and
// writing and positioned with 32-bit SetFilePointer calls; the host's main
// window is a real window handle.

#include "platform/platform.h"

#include <windows.h>

#include <io.h>
#include <string.h>

// ---- Files -----------------------------------------------------------------

static file_handle from_handle(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? INVALID_FILE : (file_handle)handle;
}

file_handle file_open_read(const char* path) {
    return from_handle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, NULL));
}

file_handle file_create_new(const char* path) {
    return from_handle(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL));
}

int32_t file_read(file_handle file, void* buffer, int32_t byte_count) {
    if (file == INVALID_FILE || byte_count <= 0) return 0;
    // The count delivered is what matters; a failed call delivers nothing.
    DWORD got = 0;
    ReadFile((HANDLE)file, buffer, (DWORD)byte_count, &got, NULL);
    return (int32_t)got;
}

int32_t file_write(file_handle file, const void* buffer, int32_t byte_count) {
    if (file == INVALID_FILE || byte_count <= 0) return 0;
    DWORD put = 0;
    WriteFile((HANDLE)file, buffer, (DWORD)byte_count, &put, NULL);
    return (int32_t)put;
}

// Without a high word SetFilePointer takes and reports 32-bit positions; a
// result at or above 2^31 is out of our signed range and counts as failed.
static int32_t checked_position(DWORD result) {
    if (result == INVALID_SET_FILE_POINTER || result > 0x7FFFFFFFu) return -1;
    return (int32_t)result;
}

int32_t file_seek(file_handle file, int32_t position) {
    if (file == INVALID_FILE || position < 0) return -1;
    return checked_position(SetFilePointer((HANDLE)file, position, NULL, FILE_BEGIN));
}

int32_t file_tell(file_handle file) {
    if (file == INVALID_FILE) return -1;
    return checked_position(SetFilePointer((HANDLE)file, 0, NULL, FILE_CURRENT));
}

int64_t file_size(file_handle file) {
    if (file == INVALID_FILE) return -1;
    DWORD high = 0;
    DWORD low = GetFileSize((HANDLE)file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
    return ((int64_t)high << 32) | low;
}

void file_close(file_handle file) {
    if (file != INVALID_FILE) CloseHandle((HANDLE)file);
}

file_handle file_open_read_then_delete(const char* path) {
    return from_handle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, NULL));
}

int file_remove(const char* path) {
    return DeleteFileA(path) ? 1 : 0;
}

int file_rename_replace(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? 1 : 0;
}

int file_rename_new(const char* from, const char* to) {
    return MoveFileExA(from, to, 0) ? 1 : 0;
}

int file_link_new(const char* from, const char* to) {
    return CreateHardLinkA(to, from, nullptr) ? 1 : 0;
}

// Windows keeps these names for devices in every folder, whatever the
// extension after them; "\\.\" names a device outright.
bool path_is_device(const char* path) {
    static const char* const DEVICES[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                          "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                          "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
    if (strncmp(path, "\\\\.\\", 4) == 0) return true;
    const char* name = path;
    for (const char* at = path; *at; ++at)
        if (*at == '\\' || *at == '/' || *at == ':') name = at + 1;
    size_t stem = strcspn(name, ".");
    for (const char* device : DEVICES)
        if (strlen(device) == stem && _strnicmp(name, device, stem) == 0) return true;
    return false;
}

int64_t file_modified_time(file_handle file) {
    FILETIME written;
    if (file == INVALID_FILE || !GetFileTime((HANDLE)file, NULL, NULL, &written)) return -1;
    return (int64_t)((uint64_t)written.dwHighDateTime << 32 | written.dwLowDateTime);
}

bool stream_flush_to_disk(FILE* stream) {
    return fflush(stream) == 0 && _commit(_fileno(stream)) == 0;
}

// ---- Threads and time -------------------------------------------------------

// A platform_thread is the thread's HANDLE itself.
platform_thread* thread_start(thread_routine routine, void* parameter) {
    return (platform_thread*)CreateThread(NULL, 0, (LPTHREAD_START_ROUTINE)routine, parameter, 0, NULL);
}

void thread_join(platform_thread* thread) {
    if (!thread) return;
    WaitForSingleObject((HANDLE)thread, INFINITE);
    CloseHandle((HANDLE)thread);
}

void sleep_ms(uint32_t milliseconds) {
    Sleep(milliseconds);
}

uint64_t clock_ms() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return (uint64_t)(now.QuadPart / (frequency.QuadPart / 1000));
}

uint32_t process_id() {
    return (uint32_t)GetCurrentProcessId();
}

// ---- Host window and messages ----------------------------------------------

namespace {

const char WINDOW_CLASS[] = "TolvaneHostWindow";

struct win32_window_data {
    window_handler handler;
    void* context;
};

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    win32_window_data* data = (win32_window_data*)GetWindowLongPtrA(window, GWLP_USERDATA);
    if (data && data->handler && message >= WM_USER) return data->handler(data->context, message, wparam, lparam);
    return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

void window_post_message(host_window window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    PostMessageA((HWND)window, message, wparam, lparam);
}

intptr_t window_send_message(host_window window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    return (intptr_t)SendMessageA((HWND)window, message, wparam, lparam);
}

// A message-only window whose messages arrive on the creating thread.
host_window window_create(window_handler handler, void* context) {
    HINSTANCE instance = GetModuleHandleA(NULL);
    WNDCLASSA window_class;
    memset(&window_class, 0, sizeof window_class);
    window_class.lpfnWndProc = window_procedure;
    window_class.hInstance = instance;
    window_class.lpszClassName = WINDOW_CLASS;
    RegisterClassA(&window_class);  // fails harmlessly when already registered

    win32_window_data* data = new win32_window_data{handler, context};
    HWND window = CreateWindowExA(0, WINDOW_CLASS, "Tolvane", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, instance, NULL);
    if (!window) {
        delete data;
        return nullptr;
    }
    SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)data);
    return window;
}

void window_destroy(host_window window) {
    if (!window) return;
    win32_window_data* data = (win32_window_data*)GetWindowLongPtrA((HWND)window, GWLP_USERDATA);
    DestroyWindow((HWND)window);
    delete data;
}

int window_pump(host_window window, uint32_t timeout_ms) {
    if (!window) return 0;
    // Returns at once when messages are already queued, else waits for one.
    MsgWaitForMultipleObjectsEx(0, NULL, timeout_ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    int handled = 0;
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&message);
        if (message.hwnd == (HWND)window) ++handled;
    }
    return handled;
}

// ---- Dialogs, directories, libraries ------------------------------------------

void message_box(host_window parent, const char* text, const char* caption) {
    MessageBoxA((HWND)parent, text, caption, MB_OK);
}

uint32_t temp_directory(char* buffer, uint32_t capacity) {
    // When the buffer is too small the result is the size the path needs; a
    // folder too long for any path fails with ERROR_FILENAME_EXCED_RANGE,
    // which is "does not fit" too, not "no temporary directory".
    DWORD length = GetTempPathA(capacity, buffer);
    if (length == 0 && GetLastError() == ERROR_FILENAME_EXCED_RANGE) return capacity;
    return length;
}

uint32_t executable_directory(char* buffer, uint32_t capacity) {
    DWORD length = GetModuleFileNameA(NULL, buffer, capacity);
    if (length == 0 || length >= capacity) return 0;
    char* last = strrchr(buffer, '\\');
    if (!last) return 0;
    last[1] = '\0';
    return (uint32_t)(last + 1 - buffer);
}

library_handle library_load(const char* name) {
    return (library_handle)LoadLibraryA(name);
}

void* library_symbol(library_handle library, const char* name) {
    return library ? (void*)GetProcAddress((HMODULE)library, name) : nullptr;
}

void library_free(library_handle library) {
    if (library) FreeLibrary((HMODULE)library);
}
