// The process exit codes of every path.
#pragma once

namespace ExitCode {
inline constexpr int Success = 0;
inline constexpr int SomeFilesFailed = 1;   // extraction finished, a record failed
inline constexpr int Stopped = 2;           // every fatal stop
inline constexpr int CommandLineError = 7;  // invalid command word, missing parameter
inline constexpr int OutOfMemory = 8;
}  // namespace ExitCode
