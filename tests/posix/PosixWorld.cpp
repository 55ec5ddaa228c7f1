// The contract suite's folder on the real file system.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ContractWorld.h"

namespace world {
namespace {

namespace fs = std::filesystem;

fs::path& Base()
{
    static fs::path base;
    return base;
}

fs::path Here()
{
    return Base() / "folder";
}

std::vector<std::string> Names(const fs::path& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

void Fresh()
{
    platform::StartUp();
    LimitFileSize(0);
    if (!Base().empty()) {
        std::error_code ignored;
        fs::permissions(Here(), fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(Base(), ignored);
    }
    std::string pattern = ::testing::TempDir() + "untwx-contract-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    Base() = pattern;
    fs::create_directory(Here());
}

std::string Folder()
{
    return Here().string() + "/";
}

void PutFile(const std::string& name, const std::string& content, bool readOnly)
{
    std::ofstream(Here() / name, std::ios::binary) << content;
    if (readOnly)
        ::chmod((Here() / name).c_str(), 0444);
}

void PutFolder(const std::string& name)
{
    fs::create_directory(Here() / name);
}

bool PutLink(const std::string& name, const std::string& target)
{
    return ::symlink(target.c_str(), (Here() / name).c_str()) == 0;
}

std::optional<std::string> Content(const std::string& name)
{
    std::ifstream in(Here() / name, std::ios::binary);
    if (!in || fs::is_directory(Here() / name))
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool IsReadOnly(const std::string& name)
{
    struct stat status {};
    return ::lstat((Here() / name).c_str(), &status) == 0 && (status.st_mode & 0222) == 0;
}

std::vector<std::string> Entries()
{
    return Names(Here());
}

void LimitFileSize(std::uint64_t bytes)
{
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = bytes == 0 ? limit.rlim_max : static_cast<rlim_t>(bytes);
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

bool ReplaceFolderByLink(const std::string& elsewhere, const std::string& decoy)
{
    fs::rename(Here(), Base() / elsewhere);
    fs::create_directory(Base() / decoy);
    fs::create_directory_symlink(Base() / decoy, Here());
    return true;
}

std::vector<std::string> EntriesOf(const std::string& sibling)
{
    return Names(Base() / sibling);
}

platform::FileHandle OpenInFolder(const std::string& name)
{
    return platform::OpenForReading(Folder() + name);
}

// A pipe fed piece by piece from a thread of its own.
platform::FileHandle OpenInPieces(const std::string& content, std::uint32_t piece)
{
    int ends[2];
    if (::pipe(ends) != 0)
        return platform::InvalidFile;
    std::thread([content, piece, write = ends[1]] {
        for (std::size_t done = 0; done < content.size(); done += piece) {
            const std::size_t count = std::min<std::size_t>(piece, content.size() - done);
            if (::write(write, content.data() + done, count) != static_cast<ssize_t>(count))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ::close(write);
    }).detach();
    return ends[0];
}

}  // namespace world
