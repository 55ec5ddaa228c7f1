// The rules of an extracted file on its way into the target folder: it is
// written to a new temporary file there and renamed over its name only when
// complete, so a file already in the folder is replaced by a whole file or
// not at all, and never when it is read-only, a folder or the archive.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

class PendingFile {
public:
    // Creates folder (ending with a separator) and its missing parents and
    // holds it: every file goes to what the path names now.
    explicit PendingFile(const std::string& folder);
    // An unfinished file is discarded; the folder is released.
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // Starts a file for name (native text) in the folder. False when there is
    // no folder, when name is the file open as keep, or creation failed.
    bool Create(const std::string& name, platform::FileHandle keep) { return CreateIn(folder_, name, keep); }
    // The same in a folder held inside the target folder.
    bool CreateIn(platform::FolderHandle folder, const std::string& name, platform::FileHandle keep);
    // The target folder held; InvalidFolder when it could not be made.
    platform::FolderHandle Folder() const { return folder_; }
    // As platform::Write, on the started file.
    std::int32_t Write(const void* data, std::uint32_t count);
    // Dates the file, gives it its attributes, closes it and puts it in place
    // of its name. False when any step failed; the file is gone then.
    bool Commit(std::uint32_t dosDateTime, std::uint32_t attributes);
    // Removes the started file; nothing happens when none is started.
    void Discard();

    // Why the last Create, Write or Commit failed: the program's own words
    // for its rules, else the system's message (native text).
    std::string Reason;

private:
    platform::FolderHandle folder_;
    platform::FolderHandle in_ = platform::InvalidFolder;  // the started file's folder
    platform::FileHandle file_ = platform::InvalidFile;
    std::string name_;
};
