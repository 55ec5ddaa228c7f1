// "-e" as a user sees it: the report, the files, their times and attributes,
// and the names that must not be created.
#include "EndToEnd.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace e2e {
namespace {

std::string OutFolder()
{
    return std::string("out") + FolderSeparator();
}

// Start line and block-size line of an extraction of a.twx into out.
std::string Opening()
{
    return CrLfLines({StartLine("a.twx", OutFolder()), "", "Blockgroesse: 32768 Bytes", ""});
}

std::string Closing()
{
    return CrLfLines({"", "-done"});
}

class Extraction : public EndToEndTest {
protected:
    void SetUp() override
    {
        EndToEndTest::SetUp();
        fs::create_directory(Work / "out");
    }

    ChildResult Extract(const Bytes& archive, Environment environment = {})
    {
        Put("a.twx", archive);
        return Run({"-e", "a.twx", "out"}, "", std::move(environment));
    }
};

TEST_F(Extraction, SampleFileGetsContentAndStoredLocalTime)
{
    const ChildResult run = Extract(SampleArchive());

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, Opening() + CrLfLines({ExtractionRow(SampleName, 1, true)}) + Closing());
    EXPECT_EQ(ReadText(Work / "out" / SampleName), "abc");
    // With the zone set to UTC, local 12:30:00 is 12:30:00 UTC in both builds.
    EXPECT_EQ(StatusOf(Work / "out" / SampleName).st_mtime, UtcSeconds(2003, 6, 15, 12, 30, 0));
}

TEST_F(Extraction, ContentSpanningThreeBlocksPrintsThreeDots)
{
    WriterRecord big = Record("big.bin", "", EncodeDosDateTime({2003, 6, 15, 12, 30, 0}));
    big.content = RandomBytes(2 * BlockSizeUnit, 11);  // from byte 20 of block 1 to byte 19 of block 3
    Put("a.twx", Archive({big, Record("after.txt", "abc")}, 1));
    RunWithAndWithoutSecondThread({"-e", "a.twx", "out"}, [this, &big](const ChildResult& run) {
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.output,
            Opening() + CrLfLines({ExtractionRow("big.bin", 3, true), ExtractionRow("after.txt", 1, true)}) +
                Closing());
        EXPECT_TRUE(ReadBytes(Work / "out" / "big.bin") == big.content) << "content differs";
        EXPECT_EQ(ReadText(Work / "out" / "after.txt"), "abc");
    });
}

TEST_F(Extraction, ReadOnlyRecordEndsAsFileWithoutWritePermission)
{
    const ChildResult run = Extract(Archive({Record("nurlesen.txt", "abc", EncodeDosDateTime({2003, 6, 15, 12, 30, 0}), 0x21),
                                             Record("normal.txt", "abc", EncodeDosDateTime({2003, 6, 15, 12, 30, 0}), 0x20)}));

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, Opening() +
                              CrLfLines({ExtractionRow("nurlesen.txt", 1, true), ExtractionRow("normal.txt", 1, true)}) +
                              Closing());
    EXPECT_EQ(ReadText(Work / "out" / "nurlesen.txt"), "abc");
    EXPECT_EQ(StatusOf(Work / "out" / "nurlesen.txt").st_mode & 0222, 0u);
    EXPECT_NE(StatusOf(Work / "out" / "normal.txt").st_mode & 0200, 0u);
}

TEST_F(Extraction, LaterRecordOverAReadOnlyFileFailsAndLeavesIt)
{
    const ChildResult run = Extract(Archive({Record("eins\\gleich.txt", "frueher", EncodeDosDateTime({2003, 6, 15, 12, 30, 0}), 0x21),
                                             Record("zwei\\gleich.txt", "spaeter"), Record("danach.txt", "d")}));

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, Opening() +
                              CrLfLines({ExtractionRow("gleich.txt", 1, true), ExtractionRow("gleich.txt", 1, false),
                                    ExtractionRow("danach.txt", 1, true)}) +
                              Closing());
    EXPECT_EQ(ReadText(Work / "out" / "gleich.txt"), "frueher");
    EXPECT_EQ(StatusOf(Work / "out" / "gleich.txt").st_mode & 0222, 0u);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"a.twx", "out", "out/danach.txt", "out/gleich.txt"}));
}

TEST_F(EndToEndTest, MissingTargetFolderIsMadeWithItsParents)
{
    Put("a.twx", Archive({Record("voll.txt", "abc"), Record("leer.txt", "")}));
    const ChildResult run = Run({"-e", "a.twx", "fehlt/tief"});

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, CrLfLines({StartLine("a.twx", std::string("fehlt/tief") + FolderSeparator()), "",
                                "Blockgroesse: 32768 Bytes", "", ExtractionRow("voll.txt", 1, true),
                                ExtractionRow("leer.txt", 0, true), "", "-done"}));
    EXPECT_EQ(Tree(), (std::vector<std::string>{"a.twx", "fehlt", "fehlt/tief", "fehlt/tief/leer.txt",
                                                "fehlt/tief/voll.txt"}));
    EXPECT_EQ(ReadText(Work / "fehlt" / "tief" / "voll.txt"), "abc");
}

TEST_F(EndToEndTest, TargetFolderBlockedByAFileFailsEveryRecord)
{
    Put("a.twx", Archive({Record("voll.txt", "abc"), Record("leer.txt", "")}));
    Put("fehlt", Text("a file"));
    const ChildResult run = Run({"-e", "a.twx", "fehlt"});

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, CrLfLines({StartLine("a.twx", std::string("fehlt") + FolderSeparator()), "",
                                "Blockgroesse: 32768 Bytes", "", ExtractionRow("voll.txt", 1, false),
                                ExtractionRow("leer.txt", 0, false), "", "-done"}));
    EXPECT_EQ(Tree(), (std::vector<std::string>{"a.twx", "fehlt"}));
    EXPECT_EQ(ReadText(Work / "fehlt"), "a file");
}

TEST_F(Extraction, UnsafeStoredNamesFailAndCreateNothingWhileNextRecordSucceeds)
{
    const std::string zeroByte("z\0y", 3);
    const ChildResult run = Extract(Archive({Record("../x", "evil"), Record("a/b", "evil"), Record("..", "evil"),
                                             Record(".", "evil"), Record("dir\\", "evil"), Record(zeroByte, "evil"),
                                             Record("good.txt", "fine")}));

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, Opening() +
                              CrLfLines({ExtractionRow("../x", 1, false), ExtractionRow("a/b", 1, false),
                                    ExtractionRow("..", 1, false), ExtractionRow(".", 1, false),
                                    ExtractionRow("", 1, false), ExtractionRow("z?y", 1, false),
                                    ExtractionRow("good.txt", 1, true)}) +
                              Closing());
    EXPECT_EQ(Tree(), std::vector<std::string>({"a.twx", "out", "out/good.txt"}));
    EXPECT_EQ(ReadText(Work / "out" / "good.txt"), "fine");
}

TEST_F(Extraction, PlantedSymbolicLinkAtOutputPathIsReplacedNotFollowed)
{
    if (RunsUnderWine())
        GTEST_SKIP() << "Win32 programs do not meet POSIX symbolic links as such";
    Put("opfer.txt", Text("keep"));
    ASSERT_EQ(::chmod((Work / "opfer.txt").c_str(), 0644), 0);
    fs::create_symlink("../opfer.txt", Work / "out" / SampleName);
    const ChildResult run = Extract(Archive({Record(SampleName, "abc", EncodeDosDateTime({2003, 6, 15, 12, 30, 0}), 0x21)}));

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, Opening() + CrLfLines({ExtractionRow(SampleName, 1, true)}) + Closing());
    EXPECT_EQ(ReadText(Work / "opfer.txt"), "keep");
    EXPECT_EQ(StatusOf(Work / "opfer.txt").st_mode & 0777, 0644u) << "the read-only attribute went through the link";
    EXPECT_FALSE(fs::is_symlink(Work / "out" / SampleName));
    EXPECT_EQ(ReadText(Work / "out" / SampleName), "abc");
}

TEST_F(Extraction, HardLinkAtOutputPathIsReplacedNotWrittenThrough)
{
    Put("opfer.txt", Text("keep"));
    fs::create_hard_link(Work / "opfer.txt", Work / "out" / SampleName);
    const ChildResult run = Extract(SampleArchive());

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, Opening() + CrLfLines({ExtractionRow(SampleName, 1, true)}) + Closing());
    EXPECT_EQ(ReadText(Work / "opfer.txt"), "keep");
    EXPECT_EQ(fs::hard_link_count(Work / "opfer.txt"), 1u);
    EXPECT_EQ(ReadText(Work / "out" / SampleName), "abc");
}

// Records around one named like the archive, whose content spans four blocks.
Bytes ArchiveHoldingItsOwnName()
{
    WriterRecord big = Record("sub\\a.twx", "");
    big.content = RandomBytes(3 * BlockSizeUnit, 5);
    return Archive({Record("vorher.txt", "v"), big, Record("danach.txt", "d")});
}

TEST_F(EndToEndTest, ArchiveExtractedIntoItsOwnFolderIsNotReplacedByItsRecord)
{
    const Bytes archive = ArchiveHoldingItsOwnName();
    Put("a.twx", archive);
    const ChildResult run = Run({"-e", "a.twx", "."});

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, CrLfLines({StartLine("a.twx", std::string(".") + FolderSeparator()), "",
                                "Blockgroesse: 32768 Bytes", "", ExtractionRow("vorher.txt", 1, true),
                                ExtractionRow("a.twx", 4, false), ExtractionRow("danach.txt", 1, true), "",
                                "-done"}));
    EXPECT_TRUE(ReadBytes(Work / "a.twx") == archive) << "the archive was changed";
    EXPECT_EQ(Tree(), (std::vector<std::string>{"a.twx", "danach.txt", "vorher.txt"}));
}

TEST_F(Extraction, HardLinkOfTheArchiveInTheTargetFolderIsNotReplaced)
{
    const Bytes archive = ArchiveHoldingItsOwnName();
    Put("a.twx", archive);
    fs::create_hard_link(Work / "a.twx", Work / "out" / "a.twx");
    const ChildResult run = Run({"-e", "a.twx", "out"});

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, Opening() +
                              CrLfLines({ExtractionRow("vorher.txt", 1, true), ExtractionRow("a.twx", 4, false),
                                    ExtractionRow("danach.txt", 1, true)}) +
                              Closing());
    EXPECT_TRUE(ReadBytes(Work / "out" / "a.twx") == archive) << "the archive was changed";
    EXPECT_EQ(fs::hard_link_count(Work / "a.twx"), 2u);
}

// Writes bytes through descriptor in pieces with pauses, as a slow producer
// would, then closes it. Gives up when the reader stops reading.
void FeedInPieces(int descriptor, const Bytes& bytes)
{
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) | O_NONBLOCK);
    std::size_t done = 0;
    std::size_t piece = 5;  // the first piece ends inside the header
    while (done < bytes.size()) {
        pollfd writable{descriptor, POLLOUT, 0};
        if (::poll(&writable, 1, 10000) != 1)
            break;
        const ssize_t written = ::write(descriptor, bytes.data() + done, std::min(piece, bytes.size() - done));
        if (written < 0 && errno == EAGAIN)
            continue;
        if (written <= 0)
            break;
        // Long enough after the first piece for the program to be waiting
        // for the rest of the header.
        std::this_thread::sleep_for(std::chrono::milliseconds(done == 0 ? 300 : 15));
        done += static_cast<std::size_t>(written);
        piece = 7000;
    }
    ::close(descriptor);
}

TEST_F(Extraction, ArchiveReadFromAFifoInSeveralWritesGivesEveryFile)
{
    WriterRecord big = Record("gross.bin", "");
    big.content = RandomBytes(3 * BlockSizeUnit, 21);
    const Bytes archive = Archive({big, Record("danach.txt", "abc")});
    ASSERT_EQ(::mkfifo((Work / "a.fifo").c_str(), 0600), 0);
    // Opened for reading too, so it opens at once and the FIFO has a writer
    // before the program opens it (Wine does not wait for one).
    const int descriptor = ::open((Work / "a.fifo").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(descriptor, 0);
    std::thread feeder(FeedInPieces, descriptor, archive);
    const ChildResult run = Run({"-e", "a.fifo", "out"});
    feeder.join();

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, CrLfLines({StartLine("a.fifo", OutFolder()), "", "Blockgroesse: 32768 Bytes", "",
                                ExtractionRow("gross.bin", 4, true), ExtractionRow("danach.txt", 1, true)}) +
                              Closing());
    EXPECT_TRUE(ReadBytes(Work / "out" / "gross.bin") == big.content) << "content differs";
    EXPECT_EQ(ReadText(Work / "out" / "danach.txt"), "abc");
}

TEST_F(Extraction, InterruptWhileALargeFileIsWrittenLeavesTheEarlierFileAndNoTemporaryOne)
{
    WriterRecord big = Record("gross.bin", "");
    big.content = RandomBytes(6u << 20, 22);
    Put("a.twx", Archive({big}));
    Put("out/gross.bin", Text("frueher"));
    // As soon as anything but the earlier file shows up, or it changes.
    const fs::path out = Work / "out";
    InterruptWhen = [out] {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(out, error)) {
            if (entry.path().filename() != "gross.bin" || fs::file_size(entry.path(), error) != 7)
                return true;
        }
        return false;
    };
    const ChildResult run = Run({"-e", "a.twx", "out"});

    EXPECT_EQ(run.output.find("-done"), std::string::npos) << "the run ended before the interrupt";
    if (!RunsUnderWine()) {
        EXPECT_EQ(run.signal, SIGINT);
    }
    EXPECT_EQ(Tree(), (std::vector<std::string>{"a.twx", "out", "out/gross.bin"}));
    EXPECT_EQ(ReadText(out / "gross.bin"), "frueher");
}

TEST_F(Extraction, DeviceNamesFailOnlyOnWin32)
{
    const ChildResult run = Extract(Archive({Record("CON", "abc"), Record("nul.txt", "abc"), Record("ok.txt", "abc")}));

    const bool devices = RunsUnderWine();
    EXPECT_EQ(run.exitCode, devices ? 1 : 0);
    EXPECT_EQ(run.output, Opening() +
                              CrLfLines({ExtractionRow("CON", 1, !devices), ExtractionRow("nul.txt", 1, !devices),
                                    ExtractionRow("ok.txt", 1, true)}) +
                              Closing());
    EXPECT_EQ(ReadText(Work / "out" / "ok.txt"), "abc");
    if (devices) {
        EXPECT_EQ(Tree(), std::vector<std::string>({"a.twx", "out", "out/ok.txt"}));
    } else {
        EXPECT_EQ(ReadText(Work / "out" / "CON"), "abc");
        EXPECT_EQ(ReadText(Work / "out" / "nul.txt"), "abc");
    }
}

class NonAsciiName : public Extraction, public ::testing::WithParamInterface<std::string> {};

TEST_P(NonAsciiName, IsConvertedFromWindows1252OnlyForUtf8Locale)
{
    const bool utf8Locale = GetParam() == GermanLocale;
    if (RunsUnderWine() && !utf8Locale)
        GTEST_SKIP() << "under Wine every run uses the German locale";
    const std::string stored = "M\xFCller.txt";  // u-umlaut in Windows-1252
    const ChildResult run = Extract(Archive({Record(stored, "abc")}), {{"LC_ALL", GetParam()}, {"LANG", GetParam()}});

    // Wine writes console bytes unchanged; the native build converts them.
    const bool utf8Console = !RunsUnderWine() && utf8Locale;
    const std::string utf8 = "M\xC3\xBCller.txt";
    std::string row = CrLfLines({ExtractionRow(stored, 1, true)});
    if (utf8Console)
        row.replace(1, 1, "\xC3\xBC");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, Opening() + row + Closing());
    EXPECT_EQ(Tree(), std::vector<std::string>({"a.twx", "out", "out/" + (utf8Locale ? utf8 : stored)}));
}

INSTANTIATE_TEST_SUITE_P(Locales, NonAsciiName, ::testing::Values("C", GermanLocale),
                         [](const auto& info) { return std::string(info.index == 0 ? "PlainLocale" : "Utf8Locale"); });

}  // namespace
}  // namespace e2e
