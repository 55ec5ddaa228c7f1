#include "ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string Variable(const char* name)
{
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

// A bare command name is looked up in PATH here, so that the child needs no search.
std::string ResolveCommand(const std::string& command)
{
    if (command.find('/') != std::string::npos)
        return command;
    const std::string path = Variable("PATH");
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find(':', start), path.size());
        const std::string folder = end > start ? path.substr(start, end - start) : std::string(".");
        const std::string candidate = folder + "/" + command;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    throw std::runtime_error("runner not found in PATH: " + command);
}

std::vector<std::string> ChildEnvironment(const std::vector<std::pair<std::string, std::string>>& overrides)
{
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const std::string name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const auto& [key, value] : overrides)
            replaced = replaced || key == name;
        if (!replaced)
            result.push_back(text);
    }
    for (const auto& [key, value] : overrides)
        result.push_back(key + "=" + value);
    return result;
}

std::vector<char*> Pointers(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (auto& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe()
    {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe2 failed");
        read = ends[0];
        write = ends[1];
    }
};

// A pseudo-terminal whose device side passes the program's output bytes
// unchanged and does not echo its input.
struct Terminal {
    int controller = -1;
    int device = -1;
    Terminal()
    {
        controller = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (controller < 0 || ::grantpt(controller) != 0 || ::unlockpt(controller) != 0)
            throw std::runtime_error("no pseudo-terminal");
        device = ::open(::ptsname(controller), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios settings {};
        if (device < 0 || ::tcgetattr(device, &settings) != 0)
            throw std::runtime_error("pseudo-terminal device cannot be opened");
        settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
        const winsize size{50, 160, 0, 0};
        if (::tcsetattr(device, TCSANOW, &settings) != 0 || ::ioctl(device, TIOCSWINSZ, &size) != 0)
            throw std::runtime_error("pseudo-terminal cannot be set up");
    }
};

void CloseIfOpen(int& descriptor)
{
    if (descriptor >= 0) {
        ::close(descriptor);
        descriptor = -1;
    }
}

void SetNonBlocking(int descriptor)
{
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) | O_NONBLOCK);
}

// Reads what is available; closes the descriptor at end of input.
void ReadAvailable(int& descriptor, std::string& sink)
{
    char buffer[65536];
    while (descriptor >= 0) {
        const ssize_t got = ::read(descriptor, buffer, sizeof buffer);
        if (got > 0) {
            sink.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            CloseIfOpen(descriptor);
        } else if (errno != EINTR) {
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                CloseIfOpen(descriptor);
            return;
        }
    }
}

int ExitCodeOf(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::string ProgramUnderTest()
{
    const std::string configured = Variable("UNTWX_EXE");
    return configured.empty() ? std::string(UNTWX_NATIVE_EXE) : configured;
}

// A Windows executable on this system cannot start without Wine, so it is
// the runner when none is named.
std::string ProgramRunner()
{
    const std::string configured = Variable("UNTWX_RUNNER");
    if (!configured.empty())
        return configured;
    const std::string program = ProgramUnderTest();
    const bool windowsExecutable = program.ends_with(".exe") || program.ends_with(".EXE");
    return windowsExecutable ? std::string("wine") : std::string();
}

bool RunsUnderWine()
{
    return ProgramRunner().find("wine") != std::string::npos;
}

namespace {

// Program, arguments and environment of a child, ready for execve.
struct Command {
    std::vector<std::string> argumentTexts;
    std::vector<std::string> environmentTexts;
    std::vector<char*> argv;
    std::vector<char*> envp;
    std::string directory;

    explicit Command(const ChildRequest& request)
    {
        const std::string runner = ProgramRunner();
        if (!runner.empty())
            argumentTexts.push_back(ResolveCommand(runner));
        argumentTexts.push_back(ProgramUnderTest());
        for (const auto& argument : request.arguments)
            argumentTexts.push_back(argument);
        std::vector<std::pair<std::string, std::string>> settings = request.environment;
        if (RunsUnderWine() && Variable("WINEDEBUG").empty())
            settings.insert(settings.begin(), {"WINEDEBUG", "-all"});
        environmentTexts = ChildEnvironment(settings);
        argv = Pointers(argumentTexts);
        envp = Pointers(environmentTexts);
        directory = request.workingDirectory.string();
    }
};

// True once the child has ended; one that outlives the limit is killed and
// gets status -1.
bool Ended(pid_t child, int& status, Clock::time_point start, std::chrono::milliseconds limit)
{
    if (::waitpid(child, &status, WNOHANG) == child)
        return true;
    if (Clock::now() - start <= limit)
        return false;
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    status = -1;
    return true;
}

std::chrono::milliseconds Since(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// The person at the terminal: reads each prompt for a while, then presses
// Enter, and notes whether anything more was shown meanwhile.
class PromptAnswerer {
public:
    explicit PromptAnswerer(const ChildRequest& request) : request_(request) {}

    void Look(const std::string& shown, int terminal, ChildResult& result)
    {
        if (request_.prompt.empty() || terminal < 0)
            return;
        const std::size_t found = shown.find(request_.prompt, searchFrom_);
        if (!reading_ && found != std::string::npos) {
            reading_ = true;
            searchFrom_ = found + request_.prompt.size();
            shownAt_ = Clock::now();
            settledSize_ = std::string::npos;
        }
        if (!reading_)
            return;
        // Half the delay lets a console host finish drawing the prompt.
        const auto reading = Clock::now() - shownAt_;
        if (settledSize_ == std::string::npos && reading >= request_.answerDelay / 2)
            settledSize_ = shown.size();
        if (reading >= request_.answerDelay) {
            if (shown.size() != settledSize_)
                result.waitedAtEveryPrompt = false;
            if (::write(terminal, "\r", 1) == 1)
                ++result.promptsAnswered;
            reading_ = false;
        }
    }

private:
    const ChildRequest& request_;
    bool reading_ = false;
    std::size_t searchFrom_ = 0;
    Clock::time_point shownAt_;
    std::size_t settledSize_ = std::string::npos;
};

}  // namespace

ChildResult RunChild(const ChildRequest& request, std::chrono::milliseconds limit)
{
    const Command command(request);
    // The first processor the tests may use, alone.
    cpu_set_t oneProcessor;
    CPU_ZERO(&oneProcessor);
    if (request.oneProcessor) {
        cpu_set_t allowed;
        if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0)
            throw std::runtime_error("sched_getaffinity failed");
        int first = 0;
        while (!CPU_ISSET(first, &allowed))
            ++first;
        CPU_SET(first, &oneProcessor);
    }
    Pipe input, output, errors;
    std::optional<Terminal> terminal;
    if (request.terminal)
        terminal.emplace();
    if (request.outputReaderGone)
        CloseIfOpen(output.read);
    const Clock::time_point start = Clock::now();
    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        // Only async-signal-safe calls from here on.
        if (terminal) {
            const int typed = request.terminalInput ? terminal->device : ::open("/dev/null", O_RDONLY);
            if (::setsid() < 0 || ::ioctl(terminal->device, TIOCSCTTY, 0) != 0 || typed < 0 ||
                ::dup2(typed, 0) < 0 || ::dup2(terminal->device, 1) < 0 || ::dup2(terminal->device, 2) < 0)
                ::_exit(126);
        } else if (::dup2(input.read, 0) < 0 || ::dup2(output.write, 1) < 0 || ::dup2(errors.write, 2) < 0) {
            ::_exit(126);
        }
        if (!request.outputFile.empty()) {
            const int file = ::open(request.outputFile.c_str(), O_WRONLY);
            if (file < 0 || ::dup2(file, 1) < 0)
                ::_exit(126);
        }
        for (const int descriptor : request.closedDescriptors)
            ::close(descriptor);
        if (request.addressSpaceLimit != 0) {
            const rlimit space{request.addressSpaceLimit, request.addressSpaceLimit};
            if (::setrlimit(RLIMIT_AS, &space) != 0)
                ::_exit(126);
        }
        if (request.fileSizeLimit != 0) {
            const rlimit size{request.fileSizeLimit, request.fileSizeLimit};
            if (::setrlimit(RLIMIT_FSIZE, &size) != 0)
                ::_exit(126);
        }
        if (!command.directory.empty() && ::chdir(command.directory.c_str()) != 0)
            ::_exit(126);
        if (request.oneProcessor && ::sched_setaffinity(0, sizeof oneProcessor, &oneProcessor) != 0)
            ::_exit(126);
        ::execve(command.argv[0], command.argv.data(), command.envp.data());
        ::_exit(127);
    }

    if (terminal) {
        // Input and output both go through the terminal; standard error is its output too.
        CloseIfOpen(terminal->device);
        for (int* end : {&input.read, &input.write, &output.read, &output.write, &errors.read, &errors.write})
            CloseIfOpen(*end);
        output.read = terminal->controller;
        input.write = ::dup(terminal->controller);
    }
    CloseIfOpen(input.read);
    CloseIfOpen(output.write);
    CloseIfOpen(errors.write);
    ::signal(SIGPIPE, SIG_IGN);
    SetNonBlocking(input.write);
    if (output.read >= 0)
        SetNonBlocking(output.read);
    SetNonBlocking(errors.read);

    ChildResult result;
    PromptAnswerer person(request);
    std::size_t inputSent = 0;
    if (request.input.empty())
        CloseIfOpen(input.write);
    bool exited = false;
    bool interrupted = false;
    int status = 0;
    Clock::time_point lastOutput = start;
    // Helpers the child starts (a Wine server, say) may keep the output pipes
    // open after the child has gone, so the child's exit ends the capture.
    while (!exited) {
        pollfd watched[3];
        nfds_t count = 0;
        if (output.read >= 0)
            watched[count++] = {output.read, POLLIN, 0};
        if (errors.read >= 0)
            watched[count++] = {errors.read, POLLIN, 0};
        if (input.write >= 0)
            watched[count++] = {input.write, POLLOUT, 0};
        ::poll(watched, count, 20);

        const std::size_t shown = result.output.size();
        ReadAvailable(output.read, result.output);
        if (result.output.size() != shown)
            lastOutput = Clock::now();
        ReadAvailable(errors.read, result.errors);
        if (terminal)
            person.Look(result.output, output.read, result);
        while (input.write >= 0 && inputSent < request.input.size()) {
            const ssize_t sent =
                ::write(input.write, request.input.data() + inputSent, request.input.size() - inputSent);
            if (sent > 0)
                inputSent += static_cast<std::size_t>(sent);
            else if (sent < 0 && errno == EINTR)
                continue;
            else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            else
                CloseIfOpen(input.write);
        }
        if (input.write >= 0 && inputSent == request.input.size())
            CloseIfOpen(input.write);

        if (!interrupted && request.interruptWhen && request.interruptWhen()) {
            ::kill(child, request.interruptSignal);
            interrupted = true;
        }
        exited = Ended(child, status, start, limit);
    }
    result.elapsed = Since(start);
    result.sinceLastOutput = Since(lastOutput);
    ReadAvailable(output.read, result.output);
    // A console host of the child may still be passing on its last text.
    for (int quiet = 0; terminal && output.read >= 0 && quiet < 3;) {
        pollfd watched{output.read, POLLIN, 0};
        quiet = ::poll(&watched, 1, 100) > 0 ? 0 : quiet + 1;
        ReadAvailable(output.read, result.output);
    }
    ReadAvailable(errors.read, result.errors);
    CloseIfOpen(input.write);
    CloseIfOpen(output.read);
    CloseIfOpen(errors.read);
    result.exitCode = status == -1 ? -1 : ExitCodeOf(status);
    result.signal = status != -1 && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return result;
}
