// Controls of the in-memory platform used by in-process tests and the fuzzer:
// the archive comes from a byte buffer, created files stay in memory, pauses
// are only counted; the process is never ended (only main does that). The file
// calls may come from the reader's second thread; the rest from one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace platform::memory {

struct StoredFile {
    std::vector<std::uint8_t> content;
    std::uint32_t dosDateTime = 0;     // 0: never set
    std::uint32_t attributes = 0;
    bool attributesSet = false;
    bool operator==(const StoredFile&) const = default;
};

struct State {
    // Inputs.
    std::map<std::string, std::vector<std::uint8_t>> archives;  // path -> bytes
    std::string standardInput;
    // A person at a console by default: terminals on both sides.
    bool outputIsConsole = true;
    bool inputIsConsole = true;
    bool eightBitConsole = false;
    std::vector<std::string> existingFolders{"out/"};            // paths with a final '/'
    std::size_t diskSpace = SIZE_MAX;                            // bytes all files may hold together
    std::uint32_t readLimit = 0;                                 // most bytes one read delivers; 0: no limit
    unsigned processors = 2;                                     // what UsableProcessors answers
    std::map<std::string, std::string> environment;              // what EnvironmentValue answers
    bool outputFails = false;                                    // standard output on a full disk
    bool closeFails = false;                                     // closing a written file reports an error
    // Outputs.
    std::string output;                                        // console bytes as written
    std::string errors;                                        // standard error's
    bool outputFailed = false;                                 // a write to standard output was lost
    std::map<std::string, StoredFile> files;                   // path -> file
    std::vector<std::uint32_t> pauses;
    int openHandles = 0;
    // Work done on the archives: Read calls and the bytes they delivered.
    std::uint32_t reads = 0;
    std::uint64_t bytesRead = 0;
    std::string pendingFile;                                   // the temporary file being written
    int temporaryFiles = 0;                                    // how many were created
    int readsAtEnd = 0;                                        // reads that found the end of the file
};

// Clears everything (inputs included) for a new run.
void Reset();
State& Current();
// Renames folder from to to (both ending in '/'), with everything in it; a
// folder held follows, as a held folder does, and from is made anew.
void RenameFolder(const std::string& from, const std::string& to);
// Reads of a file that found nothing more to read (end of file), counted
// under the file table's lock: safe while a run is going on.
int ReadsAtEnd();

}  // namespace platform::memory
