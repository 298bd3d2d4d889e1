// Finding a wave bank's sound banks and naming its records from them.

#include "tools/tolvane/cli/sound_bank_names.h"

#include <algorithm>
#include <filesystem>

#include "containers/byte_source.h"
#include "containers/file_names.h"
#include "containers/output_file.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

// A sound bank table that frees itself.
struct owned_table {
    sound_bank_table table;
    owned_table() {
        sound_bank_init(&table);
    }
    ~owned_table() {
        sound_bank_release(&table);
    }
    owned_table(const owned_table&) = delete;
    owned_table& operator=(const owned_table&) = delete;
};

// Reads the sound bank at path, whole or (header_only) as far as its wave
// bank names; false when the file cannot be opened.
bool read_sound_bank_file(const std::string& path, bool header_only, sound_bank_table* table) {
    file_handle file = file_open_read(path.c_str());
    if (file == INVALID_FILE) return false;
    byte_source source = source_of_file(file);
    if (header_only) {
        read_sound_bank_header(&source, table);
    } else {
        read_sound_bank(&source, table);
    }
    file_close(file);
    return true;
}

std::string stem_of_path(const std::string& path) {
    const char* name = base_name(path.c_str());
    return std::string(name, extension_dot(name));
}

// The name a sound bank knows the described bank by: its own, or for a bank
// without one the stem of its file.
std::string bank_name_for(const stream_description& description, const std::string& path) {
    return description.bank_name[0] ? description.bank_name : stem_of_path(path);
}

// The sound bank's index of the described bank; a bank without a name is
// also the only wave bank of a sound bank that plays from one.
int32_t wave_bank_index_for(const sound_bank_table& table, const stream_description& description,
                            const std::string& path) {
    int32_t index = find_wave_bank_index(&table, bank_name_for(description, path).c_str());
    if (index < 0 && !description.bank_name[0] && table.wave_bank_count == 1) index = 0;
    return index;
}

std::string records_text(int32_t count) {
    if (count == 0) return "nothing";
    return count == 1 ? "1 record" : std::to_string(count) + " records";
}

// "music.xsb: names 12 records", "music.xsb: a damaged sound bank: names 3
// records"; played records that were named already are said apart.
std::string naming_note(const std::string& shown, const std::string& reason, int32_t named, int32_t played = 0) {
    std::string note = shown + ": " + (reason.empty() ? "" : reason + ": ") + "names " + records_text(named);
    if (played > named) note += " (its cues also play " + records_text(played - named) + " named already)";
    return note;
}

int32_t records_without_names(const stream_description& description) {
    int32_t count = 0;
    for (int32_t i = 0; i < description.record_count; ++i) count += description.records[i].name_at == NO_NAME;
    return count;
}

// Names the records from the sound bank at xsb when it plays from this bank.
// The note says what it named; for one that does not play from this bank
// (or cannot be read) only when say_why is set, else "".
std::string name_from(const std::string& xsb, const std::string& shown, bool say_why, const std::string& path,
                      stream_description* description) {
    owned_table header;
    if (!read_sound_bank_file(xsb, true, &header.table)) return say_why ? naming_note(shown, "cannot be read", 0) : "";
    int32_t index = wave_bank_index_for(header.table, *description, path);
    if (index < 0) {
        if (!say_why) return "";
        std::string reason = sound_bank_status_text(header.table);
        if (header.table.wave_bank_count > 0 || reason.empty())
            reason = "plays from no wave bank named \"" + bank_name_for(*description, path) + "\"";
        return naming_note(shown, reason, 0);
    }
    owned_table whole;
    if (!read_sound_bank_file(xsb, false, &whole.table)) return naming_note(shown, "cannot be read", 0);
    int32_t unnamed = records_without_names(*description);
    int32_t played = name_records_from_sound_bank(description, &whole.table, index);
    int32_t named = unnamed - records_without_names(*description);
    return naming_note(shown, sound_bank_status_text(whole.table), named, played);
}

// The .xsb files in path's folder, in the order of their names.
std::vector<std::string> sound_banks_beside(const std::string& path) {
    std::vector<std::string> found;
    fs::path folder = fs::path(path).parent_path();
    if (folder.empty()) folder = ".";
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code type_error;
        if (!it->is_regular_file(type_error)) continue;
        std::string name = it->path().filename().string();
        if (path_extension_is(name.c_str(), "xsb")) found.push_back(name);
    }
    std::sort(found.begin(), found.end());
    for (std::string& name : found) name = (folder / name).string();
    return found;
}

}  // namespace

std::string sound_bank_status_text(const sound_bank_table& table) {
    switch (table.status) {
    case SOUND_BANK_READ:
        return "";
    case SOUND_BANK_NOT_SDBK:
        return "not a sound bank (no SDBK header)";
    case SOUND_BANK_OTHER_VERSION:
        return "a sound bank of version " + std::to_string(table.version);
    case SOUND_BANK_NO_CUE_NAMES:
        return "a sound bank without cue names";
    case SOUND_BANK_CUT_SHORT:
        return "a sound bank cut short";
    case SOUND_BANK_DAMAGED:
        return "a damaged sound bank";
    case SOUND_BANK_OVER_LIMITS:
        return "a sound bank of more wave references than tolvane reads";
    case SOUND_BANK_NO_MEMORY:
        return "out of memory";
    }
    return "";
}

sound_bank_naming name_from_sound_banks(const std::string& path, const std::string& xsb_path,
                                        stream_description* description) {
    sound_bank_naming naming;
    if (description->kind != STREAM_BANK) {
        if (!xsb_path.empty()) naming.warnings.push_back("--xsb names wave bank entries only; ignored");
        return naming;
    }
    if (!xsb_path.empty()) {
        std::string reason = unreadable_reason(xsb_path);
        if (!reason.empty()) {
            naming.warnings.push_back("cannot read the sound bank " + xsb_path + ": " + reason);
            return naming;
        }
        naming.notes.push_back(name_from(xsb_path, xsb_path, true, path, description));
        return naming;
    }
    std::string stem = stem_of_path(path);
    for (const std::string& xsb : sound_banks_beside(path)) {
        // A bank without a name is named only by the sound bank of its stem,
        // and that one is said even when it names nothing.
        bool own_stem = same_path(stem_of_path(xsb).c_str(), stem.c_str());
        if (!description->bank_name[0] && !own_stem) continue;
        std::string note = name_from(xsb, base_name(xsb.c_str()), own_stem, path, description);
        if (!note.empty()) naming.notes.push_back(note);
    }
    return naming;
}
