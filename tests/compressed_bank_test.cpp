// Compressed banks (.zwb) played through the module: the first play inflates
// into "<stem>.xwb" in the temporary directory and plays the bank from it,
// later plays of the same bank take that file after inflating only its first
// 64 KiB to check it, a stale cache of the bank (another size, older than the
// .zwb) is replaced, any other file under the name is left as it is and the
// cache goes to "<stem>~2.xwb" and on, and every way an inflation can fail or
// fall short hands the compressed file back (or plays what was inflated)
// with no cache file and no partial file left behind. Described without
// playing, nothing is written. Each test points the temporary directory at a
// scratch folder of its own.
//
// The same source builds a second executable on Windows that runs from a
// folder without zlib1.dll (TOLVANE_TEST_WITHOUT_ZLIB): there, unless the
// system supplies the library anyway, the module has no inflater of its own
// and only the host's table can inflate.

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "containers/compressed_bank.h"
#include "containers/inflater.h"
#include "containers/stream_opener.h"
#include "player/player_state.h"
#include "plugin/module.h"
#include "tests/support/module_fixture.h"

namespace {

// Whether the module has an inflater of its own when the host lends none.
// The executable built without zlib1.dll beside it expects none, unless the
// system supplies that library anyway (Debian's Wine does: its user32 loads
// a zlib1.dll of its own into every process), in which case it expects what
// the other executable does.
bool module_has_zlib() {
#ifdef TOLVANE_TEST_WITHOUT_ZLIB
    static const bool loadable = [] {
        library_handle zlib = library_load("zlib1.dll");
        library_free(zlib);
        if (zlib) fprintf(stderr, "[ notice   ] zlib1.dll is loadable here all the same: expecting it to be used\n");
        return zlib != nullptr;
    }();
    return loadable;
#else
    return true;
#endif
}

// ---- A host inflater that counts its calls ----------------------------------------

struct inflate_calls {
    int reset, init, inflate, end;
};
inflate_calls counted;

int counting_reset(z_streamp stream) {
    ++counted.reset;
    return inflateReset(stream);
}
int counting_init(z_streamp stream, const char* version, int stream_size) {
    ++counted.init;
    return inflateInit_(stream, version, stream_size);
}
int counting_inflate(z_streamp stream, int flush) {
    ++counted.inflate;
    return inflate(stream, flush);
}
int counting_end(z_streamp stream) {
    ++counted.end;
    return inflateEnd(stream);
}

inflate_table host_table;

// Where the module's inflater comes from: its own (zlib1.dll on Windows, the
// linked zlib elsewhere) when the host answers the query with 0, or the
// host's counting table.
enum zlib_lender { OWN_ZLIB, HOST_TABLE };

const char* source_name(zlib_lender source) {
    return source == OWN_ZLIB ? "module's own zlib" : "host's table";
}

// ---- Banks ---------------------------------------------------------------------

struct sound {
    uint32_t channels;
    uint32_t rate;
    bytes adpcm;
};

struct test_bank {
    bytes file;
    bytes pcm;  // what playing every entry writes, in order
    uint32_t entry_data_offset;
};

// Entries back to back from the start of region 3, in the order given.
test_bank make_bank(const std::vector<sound>& sounds) {
    wave_bank_design design;
    test_bank out;
    for (const sound& s : sounds) {
        design.entries.push_back(
            {format_word(1, s.channels, s.rate), (uint32_t)design.entry_data.size(), (uint32_t)s.adpcm.size()});
        design.entry_data.insert(design.entry_data.end(), s.adpcm.begin(), s.adpcm.end());
        bytes pcm = reference_pcm(s.adpcm, s.channels);
        out.pcm.insert(out.pcm.end(), pcm.begin(), pcm.end());
    }
    out.file = build_wave_bank(design);
    out.entry_data_offset = bank_entry_data_offset(design);
    return out;
}

test_bank three_entry_bank() {
    return make_bank(
        {{2, 44100, tone_adpcm(2, 40, 1)}, {1, 22050, tone_adpcm(1, 60, 2)}, {2, 32000, tone_adpcm(2, 30, 3)}});
}

bytes zwb_of(const test_bank& bank) {
    return compressed_bank(bank.file, (uint32_t)bank.file.size());
}

// What zlib makes of stream when all of it is given at once: the bytes it
// inflates to and inflate's last result.
struct inflated {
    bytes out;
    int result;
};
inflated inflate_in_memory(const uint8_t* stream_bytes, size_t size) {
    z_stream stream;
    memset(&stream, 0, sizeof stream);
    inflated got = {bytes(), inflateInit(&stream)};
    if (got.result != Z_OK) return got;
    stream.next_in = const_cast<Bytef*>(stream_bytes);
    stream.avail_in = (uInt)size;
    uint8_t buffer[65536];
    do {
        stream.next_out = buffer;
        stream.avail_out = sizeof buffer;
        got.result = inflate(&stream, Z_NO_FLUSH);
        got.out.insert(got.out.end(), buffer, buffer + (sizeof buffer - stream.avail_out));
    } while (got.result == Z_OK);
    inflateEnd(&stream);
    return got;
}

std::string in_folder(const std::string& folder, const std::string& name) {
    return folder + PLATFORM_PATH_SEPARATOR + name;
}

// The cache name number (1 to CACHE_NAMES) of banks of the stem "music".
std::string music_cache(int number) {
    return number == 1 ? "music.xwb" : "music~" + std::to_string(number) + ".xwb";
}

typedef std::vector<std::string> names;
// Every file of a folder with its bytes, by name.
typedef std::map<std::string, bytes> folder_contents;

class CompressedBankTest : public module_fixture {
protected:
    void SetUp() override {
        counted = {};
        host_table = {counting_reset, counting_init, counting_inflate, counting_end};
    }

    void TearDown() override {
        module_fixture::TearDown();
        for (const std::string& name : files_under(scratch.path)) {
            EXPECT_EQ(name.find(".part"), std::string::npos) << "partial file left: " << name;
        }
    }

    void use(zlib_lender source) {
        host.inflate_table_answer = source == HOST_TABLE ? (intptr_t)&host_table : 0;
    }
    // Whether the module can inflate with the inflater from source.
    static bool can_inflate(zlib_lender source) {
        return source == HOST_TABLE || module_has_zlib();
    }

    // Deletes everything in the scratch folder, between the cases of a table.
    void empty_scratch() {
        std::error_code error;
        for (const auto& item : std::filesystem::directory_iterator(scratch.path, error))
            std::filesystem::remove_all(item.path(), error);
    }

    // Plays path to its end, stops, and returns the bytes written; checks that
    // no file stays open once the item is stopped.
    bytes play_and_collect(const std::string& path) {
        host.clear_calls();
        int descriptors = open_descriptors();
        EXPECT_EQ(host.play(path), 0);
        EXPECT_TRUE(host.wait_for_end_of_stream());
        host.module->Stop();
        EXPECT_EQ(open_descriptors(), descriptors);
        return host.written();
    }

    // The compressed file itself was played: raw stereo 44 100 Hz data from
    // its first byte, no entry table.
    void expect_played_as_raw(const std::string& path, const bytes& zwb) {
        bytes written = play_and_collect(path);
        EXPECT_EQ(player_state.item.entry_count, 0);
        EXPECT_TRUE(player_state.item.notices & NOTICE_NOT_INFLATED);
        EXPECT_TRUE(written == reference_pcm(zwb, 2)) << written.size() << " bytes written";
        std::vector<host_call> opens = host.calls_named("Open");
        ASSERT_FALSE(opens.empty());
        EXPECT_EQ(opens[0].args, (std::vector<long long>{44100, 2, 16, -1, -1}));
    }

    void expect_played_as_bank(const std::string& path, const test_bank& bank) {
        bytes written = play_and_collect(path);
        EXPECT_TRUE(written == bank.pcm) << written.size() << " bytes written, " << bank.pcm.size() << " expected";
    }

    folder_contents scratch_contents() {
        folder_contents contents;
        for (const std::string& name : files_under(scratch.path)) contents[name] = read_file(scratch.path + name);
        return contents;
    }

    // Describes path as the playlist does; no file in the scratch folder is
    // created, removed or changed.
    void describe_writing_nothing(const std::string& path, stream_description* described) {
        folder_contents before = scratch_contents();
        inflater_source lent = inflater_of_player();
        EXPECT_TRUE(describe_stream(path.c_str(), &lent, described));
        EXPECT_TRUE(scratch_contents() == before) << "the scratch folder changed";
    }

    // Sets the scratch file name's modification time an hour before that of
    // the file at than, so that no clock's granularity decides which is older.
    void make_older(const std::string& name, const std::string& than) {
        std::error_code error;
        std::filesystem::file_time_type time = std::filesystem::last_write_time(than, error);
        ASSERT_FALSE(error) << error.message();
        std::filesystem::last_write_time(scratch.path + name, time - std::chrono::hours(1), error);
        ASSERT_FALSE(error) << error.message();
    }

    // Plays a compressed file whose stream inflates to bank. With an inflater
    // from source the bank plays and the cache file then holds it; without
    // one the compressed file plays as raw data and the cache file stays as
    // it was (absent, or stale). The scratch folder then holds the cache file
    // and others, nothing else.
    void expect_inflated(zlib_lender source, const std::string& path, const bytes& zwb, const test_bank& bank,
                         const std::string& cache, names others) {
        const std::string cache_path = scratch.path + cache;
        const bool existed = std::filesystem::exists(cache_path);
        const bytes before = read_file(cache_path);
        use(source);
        if (can_inflate(source)) {
            expect_played_as_bank(path, bank);
            EXPECT_TRUE(read_file(cache_path) == bank.file);
        } else {
            expect_played_as_raw(path, zwb);
            EXPECT_TRUE(read_file(cache_path) == before);
        }
        if (can_inflate(source) || existed) others.push_back(cache);
        std::sort(others.begin(), others.end());
        EXPECT_EQ(files_under(scratch.path), others);
    }

    temp_directory_override temp{scratch.path};
};

// ---- The first play inflates, later plays reuse ------------------------------------

TEST_F(CompressedBankTest, FirstPlayInflatesIntoStemXwbAndPlaysTheBank) {
    const char SEP = PLATFORM_PATH_SEPARATOR;
    const struct {
        std::string name;
        const char* cache;
    } cases[] = {
        {"music.zwb", "music.xwb"},     {"Music.ZwB", "Music.xwb"},
        {"music.alt.zwb", "music.xwb"}, {std::string("in") + SEP + "a.folder" + SEP + "take.zwb", "take.xwb"},
        {"noise.2.ZWB", "noise.xwb"},
    };
    test_bank bank = three_entry_bank();
    bytes zwb = zwb_of(bank);
    for (zlib_lender source : {OWN_ZLIB, HOST_TABLE}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << ", " << source_name(source));
            empty_scratch();
            std::string listed = c.name;
            std::replace(listed.begin(), listed.end(), SEP, '/');
            expect_inflated(source, write(c.name, zwb), zwb, bank, c.cache, {listed});
        }
    }
}

// Copies of a bank (any folder, any name with that stem) that are not newer
// than its cache file play it: only its first 64 KiB are inflated to check
// it, never the whole bank.
TEST_F(CompressedBankTest, LaterPlaysOfTheSameBankTakeTheCache) {
    // Incompressible sound: inflating it all would take an inflate call for
    // every 64 KiB read.
    test_bank bank = make_bank({{2, 44100, random_bytes(72 * 12000, 5)}, {1, 22050, tone_adpcm(1, 60, 2)}});
    bytes zwb = zwb_of(bank);
    const std::string copies[] = {"music.a.zwb", "music.b.zwb", in_folder("other", "music.zwb"), "MUSIC.zwb"};
    for (zlib_lender source : {OWN_ZLIB, HOST_TABLE}) {
        SCOPED_TRACE(source_name(source));
        empty_scratch();
        for (const std::string& name : copies) write(name, zwb);
        use(HOST_TABLE);
        expect_played_as_bank(scratch.path + "music.a.zwb", bank);
        ASSERT_TRUE(read_file(scratch.path + "music.xwb") == bank.file);

        use(source);
        for (const std::string& name : copies) {
            if (name == "MUSIC.zwb" && PLATFORM_CASE_SENSITIVE_NAMES) continue;
            SCOPED_TRACE(name);
            counted = {};
            if (can_inflate(source)) {
                expect_played_as_bank(scratch.path + name, bank);
            } else {
                // Without an inflater the cache cannot be checked, so it is
                // not taken on trust.
                expect_played_as_raw(scratch.path + name, zwb);
            }
            if (source == HOST_TABLE) {
                EXPECT_LE(counted.inflate, 2);
            }
        }
        EXPECT_TRUE(read_file(scratch.path + "music.xwb") == bank.file);
    }
}

// Banks of different games may share a name and a stated size: each plays
// its own sound, first time and second, from a cache of its own that the
// other leaves alone.
TEST_F(CompressedBankTest, BanksOfOneStemEachKeepACacheOfTheirOwn) {
    test_bank game_a = three_entry_bank();
    test_bank game_b = make_bank(
        {{2, 44100, tone_adpcm(2, 40, 11)}, {1, 22050, tone_adpcm(1, 60, 12)}, {2, 32000, tone_adpcm(2, 30, 13)}});
    ASSERT_EQ(game_a.file.size(), game_b.file.size());
    std::string a = write(in_folder("gameA", "music.zwb"), zwb_of(game_a));
    std::string b = write(in_folder("gameB", "music.zwb"), zwb_of(game_b));
    std::string alt = write("music.alt.zwb", zwb_of(game_b));
    if (!can_inflate(OWN_ZLIB)) use(HOST_TABLE);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        expect_played_as_bank(a, game_a);
        expect_played_as_bank(b, game_b);
        expect_played_as_bank(alt, game_b);
        EXPECT_TRUE(read_file(scratch.path + "music.xwb") == game_a.file);
        EXPECT_TRUE(read_file(scratch.path + "music~2.xwb") == game_b.file);
        EXPECT_EQ(files_under(scratch.path),
                  (names{"gameA/music.zwb", "gameB/music.zwb", "music.alt.zwb", "music.xwb", "music~2.xwb"}));
    }
}

// What may lie under the cache's name when a bank is played. A cache of this
// bank (it begins with the bank's first 64 KiB) that is stale, being of
// another size or older than the .zwb, is replaced: an edited bank plays its
// new sound. Any other file is someone else's: it stays as it was, byte for
// byte, whether the bank is described or played, and the bank is cached
// under the next name, which later plays take without inflating it again.
TEST_F(CompressedBankTest, OnlyAStaleCacheOfThisBankIsReplaced) {
    // The last entry lies far beyond the first 64 KiB, and the first is
    // incompressible: inflating the whole bank takes many more inflate calls
    // than checking a cache does.
    auto bank_ending_with = [](uint32_t first_seed, uint32_t last_seed) {
        return make_bank({{2, 44100, random_bytes(72 * 6000, first_seed)}, {1, 22050, tone_adpcm(1, 60, last_seed)}});
    };
    test_bank bank = bank_ending_with(5, 2);
    test_bank before_edit = bank_ending_with(5, 3);
    ASSERT_EQ(before_edit.file.size(), bank.file.size());
    ASSERT_TRUE(slice(before_edit.file, 0, CACHE_CHECK_BYTES) == slice(bank.file, 0, CACHE_CHECK_BYTES));
    ASSERT_FALSE(before_edit.file == bank.file);
    bytes zwb = zwb_of(bank);
    bytes changed_in_check = bank.file;
    changed_in_check[CACHE_CHECK_BYTES - 1] ^= 0x5a;
    const struct {
        const char* name;
        bytes content;  // under the cache's name, older than the .zwb
        bool stale_cache;
    } cases[] = {
        {"the bank as it was before an entry near its end was edited", before_edit.file, true},
        {"this bank cut short", cut(bank.file, bank.file.size() - 1), true},
        {"this bank's first 64 KiB", cut(bank.file, CACHE_CHECK_BYTES), true},
        {"this bank and more", concat({bank.file, bytes(100, 7)}), true},
        {"this bank's first 64 KiB but a byte", cut(bank.file, CACHE_CHECK_BYTES - 1), false},
        {"this bank with the last of its first 64 KiB changed", changed_in_check, false},
        {"another bank of the same size", bank_ending_with(6, 2).file, false},
        {"another program's file", random_bytes(5000, 9), false},
        {"an empty file", bytes(), false},
    };
    for (zlib_lender source : {OWN_ZLIB, HOST_TABLE}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << ", " << source_name(source));
            empty_scratch();
            use(source);
            write("music.xwb", c.content);
            std::string path = write("music.zwb", zwb);
            make_older("music.xwb", path);
            owned_description described;
            describe_writing_nothing(path, &described.d);

            const char* cache = c.stale_cache ? "music.xwb" : "music~2.xwb";
            names others = c.stale_cache ? names{"music.zwb"} : names{"music.xwb", "music.zwb"};
            expect_inflated(source, path, zwb, bank, cache, others);
            if (!c.stale_cache) {
                EXPECT_TRUE(read_file(scratch.path + "music.xwb") == c.content);
            }
            if (source != HOST_TABLE) continue;

            counted = {};
            expect_played_as_bank(path, bank);
            EXPECT_LE(counted.inflate, 2);
            owned_description again;
            describe_writing_nothing(path, &again.d);
            EXPECT_EQ(entry_table(again.d), entry_table(described.d));
            if (!c.stale_cache) {
                EXPECT_TRUE(read_file(scratch.path + "music.xwb") == c.content);
            }
        }
    }
}

// The names are tried in turn. The first holding a fresh cache of the bank is
// played, whichever it is; without one the bank is inflated over a stale
// cache of its own, else under the first name no file has; with every name
// held by other files the compressed file plays as it is. Files that are not
// replaced are never touched, and describing writes nothing.
TEST_F(CompressedBankTest, CacheNamesAreTriedInTurn) {
    test_bank bank = three_entry_bank();
    bytes zwb = zwb_of(bank);
    enum holder { OTHER_FILE, FRESH_CACHE, STALE_CACHE };
    const bytes held[] = {make_bank({{1, 22050, tone_adpcm(1, 10, 4)}}).file, bank.file,
                          concat({bank.file, bytes(72, 0)})};
    typedef std::vector<std::pair<int, holder>> holders;
    auto others_up_to = [](int last) {
        holders out;
        for (int number = 1; number <= last; ++number) out.push_back({number, OTHER_FILE});
        return out;
    };
    const struct {
        const char* name;
        holders names_held;
        int cache;  // the name the bank plays from, 0 for none
    } cases[] = {
        {"the first name held by another file", others_up_to(1), 2},
        {"all names but the last held by other files", others_up_to(CACHE_NAMES - 1), CACHE_NAMES},
        {"every name held by other files", others_up_to(CACHE_NAMES), 0},
        {"a fresh cache past a free name", {{1, OTHER_FILE}, {3, FRESH_CACHE}}, 3},
        {"a fresh cache past a stale one", {{1, STALE_CACHE}, {2, FRESH_CACHE}}, 2},
        {"a stale cache past a free name", {{1, OTHER_FILE}, {3, STALE_CACHE}}, 3},
    };
    use(HOST_TABLE);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        empty_scratch();
        std::string path = write("music.zwb", zwb);
        for (const auto& name_held : c.names_held) write(music_cache(name_held.first), held[name_held.second]);
        owned_description described;
        describe_writing_nothing(path, &described.d);
        EXPECT_EQ(described.d.entry_count, 3);

        folder_contents expected = scratch_contents();
        if (c.cache != 0) {
            expect_played_as_bank(path, bank);
            expected[music_cache(c.cache)] = bank.file;
        } else {
            expect_played_as_raw(path, zwb);
        }
        EXPECT_TRUE(scratch_contents() == expected);
    }
}

// A bank that inflates to nothing has no bytes to know a cache of it by: no
// file under the cache's name is taken for one, and each stays as it was.
TEST_F(CompressedBankTest, EmptyBankTakesNoOtherFileForItsCache) {
    const bytes other = make_bank({{1, 22050, tone_adpcm(1, 10, 4)}}).file;
    use(HOST_TABLE);
    write("empty.xwb", other);
    std::string path = write("empty.zwb", compressed_bank(bytes(), 0));
    for (int play = 0; play < 2; ++play) {
        SCOPED_TRACE(play == 0 ? "first play" : "second play");
        EXPECT_EQ(play_to_end(path), 0);
        EXPECT_EQ(player_state.item.entry_count, 0);
        EXPECT_TRUE(read_file(scratch.path + "empty.xwb") == other);
        EXPECT_EQ(files_under(scratch.path), (names{"empty.xwb", "empty.zwb", "empty~2.xwb"}));
        EXPECT_EQ(std::filesystem::file_size(scratch.path + "empty~2.xwb"), 0u);
    }
}

// ---- Inflating -------------------------------------------------------------------

// A long run of identical bytes (silent block sets) inflates to more than
// the 1 MiB output buffer from a single 64 KiB read: every byte must still
// reach the cache, and what follows the run too.
TEST_F(CompressedBankTest, MoreThanOneMebibyteFromOneReadIsInflatedWhole) {
    test_bank bank = make_bank({{2, 44100, bytes(72 * 40000, 0)}, {1, 22050, tone_adpcm(1, 50, 12)}});
    bytes zwb = zwb_of(bank);
    ASSERT_GT(bank.file.size(), 2u << 20);
    inflated first_read = inflate_in_memory(zwb.data() + COMPRESSED_BANK_HEADER_BYTES, INFLATE_IN_BYTES);
    ASSERT_GT(first_read.out.size(), (size_t)INFLATE_OUT_BYTES);

    for (zlib_lender source : {OWN_ZLIB, HOST_TABLE}) {
        SCOPED_TRACE(source_name(source));
        empty_scratch();
        expect_inflated(source, write("run.zwb", zwb), zwb, bank, "run.xwb", {"run.zwb"});
    }
}

// ---- A hand-made deflate stream --------------------------------------------------

// Deflate's bit order: fields least significant bit first, Huffman codes most
// significant bit first.
struct bit_writer {
    bytes out;
    uint32_t bit_count = 0;
    void put(uint32_t value, int bits) {
        for (int i = 0; i < bits; ++i, ++bit_count) {
            if (bit_count % 8 == 0) out.push_back(0);
            out.back() = (uint8_t)(out.back() | ((value >> i) & 1) << (bit_count % 8));
        }
    }
    void put_code(uint32_t code, int length) {
        for (int i = length - 1; i >= 0; --i) put(code >> i, 1);
    }
    void stored_block(bool final_block, const uint8_t* data, uint16_t size) {
        put(final_block ? 1 : 0, 1);
        put(0, 2);
        bit_count = (uint32_t)out.size() * 8;
        put(size, 16);
        put((uint16_t)~size, 16);
        out.insert(out.end(), data, data + size);
        bit_count = (uint32_t)out.size() * 8;
    }
};

// A bank whose zlib stream makes the module's first 64 KiB read inflate to
// exactly 1 MiB, the size of its output buffer, with nothing left over: the
// call after the one that fills the buffer finds nothing to do and reports
// Z_BUF_ERROR, which must not end the inflation.
//
// The stream: a stored block with the bank's header, records and the first
// zeros of its first entry; a dynamic block whose only codes are a 1-bit
// "copy 258 bytes" (with a 1-bit distance 1), a 2-bit literal zero and a
// 2-bit end of block, 13 bytes of block header in all, so every byte holds
// four whole symbols; then a stored block with the second entry. With the
// stored block 312 bytes long, read 0 holds 4 x 65 204 symbols, and 3 064
// copies and 257 752 literals among them make 312 + 3064 x 258 + 257752 =
// 2^20.
struct exact_fill_stream {
    test_bank bank;
    bytes zwb;
};

exact_fill_stream exact_fill_bank() {
    const uint32_t STORED_BYTES = 312, FIRST_READ_COPIES = 3064, FIRST_READ_LITERALS = 257752, LATER_COPIES = 1000;
    const uint32_t head_bytes = BANK_HEADER_BYTES + BANK_DATA_BYTES + 2 * BANK_RECORD_BYTES;
    uint32_t zeros = STORED_BYTES - head_bytes + (FIRST_READ_COPIES + LATER_COPIES) * 258 + FIRST_READ_LITERALS;
    const uint32_t pad_literals = (72 - zeros % 72) % 72;  // whole stereo block sets
    zeros += pad_literals;
    bytes tone = tone_adpcm(1, 40, 41);
    test_bank bank = make_bank({{2, 44100, bytes(zeros, 0)}, {1, 22050, tone}});

    bit_writer w;
    w.out = {0x78, 0x01};
    w.bit_count = 16;
    w.stored_block(false, bank.file.data(), (uint16_t)STORED_BYTES);
    w.put(0, 1);   // not final
    w.put(2, 2);   // dynamic codes
    w.put(29, 5);  // 286 literal/length codes
    w.put(0, 5);   // 1 distance code
    w.put(14, 4);  // 18 code length codes, in the format's order:
    const uint8_t code_length_lengths[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 2};
    for (uint8_t length : code_length_lengths) w.put(length, 3);
    // Code length codes: 2 is "0", 1 is "10", 18 (a run of zeros) is "11".
    auto zero_run = [&w](uint32_t count) {
        w.put_code(3, 2);
        w.put(count - 11, 7);
    };
    w.put_code(0, 1);  // literal 0: length 2
    zero_run(138);
    zero_run(117);     // literals 1-255 unused
    w.put_code(0, 1);  // end of block: length 2
    zero_run(28);      // lengths 3-257 unused
    w.put_code(2, 2);  // length 258: length 1
    w.put_code(2, 2);  // distance 1: length 1
    if (w.out.size() != 2 + 5 + STORED_BYTES + 13) ADD_FAILURE() << "block header is not 13 bytes";
    // Canonical codes: length 258 "0", literal 0 "10", end of block "11";
    // distance 1 "0".
    auto copies = [&w](uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) w.put_code(0, 2);
    };
    auto literals = [&w](uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) w.put_code(2, 2);
    };
    literals(FIRST_READ_LITERALS);
    copies(FIRST_READ_COPIES);
    if (w.out.size() != (size_t)INFLATE_IN_BYTES) ADD_FAILURE() << "first read ends at " << w.out.size();
    copies(LATER_COPIES);
    literals(pad_literals);
    w.put_code(3, 2);
    size_t rest = bank.file.size() - (head_bytes + zeros);
    w.stored_block(true, bank.file.data() + head_bytes + zeros, (uint16_t)rest);
    uint32_t check = (uint32_t)adler32(adler32(0, nullptr, 0), bank.file.data(), (uInt)bank.file.size());
    for (int shift = 24; shift >= 0; shift -= 8) w.out.push_back((uint8_t)(check >> shift));

    bytes zwb = compressed_bank(bytes(), (uint32_t)bank.file.size());
    zwb.resize(COMPRESSED_BANK_HEADER_BYTES);
    zwb.insert(zwb.end(), w.out.begin(), w.out.end());
    return {bank, zwb};
}

TEST_F(CompressedBankTest, ReadThatFillsTheOutputBufferExactlyIsNotAnError) {
    exact_fill_stream made = exact_fill_bank();
    const uint8_t* stream_bytes = made.zwb.data() + COMPRESSED_BANK_HEADER_BYTES;
    inflated whole = inflate_in_memory(stream_bytes, made.zwb.size() - COMPRESSED_BANK_HEADER_BYTES);
    ASSERT_EQ(whole.result, Z_STREAM_END);
    ASSERT_TRUE(whole.out == made.bank.file);
    {
        // The premise: one read in, exactly 1 MiB out, then nothing.
        z_stream stream;
        memset(&stream, 0, sizeof stream);
        ASSERT_EQ(inflateInit(&stream), Z_OK);
        bytes out((size_t)INFLATE_OUT_BYTES);
        stream.next_in = const_cast<Bytef*>(stream_bytes);
        stream.avail_in = (uInt)INFLATE_IN_BYTES;
        stream.next_out = out.data();
        stream.avail_out = (uInt)out.size();
        EXPECT_EQ(inflate(&stream, Z_NO_FLUSH), Z_OK);
        EXPECT_EQ(stream.avail_in, 0u);
        EXPECT_EQ(stream.avail_out, 0u);
        stream.next_out = out.data();
        stream.avail_out = (uInt)out.size();
        EXPECT_EQ(inflate(&stream, Z_NO_FLUSH), Z_BUF_ERROR);
        inflateEnd(&stream);
    }

    for (zlib_lender source : {OWN_ZLIB, HOST_TABLE}) {
        SCOPED_TRACE(source_name(source));
        empty_scratch();
        expect_inflated(source, write("exact.zwb", made.zwb), made.zwb, made.bank, "exact.xwb", {"exact.zwb"});
    }
}

// A stream that ends early is played as far as it inflates, entry after
// entry, but never becomes the cache: each play inflates it again and
// nothing of it stays on disk once the item is stopped.
TEST_F(CompressedBankTest, CutShortStreamPlaysWhatInflatesAndIsNeverCached) {
    test_bank bank = make_bank(
        {{2, 44100, tone_adpcm(2, 120, 21)}, {2, 44100, tone_adpcm(2, 120, 22)}, {2, 44100, tone_adpcm(2, 120, 23)}});
    const bytes whole = zwb_of(bank);
    const size_t stream_bytes = whole.size() - COMPRESSED_BANK_HEADER_BYTES;
    const struct {
        const char* name;
        size_t kept;  // bytes of the zlib stream
    } cases[] = {
        {"half the stream", stream_bytes / 2},
        {"three quarters", stream_bytes * 3 / 4},
        {"all but 64 bytes", stream_bytes - 64},
    };
    for (zlib_lender source : {OWN_ZLIB, HOST_TABLE}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << ", " << source_name(source));
            empty_scratch();
            use(source);
            bytes zwb(whole.begin(), whole.begin() + (long)(COMPRESSED_BANK_HEADER_BYTES + c.kept));
            inflated prefix = inflate_in_memory(zwb.data() + COMPRESSED_BANK_HEADER_BYTES, c.kept);
            ASSERT_EQ(prefix.result, Z_BUF_ERROR);
            ASSERT_GT(prefix.out.size(), bank.entry_data_offset + 120 * 72);
            ASSERT_LT(prefix.out.size(), bank.file.size());
            bytes played_adpcm(bank.file.begin() + bank.entry_data_offset, bank.file.begin() + (long)prefix.out.size());
            std::string path = write("cut.zwb", zwb);

            for (int play = 0; play < 2; ++play) {
                SCOPED_TRACE(play == 0 ? "first play" : "second play");
                if (can_inflate(source)) {
                    bytes written = play_and_collect(path);
                    EXPECT_EQ(player_state.item.entry_count, 3);
                    EXPECT_TRUE(player_state.item.notices & NOTICE_INFLATION_CUT_SHORT);
                    EXPECT_TRUE(written == reference_pcm(played_adpcm, 2))
                        << written.size() << " bytes written of " << bank.pcm.size();
                } else {
                    expect_played_as_raw(path, zwb);
                }
                EXPECT_EQ(files_under(scratch.path), names{"cut.zwb"});
            }
        }
    }
}

// Damage that inflate reports: the compressed file is played as it is and
// nothing inflated before the error stays, not even when the whole bank had
// been inflated and only the checksum was wrong.
TEST_F(CompressedBankTest, DamagedStreamHandsTheCompressedFileBack) {
    test_bank bank = three_entry_bank();
    const bytes whole = zwb_of(bank);
    const size_t header = COMPRESSED_BANK_HEADER_BYTES;
    const struct {
        const char* name;
        size_t at;  // offset in the file
        uint8_t value;
    } cases[] = {
        {"zlib header check fails", header + 1, 0x00},
        {"not deflate", header, 0x7f},
        {"reserved block type", header + 2, 0x07},
        {"Adler-32 wrong", whole.size() - 1, (uint8_t)(whole.back() ^ 0x5a)},
    };
    for (zlib_lender source : {OWN_ZLIB, HOST_TABLE}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << ", " << source_name(source));
            empty_scratch();
            use(source);
            counted = {};
            bytes zwb = whole;
            zwb[c.at] = c.value;
            ASSERT_EQ(inflate_in_memory(zwb.data() + header, zwb.size() - header).result, Z_DATA_ERROR);
            expect_played_as_raw(write("damaged.zwb", zwb), zwb);
            EXPECT_EQ(files_under(scratch.path), names{"damaged.zwb"});
            EXPECT_EQ(counted.init, counted.end);
        }
    }
}

// Stated sizes the inflation must not go beyond (a lying header, a zlib
// bomb) or that no 32-bit position could play: the compressed file is
// handed back and nothing stays on disk. The host's table counts what was
// attempted.
TEST_F(CompressedBankTest, StatedSizesTheStreamExceedsHandTheCompressedFileBack) {
    test_bank bank = three_entry_bank();
    const uint32_t size = (uint32_t)bank.file.size();
    bytes zeros(64u << 20, 0);
    const struct {
        const char* name;
        bytes content;
        uint32_t stated;
        bool inflates;  // whether the inflater is started at all
        int most_inflate_calls;
    } cases[] = {
        {"one byte short", bank.file, size - 1, true, 100},
        {"stated 0", bank.file, 0, true, 1},
        // Inflating stops at the stated size, long before 64 MiB: the first
        // call already goes past it.
        {"64 MiB of zeros stated as 1000 bytes", zeros, 1000, true, 1},
        {"stated 2^31", bank.file, 0x80000000u, false, 0},
        {"stated 2^32 - 1", bank.file, 0xffffffffu, false, 0},
    };
    use(HOST_TABLE);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        empty_scratch();
        counted = {};
        bytes zwb = compressed_bank(c.content, c.stated);
        expect_played_as_raw(write("bomb.zwb", zwb), zwb);
        EXPECT_EQ(files_under(scratch.path), names{"bomb.zwb"});
        EXPECT_EQ(counted.init, c.inflates ? 1 : 0);
        EXPECT_EQ(counted.end, counted.init);
        EXPECT_LE(counted.inflate, c.most_inflate_calls);
    }
}

// Too short to state a size: nothing is taken on the strength of missing
// bytes, not even a cache file whose size the bytes present would match
// were the missing ones zero.
TEST_F(CompressedBankTest, FileShorterThanItsHeaderIsPlayedAsItIs) {
    test_bank cached = make_bank({{1, 22050, tone_adpcm(1, 2, 31)}});
    ASSERT_LT(cached.file.size(), 256u);
    bytes header = compressed_bank(bytes(), (uint32_t)cached.file.size());
    use(HOST_TABLE);
    for (size_t size : {0, 1, 4, 5, 7}) {
        SCOPED_TRACE(testing::Message() << size << " bytes");
        empty_scratch();
        counted = {};
        write("short.xwb", cached.file);
        bytes zwb(header.begin(), header.begin() + (long)size);
        expect_played_as_raw(write("short.zwb", zwb), zwb);
        EXPECT_EQ(files_under(scratch.path), (names{"short.xwb", "short.zwb"}));
        EXPECT_TRUE(read_file(scratch.path + "short.xwb") == cached.file);
        EXPECT_EQ(counted.init, 0);
    }
}

// A temporary folder longer than the 260 characters asked for: the cache
// path would not fit, so nothing is created anywhere, not under a cut-down
// folder name and not in the current folder.
TEST_F(CompressedBankTest, TemporaryFolderTooLongHandsTheCompressedFileBack) {
    std::string folder = scratch.path;
    while (folder.size() < 300) {
        folder += "deep.fold";
        folder += PLATFORM_PATH_SEPARATOR;
    }
    // Made where the system allows it, so a cut-down path would find folders.
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    temp.point_at(folder);
    std::string unique_stem = "longtemp" + std::to_string((unsigned)clock_ms());
    bytes zwb = zwb_of(three_entry_bank());
    use(HOST_TABLE);

    expect_played_as_raw(write(unique_stem + ".zwb", zwb), zwb);
    EXPECT_EQ(files_under(scratch.path), names{unique_stem + ".zwb"});
    EXPECT_FALSE(std::filesystem::exists(unique_stem + ".xwb"));
    std::filesystem::remove(unique_stem + ".xwb", error);
    EXPECT_EQ(counted.init, 0);
}

// ---- Describing without playing --------------------------------------------------

// The playlist's view of a compressed bank: a fresh cache of this bank when
// there is one, else the bank inflated in memory only as far as its records
// (a stale cache and another file under the name are left as they are); the
// same entries and length as playing it gives, and nothing written.
TEST_F(CompressedBankTest, DescribingWritesNothingAndAgreesWithPlaying) {
    test_bank bank = three_entry_bank();
    bytes zwb = zwb_of(bank);
    bytes damaged = zwb;
    damaged[COMPRESSED_BANK_HEADER_BYTES] = 0x7f;
    const bytes other = make_bank({{1, 22050, tone_adpcm(1, 10, 4)}}).file;
    // A bank whose records lie past its first 64 KiB, after 360 KB of
    // incompressible sound that takes several inflate calls to reach, as it
    // is and as it was before its last record was edited: a cache of it that
    // is stale describes the bank as it was.
    auto records_past_the_check = [](uint32_t last_block_sets) {
        wave_bank_design design;
        const uint32_t format = format_word(1, 2, 44100);
        design.entries = {
            {format, 0, 72 * 2000}, {format, 72 * 2000, 72 * 2000}, {format, 72 * 4000, 72 * last_block_sets}};
        design.entry_data = random_bytes(72 * 5000, 8);
        design.region_offset[3] = BANK_HEADER_BYTES + BANK_DATA_BYTES;
        design.region_offset[1] = design.region_offset[3] + (int64_t)design.entry_data.size();
        return build_wave_bank(design);
    };
    const bytes far = records_past_the_check(1000);
    const bytes far_before_edit = records_past_the_check(900);
    ASSERT_EQ(far.size(), far_before_edit.size());
    ASSERT_TRUE(slice(far, 0, CACHE_CHECK_BYTES) == slice(far_before_edit, 0, CACHE_CHECK_BYTES));
    const bytes far_zwb = compressed_bank(far, (uint32_t)far.size());
    use(HOST_TABLE);
    const struct {
        const char* name;
        const bytes* content;
        std::vector<std::pair<int, const bytes*>> held;  // cache names, written after the .zwb
        bool older;                                      // those files made older than the .zwb
        bool inflates;
        int most_inflate_calls;
    } cases[] = {
        {"no cache file", &zwb, {}, false, true, 2},
        {"this bank's cache file", &zwb, {{1, &bank.file}}, false, true, 2},
        {"this bank's cache file, older than the .zwb", &zwb, {{1, &bank.file}}, true, true, 2},
        {"another file under the cache's name", &zwb, {{1, &other}}, false, true, 2},
        {"not a zlib stream", &damaged, {}, false, false, 2},
        // Inflating as far as the records would take more calls than checking a cache.
        {"records far in, a cache under the second name", &far_zwb, {{1, &other}, {2, &far}}, false, true, 2},
        {"records far in, a stale cache of the bank before its edit",
         &far_zwb,
         {{1, &far_before_edit}},
         true,
         true,
         100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        empty_scratch();
        std::string path = write("music.zwb", *c.content);
        for (const auto& name_held : c.held) {
            write(music_cache(name_held.first), *name_held.second);
            if (c.older) make_older(music_cache(name_held.first), path);
        }
        counted = {};
        owned_description described;
        describe_writing_nothing(path, &described.d);
        EXPECT_EQ(counted.init, counted.end);
        EXPECT_LE(counted.inflate, c.most_inflate_calls);
        EXPECT_EQ(described.d.inflated, c.inflates);
        EXPECT_EQ((described.d.notices & NOTICE_NOT_INFLATED) != 0, !c.inflates);

        owned_description opened;
        inflater_source lent = inflater_of_player();
        ASSERT_TRUE(open_as_play(path, &opened.d, nullptr, &lent));
        EXPECT_EQ(entry_table(described.d), entry_table(opened.d));
        EXPECT_EQ(player_length_ms(&described.d, nullptr), player_length_ms(&opened.d, nullptr));
        EXPECT_EQ(described.d.entry_count, c.inflates ? 3 : 0);
    }
}

// A bank whose records lie beyond what is inflated in memory to describe it
// is described only in part, and said to be.
TEST_F(CompressedBankTest, BankTooBigToLookAtInMemoryIsNotDescribed) {
    wave_bank_design design;
    design.entries = {{format_word(1, 2, 44100), 0, 72}};
    design.entry_data = random_bytes(72, 3);
    design.region_offset[1] = (uint32_t)DESCRIBE_INFLATE_LIMIT + 4096;
    design.region_offset[3] = BANK_HEADER_BYTES + BANK_DATA_BYTES;
    // The writer leaves the far records out; zeros stand in for them.
    bytes file = build_wave_bank(design);
    file.resize((size_t)DESCRIBE_INFLATE_LIMIT + 8192, 0);
    std::string path = write("huge.zwb", compressed_bank(file, (uint32_t)file.size()));
    owned_description described;
    use(HOST_TABLE);
    inflater_source lent = inflater_of_player();
    ASSERT_TRUE(describe_stream(path.c_str(), &lent, &described.d));
    EXPECT_TRUE(described.d.notices & NOTICE_NOT_DESCRIBED);
    EXPECT_EQ(files_under(scratch.path), names{"huge.zwb"});
}

// ---- The inflater ----------------------------------------------------------------

// The host's table is used as lent: its three functions do the inflation,
// inflateReset is never called, and each inflation is ended once.
TEST_F(CompressedBankTest, HostTableDoesTheInflating) {
    test_bank bank = three_entry_bank();
    use(HOST_TABLE);
    expect_played_as_bank(write("music.zwb", zwb_of(bank)), bank);
    EXPECT_TRUE(read_file(scratch.path + "music.xwb") == bank.file);
    EXPECT_EQ(counted.init, 1);
    EXPECT_GE(counted.inflate, 1);
    EXPECT_EQ(counted.end, 1);
    EXPECT_EQ(counted.reset, 0);

    std::vector<host_call> queries;
    for (const host_call& call : host.calls_named("message"))
        if (call.args[0] == HOST_MSG_QUERY) queries.push_back(call);
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_EQ(queries[0].args, (std::vector<long long>{1024, 0x10100000, 331}));
}

// A table with an empty entry is no inflater: nothing in it is called and
// the compressed file is handed back with nothing left behind.
TEST_F(CompressedBankTest, HostTableWithAnEmptyEntryIsNoInflater) {
    bytes zwb = zwb_of(three_entry_bank());
    const struct {
        const char* name;
        void (*empty)(inflate_table& table);
    } cases[] = {
        {"no inflateReset", [](inflate_table& t) { t.inflate_reset = nullptr; }},
        {"no inflateInit_", [](inflate_table& t) { t.inflate_init = nullptr; }},
        {"no inflate", [](inflate_table& t) { t.inflate = nullptr; }},
        {"no inflateEnd", [](inflate_table& t) { t.inflate_end = nullptr; }},
    };
    use(HOST_TABLE);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        empty_scratch();
        host_table = {counting_reset, counting_init, counting_inflate, counting_end};
        c.empty(host_table);
        counted = {};
        expect_played_as_raw(write("music.zwb", zwb), zwb);
        EXPECT_EQ(files_under(scratch.path), names{"music.zwb"});
        EXPECT_EQ(counted.reset + counted.init + counted.inflate + counted.end, 0);
    }
}

}  // namespace
