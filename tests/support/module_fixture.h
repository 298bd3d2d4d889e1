// The fixture the module's tests share: the recording test host, a scratch
// folder for the files a test writes, and the few things those tests do
// with them. The item is stopped and released after every test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/sample_files.h"
#include "tests/support/test_host.h"

class module_fixture : public ::testing::Test {
protected:
    void TearDown() override;

    // Writes content to name in the scratch folder; the full path.
    std::string write(const std::string& name, const bytes& content);
    // Plays path to its end as the player does (Stop included); Play's result.
    int play_to_end(const std::string& path);
    // The arguments of every recorded call with that name, in order.
    std::vector<std::vector<long long>> args_of(const std::string& name) const;
    // The title the module gives the item playing.
    std::string title();

    scratch_folder scratch;
    test_host host;
};

// Byte helpers the module's tests share.
bytes concat(const std::vector<bytes>& parts);
bytes slice(const bytes& data, size_t from, size_t count);
bytes cut(bytes content, size_t size);
