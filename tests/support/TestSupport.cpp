#include "TestSupport.h"

#include <array>
#include <cstdio>
#include <random>

namespace {

const std::array<std::uint32_t, 256>& ReferenceTable()
{
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> entries{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c >> 1) ^ ((c & 1u) ? 0xEDB88320u : 0u);
            entries[n] = c;
        }
        return entries;
    }();
    return table;
}

bool IsUpperHex(std::string_view text)
{
    return text.find_first_not_of("0123456789ABCDEF") == std::string_view::npos;
}

// A line that the pattern of a stop's line, its "%s" each standing for
// eight upper-case hexadecimal digits, gives.
bool MatchesStopLine(std::string_view line, std::string_view pattern)
{
    for (std::size_t at; (at = pattern.find("%s")) != std::string_view::npos;) {
        if (line.substr(0, at) != pattern.substr(0, at) || line.size() < at + 8 || !IsUpperHex(line.substr(at, 8)))
            return false;
        line.remove_prefix(at + 8);
        pattern.remove_prefix(at + 2);
    }
    return line == pattern;
}

}  // namespace

std::uint32_t ReferenceCrc32(const Bytes& data)
{
    const auto& table = ReferenceTable();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint8_t byte : data)
        crc = table[(crc ^ byte) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

std::uint32_t ReferenceCrc32OfRun(std::uint8_t value, std::uint64_t count)
{
    const auto& table = ReferenceTable();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint64_t i = 0; i < count; ++i)
        crc = table[(crc ^ value) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

std::string Hex8(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
    return text;
}

Bytes Text(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

Bytes RandomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 generator(seed);
    Bytes bytes(count);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(generator());
    return bytes;
}

WriterRecord Record(std::string name, Bytes content, std::uint32_t attributes, std::uint32_t dateTime)
{
    WriterRecord record;
    record.storedName = std::move(name);
    record.content = std::move(content);
    record.attributes = attributes;
    record.dateTime = dateTime;
    return record;
}

std::string CrLfLines(std::initializer_list<std::string_view> lines)
{
    std::string text;
    for (std::string_view line : lines)
        text.append(line).append("\r\n");
    return text;
}

std::string CrLfLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text.append(line).append("\r\n");
    return text;
}

std::string Padded(std::string_view text, std::size_t width)
{
    std::string result(text);
    if (result.size() < width)
        result.append(width - result.size(), ' ');
    return result;
}

std::string RightAligned(std::uint64_t value, std::size_t width)
{
    std::string digits = std::to_string(value);
    if (digits.size() < width)
        digits.insert(0, width - digits.size(), ' ');
    return digits;
}

std::string_view LastLine(std::string_view output)
{
    if (!output.ends_with("\r\n"))
        return {};
    output.remove_suffix(2);
    const std::size_t start = output.rfind("\r\n");
    return start == std::string_view::npos ? output : output.substr(start + 2);
}

StopLine FindStop(std::string_view output)
{
    const std::string_view line = LastLine(output);
    for (const TStopText& stop : StopTexts) {
        if (MatchesStopLine(line, stop.Line))
            return {true, stop.Kind, line};
        // The block CRC stop can come while a row is being written.
        const std::string_view head = stop.Line.substr(0, stop.Line.find("%s"));
        const std::size_t within = line.rfind(head);
        if (stop.Kind == StopKind::BlockCrc && within != std::string_view::npos &&
            MatchesStopLine(line.substr(within), stop.Line))
            return {true, stop.Kind, line.substr(within)};
    }
    return {};
}
