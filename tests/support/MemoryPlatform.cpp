#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "common/CommandLine.h"
#include "common/DosDateTime.h"
#include "MemoryPlatform.h"
#include "platform/Platform.h"

namespace platform {
namespace memory {
namespace {

struct OpenFile {
    bool open = false;
    bool writing = false;
    const std::vector<std::uint8_t>* archive = nullptr;  // reading: the bytes read from
    std::size_t position = 0;
    std::string path;  // the archive's key in State::archives, or the written file's in State::files
};

State& TheState() {
    static State state;
    return state;
}

// Guards the file table and the counts the file calls keep: the reader's
// second thread reads the archive while the command opens and writes files.
// Recursive: committing and discarding close the file too.
std::recursive_mutex& FilesLock() {
    static std::recursive_mutex lock;
    return lock;
}

std::vector<OpenFile>& Table() {
    static std::vector<OpenFile> table;
    return table;
}

FileHandle AddHandle(OpenFile file) {
    std::vector<OpenFile>& table = Table();
    file.open = true;
    ++TheState().openHandles;
    // Closed slots are reused so handles stay small.
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (!table[i].open) {
            table[i] = std::move(file);
            return static_cast<FileHandle>(i + 1);
        }
    }
    table.push_back(std::move(file));
    return static_cast<FileHandle>(table.size());
}

OpenFile* Lookup(FileHandle handle) {
    std::vector<OpenFile>& table = Table();
    if (handle < 1 || static_cast<std::size_t>(handle) > table.size()) {
        return nullptr;
    }
    OpenFile& file = table[static_cast<std::size_t>(handle) - 1];
    return file.open ? &file : nullptr;
}

// The folders held, by handle; Reset forgets them.
std::vector<std::string>& HeldFolders() {
    static std::vector<std::string> held;
    return held;
}

const std::string* Held(FolderHandle folder) {
    const std::vector<std::string>& held = HeldFolders();
    return folder >= 0 && static_cast<std::size_t>(folder) < held.size() ? &held[static_cast<std::size_t>(folder)]
                                                                         : nullptr;
}

std::string TwoDigits(int value) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

}  // namespace

void Reset() {
    const std::lock_guard<std::recursive_mutex> guard(FilesLock());
    Table().clear();
    HeldFolders().clear();
    TheState() = State{};
}

State& Current() {
    return TheState();
}

void RenameFolder(const std::string& from, const std::string& to) {
    const std::lock_guard<std::recursive_mutex> guard(FilesLock());
    const auto moved = [&](const std::string& path) {
        return path.compare(0, from.size(), from) == 0 ? to + path.substr(from.size()) : path;
    };
    std::map<std::string, StoredFile> files;
    for (auto& [path, file] : TheState().files) {
        files[moved(path)] = std::move(file);
    }
    TheState().files = std::move(files);
    for (std::string& folder : TheState().existingFolders) {
        folder = moved(folder);
    }
    TheState().existingFolders.push_back(from);
    for (std::string& folder : HeldFolders()) {
        folder = moved(folder);
    }
    if (!TheState().pendingFile.empty()) {
        TheState().pendingFile = moved(TheState().pendingFile);
    }
    for (OpenFile& open : Table()) {
        if (open.writing) {
            open.path = moved(open.path);
        }
    }
}

int ReadsAtEnd() {
    const std::lock_guard<std::recursive_mutex> guard(FilesLock());
    return TheState().readsAtEnd;
}

}  // namespace memory

using memory::TheState;
using FilesGuard = std::lock_guard<std::recursive_mutex>;

void StartUp() {}

std::vector<std::string> Arguments(int argc, char** argv) {
    return NonEmptyArguments(argc, argv);
}

namespace {

// Standard output on a full disk loses what is written to it.
void WriteTo(Stream stream, std::string_view text) {
    memory::State& state = TheState();
    if (stream == Stream::Error) {
        state.errors.append(text);
    } else if (state.outputFails) {
        state.outputFailed = true;
    } else {
        state.output.append(text);
    }
}

}  // namespace

bool OutputFailed() {
    return TheState().outputFailed;
}

void WriteData(std::string_view data) {
    WriteTo(Stream::Output, data);
}

void WriteText(std::string_view text, Stream stream) {
    WriteTo(stream, text);
}

void WriteNative(std::string_view text, Stream stream) {
    WriteTo(stream, text);
}

void ReadInputLine() {
    std::string& input = TheState().standardInput;
    const std::size_t lineEnd = input.find('\n');
    input.erase(0, lineEnd == std::string::npos ? input.size() : lineEnd + 1);
}

void Pause(std::uint32_t milliseconds) {
    TheState().pauses.push_back(milliseconds);
}

// Only main ends the process, and in-process runs have none: a call here is
// a fault of the program.
void EndProcess(int exitCode) {
    std::fprintf(stderr, "EndProcess(%d) called in an in-process run\n", exitCode);
    std::abort();
}

bool OutputIsConsole() {
    return TheState().outputIsConsole;
}

bool InputIsConsole() {
    return TheState().inputIsConsole;
}

bool ConsoleIsEightBit() {
    return TheState().eightBitConsole;
}

FileHandle OpenForReading(const std::string& path) {
    const FilesGuard guard(memory::FilesLock());
    const auto found = TheState().archives.find(path);
    if (found == TheState().archives.end()) {
        return InvalidFile;
    }
    memory::OpenFile file;
    file.archive = &found->second;
    file.path = path;
    return memory::AddHandle(std::move(file));
}

std::int32_t Read(FileHandle file, void* buffer, std::uint32_t count) {
    const FilesGuard guard(memory::FilesLock());
    memory::OpenFile* open = memory::Lookup(file);
    if (open == nullptr || open->writing) {
        return -1;
    }
    const std::vector<std::uint8_t>& bytes = *open->archive;
    const std::size_t left = bytes.size() > open->position ? bytes.size() - open->position : 0;
    const std::uint32_t limit = TheState().readLimit == 0 ? count : std::min(count, TheState().readLimit);
    const std::size_t moved = std::min<std::size_t>({left, limit, INT32_MAX});
    if (moved > 0) {
        std::memcpy(buffer, bytes.data() + open->position, moved);
    }
    open->position += moved;
    ++TheState().reads;
    TheState().bytesRead += moved;
    if (moved == 0) {
        ++TheState().readsAtEnd;
    }
    return static_cast<std::int32_t>(moved);
}

void Close(FileHandle file) {
    const FilesGuard guard(memory::FilesLock());
    memory::OpenFile* open = memory::Lookup(file);
    if (open == nullptr) {
        return;
    }
    *open = memory::OpenFile{};
    --TheState().openHandles;
}

std::int32_t Write(FileHandle file, const void* data, std::uint32_t count) {
    const FilesGuard guard(memory::FilesLock());
    memory::OpenFile* open = memory::Lookup(file);
    if (open == nullptr || !open->writing) {
        return -1;
    }
    const std::size_t moved = std::min<std::size_t>(count, INT32_MAX);
    std::size_t used = 0;
    for (const auto& [path, stored] : TheState().files) {
        used += stored.content.size();
    }
    if (moved > TheState().diskSpace - std::min(used, TheState().diskSpace)) {
        return -1;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::vector<std::uint8_t>& content = TheState().files[open->path].content;
    content.insert(content.end(), bytes, bytes + moved);
    return static_cast<std::int32_t>(moved);
}

void SetLastWriteTime(FileHandle file, std::uint32_t dosDateTime) {
    const FilesGuard guard(memory::FilesLock());
    memory::OpenFile* open = memory::Lookup(file);
    if (open == nullptr || !open->writing || !DecodeDosDateTime(dosDateTime)) {
        return;
    }
    TheState().files[open->path].dosDateTime = dosDateTime;
}

FolderHandle HoldFolder(const std::string& folder) {
    const FilesGuard guard(memory::FilesLock());
    memory::State& state = TheState();
    auto& folders = state.existingFolders;
    for (std::size_t slash = folder.find('/'); slash != std::string::npos; slash = folder.find('/', slash + 1)) {
        const std::string prefix = folder.substr(0, slash + 1);
        // A file of the folder's name stands in the way.
        if (state.files.count(prefix.substr(0, slash)) != 0) {
            return InvalidFolder;
        }
        if (std::find(folders.begin(), folders.end(), prefix) == folders.end()) {
            folders.push_back(prefix);
        }
    }
    if (folder.empty() || folder.back() != '/') {
        return InvalidFolder;
    }
    memory::HeldFolders().push_back(folder);
    return static_cast<FolderHandle>(memory::HeldFolders().size() - 1);
}

FolderHandle HoldSubfolder(FolderHandle parent, const std::string& name) {
    const FilesGuard guard(memory::FilesLock());
    const std::string* held = memory::Held(parent);
    if (held == nullptr || name.empty() || name.find('/') != std::string::npos) {
        return InvalidFolder;
    }
    const std::string folder = *held + name + "/";
    auto& folders = TheState().existingFolders;
    // A file of the folder's name stands in the way.
    if (TheState().files.count(*held + name) != 0) {
        return InvalidFolder;
    }
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
        folders.push_back(folder);
    }
    memory::HeldFolders().push_back(folder);
    return static_cast<FolderHandle>(memory::HeldFolders().size() - 1);
}

void ReleaseFolder(FolderHandle) {}

std::string LastErrorText() {
    return "Fehler im Speicher";
}

std::string TemporaryName() {
    const FilesGuard guard(memory::FilesLock());
    return ".untwx-" + std::to_string(++TheState().temporaryFiles) + ".tmp";
}

FileHandle CreatePendingFile(FolderHandle folder, const std::string& name, bool& nameTaken) {
    const FilesGuard guard(memory::FilesLock());
    memory::State& state = TheState();
    nameTaken = false;
    const std::string* held = memory::Held(folder);
    if (held == nullptr || !state.pendingFile.empty()) {
        return InvalidFile;
    }
    const std::string path = *held + name;
    if (KindOfName(folder, name) != NameKind::Missing) {
        nameTaken = true;
        return InvalidFile;
    }
    state.pendingFile = path;
    state.files[path] = memory::StoredFile{};
    memory::OpenFile file;
    file.writing = true;
    file.path = path;
    return memory::AddHandle(std::move(file));
}

void SetAttributes(FileHandle file, std::uint32_t attributes) {
    const FilesGuard guard(memory::FilesLock());
    const memory::OpenFile* open = memory::Lookup(file);
    if (open != nullptr && open->writing) {
        memory::StoredFile& stored = TheState().files[open->path];
        stored.attributes = attributes;
        stored.attributesSet = true;
    }
}

bool CloseWritten(FileHandle file) {
    const FilesGuard guard(memory::FilesLock());
    const bool open = memory::Lookup(file) != nullptr;
    Close(file);
    return open && !TheState().closeFails;
}

NameKind KindOfName(FolderHandle folder, const std::string& name) {
    const FilesGuard guard(memory::FilesLock());
    const memory::State& state = TheState();
    const std::string* held = memory::Held(folder);
    if (held == nullptr) {
        return NameKind::Other;
    }
    const std::string path = *held + name;
    const auto& folders = state.existingFolders;
    if (std::find(folders.begin(), folders.end(), path + '/') != folders.end()) {
        return NameKind::Folder;
    }
    const auto existing = state.files.find(path);
    if (existing == state.files.end()) {
        return NameKind::Missing;
    }
    return (existing->second.attributes & 0x01) != 0 ? NameKind::ReadOnlyFile : NameKind::File;
}

bool IsSameFile(FileHandle file, FolderHandle folder, const std::string& name) {
    const FilesGuard guard(memory::FilesLock());
    const memory::OpenFile* open = memory::Lookup(file);
    const std::string* held = memory::Held(folder);
    return open != nullptr && held != nullptr && open->path == *held + name;
}

bool RenamePendingFile(FolderHandle folder, const std::string& name) {
    const FilesGuard guard(memory::FilesLock());
    memory::State& state = TheState();
    const std::string* held = memory::Held(folder);
    if (held == nullptr || state.pendingFile.empty() || KindOfName(folder, name) == NameKind::Folder) {
        return false;
    }
    memory::StoredFile written = std::move(state.files.at(state.pendingFile));
    state.files.erase(state.pendingFile);
    state.pendingFile.clear();
    state.files[*held + name] = std::move(written);
    return true;
}

void RemovePendingFile(FolderHandle) {
    const FilesGuard guard(memory::FilesLock());
    memory::State& state = TheState();
    if (!state.pendingFile.empty()) {
        state.files.erase(state.pendingFile);
        state.pendingFile.clear();
    }
}

std::thread StartThread(std::function<void()> body) {
    return std::thread(std::move(body));
}

unsigned UsableProcessors() {
    return TheState().processors;
}

std::string EnvironmentValue(const char* name) {
    const auto found = TheState().environment.find(name);
    return found == TheState().environment.end() ? std::string() : found->second;
}

void AdviseRandomAccess(void*, std::size_t) {}

char PathSeparator() {
    return '/';
}

std::string StoredNameOf(std::string_view native) {
    return std::string(native);
}

std::string NativeFileName(std::string_view storedName) {
    return std::string(storedName);
}

bool IsReservedFileName(std::string_view) {
    return false;
}

std::string FormatDate(int year, int month, int day) {
    char text[64];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d", day, month, year);
    return text;
}

std::string FormatTime(int hour, int minute, int second) {
    return memory::TwoDigits(hour) + ':' + memory::TwoDigits(minute) + ':' + memory::TwoDigits(second);
}

}  // namespace platform
