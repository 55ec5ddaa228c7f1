// The command words beyond "-i" and "-e", run in-process: help and version,
// "-t" over several archives, "-l" read as a script would, "-p" with NAME
// selection, "-x" against hostile stored folders, and output that is lost.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <tuple>
#include <string>
#include <vector>

#include "ArchiveWriter.h"
#include "InProcessRun.h"
#include "MemoryPlatform.h"
#include "Selection.h"
#include "TestSupport.h"
#include "common/DosDateTime.h"

namespace {

using platform::memory::Current;

Bytes ArchiveOf(const std::vector<WriterRecord>& records)
{
    return WriteArchive(records, WriterOptions{});
}

// Runs with the archives under their names; standard input is no terminal.
RunOutcome RunWith(const std::vector<std::pair<std::string, Bytes>>& archives, const std::vector<std::string>& arguments)
{
    platform::memory::Reset();
    for (const auto& [name, bytes] : archives)
        Current().archives[name] = bytes;
    Current().outputIsConsole = false;
    return RunInProcess(arguments);
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1)
        parts.push_back(text.substr(start, end - start));
    parts.push_back(text.substr(start));
    return parts;
}

class HelpWords : public testing::TestWithParam<const char*> {};

TEST_P(HelpWords, PrintTheUsageBlockAndTheNewWordsWithExitCodeZero)
{
    const RunOutcome invalid = RunWith({}, {"--e"});
    const std::string usage = invalid.output.substr(invalid.output.find("benutzen Sie:\r\n\r\n") + 17);
    const RunOutcome help = RunWith({}, {GetParam()});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.output.starts_with(usage)) << help.output;
    for (const char* word : {"-x", "-p", "-t", "-l", "-v"})
        EXPECT_NE(help.output.find(std::string("\"UNTWX ") + word), std::string::npos) << word;
}

INSTANTIATE_TEST_SUITE_P(Words, HelpWords, testing::Values("-h", "--help", "-?", "/?"));

TEST(CommandWords, VersionWordsPrintNameAndVersionAndOthersStayInvalid)
{
    for (const char* word : {"-v", "--version"}) {
        const RunOutcome run = RunWith({}, {word});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(std::regex_match(run.output, std::regex("UNTWX [0-9]+\\.[0-9]+\\.[0-9]+\r\n"))) << run.output;
    }
    for (const char* word : {"--e", "/i", "-I", "-X", "--x"})
        EXPECT_EQ(RunWith({}, {word, "a.twx", "out"}).exitCode, 7) << word;
    for (const char* word : {"-t", "-l", "-p", "-x"})
        EXPECT_EQ(RunWith({}, {word}).exitCode, 7) << word;
}

TEST(CheckCommand, OneLinePerArchiveAndExitTwoWhenAnyStopped)
{
    const Bytes sound = ArchiveOf({Record("a.txt", Text("abc"))});
    Bytes damaged = ArchiveOf({Record("a.txt", RandomBytes(5000, 3))});
    damaged[damaged.size() / 2] ^= 0x20;
    const RunOutcome run = RunWith({{"gut.twx", sound}, {"kaputt.twx", damaged}, {"text.twx", Text("hallo")}},
                                   {"-t", "gut.twx", "kaputt.twx", "fehlt.twx", "text.twx", "gut.twx"});
    const std::vector<std::string> lines = Split(run.output, '\n');
    ASSERT_EQ(lines.size(), 6u) << run.output;
    EXPECT_EQ(lines[0], "gut.twx: OK\r");
    ASSERT_TRUE(lines[1].starts_with("kaputt.twx: ")) << lines[1];
    EXPECT_TRUE(FindStop(lines[1].substr(12) + "\n").found) << lines[1];
    EXPECT_EQ(lines[2], "fehlt.twx: Lesefehler! - Disk/Datei zerstoert?\r");
    EXPECT_EQ(lines[3], "text.twx: Signatur der Datei besch\xE4""digt - falsches Format?\r");
    EXPECT_EQ(lines[4], "gut.twx: OK\r");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(Current().errors.find("fehlt.twx: "), std::string::npos) << "the missing archive's reason";
    EXPECT_EQ(RunWith({{"gut.twx", sound}}, {"-t", "gut.twx", "gut.twx"}).exitCode, 0);
}

TEST(ScriptListing, FieldsSurviveTabsControlBytesMidnightAndInvalidStamps)
{
    const std::uint32_t midnight = EncodeDosDateTime({2001, 2, 3, 0, 0, 0});
    const RunOutcome run = RunWith({{"a.twx", ArchiveOf({Record("ordner\\mit\tTab und Leer.txt", Text("x"), 0x21, midnight),
                                                         Record("M\xFCller\r\n\x1B[2J\x81.txt", Text("yz"), 0x20, 0)})}},
                                   {"-l", "a.twx"});
    EXPECT_EQ(run.exitCode, 0);
    const std::vector<std::string> lines = Split(run.output, '\n');
    ASSERT_EQ(lines.size(), 4u) << run.output;
    EXPECT_EQ(lines[0], "Name\tDatum\tGroesse\tCRC32\tAttribute");
    EXPECT_EQ(Split(lines[1], '\t'), (std::vector<std::string>{"ordner\\\\mit\\tTab und Leer.txt", "2001-02-03T00:00:00",
                                                                "1", Hex8(ReferenceCrc32(Text("x"))), "21"}));
    EXPECT_EQ(Split(lines[2], '\t'), (std::vector<std::string>{"M\xC3\xBCller\\r\\n\\x1B[2J\\x81.txt", "", "2",
                                                                Hex8(ReferenceCrc32(Text("yz"))), "20"}));
    EXPECT_EQ(lines[3], "");
}

TEST(ScriptListing, StopEndsTheListingWithItsLineOnStandardError)
{
    Bytes archive = ArchiveOf({Record("a.txt", RandomBytes(70000, 5))});
    archive.resize(archive.size() - 300);
    const RunOutcome run = RunWith({{"a.twx", archive}}, {"-l", "a.twx"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.output, "Name\tDatum\tGroesse\tCRC32\tAttribute\n");
    EXPECT_EQ(Current().errors, "Lesefehler! - Disk/Datei zerstoert?\r\n");
}

std::vector<WriterRecord> ThreeRecords()
{
    return {Record("a.txt", Text("eins ")), Record("texte\\b.txt", Text("zwei ")), Record("daten\\B.TXT", Text("drei"))};
}

struct SelectionCase {
    std::vector<std::string> names;
    std::string content;
    int exitCode;
};

class ContentCommand : public testing::TestWithParam<SelectionCase> {};

TEST_P(ContentCommand, WritesTheChosenContentAloneInArchiveOrder)
{
    std::vector<std::string> arguments{"-p", "a.twx"};
    arguments.insert(arguments.end(), GetParam().names.begin(), GetParam().names.end());
    const RunOutcome run = RunWith({{"a.twx", ArchiveOf(ThreeRecords())}}, arguments);
    EXPECT_EQ(run.output, GetParam().content);
    EXPECT_EQ(run.exitCode, GetParam().exitCode);
    EXPECT_EQ(Current().errors.empty(), GetParam().exitCode == 0) << Current().errors;
}

INSTANTIATE_TEST_SUITE_P(
    Names, ContentCommand,
    testing::Values(SelectionCase{{}, "eins zwei drei", 0}, SelectionCase{{"b.txt"}, "zwei drei", 0},
                    SelectionCase{{"texte/B.TXT"}, "zwei ", 0}, SelectionCase{{"*.txt"}, "eins zwei drei", 0},
                    SelectionCase{{"daten\\*"}, "drei", 0}, SelectionCase{{"?.txt", "fehlt"}, "eins zwei drei", 1},
                    SelectionCase{{"texte"}, "", 1}));

TEST(ContentCommand, StopAfterPartOfTheContentEndsWithExitTwo)
{
    Bytes archive = ArchiveOf({Record("a.txt", RandomBytes(100000, 7))});
    archive.resize(archive.size() - 500);
    const RunOutcome run = RunWith({{"a.twx", archive}}, {"-p", "a.twx"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_FALSE(run.output.empty()) << "the blocks before the stop went out";
    EXPECT_EQ(Current().errors, "Lesefehler! - Disk/Datei zerstoert?\r\n");
}

TEST(FolderExtraction, HostileFoldersFailTheirRecordAndNothingLeavesTheFolder)
{
    const std::vector<WriterRecord> records = {
        Record("texte\\a.txt", Text("1")),   Record("daten\\a.txt", Text("2")),  Record("..\\..\\x", Text("3")),
        Record("C:\\abs\\c.txt", Text("4")), Record("\\\\server\\share\\d", Text("5")),
        Record("a\\..\\..\\b", Text("6")),   Record("a\\\\leer", Text("7")),     Record("x\\a:b", Text("8")),
        Record("tief/x/y.txt", Text("9")),   Record("ende\\", Text("10")),
    };
    const RunOutcome run = RunWith({{"a.twx", ArchiveOf(records)}}, {"-x", "a.twx", "out"});
    EXPECT_EQ(run.exitCode, 1);
    std::map<std::string, std::string> files;
    for (const auto& [path, file] : Current().files)
        files[path] = std::string(file.content.begin(), file.content.end());
    EXPECT_EQ(files, (std::map<std::string, std::string>{{"out/texte/a.txt", "1"}, {"out/daten/a.txt", "2"},
                                                          {"out/abs/c.txt", "4"}, {"out/server/share/d", "5"},
                                                          {"out/tief/x/y.txt", "9"}}));
    for (const char* failed : {"..\\..\\x", "a\\..\\..\\b", "a\\\\leer", "x\\a:b", "ende\\"}) {
        EXPECT_NE(run.output.find(Padded(failed, 41) + " ... failed"), std::string::npos) << failed;
        EXPECT_NE(Current().errors.find(std::string(failed) + ": unsicherer Name"), std::string::npos) << failed;
    }
    EXPECT_NE(run.output.find(Padded("texte/a.txt", 41) + " ... extracted"), std::string::npos) << run.output;
}

TEST(FolderExtraction, AFileWhereAFolderBelongsFailsTheRecord)
{
    const RunOutcome run =
        RunWith({{"a.twx", ArchiveOf({Record("x", Text("file")), Record("x\\y.txt", Text("inner"))})}},
                {"-x", "a.twx", "out", "*"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(Current().files.count("out/x/y.txt"), 0u);
    EXPECT_EQ(Current().files.count("out/x"), 1u);
}

TEST(LostOutput, AFullStandardOutputMakesTheExitCodeOne)
{
    for (const char* command : {"-i", "-l", "-p"}) {
        platform::memory::Reset();
        Current().archives["a.twx"] = SampleArchive();
        Current().outputFails = true;
        EXPECT_EQ(RunInProcess({command, "a.twx"}).exitCode, 1) << command;
        EXPECT_EQ(Current().errors, "Standardausgabe konnte nicht geschrieben werden\r\n") << command;
    }
}

TEST(Selection, PatternsIgnoreCaseAndTakeBothSeparators)
{
    const std::vector<std::tuple<const char*, const char*, bool>> cases = {
        {"*.txt", "a.TXT", true},          {"a?c", "abc", true},          {"a?c", "ac", false},
        {"*", "", true},                   {"*a*b*", "xxaxxbxx", true},   {"*a*b", "xxaxxbxxc", false},
        {"texte/*", "TEXTE\\brief", true}, {"\xC4*", "\xE4rger", true},   {"abc", "abcd", false},
        {"**x", "x", true},                {"?", "", false},              {"a*", "ba", false},
    };
    for (const auto& [pattern, text, matches] : cases)
        EXPECT_EQ(MatchesPattern(pattern, text), matches) << pattern << " ~ " << text;

    TSelection selection({"b.txt", "nichts"});
    EXPECT_TRUE(selection.Chooses("texte\\B.txt"));
    EXPECT_FALSE(selection.Chooses("texte\\c.txt"));
    EXPECT_EQ(selection.Unmatched(), std::vector<std::string>{"nichts"});
}

}  // namespace
