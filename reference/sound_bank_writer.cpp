// The reference sound bank writer (tests only, not product code): the fixed
// tables first, then every block they point at appended after them, each
// offset written into its field once the block's place is known. Versions 43
// to 46 append every block after the header in turn, in either byte order.

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

// Versions 43 to 46: fields in the design's byte order, and blocks appended.
struct field_writer {
    bytes& file;
    bool big_endian;
    void u16(uint32_t at, uint16_t value) {
        big_endian ? write_u16be(&file[at], value) : write_u16le(&file[at], value);
    }
    void u32(uint32_t at, uint32_t value) {
        big_endian ? write_u32be(&file[at], value) : write_u32le(&file[at], value);
    }
    // A wave as these versions hold it: the wave (u16), then its bank (u8).
    void wave(uint32_t at, uint32_t reference) {
        u16(at, (uint16_t)reference);
        file[at + 2] = (uint8_t)(reference >> WAVE_REFERENCE_BANK_SHIFT);
    }
    uint32_t zeros(size_t byte_count) {
        return append(file, bytes(byte_count, 0));
    }
};

// A track's events: their offset.
uint32_t append_xact3_events(field_writer& w, const std::vector<sound_event_design>& events) {
    uint32_t at = w.zeros(1);
    w.file[at] = (uint8_t)events.size();
    for (const sound_event_design& event : events) {
        const xact3_event_layout* layout = xact3_event_layout_of(event.type);
        // A pitch or volume event given its ramp's bytes ramps.
        bool ramp = layout && layout->ramp_parameter_bytes != layout->parameter_bytes &&
                    event.parameter_bytes == layout->ramp_parameter_bytes;
        uint32_t parameter_bytes = ramp     ? layout->ramp_parameter_bytes
                                   : layout ? layout->parameter_bytes
                                            : event.parameter_bytes;
        size_t variations = layout && layout->variations_at >= 0 ? event.waves.size() : 0;
        uint32_t parameters =
            w.zeros(XACT3_EVENT_HEADER_BYTES + parameter_bytes + XACT3_EVENT_VARIATION_BYTES * variations) +
            XACT3_EVENT_HEADER_BYTES;
        w.u32(parameters - XACT3_EVENT_HEADER_BYTES, event.type);
        w.file[parameters - XACT3_EVENT_HEADER_BYTES + XACT3_EVENT_SEPARATOR_AT] = XACT3_EVENT_SEPARATOR;
        if (ramp) w.file[parameters] = XACT3_EVENT_RAMP;
        if (layout && layout->wave_at >= 0 && !event.waves.empty())
            w.wave(parameters + layout->wave_at, event.waves[0]);
        if (layout && layout->variations_at >= 0) w.u32(parameters + layout->variations_at, (uint32_t)variations);
        for (size_t i = 0; i < variations; ++i)
            w.wave(parameters + parameter_bytes + XACT3_EVENT_VARIATION_BYTES * (uint32_t)i, event.waves[i]);
    }
    return at;
}

// A sound, its blocks, its track records and their events: its offset.
uint32_t append_xact3_sound(field_writer& w, uint16_t version, const sound_design& sound) {
    bool complex = sound.kind != TRIVIAL_SOUND;
    std::vector<std::vector<sound_event_design>> tracks = sound.tracks;
    if (sound.kind == SIMPLE_SOUND) tracks = {{play_event(sound.waves, XACT3_EVENT_PLAY_TRACK_VARIATION)}};
    uint32_t at = w.zeros(XACT3_SOUND_HEADER_BYTES + (complex ? 1 : 3));
    w.file[at] = (uint8_t)((complex ? XACT3_SOUND_COMPLEX : 0) | (sound.rpc_codes ? XACT3_SOUND_RPC : 0) |
                           (sound.dsp_presets ? XACT3_SOUND_DSP : 0));
    if (complex) {
        w.file[at + XACT3_SOUND_TRACK_COUNT_AT] = (uint8_t)tracks.size();
    } else {
        w.wave(at + XACT3_SOUND_WAVE_AT, sound.waves.empty() ? 0 : sound.waves[0]);
    }
    // The RPC block's length counts itself; so does the DSP block's.
    if (sound.rpc_codes) {
        uint32_t block_bytes = 3 + 4 * sound.rpc_codes;
        uint32_t block = w.zeros(block_bytes);
        w.u16(block, (uint16_t)block_bytes);
        w.file[block + 2] = sound.rpc_codes;
    }
    if (sound.dsp_presets) {
        uint32_t block_bytes = XACT3_DSP_HEADER_BYTES + XACT3_DSP_PRESET_BYTES * sound.dsp_presets;
        uint32_t block = w.zeros(block_bytes);
        w.u16(block, (uint16_t)block_bytes);
        w.file[block + XACT3_DSP_COUNT_AT] = sound.dsp_presets;
    }
    uint32_t track_bytes = xact3_track_bytes(version);
    uint32_t records = w.zeros(track_bytes * tracks.size());
    for (size_t t = 0; t < tracks.size(); ++t)
        w.u32(records + track_bytes * (uint32_t)t + XACT3_TRACK_EVENTS_AT, append_xact3_events(w, tracks[t]));
    w.u16(at + XACT3_SOUND_ENTRY_BYTES_AT, (uint16_t)(w.file.size() - at));
    return at;
}

bool is_simple_cue(const cue_design& cue) {
    return cue.sounds.size() == 1 && !cue.variations && !cue.complex_record && cue.waves.empty();
}

// Versions 43 to 46: the file, with where its sounds and its cues' records
// (in the file's cue order) are.
bytes build_xact3_sound_bank(const sound_bank_design& design, std::vector<uint32_t>* sounds,
                             std::vector<uint32_t>* cue_records) {
    bytes file(XACT3_HEADER_BYTES, 0);
    field_writer w{file, design.big_endian};
    std::copy_n(design.big_endian ? SOUND_BANK_MAGIC_SWAPPED : SOUND_BANK_MAGIC, 4, file.begin());
    w.u16(SOUND_BANK_VERSION_AT, design.version);
    w.u16(XACT3_TOOL_VERSION_AT, XACT3_TOOL_VERSION);
    file[XACT3_PLATFORM_AT] = design.big_endian ? XACT3_PLATFORM_XBOX_360 : XACT3_PLATFORM_WINDOWS;
    std::copy_n(design.name.begin(), std::min<size_t>(design.name.size(), LONGEST_BANK_NAME_BYTES),
                file.begin() + XACT3_NAME_AT);
    for (uint32_t field : {XACT3_TRANSITIONS_AT, XACT3_CUE_HASH_AT}) w.u32(field, NO_XACT3_OFFSET);

    file[XACT3_WAVE_BANK_COUNT_AT] = (uint8_t)count_or(design.declared_wave_banks, design.wave_banks.size());
    uint32_t names = w.zeros(XACT3_WAVE_BANK_NAME_BYTES * design.wave_banks.size());
    w.u32(XACT3_WAVE_BANK_NAMES_AT, names);
    for (size_t i = 0; i < design.wave_banks.size(); ++i)
        std::copy_n(design.wave_banks[i].begin(),
                    std::min<size_t>(design.wave_banks[i].size(), XACT3_WAVE_BANK_NAME_BYTES),
                    file.begin() + names + (long)(XACT3_WAVE_BANK_NAME_BYTES * i));

    w.u16(XACT3_SOUND_COUNT_AT, count_or(design.declared_sounds, design.sounds.size()));
    w.u32(XACT3_SOUNDS_AT, (uint32_t)file.size());
    std::vector<uint32_t> sound_at;
    for (const sound_design& sound : design.sounds) sound_at.push_back(append_xact3_sound(w, design.version, sound));
    auto sound_offset = [&](uint16_t sound) { return sound < sound_at.size() ? sound_at[sound] : NO_XACT3_OFFSET; };

    std::vector<const cue_design*> order;
    for (const cue_design& cue : design.cues)
        if (is_simple_cue(cue)) order.push_back(&cue);
    uint16_t simple_cues = (uint16_t)order.size();
    for (const cue_design& cue : design.cues)
        if (!is_simple_cue(cue)) order.push_back(&cue);
    w.u16(XACT3_SIMPLE_CUE_COUNT_AT, simple_cues);
    w.u16(XACT3_COMPLEX_CUE_COUNT_AT, (uint16_t)(order.size() - simple_cues));
    w.u16(XACT3_TOTAL_CUE_COUNT_AT, (uint16_t)order.size());
    uint32_t simple = w.zeros(XACT3_SIMPLE_CUE_BYTES * simple_cues);
    uint32_t complex = w.zeros(XACT3_COMPLEX_CUE_BYTES * (order.size() - simple_cues));
    w.u32(XACT3_SIMPLE_CUES_AT, simple_cues ? simple : NO_XACT3_OFFSET);
    w.u32(XACT3_COMPLEX_CUES_AT, order.size() > simple_cues ? complex : NO_XACT3_OFFSET);
    w.u32(XACT3_VARIATIONS_AT, NO_XACT3_OFFSET);
    std::vector<uint32_t> records;
    for (size_t i = 0; i < order.size(); ++i) {
        const cue_design& cue = *order[i];
        bool is_complex = i >= simple_cues;
        uint32_t record = is_complex ? complex + XACT3_COMPLEX_CUE_BYTES * (uint32_t)(i - simple_cues)
                                     : simple + XACT3_SIMPLE_CUE_BYTES * (uint32_t)i;
        records.push_back(record);
        bool table = is_complex && (cue.variations || cue.sounds.size() != 1 || !cue.waves.empty());
        file[record + XACT3_CUE_FLAGS_AT] = table ? 0 : XACT3_CUE_PLAYS_SOUND;
        // No transition table; the rest of a complex record is left zero.
        if (is_complex) w.u32(record + XACT3_CUE_TARGET_AT + 4, NO_XACT3_OFFSET);
        if (!table) {
            w.u32(record + XACT3_CUE_TARGET_AT, sound_offset(cue.sounds[0]));
            continue;
        }
        bool plays_sounds = xact3_variation_plays_sounds(cue.variation_type);
        size_t count = plays_sounds ? cue.sounds.size() : cue.waves.size();
        uint32_t entry_bytes = xact3_variation_entry_bytes(cue.variation_type);
        uint32_t variations = w.zeros(XACT3_VARIATION_HEADER_BYTES + entry_bytes * count);
        if (read_u32le(&file[XACT3_VARIATIONS_AT]) == NO_XACT3_OFFSET) w.u32(XACT3_VARIATIONS_AT, variations);
        w.u32(variations, (uint32_t)count | (uint32_t)cue.variation_type << XACT3_VARIATION_TYPE_SHIFT);
        for (size_t e = 0; e < count; ++e) {
            uint32_t entry = variations + XACT3_VARIATION_HEADER_BYTES + entry_bytes * (uint32_t)e;
            if (plays_sounds) {
                w.u32(entry, sound_offset(cue.sounds[e]));
            } else {
                w.wave(entry, cue.waves[e]);
            }
        }
        w.u32(record + XACT3_CUE_TARGET_AT, variations);
    }

    bool cue_names = !(design.flags & SOUND_BANK_FLAG_NO_CUE_NAMES);
    uint32_t index = w.zeros(cue_names ? XACT3_CUE_NAME_INDEX_BYTES * order.size() : 0);
    uint32_t names_at = (uint32_t)file.size();
    w.u32(XACT3_CUE_NAME_INDEX_AT, cue_names ? index : NO_XACT3_OFFSET);
    w.u32(XACT3_CUE_NAMES_AT, cue_names ? names_at : NO_XACT3_OFFSET);
    for (size_t i = 0; i < order.size() && cue_names; ++i) {
        bytes text(order[i]->name.begin(), order[i]->name.end());
        text.push_back(0);
        uint32_t index_entry = index + XACT3_CUE_NAME_INDEX_BYTES * (uint32_t)i;
        w.u32(index_entry, append(file, text));
        w.u16(index_entry + 4, 0xFFFF);  // no next name in its hash chain
    }
    w.u16(XACT3_CUE_NAMES_BYTES_AT, (uint16_t)(file.size() - names_at));
    if (sounds) *sounds = sound_at;
    if (cue_records) *cue_records = records;
    return file;
}

}  // namespace

uint32_t cue_record_at(const sound_bank_design& design, uint32_t cue) {
    if (is_xact3_version(design.version)) {
        std::vector<uint32_t> records;
        build_xact3_sound_bank(design, nullptr, &records);
        return records.at(cue);
    }
    return SOUND_BANK_CUES_AT + CUE_RECORD_BYTES * cue;
}

uint32_t sound_record_at(const sound_bank_design& design, uint32_t sound) {
    if (is_xact3_version(design.version)) {
        std::vector<uint32_t> sounds;
        build_xact3_sound_bank(design, &sounds, nullptr);
        return sounds.at(sound);
    }
    return cue_record_at(design, (uint32_t)design.cues.size()) + SOUND_RECORD_BYTES * sound;
}

bytes build_sound_bank(const sound_bank_design& design) {
    if (is_xact3_version(design.version)) return build_xact3_sound_bank(design, nullptr, nullptr);
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
