// "-p": the content of the chosen files, in archive order, to standard
// output and nothing else there.
#include "ArchiveReader.h"
#include "Commands.h"
#include "Selection.h"

void WriteContents(TArchiveReader& reader, TSelection& selection)
{
    reader.WalkDirectory([&reader, &selection](const DirectoryEntry& entry) {
        const bool chosen = selection.Chooses(entry.Name);
        reader.ConsumeContent(entry.Size, [chosen](const std::uint8_t* bytes, std::uint32_t count) {
            if (chosen)
                platform::WriteData(std::string_view(reinterpret_cast<const char*>(bytes), count));
        });
    });
}
