// The front end: command line, screens, dispatch, closing pause.
#pragma once

#include <string>
#include <vector>

namespace ExitCode {
inline constexpr int Success = 0;
inline constexpr int SomeFilesFailed = 1;   // extraction finished, a record failed
inline constexpr int Stopped = 2;           // every fatal stop
inline constexpr int CommandLineError = 7;  // invalid command word, missing parameter
inline constexpr int OutOfMemory = 8;
}  // namespace ExitCode

// Folder the extraction writes to, ending with the platform's separator.
extern std::string TargetFolder;

// Runs the program on its arguments (without the program name) and returns
// the exit code; a stop ends the process through platform::EndProcess instead.
int RunUnTWX(const std::vector<std::string>& arguments);
