// Differential fuzz entry: the input is an archive (with the fix-ups of
// DecodeChecks.h). Both commands run on it with the next block decoded ahead
// on a second thread and with one thread, and must end exactly alike; the
// listing and the extraction must agree on the archive.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ArchiveReader.h"
#include "DecodeChecks.h"
#include "TestSupport.h"

using namespace decode_checks;

namespace {

// Decoding ahead changes nothing the user sees.
void CheckSameWithOneThread(const char* command, const Ending& twoThreads, const Ending& oneThread)
{
    const auto& a = twoThreads.state;
    const auto& b = oneThread.state;
    if (twoThreads.exitCode != oneThread.exitCode || a.output != b.output || a.files != b.files ||
        a.pauses != b.pauses || a.openHandles != b.openHandles) {
        std::fprintf(
            stderr, "\n--- output with one thread (exit code %d) ---\n%s\n", oneThread.exitCode, b.output.c_str());
        Fail(command, "one thread and two threads end differently", twoThreads);
    }
}

// Both commands walk the same decoded stream, so they stop alike, and every
// extracted file shows up in the listing with its size and CRC.
void CheckAgreement(const Ending& listing, const Ending& extraction)
{
    const std::string& shown = listing.state.output;
    if ((listing.exitCode == 2) != (extraction.exitCode == 2) ||
        FindStop(shown).text != FindStop(extraction.state.output).text) {
        std::fprintf(stderr, "\n--- listing output ---\n%s\n", shown.c_str());
        Fail("-e", "the listing and the extraction end differently", extraction);
    }
    if (extraction.exitCode == 2)
        return;
    for (const auto& [path, file] : extraction.state.files) {
        const std::string name = path.substr(4);
        const std::string row =
            " " + RightAligned(file.content.size(), 8).append(" ") + Hex8(ReferenceCrc32(file.content)) + "\r\n";
        if (shown.find(name) == std::string::npos || shown.find(row) == std::string::npos) {
            std::fprintf(stderr, "\n--- listing output ---\n%s\nmissing row for '%s': '%s'\n", shown.c_str(),
                path.c_str(), row.c_str());
            Fail("-e", "an extracted file that the listing does not show", extraction);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Reachable for the whole run, released with the process.
    static TArchiveReader& reader = *new TArchiveReader;
    const std::vector<std::uint8_t> archive = FixedUp(data, size);
    const Ending listing = Run(reader, ListArguments, archive, 2);
    CheckListing(listing);
    CheckSameWithOneThread("-i", listing, Run(reader, ListArguments, archive, 1));
    const Ending extraction = Run(reader, ExtractArguments, archive, 2);
    CheckExtraction(extraction);
    CheckSameWithOneThread("-e", extraction, Run(reader, ExtractArguments, archive, 1));
    CheckAgreement(listing, extraction);
    return 0;
}
