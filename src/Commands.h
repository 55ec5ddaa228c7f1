// The two commands that the front end runs on an archive reader.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

class TArchiveReader;
struct DirectoryEntry;

// "-i": one row per archived file.
void ListArchive(TArchiveReader& reader);

// "-e": every archived file into the target folder. The file being written
// is discarded when the extraction ends before it is complete, by a stop or
// an error on the way out.
class TExtraction {
public:
    // folder ends with the platform's separator.
    explicit TExtraction(std::string folder) : TargetFolder(std::move(folder)) {}
    ~TExtraction() { DiscardPendingFile(); }
    TExtraction(const TExtraction&) = delete;
    TExtraction& operator=(const TExtraction&) = delete;

    void ExtractArchive(TArchiveReader& reader);

    const std::string TargetFolder;
    // Records that could not be written.
    std::uint32_t FailedRecords = 0;

private:
    void ExtractEntry(TArchiveReader& reader, const DirectoryEntry& entry);
    void DiscardPendingFile();

    // The temporary file of the record being written.
    platform::FileHandle PendingFile = platform::InvalidFile;
};
