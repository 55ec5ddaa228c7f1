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

std::string ShownName(std::string_view name)
{
    const bool eightBit = platform::ConsoleIsEightBit();
    std::string shown(name);
    for (char& c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        const bool high = byte >= 0x80 && byte <= 0x9F && (eightBit || IsUndefinedIn1252(byte));
        if (byte < 0x20 || byte == 0x7F || high)
            c = '?';
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
