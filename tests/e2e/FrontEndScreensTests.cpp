// Screens of the front end and command-line checks, seen from outside the
// process through pipes.
#include "EndToEnd.h"

namespace e2e {
namespace {

constexpr char ProductName[] = "Tarnwell Compression";

bool StartsWith(const std::string& text, std::string_view prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& text, std::string_view suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Wording of the title's middle part is free; its frame is not.
void ExpectTitleLine(const std::string& line)
{
    EXPECT_EQ(line.size(), 79u) << line;
    EXPECT_TRUE(StartsWith(line, ProductName)) << line;
    ASSERT_GE(line.size(), 57u);
    EXPECT_EQ(line.substr(57), "decompressions Version") << "must fill columns 58 to 79";
}

// A line of free wording: present, printable on one console line.
void ExpectWordedLine(const std::string& line)
{
    EXPECT_NE(line.find_first_not_of(' '), std::string::npos) << "line is empty or blank";
    EXPECT_LE(line.size(), 79u) << line;
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
}

void ExpectMissingParameterScreen(const ChildResult& run, bool editionTitle)
{
    EXPECT_EQ(run.exitCode, 7);
    const std::vector<std::string> lines = SplitCrlf(run.output);
    ASSERT_EQ(lines.size(), 4u) << run.output;
    if (editionTitle) {
        EXPECT_TRUE(StartsWith(lines[0], ProductName)) << lines[0];
        EXPECT_TRUE(EndsWith(lines[0], "spezielle Orvald-Kinne-Preis Version")) << lines[0];
    } else {
        ExpectTitleLine(lines[0]);
    }
    ExpectWordedLine(lines[1]);
    EXPECT_EQ(run.output, CrLfLines({lines[0], lines[1], "", "nicht genug Parameter"}));
}

class WelcomeScreen : public EndToEndTest, public ::testing::WithParamInterface<std::string> {};

// Through pipes nobody can answer the prompt: the screen comes without it
// and whatever is on standard input stays unread.
TEST_P(WelcomeScreen, ThroughPipesShowsThirtyThreeLinesWithoutThePrompt)
{
    const ChildResult run = Run({}, GetParam());

    EXPECT_EQ(run.exitCode, 0);
    const std::vector<std::string> parts = SplitCrlf(run.output);
    ASSERT_EQ(parts.size(), 33u) << run.output;
    ExpectTitleLine(parts[0]);
    ExpectWordedLine(parts[1]);
    for (int line : {6, 7, 8, 9, 10, 11, 14, 15})
        ExpectWordedLine(parts[static_cast<std::size_t>(line - 1)]);

    std::vector<std::string> screen = {
        parts[0], parts[1], "", "ein spezielles Dankeschoen an:", std::string(30, '^'),
        parts[5], parts[6], parts[7], parts[8], parts[9], parts[10], "", "und nicht zuletzt...",
        parts[13], parts[14], "", "", "", "",
        "Fuer die Funktion dieses Programmes uebernehme ich/wir keine Garantie.",
        "Es bestehen keine Ansprueche durch Verwendung entstehender Schaeden.",
        "Benutzung auf eigene Gefahr !", "", "", "", "Benutzen Sie:", std::string(13, '^')};
    EXPECT_EQ(run.output, CrLfLines(screen) + CrLfLines(UsageBlock()));
}

INSTANTIATE_TEST_SUITE_P(StandardInput, WelcomeScreen, ::testing::Values("\n", ""),
                         [](const auto& info) { return info.param.empty() ? "InputAtEnd" : "EnterPressed"; });

class InvalidCommandWord : public EndToEndTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(InvalidCommandWord, ShowsUsageAndEndsWithCommandLineError)
{
    Put("a.twx", SampleArchive());
    const ChildResult run = Run({GetParam(), "a.twx", "out"});

    EXPECT_EQ(run.exitCode, 7);
    const std::vector<std::string> lines = SplitCrlf(run.output);
    ASSERT_EQ(lines.size(), 11u) << run.output;
    ExpectTitleLine(lines[0]);
    ExpectWordedLine(lines[1]);
    EXPECT_EQ(run.output, CrLfLines({lines[0], lines[1], "", "ungueltiger Befehlsparameter, benutzen Sie:", ""}) +
                              CrLfLines(UsageBlock()));
    EXPECT_FALSE(fs::exists(Work / "out"));
}

INSTANTIATE_TEST_SUITE_P(CommandWords, InvalidCommandWord, ::testing::Values("-I", "/i", "--i"),
                         [](const auto& info) {
                             return std::string(info.index == 0 ? "Capital" : info.index == 1 ? "Slash" : "DoubleDash");
                         });

TEST_F(EndToEndTest, ListCommandWithoutArchiveShowsEditionTitle)
{
    ExpectMissingParameterScreen(Run({"-i"}), true);
}

TEST_F(EndToEndTest, ExtractCommandWithoutFolderShowsOrdinaryTitle)
{
    Put("a.twx", SampleArchive());
    ExpectMissingParameterScreen(Run({"-e", "a.twx"}), false);
}

TEST_F(EndToEndTest, EmptyArgumentIsSkippedSoExtractLacksItsFolder)
{
    Put("a.twx", SampleArchive());
    ExpectMissingParameterScreen(Run({"-e", "a.twx", ""}), false);
}

TEST_F(EndToEndTest, ArgumentsAfterListedArchiveAreIgnored)
{
    Put("a.twx", SampleArchive());
    const ChildResult run = RunGerman({"-i", "a.twx", "extra", "-e"});

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, ListingHead(SampleBlockSize) +
                              CrLfLines({ListingRow(SampleName, GermanDate(15, 6, 2003) + " 12:30:00", 3, SampleCrc)}));
}

struct FolderForm {
    const char* name;
    std::string given;
    std::string shown;
};

void PrintTo(const FolderForm& form, std::ostream* out)
{
    *out << '"' << form.given << '"';
}

class TargetFolderForm : public EndToEndTest, public ::testing::WithParamInterface<FolderForm> {};

TEST_P(TargetFolderForm, StartLineShowsOneFinalSeparatorAndFileLandsInFolder)
{
    Put("a.twx", SampleArchive());
    fs::create_directory(Work / "out");
    const ChildResult run = Run({"-e", "a.twx", GetParam().given});

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, CrLfLines({StartLine("a.twx", GetParam().shown), "", "Blockgroesse: 32768 Bytes", "",
                                ExtractionRow(SampleName, 1, true), "", "-done"}));
    EXPECT_EQ(ReadText(Work / "out" / SampleName), "abc");
}

INSTANTIATE_TEST_SUITE_P(
    Forms, TargetFolderForm,
    ::testing::Values(FolderForm{"WithoutSeparator", "out", std::string("out") + FolderSeparator()},
                      FolderForm{"WithSeparator", std::string("out") + FolderSeparator(),
                                 std::string("out") + FolderSeparator()},
                      FolderForm{"WithSlashOnEverySystem", "./out/", "./out/"}),
    [](const auto& info) { return std::string(info.param.name); });

class UnopenableArchive : public EndToEndTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(UnopenableArchive, StopsWithReadError)
{
    fs::create_directory(Work / "folder");
    const ChildResult run = Run({"-i", GetParam()});

    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.output, ReadErrorLines());
}

INSTANTIATE_TEST_SUITE_P(Paths, UnopenableArchive, ::testing::Values("missing.twx", "folder"),
                         [](const auto& info) { return std::string(info.index == 0 ? "Missing" : "Folder"); });

class SignatureStop : public EndToEndTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(SignatureStop, PrintsItsLineInTheLocalesCharacterSet)
{
    if (RunsUnderWine() && GetParam() != GermanLocale)
        GTEST_SKIP() << "under Wine every run uses the German locale";
    Bytes archive = SampleArchive();
    archive[3] = 0;  // "TWL" and a zero byte
    Put("a.twx", archive);
    const ChildResult run = Run({"-i", "a.twx"}, "", {{"LC_ALL", GetParam()}, {"LANG", GetParam()}});

    // The a-umlaut is Windows-1252 0xE4; a native run converts it only for a UTF-8 locale.
    const bool converted = !RunsUnderWine() && GetParam() == GermanLocale;
    const std::string umlaut = converted ? "\xC3\xA4" : "\xE4";
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.output, CrLfLines({"Signatur der Datei besch" + umlaut + "digt - falsches Format?"}));
}

INSTANTIATE_TEST_SUITE_P(Locales, SignatureStop, ::testing::Values("C", GermanLocale),
                         [](const auto& info) { return std::string(info.index == 0 ? "PlainLocale" : "Utf8Locale"); });

}  // namespace
}  // namespace e2e
