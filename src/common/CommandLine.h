// Splits a Win32 command line: blanks (space and control characters)
// separate arguments; double quotes group blanks and are dropped; a quote
// pair standing where an argument would begin is skipped, so no argument is
// empty; a backslash is an ordinary character. The program name counts as
// the first argument.
#pragma once

#include <string>
#include <string_view>
#include <vector>

std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// POSIX-style argument vectors: argv[1..] with empty arguments left out, as
// an empty quoted argument is on Win32.
std::vector<std::string> NonEmptyArguments(int argc, char** argv);
