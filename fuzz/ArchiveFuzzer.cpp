// Decode fuzz entry: the input bytes are an archive (with the fix-ups of
// DecodeChecks.h). One command runs on it in-process on the memory platform,
// with one thread: bit 0 of the header word picks listing or extraction.
// The readers (see ReaderFor) are kept from input to input, and their stages
// with them, so a run spends its time decoding rather than building.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ArchiveReader.h"
#include "DecodeChecks.h"

using namespace decode_checks;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> archive = FixedUp(data, size);
    TArchiveReader& reader = ReaderFor(archive);
    if (ChoosesExtraction(archive))
        CheckExtraction(Run(reader, ExtractArguments, archive, 1));
    else
        CheckListing(Run(reader, ListArguments, archive, 1));
    return 0;
}
