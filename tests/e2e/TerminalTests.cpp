// Waits and pauses for a person at a terminal, none for pipes and scripts;
// output that survives a reader going away; names that cannot steer the
// terminal; the out-of-memory line; four-digit years.
#include "EndToEnd.h"

namespace e2e {
namespace {

using std::chrono::milliseconds;

constexpr char Prompt[] = "press enter to continue...";
constexpr int PauseMilliseconds = 5000;

std::string NumberedName(int number)
{
    return "datei" + TwoDigits(number) + ".txt";
}

Bytes NumberedArchive(int records)
{
    std::vector<WriterRecord> list;
    for (int number = 1; number <= records; ++number)
        list.push_back(Record(NumberedName(number), "abc"));
    return Archive(list);
}

std::string NumberedRows(int first, int last)
{
    std::string rows;
    for (int number = first; number <= last; ++number)
        rows += CrLfLines({ListingRow(NumberedName(number), GermanDate(24, 12, 2003) + " 23:59:58", 3, SampleCrc)});
    return rows;
}

class Terminal : public EndToEndTest {
protected:
    // A prompt as the terminal shows it once answered: the Win32 console
    // echoes the Enter that ends the line, the test terminal echoes nothing.
    static std::string AnsweredPrompt() { return std::string(Prompt) + (RunsUnderWine() ? "\r\n" : ""); }

    // A text as a person sees it on the terminal. Wine's console draws with
    // control sequences of its own and leaves out blanks at a line's end.
    static std::string Seen(std::string text)
    {
        if (!RunsUnderWine())
            return text;
        text = ScreenText(text);
        for (std::size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", end + 2)) {
            std::size_t start = end;
            while (start > 0 && text[start - 1] == ' ')
                --start;
            text.erase(start, end - start);
            end = start;
        }
        return text;
    }

    ChildResult RunOnTerminal(std::vector<std::string> arguments, Environment environment = {},
                              bool inputOnTerminal = true) const
    {
        ChildRequest request = Request(std::move(arguments), "", std::move(environment), true);
        request.terminalInput = inputOnTerminal;
        request.prompt = Prompt;
        ChildResult result = RunRequest(request);
        result.output = Seen(result.output);
        return result;
    }
};

TEST_F(Terminal, WelcomeScreenWaitsForEnterAfterItsPrompt)
{
    const ChildResult piped = Run({});
    const ChildResult run = RunOnTerminal({});

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.promptsAnswered, 1);
    EXPECT_TRUE(run.waitedAtEveryPrompt) << "the usage must wait for Enter";
    // The prompt stands where the pipe run has line 26, the empty line that closes it.
    std::string expected = piped.output;
    std::size_t lineEnd = 0;
    for (int line = 0; line < 24; ++line)
        lineEnd = expected.find("\r\n", lineEnd) + 2;
    expected.insert(lineEnd, AnsweredPrompt());
    EXPECT_EQ(run.output, Seen(expected));
}

TEST_F(Terminal, WithoutInputFromTheTerminalNoPromptIsShownButTheRunStillPauses)
{
    const ChildResult piped = Run({});
    const ChildResult run = RunOnTerminal({}, {}, false);

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.promptsAnswered, 0);
    EXPECT_EQ(run.output, Seen(piped.output));
    EXPECT_GE(run.sinceLastOutput.count(), PauseMilliseconds - 200);
}

TEST_F(Terminal, SixtyRowListingPagesAfterRowsNineteenAndFortyTwo)
{
    Put("a.twx", NumberedArchive(60));
    const ChildResult run = RunOnTerminal({"-i", "a.twx"}, GermanSettings());

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.promptsAnswered, 2);
    EXPECT_TRUE(run.waitedAtEveryPrompt) << "a page must wait for Enter";
    const std::string pageEnd = "\r\n" + AnsweredPrompt();
    EXPECT_EQ(run.output, Seen(ListingHead(SampleBlockSize) + NumberedRows(1, 19) + pageEnd + NumberedRows(20, 42) +
                               pageEnd + NumberedRows(43, 60)));
}

TEST_F(Terminal, RunPausesFiveSecondsAfterItsLastLine)
{
    Put("a.twx", SampleArchive());
    const ChildResult run = RunOnTerminal({"-i", "a.twx"});

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_GE(run.sinceLastOutput.count(), PauseMilliseconds - 200);
    EXPECT_LT(run.sinceLastOutput.count(), 2 * PauseMilliseconds) << "about five seconds";
}

TEST_F(Terminal, StopPausesButSignatureStopEndsAtOnce)
{
    Bytes archive = SampleArchive();
    Put("crc.twx", archive);
    archive[3] = 0;  // "TWL" and a zero byte
    Put("signature.twx", archive);
    Put("empty.twx", {});

    const ChildResult readError = RunOnTerminal({"-i", "empty.twx"});
    EXPECT_EQ(readError.exitCode, 2);
    EXPECT_EQ(readError.output, Seen(ReadErrorLines()));
    EXPECT_GE(readError.sinceLastOutput.count(), PauseMilliseconds - 200);

    const ChildResult signature = RunOnTerminal({"-i", "signature.twx"});
    EXPECT_EQ(signature.exitCode, 2);
    EXPECT_LT(signature.sinceLastOutput.count(), PauseMilliseconds / 2);
}

// The same runs through pipes: no prompt, no pause, standard input unread.
TEST_F(EndToEndTest, SixtyRowListingThroughPipesIsTheTableAlone)
{
    Put("a.twx", NumberedArchive(60));
    const ChildResult run = RunGerman({"-i", "a.twx"}, "\n\n\n");

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, ListingHead(SampleBlockSize) + NumberedRows(1, 60));
}

TEST_F(EndToEndTest, RunsThroughPipesEndWithoutThePause)
{
    Put("a.twx", SampleArchive());
    fs::create_directory(Work / "out");
    const std::vector<std::vector<std::string>> commands{{}, {"-X"}, {"-i"}, {"-i", "a.twx"},
                                                         {"-e", "a.twx", "out"}, {"-i", "missing.twx"}};
    for (const auto& arguments : commands) {
        const ChildResult run = Run(arguments);
        const std::string shown = arguments.empty() ? "(none)" : arguments.back();
        EXPECT_NE(run.exitCode, -1) << shown;
        EXPECT_LT(run.sinceLastOutput.count(), PauseMilliseconds - 1000) << "arguments ending in " << shown;
    }
}

// A reader that goes away, or descriptors closed at start, change nothing
// about the files and the exit code.
class BrokenConsole : public EndToEndTest {
protected:
    void SetUp() override
    {
        EndToEndTest::SetUp();
        fs::create_directory(Work / "out");
        for (int number = 0; number < 4; ++number)
            Contents.push_back(std::string(30000, static_cast<char>('a' + number)) + NumberedName(number));
        std::vector<WriterRecord> records;
        for (int number = 0; number < 4; ++number)
            records.push_back(Record(NumberedName(number), Contents[static_cast<std::size_t>(number)]));
        Put("a.twx", Archive(records));
    }

    void ExpectEveryFileComplete() const
    {
        std::vector<std::string> expected{"a.twx", "out"};
        for (int number = 0; number < 4; ++number) {
            expected.push_back("out/" + NumberedName(number));
            EXPECT_TRUE(ReadText(Work / "out" / NumberedName(number)) == Contents[static_cast<std::size_t>(number)])
                << NumberedName(number) << " differs";
        }
        EXPECT_EQ(Tree(), expected);
    }

    std::vector<std::string> Contents;
};

TEST_F(BrokenConsole, ExtractionWhoseOutputReaderHasGoneWritesEveryFile)
{
    ChildRequest request = Request({"-e", "a.twx", "out"});
    request.outputReaderGone = true;
    const ChildResult run = RunRequest(request);

    EXPECT_EQ(run.exitCode, 0) << "ended by a signal when -1";
    ExpectEveryFileComplete();
}

TEST_F(BrokenConsole, ExtractionWithClosedStandardDescriptorsWritesEveryFileAndNoConsoleText)
{
    if (RunsUnderWine())
        GTEST_SKIP() << "Wine's own start-up needs descriptors 0 to 2 and fails without them";
    ChildRequest request = Request({"-e", "a.twx", "out"});
    request.closedDescriptors = {0, 1, 2};
    const Bytes archive = ReadBytes(Work / "a.twx");
    const ChildResult run = RunRequest(request);

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "");
    ExpectEveryFileComplete();
    EXPECT_TRUE(ReadBytes(Work / "a.twx") == archive) << "the archive must stay untouched";
}

// Names that would retitle the window, clear the screen, forge a row or
// overprint a name.
struct HostileName {
    std::string stored;
    std::string shown;
};

std::vector<HostileName> HostileNames()
{
    return {{"\x1B]0;titel\x07x.txt", "?]0;titel?x.txt"},
            {"\x1B[2Jleer.txt", "?[2Jleer.txt"},
            {"zeile\r\nfalsch.txt", "zeile??falsch.txt"},
            {"weg\b\b\bhin.txt", "weg???hin.txt"},
            {std::string("nul\0und\x7F.txt", 12), "nul?und?.txt"},
            {"c1\x81\x8D\x8F\x90\x9D.txt", "c1?????.txt"}};
}

std::vector<WriterRecord> HostileRecords()
{
    std::vector<WriterRecord> records;
    for (const HostileName& name : HostileNames())
        records.push_back(Record(name.stored, "abc"));
    return records;
}

TEST_F(EndToEndTest, ControlCharactersInListedNamesShowAsQuestionMarks)
{
    Put("a.twx", Archive(HostileRecords()));
    const ChildResult run = RunGerman({"-i", "a.twx"});

    std::string expected = ListingHead(SampleBlockSize);
    for (const HostileName& name : HostileNames())
        expected += CrLfLines({ListingRow(name.shown, GermanDate(24, 12, 2003) + " 23:59:58", 3, SampleCrc)});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, expected);
}

TEST_F(EndToEndTest, ControlCharactersInExtractedNamesShowAsQuestionMarksWhileFilesKeepTheirNames)
{
    if (RunsUnderWine())
        GTEST_SKIP() << "Win32 file names cannot hold control characters";
    fs::create_directory(Work / "out");
    std::vector<WriterRecord> records = HostileRecords();
    records.erase(records.begin() + 4);  // a zero byte never names a file
    Put("a.twx", Archive(records));
    const ChildResult run = Run({"-e", "a.twx", "out"});

    std::string rows;
    std::vector<std::string> tree{"a.twx", "out"};
    for (const HostileName& name : HostileNames()) {
        if (name.stored.find('\0') != std::string::npos)
            continue;
        rows += CrLfLines({ExtractionRow(name.shown, 1, true)});
        tree.push_back("out/" + name.stored);
        EXPECT_EQ(ReadText(Work / "out" / name.stored), "abc");
    }
    std::sort(tree.begin(), tree.end());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, CrLfLines({StartLine("a.twx", "out/"), "", "Blockgroesse: 32768 Bytes", ""}) + rows +
                              CrLfLines({"", "-done"}));
    EXPECT_EQ(Tree(), tree);
}

// In a locale other than UTF-8 the bytes go out unconverted, and a terminal
// of an 8-bit character set takes 0x80 to 0x9F for control characters.
TEST_F(EndToEndTest, EightBitLocaleShowsEveryByteFrom80To9FAsQuestionMark)
{
    if (RunsUnderWine())
        GTEST_SKIP() << "the Win32 console shows its own code page";
    Put("a.twx", Archive({Record("euro\x80\x9B\x9F\xA0\xE4.txt", "abc")}));
    const ChildResult run = Run({"-i", "a.twx"});

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, ListingHead(SampleBlockSize) +
                              CrLfLines({ListingRow("euro???\xA0\xE4.txt", "12/24/2003 23:59:58", 3, SampleCrc)}));
}

TEST_F(EndToEndTest, PlainLocaleShowsFourDigitYears)
{
    if (RunsUnderWine())
        GTEST_SKIP() << "under Wine every run uses the German locale";
    Put("a.twx", Archive({Record("alt.txt", "abc", EncodeDosDateTime({1980, 1, 1, 0, 0, 2})),
                          Record("neu.txt", "abc", EncodeDosDateTime({2107, 12, 31, 23, 59, 58}))}));
    const ChildResult run = Run({"-i", "a.twx"});

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, ListingHead(SampleBlockSize) +
                              CrLfLines({ListingRow("alt.txt", "01/01/1980 00:00:02", 3, SampleCrc),
                                    ListingRow("neu.txt", "12/31/2107 23:59:58", 3, SampleCrc)}));
}

TEST_F(EndToEndTest, OutOfMemoryPrintsItsLineAndEndsWithCodeEight)
{
    if (RunsUnderWine() || UNTWX_SANITIZED)
        GTEST_SKIP() << "an address-space limit applies only to a plain native process";
    Put("small.twx", SampleArchive());
    Put("big.twx", Archive({Record(SampleName, "abc")}, 64));  // needs more than 14 MiB of buffers

    ChildRequest request = Request({"-i", "small.twx"});
    request.addressSpaceLimit = 12u << 20;
    const ChildResult small = RunRequest(request);
    EXPECT_EQ(small.exitCode, 0) << "the limit leaves room for a small block size";

    request.arguments = {"-i", "big.twx"};
    const ChildResult big = RunRequest(request);
    EXPECT_EQ(big.exitCode, 8);
    EXPECT_EQ(big.output, CrLfLines({"Nicht genug Arbeitsspeicher - Programm wird beendet..."}));
}

}  // namespace
}  // namespace e2e
