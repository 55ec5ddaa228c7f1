// The "-e" command run in-process: report lines, files written with their
// dates and attributes, refused names, failed creations and a stop mid-file.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "ArchiveWriter.h"
#include "InProcessRun.h"
#include "TestSupport.h"
#include "MemoryPlatform.h"

namespace {

using platform::memory::Current;

constexpr std::uint32_t Block = 32768;

// A report line: the name, " ..", one dot per chunk, and the verdict.
std::string Line(const std::string& displayName, int dots, bool extracted = true)
{
    return Padded(displayName, 41) + " .." + std::string(dots, '.') + (extracted ? " extracted" : " failed") + "\r\n";
}

// Everything an extraction of a.twx into out prints around its report lines.
std::string Screen(const std::string& lines, std::uint32_t blockSize = Block)
{
    return "enpacke das Archiv a.twx nach out/\r\n\r\nBlockgroesse: " + std::to_string(blockSize) + " Bytes\r\n\r\n" +
           lines + "\r\n-done\r\n";
}

Bytes Extracted(const std::string& path)
{
    const auto found = Current().files.find(path);
    return found == Current().files.end() ? Bytes{} : found->second.content;
}

std::vector<std::string> CreatedPaths()
{
    std::vector<std::string> paths;
    for (const auto& [path, file] : Current().files)
        paths.push_back(path);
    return paths;
}

RunOutcome ExtractRecords(const std::vector<WriterRecord>& records, std::uint8_t code = 1)
{
    WriterOptions options;
    options.blockSizeCode = code;
    return ExtractInMemory(WriteArchive(records, options));
}

TEST(ExtractionReport, SampleArchivePrintsOneExtractedLine)
{
    const RunOutcome run = ExtractInMemory(SampleArchive());
    EXPECT_EQ(run.output, "enpacke das Archiv a.twx nach out/\r\n"
                          "\r\n"
                          "Blockgroesse: 32768 Bytes\r\n"
                          "\r\n"
                          "abc.txt                                   ... extracted\r\n"
                          "\r\n"
                          "-done\r\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(Current().pauses, std::vector<std::uint32_t>{5000});
}

TEST(ExtractionReport, SampleArchiveFileKeepsContentDateAndAttributes)
{
    ExtractInMemory(SampleArchive());
    ASSERT_EQ(CreatedPaths(), std::vector<std::string>{"out/abc.txt"});
    const platform::memory::StoredFile& file = Current().files.at("out/abc.txt");
    EXPECT_EQ(file.content, Text("abc"));
    EXPECT_EQ(file.dosDateTime, 0x2ECF63C0u);
    EXPECT_TRUE(file.attributesSet);
    EXPECT_EQ(file.attributes, 0x20u);
    EXPECT_EQ(Current().openHandles, 0);
}

TEST(ExtractionReport, EmptyDirectoryPrintsOnlyTheFrame)
{
    const RunOutcome run = ExtractRecords({});
    EXPECT_EQ(run.output, Screen(""));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(Current().files.empty());
}

TEST(ExtractionReport, EmptyFileIsCreatedDatedAndReportedWithoutDot)
{
    const RunOutcome run = ExtractRecords({Record("leer.dat", {}, 0x22), Record("danach.txt", Text("d"))});
    EXPECT_EQ(run.output, Screen(Line("leer.dat", 0) + Line("danach.txt", 1)));
    ASSERT_EQ(Current().files.count("out/leer.dat"), 1u);
    const platform::memory::StoredFile& file = Current().files.at("out/leer.dat");
    EXPECT_TRUE(file.content.empty());
    EXPECT_EQ(file.dosDateTime, JuneNoonHalf);
    EXPECT_EQ(file.attributes, 0x22u);
    EXPECT_EQ(Extracted("out/danach.txt"), Text("d"));
}

TEST(ExtractionChunks, ContentInsideOneBlockPrintsOneDotAndThreeBlocksPrintThree)
{
    const Bytes small = RandomBytes(1000, 1);
    const Bytes big = RandomBytes(2 * Block, 2);  // starts 18 bytes into block 1, ends 18 bytes into block 3
    const RunOutcome run = ExtractRecords({Record("big.bin", big), Record("klein.bin", small)});
    EXPECT_EQ(run.output, Screen(Line("big.bin", 3) + Line("klein.bin", 1)));
    EXPECT_EQ(Extracted("out/big.bin"), big);
    EXPECT_EQ(Extracted("out/klein.bin"), small);
    EXPECT_EQ(run.exitCode, 0);
}

TEST(ExtractionChunks, ContentEndingAtOrJustBeforeABlockEndIsFollowedByTheNextRecord)
{
    for (std::size_t gap : {0u, 1u}) {
        SCOPED_TRACE(gap);
        const Bytes first = RandomBytes(Block - 18 - gap, 3);
        const Bytes next = RandomBytes(300, 4);
        const RunOutcome run = ExtractRecords({Record("a.bin", first), Record("next.bin", next), Record("z.txt", Text("z"))});
        EXPECT_EQ(run.output, Screen(Line("a.bin", 1) + Line("next.bin", 1) + Line("z.txt", 1)));
        EXPECT_EQ(Extracted("out/a.bin"), first);
        EXPECT_EQ(Extracted("out/next.bin"), next);
        EXPECT_EQ(Extracted("out/z.txt"), Text("z"));
    }
}

TEST(ExtractionChunks, HeaderEndingAtABlockEndPrintsADotForTheEmptyChunk)
{
    // "b.bin"'s header and name take the last 18 bytes of block 1.
    const Bytes first = RandomBytes(Block - 18 - 18, 5);
    const Bytes second = RandomBytes(100, 6);
    const RunOutcome run = ExtractRecords({Record("a.bin", first), Record("b.bin", second), Record("c.txt", Text("c"))});
    EXPECT_EQ(run.output, Screen(Line("a.bin", 1) + Line("b.bin", 2) + Line("c.txt", 1)));
    EXPECT_EQ(Extracted("out/b.bin"), second);
    EXPECT_EQ(Extracted("out/c.txt"), Text("c"));
}

TEST(ExtractionChunks, LargerBlockSizeKeepsTheContentInOneChunk)
{
    const Bytes content = RandomBytes(50000, 7);
    const RunOutcome run = ExtractRecords({Record("mittel.bin", content)}, 2);
    EXPECT_EQ(run.output, Screen(Line("mittel.bin", 1), 65536));
    EXPECT_EQ(Extracted("out/mittel.bin"), content);
}

TEST(ExtractionMetadata, InvalidStoredDateStillExtractsWithoutSettingTheDate)
{
    const std::uint32_t monthZero = 0x2E0F63C0;  // June 2003 with the month bits cleared
    const RunOutcome run = ExtractRecords({Record("ohne-datum.txt", Text("inhalt"), 0x20, monthZero)});
    EXPECT_EQ(run.output, Screen(Line("ohne-datum.txt", 1)));
    EXPECT_EQ(run.exitCode, 0);
    const platform::memory::StoredFile& file = Current().files.at("out/ohne-datum.txt");
    EXPECT_EQ(file.content, Text("inhalt"));
    EXPECT_EQ(file.dosDateTime, 0u);
    EXPECT_EQ(file.attributes, 0x20u);
}

TEST(ExtractionMetadata, ReadOnlyAttributeIsStoredWithTheFullContent)
{
    const Bytes content = RandomBytes(40000, 8);
    const RunOutcome run = ExtractRecords({Record("schutz.bin", content, 0x01)});
    EXPECT_EQ(run.output, Screen(Line("schutz.bin", 2)));
    const platform::memory::StoredFile& file = Current().files.at("out/schutz.bin");
    EXPECT_EQ(file.content, content);
    EXPECT_EQ(file.attributes, 0x01u);
    EXPECT_EQ(file.dosDateTime, JuneNoonHalf);
}

TEST(ExtractionMetadata, SameDisplayNameTwiceKeepsTheLaterContent)
{
    const RunOutcome run = ExtractRecords({Record("eins\\gleich.txt", Text("frueher"), 0x20, JuneNoonHalf),
                                           Record("zwei\\gleich.txt", Text("spaeter"), 0x02, 0x2ECF63C1)});
    EXPECT_EQ(run.output, Screen(Line("gleich.txt", 1) + Line("gleich.txt", 1)));
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(CreatedPaths(), std::vector<std::string>{"out/gleich.txt"});
    const platform::memory::StoredFile& file = Current().files.at("out/gleich.txt");
    EXPECT_EQ(file.content, Text("spaeter"));
    EXPECT_EQ(file.attributes, 0x02u);
    EXPECT_EQ(file.dosDateTime, 0x2ECF63C1u);
}

TEST(ExtractionMetadata, LaterRecordOverAReadOnlyFileFailsAndLeavesItUntouched)
{
    const RunOutcome run = ExtractRecords({Record("eins\\gleich.txt", Text("frueher"), 0x01, JuneNoonHalf),
                                           Record("zwei\\gleich.txt", Text("spaeter"), 0x20, 0x2ECF63C1),
                                           Record("drei\\gleich.txt", {}, 0x20, 0x2ECF63C1),
                                           Record("danach.txt", Text("danach"))});
    EXPECT_EQ(run.output, Screen(Line("gleich.txt", 1) + Line("gleich.txt", 1, false) + Line("gleich.txt", 0, false) +
                                 Line("danach.txt", 1)));
    EXPECT_EQ(run.exitCode, 1);
    const platform::memory::StoredFile& file = Current().files.at("out/gleich.txt");
    EXPECT_EQ(file.content, Text("frueher"));
    EXPECT_EQ(file.attributes, 0x01u);
    EXPECT_EQ(file.dosDateTime, JuneNoonHalf);
    EXPECT_EQ(Extracted("out/danach.txt"), Text("danach"));
    EXPECT_EQ(Current().openHandles, 0);
}

TEST(ExtractionReport, ControlBytesInTheNameShowAsQuestionMarksWhileTheFileKeepsItsName)
{
    const std::string name = "\x1B]0;titel\x07zeile\r\n\b\x7F\x9D.txt";
    const RunOutcome run = ExtractRecords({Record(name, Text("abc"))});
    EXPECT_EQ(run.output, Screen(Line("?]0;titel?zeile?????.txt", 1)));
    EXPECT_EQ(CreatedPaths(), std::vector<std::string>{"out/" + name});
    EXPECT_EQ(Extracted("out/" + name), Text("abc"));
}

TEST(ExtractionFailures, MissingTargetFolderFailsEveryRecordEvenEmptyOnes)
{
    platform::memory::Reset();
    WriterOptions options;
    Current().archives["a.twx"] =
        WriteArchive({Record("a.txt", Text("aaa")), Record("leer.dat", {}), Record("b.bin", RandomBytes(40000, 9))}, options);
    Current().existingFolders.clear();
    const RunOutcome run = RunInProcess({"-e", "a.twx", "out"});
    EXPECT_EQ(run.output, Screen(Line("a.txt", 1, false) + Line("leer.dat", 0, false) + Line("b.bin", 2, false)));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Current().files.empty());
    EXPECT_EQ(Current().openHandles, 0);
}

TEST(ExtractionFailures, NamesLeavingTheTargetFolderAreRefused)
{
    // Stored name and the name the line shows.
    const std::vector<std::pair<std::string, std::string>> refused{
        {"../x", "../x"}, {"a/b", "a/b"}, {"..", ".."}, {".", "."}, {"dir\\", ""}, {std::string("a\0b", 3), "a?b"}};
    for (const auto& [name, shown] : refused) {
        SCOPED_TRACE(shown);
        const Bytes content = RandomBytes(500, 10);
        const RunOutcome run = ExtractRecords({Record(name, content), Record("danach.txt", Text("danach"))});
        EXPECT_EQ(run.output, Screen(Line(shown, 1, false) + Line("danach.txt", 1)));
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(CreatedPaths(), std::vector<std::string>{"out/danach.txt"});
        EXPECT_EQ(Extracted("out/danach.txt"), Text("danach"));
        EXPECT_EQ(Current().openHandles, 0);
    }
}

TEST(ExtractionFailures, RefusedEmptyRecordAlsoFails)
{
    const RunOutcome run = ExtractRecords({Record("..", {}), Record("danach.txt", Text("danach"))});
    EXPECT_EQ(run.output, Screen(Line("..", 0, false) + Line("danach.txt", 1)));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(CreatedPaths(), std::vector<std::string>{"out/danach.txt"});
}

TEST(ExtractionFailures, BlockCrcMismatchStopsInsideTheFileAfterEarlierFilesAreComplete)
{
    const Bytes first = Text("alpha");
    const Bytes second = RandomBytes(40000, 11);
    const Bytes stream = BuildDecodedStream({Record("a.txt", first), Record("b.bin", second)});
    ASSERT_GT(stream.size(), Block);
    ASSERT_LT(stream.size(), 2 * Block);

    Bytes block1(stream.begin(), stream.begin() + Block);
    Bytes block2(stream.begin() + Block, stream.end());
    block2.resize(Block, 0);
    const std::uint32_t trueCrc = ReferenceCrc32(block2);
    const std::uint32_t storedCrc = trueCrc ^ 0x00FF00FFu;

    WriterOptions options;
    ArchiveEncoder encoder(options);
    encoder.EncodeBlock(block1.data());
    BlockFieldOverrides overrides;
    overrides.crc = storedCrc;
    encoder.EncodeBlock(block2.data(), overrides);
    const RunOutcome run = ExtractInMemory(encoder.Finish());

    const std::string expected = "enpacke das Archiv a.twx nach out/\r\n\r\nBlockgroesse: 32768 Bytes\r\n\r\n" +
                                 Line("a.txt", 1) + Padded("b.bin", 41) + " ..." + "BlockCRCFehler! (is:" + Hex8(storedCrc) +
                                 " should:" + Hex8(trueCrc) + ") - Abbruch, Datei zerstoert!\r\n";
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(Current().pauses, std::vector<std::uint32_t>{5000});
    EXPECT_EQ(Extracted("out/a.txt"), first);
    EXPECT_EQ(Current().files.at("out/a.txt").attributes, 0x20u);
    // The part of b.bin in the first block was written before the stop.
    const std::size_t written = Block - (13 + 5 + first.size() + 13 + 5);
    EXPECT_EQ(Extracted("out/b.bin"), Bytes(second.begin(), second.begin() + static_cast<std::ptrdiff_t>(written)));
}

}  // namespace
