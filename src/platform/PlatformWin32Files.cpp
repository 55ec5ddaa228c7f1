// Win32: the archive and the extracted files: reading, writing and dating,
// the held target folder, the pending file and the console events that
// remove it.
#include "platform/Platform.h"

#include <windows.h>

#include <cstdio>
#include <iterator>

#include "common/CodePage.h"
#include "common/CommandLine.h"
#include "common/DatePicture.h"
#include "common/DosDateTime.h"
#include "common/WindowsNames.h"
#include "platform/PlatformWin32.h"

namespace platform {

using namespace win32;

namespace {

// The pending file, process-wide: its handle while it is open, its full path
// until it is renamed or removed. The console control handler runs in a
// thread of its own, so both sides take the lock.
CRITICAL_SECTION PendingLock;
HANDLE PendingHandle = INVALID_HANDLE_VALUE;
std::wstring PendingPath;

bool MarkForDeletion(HANDLE file) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// A read-only file cannot be deleted: the attribute goes first.
void DeleteClosedFile(const std::wstring& path) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
}

// Ctrl-C, Ctrl-Break, closing the console, logging off and shutting down:
// the pending file is deleted, and the lock stays taken so that it is not
// renamed while the default handler ends the process.
BOOL WINAPI RemovePendingFileOnControl(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        break;
    default:
        return FALSE;
    }
    EnterCriticalSection(&PendingLock);
    if (PendingHandle != INVALID_HANDLE_VALUE) {
        if (!MarkForDeletion(PendingHandle)) {
            CloseHandle(PendingHandle);
            DeleteClosedFile(PendingPath);
        }
    } else if (!PendingPath.empty()) {
        DeleteClosedFile(PendingPath);
    }
    return FALSE;
}

// Once, before the first temporary file.
void InstallInterruptHandler() {
    // Process-wide, as signal handlers are.
    static bool installed = false;
    if (installed) {
        return;
    }
    installed = true;
    InitializeCriticalSection(&PendingLock);
    SetConsoleCtrlHandler(RemovePendingFileOnControl, TRUE);
}

// A folder held: the handle that keeps it in place, and the prefixed final
// path of what it is, which every name in it is built from.
struct HeldFolder {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::wstring path;  // ends with a backslash
};

// Process-wide, as the handles they hold: a FolderHandle is an index here.
std::vector<HeldFolder>& HeldFolders() {
    static std::vector<HeldFolder> held;
    return held;
}

const HeldFolder* Held(FolderHandle folder) {
    const std::vector<HeldFolder>& held = HeldFolders();
    return folder >= 0 && static_cast<std::size_t>(folder) < held.size() &&
                   held[static_cast<std::size_t>(folder)].handle != INVALID_HANDLE_VALUE
               ? &held[static_cast<std::size_t>(folder)]
               : nullptr;
}

// Keeps a newly held folder in a free slot; its path gets a final backslash.
FolderHandle Remember(HeldFolder held) {
    if (held.path.empty() || held.path.back() != L'\\') {
        held.path += L'\\';
    }
    std::vector<HeldFolder>& folders = HeldFolders();
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (folders[i].handle == INVALID_HANDLE_VALUE) {
            folders[i] = std::move(held);
            return static_cast<FolderHandle>(i);
        }
    }
    folders.push_back(std::move(held));
    return static_cast<FolderHandle>(folders.size() - 1);
}

// The path of name in a held folder; empty for no held folder.
std::wstring PathIn(FolderHandle folder, const std::string& name) {
    const HeldFolder* held = Held(folder);
    return held == nullptr ? std::wstring() : held->path + Wide(name);
}

// The final path of an open folder, as \\?\ path; empty when unknown.
std::wstring FinalPath(HANDLE folder) {
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(folder, path.data(), static_cast<DWORD>(path.size()), 0);
    if (length >= path.size()) {
        path.resize(length);
        length = GetFinalPathNameByHandleW(folder, path.data(), static_cast<DWORD>(path.size()), 0);
    }
    if (length == 0 || length >= path.size()) {
        return {};
    }
    path.resize(length);
    return path;
}

bool FileIdentity(HANDLE file, BY_HANDLE_FILE_INFORMATION& identity) {
    return GetFileInformationByHandle(file, &identity) != 0;
}

}  // namespace

FileHandle OpenForReading(const std::string& path) {
    return AsFileHandle(CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::int32_t Read(FileHandle file, void* buffer, std::uint32_t count) {
    if (file == InvalidFile) {
        return -1;
    }
    DWORD got = 0;
    const DWORD wanted = count > INT32_MAX ? INT32_MAX : count;
    if (!ReadFile(AsHandle(file), buffer, wanted, &got, nullptr)) {
        return -1;
    }
    return static_cast<std::int32_t>(got);
}

void Close(FileHandle file) {
    if (file != InvalidFile) {
        CloseHandle(AsHandle(file));
    }
}

std::int32_t Write(FileHandle file, const void* data, std::uint32_t count) {
    if (file == InvalidFile) {
        return -1;
    }
    const auto* bytes = static_cast<const char*>(data);
    const DWORD total = count > INT32_MAX ? INT32_MAX : count;
    DWORD done = 0;
    do {
        DWORD written = 0;
        if (!WriteFile(AsHandle(file), bytes + done, total - done, &written, nullptr)) {
            return -1;
        }
        if (written == 0 && total > 0) {
            return -1;
        }
        done += written;
    } while (done < total);
    return static_cast<std::int32_t>(done);
}

// The stored local time becomes UTC by the zone's rule for that date (its
// year's rule, summer or winter), not by today's offset.
void SetLastWriteTime(FileHandle file, std::uint32_t dosDateTime) {
    const std::optional<DosDateTime> stamp = DecodeDosDateTime(dosDateTime);
    if (file == InvalidFile || !stamp) {
        return;
    }
    SYSTEMTIME local{};
    local.wYear = static_cast<WORD>(stamp->year);
    local.wMonth = static_cast<WORD>(stamp->month);
    local.wDay = static_cast<WORD>(stamp->day);
    local.wHour = static_cast<WORD>(stamp->hour);
    local.wMinute = static_cast<WORD>(stamp->minute);
    local.wSecond = static_cast<WORD>(stamp->second);
    DYNAMIC_TIME_ZONE_INFORMATION current{};
    TIME_ZONE_INFORMATION zone{};
    SYSTEMTIME universal{};
    FILETIME time{};
    if (GetDynamicTimeZoneInformation(&current) == TIME_ZONE_ID_INVALID ||
        !GetTimeZoneInformationForYear(local.wYear, &current, &zone)) {
        return;
    }
    if (current.DynamicDaylightTimeDisabled) {
        // The user turned summer time off: standard time all year.
        zone.DaylightDate = SYSTEMTIME{};
        zone.DaylightBias = 0;
    }
    if (!TzSpecificLocalTimeToSystemTime(&zone, &local, &universal) || !SystemTimeToFileTime(&universal, &time)) {
        return;
    }
    SetFileTime(AsHandle(file), nullptr, nullptr, &time);
}

FolderHandle HoldFolder(const std::string& folder) {
    for (std::size_t cut = folder.find_first_of("\\/", 1); cut != std::string::npos;
         cut = folder.find_first_of("\\/", cut + 1)) {
        CreateDirectoryW(SystemPath(folder.substr(0, cut)).c_str(), nullptr);
    }
    // Without delete sharing nobody can rename or remove the folder meanwhile.
    HeldFolder held;
    held.handle = CreateFileW(SystemPath(folder).c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (held.handle == INVALID_HANDLE_VALUE) {
        return InvalidFolder;
    }
    FILE_ATTRIBUTE_TAG_INFO kind{};
    if (!GetFileInformationByHandleEx(held.handle, FileAttributeTagInfo, &kind, sizeof kind) ||
        (kind.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CloseHandle(held.handle);
        return InvalidFolder;
    }
    held.path = FinalPath(held.handle);
    if (held.path.empty()) {
        held.path = SystemPath(folder);
    }
    return Remember(std::move(held));
}

FolderHandle HoldSubfolder(FolderHandle parent, const std::string& name) {
    const std::wstring path = name.empty() || name.find_first_of("\\/:") != std::string::npos ? std::wstring()
                                                                                              : PathIn(parent, name);
    if (path.empty()) {
        return InvalidFolder;
    }
    CreateDirectoryW(path.c_str(), nullptr);
    // A reparse point (a link or a junction) is opened as itself, and refused.
    HeldFolder held;
    held.handle = CreateFileW(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (held.handle == INVALID_HANDLE_VALUE) {
        return InvalidFolder;
    }
    FILE_ATTRIBUTE_TAG_INFO kind{};
    if (!GetFileInformationByHandleEx(held.handle, FileAttributeTagInfo, &kind, sizeof kind) ||
        (kind.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (kind.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        CloseHandle(held.handle);
        return InvalidFolder;
    }
    held.path = path;
    return Remember(std::move(held));
}

void ReleaseFolder(FolderHandle folder) {
    if (Held(folder) != nullptr) {
        HeldFolder& held = HeldFolders()[static_cast<std::size_t>(folder)];
        CloseHandle(held.handle);
        held.handle = INVALID_HANDLE_VALUE;
    }
}

std::string LastErrorText() {
    const DWORD error = GetLastError();
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length > 0 ? std::wstring(text, length) : L"Fehler " + std::to_wstring(error);
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L'.')) {
        message.pop_back();
    }
    return Utf8(message);
}

// A name unlikely to exist; creation is exclusive anyway.
std::string TemporaryName() {
    // Process-wide, so that no two pending files of the process share a name.
    static unsigned serial = 0;
    char name[64];
    std::snprintf(name, sizeof name, "~untwx-%lu-%08lx%u.tmp", static_cast<unsigned long>(GetCurrentProcessId()),
                  static_cast<unsigned long>(GetTickCount()), ++serial);
    return name;
}

FileHandle CreatePendingFile(FolderHandle folder, const std::string& name, bool& nameTaken) {
    nameTaken = false;
    const std::wstring path = PathIn(folder, name);
    if (path.empty()) {
        return InvalidFile;
    }
    InstallInterruptHandler();
    EnterCriticalSection(&PendingLock);
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE) {
        PendingHandle = file;
        PendingPath = path;
    }
    LeaveCriticalSection(&PendingLock);
    nameTaken = file == INVALID_HANDLE_VALUE && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS);
    return AsFileHandle(file);
}

// As SetFileAttributes does it, but on the open file: no name can be swapped
// in between.
void SetAttributes(FileHandle file, std::uint32_t attributes) {
    if (file == InvalidFile) {
        return;
    }
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attributes | FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(AsHandle(file), FileBasicInfo, &basic, sizeof basic);
}

bool CloseWritten(FileHandle file) {
    if (file == InvalidFile) {
        return false;
    }
    InstallInterruptHandler();
    EnterCriticalSection(&PendingLock);
    const bool closed = CloseHandle(AsHandle(file)) != 0;
    if (AsHandle(file) == PendingHandle) {
        PendingHandle = INVALID_HANDLE_VALUE;
    }
    LeaveCriticalSection(&PendingLock);
    return closed;
}

NameKind KindOfName(FolderHandle folder, const std::string& name) {
    const std::wstring path = PathIn(folder, name);
    const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? NameKind::Missing : NameKind::Other;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return NameKind::Other;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return NameKind::Folder;
    }
    return (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? NameKind::ReadOnlyFile : NameKind::File;
}

bool IsSameFile(FileHandle file, FolderHandle folder, const std::string& name) {
    BY_HANDLE_FILE_INFORMATION open;
    BY_HANDLE_FILE_INFORMATION named;
    const std::wstring path = PathIn(folder, name);
    if (file == InvalidFile || path.empty() || !FileIdentity(AsHandle(file), open)) {
        return false;
    }
    // No access asked for, so no sharing mode stands in the way; a link is
    // opened as itself.
    const HANDLE other = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (other == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool known = FileIdentity(other, named);
    CloseHandle(other);
    return known && open.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
           open.nFileIndexHigh == named.nFileIndexHigh && open.nFileIndexLow == named.nFileIndexLow;
}

bool RenamePendingFile(FolderHandle folder, const std::string& name) {
    const std::wstring target = PathIn(folder, name);
    if (target.empty()) {
        return false;
    }
    InstallInterruptHandler();
    EnterCriticalSection(&PendingLock);
    const bool renamed = !PendingPath.empty() && PendingHandle == INVALID_HANDLE_VALUE &&
                         MoveFileExW(PendingPath.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    if (renamed) {
        PendingPath.clear();
    }
    LeaveCriticalSection(&PendingLock);
    return renamed;
}

void RemovePendingFile(FolderHandle) {
    InstallInterruptHandler();
    EnterCriticalSection(&PendingLock);
    if (!PendingPath.empty()) {
        DeleteClosedFile(PendingPath);
        PendingPath.clear();
    }
    LeaveCriticalSection(&PendingLock);
}

std::thread StartThread(std::function<void()> body) {
    return std::thread(std::move(body));
}

}  // namespace platform
