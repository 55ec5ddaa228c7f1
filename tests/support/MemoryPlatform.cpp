#include <algorithm>
#include <cstdio>
#include <cstring>

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
    std::string path;  // writing: the key in State::files
};

State& TheState() {
    static State state;
    return state;
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

std::string TwoDigits(int value) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

}  // namespace

void Reset() {
    Table().clear();
    TheState() = State{};
}

State& Current() {
    return TheState();
}

}  // namespace memory

using memory::TheState;

void StartUp() {}

std::vector<std::string> Arguments(int argc, char** argv) {
    return NonEmptyArguments(argc, argv);
}

void WriteText(std::string_view text) {
    TheState().output.append(text);
}

void WriteNative(std::string_view text) {
    TheState().output.append(text);
}

void ReadInputLine() {
    std::string& input = TheState().standardInput;
    const std::size_t lineEnd = input.find('\n');
    input.erase(0, lineEnd == std::string::npos ? input.size() : lineEnd + 1);
}

void Pause(std::uint32_t milliseconds) {
    TheState().pauses.push_back(milliseconds);
}

void EndProcess(int exitCode) {
    throw memory::ProcessEnded{exitCode};
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
    const auto found = TheState().archives.find(path);
    if (found == TheState().archives.end()) {
        return InvalidFile;
    }
    memory::OpenFile file;
    file.archive = &found->second;
    return memory::AddHandle(std::move(file));
}

std::int32_t Read(FileHandle file, void* buffer, std::uint32_t count) {
    memory::OpenFile* open = memory::Lookup(file);
    if (open == nullptr || open->writing) {
        return -1;
    }
    const std::vector<std::uint8_t>& bytes = *open->archive;
    const std::size_t left = bytes.size() > open->position ? bytes.size() - open->position : 0;
    const std::size_t moved = std::min<std::size_t>({left, count, INT32_MAX});
    if (moved > 0) {
        std::memcpy(buffer, bytes.data() + open->position, moved);
    }
    open->position += moved;
    ++TheState().reads;
    TheState().bytesRead += moved;
    return static_cast<std::int32_t>(moved);
}

void Close(FileHandle file) {
    memory::OpenFile* open = memory::Lookup(file);
    if (open == nullptr) {
        return;
    }
    *open = memory::OpenFile{};
    --TheState().openHandles;
}

FileHandle CreateForWriting(const std::string& path) {
    memory::State& state = TheState();
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto& folders = state.existingFolders;
    if (name.empty() || std::find(folders.begin(), folders.end(), folder) == folders.end() ||
        std::find(folders.begin(), folders.end(), path + '/') != folders.end()) {
        return InvalidFile;
    }
    const auto existing = state.files.find(path);
    if (existing != state.files.end() && (existing->second.attributes & 0x01) != 0) {
        return InvalidFile;
    }
    // A new file or an overwritten one starts without content, date or attributes.
    state.files[path] = memory::StoredFile{};
    memory::OpenFile file;
    file.writing = true;
    file.path = path;
    return memory::AddHandle(std::move(file));
}

std::int32_t Write(FileHandle file, const void* data, std::uint32_t count) {
    memory::OpenFile* open = memory::Lookup(file);
    if (open == nullptr || !open->writing) {
        return -1;
    }
    const std::size_t moved = std::min<std::size_t>(count, INT32_MAX);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::vector<std::uint8_t>& content = TheState().files[open->path].content;
    content.insert(content.end(), bytes, bytes + moved);
    return static_cast<std::int32_t>(moved);
}

void SetLastWriteTime(FileHandle file, std::uint32_t dosDateTime) {
    memory::OpenFile* open = memory::Lookup(file);
    if (open == nullptr || !open->writing || !DecodeDosDateTime(dosDateTime)) {
        return;
    }
    TheState().files[open->path].dosDateTime = dosDateTime;
}

void SetAttributes(const std::string& path, std::uint32_t attributes) {
    const auto found = TheState().files.find(path);
    if (found == TheState().files.end()) {
        return;
    }
    found->second.attributes = attributes;
    found->second.attributesSet = true;
}

void AdviseRandomAccess(void*, std::size_t) {}

char PathSeparator() {
    return '/';
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
