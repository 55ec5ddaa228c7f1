// POSIX: start-up, console, regional formats, processors, names.
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

struct Regional {
    bool started = false;
    locale_t locale = nullptr;
    bool utf8 = false;
    std::string dateFormat = "%m/%d/%Y";
    std::string timeFormat = "%H:%M:%S";
};

// Process-wide: the user's regional settings, read once at start.
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

// A write past the file-size limit then fails (EFBIG) as on a full disk,
// instead of ending the process with the file half written.
void IgnoreFileSizeLimit() {
    std::signal(SIGXFSZ, SIG_IGN);
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
    IgnoreFileSizeLimit();
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


unsigned UsableProcessors() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) {
        return 1;
    }
    const int count = CPU_COUNT(&allowed);
    return count > 1 ? static_cast<unsigned>(count) : 1u;
}

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

void AdviseRandomAccess(void* area, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
    ::madvise(area, bytes, MADV_HUGEPAGE);
#else
    (void)area;
    (void)bytes;
#endif
}


char PathSeparator() {
    return '/';
}

std::string StoredNameOf(std::string_view native) {
    return StartedSettings().utf8 ? Utf8To1252(native) : std::string(native);
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
