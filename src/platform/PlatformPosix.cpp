#include "platform/Platform.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/CodePage.h"
#include "common/CommandLine.h"
#include "common/DatePicture.h"
#include "common/DosDateTime.h"

namespace platform {
namespace {

struct Regional {
    bool started = false;
    locale_t locale = nullptr;
    bool utf8 = false;
    std::string dateFormat = "%m/%d/%Y";
    std::string timeFormat = "%H:%M:%S";
};

Regional& Settings() {
    static Regional settings;
    return settings;
}

const Regional& StartedSettings() {
    if (!Settings().started) {
        StartUp();
    }
    return Settings();
}

// Process-wide, as standard output is: set once a write to it failed for a
// reason other than its reader going away.
bool OutputFailure = false;

void WriteAll(int descriptor, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(descriptor, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (descriptor == 1 && (written == 0 || errno != EPIPE)) {
                OutputFailure = true;
            }
            return;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

int StreamDescriptor(Stream stream) {
    return stream == Stream::Error ? 2 : 1;
}

int Descriptor(FileHandle file) {
    if (file < 0 || file > INT_MAX) {
        return -1;
    }
    return static_cast<int>(file);
}

std::string Strftime(const std::string& format, const std::tm& time) {
    const Regional& settings = StartedSettings();
    char buffer[256];
    const std::size_t length = strftime_l(buffer, sizeof buffer, format.c_str(), &time, settings.locale);
    std::string text(buffer, length);
    return settings.utf8 ? Utf8To1252(text) : text;
}

// Opens each of the descriptors 0 to 2 that is closed on /dev/null; open
// takes the lowest free descriptor, so they are filled in order.
void KeepStandardDescriptors() {
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (::fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != descriptor) {
            ::dup2(opened, descriptor);
            ::close(opened);
        }
    }
}

// A write to a pipe without reader then fails with EPIPE, which the console
// output ignores, instead of ending the process.
void IgnoreBrokenPipe() {
    std::signal(SIGPIPE, SIG_IGN);
}

// The temporary file being written, for the interrupt handler. Set and
// cleared only while the interrupts are blocked, so the handler never sees
// it half changed.
std::string PendingPath;
int PendingDescriptor = -1;
volatile std::sig_atomic_t PendingSet = 0;

constexpr int InterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t InterruptSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : InterruptSignals) {
        sigaddset(&set, signal);
    }
    return set;
}

// Holds the interrupts back while the pending file changes hands.
class InterruptsBlocked {
public:
    InterruptsBlocked() {
        const sigset_t set = InterruptSet();
        sigprocmask(SIG_BLOCK, &set, &saved_);
    }
    ~InterruptsBlocked() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
    InterruptsBlocked(const InterruptsBlocked&) = delete;
    InterruptsBlocked& operator=(const InterruptsBlocked&) = delete;

private:
    sigset_t saved_;
};

// Removes the pending file, then ends the process through the signal's
// default action (the handler was reset when it was called).
void RemovePendingFileAndEnd(int signal) {
    if (PendingSet != 0) {
        ::unlink(PendingPath.c_str());
    }
    ::raise(signal);
}

// Once, before the first temporary file: an interrupt or termination request
// removes it. Signals the program was started to ignore stay ignored.
void InstallInterruptHandlers() {
    static bool installed = false;
    if (installed) {
        return;
    }
    installed = true;
    for (const int signal : InterruptSignals) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = RemovePendingFileAndEnd;
        action.sa_mask = InterruptSet();
        action.sa_flags = SA_RESETHAND;
        sigaction(signal, &action, nullptr);
    }
}

// A name unlikely to exist; creation is exclusive anyway.
std::string TemporaryName(const std::string& folder) {
    static unsigned serial = 0;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    char name[64];
    std::snprintf(name, sizeof name, ".untwx-%ld-%08lx%u.tmp", static_cast<long>(::getpid()),
                  static_cast<unsigned long>(now.tv_nsec) & 0xFFFFFFFFul, ++serial);
    return folder + name;
}

bool IsReadOnlyFile(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
           (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// Ends the pending state; the caller holds the interrupts back.
void ForgetPending() {
    PendingSet = 0;
    PendingDescriptor = -1;
}

}  // namespace

void StartUp() {
    Regional& settings = Settings();
    if (settings.started) {
        return;
    }
    settings.started = true;
    KeepStandardDescriptors();
    IgnoreBrokenPipe();
    settings.locale = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
    if (settings.locale == static_cast<locale_t>(0)) {
        settings.locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    }
    if (settings.locale == static_cast<locale_t>(0)) {
        return;
    }
    settings.utf8 = std::string_view(nl_langinfo_l(CODESET, settings.locale)) == "UTF-8";
    const std::string_view dateFormat = nl_langinfo_l(D_FMT, settings.locale);
    const std::string_view timeFormat = nl_langinfo_l(T_FMT, settings.locale);
    if (!dateFormat.empty()) {
        settings.dateFormat = FourDigitYearFormat(dateFormat);
    }
    if (!timeFormat.empty()) {
        settings.timeFormat = timeFormat;
    }
}

std::vector<std::string> Arguments(int argc, char** argv) {
    return NonEmptyArguments(argc, argv);
}

void WriteText(std::string_view text, Stream stream) {
    if (StartedSettings().utf8) {
        const std::string converted = Windows1252ToUtf8(text);
        WriteAll(StreamDescriptor(stream), converted.data(), converted.size());
    } else {
        WriteAll(StreamDescriptor(stream), text.data(), text.size());
    }
}

void WriteNative(std::string_view text, Stream stream) {
    WriteAll(StreamDescriptor(stream), text.data(), text.size());
}

void WriteData(std::string_view data) {
    WriteAll(1, data.data(), data.size());
}

bool OutputFailed() {
    return OutputFailure;
}

void ReadInputLine() {
    // One byte at a time, so that nothing of the following lines is consumed.
    char c = 0;
    while (true) {
        const ssize_t got = ::read(0, &c, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0 || c == '\n') {
            return;
        }
    }
}

void Pause(std::uint32_t milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

void EndProcess(int exitCode) {
    std::exit(exitCode);
}

bool OutputIsConsole() {
    return ::isatty(1) == 1;
}

bool InputIsConsole() {
    return ::isatty(0) == 1;
}

bool ConsoleIsEightBit() {
    return !StartedSettings().utf8;
}

FileHandle OpenForReading(const std::string& path) {
    int descriptor;
    do {
        descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor < 0 ? InvalidFile : descriptor;
}

std::int32_t Read(FileHandle file, void* buffer, std::uint32_t count) {
    const int descriptor = Descriptor(file);
    if (descriptor < 0) {
        return -1;
    }
    const std::size_t wanted = count > INT32_MAX ? INT32_MAX : count;
    ssize_t got;
    do {
        got = ::read(descriptor, buffer, wanted);
    } while (got < 0 && errno == EINTR);
    return got < 0 ? -1 : static_cast<std::int32_t>(got);
}

void Close(FileHandle file) {
    const int descriptor = Descriptor(file);
    if (descriptor >= 0) {
        ::close(descriptor);
    }
}

std::int32_t Write(FileHandle file, const void* data, std::uint32_t count) {
    const int descriptor = Descriptor(file);
    if (descriptor < 0) {
        return -1;
    }
    const std::size_t total = count > INT32_MAX ? INT32_MAX : count;
    if (total == 0) {
        // A write of nothing still fails on a handle that cannot be written.
        return ::write(descriptor, data, 0) < 0 ? -1 : 0;
    }
    const auto* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < total) {
        const ssize_t written = ::write(descriptor, bytes + done, total - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return -1;
        }
        done += static_cast<std::size_t>(written);
    }
    return static_cast<std::int32_t>(done);
}

void SetLastWriteTime(FileHandle file, std::uint32_t dosDateTime) {
    const int descriptor = Descriptor(file);
    if (descriptor < 0) {
        return;
    }
    const std::optional<DosDateTime> stamp = DecodeDosDateTime(dosDateTime);
    if (!stamp) {
        return;
    }
    std::tm local{};
    local.tm_year = stamp->year - 1900;
    local.tm_mon = stamp->month - 1;
    local.tm_mday = stamp->day;
    local.tm_hour = stamp->hour;
    local.tm_min = stamp->minute;
    local.tm_sec = stamp->second;
    local.tm_isdst = -1;
    const std::time_t when = std::mktime(&local);
    if (when == static_cast<std::time_t>(-1)) {
        return;
    }
    const timespec times[2] = {{0, UTIME_OMIT}, {when, 0}};
    ::futimens(descriptor, times);
}

unsigned UsableProcessors() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) {
        return 1;
    }
    const int count = CPU_COUNT(&allowed);
    return count > 1 ? static_cast<unsigned>(count) : 1u;
}

void AdviseRandomAccess(void* area, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
    ::madvise(area, bytes, MADV_HUGEPAGE);
#else
    (void)area;
    (void)bytes;
#endif
}

bool IsSameFile(FileHandle file, const std::string& path) {
    struct stat open {};
    struct stat named {};
    const int descriptor = Descriptor(file);
    return descriptor >= 0 && ::fstat(descriptor, &open) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

bool CreateFolders(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1); slash != std::string::npos; slash = folder.find('/', slash + 1)) {
        ::mkdir(folder.substr(0, slash).c_str(), 0777);
    }
    struct stat status {};
    return ::stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

FileHandle CreateTemporaryFile(const std::string& folder) {
    InstallInterruptHandlers();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = TemporaryName(folder);
        InterruptsBlocked blocked;
        PendingPath = path;
        const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (descriptor >= 0) {
            PendingDescriptor = descriptor;
            PendingSet = 1;
            return descriptor;
        }
        if (errno != EEXIST && errno != EINTR) {
            return InvalidFile;
        }
    }
    return InvalidFile;
}

bool CommitFile(FileHandle file, const std::string& path, std::uint32_t attributes) {
    const int descriptor = Descriptor(file);
    if (descriptor < 0 || PendingSet == 0 || descriptor != PendingDescriptor) {
        return false;
    }
    // Read-only: no write bit for anybody, set on the descriptor so that no
    // link swapped in at path can redirect it.
    struct stat status {};
    if ((attributes & 0x01) != 0 && ::fstat(descriptor, &status) == 0) {
        ::fchmod(descriptor, status.st_mode & 07777 & ~static_cast<mode_t>(0222));
    }
    InterruptsBlocked blocked;
    // A delayed write error (full disk, quota) shows when closing.
    bool committed = ::close(descriptor) == 0 || errno == EINTR;
    // As on the archive's home system, a read-only file is not replaced,
    // even by a user the system would let do it.
    committed = committed && !IsReadOnlyFile(path) && ::rename(PendingPath.c_str(), path.c_str()) == 0;
    if (!committed) {
        ::unlink(PendingPath.c_str());
    }
    ForgetPending();
    return committed;
}

void DiscardFile(FileHandle file) {
    const int descriptor = Descriptor(file);
    if (descriptor < 0) {
        return;
    }
    InterruptsBlocked blocked;
    ::close(descriptor);
    if (PendingSet != 0 && descriptor == PendingDescriptor) {
        ::unlink(PendingPath.c_str());
        ForgetPending();
    }
}

char PathSeparator() {
    return '/';
}

std::string NativeFileName(std::string_view storedName) {
    if (StartedSettings().utf8) {
        return Windows1252ToUtf8(storedName);
    }
    return std::string(storedName);
}

bool IsReservedFileName(std::string_view) {
    return false;
}

std::string FormatDate(int year, int month, int day) {
    std::tm date{};
    date.tm_year = year - 1900;
    date.tm_mon = month - 1;
    date.tm_mday = day;
    date.tm_isdst = -1;
    // Weekday and day of the year for formats that name them.
    std::tm normalised = date;
    normalised.tm_hour = 12;
    if (std::mktime(&normalised) != static_cast<std::time_t>(-1)) {
        date.tm_wday = normalised.tm_wday;
        date.tm_yday = normalised.tm_yday;
    }
    return Strftime(StartedSettings().dateFormat, date);
}

std::string FormatTime(int hour, int minute, int second) {
    std::tm time{};
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = second;
    time.tm_isdst = -1;
    return Strftime(StartedSettings().timeFormat, time);
}

}  // namespace platform
