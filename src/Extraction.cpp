// "-e": every archived file into the target folder, with its last-write time
// and attributes.
#include <string>

#include "ArchiveReader.h"
#include "Console.h"
#include "ConsoleLayout.h"
#include "Commands.h"

std::string TargetFolder;
std::uint32_t FailedRecords = 0;

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

void ExtractEntry(const DirectoryEntry& entry)
{
    const std::string_view name = DisplayName(entry.Name);
    std::string path;
    platform::FileHandle file = platform::InvalidFile;
    if (IsSafeFileName(name)) {
        path = TargetFolder + platform::NativeFileName(name);
        file = platform::CreateForWriting(path);
    }
    Print(PadRight(ShownName(name), layout::NameColumn) + " ..");

    std::int32_t WriteResult = file == platform::InvalidFile ? -1 : 0;
    ConsumeContent(entry.Size, [&WriteResult, file](const std::uint8_t* bytes, std::uint32_t count) {
        Print(".");
        if (WriteResult >= 0)
            WriteResult = platform::Write(file, bytes, count);
    });

    if (WriteResult >= 0)
        platform::SetLastWriteTime(file, entry.DateTime);
    if (file != platform::InvalidFile)
        platform::Close(file);
    if (WriteResult >= 0) {
        platform::SetAttributes(path, entry.Attributes);
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
    WalkDirectory(ExtractEntry);
}
