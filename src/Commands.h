// The two commands that the front end runs on an archive reader.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>


class TArchiveReader;
class TSelection;
class PendingFile;
struct DirectoryEntry;

// "-i": one row per archived file.
void ListArchive(TArchiveReader& reader);
// "-l": the listing for scripts; ScriptName is its name field.
void ListForScripts(TArchiveReader& reader);
std::string ScriptName(std::string_view storedName);
// "-p": the content of the chosen files to standard output.
void WriteContents(TArchiveReader& reader, TSelection& selection);
// "-t": every block decoded and checked, nothing shown.
void CheckArchive(TArchiveReader& reader);

// "-e": every archived file into the target folder. The file being written
// is discarded when the extraction ends before it is complete, by a stop or
// an error on the way out.
// "-x": the same with the stored folders, made inside the target folder,
// and of the records the selection chooses (all when it is null).
class TExtraction {
public:
    // folder ends with the platform's separator.
    explicit TExtraction(std::string folder, bool withFolders = false, TSelection* selection = nullptr)
        : TargetFolder(std::move(folder)), WithFolders(withFolders), Selection(selection)
    {
    }

    void ExtractArchive(TArchiveReader& reader);

    const std::string TargetFolder;
    const bool WithFolders;
    TSelection* const Selection;
    // Records that could not be written.
    std::uint32_t FailedRecords = 0;

private:
    void ExtractEntry(TArchiveReader& reader, PendingFile& pending, const DirectoryEntry& entry);
};
