#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/CodePage.h"
#include "common/CommandLine.h"
#include "common/DatePicture.h"
#include "common/DosDateTime.h"
#include "MemoryPlatform.h"
#include "platform/Platform.h"

namespace {

using Args = std::vector<std::string>;

// --- Command-line splitting ---

TEST(SplitCommandLine, SeparatesArgumentsAtBlanksAndKeepsProgramName) {
    EXPECT_EQ(SplitCommandLine("UNTWX -i  c:\\a.twx"), (Args{"UNTWX", "-i", "c:\\a.twx"}));
    EXPECT_EQ(SplitCommandLine("   UNTWX   "), (Args{"UNTWX"}));
    EXPECT_EQ(SplitCommandLine(""), Args{});
}

TEST(SplitCommandLine, TreatsControlCharactersAndDeleteAsBlanks) {
    EXPECT_EQ(SplitCommandLine("a\tb\x01" "c\x7F" "d\r\ne\x1F" "f"), (Args{"a", "b", "c", "d", "e", "f"}));
}

TEST(SplitCommandLine, KeepsBytesAboveDeleteInsideArguments) {
    // 0xA0 and 0xE4 are ordinary characters, not blanks, even where char is signed.
    EXPECT_EQ(SplitCommandLine("x\xA0y B\xE4r"), (Args{"x\xA0y", "B\xE4r"}));
}

TEST(SplitCommandLine, QuotesGroupBlanksAndAreDropped) {
    EXPECT_EQ(SplitCommandLine("UNTWX -e \"c:\\my docs\\a.twx\" out"),
              (Args{"UNTWX", "-e", "c:\\my docs\\a.twx", "out"}));
    EXPECT_EQ(SplitCommandLine("\"a\tb\""), (Args{"a\tb"}));
}

TEST(SplitCommandLine, QuotesMayOpenAndCloseInsideAnArgument) {
    EXPECT_EQ(SplitCommandLine("a\"b c\"d e"), (Args{"ab cd", "e"}));
    EXPECT_EQ(SplitCommandLine("x\"\"y"), (Args{"xy"}));
}

TEST(SplitCommandLine, SkipsEmptyQuotePairsWhereAnArgumentWouldBegin) {
    EXPECT_EQ(SplitCommandLine("UNTWX -e a.twx \"\""), (Args{"UNTWX", "-e", "a.twx"}));
    EXPECT_EQ(SplitCommandLine("\"\" x \"\"\"\" y"), (Args{"x", "y"}));
    EXPECT_EQ(SplitCommandLine("\"\"x"), (Args{"x"}));
}

TEST(SplitCommandLine, TreatsBackslashAsOrdinaryCharacter) {
    EXPECT_EQ(SplitCommandLine("UNTWX -e a.twx \"c:\\docs\\\" more"),
              (Args{"UNTWX", "-e", "a.twx", "c:\\docs\\", "more"}));
    EXPECT_EQ(SplitCommandLine("a\\\"b c\""), (Args{"a\\b c"}));
    EXPECT_EQ(SplitCommandLine("a\\\\ b"), (Args{"a\\\\", "b"}));
}

TEST(SplitCommandLine, UnclosedQuoteRunsToTheEnd) {
    EXPECT_EQ(SplitCommandLine("-e \"c:\\my docs  x"), (Args{"-e", "c:\\my docs  x"}));
    // A lone quote at the end would be an empty argument and gives none.
    EXPECT_EQ(SplitCommandLine("a \""), (Args{"a"}));
    EXPECT_EQ(SplitCommandLine("a \"\"\""), (Args{"a"}));
}

// --- Windows-1252 to UTF-8 ---

TEST(Windows1252ToUtf8, LeavesAsciiUnchanged) {
    const std::string ascii = "Blockgroesse: 32768 Bytes\r\n~\x7F";
    EXPECT_EQ(Windows1252ToUtf8(ascii), ascii);
    EXPECT_EQ(Windows1252ToUtf8(""), "");
}

TEST(Windows1252ToUtf8, ConvertsLatin1RangeToTwoBytes) {
    EXPECT_EQ(Windows1252ToUtf8("\xE4"), "\xC3\xA4");
    EXPECT_EQ(Windows1252ToUtf8("\xA0"), "\xC2\xA0");
    EXPECT_EQ(Windows1252ToUtf8("\xFF"), "\xC3\xBF");
    EXPECT_EQ(Windows1252ToUtf8("ung\xFCltig \xE4"), "ung\xC3\xBCltig \xC3\xA4");
}

TEST(Windows1252ToUtf8, ConvertsPrintableCharactersOf0x80To0x9F) {
    EXPECT_EQ(Windows1252ToUtf8("\x80"), "\xE2\x82\xAC");  // euro sign
    EXPECT_EQ(Windows1252ToUtf8("\x8A"), "\xC5\xA0");      // S caron
    EXPECT_EQ(Windows1252ToUtf8("\x99"), "\xE2\x84\xA2");  // trade mark
    EXPECT_EQ(Windows1252ToUtf8("\x9F"), "\xC5\xB8");      // Y diaeresis
}

TEST(Windows1252ToUtf8, KeepsUndefinedBytesAsC1Controls) {
    EXPECT_EQ(Windows1252ToUtf8("\x81\x8D\x8F\x90\x9D"), "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
}

TEST(Utf8To1252, RoundTripsEveryByte) {
    std::string all;
    for (int byte = 0; byte < 256; ++byte)
        all += static_cast<char>(byte);
    EXPECT_EQ(Utf8To1252(Windows1252ToUtf8(all)), all);
}

TEST(Utf8To1252, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    EXPECT_EQ(Utf8To1252("\xD0\x96"), "?");              // Cyrillic Zhe
    EXPECT_EQ(Utf8To1252("a\xE2\x82\xAC\xF0\x9F\x98\x80" "b"), "a\x80?b");  // euro, emoji
    EXPECT_EQ(Utf8To1252("\xC2\x80"), "?");              // U+0080 has no place in it
}

TEST(Utf8To1252, MalformedBytesPassThrough) {
    EXPECT_EQ(Utf8To1252("\xE4"), "\xE4");                // a lone Windows-1252 byte
    EXPECT_EQ(Utf8To1252("\xC3"), "\xC3");                // sequence cut by the end
    EXPECT_EQ(Utf8To1252("\xE2\x82x"), "\xE2\x82x");      // continuation missing
    EXPECT_EQ(Utf8To1252("\xFF\xC3\xA4"), "\xFF\xE4");
}

// --- MS-DOS stamps ---

TEST(DosDateTime, EncodeIsTheInverseOfDecodeForValidStamps) {
    for (const DosDateTime t : {DosDateTime{1980, 1, 1, 0, 0, 0}, DosDateTime{2107, 12, 31, 23, 59, 58},
                                DosDateTime{2004, 2, 29, 8, 5, 6}, DosDateTime{2003, 6, 15, 12, 30, 44}}) {
        const auto back = DecodeDosDateTime(EncodeDosDateTime(t));
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(back->year, t.year);
        EXPECT_EQ(back->month, t.month);
        EXPECT_EQ(back->day, t.day);
        EXPECT_EQ(back->hour, t.hour);
        EXPECT_EQ(back->minute, t.minute);
        EXPECT_EQ(back->second, t.second);
    }
    EXPECT_EQ(EncodeDosDateTime({2003, 6, 15, 12, 30, 45}), 0x2ECF63D6u);  // 12:30:44
    EXPECT_FALSE(DecodeDosDateTime(EncodeDosDateTime({2003, 0, 15, 12, 30, 0})).has_value());
}

// --- UTF-16 and UTF-8 (native text on Win32) ---

TEST(Utf16AndUtf8, ConvertEveryLengthOfSequenceBothWays) {
    // A, a-umlaut, euro sign, G clef (a surrogate pair in UTF-16).
    const std::u16string wide = u"A\u00E4\u20AC\U0001D11E";
    const std::string utf8 = "A\xC3\xA4\xE2\x82\xAC\xF0\x9D\x84\x9E";
    EXPECT_EQ(Utf16ToUtf8(wide), utf8);
    EXPECT_EQ(Utf8ToUtf16(utf8), wide);
    EXPECT_EQ(Utf16ToUtf8(u""), "");
    EXPECT_EQ(Utf8ToUtf16(""), u"");
}

TEST(Utf16AndUtf8, LoneSurrogatesOfWindowsNamesSurviveTheRoundTrip) {
    const std::u16string names[] = {{char16_t(0xD800), u'x'}, {u'x', char16_t(0xDFFF)},
                                    {char16_t(0xDC00), char16_t(0xD800)}};
    for (const std::u16string& name : names)
        EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(name)), name);
    EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xD800)}), "\xED\xA0\x80");
}

TEST(Utf16AndUtf8, BytesThatFormNoCharacterBecomeReplacementCharacters) {
    constexpr char16_t R = 0xFFFD;
    EXPECT_EQ(Utf8ToUtf16("\xFF"), (std::u16string{R}));
    EXPECT_EQ(Utf8ToUtf16("a\xC3"), (std::u16string{u'a', R}));          // cut short
    EXPECT_EQ(Utf8ToUtf16("\xC3x"), (std::u16string{R, u'x'}));
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), (std::u16string{R, R}));          // overlong '/'
    EXPECT_EQ(Utf8ToUtf16("\xE0\x80\xAF"), (std::u16string{R, R, R}));  // overlong '/'
    EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), (std::u16string{R, R, R, R}));  // above U+10FFFF
}

TEST(SplitCommandLine, SplitsUtf8TextAsItsUtf16FormWouldSplit) {
    // No byte of a multi-byte sequence is a blank or a quote, so a no-break
    // space (U+00A0) or a letter whose code point ends in 0x20 or 0x22 stays inside.
    EXPECT_EQ(SplitCommandLine("UNTWX -e \"\xD0\xBC\xD0\xBE\xD0\xB9 \xD0\xB0.twx\" a\xC2\xA0" "b \xC4\xA0\xC4\xA2"),
              (Args{"UNTWX", "-e", "\xD0\xBC\xD0\xBE\xD0\xB9 \xD0\xB0.twx", "a\xC2\xA0" "b", "\xC4\xA0\xC4\xA2"}));
}

// --- Date and time pictures ---

PictureValues Date(int year, int month, int day) {
    PictureValues values;
    values.year = year;
    values.month = month;
    values.day = day;
    return values;
}

PictureValues Time(int hour, int minute, int second, const char* pm = "PM")
{
    PictureValues values;
    values.hour = hour;
    values.minute = minute;
    values.second = second;
    values.am = "AM";
    values.pm = pm;
    return values;
}

struct PictureCase {
    const char* picture;
    PictureValues values;
    const char* text;
};

void PrintTo(const PictureCase& picture, std::ostream* out)
{
    *out << '"' << picture.picture << "\" gives \"" << picture.text << '"';
}

class Pictures : public ::testing::TestWithParam<PictureCase> {};

TEST_P(Pictures, Format)
{
    EXPECT_EQ(FormatPicture(GetParam().picture, GetParam().values), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(GermanPicturesPadDayMonthAndTime, Pictures,
    ::testing::Values(PictureCase{"dd.MM.yyyy", Date(2024, 3, 5), "05.03.2024"},
        PictureCase{"dd.MM.yyyy", Date(1999, 12, 31), "31.12.1999"}, PictureCase{"HH:mm:ss", Time(0, 5, 0), "00:05:00"},
        PictureCase{"HH:mm:ss", Time(13, 5, 9), "13:05:09"}));

INSTANTIATE_TEST_SUITE_P(UsPicturesUseUnpaddedFieldsAndTwelveHourClock, Pictures,
    ::testing::Values(PictureCase{"M/d/yyyy", Date(2024, 3, 5), "3/5/2024"},
        PictureCase{"M/d/yyyy", Date(2024, 11, 25), "11/25/2024"},
        PictureCase{"h:mm:ss tt", Time(0, 5, 0), "12:05:00 AM"},
        PictureCase{"h:mm:ss tt", Time(13, 5, 9), "1:05:09 PM"},
        PictureCase{"h:mm:ss tt", Time(12, 0, 1), "12:00:01 PM"}, PictureCase{"hh:mm t", Time(11, 59, 0), "11:59 A"},
        PictureCase{"hh:mm t", Time(21, 7, 0), "09:07 P"}));

INSTANTIATE_TEST_SUITE_P(ShortYearPicturesShowFourDigits, Pictures,
    ::testing::Values(PictureCase{"d.M.yy", Date(2005, 1, 2), "2.1.2005"},
        PictureCase{"M/d/yy", Date(2107, 12, 31), "12/31/2107"}, PictureCase{"y", Date(1987, 1, 2), "1987"}));

INSTANTIATE_TEST_SUITE_P(
    MissingMarkerGivesNothing, Pictures, ::testing::Values(PictureCase{"h:mm tt", Time(15, 0, 0, ""), "3:00 "}));

INSTANTIATE_TEST_SUITE_P(QuotedTextIsLiteral, Pictures,
    ::testing::Values(PictureCase{"'Datum:' d.M.yyyy", Date(2024, 3, 5), "Datum: 5.3.2024"},
        PictureCase{"'hh' HH'h'", Time(13, 0, 0), "hh 13h"}, PictureCase{"HH''mm", Time(7, 30, 0), "07'30"},
        PictureCase{"'it''s' HH", Time(7, 30, 0), "it's 07"}));

INSTANTIATE_TEST_SUITE_P(OtherCharactersAreLiteral, Pictures,
    ::testing::Values(PictureCase{"yyyy-MM-dd / x", Date(2024, 3, 5), "2024-03-05 / x"}));

INSTANTIATE_TEST_SUITE_P(MonthNamesFallBackToTheNumber, Pictures,
    ::testing::Values(PictureCase{"d MMM yyyy", Date(2024, 3, 5), "5 03 2024"}));

// --- Four-digit years in strftime formats ---

// A format and what it becomes.
using FormatCase = std::pair<const char*, const char*>;

FormatCase Unchanged(const char* format)
{
    return {format, format};
}

class FourDigitYearFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FourDigitYearFormats, Rewrite)
{
    EXPECT_EQ(FourDigitYearFormat(GetParam().first), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(TwoDigitYearsBecomeFourDigitYears, FourDigitYearFormats,
    ::testing::Values(FormatCase{"%m/%d/%y", "%m/%d/%Y"}, FormatCase{"%D", "%m/%d/%Y"}, FormatCase{"%x", "%m/%d/%Y"},
        FormatCase{"%-d.%-m.%y", "%-d.%-m.%Y"}, FormatCase{"%_y|%Oy|%g", "%_Y|%Y|%G"}, FormatCase{"%C%y-%m", "%Y-%m"}));

INSTANTIATE_TEST_SUITE_P(EverythingElseStaysAsItIs, FourDigitYearFormats,
    ::testing::Values(Unchanged("%d.%m.%Y"), Unchanged("%Y-%m-%d"), Unchanged("%e %b %Y"), Unchanged("%Ey %EC"),
        Unchanged("100%%y"), Unchanged("%Ex"), Unchanged("%"), Unchanged("%O")));

// --- In-memory platform ---

class MemoryPlatform : public ::testing::Test {
protected:
    void SetUp() override { platform::memory::Reset(); }
    void TearDown() override { platform::memory::Reset(); }
    platform::memory::State& state() { return platform::memory::Current(); }
};

TEST_F(MemoryPlatform, ReadsArchiveInChunksThenReportsEnd) {
    state().archives["a.twx"] = {1, 2, 3, 4, 5};
    const platform::FileHandle file = platform::OpenForReading("a.twx");
    ASSERT_NE(file, platform::InvalidFile);
    EXPECT_GT(file, 0);
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(platform::Read(file, buffer, 3), 3);
    EXPECT_EQ(buffer[2], 3);
    EXPECT_EQ(platform::Read(file, buffer, 8), 2);
    EXPECT_EQ(buffer[0], 4);
    EXPECT_EQ(buffer[1], 5);
    EXPECT_EQ(platform::Read(file, buffer, 8), 0);
    EXPECT_EQ(state().openHandles, 1);
    platform::Close(file);
    EXPECT_EQ(state().openHandles, 0);
    EXPECT_EQ(platform::Read(file, buffer, 8), -1);
}

TEST_F(MemoryPlatform, MissingArchiveGivesInvalidHandleThatFailsReads) {
    const platform::FileHandle file = platform::OpenForReading("missing.twx");
    EXPECT_EQ(file, platform::InvalidFile);
    std::uint8_t buffer[4];
    EXPECT_EQ(platform::Read(file, buffer, 4), -1);
    platform::Close(file);
    EXPECT_EQ(state().openHandles, 0);
}

TEST_F(MemoryPlatform, ShortReadsDeliverAtMostTheLimit) {
    state().archives["a.twx"] = {1, 2, 3, 4, 5};
    state().readLimit = 2;
    const platform::FileHandle file = platform::OpenForReading("a.twx");
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(platform::Read(file, buffer, 8), 2);
    EXPECT_EQ(platform::Read(file, buffer, 1), 1);
    EXPECT_EQ(buffer[0], 3);
    EXPECT_EQ(platform::Read(file, buffer, 8), 2);
    EXPECT_EQ(platform::Read(file, buffer, 8), 0);
    platform::Close(file);
}

// A new pending file in folder (held for it).
platform::FileHandle NewPendingFile(const std::string& folder = "out/") {
    bool taken = false;
    return platform::CreatePendingFile(platform::HoldFolder(folder), platform::TemporaryName(), taken);
}

TEST_F(MemoryPlatform, WritesFailOnInvalidClosedAndReadingHandles) {
    EXPECT_EQ(platform::Write(platform::InvalidFile, "a", 1), -1);
    EXPECT_EQ(platform::Write(platform::InvalidFile, "", 0), -1);
    const platform::FileHandle file = NewPendingFile();
    platform::CloseWritten(file);
    EXPECT_EQ(platform::Write(file, "a", 1), -1);
    state().archives["a.twx"] = {1};
    const platform::FileHandle archive = platform::OpenForReading("a.twx");
    EXPECT_EQ(platform::Write(archive, "a", 1), -1);
    platform::Close(archive);
}

TEST_F(MemoryPlatform, StoresOnlyValidDosStamps) {
    const platform::FileHandle file = NewPendingFile();
    const std::string temporary = state().pendingFile;
    const std::uint32_t invalid[] = {
        EncodeDosDateTime({2001, 0, 3, 4, 5, 6}), EncodeDosDateTime({2001, 13, 3, 4, 5, 6}),
        EncodeDosDateTime({2001, 2, 0, 4, 5, 6}),
        EncodeDosDateTime({2001, 2, 29, 4, 5, 6}), EncodeDosDateTime({2001, 4, 31, 4, 5, 6}),
        EncodeDosDateTime({2001, 2, 3, 24, 5, 6}),
        EncodeDosDateTime({2001, 2, 3, 4, 60, 6}), EncodeDosDateTime({2001, 2, 3, 4, 5, 60}),
    };
    for (const std::uint32_t stamp : invalid) {
        platform::SetLastWriteTime(file, stamp);
        EXPECT_EQ(state().files.at(temporary).dosDateTime, 0u) << std::hex << stamp;
    }
    platform::SetLastWriteTime(file, EncodeDosDateTime({2000, 2, 29, 23, 59, 58}));
    EXPECT_EQ(state().files.at(temporary).dosDateTime, EncodeDosDateTime({2000, 2, 29, 23, 59, 58}));
}

TEST_F(MemoryPlatform, HandlesStaySmallAndAreReused) {
    state().archives["a.twx"] = {1};
    const platform::FileHandle a = platform::OpenForReading("a.twx");
    const platform::FileHandle b = NewPendingFile();
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 2);
    platform::Close(a);
    platform::Close(a);  // a second close changes nothing
    EXPECT_EQ(state().openHandles, 1);
    const platform::FileHandle c = platform::OpenForReading("a.twx");
    EXPECT_EQ(c, 1);
    EXPECT_EQ(platform::Write(b, "b", 1), 1);
    EXPECT_EQ(state().files.at(state().pendingFile).content, std::vector<std::uint8_t>{'b'});
}

TEST_F(MemoryPlatform, ResetClosesHandlesAndRestoresFolders) {
    state().existingFolders = {};
    state().standardInput = "x\n";
    state().diskSpace = 1;
    const platform::FileHandle file = NewPendingFile("other/");
    ASSERT_NE(file, platform::InvalidFile);
    platform::memory::Reset();
    EXPECT_EQ(state().openHandles, 0);
    EXPECT_EQ(state().existingFolders, (Args{"out/"}));
    EXPECT_TRUE(state().standardInput.empty());
    EXPECT_TRUE(state().files.empty());
    EXPECT_TRUE(state().pendingFile.empty());
    EXPECT_EQ(state().diskSpace, SIZE_MAX);
    EXPECT_EQ(platform::Write(file, "a", 1), -1);
}

TEST_F(MemoryPlatform, ReadInputLineConsumesOneLineAtATime) {
    state().standardInput = "first\nsecond\nrest";
    platform::ReadInputLine();
    EXPECT_EQ(state().standardInput, "second\nrest");
    platform::ReadInputLine();
    EXPECT_EQ(state().standardInput, "rest");
    platform::ReadInputLine();
    EXPECT_EQ(state().standardInput, "");
    platform::ReadInputLine();
    EXPECT_EQ(state().standardInput, "");
}

TEST_F(MemoryPlatform, ArgumentsDropProgramNameAndEmptyStrings) {
    char program[] = "untwx", command[] = "-e", empty[] = "", path[] = "a.twx";
    char* argv[] = {program, command, empty, path, nullptr};
    EXPECT_EQ(platform::Arguments(4, argv), (Args{"-e", "a.twx"}));
}

TEST_F(MemoryPlatform, DatesAndTimesUseZeroPaddedGermanStyle) {
    EXPECT_EQ(platform::FormatDate(2024, 3, 5), "05.03.2024");
    EXPECT_EQ(platform::FormatTime(7, 0, 9), "07:00:09");
}

}  // namespace
