// The two commands that OpenArchive runs, and what the front end hands them.
#pragma once

#include <cstdint>
#include <string>

// "-i": one row per archived file.
void ListArchive();
// "-e": every archived file into TargetFolder.
void ExtractArchive();

// Folder the extraction writes to, ending with the platform's separator; set
// by the front end.
extern std::string TargetFolder;
// Records the last extraction could not write.
extern std::uint32_t FailedRecords;
