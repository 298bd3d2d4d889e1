// Writing an output under a temporary name and moving it into place.

#include "containers/output_file.h"

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "containers/file_names.h"
#include "platform/host_io.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

const int TEMP_NAME_TRIES = 100;

// The temporary files not yet finished or discarded.
std::vector<std::string>& unfinished() {
    static std::vector<std::string>* names = new std::vector<std::string>();
    return *names;
}

void forget(const std::string& temp_path) {
    std::vector<std::string>& names = unfinished();
    names.erase(std::remove(names.begin(), names.end(), temp_path), names.end());
}

bool fail(output_file* out, int error_number) {
    if (out->error.empty()) out->error = system_reason(error_number);
    return false;
}

}  // namespace

std::string with_extension(const std::string& path, const char* extension) {
    return path.substr(0, (size_t)(extension_dot(path.c_str()) - path.c_str())) + "." + extension;
}

std::string system_reason(int error_number) {
    std::string text = strerror(error_number);
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z' && !(text.size() > 1 && text[1] >= 'A' && text[1] <= 'Z'))
        text[0] = (char)(text[0] - 'A' + 'a');
    return text;
}

bool output_create(output_file* out, const std::string& path) {
    out->path = path;
    out->error.clear();
    // A device (/dev/null, a pipe, NUL) takes the bytes as they come: a
    // temporary file renamed over it would replace the device.
    if (path_is_device(path.c_str())) {
        out->stream = fopen(path.c_str(), "wb");
        return out->stream ? true : fail(out, errno);
    }
    fs::path folder = fs::path(path).parent_path();
    std::error_code made;
    if (!folder.empty()) fs::create_directories(folder, made);
    if (made) {
        out->error = system_reason(made.value());
        return false;
    }
    static uint32_t counter = 0;
    for (int attempt = 0; attempt < TEMP_NAME_TRIES; ++attempt) {
        std::string temp = path + ".tolvane-" + std::to_string(process_id()) + "-" + std::to_string(++counter) + ".tmp";
        // A name of this shape that is somehow taken is left alone.
        std::error_code probe;
        if (fs::exists(temp, probe) || probe) continue;
        // Registered before it exists, so no moment passes in which a second
        // interrupt would leave it behind.
        out->temp_slot = temp_file_register(temp.c_str());
        out->stream = fopen(temp.c_str(), "wb");
        if (!out->stream) {
            temp_file_forget(out->temp_slot);
            out->temp_slot = -1;
            return fail(out, errno);
        }
        unfinished().push_back(temp);
        out->temp_path = temp;
        return true;
    }
    out->error = "no free temporary name beside it";
    return false;
}

bool output_write(output_file* out, const void* data, size_t byte_count) {
    if (!out->stream) return false;
    if (byte_count == 0 || fwrite(data, 1, byte_count, out->stream) == byte_count) return true;
    return fail(out, errno);
}

bool output_patch(output_file* out, uint64_t offset, const void* data, size_t byte_count) {
    if (!out->stream) return false;
    if (fseek(out->stream, (long)offset, SEEK_SET) != 0) return fail(out, errno);
    bool written = output_write(out, data, byte_count);
    if (fseek(out->stream, 0, SEEK_END) != 0) return fail(out, errno);
    return written;
}

bool output_finish(output_file* out, bool keep_existing) {
    if (!out->stream) return false;
    FILE* stream = out->stream;
    out->stream = nullptr;
    if (out->temp_path.empty()) {
        bool written = fflush(stream) == 0;
        int error_number = errno;
        if (fclose(stream) != 0 && written) {
            written = false;
            error_number = errno;
        }
        return written || fail(out, error_number);
    }
    bool flushed = stream_flush_to_disk(stream);
    int error_number = errno;
    if (fclose(stream) != 0 && flushed) {
        flushed = false;
        error_number = errno;
    }
    if (flushed) {
        errno = 0;
        int renamed = keep_existing ? file_rename_new(out->temp_path.c_str(), out->path.c_str())
                                    : file_rename_replace(out->temp_path.c_str(), out->path.c_str());
        if (renamed) {
            forget(out->temp_path);
            temp_file_forget(out->temp_slot);
            out->temp_slot = -1;
            out->temp_path.clear();
            return true;
        }
        error_number = errno ? errno : EEXIST;
    }
    fail(out, error_number);
    output_discard(out);
    return false;
}

void output_discard(output_file* out) {
    if (out->stream) fclose(out->stream);
    out->stream = nullptr;
    if (out->temp_path.empty()) return;
    file_remove(out->temp_path.c_str());
    forget(out->temp_path);
    temp_file_forget(out->temp_slot);
    out->temp_slot = -1;
    out->temp_path.clear();
}

void discard_unfinished_outputs() {
    for (const std::string& temp : unfinished()) file_remove(temp.c_str());
    unfinished().clear();
}

bool write_output_file(const std::string& path, const void* data, size_t byte_count, bool keep_existing,
                       std::string* error) {
    output_file out;
    bool written =
        output_create(&out, path) && output_write(&out, data, byte_count) && output_finish(&out, keep_existing);
    if (!written) {
        output_discard(&out);
        *error = out.error;
    }
    return written;
}
