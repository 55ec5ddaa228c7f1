// "-t": the whole archive decoded, every block's CRC checked, nothing shown.
#include "ArchiveReader.h"
#include "Commands.h"

void CheckArchive(TArchiveReader& reader)
{
    reader.WalkDirectory([&reader](const DirectoryEntry& entry) {
        reader.ConsumeContent(entry.Size, [](const std::uint8_t*, std::uint32_t) {});
    });
}
