// FAudio reads the bank through its public API; what that API leaves out,
// the play regions, is read from FAudio's own wave bank object and checked
// against what the API said before it is trusted.

#include "tests/support/faudio_reader.h"

#include <stdlib.h>
#include <string.h>

#include <FACT.h>

#include "codec/little_endian.h"

#if defined(__SANITIZE_ADDRESS__)
#define TOLVANE_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOLVANE_LEAK_CHECKED 1
#endif
#endif
#ifdef TOLVANE_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// FAudio reads these whole, whatever the bank says.
const uint64_t HEADER_BYTES = 52;
const uint64_t BANK_DATA_BYTES = 96;
const uint64_t FULL_RECORD_BYTES = 24;
const uint64_t NAME_BYTES = 64;

const uint32_t FLAG_ENTRY_NAMES = 0x10000;
const uint32_t FLAG_COMPACT = 0x20000;
const uint32_t FLAG_SEEK_TABLES = 0x80000;

enum { REGION_BANK_DATA, REGION_RECORDS, REGION_SEEK_TABLES, REGION_NAMES, REGION_WAVE_DATA };

// The bank's fields in its own byte order: "DNBW" opens a big-endian one.
class bank_view {
public:
    explicit bank_view(const std::vector<uint8_t>& bank)
        : bank_(bank), big_(bank.size() >= 4 && memcmp(bank.data(), "DNBW", 4) == 0) {}
    bool holds(uint64_t offset, uint64_t length) const {
        return offset <= bank_.size() && length <= bank_.size() - offset;
    }
    uint32_t u32(uint64_t offset) const {
        return big_ ? read_u32be(&bank_[offset]) : read_u32le(&bank_[offset]);
    }
    uint32_t region_offset(int region) const {
        return u32(12 + 8 * region);
    }
    uint32_t region_length(int region) const {
        return u32(16 + 8 * region);
    }
    bool big() const {
        return big_;
    }

private:
    const std::vector<uint8_t>& bank_;
    bool big_;
};

// Why FAudio's parser would step outside the bank or fault, "" when it would
// not. FAudio checks no offset or count against the bank's size: it reads
// past the end (leaving its buffers unset), copies records larger than its
// own into a 24-byte slot, allocates by the stated counts, divides by the
// channel count, and swaps big-endian 16-bit PCM in place wherever the
// record points.
std::string fault_in_faudio(const bank_view& v) {
    if (!v.holds(0, HEADER_BYTES)) return "the bank is shorter than its 52-byte header";
    uint32_t data = v.region_offset(REGION_BANK_DATA);
    if (!v.holds(data, BANK_DATA_BYTES)) return "the bank data region lies outside the bank";
    uint32_t flags = v.u32(data), count = v.u32(data + 4), record_size = v.u32(data + 0x48);
    // Compact entries get no format from FAudio, and their zero channel
    // count divides the duration.
    if (flags & FLAG_COMPACT) return "FAudio gives compact entries no format";
    if (record_size > FULL_RECORD_BYTES) return "entry records are larger than 24 bytes";
    if (count > 0 && record_size < 8) return "entry records are too short to hold a format";
    if (count > 0xFFFF) return "more entries than FAudio can index";
    uint32_t records = v.region_offset(REGION_RECORDS);
    if (!v.holds(records, (uint64_t)count * record_size)) return "the entry records run past the bank";
    if ((flags & FLAG_ENTRY_NAMES) && !v.holds(v.region_offset(REGION_NAMES), count * NAME_BYTES))
        return "the entry names run past the bank";
    uint32_t tables = v.region_offset(REGION_SEEK_TABLES);
    if ((flags & FLAG_SEEK_TABLES) && v.region_length(REGION_SEEK_TABLES) > 0) {
        for (uint32_t i = 0; i < count; i++) {
            if (!v.holds(tables + 4ull * i, 4)) return "the seek table offsets run past the bank";
            uint32_t at = v.u32(tables + 4ull * i);
            if (at == 0xFFFFFFFF) continue;
            uint64_t table = (uint64_t)tables + 4ull * count + at;
            if (!v.holds(table, 4) || !v.holds(table + 4, 4ull * v.u32(table)))
                return "a seek table runs past the bank";
        }
    }
    // Only the fields FAudio reads: a record shorter than 24 bytes stops early.
    for (uint32_t i = 0; i < count; i++) {
        uint64_t record = records + (uint64_t)i * record_size;
        uint32_t format = v.u32(record + 4), tag = format & 3, channels = (format >> 2) & 7;
        if ((tag == 0 || tag == 2) && channels == 0) return "a PCM or MS ADPCM entry has no channels";
        if (!v.big() || tag != 0 || !(format >> 31) || record_size < 16) continue;
        uint64_t start = (uint64_t)v.region_offset(REGION_WAVE_DATA) + v.u32(record + 8), length = v.u32(record + 12);
        if (!v.holds(start, length + (length & 1))) return "big-endian 16-bit PCM lies outside the bank";
    }
    return "";
}

// FAudio 23.02 leaks two of the engine's locks when an engine that was never
// initialized is released, and the memory stream of every bank it refuses:
// the leak checker ignores what is allocated while FAudio runs.
struct faudio_leaks_ignored {
    faudio_leaks_ignored() {
#ifdef TOLVANE_LEAK_CHECKED
        __lsan_disable();
#endif
    }
    ~faudio_leaks_ignored() {
#ifdef TOLVANE_LEAK_CHECKED
        __lsan_enable();
#endif
    }
};

const char* refusal(uint32_t code) {
    switch ((int32_t)code) {
    case -1:
        return "not a wave bank";
    case -2:
        return "a content version FAudio does not read";
    case -3:
        return "a header version FAudio does not read";
    default:
        return "unknown reason";
    }
}

// The head of FAudio's wave bank object (FACT_internal.h, as in FAudio 23.02
// and later), up to its entry table: the records as FAudio parsed them.
struct faudio_bank_head {
    FACTAudioEngine* parent_engine;
    void* wave_list;
    void* wave_lock;
    uint8_t notify_on_destroy;
    void* user_context;
    char* name;
    uint32_t entry_count;
    FACTWaveBankEntry* entries;
};

// The waves of an open bank; false when FAudio's object is not laid out as
// faudio_bank_head says, which the API's own answers show.
bool read_waves(FACTAudioEngine* engine, FACTWaveBank* wave_bank, std::vector<faudio_wave>* waves, std::string* error) {
    uint16_t count = 0;
    FACTWaveBank_GetNumWaves(wave_bank, &count);
    const faudio_bank_head* head = reinterpret_cast<const faudio_bank_head*>(wave_bank);
    bool head_fits = head->parent_engine == engine && head->entry_count == count;
    for (uint16_t i = 0; i < count; i++) {
        FACTWaveProperties properties;
        FACTWaveBank_GetWaveProperties(wave_bank, i, &properties);
        const FACTWaveBankEntry& entry = head->entries[i];
        head_fits = head_fits && entry.Format.dwValue == properties.format.dwValue &&
                    entry.LoopRegion.dwStartSample == properties.loopRegion.dwStartSample &&
                    entry.LoopRegion.dwTotalSamples == properties.loopRegion.dwTotalSamples;
        if (!head_fits) break;
        faudio_wave wave;
        wave.name.assign(properties.friendlyName, strnlen(properties.friendlyName, sizeof properties.friendlyName));
        wave.format_tag = properties.format.wFormatTag;
        wave.channels = properties.format.nChannels;
        wave.sample_rate = properties.format.nSamplesPerSec;
        wave.block_align = properties.format.wBlockAlign;
        wave.bits_per_sample = properties.format.wBitsPerSample;
        wave.duration = properties.durationInSamples;
        wave.loop_start = properties.loopRegion.dwStartSample;
        wave.loop_length = properties.loopRegion.dwTotalSamples;
        wave.play_offset = entry.PlayRegion.dwOffset;
        wave.play_length = entry.PlayRegion.dwLength;
        waves->push_back(wave);
    }
    if (!head_fits) {
        waves->clear();
        *error = "FAudio " + std::to_string(FAudioLinkedVersion()) + " lays out its wave bank otherwise";
    }
    return head_fits;
}

}  // namespace

bool faudio_wave_properties(const std::vector<uint8_t>& bank, std::vector<faudio_wave>* waves, std::string* error) {
    waves->clear();
    error->clear();
    std::string fault = fault_in_faudio(bank_view(bank));
    if (!fault.empty()) {
        *error = "not given to FAudio: " + fault;
        return false;
    }
    // The engine initializes SDL's audio, never a device, and needs no
    // Initialize to open an in-memory bank; the dummy driver keeps SDL from
    // probing the machine's sound servers.
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    faudio_leaks_ignored leaks_ignored;
    FACTAudioEngine* engine = nullptr;
    if (FACTCreateEngine(0, &engine) != 0) {
        *error = "FACTCreateEngine failed";
        return false;
    }
    // FAudio keeps reading the bank while it is open, and swaps big-endian
    // PCM in place: it gets its own copy.
    std::vector<uint8_t> copy(bank);
    FACTWaveBank* wave_bank = nullptr;
    uint32_t code =
        FACTAudioEngine_CreateInMemoryWaveBank(engine, copy.data(), (uint32_t)copy.size(), 0, 0, &wave_bank);
    bool ok = code == 0;
    if (ok) {
        ok = read_waves(engine, wave_bank, waves, error);
        FACTWaveBank_Destroy(wave_bank);
    } else {
        *error = "FAudio refused the bank (" + std::to_string((int32_t)code) + "): " + refusal(code);
    }
    FACTAudioEngine_Release(engine);
    return ok;
}
