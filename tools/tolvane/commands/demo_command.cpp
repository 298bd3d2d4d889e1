// tolvane demo: a generated bank played through the module, or rendered to
// WAVE files where there is no sound card.

#include <stdio.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tools/tolvane/commands/commands.h"
#include "tools/tolvane/commands/demo_bank.h"
#include "containers/output_file.h"
#include "tools/tolvane/tool_common.h"

namespace fs = std::filesystem;

namespace {

std::string with_trailing_separator(const std::string& folder) {
    if (folder.empty()) return folder;
    char last = folder[folder.size() - 1];
    if (last == '/' || last == PLATFORM_PATH_SEPARATOR) return folder;
    return folder + PLATFORM_PATH_SEPARATOR;
}

// A new folder of the demo's own under the temporary folder, so that demos
// run at the same time never share a bank file. Empty when none can be made.
fs::path make_demo_folder() {
    std::error_code error;
    fs::path base = fs::temp_directory_path(error);
    if (error) return {};
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path folder = base / ("tolvane-demo-" + std::to_string(entropy() % 1000000));
        if (fs::create_directory(folder, error)) return folder;
    }
    return {};
}

// The demo's tunes, each into DIR/tolvane-demo-NN.wav, as render does it.
int render_demo(const std::string& bank, const command_line& line) {
    command_line render_line;
    render_line.command = "render";
    render_line.module = line.module;
    render_line.out = with_trailing_separator(line.out) + "tolvane-demo.wav";
    render_line.has_out = true;
    render_line.files = {bank};
    render_line.quiet = line.quiet;
    render_line.no_clobber = line.no_clobber;
    return run_render(render_line);
}

int play_or_render_demo(const std::string& bank, const command_line& line, size_t entries) {
    std::string error;
    if (device_works(device_name_of(line), &error)) {
        if (!line.quiet)
            printf("the demo: a wave bank of %u tunes made by tolvane's encoder, played through the module\n",
                   (unsigned)entries);
        return play_files({bank}, line);
    }
    if (!line.quiet)
        printf("no sound output (%s): rendering the demo's %u tunes to WAVE files instead\n", error.c_str(),
               (unsigned)entries);
    fflush(stdout);
    return render_demo(bank, line);
}

}  // namespace

int run_demo(const command_line& line) {
    std::vector<bank_sound> sounds = demo_sounds();
    fs::path folder = make_demo_folder();
    if (folder.empty()) return failure("cannot make a folder in", "the temporary folder");
    std::string bank = (folder / "tolvane-demo.xwb").string();
    std::vector<uint8_t> content = make_wave_bank(sounds);
    std::string error;
    int status = write_output_file(bank, content.data(), content.size(), true, &error)
                     ? play_or_render_demo(bank, line, sounds.size())
                     : failure("cannot write", bank, error);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return status;
}
