// The tests' reference sound bank writer, not product code: a sound bank
// (.xsb) laid out from a design of cues, sounds and wave bank names, with the
// counts the header states under the design's control so that damaged banks
// can be made on purpose. Sizes and field places are the reader's own
// constants (containers/sound_bank.h). The header, the cue table and the
// sound table come first; after them the wave bank names, the variation
// tables, the tracks and their events, and last the cue names.
//
// Content versions 43 to 46 (little-endian, or big_endian as the Xbox 360
// writes them) are laid out from the same designs: the header, the wave bank
// names, the sounds (each followed by its blocks, track records and events),
// the simple cues, the complex cues, their variation tables, the cue name
// index and the cue names. There a trivial sound is a simple sound; a simple
// sound is a complex one whose one track plays one of its waves; events are
// of these versions' types, laid out as the reader's xact3_event_layout_of
// says. A cue with one sound and no variations is a simple cue, and the
// simple cues are numbered first.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "containers/sound_bank.h"

// A wave of wave bank wave_bank: its record there, from 0.
uint32_t wave_reference(uint16_t wave_bank, uint16_t wave);

// An event of a complex sound's track. A play event names one wave, or with
// variations (or several waves) the wave variation table it points at.
// Versions 43 to 46: a type's layout places the first wave, or all of them as
// its variations; parameter_bytes counts only for a type the reader does not
// know, or to make a pitch or volume event a ramp (its ramp's bytes).
struct sound_event_design {
    uint8_t type = EVENT_PLAY;
    uint8_t parameter_bytes = 4;  // the wave (or the table's offset) fills the first 4
    std::vector<uint32_t> waves;
    bool variations = false;
};
sound_event_design play_event(std::vector<uint32_t> waves, uint8_t type = EVENT_PLAY);

enum sound_design_kind { TRIVIAL_SOUND, SIMPLE_SOUND, COMPLEX_SOUND };
struct sound_design {
    sound_design_kind kind = TRIVIAL_SOUND;
    std::vector<uint32_t> waves;                          // trivial: the first; simple: its wave variation table
    std::vector<std::vector<sound_event_design>> tracks;  // complex
    // Versions 43 to 46: RPC codes and DSP presets (zeros) before the tracks.
    uint8_t rpc_codes = 0;
    uint8_t dsp_presets = 0;
};
sound_design trivial_sound(uint32_t wave);
sound_design simple_sound(std::vector<uint32_t> waves);
sound_design complex_sound(std::vector<std::vector<sound_event_design>> tracks);

struct cue_design {
    std::string name;  // "": the cue has no name
    // None: no sound; one: the cue's sound; several, or variations set: a
    // cue variation table of them.
    std::vector<uint16_t> sounds;
    bool variations = false;
    // Versions 43 to 46: the variation table's type; for a table of waves
    // (XACT3_VARIATION_WAVES or XACT3_VARIATION_COMPACT_WAVES), its waves.
    uint8_t variation_type = XACT3_VARIATION_SOUNDS;
    std::vector<uint32_t> waves = {};
    bool complex_record = false;  // a complex cue even for one sound
};

struct sound_bank_design {
    uint16_t version = SOUND_BANK_VERSION;
    bool big_endian = false;  // versions 43 to 46
    // Versions 43 to 46 hold only SOUND_BANK_FLAG_NO_CUE_NAMES: no cue names.
    uint16_t flags = 0;
    std::string name;
    std::vector<std::string> wave_banks;
    std::vector<cue_design> cues;
    std::vector<sound_design> sounds;
    // The counts the header states; the design's own when -1 (versions 43 to
    // 46 state their cues' own counts).
    int32_t declared_cues = -1;
    int32_t declared_sounds = -1;
    int32_t declared_wave_banks = -1;
};

std::vector<uint8_t> build_sound_bank(const sound_bank_design& design);
// Where the writer puts cue i's and sound i's records (versions 43 to 46:
// the file's cue i, simple cues first).
uint32_t cue_record_at(const sound_bank_design& design, uint32_t cue);
uint32_t sound_record_at(const sound_bank_design& design, uint32_t sound);
