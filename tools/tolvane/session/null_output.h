// The do-nothing output: the Out_Module members that every output of the
// tolvane host leaves empty (its dialogs, its start and end, and volume and
// pan, which are the player's mixer's business), shared by the live and the
// render output, and the null output made of nothing else.
#pragma once

#include "host/winamp_host.h"

// Members for an output's own record. Config and About show no dialog; Init
// and Quit have nothing to set up; SetVolume and SetPan leave the sound as
// it is.
void HOST_CALL null_output_config(host_window parent);
void HOST_CALL null_output_about(host_window parent);
void HOST_CALL null_output_init();
void HOST_CALL null_output_quit();
void HOST_CALL null_output_set_volume(int volume);
void HOST_CALL null_output_set_pan(int pan);

// An output whose Open fails and that plays nothing, for a host that only
// asks the module about files. It lives as long as the program.
Out_Module* null_output_module();
