// "-i": one row per archived file with date, size and the CRC-32 of its content.
#include <string>

#include "ArchiveReader.h"
#include "Console.h"

namespace {

// Shown instead of a stored date and time that is not a valid one.
constexpr char InvalidDateMarker[] = "--.--.---- --:--:--";

bool IsLeapYear(int year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

std::string DateTimeText(std::uint32_t dateTime)
{
    const int year = static_cast<int>(dateTime >> 25) + 1980;
    const int month = static_cast<int>(dateTime >> 21) & 15;
    const int day = static_cast<int>(dateTime >> 16) & 31;
    const int hour = static_cast<int>(dateTime >> 11) & 31;
    const int minute = static_cast<int>(dateTime >> 5) & 63;
    const int secondField = static_cast<int>(dateTime) & 31;
    static constexpr int DaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return InvalidDateMarker;
    const int monthLength = DaysIn[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
    if (day < 1 || day > monthLength || hour > 23 || minute > 59 || secondField > 29)
        return InvalidDateMarker;

    std::string text = platform::FormatDate(year, month, day);
    if (hour != 0 || minute != 0 || secondField != 0)
        text.append(" ").append(platform::FormatTime(hour, minute, 2 * secondField));
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

void ListArchive()
{
    std::uint8_t RowCount = 4;
    PrintLine("Blockgroesse: " + std::to_string(BlockSize) + " Bytes");
    PrintLine();
    PrintLine(PadRight("Dateiname", 41) + " Datum     " + " Zeit    " + "  Groesse" + "   CRC32 ");
    PrintLine();

    WalkDirectory([&RowCount](const DirectoryEntry& entry) {
        Print(PadRight(DisplayName(entry.Name), 41));
        ++RowCount;
        Print(Field(DateTimeText(entry.DateTime)));
        Print(Field(RightAligned(entry.Size, 8)));
        FileCRC->Reset();
        ConsumeContent(entry.Size, [](const std::uint8_t* bytes, std::uint32_t count) {
            FileCRC->UpdateRange(bytes, count);
        });
        PrintLine(Field(CrcToHex(FileCRC->Value())));
        if (RowCount >= 23) {
            PrintLine();
            WaitForEnter();
            RowCount = 0;
        }
    });
}
