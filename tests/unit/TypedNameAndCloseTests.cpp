// "-e" in-process: typed archive and folder names in the start line shown
// with their control characters as '?' while the real names are opened, and
// a close that reports an error failing the file it closes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "InProcessRun.h"
#include "MemoryPlatform.h"

namespace {

using platform::memory::Current;

struct TypedNames {
    const char* archive;
    const char* folder;
    bool eightBit;
    const char* startLine;
};

void PrintTo(const TypedNames& names, std::ostream* out)
{
    *out << ::testing::PrintToString(std::string(names.archive)) << " into "
         << ::testing::PrintToString(std::string(names.folder)) << (names.eightBit ? ", 8-bit" : "");
}

class TypedNamesInTheStartLine : public ::testing::TestWithParam<TypedNames> {};

TEST_P(TypedNamesInTheStartLine, ShowControlCharactersAsQuestionMarksAndOpenTheRealNames)
{
    platform::memory::Reset();
    const TypedNames& names = GetParam();
    Current().eightBitConsole = names.eightBit;
    Current().archives[names.archive] = SampleArchive();
    const RunOutcome run = RunInProcess({"-e", names.archive, names.folder});

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output.substr(0, run.output.find("\r\n")), names.startLine);
    EXPECT_EQ(Current().files.count(std::string(names.folder) + "/abc.txt"), 1u) << "extracted elsewhere";
}

INSTANTIATE_TEST_SUITE_P(Names, TypedNamesInTheStartLine,
    ::testing::Values(TypedNames{"a\x1B]0;x\x07.twx", "o\x1B[2J", false, "enpacke das Archiv a?]0;x?.twx nach o?[2J/"},
        TypedNames{"a\r\nb\x7F.twx", "o\t", true, "enpacke das Archiv a??b?.twx nach o?/"},
        // C1 controls: the UTF-8 pair is one character; a lone byte counts on an 8-bit terminal only.
        TypedNames{"a\xC2\x9B"
                   "2J.twx",
            "o\x9B", false, "enpacke das Archiv a?2J.twx nach o\x9B/"},
        TypedNames{"a\xC2\x9B"
                   "2J.twx",
            "o\x9B", true, "enpacke das Archiv a?2J.twx nach o?/"},
        // Letters stay as typed, also where UTF-8 uses the bytes 0x80 to 0x9F.
        TypedNames{"\xD0\xB0\xD1\x80\xD1\x85.twx", "\xC3\xA4\xE2\x82\xAC", true,
            "enpacke das Archiv \xD0\xB0\xD1\x80\xD1\x85.twx nach \xC3\xA4\xE2\x82\xAC/"}));

TEST(FailingClose, FailsTheFileAndLeavesNoTemporaryFile)
{
    platform::memory::Reset();
    Current().archives["a.twx"] = SampleArchive();
    Current().closeFails = true;
    const RunOutcome run = RunInProcess({"-e", "a.twx", "out"});

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("abc.txt                                   ... failed\r\n"), std::string::npos)
        << run.output;
    EXPECT_TRUE(Current().files.empty());
    EXPECT_TRUE(Current().pendingFile.empty());
    EXPECT_EQ(Current().openHandles, 0);
}

}  // namespace
