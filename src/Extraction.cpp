// "-e": every archived file into the target folder, with its last-write time
// and attributes. Each file is written to a temporary file beside it and
// renamed into place only when complete, so a file already in the folder is
// replaced by a whole file or not at all.
#include <string>

#include "ArchiveReader.h"
#include "Commands.h"
#include "Console.h"
#include "ConsoleLayout.h"
#include "PendingFile.h"

namespace {

// Only a plain name inside the target folder is created: a slash, a
// parent or current folder, an empty name, a zero byte or a device name
// could put the file somewhere else.
bool IsSafeFileName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos &&
           !platform::IsReservedFileName(name);
}

}  // namespace

void TExtraction::ExtractEntry(TArchiveReader& reader, PendingFile& pending, const DirectoryEntry& entry)
{
    const std::string_view name = DisplayName(entry.Name);
    const bool created = IsSafeFileName(name) && pending.Create(platform::NativeFileName(name), reader.ArchiveHandle);
    Print(PadRight(ShownName(name), layout::NameColumn) + " ..");

    std::int32_t WriteResult = created ? 0 : -1;
    reader.ConsumeContent(entry.Size, [&pending, &WriteResult](const std::uint8_t* bytes, std::uint32_t count) {
        Print(".");
        if (WriteResult >= 0)
            WriteResult = pending.Write(bytes, count);
    });

    bool extracted = false;
    if (WriteResult >= 0)
        extracted = pending.Commit(entry.DateTime, entry.Attributes);
    else
        pending.Discard();
    if (extracted) {
        PrintLine(" extracted");
    } else {
        ++FailedRecords;
        PrintLine(" failed");
    }
}

void TExtraction::ExtractArchive(TArchiveReader& reader)
{
    PrintLine("Blockgroesse: " + std::to_string(reader.BlockSize) + " Bytes");
    PrintLine();
    // A missing folder is made and held for the run; if that fails, every
    // record fails. A stop or an error leaving the walk discards the
    // unfinished file on the way out.
    PendingFile pending(TargetFolder);
    reader.WalkDirectory([this, &reader, &pending](const DirectoryEntry& entry) { ExtractEntry(reader, pending, entry); });
}
