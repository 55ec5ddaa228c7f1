// Shared fixture and expected-text builders of the end-to-end tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include <clocale>
#include <locale.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "ArchiveWriter.h"
#include "ChildProcess.h"
#include "TestSupport.h"
#include "common/DosDateTime.h"

namespace e2e {

namespace fs = std::filesystem;

// Splits at CR LF; a text that ends with CR LF gives no empty last part.
inline std::vector<std::string> SplitCrlf(const std::string& text)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            parts.push_back(text.substr(start));
            break;
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return parts;
}

inline std::string TwoDigits(int value)
{
    std::string digits = std::to_string(value);
    if (digits.size() < 2)
        digits.insert(0, 1, '0');
    return digits;
}

// Separator the program appends to a target folder.
inline char FolderSeparator()
{
    return RunsUnderWine() ? '\\' : '/';
}

// Short date with German settings. Wine's German regional data writes day
// and month without leading zeros; the native locale writes two digits.
inline std::string GermanDate(int day, int month, int year)
{
    if (RunsUnderWine())
        return std::to_string(day) + "." + std::to_string(month) + "." + std::to_string(year);
    return TwoDigits(day) + "." + TwoDigits(month) + "." + std::to_string(year);
}

inline std::string GermanTime(int hour, int minute, int second)
{
    return TwoDigits(hour) + ":" + TwoDigits(minute) + ":" + TwoDigits(second);
}

inline std::time_t UtcSeconds(int year, int month, int day, int hour, int minute, int second)
{
    std::tm time{};
    time.tm_year = year - 1900;
    time.tm_mon = month - 1;
    time.tm_mday = day;
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = second;
    return ::timegm(&time);
}

inline std::string ColumnHeader()
{
    return Padded("Dateiname", 41) + " Datum     " + " Zeit    " + "  Groesse" + "   CRC32 ";
}

// The four lines before the first row of a listing.
inline std::string ListingHead(std::uint32_t blockSize)
{
    return CrLfLines({"Blockgroesse: " + std::to_string(blockSize) + " Bytes", "", ColumnHeader(), ""});
}

inline std::string ListingRow(const std::string& name, const std::string& dateTime, std::uint64_t size,
                              const std::string& crc)
{
    return Padded(name, 41) + " " + dateTime + " " + RightAligned(size, 8) + " " + crc;
}

inline std::string ExtractionRow(const std::string& name, int dots, bool extracted)
{
    return Padded(name, 41) + " .." + std::string(static_cast<std::size_t>(dots), '.') +
           (extracted ? " extracted" : " failed");
}

inline std::string StartLine(const std::string& archive, const std::string& folder)
{
    return "enpacke das Archiv " + archive + " nach " + folder;
}

inline std::string ReadErrorLines()
{
    return CrLfLines({"", "Lesefehler! - Disk/Datei zerstoert?"});
}

inline std::vector<std::string> UsageBlock()
{
    return {
        Padded(" \"UNTWX -i c:\\name.twx\"", 44) + "...um alle Datein in c:\\name.twx",
        std::string(47, ' ') + "mit detailliert anzuzeigen",
        "",
        Padded(" \"UNTWX -e c:\\name.twx  c:\\docs\\\"", 44) + "...um alle Datein in c:\\name.twx",
        std::string(47, ' ') + "nach c:\\docs\\ zu entpacken",
        "",
    };
}

// The 57-byte archive with one record: abc.txt, "abc", 15.06.2003 12:30:00.
inline constexpr char SampleName[] = "abc.txt";
inline constexpr char SampleCrc[] = "352441C2";
inline constexpr std::uint32_t SampleBlockSize = 32768;
inline constexpr std::size_t SampleBlockCrcOffset = 25;

// Names typed in Cyrillic letters (UTF-8): "архив.twx" and "папка".
inline constexpr char CyrillicArchive[] = "\xD0\xB0\xD1\x80\xD1\x85\xD0\xB8\xD0\xB2.twx";
inline constexpr char CyrillicFolder[] = "\xD0\xBF\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0";

// Text with the few Windows-1252 letters the tests store (a-, o-, u-umlaut,
// sharp s, euro sign) in UTF-8.
inline std::string Utf8Of(const std::string& stored)
{
    std::string text;
    for (const char c : stored) {
        switch (static_cast<unsigned char>(c)) {
        case 0xE4: text += "\xC3\xA4"; break;
        case 0xF6: text += "\xC3\xB6"; break;
        case 0xFC: text += "\xC3\xBC"; break;
        case 0xDF: text += "\xC3\x9F"; break;
        case 0x80: text += "\xE2\x82\xAC"; break;
        default: text += c;
        }
    }
    return text;
}

inline Bytes ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string ReadText(const fs::path& path)
{
    const Bytes bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

inline Bytes SampleArchive()
{
    return ReadBytes(fs::path(UNTWX_TEST_DATA) / "sample.twx");
}

// Records of the end-to-end archives: text content, dated Christmas Eve 2003
// unless given otherwise.
inline const std::uint32_t ChristmasEve = EncodeDosDateTime({2003, 12, 24, 23, 59, 58});

inline WriterRecord Record(std::string name, std::string_view content, std::uint32_t dateTime = ChristmasEve,
                           std::uint32_t attributes = 0x20)
{
    return ::Record(std::move(name), Text(content), attributes, dateTime);
}

inline Bytes Archive(const std::vector<WriterRecord>& records, std::uint8_t blockSizeCode = 1)
{
    WriterOptions options;
    options.blockSizeCode = blockSizeCode;
    return WriteArchive(records, options);
}

inline struct stat StatusOf(const fs::path& path)
{
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status;
}

using Environment = std::vector<std::pair<std::string, std::string>>;

inline constexpr char GermanLocale[] = "de_DE.UTF-8";

inline Environment GermanSettings()
{
    return {{"LC_ALL", GermanLocale}, {"LANG", GermanLocale}};
}

inline bool LocaleInstalled(const char* name)
{
    const locale_t probe = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(0));
    if (probe == static_cast<locale_t>(0))
        return false;
    freelocale(probe);
    return true;
}

// The text a terminal shows: control sequences (Wine's console host sends
// them around its writes) are dropped, a cursor move to the right counts as
// that many blanks.
inline std::string ScreenText(const std::string& output)
{
    std::string text;
    std::size_t i = 0;
    while (i < output.size()) {
        if (output[i] != '\x1B' || i + 1 >= output.size() || output[i + 1] != '[') {
            text += output[i++];
            continue;
        }
        std::size_t end = i + 2;
        while (end < output.size() && (output[end] == '?' || output[end] == ';' || std::isdigit(static_cast<unsigned char>(output[end]))))
            ++end;
        if (end < output.size() && output[end] == 'C') {
            const std::string count = output.substr(i + 2, end - i - 2);
            text.append(count.empty() ? 1 : static_cast<std::size_t>(std::stoi(count)), ' ');
        }
        i = end + 1;
    }
    return text;
}

// A fresh working folder per test; archives and folders are named relative
// to it, so the same arguments work natively and under Wine.
class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/untwx-e2e-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        Work = pattern;
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(Work, ignored);
    }

    void Put(const std::string& name, const Bytes& bytes) const
    {
        std::ofstream out(Work / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    // Every run gets UTC and the C locale unless the test sets them otherwise.
    // Under Wine every run gets the German locale, unless it names its own
    // Wine prefix: Wine copies the regional settings into the prefix's shared
    // registry whenever a process starts with another locale, so parallel runs
    // with mixed locales read each other's date and time formats.
    ChildRequest Request(std::vector<std::string> arguments, std::string input = "", Environment environment = {},
                         bool terminal = false) const
    {
        ChildRequest request;
        request.arguments = std::move(arguments);
        request.input = std::move(input);
        request.terminal = terminal;
        request.workingDirectory = Work;
        request.oneProcessor = OneProcessor;
        request.environment = {{"TZ", "UTC"}, {"LC_ALL", "C"}, {"LANG", "C"}};
        const bool ownPrefix = std::any_of(environment.begin(), environment.end(),
                                           [](const auto& setting) { return setting.first == "WINEPREFIX"; });
        if (RunsUnderWine() && !ownPrefix) {
            std::erase_if(environment, [](const auto& setting) {
                return setting.first == "LC_ALL" || setting.first == "LANG";
            });
            for (const auto& setting : GermanSettings())
                environment.push_back(setting);
        }
        for (auto& setting : environment) {
            bool replaced = false;
            for (auto& present : request.environment) {
                if (present.first == setting.first) {
                    present.second = setting.second;
                    replaced = true;
                }
            }
            if (!replaced)
                request.environment.push_back(setting);
        }
        request.interruptWhen = InterruptWhen;
        return request;
    }

    static ChildResult RunRequest(const ChildRequest& request)
    {
        ChildResult result = RunChild(request);
        if (!result.errors.empty())
            std::cout << "standard error of the run:\n" << result.errors << "\n";
        return result;
    }

    ChildResult Run(std::vector<std::string> arguments, std::string input = "", Environment environment = {},
                    bool terminal = false) const
    {
        return RunRequest(Request(std::move(arguments), std::move(input), std::move(environment), terminal));
    }

    ChildResult RunGerman(std::vector<std::string> arguments, std::string input = "") const
    {
        if (!LocaleInstalled(GermanLocale))
            ADD_FAILURE() << "the " << GermanLocale << " locale is not generated on this machine";
        return Run(std::move(arguments), std::move(input), GermanSettings());
    }

    // Runs the arguments with blocks decoded ahead, then on one processor,
    // each time with a fresh, empty out/ folder, and checks each run (with
    // its files in place) through check(run).
    template <typename Check>
    void RunWithAndWithoutSecondThread(const std::vector<std::string>& arguments, Check&& check)
    {
        for (bool oneProcessor : {false, true}) {
            SCOPED_TRACE(oneProcessor ? "on one processor" : "with blocks decoded ahead");
            OneProcessor = oneProcessor;
            fs::remove_all(Work / "out");
            fs::create_directory(Work / "out");
            check(Run(arguments));
        }
        OneProcessor = false;
    }

    // Paths of everything below the working folder, relative to it.
    std::vector<std::string> Tree() const
    {
        std::vector<std::string> entries;
        for (const auto& entry : fs::recursive_directory_iterator(Work))
            entries.push_back(fs::relative(entry.path(), Work).generic_string());
        std::sort(entries.begin(), entries.end());
        return entries;
    }

    fs::path Work;
    // When set, the runs get SIGINT once it yields true.
    std::function<bool()> InterruptWhen;
    // Runs may use one processor only: no block is decoded ahead.
    bool OneProcessor = false;
};

}  // namespace e2e
