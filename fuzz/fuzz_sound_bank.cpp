// Fuzz target: the sound bank reader, reading a file and the same bytes in
// memory, then naming the records of a described bank from what it read,
// twice over (so names are merged as from two sound banks).

#include <stdlib.h>
#include <string.h>

#include "containers/sound_bank.h"
#include "fuzz/fuzz_support.h"

namespace {

// Aborts unless the table holds what the naming relies on.
void check_table(const sound_bank_table& t) {
    if (t.reference_count < 0 || t.reference_count > t.reference_capacity ||
        t.reference_capacity > MAX_SOUND_BANK_REFERENCES)
        abort();
    if (t.wave_bank_count < 0 || t.wave_bank_count > 0xFFFF) abort();
    for (int32_t i = 0; i < t.reference_count; ++i) {
        const sound_bank_reference& r = t.references[i];
        if (i > 0 && r.cue < t.references[i - 1].cue) abort();
        if (r.cue_name_at < 0 || r.cue_name_at >= t.names_bytes) abort();
        if (!memchr(t.names + r.cue_name_at, 0, (size_t)(t.names_bytes - r.cue_name_at))) abort();
        if (strlen(t.names + r.cue_name_at) > (size_t)LONGEST_CUE_NAME) abort();
    }
}

void check_same_tables(const sound_bank_table& a, const sound_bank_table& b) {
    if (a.status != b.status || a.version != b.version || strcmp(a.name, b.name) != 0 ||
        a.wave_bank_count != b.wave_bank_count || a.reference_count != b.reference_count)
        abort();
    for (int32_t i = 0; i < a.wave_bank_count; ++i)
        if (strcmp(sound_bank_wave_bank_name(&a, i), sound_bank_wave_bank_name(&b, i)) != 0) abort();
    for (int32_t i = 0; i < a.reference_count; ++i) {
        const sound_bank_reference& x = a.references[i];
        const sound_bank_reference& y = b.references[i];
        if (x.wave_bank != y.wave_bank || x.wave != y.wave || x.cue != y.cue ||
            strcmp(sound_bank_cue_name(&a, x), sound_bank_cue_name(&b, y)) != 0)
            abort();
    }
}

// Every record's cue names lie in the pool, and a record with cue names has a name.
void check_cue_names(const stream_description& d) {
    for (int32_t i = 0; i < d.record_count; ++i) {
        const entry_record& record = d.records[i];
        if (record.cue_name_count == 0) continue;
        if (record.cue_name_count < 0 || record.name_at == NO_NAME) abort();
        if (record.cue_names_at < 0 || record.cue_names_at >= d.names_bytes) abort();
        const char* last = record_cue_name(&d, record, record.cue_name_count - 1);
        if (last < d.names || last >= d.names + d.names_bytes ||
            !memchr(last, 0, (size_t)(d.names + d.names_bytes - last)))
            abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = write_fuzz_file("input.xsb", data, size);
    file_handle file = file_open_read(path.c_str());
    if (file == INVALID_FILE) abort();
    byte_source file_source = source_of_file(file);
    sound_bank_table from_file;
    sound_bank_init(&from_file);
    bool read = read_sound_bank(&file_source, &from_file);
    file_close(file);
    check_table(from_file);
    if (!read && from_file.reference_count != 0) abort();

    sound_bank_table from_memory;
    sound_bank_init(&from_memory);
    byte_source memory = source_of_memory(data, (int64_t)size);
    if (read_sound_bank(&memory, &from_memory) != read) abort();
    check_same_tables(from_file, from_memory);

    // The header alone tells the same wave banks.
    sound_bank_table header;
    sound_bank_init(&header);
    memory = source_of_memory(data, (int64_t)size);
    if (read_sound_bank_header(&memory, &header) != read || header.reference_count != 0 ||
        header.wave_bank_count != from_file.wave_bank_count)
        abort();

    // A bank of 64 records, every third with a name of its own.
    stream_description bank;
    description_init(&bank);
    bank.kind = STREAM_BANK;
    if (!description_reserve_records(&bank, 64)) abort();
    for (int32_t i = 0; i < 64; ++i) {
        entry_record record = new_record(i + 1);
        record.rate = 22050;
        record.channels = 1;
        record.length = 36;
        description_add_record(&bank, record, i % 3 ? "" : "own", i % 3 ? 0 : 3);
    }
    for (int pass = 0; pass < 2; ++pass) {
        int32_t named = name_records_from_sound_bank(&bank, &from_memory, pass);
        if (named < 0 || named > bank.record_count) abort();
    }
    check_description(bank);
    check_cue_names(bank);

    description_release(&bank);
    sound_bank_release(&header);
    sound_bank_release(&from_memory);
    sound_bank_release(&from_file);
    return 0;
}
