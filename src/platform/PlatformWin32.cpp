// Win32: every call that takes text is the wide one. Native text is UTF-8
// here and becomes UTF-16 only at the call; paths are made full and given
// the \\?\ prefix, so any name and any length the file system allows works.
#include "platform/Platform.h"

#include <windows.h>

#include <cstdio>
#include <iterator>

#include "common/CodePage.h"
#include "common/CommandLine.h"
#include "common/DatePicture.h"
#include "common/DosDateTime.h"
#include "common/WindowsNames.h"
#include "platform/PlatformWin32.h"

namespace platform {

namespace win32 {

HANDLE AsHandle(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

FileHandle AsFileHandle(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? InvalidFile : reinterpret_cast<FileHandle>(handle);
}

std::wstring Wide(std::string_view utf8) {
    const std::u16string text = Utf8ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

std::string Utf8(std::wstring_view wide) {
    return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

int Length(std::size_t size) {
    return size > INT32_MAX ? INT32_MAX : static_cast<int>(size);
}

std::wstring FromArchiveCodePage(std::string_view text) {
    const int length = text.empty() ? 0 : MultiByteToWideChar(ArchiveCodePage, 0, text.data(), Length(text.size()),
                                                              nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(ArchiveCodePage, 0, text.data(), Length(text.size()), wide.data(), length);
    return wide;
}

// Characters the code page lacks become its default character ('?').
std::string ToCodePage(UINT codePage, std::wstring_view wide) {
    const int length = wide.empty() ? 0 : WideCharToMultiByte(codePage, 0, wide.data(), Length(wide.size()),
                                                              nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), Length(wide.size()), text.data(), length, nullptr, nullptr);
    return text;
}

// A path as the wide calls take it: made full by the system's own rules
// (the clean-up the ordinary calls make: trailing dots and blanks, "." and
// "..", "/") and prefixed so that neither MAX_PATH nor any further clean-up
// applies.
std::wstring SystemPath(const std::string& path) {
    const std::wstring given = Wide(path);
    if (given.empty()) {
        return given;
    }
    std::wstring full(MAX_PATH, L'\0');
    DWORD length = GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length);
        length = GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    if (length == 0 || length >= full.size()) {
        return given;
    }
    full.resize(length);
    const std::u16string extended = ExtendedLengthPath(std::u16string(full.begin(), full.end()));
    return std::wstring(extended.begin(), extended.end());
}

}  // namespace win32

using namespace win32;

namespace {

struct Regional {
    bool started = false;
    std::string datePicture = "dd.MM.yyyy";
    std::string timePicture = "HH:mm:ss";
    std::string am;
    std::string pm;
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


// Regional texts in the archive code page, the code page of all printed text.
bool LocaleText(LCID locale, LCTYPE type, std::string& text) {
    wchar_t buffer[256];
    const int length = GetLocaleInfoW(locale, type, buffer, static_cast<int>(std::size(buffer)));
    if (length <= 0) {
        return false;
    }
    text = ToCodePage(ArchiveCodePage, std::wstring_view(buffer, static_cast<std::size_t>(length - 1)));
    return true;
}

HANDLE StandardOutput(Stream stream = Stream::Output) {
    const HANDLE output = GetStdHandle(stream == Stream::Error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    return output == INVALID_HANDLE_VALUE ? nullptr : output;
}

bool HandleIsConsole(Stream stream) {
    DWORD mode = 0;
    const HANDLE output = StandardOutput(stream);
    return output != nullptr && GetConsoleMode(output, &mode) != 0;
}

// Whether standard output (error) is a console, checked once: the cached
// console modes are process-wide, as the standard handles are.
bool IsConsole(Stream stream) {
    static const bool console[2] = {HandleIsConsole(Stream::Output), HandleIsConsole(Stream::Error)};
    return console[stream == Stream::Error ? 1 : 0];
}

// Process-wide, as standard output is: set once a write to it failed for a
// reason other than its reader going away.
bool OutputFailure = false;

void WriteBytes(std::string_view text, Stream stream = Stream::Output) {
    const HANDLE output = StandardOutput(stream);
    if (output == nullptr) {
        return;
    }
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(output, data, chunk, &written, nullptr) || written == 0) {
            // A pipe fails only when its reader has gone (Wine reports that
            // with codes of its own); a file or a device fails for real.
            const DWORD error = GetLastError();
            if (stream == Stream::Output && error != ERROR_NO_DATA && error != ERROR_BROKEN_PIPE &&
                GetFileType(output) != FILE_TYPE_PIPE) {
                OutputFailure = true;
            }
            return;
        }
        data += written;
        left -= written;
    }
}

void WriteCharacters(std::wstring_view text, Stream stream) {
    const HANDLE output = StandardOutput(stream);
    if (output == nullptr) {
        return;
    }
    // Consoles take limited pieces; a piece never ends inside a surrogate pair.
    constexpr std::size_t Piece = 8192;
    while (!text.empty()) {
        std::size_t count = text.size() < Piece ? text.size() : Piece;
        if (count < text.size() && IS_HIGH_SURROGATE(text[count - 1])) {
            --count;
        }
        DWORD written = 0;
        if (!WriteConsoleW(output, text.data(), static_cast<DWORD>(count), &written, nullptr) || written == 0) {
            return;
        }
        text.remove_prefix(written);
    }
}

// A standard handle that is missing or no longer valid is pointed at NUL, so
// that no handle the program opens later can be taken for it.
void KeepStandardHandles() {
    for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE handle = GetStdHandle(which);
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
            SetLastError(NO_ERROR);
            if (GetFileType(handle) != FILE_TYPE_UNKNOWN || GetLastError() == NO_ERROR) {
                continue;
            }
        }
        const HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
        if (nul != INVALID_HANDLE_VALUE) {
            SetStdHandle(which, nul);
        }
    }
}


}  // namespace

void StartUp() {
    Regional& settings = Settings();
    if (settings.started) {
        return;
    }
    settings.started = true;
    KeepStandardHandles();
    const LCID locale = GetThreadLocale();
    std::string text;
    if (LocaleText(locale, LOCALE_SSHORTDATE, text) && !text.empty()) {
        settings.datePicture = text;
    }
    if (LocaleText(locale, LOCALE_STIMEFORMAT, text) && !text.empty()) {
        settings.timePicture = text;
    }
    if (LocaleText(locale, LOCALE_S1159, text)) {
        settings.am = text;
    }
    if (LocaleText(locale, LOCALE_S2359, text)) {
        settings.pm = text;
    }
}

std::vector<std::string> Arguments(int, char**) {
    std::vector<std::string> arguments = SplitCommandLine(Utf8(GetCommandLineW()));
    if (!arguments.empty()) {
        arguments.erase(arguments.begin());  // the program name
    }
    return arguments;
}

void WriteText(std::string_view text, Stream stream) {
    if (IsConsole(stream)) {
        WriteCharacters(FromArchiveCodePage(text), stream);
    } else {
        WriteBytes(text, stream);
    }
}

// Redirected, native text gets the ANSI code page, as the ANSI calls gave it.
void WriteNative(std::string_view text, Stream stream) {
    if (IsConsole(stream)) {
        WriteCharacters(Wide(text), stream);
    } else {
        WriteBytes(ToCodePage(CP_ACP, Wide(text)), stream);
    }
}

void WriteData(std::string_view data) {
    WriteBytes(data);
}

bool OutputFailed() {
    return OutputFailure;
}

void ReadInputLine() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) {
        return;
    }
    // One byte at a time, so that nothing of the following lines is consumed.
    char c = 0;
    DWORD got = 0;
    while (ReadFile(input, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
    }
}

void Pause(std::uint32_t milliseconds) {
    Sleep(milliseconds);
}

void EndProcess(int exitCode) {
    ExitProcess(static_cast<UINT>(exitCode));
}

// A console shows characters; a pipe or a file gets bytes.
bool OutputIsConsole() {
    return IsConsole(Stream::Output);
}

bool InputIsConsole() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

// A console gets characters, a pipe or a file the stored bytes; no 8-bit
// terminal reads them.
bool ConsoleIsEightBit() {
    return false;
}


unsigned UsableProcessors() {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
        return 1;
    }
    unsigned count = 0;
    for (; process != 0; process &= process - 1) {
        ++count;
    }
    return count > 1 ? count : 1u;
}

// Only ASCII values are asked for; other characters become '?'.
std::string EnvironmentValue(const char* name) {
    std::wstring wideName;
    for (const char* c = name; *c; ++c) {
        wideName.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    }
    wchar_t value[64];
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value, static_cast<DWORD>(std::size(value)));
    std::string text;
    if (length == 0 || length >= std::size(value)) {
        return text;
    }
    for (DWORD i = 0; i < length; ++i) {
        text.push_back(value[i] < 128 ? static_cast<char>(value[i]) : '?');
    }
    return text;
}

void AdviseRandomAccess(void*, std::size_t) {}

char PathSeparator() {
    return '\\';
}

// Trailing dots and blanks go, as the ordinary calls drop them: a prefixed
// path would keep them, and Explorer could then neither open nor delete the
// file.
std::string StoredNameOf(std::string_view native) {
    return Utf8To1252(native);
}

std::string NativeFileName(std::string_view storedName) {
    return Utf8(FromArchiveCodePage(WithoutTrailingDotsAndBlanks(storedName)));
}

// A name of dots and blanks alone would name the target folder itself.
bool IsReservedFileName(std::string_view name) {
    return IsWindowsDeviceName(name) || WithoutTrailingDotsAndBlanks(name).empty();
}

std::string FormatDate(int year, int month, int day) {
    const Regional& settings = StartedSettings();
    PictureValues values;
    values.year = year;
    values.month = month;
    values.day = day;
    return FormatPicture(settings.datePicture, values);
}

std::string FormatTime(int hour, int minute, int second) {
    const Regional& settings = StartedSettings();
    PictureValues values;
    values.hour = hour;
    values.minute = minute;
    values.second = second;
    values.am = settings.am;
    values.pm = settings.pm;
    return FormatPicture(settings.timePicture, values);
}

}  // namespace platform
