// Fuzz entry: the input bytes are an archive. Both commands run in-process on
// the memory platform, with the next block decoded ahead on a second thread,
// and every ending is held to the program's promise: a normal end or one of
// its own stops, nothing written outside the target folder, listing and
// extraction agreeing on the archive, and a run with one thread looking the
// same.
//
// Two fix-ups let mutations reach the blocks: the header CRC is made to match
// the version and header word, and most block-size codes are mapped to the
// smallest (a run then allocates a few hundred KiB, not up to 14 MiB).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "ArchiveFormat.h"
#include "InProcessRun.h"
#include "TestSupport.h"
#include "stages/CRCs.h"

namespace {

namespace memory = platform::memory;

struct Ending {
    int exitCode = -1;
    std::string output;
    memory::State state;
};

Ending Run(const std::vector<std::string>& arguments, const std::vector<std::uint8_t>& archive, unsigned processors)
{
    memory::Reset();
    memory::Current().archives["a.twx"] = archive;
    memory::Current().processors = processors;
    Ending ending;
    ending.exitCode = RunInProcess(arguments).exitCode;
    ending.state = memory::Current();
    ending.output = ending.state.output;
    return ending;
}

[[noreturn]] void Fail(const char* command, const char* broken, const Ending& ending)
{
    std::fprintf(stderr, "\n%s: %s (exit code %d, %d open handles)\n--- output ---\n%s\n--- files ---\n",
                 command, broken, ending.exitCode, ending.state.openHandles, ending.output.c_str());
    for (const auto& [path, file] : ending.state.files)
        std::fprintf(stderr, "'%s' (%zu bytes)\n", path.c_str(), file.content.size());
    std::abort();
}

std::string_view StopMessage(std::string_view output)
{
    return FindStop(output).text;
}

// Offsets of the header fields the fix-ups touch.
constexpr std::size_t VersionAt = 4;
constexpr std::size_t HeaderCrcAt = 10;
constexpr std::size_t BlockSizeCodeAt = 16;

// The archive with a header CRC that matches, and valid block-size codes
// from 3 to 63 mapped to 1; invalid codes, 1, 2 and the largest one stay.
std::vector<std::uint8_t> FixedUp(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> archive(data, data + size);
    if (archive.size() >= HeaderCrcAt + 4) {
        TCRC crc;
        crc.UpdateRange(archive.data() + VersionAt, HeaderCrcAt - VersionAt);
        for (unsigned i = 0; i < 4; ++i)
            archive[HeaderCrcAt + i] = static_cast<std::uint8_t>(crc.Value() >> (8 * i));
    }
    if (archive.size() > BlockSizeCodeAt) {
        std::uint8_t& code = archive[BlockSizeCodeAt];
        if (code > 2 && code < twx::MaxBlockSizeCode)
            code = 1;
    }
    return archive;
}

void CheckEnding(const char* command, const Ending& ending)
{
    const int code = ending.exitCode;
    if (code != 0 && code != 1 && code != 2)
        Fail(command, "exit code other than 0, 1 or 2", ending);
    if (code == 2 && StopMessage(ending.output).empty())
        Fail(command, "exit code 2 without a stop message as the last line", ending);
    if (code != 2 && !StopMessage(ending.output).empty())
        Fail(command, "stop message without exit code 2", ending);
}

void CheckListing(const Ending& listing)
{
    CheckEnding("-i", listing);
    if (!listing.state.files.empty())
        Fail("-i", "the listing created a file", listing);
    if (listing.state.openHandles != 0)
        Fail("-i", "a handle is still open", listing);
}

void CheckExtraction(const Ending& extraction)
{
    CheckEnding("-e", extraction);
    for (const auto& [path, file] : extraction.state.files) {
        const std::string_view name = std::string_view(path).substr(path.size() < 4 ? path.size() : 4);
        if (path.compare(0, 4, "out/") != 0 || name.empty() || name == "." || name == ".." ||
            name.find('/') != std::string_view::npos)
            Fail("-e", "a file outside the target folder", extraction);
    }
    // A stop removes the file being written: no handle, no temporary file.
    if (extraction.state.openHandles != 0)
        Fail("-e", "a handle is still open", extraction);
    if (!extraction.state.pendingFile.empty())
        Fail("-e", "a temporary file stayed", extraction);
    if (extraction.exitCode == 2)
        return;
    if (LastLine(extraction.output) != "-done")
        Fail("-e", "a normal end without the closing line", extraction);
}

// Both commands walk the same decoded stream, so they stop alike, and every
// extracted file shows up in the listing with its size and CRC.
void CheckAgreement(const Ending& listing, const Ending& extraction)
{
    if ((listing.exitCode == 2) != (extraction.exitCode == 2) ||
        StopMessage(listing.output) != StopMessage(extraction.output)) {
        std::fprintf(stderr, "\n--- listing output ---\n%s\n", listing.output.c_str());
        Fail("-e", "the listing and the extraction end differently", extraction);
    }
    if (extraction.exitCode == 2)
        return;
    for (const auto& [path, file] : extraction.state.files) {
        const std::string name = path.substr(4);
        const std::string row = " " + RightAligned(file.content.size(), 8).append(" ") +
                                Hex8(ReferenceCrc32(file.content)) + "\r\n";
        if (listing.output.find(name) == std::string::npos || listing.output.find(row) == std::string::npos) {
            std::fprintf(stderr, "\n--- listing output ---\n%s\nmissing row for '%s': '%s'\n", listing.output.c_str(),
                         path.c_str(), row.c_str());
            Fail("-e", "an extracted file that the listing does not show", extraction);
        }
    }
}

// Decoding ahead changes nothing the user sees.
void CheckSameWithOneThread(const char* command, const Ending& twoThreads, const Ending& oneThread)
{
    bool sameFiles = twoThreads.state.files.size() == oneThread.state.files.size();
    for (auto a = twoThreads.state.files.begin(), b = oneThread.state.files.begin();
         sameFiles && a != twoThreads.state.files.end(); ++a, ++b)
        sameFiles = a->first == b->first && a->second.content == b->second.content &&
            a->second.dosDateTime == b->second.dosDateTime && a->second.attributes == b->second.attributes &&
            a->second.attributesSet == b->second.attributesSet;
    if (twoThreads.exitCode != oneThread.exitCode || twoThreads.output != oneThread.output || !sameFiles ||
        twoThreads.state.pauses != oneThread.state.pauses ||
        twoThreads.state.openHandles != oneThread.state.openHandles) {
        std::fprintf(stderr, "\n--- output with one thread (exit code %d) ---\n%s\n", oneThread.exitCode,
            oneThread.output.c_str());
        Fail(command, "one thread and two threads end differently", twoThreads);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::uint8_t> archive = FixedUp(data, size);
    const Ending listing = Run({"-i", "a.twx"}, archive, 2);
    CheckListing(listing);
    CheckSameWithOneThread("-i", listing, Run({"-i", "a.twx"}, archive, 1));
    const Ending extraction = Run({"-e", "a.twx", "out"}, archive, 2);
    CheckExtraction(extraction);
    CheckSameWithOneThread("-e", extraction, Run({"-e", "a.twx", "out"}, archive, 1));
    CheckAgreement(listing, extraction);
    memory::Reset();
    return 0;
}
