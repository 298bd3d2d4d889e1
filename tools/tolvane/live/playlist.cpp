// The playlist loop of `tolvane play`. Everything happens on the host's
// thread: it pumps the host window (where the end-of-stream message
// arrives), redraws the screen and reads a key, about 30 times a second.

#include "tools/tolvane/live/playlist.h"

#include <algorithm>

#include "platform/host_io.h"
#include "containers/stream_opener.h"
#include "platform/platform.h"
#include "tools/tolvane/cli/file_report.h"
#include "tools/tolvane/session/host_session.h"
#include "tools/tolvane/session/linked_zlib.h"
#include "tools/tolvane/live/live_output.h"
#include "tools/tolvane/live/player_screen.h"
#include "tools/tolvane/session/render_output.h"
#include "tools/tolvane/cli/render_plan.h"
#include "tools/tolvane/cli/sound_bank_names.h"

namespace {

const uint32_t PUMP_MS = 30;

enum item_result { ITEM_ENDED, ITEM_SKIPPED, ITEM_QUIT, ITEM_INTERRUPTED };

// The names of a file's entries, as the module counts them (empty strings
// for entries without one), a wave bank's from its sound banks too (the one
// sound_bank names, else those beside it); none for a single stream.
std::vector<std::string> entry_names_of(const std::string& file, const std::string& sound_bank) {
    std::vector<std::string> names;
    stream_description description;
    description_init(&description);
    if (describe_stream(file.c_str(), &LINKED_ZLIB, &description)) {
        name_from_sound_banks(file, sound_bank, &description);
        for (int32_t i = 0; i < description.record_count; ++i) {
            const entry_record& record = description.records[i];
            if (record.skipped == NOT_SKIPPED) names.push_back(record_name(&description, record));
        }
    }
    description_release(&description);
    return names;
}

// Which of a file's entries are heard, by the module's count: those whose
// records --entry chose; empty (all heard) without --entry or for a single
// stream.
struct heard_entries {
    host_session* session = nullptr;
    std::vector<bool> heard;
};

std::vector<bool> chosen_entries(const std::string& file, const std::string& entries) {
    std::vector<bool> heard;
    std::vector<std::pair<int32_t, int32_t>> ranges;
    if (entries.empty() || !parse_entry_list(entries, &ranges)) return heard;
    stream_description description;
    description_init(&description);
    if (describe_stream(file.c_str(), &LINKED_ZLIB, &description) &&
        (description.kind == STREAM_BANK || description.kind == STREAM_PAIR)) {
        for (const sound_unit& unit : sound_units(description)) {
            if ((size_t)unit.index >= heard.size()) heard.resize((size_t)unit.index + 1, false);
            for (const auto& range : ranges)
                if (unit.record >= range.first && unit.record <= range.second) heard[(size_t)unit.index] = true;
        }
    }
    description_release(&description);
    return heard;
}

// Asked by the output at each entry's Open: is the entry now starting heard?
bool entry_heard(void* context) {
    heard_entries* chosen = (heard_entries*)context;
    if (chosen->heard.empty()) return true;
    int length_ms = 0;
    int entry = 0;
    int count = 0;
    std::string title = session_title(chosen->session, &length_ms);
    if (!parse_entry_counter(title.c_str(), &entry, &count)) entry = 1;
    return entry >= 1 && (size_t)entry <= chosen->heard.size() && chosen->heard[(size_t)entry - 1];
}

// The player's title, with the name of the entry playing beside it.
std::string title_with_name(const std::string& title, const std::vector<std::string>& names) {
    int entry = 0;
    int count = 0;
    if (!parse_entry_counter(title.c_str(), &entry, &count) || (size_t)entry > names.size()) return title;
    const std::string& name = names[(size_t)entry - 1];
    return name.empty() ? title : title + " [" + name + "]";
}

void show_item(host_session* session, player_screen* screen, const std::vector<std::string>& names) {
    int length_ms = 0;
    std::string title = title_with_name(session_title(session, &length_ms), names);
    screen_show_title(screen, title, length_ms);
    In_Module* module = session->module;
    screen_show_status(screen, module->GetOutputTime(), length_ms, module->IsPaused() != 0);
}

void toggle_pause(host_session* session) {
    In_Module* module = session->module;
    if (module->IsPaused()) {
        module->UnPause();
    } else {
        module->Pause();
    }
}

// The module lands seeks on whole seconds; a target before the start is 0.
void seek_by(host_session* session, int step_ms) {
    int target_ms = session->module->GetOutputTime() + step_ms;
    session->module->SetOutputTime(target_ms < 0 ? 0 : target_ms);
}

item_result follow_item(host_session* session, player_screen* screen, const std::vector<std::string>& names) {
    show_item(session, screen, names);
    for (;;) {
        window_pump(session->window, PUMP_MS);
        if (session->end_of_stream_messages != 0) return ITEM_ENDED;
        show_item(session, screen, names);
        switch (terminal_read_key(0)) {
        case KEY_SPACE:
            toggle_pause(session);
            break;
        case KEY_LEFT:
            seek_by(session, -SEEK_STEP_MS);
            break;
        case KEY_RIGHT:
            seek_by(session, SEEK_STEP_MS);
            break;
        case KEY_NEXT:
            return ITEM_SKIPPED;
        case KEY_QUIT:
            return ITEM_QUIT;
        case KEY_INTERRUPT:
            return ITEM_INTERRUPTED;
        case KEY_NONE:
            break;
        }
    }
}

// Why the file did not play: what is wrong with it, else what the sound
// output said.
std::string refusal_line(const std::string& file) {
    std::string reason = why_unplayable(file);
    if (reason.empty()) reason = live_output_last_error();
    return "tolvane: cannot play " + file + (reason.empty() ? "" : ": " + reason);
}

}  // namespace

playlist_outcome play_playlist(const std::vector<std::string>& files, const std::string& module_path,
                               const sound_device* device, const std::string& device_name,
                               const std::string& sound_bank, const std::string& entries, bool quiet) {
    live_output_use_device(device, device_name);
    host_session session;
    if (!session_open(&session, module_path.c_str(), live_output_module())) return PLAYLIST_NO_MODULE;
    terminal_catch_interrupts();
    player_screen screen;
    // Quiet: no status line, though the keys still work on a terminal.
    bool interactive = terminal_stdout_is_tty() && !quiet;
    screen_begin(&screen, interactive, terminal_width());
    // Keys are read only with the screen on a terminal: a run whose output
    // goes to a file or a pipe leaves the terminal alone.
    if (terminal_stdout_is_tty() && terminal_raw_on() && interactive) screen_show_keys(&screen);

    heard_entries chosen;
    chosen.session = &session;
    live_output_hear_only(entry_heard, &chosen);
    int failures = 0;
    item_result result = ITEM_ENDED;
    for (const std::string& file : files) {
        // The same file twice in a row still gets its title line.
        screen.title.clear();
        std::vector<std::string> names = entry_names_of(file, sound_bank);
        chosen.heard = chosen_entries(file, entries);
        if (!chosen.heard.empty() && std::find(chosen.heard.begin(), chosen.heard.end(), true) == chosen.heard.end()) {
            screen_error(&screen, "tolvane: warning: " + file + ": it holds none of the entries chosen");
            continue;
        }
        bool played = session_play(&session, file.c_str());
        if (!played) {
            screen_error(&screen, refusal_line(file));
            failures++;
        } else {
            result = follow_item(&session, &screen, names);
        }
        session_stop(&session);
        if (result == ITEM_QUIT || result == ITEM_INTERRUPTED) break;
    }
    screen_end(&screen);
    terminal_raw_off();
    live_output_hear_only(nullptr, nullptr);
    session_close(&session);
    if (result == ITEM_INTERRUPTED) return PLAYLIST_INTERRUPTED;
    return failures > 0 ? PLAYLIST_SOME_FAILED : PLAYLIST_PLAYED;
}
