#include "Console.h"

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

void WaitForEnter()
{
    Print("press enter to continue...");
    platform::ReadInputLine();
}

std::string PadRight(std::string_view text, std::uint8_t width)
{
    std::string result(text);
    if (result.size() < width)
        result.append(width - result.size(), ' ');
    return result;
}
