// Platform layer: the few operating-system services the plug-in, its hosts
// and its tests need, behind free functions and opaque handles.
// platform_win32.cpp and platform_posix.cpp implement this header; the build
// compiles exactly one of them. Nothing outside this folder knows which.
#pragma once

#include <stdint.h>
#include <stdio.h>

#if defined(_WIN32)
#define PLATFORM_THREAD_CALL __stdcall
#define PLATFORM_PATH_SEPARATOR '\\'
#define PLATFORM_LIBRARY_PREFIX ""
#define PLATFORM_LIBRARY_SUFFIX ".dll"
#define PLATFORM_CASE_SENSITIVE_NAMES 0
#else
#define PLATFORM_THREAD_CALL
#define PLATFORM_PATH_SEPARATOR '/'
#define PLATFORM_LIBRARY_PREFIX "lib"
#define PLATFORM_LIBRARY_SUFFIX ".so"
#define PLATFORM_CASE_SENSITIVE_NAMES 1
#endif

// ---- Files -----------------------------------------------------------------
// A file handle is a Win32 HANDLE or a POSIX descriptor, both of which fit in
// an intptr_t; -1 (INVALID_HANDLE_VALUE, or no descriptor) means "no file".
typedef intptr_t file_handle;
const file_handle INVALID_FILE = -1;

// Opens an existing file for reading; others may keep reading and writing it.
file_handle file_open_read(const char* path);
// Creates a new file for reading and writing; fails if the name exists.
file_handle file_create_new(const char* path);
// Reads up to byte_count bytes; returns the number delivered, 0 on failure.
int32_t file_read(file_handle file, void* buffer, int32_t byte_count);
// Writes byte_count bytes; returns the number written, 0 on failure.
int32_t file_write(file_handle file, const void* buffer, int32_t byte_count);
// Moves to an absolute position. Returns the new position, or -1 when the
// seek fails or the position would be 2^31 or more.
int32_t file_seek(file_handle file, int32_t position);
// The current position, or -1 when it cannot be had (or is 2^31 or more).
int32_t file_tell(file_handle file);
// The size in bytes, or -1 when it cannot be had.
int64_t file_size(file_handle file);
void file_close(file_handle file);
// Opens an existing file for reading such that it is deleted once closed.
file_handle file_open_read_then_delete(const char* path);
// Removes a file by name; returns 1 on success.
int file_remove(const char* path);
// Renames a file, replacing the target if it exists; returns 1 on success.
// A file it replaces passes on its permissions (and, where the process may
// set it, its owner), so an edit in place leaves them as they were.
int file_rename_replace(const char* from, const char* to);
// Renames a file only when no file has the target name; returns 1 on success.
int file_rename_new(const char* from, const char* to);
// Gives the file at from a second name, to, which must be free: a hard
// link. Returns 1 on success; 0 also where the file system has no links.
int file_link_new(const char* from, const char* to);
// True when path names a device rather than a file: /dev/null, a pipe or a
// terminal on POSIX, NUL or CON on Windows. Such an output is written as it
// is, never through a temporary file renamed over it.
bool path_is_device(const char* path);
// When the file was last written, in a unit of the system's that only
// compares with other such times (later is larger); -1 when it cannot be had.
int64_t file_modified_time(file_handle file);
// Flushes a stream and makes the system write it to the disk; false when
// either fails (errno says why).
bool stream_flush_to_disk(FILE* stream);

// ---- Threads and time -------------------------------------------------------
typedef unsigned long(PLATFORM_THREAD_CALL* thread_routine)(void* parameter);
struct platform_thread;

// Starts routine(parameter) on a new thread; null when it cannot be started.
platform_thread* thread_start(thread_routine routine, void* parameter);
// Waits without a time limit until the thread has ended, then releases it.
void thread_join(platform_thread* thread);
void sleep_ms(uint32_t milliseconds);
// A monotonic clock in milliseconds, for hosts and tests that measure time.
uint64_t clock_ms();
// This process's identifier, for names that concurrent processes must not share.
uint32_t process_id();

// ---- Host window and messages ----------------------------------------------
// The host's "main window": a real window on Windows, a small object of ours
// on POSIX. The plug-in only posts and sends to it; hosts create one and pump
// it on their own thread.
typedef intptr_t (*window_handler)(void* context, uint32_t message, uintptr_t wparam, intptr_t lparam);
typedef void* host_window;

// Queues a message for the window's thread and returns without waiting.
void window_post_message(host_window window, uint32_t message, uintptr_t wparam, intptr_t lparam);
// Delivers a message to the window's handler and returns its answer. On POSIX
// the handler runs on the sending thread; the plug-in sends only from the
// host's thread.
intptr_t window_send_message(host_window window, uint32_t message, uintptr_t wparam, intptr_t lparam);

// Host side: create a window whose handler receives every message.
host_window window_create(window_handler handler, void* context);
void window_destroy(host_window window);
// Waits up to timeout_ms for posted messages and hands each to the handler on
// the calling thread. Returns the number of messages handled.
int window_pump(host_window window, uint32_t timeout_ms);

// ---- Dialogs, directories, libraries ------------------------------------------
// A message box with one OK button; on POSIX the text goes to stderr.
void message_box(host_window parent, const char* text, const char* caption);
// Writes the temporary directory, with its closing separator, into buffer.
// Returns the length written; 0 when there is none; when it does not fit,
// the capacity it would need (at least capacity), with buffer unspecified.
uint32_t temp_directory(char* buffer, uint32_t capacity);
// Writes the folder of the running executable, with its closing separator.
// Returns the length written, or 0.
uint32_t executable_directory(char* buffer, uint32_t capacity);

typedef void* library_handle;
library_handle library_load(const char* name);
void* library_symbol(library_handle library, const char* name);
void library_free(library_handle library);
