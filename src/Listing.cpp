// "-i": one row per archived file with date, size and the CRC-32 of its content.
#include <optional>
#include <string>

#include "ArchiveReader.h"
#include "Commands.h"
#include "Console.h"
#include "ConsoleLayout.h"
#include "common/DosDateTime.h"

namespace {

// Shown instead of a stored date and time that is not a valid one.
constexpr char InvalidDateMarker[] = "--.--.---- --:--:--";

std::string DateTimeText(std::uint32_t dateTime)
{
    const std::optional<DosDateTime> t = DecodeDosDateTime(dateTime);
    if (!t)
        return InvalidDateMarker;
    std::string text = platform::FormatDate(t->year, t->month, t->day);
    if (t->hour != 0 || t->minute != 0 || t->second != 0)
        text.append(" ").append(platform::FormatTime(t->hour, t->minute, t->second));
    return text;
}

std::string RightAligned(std::uint32_t value, std::size_t width)
{
    std::string digits = std::to_string(value);
    if (digits.size() < width)
        digits.insert(0, width - digits.size(), ' ');
    return digits;
}

// A column of a row: a blank, then the text.
std::string Field(const std::string& text)
{
    std::string field(1, ' ');
    return field.append(text);
}

}  // namespace

void ListArchive(TArchiveReader& reader)
{
    std::uint8_t RowCount = layout::ListingHeadingLines;
    PrintLine("Blockgroesse: " + std::to_string(reader.BlockSize) + " Bytes");
    PrintLine();
    PrintLine(PadRight("Dateiname", layout::NameColumn) + " Datum     " + " Zeit    " + "  Groesse" + "   CRC32 ");
    PrintLine();

    TCRC& fileCRC = *reader.FileCRC;
    reader.WalkDirectory([&reader, &fileCRC, &RowCount](const DirectoryEntry& entry) {
        Print(PadRight(ShownName(DisplayName(entry.Name)), layout::NameColumn));
        ++RowCount;
        Print(Field(DateTimeText(entry.DateTime)));
        Print(Field(RightAligned(entry.Size, 8)));
        fileCRC.Reset();
        reader.ConsumeContent(entry.Size, [&fileCRC](const std::uint8_t* bytes, std::uint32_t count) {
            fileCRC.UpdateRange(bytes, count);
        });
        PrintLine(Field(CrcToHex(fileCRC.Value())));
        if (RowCount >= layout::ScreenLines) {
            // A page ends in a prompt only for someone who can answer it.
            if (CanWaitForEnter()) {
                PrintLine();
                WaitForEnter();
            }
            RowCount = 0;
        }
    });
}
