#include "Console.h"

#include "ConsoleLayout.h"
#include "common/CodePage.h"
#include "platform/Platform.h"

void Print(std::string_view text)
{
    platform::WriteText(text);
}

void PrintLine(std::string_view text)
{
    std::string line;
    line.reserve(text.size() + 2);
    line.append(text).append("\r\n");
    platform::WriteText(line);
}

void PrintNative(std::string_view text)
{
    platform::WriteNative(text);
}

bool CanWaitForEnter()
{
    return platform::OutputIsConsole() && platform::InputIsConsole();
}

void WaitForEnter()
{
    if (!CanWaitForEnter())
        return;
    Print("press enter to continue...");
    platform::ReadInputLine();
}

void ClosingPause()
{
    if (platform::OutputIsConsole())
        platform::Pause(layout::ClosingPauseMilliseconds);
}

namespace {

// The control characters a console acts on: C0, DEL and C1 (0x80 to 0x9F).
bool IsControlCharacter(std::uint32_t character)
{
    return character < 0x20 || (character >= 0x7F && character <= 0x9F);
}

// Bytes of the well-formed UTF-8 character text starts with; 0 for none.
std::size_t Utf8CharacterLength(std::string_view text)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (length == 0 || text.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

}  // namespace

std::string ShownName(std::string_view name)
{
    // Unconverted bytes reach an 8-bit terminal as they are; converted, a
    // byte Windows-1252 leaves undefined becomes the C1 character of its value.
    const bool eightBit = platform::ConsoleIsEightBit();
    std::string shown(name);
    for (char& c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsControlCharacter(byte) && (byte < 0x80 || eightBit || IsUndefinedIn1252(byte)))
            c = '?';
    }
    return shown;
}

std::string ShownNative(std::string_view text)
{
    // A whole UTF-8 character stays as typed unless it is a C1 control; any
    // other byte is taken for itself, as an 8-bit terminal would take it.
    const bool eightBit = platform::ConsoleIsEightBit();
    std::string shown;
    shown.reserve(text.size());
    while (!text.empty()) {
        const std::size_t length = Utf8CharacterLength(text);
        const auto byte = static_cast<unsigned char>(text[0]);
        if (length == 2 && byte == 0xC2 && IsControlCharacter(static_cast<unsigned char>(text[1])))
            shown += '?';
        else if (length > 0)
            shown.append(text.substr(0, length));
        else
            shown += IsControlCharacter(byte) && (byte < 0x80 || eightBit) ? '?' : text[0];
        text.remove_prefix(length > 0 ? length : 1);
    }
    return shown;
}

std::string PadRight(std::string_view text, std::uint8_t width)
{
    std::string result(text);
    if (result.size() < width)
        result.append(width - result.size(), ' ');
    return result;
}

void ReportRecordFailure(std::string_view storedName, std::string_view reason)
{
    platform::WriteText(ShownName(storedName), platform::Stream::Error);
    platform::WriteNative(": " + std::string(reason) + "\r\n", platform::Stream::Error);
}

void ReportFailure(std::string_view nativeName, std::string_view reason)
{
    platform::WriteNative(ShownNative(nativeName) + ": " + std::string(reason) + "\r\n", platform::Stream::Error);
}
