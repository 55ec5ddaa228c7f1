// "-e" and "-x": every archived file (or the chosen ones) into the target
// folder, with its last-write time and attributes; "-e" flat under the last
// part of each stored name, "-x" with the stored folders made inside the
// target folder. Each file is written to a temporary file beside it and
// renamed into place only when complete, so a file already in the folder is
// replaced by a whole file or not at all.
#include <string>
#include <vector>

#include "ArchiveReader.h"
#include "Commands.h"
#include "Console.h"
#include "ConsoleLayout.h"
#include "PendingFile.h"
#include "Selection.h"

namespace {

constexpr char UnsafeName[] = "unsicherer Name";

// Only a plain name inside its folder is created: a slash, a parent or
// current folder, an empty name, a zero byte or a device name could put the
// file somewhere else.
bool IsSafeFileName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos &&
           !platform::IsReservedFileName(name);
}

// The components of a stored name under the target folder: '\' and '/'
// separate, a drive and leading separators are dropped. Empty when one of
// them could lead anywhere else (a colon would name a stream on Win32).
std::vector<std::string_view> FolderPath(std::string_view stored)
{
    if (stored.size() >= 2 && stored[1] == ':' && ((stored[0] | 0x20) >= 'a' && (stored[0] | 0x20) <= 'z'))
        stored.remove_prefix(2);
    while (!stored.empty() && (stored[0] == '\\' || stored[0] == '/'))
        stored.remove_prefix(1);
    std::vector<std::string_view> parts;
    while (true) {
        const std::size_t cut = stored.find_first_of("\\/");
        const std::string_view part = stored.substr(0, cut);
        if (!IsSafeFileName(part) || part.find(':') != std::string_view::npos ||
            platform::NativeFileName(part).empty())
            return {};
        parts.push_back(part);
        if (cut == std::string_view::npos)
            return parts;
        stored.remove_prefix(cut + 1);
    }
}

// The folders of a record held one inside the other, each entered relative
// to the one above; released in reverse.
class THeldPath {
public:
    THeldPath() = default;
    THeldPath(const THeldPath&) = delete;
    THeldPath& operator=(const THeldPath&) = delete;
    ~THeldPath()
    {
        for (auto held = Folders.rbegin(); held != Folders.rend(); ++held)
            platform::ReleaseFolder(*held);
    }
    // Enters name inside folder; InvalidFolder when it is no folder of ours.
    platform::FolderHandle Enter(platform::FolderHandle folder, std::string_view name)
    {
        const platform::FolderHandle inner = platform::HoldSubfolder(folder, platform::NativeFileName(name));
        if (inner != platform::InvalidFolder)
            Folders.push_back(inner);
        return inner;
    }

private:
    std::vector<platform::FolderHandle> Folders;
};

}  // namespace

void TExtraction::ExtractEntry(TArchiveReader& reader, PendingFile& pending, const DirectoryEntry& entry)
{
    if (Selection != nullptr && !Selection->Chooses(entry.Name)) {
        reader.ConsumeContent(entry.Size, [](const std::uint8_t*, std::uint32_t) {});
        return;
    }
    // Where the file goes: the folder, its name there and the name shown.
    THeldPath held;
    platform::FolderHandle folder = pending.Folder();
    std::string_view name = DisplayName(entry.Name);
    std::string shown(name);
    bool safe = IsSafeFileName(name);
    if (WithFolders) {
        const std::vector<std::string_view> parts = FolderPath(entry.Name);
        safe = !parts.empty();
        shown.clear();
        for (std::size_t i = 0; i < parts.size(); ++i) {
            shown.append(i == 0 ? "" : std::string(1, platform::PathSeparator())).append(parts[i]);
            if (i + 1 < parts.size() && folder != platform::InvalidFolder)
                folder = held.Enter(folder, parts[i]);
        }
        name = safe ? parts.back() : std::string_view(entry.Name);
        if (safe && folder == platform::InvalidFolder)
            pending.Reason = "Ordner kann nicht angelegt werden";
        if (!safe)
            shown = entry.Name;
    }
    const bool created = safe && folder != platform::InvalidFolder &&
                         pending.CreateIn(folder, platform::NativeFileName(name), reader.ArchiveHandle);
    if (!safe)
        pending.Reason = UnsafeName;
    Print(PadRight(ShownName(shown), layout::NameColumn) + " ..");

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
        ReportRecordFailure(entry.Name, pending.Reason);
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
