// Waits and pauses serve a person at a console: Enter prompts only when
// standard output and input are both consoles, the closing pause only when
// standard output is one. Run in-process for every kind of console.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "ArchiveWriter.h"
#include "InProcessRun.h"
#include "TestSupport.h"
#include "MemoryPlatform.h"

namespace {

using platform::memory::Current;

constexpr char Prompt[] = "press enter to continue...";

struct ConsoleKind {
    const char* name;
    bool output;
    bool input;
};

constexpr ConsoleKind ConsoleKinds[] = {{"Person", true, true}, {"InputRedirected", true, false},
    {"OutputRedirected", false, true}, {"Script", false, false}};

void PrintTo(const ConsoleKind& kind, std::ostream* out)
{
    *out << kind.name;
}

RunOutcome RunOn(const ConsoleKind& kind, const std::vector<std::string>& arguments, const Bytes& archive = {},
                 const std::string& standardInput = {})
{
    platform::memory::Reset();
    Current().outputIsConsole = kind.output;
    Current().inputIsConsole = kind.input;
    Current().archives["a.twx"] = archive;
    Current().standardInput = standardInput;
    return RunInProcess(arguments);
}

std::vector<std::uint32_t> ClosingPause(const ConsoleKind& kind)
{
    return kind.output ? std::vector<std::uint32_t>{5000} : std::vector<std::uint32_t>{};
}

std::string WithoutPrompts(std::string text, const std::string& prompt)
{
    for (std::size_t at = text.find(prompt); at != std::string::npos; at = text.find(prompt))
        text.erase(at, prompt.size());
    return text;
}

Bytes NumberedArchive(int records)
{
    std::vector<WriterRecord> list;
    for (int number = 1; number <= records; ++number)
        list.push_back(Record("datei" + std::to_string(number) + ".txt", Text("abc")));
    return WriteArchive(list, WriterOptions{});
}

class Consoles : public ::testing::TestWithParam<ConsoleKind> {};

TEST_P(Consoles, WelcomeScreenWaitsOnlyWhenSomeoneCanAnswer)
{
    const ConsoleKind person{"person", true, true};
    const RunOutcome reference = RunOn(person, {}, {}, "\nnext\n");
    const RunOutcome run = RunOn(GetParam(), {}, {}, "\nnext\n");
    const bool waits = GetParam().output && GetParam().input;

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, waits ? reference.output : WithoutPrompts(reference.output, Prompt));
    EXPECT_EQ(Current().standardInput, waits ? "next\n" : "\nnext\n") << "one line read, or none";
    EXPECT_EQ(Current().pauses, ClosingPause(GetParam()));
}

TEST_P(Consoles, ListingPagesOnlyWhenSomeoneCanAnswer)
{
    const ConsoleKind person{"person", true, true};
    const Bytes archive = NumberedArchive(42);
    const RunOutcome reference = RunOn(person, {"-i", "a.twx"}, archive, "\n\n");
    ASSERT_NE(reference.output.find(Prompt), std::string::npos);
    const RunOutcome run = RunOn(GetParam(), {"-i", "a.twx"}, archive, "\n\n");
    const bool waits = GetParam().output && GetParam().input;

    EXPECT_EQ(run.exitCode, 0);
    // Without a wait the page end adds nothing: no empty line, no prompt.
    EXPECT_EQ(run.output, waits ? reference.output : WithoutPrompts(reference.output, std::string("\r\n") + Prompt));
    EXPECT_EQ(Current().standardInput, waits ? "" : "\n\n");
    EXPECT_EQ(Current().pauses, ClosingPause(GetParam()));
}

Bytes WithByte(std::size_t at, std::uint8_t value)
{
    Bytes archive = SampleArchive();
    archive[at] = value;
    return archive;
}

Bytes FirstBytes(std::size_t count)
{
    Bytes archive = SampleArchive();
    archive.resize(count);
    return archive;
}

// One way for a run to end: its command line, the archive "a.twx" holds, the
// exit code and a line it prints, and whether the closing pause follows.
struct Ending {
    const char* name;
    std::vector<std::string> arguments;
    Bytes archive;
    int exitCode;
    std::string line;
    bool pauses = true;
};

const std::vector<Ending>& Endings()
{
    static const Bytes sample = SampleArchive();
    static const std::vector<Ending> endings{
        {"UnknownCommand", {"-X"}, {}, 7, "ungueltiger Befehlsparameter, benutzen Sie:"},
        {"MissingFolder", {"-e", "a.twx"}, {}, 7, "nicht genug Parameter"},
        {"Listing", {"-i", "a.twx"}, sample, 0,
            "abc.txt                                   15.06.2003 12:30:00        3 352441C2"},
        {"Extraction", {"-e", "a.twx", "out"}, sample, 0, "-done"},
        {"MissingArchive", {"-i", "missing.twx"}, {}, 2, "Lesefehler! - Disk/Datei zerstoert?"},
        {"DamagedHeaderCrc", {"-i", "a.twx"}, WithByte(10, sample[10] ^ 1), 2,
            "Header CRC ungueltig - Datei zerstoert?"},
        {"DamagedBlockCrc", {"-i", "a.twx"}, WithByte(25, sample[25] ^ 1), 2,
            "BlockCRCFehler! (is:61617919 should:61617918) - Abbruch, Datei zerstoert!"},
        {"DamagedBlock", {"-i", "a.twx"}, WithByte(30, sample[30] ^ 0x10), 2, "Lesefehler! - Disk/Datei zerstoert?"},
        {"CutArchive", {"-e", "a.twx", "out"}, FirstBytes(30), 2, "Lesefehler! - Disk/Datei zerstoert?"},
        {"WrongSignature", {"-i", "a.twx"}, WithByte(0, 'X'), 2,
            "Signatur der Datei besch\xE4"
            "digt - falsches Format?",
            false},
    };
    return endings;
}

class ConsoleEndings : public ::testing::TestWithParam<std::tuple<ConsoleKind, std::size_t>> {};

TEST_P(ConsoleEndings, EveryEndingButTheSignatureStopPausesOnlyOnAConsole)
{
    const auto& [kind, index] = GetParam();
    const Ending& ending = Endings()[index];
    const RunOutcome run = RunOn(kind, ending.arguments, ending.archive);

    EXPECT_EQ(run.exitCode, ending.exitCode);
    EXPECT_NE(("\r\n" + run.output).find("\r\n" + ending.line + "\r\n"), std::string::npos) << run.output;
    EXPECT_EQ(Current().pauses, ending.pauses ? ClosingPause(kind) : std::vector<std::uint32_t>{});
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Consoles, ::testing::ValuesIn(ConsoleKinds), [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Kinds, ConsoleEndings,
    ::testing::Combine(::testing::ValuesIn(ConsoleKinds), ::testing::Range<std::size_t>(0, Endings().size())),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_" + Endings()[std::get<1>(info.param)].name;
    });

}  // namespace
