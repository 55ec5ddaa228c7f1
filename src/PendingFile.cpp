#include "PendingFile.h"

namespace {

// Names tried for the temporary file before creation gives up.
constexpr int TemporaryNameAttempts = 100;

}  // namespace

PendingFile::PendingFile(const std::string& folder) : folder_(platform::HoldFolder(folder)) {}

PendingFile::~PendingFile()
{
    Discard();
    if (folder_ != platform::InvalidFolder)
        platform::ReleaseFolder(folder_);
}

bool PendingFile::CreateIn(platform::FolderHandle folder, const std::string& name, platform::FileHandle keep)
{
    Discard();
    if (folder == platform::InvalidFolder) {
        Reason = "Zielordner fehlt";
        return false;
    }
    // The archive being read is never replaced, however it is named.
    if (platform::IsSameFile(keep, folder, name)) {
        Reason = "das Archiv selbst";
        return false;
    }
    for (int attempt = 0; attempt < TemporaryNameAttempts; ++attempt) {
        bool nameTaken = false;
        file_ = platform::CreatePendingFile(folder, platform::TemporaryName(), nameTaken);
        if (file_ != platform::InvalidFile) {
            in_ = folder;
            name_ = name;
            return true;
        }
        if (!nameTaken)
            break;
    }
    Reason = platform::LastErrorText();
    return false;
}

std::int32_t PendingFile::Write(const void* data, std::uint32_t count)
{
    const std::int32_t written = platform::Write(file_, data, count);
    if (written < 0)
        Reason = platform::LastErrorText();
    return written;
}

bool PendingFile::Commit(std::uint32_t dosDateTime, std::uint32_t attributes)
{
    if (file_ == platform::InvalidFile)
        return false;
    platform::SetLastWriteTime(file_, dosDateTime);
    platform::SetAttributes(file_, attributes);
    // A delayed write error (full disk, quota) shows when closing.
    const bool committed = platform::CloseWritten(file_);
    file_ = platform::InvalidFile;
    // As on the archive's home system, a read-only file is not replaced, even
    // by a user the system would let do it.
    const platform::NameKind existing = committed ? platform::KindOfName(in_, name_) : platform::NameKind::Missing;
    if (!committed)
        Reason = platform::LastErrorText();
    else if (existing == platform::NameKind::ReadOnlyFile)
        Reason = "schreibgeschuetzte Datei";
    else if (existing == platform::NameKind::Folder)
        Reason = "ein Ordner dieses Namens";
    else if (platform::RenamePendingFile(in_, name_))
        return true;
    else
        Reason = platform::LastErrorText();
    platform::RemovePendingFile(in_);
    return false;
}

void PendingFile::Discard()
{
    if (file_ == platform::InvalidFile)
        return;
    platform::CloseWritten(file_);
    file_ = platform::InvalidFile;
    platform::RemovePendingFile(in_);
}
