// POSIX implementation of the platform layer (Linux and other Unix hosts).
// The host's "main window" is a small object with a queue for posted
// messages; message boxes go to stderr.

// glibc's <fcntl.h> declares a struct file_handle of its own; keep it apart
// from ours.
#define file_handle glibc_file_handle
#include <fcntl.h>
#undef file_handle

#include "platform/platform.h"

#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>

// ---- Files -----------------------------------------------------------------
// A handle points at a posix_file: the descriptor, the position the caller
// sees, and a small read buffer. The decode thread asks for its position and
// reads a few dozen bytes for every block set; served from the buffer, that
// costs no system call. Reads and writes go through pread/pwrite at the
// position, so seeking is bookkeeping only.

namespace {

const int32_t READ_BUFFER_BYTES = 32 * 1024;

struct posix_file {
    int fd;
    int64_t position;      // where the next read or write starts
    int64_t buffer_start;  // file position of buffer[0]
    int32_t buffer_bytes;  // valid bytes in buffer
    uint8_t buffer[READ_BUFFER_BYTES];
};

posix_file* file_from(file_handle file) {
    return file == INVALID_FILE ? nullptr : (posix_file*)file;
}

file_handle wrap_descriptor(int fd) {
    if (fd < 0) return INVALID_FILE;
    posix_file* self = new (std::nothrow) posix_file;
    if (!self) {
        close(fd);
        return INVALID_FILE;
    }
    self->fd = fd;
    self->position = 0;
    self->buffer_start = 0;
    self->buffer_bytes = 0;
    return (file_handle)self;
}

// Reads at offset until byte_count is met or the file ends, as ReadFile does
// for a disk file; returns the bytes delivered.
int32_t read_at(int fd, uint8_t* buffer, int32_t byte_count, int64_t offset) {
    int32_t total = 0;
    while (total < byte_count) {
        ssize_t got = pread(fd, buffer + total, (size_t)(byte_count - total), (off_t)(offset + total));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        total += (int32_t)got;
    }
    return total;
}

// Copies what the buffer holds at the file's position, up to byte_count.
int32_t take_from_buffer(posix_file* self, uint8_t* out, int32_t byte_count) {
    int64_t at = self->position - self->buffer_start;
    if (at < 0 || at >= self->buffer_bytes) return 0;
    int32_t available = self->buffer_bytes - (int32_t)at;
    int32_t count = byte_count < available ? byte_count : available;
    memcpy(out, self->buffer + at, (size_t)count);
    self->position += count;
    return count;
}

}  // namespace

file_handle file_open_read(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return INVALID_FILE;
    struct stat info;
    // Folders open fine on POSIX but are not files to play.
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        close(fd);
        return INVALID_FILE;
    }
    return wrap_descriptor(fd);
}

file_handle file_create_new(const char* path) {
    return wrap_descriptor(open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
}

int32_t file_read(file_handle file, void* buffer, int32_t byte_count) {
    posix_file* self = file_from(file);
    if (!self || byte_count <= 0) return 0;
    uint8_t* out = (uint8_t*)buffer;
    int32_t total = take_from_buffer(self, out, byte_count);
    while (total < byte_count) {
        int32_t wanted = byte_count - total;
        if (wanted >= READ_BUFFER_BYTES) {
            // Large reads go straight to the caller's memory.
            int32_t got = read_at(self->fd, out + total, wanted, self->position);
            self->position += got;
            total += got;
            break;
        }
        self->buffer_start = self->position;
        self->buffer_bytes = read_at(self->fd, self->buffer, READ_BUFFER_BYTES, self->position);
        int32_t got = take_from_buffer(self, out + total, wanted);
        if (got == 0) break;  // the end of the file, or a failed read
        total += got;
    }
    return total;
}

int32_t file_write(file_handle file, const void* buffer, int32_t byte_count) {
    posix_file* self = file_from(file);
    if (!self || byte_count <= 0) return 0;
    // Whatever the buffer held of the file may be overwritten.
    self->buffer_bytes = 0;
    int32_t total = 0;
    while (total < byte_count) {
        ssize_t put = pwrite(self->fd, (const char*)buffer + total, (size_t)(byte_count - total),
                             (off_t)(self->position + total));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        total += (int32_t)put;
    }
    self->position += total;
    return total;
}

int32_t file_seek(file_handle file, int32_t position) {
    posix_file* self = file_from(file);
    if (!self || position < 0) return -1;
    self->position = position;
    return position;
}

int32_t file_tell(file_handle file) {
    posix_file* self = file_from(file);
    if (!self || self->position > INT32_MAX) return -1;
    return (int32_t)self->position;
}

int64_t file_size(file_handle file) {
    posix_file* self = file_from(file);
    struct stat info;
    if (!self || fstat(self->fd, &info) != 0) return -1;
    return (int64_t)info.st_size;
}

void file_close(file_handle file) {
    posix_file* self = file_from(file);
    if (!self) return;
    close(self->fd);
    delete self;
}

file_handle file_open_read_then_delete(const char* path) {
    // An unlinked file stays readable through the open descriptor.
    file_handle file = file_open_read(path);
    if (file != INVALID_FILE) unlink(path);
    return file;
}

int file_remove(const char* path) {
    return unlink(path) == 0 ? 1 : 0;
}

int file_rename_replace(const char* from, const char* to) {
    struct stat replaced;
    if (stat(to, &replaced) == 0 && S_ISREG(replaced.st_mode)) {
        // An owner the process may not give is left as it is.
        int owned = chown(from, replaced.st_uid, replaced.st_gid);
        (void)owned;
        chmod(from, replaced.st_mode & 07777);
    }
    return rename(from, to) == 0 ? 1 : 0;
}

// A hard link fails when the name is taken, which rename would replace.
int file_rename_new(const char* from, const char* to) {
    if (link(from, to) != 0) return 0;
    unlink(from);
    return 1;
}

int file_link_new(const char* from, const char* to) {
    return link(from, to) == 0 ? 1 : 0;
}

bool path_is_device(const char* path) {
    struct stat status;
    if (stat(path, &status) != 0) return false;
    return S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode) || S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode);
}

int64_t file_modified_time(file_handle file) {
    posix_file* self = file_from(file);
    struct stat status;
    if (!self || fstat(self->fd, &status) != 0) return -1;
    return (int64_t)status.st_mtim.tv_sec * 1000000000 + status.st_mtim.tv_nsec;
}

bool stream_flush_to_disk(FILE* stream) {
    return fflush(stream) == 0 && fsync(fileno(stream)) == 0;
}

// ---- Threads and time -------------------------------------------------------

struct platform_thread {
    pthread_t thread;
    thread_routine routine;
    void* parameter;
};

static void* thread_trampoline(void* raw) {
    platform_thread* self = (platform_thread*)raw;
    self->routine(self->parameter);
    return nullptr;
}

platform_thread* thread_start(thread_routine routine, void* parameter) {
    platform_thread* self = new (std::nothrow) platform_thread;
    if (!self) return nullptr;
    self->routine = routine;
    self->parameter = parameter;
    if (pthread_create(&self->thread, nullptr, thread_trampoline, self) != 0) {
        delete self;
        return nullptr;
    }
    return self;
}

void thread_join(platform_thread* thread) {
    if (!thread) return;
    pthread_join(thread->thread, nullptr);
    delete thread;
}

void sleep_ms(uint32_t milliseconds) {
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    // Fuzzing builds only: every wait of the engine polls state that the
    // fuzzing host changes at once, so yielding explores the same orders.
    (void)milliseconds;
    sched_yield();
#else
    struct timespec wait;
    wait.tv_sec = (time_t)(milliseconds / 1000);
    wait.tv_nsec = (long)(milliseconds % 1000) * 1000000L;
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
#endif
}

uint64_t clock_ms() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint64_t)now.tv_sec * 1000u + (uint64_t)(now.tv_nsec / 1000000L);
}

uint32_t process_id() {
    return (uint32_t)getpid();
}

// ---- Host window and messages ----------------------------------------------

namespace {

struct posted_message {
    uint32_t message;
    uintptr_t wparam;
    intptr_t lparam;
};

// Stands in for the host's main window. Posted messages queue up until the
// host pumps them on its own thread; sent messages reach the handler at once.
struct posix_window {
    window_handler handler;
    void* context;
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<posted_message> queue;
};

}  // namespace

void window_post_message(host_window window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    posix_window* self = (posix_window*)window;
    if (!self) return;
    {
        std::lock_guard<std::mutex> guard(self->lock);
        self->queue.push_back(posted_message{message, wparam, lparam});
    }
    self->arrived.notify_one();
}

intptr_t window_send_message(host_window window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    posix_window* self = (posix_window*)window;
    if (!self || !self->handler) return 0;
    return self->handler(self->context, message, wparam, lparam);
}

host_window window_create(window_handler handler, void* context) {
    posix_window* self = new (std::nothrow) posix_window;
    if (!self) return nullptr;
    self->handler = handler;
    self->context = context;
    return self;
}

void window_destroy(host_window window) {
    delete (posix_window*)window;
}

int window_pump(host_window window, uint32_t timeout_ms) {
    posix_window* self = (posix_window*)window;
    if (!self) return 0;
    std::deque<posted_message> taken;
    {
        std::unique_lock<std::mutex> guard(self->lock);
        self->arrived.wait_for(guard, std::chrono::milliseconds(timeout_ms), [self] { return !self->queue.empty(); });
        taken.swap(self->queue);
    }
    // The handler runs without the lock, so it may post again.
    for (const posted_message& m : taken) {
        if (self->handler) self->handler(self->context, m.message, m.wparam, m.lparam);
    }
    return (int)taken.size();
}

// ---- Dialogs, directories, libraries ------------------------------------------

void message_box(host_window, const char* text, const char* caption) {
    fprintf(stderr, "[%s]\n%s\n", caption ? caption : "", text ? text : "");
}

static uint32_t copy_with_separator(const char* folder, char* buffer, uint32_t capacity) {
    size_t length = strlen(folder);
    bool needs_separator = length == 0 || folder[length - 1] != '/';
    size_t total = length + (needs_separator ? 1 : 0);
    if (total + 1 > capacity) return total + 1 > UINT32_MAX ? UINT32_MAX : (uint32_t)(total + 1);
    memcpy(buffer, folder, length);
    if (needs_separator) buffer[length] = '/';
    buffer[total] = '\0';
    return (uint32_t)total;
}

uint32_t temp_directory(char* buffer, uint32_t capacity) {
    const char* folder = getenv("TMPDIR");
    if (!folder || !*folder) folder = "/tmp";
    return copy_with_separator(folder, buffer, capacity);
}

uint32_t executable_directory(char* buffer, uint32_t capacity) {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return 0;
    path[length] = '\0';
    char* last = strrchr(path, '/');
    if (!last) return 0;
    last[1] = '\0';
    uint32_t written = copy_with_separator(path, buffer, capacity);
    return written < capacity ? written : 0;
}

library_handle library_load(const char* name) {
    return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

void* library_symbol(library_handle library, const char* name) {
    return library ? dlsym(library, name) : nullptr;
}

void library_free(library_handle library) {
    if (library) dlclose(library);
}
