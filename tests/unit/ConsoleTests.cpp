// Waits and pauses serve a person at a console: Enter prompts only when
// standard output and input are both consoles, the closing pause only when
// standard output is one. Run in-process for every kind of console.
#include <gtest/gtest.h>

#include <string>
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

TEST_P(Consoles, EveryEndingButTheSignatureStopPausesOnlyOnAConsole)
{
    Bytes damagedCrc = SampleArchive();
    damagedCrc[10] ^= 1;  // stored header CRC
    Bytes damagedBlock = SampleArchive();
    damagedBlock[30] ^= 0x10;
    Bytes cut = SampleArchive();
    cut.resize(30);
    struct Ending {
        std::vector<std::string> arguments;
        Bytes archive;
    };
    const std::vector<Ending> endings{
        {{"-x"}, {}},  {{"-e", "a.twx"}, {}}, {{"-i", "a.twx"}, SampleArchive()}, {{"-e", "a.twx", "out"}, SampleArchive()},
        {{"-i", "missing.twx"}, {}}, {{"-i", "a.twx"}, damagedCrc}, {{"-i", "a.twx"}, damagedBlock},
        {{"-e", "a.twx", "out"}, cut}};
    for (const Ending& ending : endings) {
        SCOPED_TRACE(ending.arguments.back() + " of " + std::to_string(ending.archive.size()) + " bytes");
        const RunOutcome run = RunOn(GetParam(), ending.arguments, ending.archive);
        EXPECT_NE(run.exitCode, -1);
        EXPECT_EQ(Current().pauses, ClosingPause(GetParam()));
    }

    Bytes wrongSignature = SampleArchive();
    wrongSignature[0] = 'X';
    const RunOutcome run = RunOn(GetParam(), {"-i", "a.twx"}, wrongSignature);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(Current().pauses.empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, Consoles,
                         ::testing::Values(ConsoleKind{"Person", true, true}, ConsoleKind{"InputRedirected", true, false},
                                           ConsoleKind{"OutputRedirected", false, true},
                                           ConsoleKind{"Script", false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
