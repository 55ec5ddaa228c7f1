// "-e": every archived file into the target folder, with its last-write time
// and attributes. Each file is written to a temporary file beside it and
// renamed into place only when complete, so a file already in the folder is
// replaced by a whole file or not at all.
#include <string>

#include "ArchiveReader.h"
#include "Console.h"
#include "ConsoleLayout.h"
#include "Commands.h"

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

// A stop, an error leaving the extraction: the unfinished file goes.
void TExtraction::DiscardPendingFile()
{
    platform::DiscardFile(PendingFile);
    PendingFile = platform::InvalidFile;
}

void TExtraction::ExtractEntry(TArchiveReader& reader, const DirectoryEntry& entry)
{
    const std::string_view name = DisplayName(entry.Name);
    std::string path;
    if (IsSafeFileName(name)) {
        path = TargetFolder + platform::NativeFileName(name);
        // The archive being read is never replaced, however it is named.
        if (!platform::IsSameFile(reader.ArchiveHandle, path))
            PendingFile = platform::CreateTemporaryFile(TargetFolder);
    }
    Print(PadRight(ShownName(name), layout::NameColumn) + " ..");

    std::int32_t WriteResult = PendingFile == platform::InvalidFile ? -1 : 0;
    reader.ConsumeContent(entry.Size, [this, &WriteResult](const std::uint8_t* bytes, std::uint32_t count) {
        Print(".");
        if (WriteResult >= 0)
            WriteResult = platform::Write(PendingFile, bytes, count);
    });

    bool extracted = false;
    if (WriteResult >= 0) {
        platform::SetLastWriteTime(PendingFile, entry.DateTime);
        extracted = platform::CommitFile(PendingFile, path, entry.Attributes);
        PendingFile = platform::InvalidFile;
    } else {
        DiscardPendingFile();
    }
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
    // A missing folder is made; if that fails, every record fails.
    platform::CreateFolders(TargetFolder);
    reader.WalkDirectory([this, &reader](const DirectoryEntry& entry) { ExtractEntry(reader, entry); });
}
