// Base names, extensions and path comparison.

#include "containers/file_names.h"

#include <string.h>

#include "platform/platform.h"

namespace {

char lower_ascii(char c) {
    return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
}

}  // namespace

const char* base_name(const char* path) {
    const char* last = strrchr(path, PLATFORM_PATH_SEPARATOR);
    return last ? last + 1 : path;
}

bool path_extension_is(const char* path, const char* extension) {
    const char* dot = strrchr(path, '.');
    if (!dot) return false;
    const char* text = dot + 1;
    for (; *extension; ++text, ++extension)
        if (lower_ascii(*text) != *extension) return false;
    return *text == '\0';
}

bool same_path(const char* a, const char* b) {
    if (PLATFORM_CASE_SENSITIVE_NAMES) return strcmp(a, b) == 0;
    for (; *a && *b; ++a, ++b)
        if (lower_ascii(*a) != lower_ascii(*b)) return false;
    return *a == *b;
}
