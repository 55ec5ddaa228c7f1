// What the decode fuzz targets hold every ending of an arbitrary archive to:
// a normal end or one of the program's own stops, nothing written outside
// the target folder, no handle left open. Shared by untwx_fuzzer (one
// command per input) and untwx_threads_fuzzer (both commands, one thread
// against two).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "MemoryPlatform.h"

class TArchiveReader;

namespace decode_checks {

struct Ending {
    int exitCode = -1;
    platform::memory::State state;
};

// The input as an archive with two fix-ups that let mutations reach the
// blocks: the header CRC made to match the version and header word, and
// valid block-size codes from 3 to 63 mapped to 1 (a run then needs a few
// hundred KiB, not up to 14 MiB); invalid codes, 1, 2 and the largest stay.
std::vector<std::uint8_t> FixedUp(const std::uint8_t* data, std::size_t size);

// Bit 0 of the header word (which the reader only checks against the
// header CRC, and FixedUp makes match): 0 lists, 1 extracts.
bool ChoosesExtraction(const std::vector<std::uint8_t>& archive);

// The kept reader for the archive (KeptReaderFor its block-size code).
TArchiveReader& ReaderFor(const std::vector<std::uint8_t>& archive);

// Runs the command on the archive as "a.twx" with the given number of
// usable processors, reading it with the kept reader; the ending is taken
// out of the memory platform. The archive is lent to the platform for the
// run, not copied, and given back.
Ending Run(TArchiveReader& reader, const std::vector<std::string>& arguments, std::vector<std::uint8_t>& archive,
    unsigned processors);

[[noreturn]] void Fail(const char* command, const char* broken, const Ending& ending);

void CheckListing(const Ending& listing);
void CheckExtraction(const Ending& extraction);

extern const std::vector<std::string> ListArguments;
extern const std::vector<std::string> ExtractArguments;

}  // namespace decode_checks
