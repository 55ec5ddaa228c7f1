// Console output of the program: text in the archive code page, lines ending
// in CR LF, everything written at once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

void Print(std::string_view text);
void PrintLine(std::string_view text = {});
// Text as the system gave it (arguments, paths).
void PrintNative(std::string_view text);
// Prints the prompt, then waits for one line of standard input.
void WaitForEnter();

// The text followed by blanks up to width; a longer text stays whole.
std::string PadRight(std::string_view text, std::uint8_t width);
