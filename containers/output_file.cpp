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

std::string unreadable_reason(const std::string& path) {
    std::error_code error;
    std::filesystem::file_status status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found) return "no such file";
    if (status.type() == std::filesystem::file_type::directory) return "is a folder";
    FILE* file = fopen(path.c_str(), "rb");
    if (file) {
        fclose(file);
        return "";
    }
    if (errno == EACCES || errno == EPERM) return "permission denied";
    return system_reason(errno);
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

// Flushes the file to the disk and closes it, keeping its temporary name.
bool close_to_disk(output_file* out) {
    if (!out->stream) return false;
    FILE* stream = out->stream;
    out->stream = nullptr;
    bool written = out->temp_path.empty() ? fflush(stream) == 0 : stream_flush_to_disk(stream);
    int error_number = errno;
    if (fclose(stream) != 0 && written) {
        written = false;
        error_number = errno;
    }
    return written || fail(out, error_number);
}

void forget_temp(output_file* out) {
    forget(out->temp_path);
    temp_file_forget(out->temp_slot);
    out->temp_slot = -1;
    out->temp_path.clear();
}

bool output_finish(output_file* out, bool keep_existing) {
    if (!close_to_disk(out)) {
        output_discard(out);
        return false;
    }
    if (out->temp_path.empty()) return true;
    errno = 0;
    int renamed = keep_existing ? file_rename_new(out->temp_path.c_str(), out->path.c_str())
                                : file_rename_replace(out->temp_path.c_str(), out->path.c_str());
    if (renamed) {
        forget_temp(out);
        return true;
    }
    fail(out, errno ? errno : EEXIST);
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

namespace {

// A second name for what path holds, beside it, until the files that replace
// it are all in place: a hard link where the file system has them, else a
// copy. Empty when neither can be made (*error says why).
std::string keep_aside(const std::string& path, std::string* error) {
    static uint32_t counter = 0;
    for (int attempt = 0; attempt < TEMP_NAME_TRIES; ++attempt) {
        std::string aside =
            path + ".tolvane-" + std::to_string(process_id()) + "-old" + std::to_string(++counter) + ".tmp";
        std::error_code probe;
        if (fs::exists(aside, probe) || probe) continue;
        if (file_link_new(path.c_str(), aside.c_str())) return aside;
        std::error_code copied;
        if (fs::copy_file(path, aside, copied) && !copied) return aside;
        *error = system_reason(copied.value());
        return "";
    }
    *error = "no free temporary name beside it";
    return "";
}

}  // namespace

bool output_finish_together(const std::vector<output_file*>& outs, bool keep_existing, size_t* failed) {
    size_t count = outs.size();
    auto give_up = [&](size_t index, int error_number) {
        *failed = index;
        if (error_number) fail(outs[index], error_number);
        for (output_file* out : outs) output_discard(out);
        return false;
    };
    for (size_t i = 0; i < count; ++i)
        if (!close_to_disk(outs[i])) return give_up(i, 0);
    std::vector<std::string> asides(count);
    std::vector<int> aside_slots(count, -1);
    auto drop_asides = [&]() {
        for (size_t i = 0; i < count; ++i) {
            if (asides[i].empty()) continue;
            file_remove(asides[i].c_str());
            temp_file_forget(aside_slots[i]);
        }
    };
    for (size_t i = 0; i < count; ++i) {
        output_file* out = outs[i];
        std::error_code probe;
        if (out->temp_path.empty() || !fs::exists(out->path, probe)) continue;
        if (keep_existing) {
            drop_asides();
            return give_up(i, EEXIST);
        }
        std::string reason;
        asides[i] = keep_aside(out->path, &reason);
        if (asides[i].empty()) {
            out->error = reason;
            drop_asides();
            return give_up(i, 0);
        }
        aside_slots[i] = temp_file_register(asides[i].c_str());
    }
    std::vector<bool> placed(count, false);
    for (size_t i = 0; i < count; ++i) {
        output_file* out = outs[i];
        if (out->temp_path.empty()) continue;
        errno = 0;
        int renamed = keep_existing ? file_rename_new(out->temp_path.c_str(), out->path.c_str())
                                    : file_rename_replace(out->temp_path.c_str(), out->path.c_str());
        if (renamed) {
            forget_temp(out);
            placed[i] = true;
            continue;
        }
        int error_number = errno ? errno : EEXIST;
        // Those already in place give way to what they replaced.
        for (size_t j = 0; j < i; ++j) {
            if (!placed[j]) continue;
            if (asides[j].empty()) {
                file_remove(outs[j]->path.c_str());
            } else if (file_rename_replace(asides[j].c_str(), outs[j]->path.c_str())) {
                temp_file_forget(aside_slots[j]);
                asides[j].clear();
            }
        }
        drop_asides();
        return give_up(i, error_number);
    }
    drop_asides();
    return true;
}

bool write_output_files(const std::vector<output_part>& parts, bool keep_existing, std::string* failed_path,
                        std::string* error) {
    std::vector<output_file> files(parts.size());
    std::vector<output_file*> outs;
    for (size_t i = 0; i < parts.size(); ++i) {
        outs.push_back(&files[i]);
        if (!output_create(&files[i], parts[i].path) || !output_write(&files[i], parts[i].data, parts[i].byte_count)) {
            *failed_path = parts[i].path;
            *error = files[i].error;
            for (output_file& file : files) output_discard(&file);
            return false;
        }
    }
    size_t failed = 0;
    if (output_finish_together(outs, keep_existing, &failed)) return true;
    *failed_path = parts[failed].path;
    *error = files[failed].error;
    return false;
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
