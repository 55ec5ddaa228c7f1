// The front end: command line, screens, dispatch, the report of a stop and
// the closing pause. Only the front end ends the process.
#pragma once

#include <string>
#include <vector>

#include "ExitCodes.h"

class TArchiveReader;

// Runs the program on its arguments (without the program name) and returns
// the exit code: every ending, stops included, comes back here. With a kept
// reader (in-process runs over many archives) the archive is read with it,
// and its stages serve the next run; without one a reader is made per run.
int RunUnTWX(const std::vector<std::string>& arguments, TArchiveReader* kept = nullptr);

// After a failed allocation: one line, the pause; returns exit code 8.
int OutOfMemoryStop();
