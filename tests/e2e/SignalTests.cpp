// "-e" ended from outside or cut short by the system: whatever signal ends
// the run and whichever thread the system hands it to, no temporary file
// stays and every file already in the folder is whole, earlier or new.
#include "EndToEnd.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <random>

namespace e2e {
namespace {

// f0000 to f3999: the small files' names.
std::string SmallName(int i)
{
    char name[16];
    std::snprintf(name, sizeof name, "f%04d", i);
    return name;
}

class Signals : public EndToEndTest {
protected:
    void SetUp() override
    {
        EndToEndTest::SetUp();
        if (RunsUnderWine())
            GTEST_SKIP() << "POSIX signals and limits reach the Win32 build only as Ctrl-C";
        fs::create_directory(Work / "out");
    }

    // True once anything but the earlier file shows up in out/, or it changes.
    std::function<bool()> WhenWritingStarts() const
    {
        return [out = Work / "out"] {
            std::error_code error;
            for (const auto& entry : fs::directory_iterator(out, error)) {
                if (entry.path().filename() != "gross.bin" || fs::file_size(entry.path(), error) != 7)
                    return true;
            }
            return false;
        };
    }
};

TEST_F(Signals, FileSizeLimitReachedMidFileFailsItCleanlyAndTheRunGoesOn)
{
    WriterRecord big = Record("gross.bin", "");
    big.content = RandomBytes(2u << 20, 31);
    Put("a.twx", Archive({big, Record("danach.txt", "abc")}));
    Put("out/gross.bin", Text("frueher"));
    ChildRequest request = Request({"-e", "a.twx", "out"});
    request.fileSizeLimit = 1024000;
    const ChildResult run = RunRequest(request);

    EXPECT_EQ(run.signal, 0) << "ended by the limit's signal";
    EXPECT_EQ(run.exitCode, 1);
    const std::vector<std::string> lines = SplitCrlf(run.output);
    ASSERT_EQ(lines.size(), 8u) << run.output;
    EXPECT_EQ(lines[4].rfind(Padded("gross.bin", 41) + " ...", 0), 0u) << lines[4];
    EXPECT_TRUE(lines[4].ends_with(". failed")) << lines[4];
    EXPECT_EQ(lines[5], ExtractionRow("danach.txt", 1, true));
    EXPECT_EQ(Tree(), (std::vector<std::string>{"a.twx", "out", "out/danach.txt", "out/gross.bin"}));
    EXPECT_EQ(ReadText(Work / "out" / "gross.bin"), "frueher");
}

class EndingSignal : public Signals, public ::testing::WithParamInterface<int> {};

TEST_P(EndingSignal, WhileALargeFileIsWrittenEndsTheRunAndLeavesNoTemporaryFile)
{
    WriterRecord big = Record("gross.bin", "");
    big.content = RandomBytes(6u << 20, 22);
    Put("a.twx", Archive({big}));
    Put("out/gross.bin", Text("frueher"));
    InterruptWhen = WhenWritingStarts();
    ChildRequest request = Request({"-e", "a.twx", "out"});
    request.interruptSignal = GetParam();
    const ChildResult run = RunRequest(request);

    EXPECT_EQ(run.signal, GetParam()) << "exit code " << run.exitCode;
    EXPECT_EQ(Tree(), (std::vector<std::string>{"a.twx", "out", "out/gross.bin"}));
    EXPECT_EQ(ReadText(Work / "out" / "gross.bin"), "frueher");
}

INSTANTIATE_TEST_SUITE_P(Kinds, EndingSignal,
    ::testing::Values(SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPROF),
    [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

// Many small files, so that most signals land while a temporary file is
// being created or renamed, on a run that decodes ahead on a second thread.
TEST_F(Signals, TerminationAtRandomMomentsAmongManySmallFilesLeavesOnlyWholeFiles)
{
    std::vector<WriterRecord> records;
    for (int i = 0; i < 4000; ++i) {
        WriterRecord record = Record(SmallName(i), "");
        record.content = RandomBytes(300, static_cast<std::uint32_t>(i));
        records.push_back(std::move(record));
    }
    Put("a.twx", Archive(records));
    std::mt19937 random(7);
    const int runs = UNTWX_SANITIZED ? 6 : 24;
    for (int run = 0; run < runs; ++run) {
        SCOPED_TRACE(::testing::Message() << "run " << run);
        fs::remove_all(Work / "out");
        fs::create_directory(Work / "out");
        for (int i = 0; i < 4000; i += 97)
            Put((fs::path("out") / SmallName(i)).string(), Text("frueher"));
        const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(random() % 500);
        InterruptWhen = [due] { return std::chrono::steady_clock::now() >= due; };
        ChildRequest request = Request({"-e", "a.twx", "out"});
        request.interruptSignal = SIGTERM;
        // Output to the null device: no wait on a pipe, so the signals land
        // mostly while files are created and renamed.
        request.closedDescriptors = {1};
        const ChildResult ended = RunRequest(request);

        EXPECT_TRUE(ended.signal == SIGTERM || ended.exitCode == 0) << "exit code " << ended.exitCode;
        for (const auto& entry : fs::directory_iterator(Work / "out")) {
            const std::string name = entry.path().filename().string();
            ASSERT_EQ(name[0], 'f') << "left behind: " << name;
            const Bytes content = ReadBytes(entry.path());
            const bool earlier = std::stoi(name.substr(1)) % 97 == 0 && content == Text("frueher");
            EXPECT_TRUE(earlier || content == records[static_cast<std::size_t>(std::stoi(name.substr(1)))].content)
                << name << " is neither the earlier nor the whole new file";
        }
    }
}

// The folder is looked up once: replacing its path by a link during the run
// sends no file through the link.
TEST_F(Signals, TargetFolderRenamedAndReplacedByALinkMidRunKeepsGettingEveryFile)
{
    std::vector<WriterRecord> records;
    for (int i = 0; i < 2000; ++i)
        records.push_back(::Record(SmallName(i), RandomBytes(300, static_cast<std::uint32_t>(i))));
    Put("a.twx", Archive(records));
    bool replaced = false;
    InterruptWhen = [this, &replaced] {
        std::error_code error;
        if (!replaced && !fs::is_empty(Work / "out", error)) {
            fs::rename(Work / "out", Work / "moved");
            fs::create_directory(Work / "decoy");
            fs::create_directory_symlink(Work / "decoy", Work / "out");
            replaced = true;
        }
        return false;
    };
    ChildRequest request = Request({"-e", "a.twx", "out"});
    request.closedDescriptors = {1};
    const ChildResult run = RunRequest(request);

    EXPECT_EQ(run.exitCode, 0);
    ASSERT_TRUE(replaced) << "the run ended before the folder was replaced";
    EXPECT_TRUE(fs::is_empty(Work / "decoy")) << "files went through the link";
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(Work / "moved")) {
        const int index = std::stoi(entry.path().filename().string().substr(1));
        EXPECT_TRUE(ReadBytes(entry.path()) == records[static_cast<std::size_t>(index)].content) << entry.path();
        ++files;
    }
    EXPECT_EQ(files, records.size());
}

// With "-x" each stored folder is entered anew for its record, relative to
// the one above and never through a link: a link swapped in for it during
// the run fails the later records and takes no file.
TEST_F(Signals, StoredFolderReplacedByALinkMidRunTakesNoFile)
{
    std::vector<WriterRecord> records;
    for (int i = 0; i < 2000; ++i)
        records.push_back(::Record("texte\\" + SmallName(i), RandomBytes(300, static_cast<std::uint32_t>(i))));
    Put("a.twx", Archive(records));
    bool replaced = false;
    std::vector<fs::path> moved;
    InterruptWhen = [this, &replaced, &moved] {
        std::error_code error;
        if (!replaced && !fs::is_empty(Work / "out" / "texte", error) && !error) {
            fs::create_directory(Work / "decoy");
            // The run may make the folder anew between the move and the
            // link: that one is moved away as well.
            do {
                moved.push_back(Work / ("moved" + std::to_string(moved.size())));
                fs::rename(Work / "out" / "texte", moved.back());
                fs::create_directory_symlink(Work / "decoy", Work / "out" / "texte", error);
            } while (error && moved.size() < 100);
            replaced = !error;
        }
        return false;
    };
    ChildRequest request = Request({"-x", "a.twx", "out"});
    request.closedDescriptors = {1};
    const ChildResult run = RunRequest(request);

    ASSERT_TRUE(replaced) << "the run ended before the folder was replaced";
    EXPECT_EQ(run.exitCode, 1) << "the records after the swap fail";
    EXPECT_TRUE(fs::is_empty(Work / "decoy")) << "files went through the link";
    for (const fs::path& folder : moved)
        for (const auto& entry : fs::directory_iterator(folder)) {
            const int index = std::stoi(entry.path().filename().string().substr(1));
            EXPECT_TRUE(ReadBytes(entry.path()) == records[static_cast<std::size_t>(index)].content) << entry.path();
        }
}

}  // namespace
}  // namespace e2e
