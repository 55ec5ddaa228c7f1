// The contract suite's folder on the in-memory platform: "out/".
#include <algorithm>

#include "ContractWorld.h"
#include "MemoryPlatform.h"

namespace world {
namespace {

using platform::memory::Current;

constexpr char Here[] = "out/";

}  // namespace

void Fresh()
{
    platform::memory::Reset();
}

std::string Folder()
{
    return Here;
}

void PutFile(const std::string& name, const std::string& content, bool readOnly)
{
    platform::memory::StoredFile file;
    file.content.assign(content.begin(), content.end());
    file.attributes = readOnly ? 0x01 : 0x20;
    Current().files[Here + name] = file;
    Current().archives[Here + name] = file.content;
}

void PutFolder(const std::string& name)
{
    Current().existingFolders.push_back(Here + name + "/");
}

bool PutLink(const std::string&, const std::string&)
{
    return false;
}

std::optional<std::string> Content(const std::string& name)
{
    const auto found = Current().files.find(Here + name);
    if (found == Current().files.end())
        return std::nullopt;
    return std::string(found->second.content.begin(), found->second.content.end());
}

bool IsReadOnly(const std::string& name)
{
    const auto found = Current().files.find(Here + name);
    return found != Current().files.end() && (found->second.attributes & 0x01) != 0;
}

std::vector<std::string> Entries()
{
    const std::string folder = Here;
    std::vector<std::string> names;
    for (const auto& [path, file] : Current().files) {
        if (path.compare(0, folder.size(), folder) == 0 && path.find('/', folder.size()) == std::string::npos)
            names.push_back(path.substr(folder.size()));
    }
    for (const std::string& path : Current().existingFolders) {
        if (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            path.find('/', folder.size()) == path.size() - 1)
            names.push_back(path.substr(folder.size(), path.size() - folder.size() - 1));
    }
    std::sort(names.begin(), names.end());
    return names;
}

void LimitFileSize(std::uint64_t bytes)
{
    std::size_t used = 0;
    for (const auto& [path, file] : Current().files)
        used += file.content.size();
    Current().diskSpace = bytes == 0 ? SIZE_MAX : used + bytes;
}

// No links here: what the path names afterwards is a new folder, the decoy.
bool ReplaceFolderByLink(const std::string& elsewhere, const std::string&)
{
    platform::memory::RenameFolder(Here, elsewhere + "/");
    return true;
}

std::vector<std::string> EntriesOf(const std::string& sibling)
{
    const std::string folder = sibling == "decoy" ? std::string(Here) : sibling + "/";
    std::vector<std::string> names;
    for (const auto& [path, file] : Current().files) {
        if (path.compare(0, folder.size(), folder) == 0)
            names.push_back(path.substr(folder.size()));
    }
    return names;
}

platform::FileHandle OpenInFolder(const std::string& name)
{
    return platform::OpenForReading(Here + name);
}

platform::FileHandle OpenInPieces(const std::string& content, std::uint32_t piece)
{
    Current().archives["pieces"].assign(content.begin(), content.end());
    Current().readLimit = piece;
    return platform::OpenForReading("pieces");
}

}  // namespace world
