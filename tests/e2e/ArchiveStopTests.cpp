// Damaged archives: every stop prints its line and ends with exit code 2.
#include "EndToEnd.h"

#include <cstdio>
#include <cstring>

namespace e2e {
namespace {

Bytes WithHeader(const WriterOptions& options)
{
    Bytes archive = BuildHeader(options);
    const Bytes sample = SampleArchive();
    archive.insert(archive.end(), sample.begin() + HeaderSize, sample.end());
    return archive;
}

struct HeaderCase {
    const char* name;
    Bytes archive;
    std::vector<std::string> lines;  // an entry ending in '*' only fixes the line's start
};

void PrintTo(const HeaderCase& header, std::ostream* out)
{
    *out << header.name;
}

class HeaderStop : public EndToEndTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(HeaderStop, PrintsItsMessageAloneAndEndsWithStopCode)
{
    Put("a.twx", GetParam().archive);
    const ChildResult run = Run({"-i", "a.twx"});

    EXPECT_EQ(run.exitCode, 2);
    const std::vector<std::string> lines = SplitCrlf(run.output);
    ASSERT_EQ(lines.size(), GetParam().lines.size()) << run.output;
    ASSERT_EQ(run.output.substr(run.output.size() - 2), "\r\n");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& wanted = GetParam().lines[i];
        if (!wanted.empty() && wanted.back() == '*') {
            EXPECT_EQ(lines[i].substr(0, wanted.size() - 1), wanted.substr(0, wanted.size() - 1));
            EXPECT_NE(lines[i].find(" oder "), std::string::npos) << "two addresses joined by \" oder \"";
        } else {
            EXPECT_EQ(lines[i], wanted);
        }
    }
}

Bytes FlippedHeaderWord()
{
    Bytes archive = SampleArchive();
    archive[7] ^= 0x10;
    return archive;
}

Bytes SwappedMark()
{
    Bytes archive = SampleArchive();
    std::swap(archive[14], archive[15]);
    return archive;
}

Bytes BlockSizeCode(std::uint8_t code)
{
    Bytes archive = SampleArchive();
    archive[16] = code;
    return archive;
}

WriterOptions Version(std::uint16_t version)
{
    WriterOptions options;
    options.version = version;
    return options;
}

INSTANTIATE_TEST_SUITE_P(
    Headers, HeaderStop,
    ::testing::Values(
        HeaderCase{"DamagedHeaderWord", FlippedHeaderWord(), {"Header CRC ungueltig - Datei zerstoert?"}},
        HeaderCase{"OtherVersion",
                   WithHeader(Version(136)),
                   {"Updates dieses Programms auf *",
                    "Dateiversion ungeeignet - bitte entsprechende Software suchen..."}},
        HeaderCase{"SwappedEntryMark", SwappedMark(), {"Blockeinstiegspunkt kann nicht gefunden werden..."}},
        HeaderCase{"BlockSizeCodeZero", BlockSizeCode(0), {"ungueltige Blockgroesse..."}},
        HeaderCase{"BlockSizeCode65", BlockSizeCode(65), {"ungueltige Blockgroesse..."}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EndToEndTest, ListingStopsAtDamagedBlockCrc)
{
    Bytes archive = SampleArchive();
    const std::uint8_t stored[] = {0xEF, 0xBE, 0xAD, 0xDE};
    std::memcpy(archive.data() + SampleBlockCrcOffset, stored, 4);
    Put("a.twx", archive);
    const ChildResult run = Run({"-i", "a.twx"});

    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.output,
              ListingHead(SampleBlockSize) +
                  CrLfLines({"BlockCRCFehler! (is:DEADBEEF should:61617918) - Abbruch, Datei zerstoert!"}));
}

TEST_F(EndToEndTest, ListingOfTruncatedArchiveStopsWithReadError)
{
    Bytes archive = SampleArchive();
    archive.resize(40);
    Put("a.twx", archive);
    const ChildResult run = Run({"-i", "a.twx"});

    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.output, ListingHead(SampleBlockSize) + ReadErrorLines());
}

// Two blocks: small.txt inside the first, big.bin from the first into the second.
std::vector<std::uint8_t> TwoBlockStream()
{
    WriterRecord small = Record("small.txt", "abc");
    // Content that does not compress much, so it runs into the second block.
    WriterRecord big = Record("big.bin", "");
    big.content = RandomBytes(40000, 7);
    std::vector<std::uint8_t> stream = BuildDecodedStream({small, big});
    stream.resize(2 * BlockSizeUnit, 0);
    return stream;
}

std::string ExtractionStart()
{
    return CrLfLines({StartLine("a.twx", std::string("out") + FolderSeparator()), "", "Blockgroesse: 32768 Bytes", "",
                 ExtractionRow("small.txt", 1, true)}) +
           Padded("big.bin", 41) + " ...";
}

TEST_F(EndToEndTest, ExtractionStopsAtDamagedCrcOfSecondBlock)
{
    const std::vector<std::uint8_t> stream = TwoBlockStream();
    ArchiveEncoder encoder{WriterOptions{}};
    encoder.EncodeBlock(stream.data());
    BlockFieldOverrides damaged;
    damaged.crc = 0x01234567;
    const BlockFields second = encoder.EncodeBlock(stream.data() + BlockSizeUnit, damaged);
    ASSERT_NE(second.crc, 0x01234567u);
    Put("a.twx", encoder.Finish());
    RunWithAndWithoutSecondThread({"-e", "a.twx", "out"}, [this, &second](const ChildResult& run) {
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.output,
            ExtractionStart() +
                CrLfLines(
                    {"BlockCRCFehler! (is:01234567 should:" + Hex8(second.crc) + ") - Abbruch, Datei zerstoert!"}));
        EXPECT_EQ(ReadText(Work / "out" / "small.txt"), "abc");
        EXPECT_EQ(Tree(), (std::vector<std::string>{"a.twx", "out", "out/small.txt"})) << "a fragment stayed";
    });
}

TEST_F(EndToEndTest, DamagedCopyExtractedOverTheGoodFilesLeavesThemUnchanged)
{
    const std::vector<std::uint8_t> stream = TwoBlockStream();
    ArchiveEncoder good{WriterOptions{}};
    good.EncodeBlock(stream.data());
    good.EncodeBlock(stream.data() + BlockSizeUnit);
    ArchiveEncoder damaged{WriterOptions{}};
    damaged.EncodeBlock(stream.data());
    BlockFieldOverrides wrongCrc;
    wrongCrc.crc = 0x01234567;
    damaged.EncodeBlock(stream.data() + BlockSizeUnit, wrongCrc);
    fs::create_directory(Work / "out");
    Put("a.twx", good.Finish());
    ASSERT_EQ(Run({"-e", "a.twx", "out"}).exitCode, 0);
    const Bytes content = ReadBytes(Work / "out" / "big.bin");
    const fs::file_time_type written = fs::last_write_time(Work / "out" / "big.bin");
    ASSERT_EQ(content.size(), 40000u);

    Put("a.twx", damaged.Finish());
    const ChildResult run = Run({"-e", "a.twx", "out"});

    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.output.find("BlockCRCFehler! (is:01234567"), std::string::npos) << run.output;
    EXPECT_TRUE(ReadBytes(Work / "out" / "big.bin") == content) << "the good file was changed";
    EXPECT_TRUE(fs::last_write_time(Work / "out" / "big.bin") == written) << "the good file's date was changed";
    EXPECT_EQ(Tree(), (std::vector<std::string>{"a.twx", "out", "out/big.bin", "out/small.txt"}));
}

TEST_F(EndToEndTest, ExtractionOfArchiveCutInSecondBlockStopsWithReadError)
{
    const std::vector<std::uint8_t> stream = TwoBlockStream();
    const Bytes whole = WriteArchive(stream, WriterOptions{});
    const Bytes firstOnly =
        WriteArchive(std::vector<std::uint8_t>(stream.begin(), stream.begin() + BlockSizeUnit), WriterOptions{});
    ASSERT_LT(firstOnly.size() + 100, whole.size());
    ASSERT_TRUE(std::equal(firstOnly.begin(), firstOnly.end() - 1, whole.begin()))
        << "the first block's code must be a prefix of the two-block archive";
    Put("a.twx", Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(firstOnly.size() + 100)));
    RunWithAndWithoutSecondThread({"-e", "a.twx", "out"}, [this](const ChildResult& run) {
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.output, ExtractionStart() + ReadErrorLines());
        EXPECT_EQ(Tree(), (std::vector<std::string>{"a.twx", "out", "out/small.txt"})) << "a fragment stayed";
    });
}

}  // namespace
}  // namespace e2e
