#include "DecodeChecks.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "ArchiveFormat.h"
#include "ArchiveReader.h"
#include "InProcessRun.h"
#include "UnTWX.h"
#include "TestSupport.h"
#include "stages/CRCs.h"

namespace decode_checks {

namespace memory = platform::memory;

const std::vector<std::string> ListArguments = {"-i", "a.twx"};
const std::vector<std::string> ExtractArguments = {"-e", "a.twx", "out"};

namespace {

// Offsets of the header fields the fix-ups touch.
constexpr std::size_t VersionAt = 4;
constexpr std::size_t HeaderWordAt = 6;
constexpr std::size_t HeaderCrcAt = 10;
constexpr std::size_t BlockSizeCodeAt = 16;

std::string_view StopMessage(std::string_view output)
{
    return FindStop(output).text;
}

void CheckEnding(const char* command, const Ending& ending)
{
    const int code = ending.exitCode;
    const bool stopLine = !StopMessage(ending.state.output).empty();
    if (code != 0 && code != 1 && code != 2)
        Fail(command, "exit code other than 0, 1 or 2", ending);
    if (code == 2 && !stopLine)
        Fail(command, "exit code 2 without a stop message as the last line", ending);
    if (code != 2 && stopLine)
        Fail(command, "stop message without exit code 2", ending);
    if (ending.state.openHandles != 0)
        Fail(command, "a handle is still open", ending);
}

}  // namespace

std::vector<std::uint8_t> FixedUp(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> archive(data, data + size);
    if (archive.size() >= HeaderCrcAt + 4) {
        TCRC crc;
        crc.UpdateRange(archive.data() + VersionAt, HeaderCrcAt - VersionAt);
        for (unsigned i = 0; i < 4; ++i)
            archive[HeaderCrcAt + i] = static_cast<std::uint8_t>(crc.Value() >> (8 * i));
    }
    if (archive.size() > BlockSizeCodeAt) {
        std::uint8_t& code = archive[BlockSizeCodeAt];
        if (code > 2 && code < twx::MaxBlockSizeCode)
            code = 1;
    }
    return archive;
}

TArchiveReader& ReaderFor(const std::vector<std::uint8_t>& archive)
{
    const std::string_view bytes(reinterpret_cast<const char*>(archive.data()), archive.size());
    return KeptReaderFor(archive.size() > BlockSizeCodeAt ? archive[BlockSizeCodeAt] : 0, bytes);
}

bool ChoosesExtraction(const std::vector<std::uint8_t>& archive)
{
    return archive.size() > HeaderWordAt && (archive[HeaderWordAt] & 1u) != 0;
}

Ending Run(TArchiveReader& reader, const std::vector<std::string>& arguments, std::vector<std::uint8_t>& archive,
    unsigned processors)
{
    memory::Reset();
    memory::Current().archives["a.twx"] = std::move(archive);
    memory::Current().processors = processors;
    Ending ending;
    ending.exitCode = RunUnTWX(arguments, &reader);
    ending.state = std::move(memory::Current());
    archive = std::move(ending.state.archives.extract("a.twx").mapped());
    memory::Reset();
    return ending;
}

void Fail(const char* command, const char* broken, const Ending& ending)
{
    std::fprintf(stderr, "\n%s: %s (exit code %d, %d open handles)\n--- output ---\n%s\n--- files ---\n", command,
        broken, ending.exitCode, ending.state.openHandles, ending.state.output.c_str());
    for (const auto& [path, file] : ending.state.files)
        std::fprintf(stderr, "'%s' (%zu bytes)\n", path.c_str(), file.content.size());
    std::abort();
}

void CheckListing(const Ending& listing)
{
    CheckEnding("-i", listing);
    if (!listing.state.files.empty())
        Fail("-i", "the listing created a file", listing);
}

void CheckExtraction(const Ending& extraction)
{
    CheckEnding("-e", extraction);
    for (const auto& [path, file] : extraction.state.files) {
        const std::string_view name = std::string_view(path).substr(path.size() < 4 ? path.size() : 4);
        if (path.compare(0, 4, "out/") != 0 || name.empty() || name == "." || name == ".." ||
            name.find('/') != std::string_view::npos)
            Fail("-e", "a file outside the target folder", extraction);
    }
    // A stop removes the file being written: no temporary file stays.
    if (!extraction.state.pendingFile.empty())
        Fail("-e", "a temporary file stayed", extraction);
    if (extraction.exitCode == 2)
        return;
    if (LastLine(extraction.state.output) != "-done")
        Fail("-e", "a normal end without the closing line", extraction);
}

}  // namespace decode_checks
