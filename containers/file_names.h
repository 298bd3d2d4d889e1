// Names in paths: '/' divides folders everywhere and '\\' also does on
// Windows; a name's extension is the text after its last dot, unless that dot
// is the name's first character (".hidden" has none).
#pragma once

bool is_path_separator(char c);

// The part of a path after its last separator (the whole path without one).
const char* base_name(const char* path);

// The name the player's titles show: the part after the last of the
// platform's own separators only, so on Windows a '/' stays in the title, as
// it does in the player's.
const char* title_name(const char* path);

// Where the extension of path's base name begins: at its dot, or at the end
// of path when the base name has none.
const char* extension_dot(const char* path);

// True when path's extension is extension (lower case), compared without
// regard to case.
bool path_extension_is(const char* path, const char* extension);

// A copy of path (malloc'd, nullptr when memory runs out) with its extension
// replaced by extension, or extension added when it has none.
char* with_extension(const char* path, const char* extension);

// True when a and b name the same file as the platform compares names:
// without regard to case on Windows.
bool same_path(const char* a, const char* b);
