#include "platform/Platform.h"

#include <windows.h>

#include "common/CommandLine.h"
#include "common/DatePicture.h"

namespace platform {
namespace {

struct Regional {
    bool started = false;
    std::string datePicture = "dd.MM.yyyy";
    std::string timePicture = "HH:mm:ss";
    std::string am;
    std::string pm;
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

bool LocaleText(LCID locale, LCTYPE type, std::string& text) {
    char buffer[256];
    const int length = GetLocaleInfoA(locale, type, buffer, static_cast<int>(sizeof buffer));
    if (length <= 0) {
        return false;
    }
    text.assign(buffer, static_cast<std::size_t>(length - 1));  // without the final NUL
    return true;
}

void WriteConsoleBytes(std::string_view text) {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) {
        return;
    }
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(output, data, chunk, &written, nullptr) || written == 0) {
            return;
        }
        data += written;
        left -= written;
    }
}

HANDLE AsHandle(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

void StartUp() {
    Regional& settings = Settings();
    if (settings.started) {
        return;
    }
    settings.started = true;
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
    std::vector<std::string> arguments = SplitCommandLine(GetCommandLineA());
    if (!arguments.empty()) {
        arguments.erase(arguments.begin());  // the program name
    }
    return arguments;
}

void WriteText(std::string_view text) {
    WriteConsoleBytes(text);
}

void WriteNative(std::string_view text) {
    WriteConsoleBytes(text);
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

FileHandle OpenForReading(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? InvalidFile : reinterpret_cast<FileHandle>(file);
}

std::int32_t Read(FileHandle file, void* buffer, std::uint32_t count) {
    if (file == InvalidFile) {
        return -1;
    }
    DWORD got = 0;
    const DWORD wanted = count > INT32_MAX ? INT32_MAX : count;
    if (!ReadFile(AsHandle(file), buffer, wanted, &got, nullptr)) {
        return -1;
    }
    return static_cast<std::int32_t>(got);
}

void Close(FileHandle file) {
    if (file != InvalidFile) {
        CloseHandle(AsHandle(file));
    }
}

FileHandle CreateForWriting(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? InvalidFile : reinterpret_cast<FileHandle>(file);
}

std::int32_t Write(FileHandle file, const void* data, std::uint32_t count) {
    if (file == InvalidFile) {
        return -1;
    }
    const auto* bytes = static_cast<const char*>(data);
    const DWORD total = count > INT32_MAX ? INT32_MAX : count;
    DWORD done = 0;
    do {
        DWORD written = 0;
        if (!WriteFile(AsHandle(file), bytes + done, total - done, &written, nullptr)) {
            return -1;
        }
        if (written == 0 && total > 0) {
            return -1;
        }
        done += written;
    } while (done < total);
    return static_cast<std::int32_t>(done);
}

void SetLastWriteTime(FileHandle file, std::uint32_t dosDateTime) {
    if (file == InvalidFile) {
        return;
    }
    FILETIME local;
    FILETIME universal;
    if (!DosDateTimeToFileTime(HIWORD(dosDateTime), LOWORD(dosDateTime), &local) ||
        !LocalFileTimeToFileTime(&local, &universal)) {
        return;
    }
    SetFileTime(AsHandle(file), nullptr, nullptr, &universal);
}

void SetAttributes(const std::string& path, std::uint32_t attributes) {
    SetFileAttributesA(path.c_str(), attributes);
}

void AdviseRandomAccess(void*, std::size_t) {}

char PathSeparator() {
    return '\\';
}

std::string NativeFileName(std::string_view storedName) {
    return std::string(storedName);
}

bool IsReservedFileName(std::string_view name) {
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && (base.back() == ' ' || base.back() == '.')) {
        base.remove_suffix(1);
    }
    std::string upper;
    for (const char c : base) {
        upper += Upper(c);
    }
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") {
        return true;
    }
    if (upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0)) {
        const auto digit = static_cast<unsigned char>(upper[3]);
        // Superscript one, two and three (Windows-1252) name devices as well.
        return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    }
    return false;
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
