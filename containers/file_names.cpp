// Base names, extensions and path comparison.

#include "containers/file_names.h"

#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"

namespace {

char lower_ascii(char c) {
    return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
}

}  // namespace

bool is_path_separator(char c) {
    return c == '/' || c == PLATFORM_PATH_SEPARATOR;
}

const char* base_name(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (is_path_separator(*p)) name = p + 1;
    return name;
}

const char* title_name(const char* path) {
    const char* last = strrchr(path, PLATFORM_PATH_SEPARATOR);
    return last ? last + 1 : path;
}

const char* extension_dot(const char* path) {
    const char* name = base_name(path);
    const char* dot = strrchr(name, '.');
    return dot && dot > name ? dot : name + strlen(name);
}

bool path_extension_is(const char* path, const char* extension) {
    const char* dot = extension_dot(path);
    if (*dot != '.') return false;
    const char* text = dot + 1;
    for (; *extension; ++text, ++extension)
        if (lower_ascii(*text) != *extension) return false;
    return *text == '\0';
}

char* with_extension(const char* path, const char* extension) {
    size_t stem = (size_t)(extension_dot(path) - path);
    size_t added = strlen(extension);
    char* out = (char*)malloc(stem + 1 + added + 1);
    if (!out) return nullptr;
    memcpy(out, path, stem);
    out[stem] = '.';
    memcpy(out + stem + 1, extension, added + 1);
    return out;
}

bool same_path(const char* a, const char* b) {
    if (PLATFORM_CASE_SENSITIVE_NAMES) return strcmp(a, b) == 0;
    for (; *a && *b; ++a, ++b)
        if (lower_ascii(*a) != lower_ascii(*b)) return false;
    return *a == *b;
}
