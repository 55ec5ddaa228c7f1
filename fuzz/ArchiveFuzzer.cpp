// Fuzz entry: the input bytes are an archive. Both commands run in-process on
// the memory platform, and every ending is held to the program's promise: a
// normal end or one of its own stops, nothing written outside the target
// folder, and listing and extraction agreeing on the archive.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "UnTWX.h"
#include "MemoryPlatform.h"
#include "stages/CRCs.h"

namespace {

namespace memory = platform::memory;

struct Ending {
    int exitCode = -1;
    std::string output;
    memory::State state;
};

Ending Run(const std::vector<std::string>& arguments, const std::uint8_t* data, std::size_t size)
{
    memory::Reset();
    memory::Current().archives["a.twx"].assign(data, data + size);
    Ending ending;
    try {
        ending.exitCode = RunUnTWX(arguments);
    } catch (const memory::ProcessEnded& ended) {
        ending.exitCode = ended.exitCode;
    }
    ending.state = memory::Current();
    ending.output = ending.state.output;
    return ending;
}

[[noreturn]] void Fail(const char* command, const char* broken, const Ending& ending)
{
    std::fprintf(stderr, "\n%s: %s (exit code %d, %d open handles)\n--- output ---\n%s\n--- files ---\n",
                 command, broken, ending.exitCode, ending.state.openHandles, ending.output.c_str());
    for (const auto& [path, file] : ending.state.files)
        std::fprintf(stderr, "'%s' (%zu bytes)\n", path.c_str(), file.content.size());
    std::abort();
}

// The last CR LF terminated line of the output; empty when there is none.
std::string_view LastLine(std::string_view output)
{
    if (output.size() < 2 || output.substr(output.size() - 2) != "\r\n")
        return {};
    output.remove_suffix(2);
    const std::size_t start = output.rfind("\r\n");
    return start == std::string_view::npos ? output : output.substr(start + 2);
}

bool IsHex(std::string_view text)
{
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    return true;
}

bool IsStatusStop(std::string_view line)
{
    constexpr std::string_view Head = "Fehler ";
    constexpr std::string_view Tail = " aufgetreten - Programm wird beendet...";
    if (line.size() <= Head.size() + Tail.size() || line.substr(0, Head.size()) != Head ||
        line.substr(line.size() - Tail.size()) != Tail)
        return false;
    const std::string_view digits = line.substr(Head.size(), line.size() - Head.size() - Tail.size());
    if (digits.size() > 3 || (digits.size() > 1 && digits[0] == '0'))
        return false;
    unsigned value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value >= 1 && value <= 255;
}

bool IsBlockCrcStop(std::string_view text)
{
    // BlockCRCFehler! (is:XXXXXXXX should:YYYYYYYY) - Abbruch, Datei zerstoert!
    constexpr std::string_view Head = "BlockCRCFehler! (is:";
    constexpr std::string_view Middle = " should:";
    constexpr std::string_view Tail = ") - Abbruch, Datei zerstoert!";
    return text.size() == Head.size() + 8 + Middle.size() + 8 + Tail.size() &&
           text.substr(0, Head.size()) == Head && IsHex(text.substr(Head.size(), 8)) &&
           text.substr(Head.size() + 8, Middle.size()) == Middle &&
           IsHex(text.substr(Head.size() + 8 + Middle.size(), 8)) &&
           text.substr(text.size() - Tail.size()) == Tail;
}

// The stop message that ends the output, or empty. A block CRC stop found
// while a row is being written shares that row's line.
std::string_view StopMessage(std::string_view output)
{
    static constexpr std::string_view WholeLines[] = {
        "Lesefehler! - Disk/Datei zerstoert?",
        "Signatur der Datei besch\xE4"
        "digt - falsches Format?",
        "Header CRC ungueltig - Datei zerstoert?",
        "Dateiversion ungeeignet - bitte entsprechende Software suchen...",
        "Blockeinstiegspunkt kann nicht gefunden werden...",
        "ungueltige Blockgroesse...",
    };
    const std::string_view line = LastLine(output);
    for (std::string_view stop : WholeLines)
        if (line == stop)
            return line;
    if (IsStatusStop(line))
        return line;
    const std::size_t crcStop = line.rfind("BlockCRCFehler! ");
    if (crcStop != std::string_view::npos && IsBlockCrcStop(line.substr(crcStop)))
        return line.substr(crcStop);
    return {};
}

void CheckEnding(const char* command, const Ending& ending)
{
    const int code = ending.exitCode;
    if (code != 0 && code != 1 && code != 2)
        Fail(command, "exit code other than 0, 1 or 2", ending);
    if (code == 2 && StopMessage(ending.output).empty())
        Fail(command, "exit code 2 without a stop message as the last line", ending);
    if (code != 2 && !StopMessage(ending.output).empty())
        Fail(command, "stop message without exit code 2", ending);
}

std::string Hex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
    return text;
}

std::string RightAligned(std::size_t value, std::size_t width)
{
    std::string digits = std::to_string(value);
    return digits.size() < width ? std::string(width - digits.size(), ' ') + digits : digits;
}

void CheckListing(const Ending& listing)
{
    CheckEnding("-i", listing);
    if (!listing.state.files.empty())
        Fail("-i", "the listing created a file", listing);
    if (listing.state.openHandles != 0)
        Fail("-i", "a handle is still open", listing);
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
    if (extraction.exitCode == 2) {
        // Only a file being written when the stop came may still be open.
        if (extraction.state.openHandles > 1)
            Fail("-e", "more than one handle open after a stop", extraction);
        return;
    }
    if (extraction.state.openHandles != 0)
        Fail("-e", "a handle is still open after a normal end", extraction);
    if (LastLine(extraction.output) != "-done")
        Fail("-e", "a normal end without the closing line", extraction);
}

// Both commands walk the same decoded stream, so they stop alike, and every
// extracted file shows up in the listing with its size and CRC.
void CheckAgreement(const Ending& listing, const Ending& extraction)
{
    if ((listing.exitCode == 2) != (extraction.exitCode == 2) ||
        StopMessage(listing.output) != StopMessage(extraction.output)) {
        std::fprintf(stderr, "\n--- listing output ---\n%s\n", listing.output.c_str());
        Fail("-e", "the listing and the extraction end differently", extraction);
    }
    if (extraction.exitCode == 2)
        return;
    for (const auto& [path, file] : extraction.state.files) {
        TCRC crc;
        crc.UpdateRange(file.content.data(), file.content.size());
        const std::string name = path.substr(4);
        const std::string row = " " + RightAligned(file.content.size(), 8) + " " + Hex(crc.Value()) + "\r\n";
        if (listing.output.find(name) == std::string::npos || listing.output.find(row) == std::string::npos) {
            std::fprintf(stderr, "\n--- listing output ---\n%s\nmissing row for '%s': '%s'\n", listing.output.c_str(),
                         path.c_str(), row.c_str());
            Fail("-e", "an extracted file that the listing does not show", extraction);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Ending listing = Run({"-i", "a.twx"}, data, size);
    CheckListing(listing);
    const Ending extraction = Run({"-e", "a.twx", "out"}, data, size);
    CheckExtraction(extraction);
    CheckAgreement(listing, extraction);
    memory::Reset();
    return 0;
}
