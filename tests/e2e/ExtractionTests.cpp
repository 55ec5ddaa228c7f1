// "-e" as a user sees it: the report, the files, their times and attributes,
// and the names that must not be created.
#include "EndToEnd.h"

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

// A fixed pseudo-random sequence, so the blocks do not shrink to nothing.
Bytes Noise(std::size_t size, std::uint32_t seed)
{
    Bytes bytes(size);
    for (auto& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(seed >> 24);
    }
    return bytes;
}

TEST_F(Extraction, ContentSpanningThreeBlocksPrintsThreeDots)
{
    WriterRecord big = Record("big.bin", "", EncodeDosDateTime({2003, 6, 15, 12, 30, 0}));
    big.content = Noise(2 * BlockSizeUnit, 11);  // from byte 20 of block 1 to byte 19 of block 3
    const ChildResult run = Extract(Archive({big, Record("after.txt", "abc")}, 1));

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output,
              Opening() + CrLfLines({ExtractionRow("big.bin", 3, true), ExtractionRow("after.txt", 1, true)}) + Closing());
    EXPECT_TRUE(ReadBytes(Work / "out" / "big.bin") == big.content) << "content differs";
    EXPECT_EQ(ReadText(Work / "out" / "after.txt"), "abc");
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

TEST_F(EndToEndTest, MissingTargetFolderFailsEveryRecord)
{
    Put("a.twx", Archive({Record("voll.txt", "abc"), Record("leer.txt", "")}));
    const ChildResult run = Run({"-e", "a.twx", "fehlt"});

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, CrLfLines({StartLine("a.twx", std::string("fehlt") + FolderSeparator()), "",
                                "Blockgroesse: 32768 Bytes", "", ExtractionRow("voll.txt", 1, false),
                                ExtractionRow("leer.txt", 0, false), "", "-done"}));
    EXPECT_EQ(Tree(), std::vector<std::string>({"a.twx"}));
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

TEST_F(Extraction, PlantedLinkAtOutputPathIsNotFollowed)
{
    if (RunsUnderWine())
        GTEST_SKIP() << "Win32 programs do not meet POSIX symbolic links as such";
    Put("opfer.txt", Text("keep"));
    fs::create_symlink("../opfer.txt", Work / "out" / SampleName);
    const ChildResult run = Extract(SampleArchive());

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, Opening() + CrLfLines({ExtractionRow(SampleName, 1, false)}) + Closing());
    EXPECT_EQ(ReadText(Work / "opfer.txt"), "keep");
    EXPECT_TRUE(fs::is_symlink(Work / "out" / SampleName));
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
