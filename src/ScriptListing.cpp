// "-l": the listing for scripts. A header line, then one line per record of
// tab-separated fields, in UTF-8 with LF line ends: the full stored name
// (tab, line ends, backslash and other control bytes escaped), the stored
// date and time as YYYY-MM-DDTHH:MM:SS (empty when not a valid one), the
// size, the CRC-32 of the content and the attribute byte in hexadecimal.
#include <cstdio>

#include "ArchiveReader.h"
#include "Commands.h"
#include "common/CodePage.h"
#include "common/DosDateTime.h"

namespace {

constexpr char HeaderLine[] = "Name\tDatum\tGroesse\tCRC32\tAttribute\n";

std::string Hex(unsigned value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

std::string IsoDateTime(std::uint32_t stamp)
{
    const std::optional<DosDateTime> t = DecodeDosDateTime(stamp);
    if (!t)
        return {};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t->year, t->month, t->day, t->hour, t->minute,
                  t->second);
    return text;
}

}  // namespace

std::string ScriptName(std::string_view storedName)
{
    std::string field;
    for (const char c : storedName) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\t': field += "\\t"; break;
        case '\n': field += "\\n"; break;
        case '\r': field += "\\r"; break;
        case '\\': field += "\\\\"; break;
        default:
            if (byte < 0x20 || byte == 0x7F || IsUndefinedIn1252(byte))
                field += "\\x" + Hex(byte, 2);
            else
                field += Windows1252ToUtf8(std::string_view(&c, 1));
        }
    }
    return field;
}

void ListForScripts(TArchiveReader& reader)
{
    platform::WriteData(HeaderLine);
    TCRC& fileCRC = *reader.FileCRC;
    reader.WalkDirectory([&reader, &fileCRC](const DirectoryEntry& entry) {
        fileCRC.Reset();
        reader.ConsumeContent(entry.Size, [&fileCRC](const std::uint8_t* bytes, std::uint32_t count) {
            fileCRC.UpdateRange(bytes, count);
        });
        const std::string line = ScriptName(entry.Name) + '\t' + IsoDateTime(entry.DateTime) + '\t' +
                                 std::to_string(entry.Size) + '\t' + CrcToHex(fileCRC.Value()) + '\t' +
                                 Hex(entry.Attributes & 0xFFu, 2) + '\n';
        platform::WriteData(line);
    });
}
