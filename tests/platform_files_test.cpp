// The platform's file calls against a model of the file: random sequences of
// seeks, reads of every size (tiny block reads, reads that straddle the read
// buffer, reads larger than it), positions and writes through the same
// handle must see exactly what the bytes and the position say.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>

#include "platform/platform.h"
#include "tests/support/sample_files.h"

namespace {

const int32_t FILE_BYTES = 150000;  // several read buffers' worth, not a multiple of any

struct file_model {
    bytes content;
    int64_t position = 0;
};

class PlatformFiles : public ::testing::Test {
protected:
    scratch_folder scratch;
    std::string path = scratch.path + "model.bin";
    file_model model;

    file_handle create_with_content(uint32_t seed) {
        model.content = random_bytes(FILE_BYTES, seed);
        file_handle file = file_create_new(path.c_str());
        EXPECT_NE(file, INVALID_FILE);
        EXPECT_EQ(file_write(file, model.content.data(), FILE_BYTES), FILE_BYTES);
        EXPECT_EQ(file_tell(file), FILE_BYTES);
        return file;
    }

    void expect_read(file_handle file, int32_t count, const std::string& context) {
        bytes got((size_t)count + 1, 0xEE);
        int32_t delivered = file_read(file, got.data(), count);
        int64_t left = (int64_t)model.content.size() - model.position;
        int32_t expected = (int32_t)std::max<int64_t>(0, std::min<int64_t>(count, left));
        ASSERT_EQ(delivered, expected) << context;
        for (int32_t i = 0; i < delivered; ++i)
            ASSERT_EQ(got[(size_t)i], model.content[(size_t)(model.position + i)]) << context << ", byte " << i;
        EXPECT_EQ(got[(size_t)count], 0xEE) << context << ": wrote past the count";
        model.position += delivered;
        ASSERT_EQ(file_tell(file), (int32_t)model.position) << context;
    }
};

TEST_F(PlatformFiles, RandomSeeksAndReadsMatchTheBytes) {
    uint32_t seed = test_seed(31);
    std::mt19937 random(seed);
    file_handle written = create_with_content(seed);
    file_close(written);
    file_handle file = file_open_read(path.c_str());
    ASSERT_NE(file, INVALID_FILE);
    EXPECT_EQ(file_size(file), FILE_BYTES);
    EXPECT_EQ(file_tell(file), 0);

    const int32_t read_sizes[] = {1, 36, 72, 216, 4095, 32767, 32768, 32769, 65536, 100000, 200000};
    for (int step = 0; step < 2000; ++step) {
        std::string context = "step " + std::to_string(step) + ", seed " + std::to_string(seed);
        switch (random() % 4) {
        case 0: {  // a seek anywhere, also past the end
            int32_t target = (int32_t)(random() % (FILE_BYTES + 1000));
            ASSERT_EQ(file_seek(file, target), target) << context;
            model.position = target;
            break;
        }
        case 1:  // a short hop back or forward, inside what was just read
            model.position = std::max<int64_t>(0, model.position + (int32_t)(random() % 200) - 100);
            ASSERT_EQ(file_seek(file, (int32_t)model.position), (int32_t)model.position) << context;
            break;
        default:
            expect_read(file, read_sizes[random() % (sizeof read_sizes / sizeof read_sizes[0])], context);
            if (HasFatalFailure()) return;
        }
    }
    file_close(file);
}

// The decode thread's pattern: position, then one block set, to the end.
TEST_F(PlatformFiles, BlockSetReadsWalkTheWholeFile) {
    file_close(create_with_content(test_seed(5)));
    file_handle file = file_open_read(path.c_str());
    ASSERT_NE(file, INVALID_FILE);
    for (int32_t position = 0; position < FILE_BYTES; position += 72) {
        ASSERT_EQ(file_tell(file), position);
        expect_read(file, 72, "block set at " + std::to_string(position));
        if (HasFatalFailure()) return;
    }
    expect_read(file, 72, "at the end");
    file_close(file);
}

TEST_F(PlatformFiles, WritesAreSeenByLaterReadsOfTheSameHandle) {
    file_handle file = create_with_content(test_seed(8));
    ASSERT_EQ(file_seek(file, 0), 0);
    expect_read(file, 1000, "fill the read buffer");
    const uint8_t patch[] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(file_seek(file, 500), 500);
    ASSERT_EQ(file_write(file, patch, 8), 8);
    std::copy(patch, patch + 8, model.content.begin() + 500);
    EXPECT_EQ(file_tell(file), 508);
    ASSERT_EQ(file_seek(file, 496), 496);
    model.position = 496;
    expect_read(file, 16, "over the patch");
    file_close(file);
}

TEST_F(PlatformFiles, RefusedCallsLeaveThePositionAlone) {
    file_handle file = create_with_content(test_seed(9));
    ASSERT_EQ(file_seek(file, 100), 100);
    EXPECT_EQ(file_seek(file, -1), -1);
    EXPECT_EQ(file_seek(file, INT32_MIN), -1);
    EXPECT_EQ(file_tell(file), 100);
    uint8_t byte = 0;
    EXPECT_EQ(file_read(file, &byte, 0), 0);
    EXPECT_EQ(file_read(file, &byte, -5), 0);
    EXPECT_EQ(file_tell(file), 100);
    file_close(file);

    EXPECT_EQ(file_read(INVALID_FILE, &byte, 1), 0);
    EXPECT_EQ(file_seek(INVALID_FILE, 0), -1);
    EXPECT_EQ(file_tell(INVALID_FILE), -1);
    EXPECT_EQ(file_size(INVALID_FILE), -1);
    file_close(INVALID_FILE);
}

// A file replaced by a rename passes its permissions on to the new one, so
// an edit in place leaves a bank of mode 640 at 640.
TEST_F(PlatformFiles, ARenameOverAFileKeepsItsPermissions) {
    std::error_code error;
    if (PLATFORM_PATH_SEPARATOR != '/') return;  // Windows files have no such modes
    std::string edited = write_file_in(scratch.path, "bank.xwb", bytes(10, 1));
    std::string fresh = write_file_in(scratch.path, "bank.xwb.tmp", bytes(20, 2));
    std::filesystem::permissions(
        edited,
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write | std::filesystem::perms::group_read,
        error);
    ASSERT_FALSE(error);
    ASSERT_EQ(file_rename_replace(fresh.c_str(), edited.c_str()), 1);
    EXPECT_EQ(read_file(edited), bytes(20, 2));
    EXPECT_EQ(
        std::filesystem::status(edited).permissions() & std::filesystem::perms::all,
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write | std::filesystem::perms::group_read);
}

}  // namespace
