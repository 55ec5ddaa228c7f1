// "-e": every archived file into the target folder, with its last-write time
// and attributes. Each file is written to a temporary file beside it and
// renamed into place only when complete, so a file already in the folder is
// replaced by a whole file or not at all.
#include <string>

#include "ArchiveReader.h"
#include "Console.h"
#include "ConsoleLayout.h"
#include "Commands.h"
#include "PendingFile.h"

std::string TargetFolder;
std::uint32_t FailedRecords = 0;

namespace {

// The file of the record being written and the target folder held, while
// the extraction runs.
PendingFile* Pending = nullptr;

// A stop, an error leaving the extraction: the unfinished file goes.
void DiscardPendingFile()
{
    if (Pending != nullptr)
        Pending->Discard();
}

// Only a plain name inside the target folder is created: a slash, a
// parent or current folder, an empty name, a zero byte or a device name
// could put the file somewhere else.
bool IsSafeFileName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos &&
           !platform::IsReservedFileName(name);
}

void ExtractEntry(const DirectoryEntry& entry)
{
    const std::string_view name = DisplayName(entry.Name);
    const bool created = IsSafeFileName(name) && Pending->Create(platform::NativeFileName(name), ArchiveHandle);
    Print(PadRight(ShownName(name), layout::NameColumn) + " ..");

    std::int32_t WriteResult = created ? 0 : -1;
    ConsumeContent(entry.Size, [&WriteResult](const std::uint8_t* bytes, std::uint32_t count) {
        Print(".");
        if (WriteResult >= 0)
            WriteResult = Pending->Write(bytes, count);
    });

    bool extracted = false;
    if (WriteResult >= 0)
        extracted = Pending->Commit(entry.DateTime, entry.Attributes);
    else
        DiscardPendingFile();
    if (extracted) {
        PrintLine(" extracted");
    } else {
        ++FailedRecords;
        PrintLine(" failed");
    }
}

}  // namespace

void ExtractArchive()
{
    FailedRecords = 0;
    PrintLine("Blockgroesse: " + std::to_string(BlockSize) + " Bytes");
    PrintLine();
    // A missing folder is made and held for the run; if that fails, every
    // record fails.
    PendingFile pending(TargetFolder);
    Pending = &pending;
    OnStop = DiscardPendingFile;
    try {
        WalkDirectory(ExtractEntry);
    } catch (...) {
        // Out of memory: the process ends, and so does the unfinished file.
        DiscardPendingFile();
        OnStop = nullptr;
        Pending = nullptr;
        throw;
    }
    OnStop = nullptr;
    Pending = nullptr;
}
