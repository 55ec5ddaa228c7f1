// The front end: command line, screens, dispatch, closing pause.
#pragma once

#include <string>
#include <vector>

#include "ExitCodes.h"

// Runs the program on its arguments (without the program name) and returns
// the exit code; a stop ends the process through platform::EndProcess instead.
int RunUnTWX(const std::vector<std::string>& arguments);

// Ends the process after a failed allocation: one line, the pause, exit code 8.
[[noreturn]] void OutOfMemoryStop();
