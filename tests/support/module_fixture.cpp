// The shared module fixture.

#include "tests/support/module_fixture.h"

#include "player/player_state.h"
#include "plugin/module.h"

void module_fixture::TearDown() {
    host.module->Stop();
    host.dsp = nullptr;
    host.dsp_active = 0;
    release_item();
}

std::string module_fixture::write(const std::string& name, const bytes& content) {
    return write_file_in(scratch.path, name, content);
}

int module_fixture::play_to_end(const std::string& path) {
    int result = host.play(path);
    if (result == 0) {
        EXPECT_TRUE(host.wait_for_end_of_stream());
        host.module->Stop();
    }
    return result;
}

std::vector<std::vector<long long>> module_fixture::args_of(const std::string& name) const {
    std::vector<std::vector<long long>> out;
    for (const host_call& call : host.calls_named(name)) out.push_back(call.args);
    return out;
}

std::string module_fixture::title() {
    char text[HOST_TITLE_BYTES] = "";
    host.module->GetFileInfo(nullptr, text, nullptr);
    return text;
}

bytes concat(const std::vector<bytes>& parts) {
    bytes out;
    for (const bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

bytes slice(const bytes& data, size_t from, size_t count) {
    return bytes(data.begin() + (long)from, data.begin() + (long)(from + count));
}

bytes cut(bytes content, size_t size) {
    content.resize(size);
    return content;
}
