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

bool PendingFile::Create(const std::string& name, platform::FileHandle keep)
{
    Discard();
    // The archive being read is never replaced, however it is named.
    if (folder_ == platform::InvalidFolder || platform::IsSameFile(keep, folder_, name))
        return false;
    for (int attempt = 0; attempt < TemporaryNameAttempts; ++attempt) {
        bool nameTaken = false;
        file_ = platform::CreatePendingFile(folder_, platform::TemporaryName(), nameTaken);
        if (file_ != platform::InvalidFile) {
            name_ = name;
            return true;
        }
        if (!nameTaken)
            return false;
    }
    return false;
}

std::int32_t PendingFile::Write(const void* data, std::uint32_t count) const
{
    return platform::Write(file_, data, count);
}

bool PendingFile::Commit(std::uint32_t dosDateTime, std::uint32_t attributes)
{
    if (file_ == platform::InvalidFile)
        return false;
    platform::SetLastWriteTime(file_, dosDateTime);
    platform::SetAttributes(file_, attributes);
    // A delayed write error (full disk, quota) shows when closing.
    bool committed = platform::CloseWritten(file_);
    file_ = platform::InvalidFile;
    // As on the archive's home system, a read-only file is not replaced, even
    // by a user the system would let do it.
    const platform::NameKind existing = platform::KindOfName(folder_, name_);
    committed = committed && existing != platform::NameKind::ReadOnlyFile && existing != platform::NameKind::Folder &&
        platform::RenamePendingFile(folder_, name_);
    if (!committed)
        platform::RemovePendingFile(folder_);
    return committed;
}

void PendingFile::Discard()
{
    if (file_ == platform::InvalidFile)
        return;
    platform::CloseWritten(file_);
    file_ = platform::InvalidFile;
    platform::RemovePendingFile(folder_);
}
