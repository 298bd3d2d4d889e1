// Fuzz target: Windows and Xbox 360 wave banks. Byte 0 picks a content
// version from 41 to 46; the rest is read three times: as it is, then with
// its magic and version set to a little-endian ("WBND") and a big-endian
// ("DNBW") bank of that version, so that mutations get past the header and
// into the regions, records and seek tables. Each reading is described from
// a file and from memory and the two compared; every record's seek table is
// read into a small and a large table, and every xWMA record's block field
// looked up; every record that plays is decoded through the codec table,
// whole and pass by pass as the engine reads it, from buffers of exactly its
// bytes into buffers of exactly its samples and one spare that must stay
// untouched.

#include <stdlib.h>
#include <string.h>

#include <vector>

#include "codec/codec_table.h"
#include "codec/little_endian.h"
#include "containers/timeline.h"
#include "containers/wave_bank.h"
#include "fuzz/fuzz_support.h"

namespace {

const int16_t SPARE = 0x5a5a;
const uint32_t SMALL_SEEK_TABLE = 2;
const uint32_t LARGE_SEEK_TABLE = 4096;

bool read_from_memory(const std::vector<uint8_t>& bank, stream_description* d) {
    description_init(d);
    byte_source memory = source_of_memory(bank.data(), (int64_t)bank.size());
    return read_wave_bank(&memory, d);
}

// The same bytes from a file describe the same bank.
void check_file_agrees(const std::vector<uint8_t>& bank, bool read, const stream_description& from_memory) {
    std::string path = write_fuzz_file("input.xwb", bank.data(), bank.size());
    file_handle file = file_open_read(path.c_str());
    if (file == INVALID_FILE) abort();
    stream_description from_file;
    description_init(&from_file);
    byte_source source = source_of_file(file);
    if (read_wave_bank(&source, &from_file) != read || from_file.data_length != from_memory.data_length) abort();
    check_same_records(from_file, from_memory);
    if (player_length_ms(&from_file, nullptr) != player_length_ms(&from_memory, nullptr)) abort();
    file_close(file);
    description_release(&from_file);
}

// A small table gets the first values of the large one and the same count.
void check_seek_tables(const std::vector<uint8_t>& bank) {
    stream_description d;
    description_init(&d);
    wave_bank_plan plan;
    byte_source memory = source_of_memory(bank.data(), (int64_t)bank.size());
    if (plan_wave_bank(&memory, &d, &plan)) {
        std::vector<uint32_t> small(SMALL_SEEK_TABLE), large(LARGE_SEEK_TABLE);
        for (uint32_t i = 0; i <= plan.record_count; ++i) {
            int64_t count = read_seek_table(&memory, plan, i, small.data(), SMALL_SEEK_TABLE);
            if (count != read_seek_table(&memory, plan, i, large.data(), LARGE_SEEK_TABLE)) abort();
            if (count < -1 || count > (int64_t)LONGEST_SEEK_TABLE) abort();
            if (i == plan.record_count && count != -1) abort();
            for (uint32_t v = 0; v < SMALL_SEEK_TABLE && v < count; ++v)
                if (small[v] != large[v]) abort();
        }
    }
    description_release(&d);
}

// Decodes the whole units of bytes, all at once and a pass at a time; both
// write exactly the units' samples and agree.
void check_decoding(const codec_row& row, uint32_t channels, const std::vector<uint8_t>& sound) {
    int64_t units = whole_units(row, (int64_t)sound.size(), channels);
    size_t samples = (size_t)(units * row.frames_per_unit * channels);
    std::vector<int16_t> whole(samples + 1, SPARE);
    int32_t produced =
        row.decode(sound.data(), (int32_t)sound.size(), whole.data(), channels, row.unit_bytes_per_channel);
    if (produced != (int32_t)(samples * 2) || whole.back() != SPARE) abort();

    const int64_t pass_bytes = units_per_pass(row) * unit_bytes(row, channels);
    const size_t pass_samples = (size_t)frames_per_pass(row) * channels;
    std::vector<int16_t> pass(pass_samples + 1);
    size_t at = 0;
    for (int64_t offset = 0; offset < (int64_t)sound.size(); offset += pass_bytes) {
        int64_t left = (int64_t)sound.size() - offset;
        int32_t input_bytes = (int32_t)(left < pass_bytes ? left : pass_bytes);
        std::vector<uint8_t> input(sound.begin() + offset, sound.begin() + offset + input_bytes);
        pass.assign(pass_samples + 1, SPARE);
        int32_t bytes = row.decode(input.data(), input_bytes, pass.data(), channels, row.unit_bytes_per_channel);
        if (bytes < 0 || (size_t)bytes > pass_samples * 2 || bytes % 2 != 0 || pass.back() != SPARE) abort();
        if (at + (size_t)bytes / 2 > samples || memcmp(pass.data(), whole.data() + at, (size_t)bytes) != 0) abort();
        at += (size_t)bytes / 2;
    }
    if (at != samples) abort();
}

// Records of a hostile bank often overlap, each reaching to the end of the
// file: decoding every one would cost the records times the file's bytes, so
// the decoding stops after this many bytes.
const int64_t DECODED_BYTES_PER_BANK = 64 << 10;

void check_playing_records(const std::vector<uint8_t>& bank, const stream_description& d) {
    int64_t decoded = 0;
    for (int32_t i = 0; i < d.record_count && decoded < DECODED_BYTES_PER_BANK; ++i) {
        const entry_record& record = d.records[i];
        uint32_t packet_bytes = 0, bytes_per_second = 0;
        if ((record.codec == CODEC_XWMA || record.codec == CODEC_WMA_PRO) &&
            xwma_packet_format(record.block_field, &packet_bytes, &bytes_per_second) &&
            (packet_bytes == 0 || bytes_per_second == 0))
            abort();
        if (record.skipped != NOT_SKIPPED) continue;
        const codec_row* row = codec_row_of(record.codec, record.block_field);
        if (!row) abort();
        // What the file holds of the record: the engine plays no further.
        int64_t start = record.offset < (int64_t)bank.size() ? record.offset : (int64_t)bank.size();
        int64_t end = record.length < (int64_t)bank.size() - start ? start + record.length : (int64_t)bank.size();
        std::vector<uint8_t> sound(bank.begin() + start, bank.begin() + end);
        check_decoding(*row, (uint32_t)record.channels, sound);
        decoded += end - start;
    }
}

void check_bank(const std::vector<uint8_t>& bank) {
    stream_description d;
    bool read = read_from_memory(bank, &d);
    if (read != (d.refusal == NOT_REFUSED)) abort();
    check_description(d);
    if ((uint32_t)d.record_capacity > MAX_BANK_ENTRIES) abort();
    if (d.entry_count == 0 && d.data_length > 0) abort();
    check_file_agrees(bank, read, d);
    check_seek_tables(bank);
    if (read) check_playing_records(bank, d);
    description_release(&d);
}

// The bank with the magic and the version of the chosen byte order; an input
// too short for them keeps what fits.
std::vector<uint8_t> with_header(std::vector<uint8_t> bank, const uint8_t magic[4], uint32_t version, bool big_endian) {
    uint8_t header[8];
    memcpy(header, magic, 4);
    if (big_endian)
        write_u32be(header + 4, version);
    else
        write_u32le(header + 4, version);
    if (!bank.empty()) memcpy(bank.data(), header, bank.size() < 8 ? bank.size() : 8);
    return bank;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    uint32_t version =
        FIRST_WINDOWS_BANK_VERSION + data[0] % (LAST_WINDOWS_BANK_VERSION - FIRST_WINDOWS_BANK_VERSION + 1);
    std::vector<uint8_t> bank(data + 1, data + size);
    check_bank(bank);
    check_bank(with_header(bank, WAVE_BANK_MAGIC, version, false));
    check_bank(with_header(bank, WAVE_BANK_MAGIC_BIG_ENDIAN, version, true));
    return 0;
}
