// The shared do-nothing output members, and the null output's record: its
// Open refuses every format, so a module handed it never starts to play.

#include "tools/tolvane/session/null_output.h"

void HOST_CALL null_output_config(host_window) {}
void HOST_CALL null_output_about(host_window) {}
void HOST_CALL null_output_init() {}
void HOST_CALL null_output_quit() {}
void HOST_CALL null_output_set_volume(int) {}
void HOST_CALL null_output_set_pan(int) {}

namespace {

int HOST_CALL null_open(int, int, int, int, int) {
    return -1;
}
void HOST_CALL null_close() {}
int HOST_CALL null_write(char*, int) {
    return 0;
}
int HOST_CALL null_can_write() {
    return 0;
}
int HOST_CALL null_is_playing() {
    return 0;
}
int HOST_CALL null_pause(int) {
    return 0;
}
void HOST_CALL null_flush(int) {}
int HOST_CALL null_time() {
    return 0;
}

char NULL_DESCRIPTION[] = "Tolvane null output";

Out_Module null_module = {
    0x10,
    NULL_DESCRIPTION,
    0,
    nullptr,
    nullptr,
    null_output_config,
    null_output_about,
    null_output_init,
    null_output_quit,
    null_open,
    null_close,
    null_write,
    null_can_write,
    null_is_playing,
    null_pause,
    null_output_set_volume,
    null_output_set_pan,
    null_flush,
    null_time,
    null_time,
};

}  // namespace

Out_Module* null_output_module() {
    return &null_module;
}
