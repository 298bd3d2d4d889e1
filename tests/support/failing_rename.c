// Loaded ahead of the C library into a tool under test (LD_PRELOAD): rename()
// fails with EIO when its target's name ends in TOLVANE_FAIL_RENAME_TO, so a
// test can make one rename of several fail, as a full or failing disk would.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

int rename(const char* from, const char* to) {
    const char* suffix = getenv("TOLVANE_FAIL_RENAME_TO");
    size_t suffix_length = suffix ? strlen(suffix) : 0;
    size_t length = strlen(to);
    if (suffix_length > 0 && length >= suffix_length && strcmp(to + length - suffix_length, suffix) == 0) {
        errno = EIO;
        return -1;
    }
    int (*real_rename)(const char*, const char*) = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
    return real_rename(from, to);
}
