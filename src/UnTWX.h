// The front end: command line, screens, dispatch, the report of a stop and
// the closing pause. Only the front end ends the process.
#pragma once

#include <string>
#include <vector>

#include "ExitCodes.h"

// Runs the program on its arguments (without the program name) and returns
// the exit code: every ending, stops included, comes back here.
int RunUnTWX(const std::vector<std::string>& arguments);

// After a failed allocation: one line, the pause; returns exit code 8.
int OutOfMemoryStop();
