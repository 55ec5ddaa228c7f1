// Differential fuzz entry: the input is an archive (with the fix-ups of
// DecodeChecks.h). One command (bit 0 of the header word picks listing or
// extraction) runs on it with the next block decoded ahead on a second
// thread and with one thread, and must end exactly alike. For one input in
// four, picked by a hash of its bytes so that a replay picks it too, the
// other command runs as well, and the listing and the extraction must agree
// on the archive. Each run decodes every block, so running two commands
// instead of four per input is what keeps the target fast.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
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

// One input in four; the same one on every run of it.
bool ChecksAgreement(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    return std::hash<std::string_view>{}(bytes) % 4 == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> archive = FixedUp(data, size);
    TArchiveReader& reader = ReaderFor(archive);
    const bool extracts = ChoosesExtraction(archive);
    const auto runChecked = [&reader, &archive](bool extraction) {
        Ending ending = Run(reader, extraction ? ExtractArguments : ListArguments, archive, 2);
        if (extraction)
            CheckExtraction(ending);
        else
            CheckListing(ending);
        return ending;
    };
    const Ending chosen = runChecked(extracts);
    CheckSameWithOneThread(
        extracts ? "-e" : "-i", chosen, Run(reader, extracts ? ExtractArguments : ListArguments, archive, 1));
    if (ChecksAgreement(data, size)) {
        const Ending other = runChecked(!extracts);
        CheckAgreement(extracts ? other : chosen, extracts ? chosen : other);
    }
    return 0;
}
