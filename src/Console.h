// Console output of the program: text in the archive code page, lines ending
// in CR LF, everything written at once. Waits and pauses serve a person at a
// console only; a script or a pipe gets neither.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

void Print(std::string_view text);
void PrintLine(std::string_view text = {});
// Text as the system gave it (arguments, paths).
void PrintNative(std::string_view text);

// True when someone can answer a prompt: standard output and standard input
// are both consoles.
bool CanWaitForEnter();
// Prints the prompt, then waits for one line of standard input; does neither
// when no one can answer.
void WaitForEnter();
// The closing pause that keeps the last message readable in a console window
// about to close; none when standard output is not a console.
void ClosingPause();

// A name from an archive as it may be shown: every byte the console would
// take for a control character becomes '?', one character for one.
std::string ShownName(std::string_view name);
// Native text (a typed archive or folder name) as it may be shown, by the
// same rule: a control character becomes '?', one for one.
std::string ShownNative(std::string_view text);

// The text followed by blanks up to width; a longer text stays whole.
std::string PadRight(std::string_view text, std::uint8_t width);

// One line on standard error: a stored name (archive text), shown as names
// are, or a typed name (native text), then why it failed (native text).
void ReportRecordFailure(std::string_view storedName, std::string_view reason);
void ReportFailure(std::string_view nativeName, std::string_view reason);
