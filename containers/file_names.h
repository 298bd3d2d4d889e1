// Names in paths, as the player's own file dialogs see them: the platform's
// separator divides folders, and the text after the last dot of a path is its
// extension.
#pragma once

// The part of a path after its last separator (the whole path without one).
const char* base_name(const char* path);

// True when the text after the last '.' of path is extension (lower case),
// compared without regard to case. When that dot lies in a folder name the
// text holds a separator and matches nothing.
bool path_extension_is(const char* path, const char* extension);

// True when a and b name the same file as the platform compares names:
// without regard to case on Windows.
bool same_path(const char* a, const char* b);
