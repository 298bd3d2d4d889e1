// The tests' reference sound bank writer, not product code: a sound bank
// (.xsb) laid out from a design of cues, sounds and wave bank names, with the
// counts the header states under the design's control so that damaged banks
// can be made on purpose. Sizes and field places are the reader's own
// constants (containers/sound_bank.h). The header, the cue table and the
// sound table come first; after them the wave bank names, the variation
// tables, the tracks and their events, and last the cue names.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "containers/sound_bank.h"

// A wave of wave bank wave_bank: its record there, from 0.
uint32_t wave_reference(uint16_t wave_bank, uint16_t wave);

// An event of a complex sound's track. A play event names one wave, or with
// variations (or several waves) the wave variation table it points at.
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
};

struct sound_bank_design {
    uint16_t version = SOUND_BANK_VERSION;
    uint16_t flags = 0;
    std::string name;
    std::vector<std::string> wave_banks;
    std::vector<cue_design> cues;
    std::vector<sound_design> sounds;
    // The counts the header states; the design's own when -1.
    int32_t declared_cues = -1;
    int32_t declared_sounds = -1;
    int32_t declared_wave_banks = -1;
};

std::vector<uint8_t> build_sound_bank(const sound_bank_design& design);
// Where the writer puts cue i's and sound i's records.
uint32_t cue_record_at(const sound_bank_design& design, uint32_t cue);
uint32_t sound_record_at(const sound_bank_design& design, uint32_t sound);
