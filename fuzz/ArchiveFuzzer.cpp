// Decode fuzz entry: the input bytes are an archive (with the fix-ups of
// DecodeChecks.h). One command runs on it in-process on the memory platform,
// with one thread: bit 0 of the header word picks listing or extraction.
// The reader is kept from input to input, as its stages are when the block
// size stays, so a run spends its time decoding rather than building.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ArchiveReader.h"
#include "DecodeChecks.h"

using namespace decode_checks;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Reachable for the whole run, released with the process.
    static TArchiveReader& reader = *new TArchiveReader;
    std::vector<std::uint8_t> archive = FixedUp(data, size);
    if (ChoosesExtraction(archive))
        CheckExtraction(Run(reader, ExtractArguments, archive, 1));
    else
        CheckListing(Run(reader, ListArguments, archive, 1));
    return 0;
}
