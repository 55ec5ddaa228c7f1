// Runs the whole program inside the test process on the in-memory platform.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "MemoryPlatform.h"
#include "TestSupport.h"

struct RunOutcome {
    int exitCode = -1;
    std::string output;
};

// Runs on the memory platform as the test has set it up (after Reset).
RunOutcome RunInProcess(const std::vector<std::string>& arguments);

// Lists an archive held in memory under "a.twx".
RunOutcome ListInMemory(const std::vector<std::uint8_t>& archive, std::string standardInput = {});
// Extracts an archive held in memory under "a.twx" into "out/".
RunOutcome ExtractInMemory(const std::vector<std::uint8_t>& archive);

// The 57-byte sample archive: one record abc.txt holding "abc".
std::vector<std::uint8_t> SampleArchive();
