// POSIX: the archive and the extracted files: reading, writing and dating,
// the held target folder, the pending file and the signals that remove it.
#include "platform/Platform.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <ctime>

#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <pthread.h>
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

int Descriptor(FileHandle file) {
    if (file < 0 || file > INT_MAX) {
        return -1;
    }
    return static_cast<int>(file);
}

// The pending file, process-wide, for the interrupt handler: its folder's
// descriptor and its name there. Changed only while the handled signals are
// blocked; every other thread keeps them blocked for good (StartThread), so
// the handler runs on the changing thread alone and never sees it half set.
int PendingFolder = -1;
std::string PendingName;
volatile std::sig_atomic_t PendingSet = 0;

// Every signal whose default action ends the process and that a program may
// catch, faults of the program itself aside. SIGPIPE and SIGXFSZ are ignored
// instead (StartUp): a write then fails as on a full disk.
sigset_t HandledSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF,
                             SIGXCPU, SIGIO}) {
        sigaddset(&set, signal);
    }
#ifdef SIGPWR
    sigaddset(&set, SIGPWR);
#endif
#ifdef SIGSTKFLT
    sigaddset(&set, SIGSTKFLT);
#endif
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
        sigaddset(&set, signal);
    }
    return set;
}

// Holds the handled signals back while the pending file changes hands.
class InterruptsBlocked {
public:
    InterruptsBlocked() {
        const sigset_t set = HandledSignals();
        pthread_sigmask(SIG_BLOCK, &set, &saved_);
    }
    ~InterruptsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
    InterruptsBlocked(const InterruptsBlocked&) = delete;
    InterruptsBlocked& operator=(const InterruptsBlocked&) = delete;

private:
    sigset_t saved_;
};

// Removes the pending file, then ends the process through the signal's
// default action: the handler was reset when it was called, and the signal
// raised again is delivered as soon as the handler returns.
void RemovePendingFileAndEnd(int signal) {
    if (PendingSet != 0) {
        ::unlinkat(PendingFolder, PendingName.c_str(), 0);
    }
    ::raise(signal);
}

// Once, before the first temporary file: a handled signal removes it.
// Signals the program was started to ignore stay ignored.
void InstallInterruptHandlers() {
    // Process-wide, as signal handlers are.
    static bool installed = false;
    if (installed) {
        return;
    }
    installed = true;
    const sigset_t handled = HandledSignals();
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction current {};
        if (sigismember(&handled, signal) != 1 || sigaction(signal, nullptr, &current) != 0 ||
            current.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = RemovePendingFileAndEnd;
        action.sa_mask = handled;
        action.sa_flags = SA_RESETHAND;
        sigaction(signal, &action, nullptr);
    }
}


}  // namespace

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
FolderHandle HoldFolder(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1); slash != std::string::npos; slash = folder.find('/', slash + 1)) {
        ::mkdir(folder.substr(0, slash).c_str(), 0777);
    }
    int descriptor;
    do {
        descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor < 0 ? InvalidFolder : descriptor;
}

FolderHandle HoldSubfolder(FolderHandle parent, const std::string& name) {
    const int directory = Descriptor(parent);
    if (directory < 0 || name.empty() || name.find('/') != std::string::npos) {
        return InvalidFolder;
    }
    if (::mkdirat(directory, name.c_str(), 0777) != 0 && errno != EEXIST) {
        return InvalidFolder;
    }
    int descriptor;
    do {
        descriptor = ::openat(directory, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor < 0 ? InvalidFolder : descriptor;
}

void ReleaseFolder(FolderHandle folder) {
    Close(folder);
}

std::string LastErrorText() {
    return std::strerror(errno);
}

std::string TemporaryName() {
    // Process-wide, so that no two pending files of the process share a name.
    static unsigned serial = 0;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    char name[64];
    std::snprintf(name, sizeof name, ".untwx-%ld-%08lx%u.tmp", static_cast<long>(::getpid()),
                  static_cast<unsigned long>(now.tv_nsec) & 0xFFFFFFFFul, ++serial);
    return name;
}

FileHandle CreatePendingFile(FolderHandle folder, const std::string& name, bool& nameTaken) {
    nameTaken = false;
    const int directory = Descriptor(folder);
    if (directory < 0) {
        return InvalidFile;
    }
    InstallInterruptHandlers();
    InterruptsBlocked blocked;
    PendingFolder = directory;
    PendingName = name;
    int descriptor;
    do {
        descriptor = ::openat(directory, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) {
        nameTaken = errno == EEXIST;
        return InvalidFile;
    }
    PendingSet = 1;
    return descriptor;
}

// Read-only: no write bit for anybody, set on the descriptor so that no link
// swapped in at the name can redirect it.
void SetAttributes(FileHandle file, std::uint32_t attributes) {
    const int descriptor = Descriptor(file);
    struct stat status {};
    if (descriptor >= 0 && (attributes & 0x01) != 0 && ::fstat(descriptor, &status) == 0) {
        ::fchmod(descriptor, status.st_mode & 07777 & ~static_cast<mode_t>(0222));
    }
}

bool CloseWritten(FileHandle file) {
    const int descriptor = Descriptor(file);
    // The descriptor is gone after EINTR too; only a reported error counts.
    return descriptor >= 0 && (::close(descriptor) == 0 || errno == EINTR);
}

NameKind KindOfName(FolderHandle folder, const std::string& name) {
    struct stat status {};
    if (::fstatat(Descriptor(folder), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? NameKind::Missing : NameKind::Other;
    }
    if (S_ISDIR(status.st_mode)) {
        return NameKind::Folder;
    }
    if (!S_ISREG(status.st_mode)) {
        return NameKind::Other;
    }
    return (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ? NameKind::ReadOnlyFile : NameKind::File;
}

bool IsSameFile(FileHandle file, FolderHandle folder, const std::string& name) {
    struct stat open {};
    struct stat named {};
    const int descriptor = Descriptor(file);
    return descriptor >= 0 && ::fstat(descriptor, &open) == 0 &&
           ::fstatat(Descriptor(folder), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

bool RenamePendingFile(FolderHandle folder, const std::string& name) {
    const int directory = Descriptor(folder);
    InterruptsBlocked blocked;
    if (PendingSet == 0 || directory != PendingFolder ||
        ::renameat(directory, PendingName.c_str(), directory, name.c_str()) != 0) {
        return false;
    }
    PendingSet = 0;
    return true;
}

void RemovePendingFile(FolderHandle folder) {
    InterruptsBlocked blocked;
    if (PendingSet != 0 && Descriptor(folder) == PendingFolder) {
        ::unlinkat(PendingFolder, PendingName.c_str(), 0);
        PendingSet = 0;
    }
}

std::thread StartThread(std::function<void()> body) {
    const InterruptsBlocked blocked;
    return std::thread(std::move(body));
}

}  // namespace platform
