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

class TArchiveReader;

// Runs on the memory platform as the test has set it up (after Reset); with
// a kept reader, the archive is read with it (see RunUnTWX).
RunOutcome RunInProcess(const std::vector<std::string>& arguments, TArchiveReader* kept = nullptr);

// A reader kept from run to run for fuzzing: one per block-size code, so
// that each keeps its stages built rather than building them anew at every
// change of block size, and for one input in eight (by a hash of its bytes)
// one shared by all sizes, so that rebuilding stays fuzzed. Reachable for
// the whole process, released with it.
TArchiveReader& KeptReaderFor(std::uint8_t blockSizeCode, std::string_view input);

// Lists an archive held in memory under "a.twx", with the given number of
// usable processors (2: the next block is decoded on a second thread).
RunOutcome ListInMemory(
    const std::vector<std::uint8_t>& archive, std::string standardInput = {}, unsigned processors = 2);
// Extracts an archive held in memory under "a.twx" into "out/".
RunOutcome ExtractInMemory(const std::vector<std::uint8_t>& archive, unsigned processors = 2);

// The 57-byte sample archive: one record abc.txt holding "abc".
std::vector<std::uint8_t> SampleArchive();
