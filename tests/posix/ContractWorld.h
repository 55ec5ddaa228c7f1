// The folder the contract suite works in, on the platform under test: the
// same tests run against the real file system and the in-memory platform,
// so a test double that passes them behaves as the real platform does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace world {

// A new, empty folder for the next test.
void Fresh();
// Its path as the program is given it, ending with a separator.
std::string Folder();
void PutFile(const std::string& name, const std::string& content, bool readOnly = false);
void PutFolder(const std::string& name);
// A symbolic link to target; false where the platform has none.
bool PutLink(const std::string& name, const std::string& target);
// The content of a file in the folder (through links); none when missing.
std::optional<std::string> Content(const std::string& name);
bool IsReadOnly(const std::string& name);
// Every name in the folder, sorted.
std::vector<std::string> Entries();
// Writes that take a file past this many bytes fail; 0 lifts the limit.
void LimitFileSize(std::uint64_t bytes);
// Renames the folder to a sibling named elsewhere and puts a link to another
// new folder, named decoy, where it was; false where the platform cannot.
bool ReplaceFolderByLink(const std::string& elsewhere, const std::string& decoy);
// Names in the sibling folder (the folder's parent holds the siblings).
std::vector<std::string> EntriesOf(const std::string& sibling);
// Opens name in the folder for reading, as the archive is opened.
platform::FileHandle OpenInFolder(const std::string& name);
// A readable handle that delivers content in pieces of at most piece bytes.
platform::FileHandle OpenInPieces(const std::string& content, std::uint32_t piece);

}  // namespace world
