// The files tolvane writes appear whole or not at all: each is written under
// a temporary name in its own folder, flushed to the disk, and only then
// given its name. A failure or an interrupt removes the temporary file, so
// no file under an output's name is ever cut short or empty, and a file the
// tool did not create is never changed.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

struct output_file {
    std::string path;       // the name it gets once complete
    std::string temp_path;  // where it is written meanwhile
    int temp_slot = -1;     // its place in the record a second interrupt cleans up
    FILE* stream = nullptr;
    std::string error;  // why it failed, in the system's words
};

// Creates a new, empty file beside path under a name of its own, making
// path's folder when it is missing; a device (/dev/null, NUL) is written
// directly. False with out->error.
bool output_create(output_file* out, const std::string& path);
bool output_write(output_file* out, const void* data, size_t byte_count);
// Writes over bytes already written (a header's sizes, once they are known).
bool output_patch(output_file* out, uint64_t offset, const void* data, size_t byte_count);
// Flushes the file to the disk and gives it its name, replacing a file of
// that name, or, with keep_existing, only when no file has it. False (and
// nothing left behind) when any of it fails.
bool output_finish(output_file* out, bool keep_existing);
// Finishes several files as one: each is flushed to the disk, then each file
// they replace is kept aside under a temporary name, then each is given its
// name. When any step fails, those already in place give way to what they
// replaced, so the files all change or none does. False with the failing
// one's index in *failed and the reason in its error; nothing is left.
bool output_finish_together(const std::vector<output_file*>& outs, bool keep_existing, size_t* failed);
// Closes and removes the temporary file; harmless when there is none.
void output_discard(output_file* out);
// Removes every temporary file not yet finished or discarded: for an
// interrupt, before the program ends.
void discard_unfinished_outputs();

// A whole file in one go, by the rules above.
bool write_output_file(const std::string& path, const void* data, size_t byte_count, bool keep_existing,
                       std::string* error);

// Several files in one go, all or none, by output_finish_together.
struct output_part {
    std::string path;
    const void* data;
    size_t byte_count;
};
bool write_output_files(const std::vector<output_part>& parts, bool keep_existing, std::string* failed_path,
                        std::string* error);

// path with its extension replaced by extension (added when it has none):
// how a stream pair's two files are named from one.
std::string with_extension(const std::string& path, const char* extension);

// Why the file at path cannot be read, in the words every command uses ("no
// such file", "is a folder", "permission denied"), or "" when it can.
std::string unreadable_reason(const std::string& path);

// The system's words for an errno value, as a message continues them: "no
// space left on device".
std::string system_reason(int error_number);
