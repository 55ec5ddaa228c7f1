// Runs the program under test as a child process and captures what it does.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct ChildRequest {
    std::vector<std::string> arguments;  // after the program name; empty entries are passed as they are
    std::string input;                   // whole standard input; end of input follows it (pipes only)
    // Standard input, output and error on one pseudo-terminal instead of
    // pipes; the output arrives byte for byte, the input is not echoed.
    bool terminal = false;
    // With a terminal: standard input is the terminal, or else the null device.
    bool terminalInput = true;
    // With a terminal: each time this prompt is shown, Enter is pressed
    // (a carriage return, as a terminal sends it) after answerDelay.
    std::string prompt;
    std::chrono::milliseconds answerDelay{600};
    std::filesystem::path workingDirectory;
    // Set on top of the inherited environment, replacing variables of the same name.
    std::vector<std::pair<std::string, std::string>> environment;
    // Descriptors among 0 to 2 that the child starts with closed.
    std::vector<int> closedDescriptors;
    // Standard output is a pipe whose reader has gone, as after `| head -1`.
    bool outputReaderGone = false;
    // Standard output goes to this file (e.g. /dev/full) instead of a pipe.
    std::string outputFile;
    // Limit of the child's address space in bytes; 0 for none.
    std::uint64_t addressSpaceLimit = 0;
    // Limit of the size of every file the child writes in bytes; 0 for none.
    std::uint64_t fileSizeLimit = 0;
    // Asked about every 20 ms while the child runs; once it yields true the
    // child gets interruptSignal (one time).
    std::function<bool()> interruptWhen;
    int interruptSignal = SIGINT;
    // The child may run on one processor only (its affinity), as under taskset -c.
    bool oneProcessor = false;
};

struct ChildResult {
    std::string output;  // standard output, byte for byte (with a terminal: and standard error)
    std::string errors;  // standard error
    int exitCode = -1;   // -1 when the child ended through a signal
    int signal = 0;      // the signal that ended it, else 0
    std::chrono::milliseconds elapsed{0};
    std::chrono::milliseconds sinceLastOutput{0};  // from the last output to the end
    int promptsAnswered = 0;
    // Nothing more was shown between any prompt and its Enter.
    bool waitedAtEveryPrompt = true;
};

// The executable under test: UNTWX_EXE when set, else the native build.
std::string ProgramUnderTest();
// The runner placed in front of the executable: UNTWX_RUNNER, else Wine for a
// Windows executable, else none (empty).
std::string ProgramRunner();
// True when the Win32 build runs under the Windows emulation layer.
bool RunsUnderWine();

// Starts the program without a shell and waits for it to end. A child that
// runs longer than the limit is killed and reported with exit code -1.
ChildResult RunChild(const ChildRequest& request,
                     std::chrono::milliseconds limit = std::chrono::milliseconds(120000));
