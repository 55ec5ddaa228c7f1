#include "InProcessRun.h"

#include <functional>

#include "ArchiveReader.h"
#include "UnTWX.h"

TArchiveReader& KeptReaderFor(std::uint8_t blockSizeCode, std::string_view input)
{
    // One per code, and the shared one last.
    static TArchiveReader* readers[257] = {};
    const bool shared = std::hash<std::string_view>{}(input) % 8 == 0;
    TArchiveReader*& reader = readers[shared ? 256 : blockSizeCode];
    if (reader == nullptr)
        reader = new TArchiveReader;
    return *reader;
}

RunOutcome RunInProcess(const std::vector<std::string>& arguments, TArchiveReader* kept)
{
    RunOutcome outcome;
    outcome.exitCode = RunUnTWX(arguments, kept);
    outcome.output = platform::memory::Current().output;
    return outcome;
}

RunOutcome ListInMemory(const std::vector<std::uint8_t>& archive, std::string standardInput, unsigned processors)
{
    platform::memory::Reset();
    platform::memory::Current().archives["a.twx"] = archive;
    platform::memory::Current().standardInput = std::move(standardInput);
    platform::memory::Current().processors = processors;
    return RunInProcess({"-i", "a.twx"});
}

RunOutcome ExtractInMemory(const std::vector<std::uint8_t>& archive, unsigned processors)
{
    platform::memory::Reset();
    platform::memory::Current().archives["a.twx"] = archive;
    platform::memory::Current().processors = processors;
    return RunInProcess({"-e", "a.twx", "out"});
}

std::vector<std::uint8_t> SampleArchive()
{
    return {0x54, 0x57, 0x4C, 0x58, 0x89, 0x00, 0x00, 0x00, 0x00, 0x00, 0xB3, 0xE4, 0x7D, 0x88, 0x51, 0x5A,
            0x01, 0x4A, 0x00, 0x00, 0x00, 0x37, 0x00, 0x00, 0x00, 0x18, 0x79, 0x61, 0x61, 0xC6, 0x80, 0x8C,
            0xE0, 0x63, 0x0A, 0x98, 0xD1, 0x02, 0x38, 0x03, 0xFD, 0x17, 0x4A, 0x5E, 0xDD, 0x5F, 0x4B, 0x6A,
            0x52, 0x96, 0x27, 0x7E, 0x79, 0xE1, 0x4A, 0x2C, 0x02};
}
