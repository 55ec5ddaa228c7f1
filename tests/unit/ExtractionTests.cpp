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

TEST(ExtractionFolder, MissingTargetFolderIsMadeWithItsParents)
{
    platform::memory::Reset();
    Current().archives["a.twx"] = WriteArchive({Record("a.txt", Text("aaa")), Record("leer.dat", {})}, WriterOptions{});
    Current().existingFolders.clear();
    const RunOutcome run = RunInProcess({"-e", "a.twx", "neu/tief"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "enpacke das Archiv a.twx nach neu/tief/\r\n\r\nBlockgroesse: 32768 Bytes\r\n\r\n" +
                              Line("a.txt", 1) + Line("leer.dat", 0) + "\r\n-done\r\n");
    EXPECT_EQ(CreatedPaths(), (std::vector<std::string>{"neu/tief/a.txt", "neu/tief/leer.dat"}));
    EXPECT_EQ(Extracted("neu/tief/a.txt"), Text("aaa"));
}

TEST(ExtractionFolder, TargetFolderThatCannotBeMadeFailsEveryRecordEvenEmptyOnes)
{
    platform::memory::Reset();
    WriterOptions options;
    Current().archives["a.twx"] =
        WriteArchive({Record("a.txt", Text("aaa")), Record("leer.dat", {}), Record("b.bin", RandomBytes(40000, 9))}, options);
    Current().existingFolders.clear();
    Current().files["out"].content = Text("a file where the folder should be");
    const RunOutcome run = RunInProcess({"-e", "a.twx", "out"});
    EXPECT_EQ(run.output, Screen(Line("a.txt", 1, false) + Line("leer.dat", 0, false) + Line("b.bin", 2, false)));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(CreatedPaths(), std::vector<std::string>{"out"});
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

// Two records, the second from block 1 into block 2; block 2's stored CRC
// is wrong when damaged is set.
struct TwoBlockArchive {
    Bytes first = Text("alpha");
    Bytes second = RandomBytes(40000, 11);
    std::uint32_t trueCrc = 0;
    std::uint32_t storedCrc = 0;
    Bytes bytes;

    explicit TwoBlockArchive(bool damaged)
    {
        const Bytes stream = BuildDecodedStream({Record("a.txt", first), Record("b.bin", second, 0x20, 0x2ECF63C1)});
        EXPECT_GT(stream.size(), Block);
        EXPECT_LT(stream.size(), 2 * Block);
        Bytes block1(stream.begin(), stream.begin() + Block);
        Bytes block2(stream.begin() + Block, stream.end());
        block2.resize(Block, 0);
        trueCrc = ReferenceCrc32(block2);
        storedCrc = damaged ? trueCrc ^ 0x00FF00FFu : trueCrc;
        ArchiveEncoder encoder{WriterOptions{}};
        encoder.EncodeBlock(block1.data());
        BlockFieldOverrides overrides;
        overrides.crc = storedCrc;
        encoder.EncodeBlock(block2.data(), overrides);
        bytes = encoder.Finish();
    }
};

TEST(ExtractionStops, BlockCrcStopLeavesTheEarlierCompleteFileAndNoFragment)
{
    const TwoBlockArchive good(false);
    ExtractInMemory(good.bytes);
    const platform::memory::StoredFile before = Current().files.at("out/b.bin");
    ASSERT_EQ(before.content, good.second);

    // The damaged copy over the folder that holds the good files.
    const TwoBlockArchive damaged(true);
    platform::memory::State& state = Current();
    state.output.clear();
    state.pauses.clear();
    state.archives["a.twx"] = damaged.bytes;
    const RunOutcome run = RunInProcess({"-e", "a.twx", "out"});

    const std::string expected = "enpacke das Archiv a.twx nach out/\r\n\r\nBlockgroesse: 32768 Bytes\r\n\r\n" +
                                 Line("a.txt", 1) + Padded("b.bin", 41) + " ..." + "BlockCRCFehler! (is:" +
                                 Hex8(damaged.storedCrc) + " should:" + Hex8(damaged.trueCrc) +
                                 ") - Abbruch, Datei zerstoert!\r\n";
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(Current().pauses, std::vector<std::uint32_t>{5000});
    EXPECT_EQ(CreatedPaths(), (std::vector<std::string>{"out/a.txt", "out/b.bin"})) << "a fragment stayed";
    const platform::memory::StoredFile& after = Current().files.at("out/b.bin");
    EXPECT_EQ(after.content, before.content);
    EXPECT_EQ(after.dosDateTime, 0x2ECF63C1u);
    EXPECT_EQ(Current().openHandles, 0);
}

TEST(ExtractionStops, ReadErrorInsideAFileLeavesNoFragment)
{
    const TwoBlockArchive good(false);
    const Bytes cut(good.bytes.begin(), good.bytes.end() - 200);
    const RunOutcome run = ExtractInMemory(cut);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.output.find("Lesefehler!"), std::string::npos) << run.output;
    EXPECT_EQ(CreatedPaths(), std::vector<std::string>{"out/a.txt"});
    EXPECT_EQ(Current().openHandles, 0);
}

TEST(ExtractionFailures, FullDiskFailsTheRecordKeepsTheEarlierFileAndGoesOn)
{
    const Bytes big = RandomBytes(50000, 12);
    const Bytes archive = WriteArchive({Record("klein.txt", Text("klein")), Record("gross.bin", big),
                                        Record("danach.txt", Text("danach"))},
                                       WriterOptions{});
    platform::memory::Reset();
    Current().archives["a.twx"] = archive;
    Current().files["out/gross.bin"].content = Text("frueher");
    Current().diskSpace = 20000;
    const RunOutcome run = RunInProcess({"-e", "a.twx", "out"});
    EXPECT_EQ(run.output, Screen(Line("klein.txt", 1) + Line("gross.bin", 2, false) + Line("danach.txt", 1)));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(CreatedPaths(), (std::vector<std::string>{"out/danach.txt", "out/gross.bin", "out/klein.txt"}));
    EXPECT_EQ(Extracted("out/gross.bin"), Text("frueher"));
    EXPECT_EQ(Extracted("out/danach.txt"), Text("danach"));
    EXPECT_EQ(Current().openHandles, 0);
}

TEST(ExtractionFailures, RecordNamedLikeTheArchiveInItsOwnFolderFailsAndTheRestGoesOn)
{
    const Bytes archive =
        WriteArchive({Record("vorher.txt", Text("v")), Record("ordner\\a.twx", RandomBytes(3000, 13)),
                      Record("danach.txt", Text("d"))},
                     WriterOptions{});
    platform::memory::Reset();
    Current().archives["out/a.twx"] = archive;
    const RunOutcome run = RunInProcess({"-e", "out/a.twx", "out"});
    EXPECT_EQ(run.output, "enpacke das Archiv out/a.twx nach out/\r\n\r\nBlockgroesse: 32768 Bytes\r\n\r\n" +
                              Line("vorher.txt", 1) + Line("a.twx", 1, false) + Line("danach.txt", 1) +
                              "\r\n-done\r\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(CreatedPaths(), (std::vector<std::string>{"out/danach.txt", "out/vorher.txt"}));
    EXPECT_EQ(Current().archives.at("out/a.twx"), archive);
}

// A pipe or a file still being written delivers the archive in pieces; the
// result must be that of the whole file.
TEST(ExtractionInput, ShortReadsGiveTheSameFilesAsWholeReads)
{
    const std::vector<WriterRecord> records{Record("a.bin", RandomBytes(70000, 14)), Record("b.txt", Text("b")),
                                            Record("c.bin", RandomBytes(Block, 15))};
    const Bytes archive = WriteArchive(records, WriterOptions{});
    const RunOutcome whole = ExtractInMemory(archive);
    ASSERT_EQ(whole.exitCode, 0);
    const auto expected = Current().files;
    for (const std::uint32_t limit : {1u, 3u, 4096u, Block - 1}) {
        SCOPED_TRACE(limit);
        platform::memory::Reset();
        Current().archives["a.twx"] = archive;
        Current().readLimit = limit;
        const RunOutcome pieces = RunInProcess({"-e", "a.twx", "out"});
        EXPECT_EQ(pieces.exitCode, 0);
        EXPECT_EQ(pieces.output, whole.output);
        EXPECT_TRUE(Current().files == expected);
    }
}

}  // namespace
