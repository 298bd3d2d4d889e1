// tolvane info: what the player shows of each file and every record of it,
// as text or JSON. Nothing is played and nothing is written: a compressed
// bank without its cache is looked at in memory, as the playlist does.

#include <stdio.h>

#include <string>
#include <vector>

#include "containers/file_names.h"
#include "containers/timeline.h"
#include "tools/tolvane/commands/commands.h"
#include "tools/tolvane/session/host_session.h"
#include "tools/tolvane/cli/listing.h"
#include "tools/tolvane/session/null_output.h"
#include "tools/tolvane/cli/render_plan.h"
#include "tools/tolvane/tool_common.h"

namespace {

// What the player shows right after the item starts: the title (with the
// counter of the first entry that plays), the length the module gives the
// playlist for the file, and the format and entry count it plays.
player_view view_of(host_session* session, const std::string& path, const stream_description& d,
                    bool format_overridden) {
    player_view view;
    view.title = title_name(path_played(path, d).c_str());
    view.sample_rate = (int)d.sample_rate;
    view.channels = (int)d.channels;
    view.entries = d.entry_count;
    item_plan plan;
    if (d.entry_count > 0 && plan_item(&d, &plan)) {
        int32_t first = next_played_entry(&plan, 0);
        if (first >= plan.count) first = 0;
        view.title += " - " + std::to_string(first + 1) + " / " + std::to_string(d.entry_count);
        view.sample_rate = (int)plan.spans[first].rate;
        view.channels = (int)plan.spans[first].channels;
        plan_release(&plan);
    }
    if (format_overridden || !session) {
        view.length_ms = player_length_ms(&d, nullptr);
    } else {
        char title[PLAYER_TITLE_BYTES] = "";
        std::vector<char> name(path.begin(), path.end());
        name.push_back('\0');
        session->module->GetFileInfo(name.data(), title, &view.length_ms);
    }
    return view;
}

void print_failure_json(const std::string& path, const file_failure& failed) {
    std::string text = "{";
    append_json_text(&text, "file", path);
    append_json_text(&text, "error", failed.what + ": " + failed.reason);
    text += "}\n";
    fputs(text.c_str(), stdout);
}

}  // namespace

int run_info(const command_line& line) {
    int status = EXIT_OK;
    bool warned = false;
    bool several = line.files.size() > 1;
    std::string module_path = module_path_of(line);
    host_session session;
    if (!session_open(&session, module_path.c_str(), null_output_module()))
        return failure("cannot load module", module_path);
    for (size_t i = 0; i < line.files.size(); ++i) {
        const std::string& path = line.files[i];
        described_file file;
        file_failure failed;
        if (!describe_for_tool(line, path, false, &file, &failed)) {
            failure(failed.what.c_str(), path, failed.reason);
            if (line.json) print_failure_json(path, failed);
            status = EXIT_FAILED;
            continue;
        }
        player_view view = view_of(&session, path, file.d, file.format_overridden);
        std::vector<std::string> warnings;
        for (const file_warning& warning : file.warnings) warnings.push_back(warning.text);
        if (!line.quiet)
            for (const std::string& text : warnings) warn(path, text);
        warned = warned || !warnings.empty();
        std::vector<sound_unit> units = sound_units(file.d);
        loop_rendering looping;
        looping.loops = line.loops;
        looping.fade_ms = line.fade_ms;
        if (line.json) {
            print_info_json(stdout, path, view, file.d, units, looping, warnings, file.notes);
        } else {
            if (several) printf("%sfile: %s\n", i ? "\n" : "", path.c_str());
            print_info_text(stdout, view, file.d, units, looping, file.notes);
        }
    }
    session_close(&session);
    if (line.strict && warned) status = EXIT_FAILED;
    return status;
}
