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
    // An 8-bit terminal takes the bytes themselves; otherwise native text is
    // UTF-8, where C1 characters are the pairs 0xC2 0x80 to 0xC2 0x9F.
    const bool eightBit = platform::ConsoleIsEightBit();
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0u;
        if (!eightBit && byte == 0xC2 && IsControlCharacter(next) && next >= 0x80) {
            shown += '?';
            ++i;
        } else {
            shown += IsControlCharacter(byte) && (byte < 0x80 || eightBit) ? '?' : text[i];
        }
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
