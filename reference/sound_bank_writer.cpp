// The reference sound bank writer (tests only, not product code): the fixed
// tables first, then every block they point at appended after them, each
// offset written into its field once the block's place is known.

#include "reference/sound_bank_writer.h"

#include <algorithm>

#include "codec/little_endian.h"

typedef std::vector<uint8_t> bytes;

uint32_t wave_reference(uint16_t wave_bank, uint16_t wave) {
    return (uint32_t)wave_bank << WAVE_REFERENCE_BANK_SHIFT | wave;
}

sound_event_design play_event(std::vector<uint32_t> waves, uint8_t type) {
    sound_event_design event;
    event.type = type;
    event.variations = waves.size() > 1;
    event.waves = std::move(waves);
    return event;
}

sound_design trivial_sound(uint32_t wave) {
    sound_design sound;
    sound.waves = {wave};
    return sound;
}

sound_design simple_sound(std::vector<uint32_t> waves) {
    sound_design sound;
    sound.kind = SIMPLE_SOUND;
    sound.waves = std::move(waves);
    return sound;
}

sound_design complex_sound(std::vector<std::vector<sound_event_design>> tracks) {
    sound_design sound;
    sound.kind = COMPLEX_SOUND;
    sound.tracks = std::move(tracks);
    return sound;
}

namespace {

// Appends block to the file: its offset.
uint32_t append(bytes& file, const bytes& block) {
    uint32_t at = (uint32_t)file.size();
    file.insert(file.end(), block.begin(), block.end());
    return at;
}

// A variation table: the count, then 8-byte entries beginning with each value
// (a u16 sound index or a u32 wave reference; the rest stays zero).
bytes variation_table(const std::vector<uint32_t>& values, bool wide) {
    bytes table(4 + VARIATION_ENTRY_BYTES * values.size(), 0);
    write_u32le(&table[0], (uint32_t)values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        uint8_t* entry = &table[4 + VARIATION_ENTRY_BYTES * i];
        if (wide) {
            write_u32le(entry, values[i]);
        } else {
            write_u16le(entry, (uint16_t)values[i]);
            write_u16le(entry + 4, 0);
            write_u16le(entry + 6, 0xFFFF);  // the weights: any
        }
    }
    return table;
}

// A track's events one after another, and after them the wave variation
// tables of those that have one; the track's word.
uint32_t append_track(bytes& file, const std::vector<sound_event_design>& events) {
    uint32_t first = (uint32_t)file.size();
    std::vector<std::pair<uint32_t, const sound_event_design*>> tables;
    for (const sound_event_design& event : events) {
        bytes header(EVENT_HEADER_BYTES + event.parameter_bytes, 0);
        header[EVENT_TYPE_AT] = event.type;
        header[EVENT_PARAMETER_BYTES_AT] = event.parameter_bytes;
        header[EVENT_FLAGS_AT] = event.variations ? EVENT_WAVE_VARIATIONS : 0;
        uint32_t at = append(file, header);
        if (event.parameter_bytes < 4 || event.waves.empty()) continue;
        if (event.variations) {
            tables.push_back({at + EVENT_HEADER_BYTES, &event});
        } else {
            write_u32le(&file[at + EVENT_HEADER_BYTES], event.waves[0]);
        }
    }
    for (const auto& table : tables) {
        uint32_t at = append(file, variation_table(table.second->waves, true));
        write_u32le(&file[table.first], at);
    }
    return (first << TRACK_EVENTS_SHIFT) | (uint32_t)std::min<size_t>(events.size(), TRACK_EVENT_COUNT_MASK);
}

// The sound's waves field, with whatever it points at appended.
uint32_t append_sound(bytes& file, const sound_design& sound) {
    switch (sound.kind) {
    case TRIVIAL_SOUND:
        return sound.waves.empty() ? 0 : sound.waves[0];
    case SIMPLE_SOUND:
        return append(file, variation_table(sound.waves, true));
    case COMPLEX_SOUND:
        break;
    }
    uint32_t tracks_at = append(file, bytes(TRACK_BYTES * sound.tracks.size(), 0));
    for (size_t t = 0; t < sound.tracks.size(); ++t) {
        uint32_t word = append_track(file, sound.tracks[t]);
        write_u32le(&file[tracks_at + TRACK_BYTES * t], word);
    }
    return tracks_at;
}

uint8_t sound_flags(const sound_design& sound) {
    return sound.kind == TRIVIAL_SOUND ? SOUND_TRIVIAL : sound.kind == SIMPLE_SOUND ? SOUND_SIMPLE : 0;
}

uint16_t count_or(int32_t declared, size_t count) {
    return (uint16_t)(declared >= 0 ? declared : (int32_t)count);
}

}  // namespace

uint32_t cue_record_at(const sound_bank_design&, uint32_t cue) {
    return SOUND_BANK_CUES_AT + CUE_RECORD_BYTES * cue;
}

uint32_t sound_record_at(const sound_bank_design& design, uint32_t sound) {
    return cue_record_at(design, (uint32_t)design.cues.size()) + SOUND_RECORD_BYTES * sound;
}

bytes build_sound_bank(const sound_bank_design& design) {
    bytes file(sound_record_at(design, (uint32_t)design.sounds.size()), 0);
    std::copy(SOUND_BANK_MAGIC, SOUND_BANK_MAGIC + 4, file.begin());
    write_u16le(&file[SOUND_BANK_VERSION_AT], design.version);
    write_u16le(&file[SOUND_BANK_FLAGS_AT], design.flags);
    write_u16le(&file[SOUND_BANK_SOUND_COUNT_AT], count_or(design.declared_sounds, design.sounds.size()));
    write_u16le(&file[SOUND_BANK_CUE_COUNT_AT], count_or(design.declared_cues, design.cues.size()));
    write_u16le(&file[SOUND_BANK_WAVE_BANK_COUNT_AT], count_or(design.declared_wave_banks, design.wave_banks.size()));
    std::copy_n(design.name.begin(), std::min<size_t>(design.name.size(), BANK_NAME_BYTES),
                file.begin() + SOUND_BANK_NAME_AT);

    bytes names(SOUND_BANK_WAVE_BANK_NAME_BYTES * design.wave_banks.size(), 0);
    for (size_t i = 0; i < design.wave_banks.size(); ++i)
        std::copy_n(design.wave_banks[i].begin(),
                    std::min<size_t>(design.wave_banks[i].size(), SOUND_BANK_WAVE_BANK_NAME_BYTES),
                    names.begin() + (long)(SOUND_BANK_WAVE_BANK_NAME_BYTES * i));
    uint32_t names_at = append(file, names);
    write_u32le(&file[SOUND_BANK_WAVE_BANK_NAMES_AT], names_at);

    for (size_t i = 0; i < design.cues.size(); ++i) {
        const cue_design& cue = design.cues[i];
        uint32_t record = cue_record_at(design, (uint32_t)i);
        bool table = cue.variations || cue.sounds.size() > 1;
        write_u16le(&file[record + CUE_SOUND_AT], cue.sounds.empty() || table ? NO_SOUND_INDEX : cue.sounds[0]);
        uint32_t variations = NO_SOUND_BANK_OFFSET;
        if (table) variations = append(file, variation_table({cue.sounds.begin(), cue.sounds.end()}, false));
        write_u32le(&file[record + CUE_VARIATIONS_AT], variations);
    }
    for (size_t i = 0; i < design.sounds.size(); ++i) {
        uint32_t record = sound_record_at(design, (uint32_t)i);
        uint32_t waves = append_sound(file, design.sounds[i]);
        write_u32le(&file[record + SOUND_WAVES_AT], waves);
        file[record + SOUND_TRACK_COUNT_AT] = (uint8_t)design.sounds[i].tracks.size();
        file[record + SOUND_FLAGS_AT] = sound_flags(design.sounds[i]);
    }
    for (size_t i = 0; i < design.cues.size(); ++i) {
        const std::string& name = design.cues[i].name;
        uint32_t at = NO_SOUND_BANK_OFFSET;
        if (!name.empty()) {
            bytes text(name.begin(), name.end());
            text.push_back(0);
            at = append(file, text);
        }
        write_u32le(&file[cue_record_at(design, (uint32_t)i) + CUE_NAME_AT], at);
    }
    return file;
}
