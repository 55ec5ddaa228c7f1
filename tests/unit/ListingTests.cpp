// The "-i" command run in-process: table layout, dates, paging, and the
// directory walk over block seams, block sizes and run lengths.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ArchiveWriter.h"
#include "InProcessRun.h"
#include "TestSupport.h"
#include "MemoryPlatform.h"
#include "common/DosDateTime.h"

namespace {

// 15 June 2003 12:30:00 in MS-DOS format.
constexpr char JuneNoonHalfText[] = "15.06.2003 12:30:00";
constexpr char InvalidDateText[] = "--.--.---- --:--:--";

// One table row, line end included.
std::string Row(const std::string& displayName, const std::string& dateTime, std::uint64_t size, std::uint32_t crc)
{
    return Padded(displayName, 41) + " " + dateTime + " " + RightAligned(size, 8) + " " + Hex8(crc) + "\r\n";
}

std::string RowOf(const std::string& name, const Bytes& content)
{
    return Row(name, JuneNoonHalfText, content.size(), ReferenceCrc32(content));
}

std::string HeaderLine()
{
    return "Dateiname" + std::string(32, ' ') + " Datum     " + " Zeit    " + "  Groesse" + "   CRC32 ";
}

// The four lines before the first row.
std::string Preamble(std::uint32_t blockSize)
{
    return "Blockgroesse: " + std::to_string(blockSize) + " Bytes\r\n\r\n" + HeaderLine() + "\r\n\r\n";
}

// Compressible but not uniform: repeated words.
Bytes Prose(std::size_t count)
{
    static const std::string words = "der Block endet hier und die Datei geht weiter ";
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(words[i % words.size()]);
    return bytes;
}

WriterOptions Code(std::uint8_t code)
{
    WriterOptions options;
    options.blockSizeCode = code;
    return options;
}

constexpr char Prompt[] = "\r\npress enter to continue...";

// Rows of the records, with the prompt after row 19 and every 23 rows after it.
std::string ExpectedListing(const std::vector<WriterRecord>& records, std::uint32_t blockSize)
{
    std::string text = Preamble(blockSize);
    std::size_t row = 0;
    for (const WriterRecord& record : records) {
        text += RowOf(record.storedName, record.content);
        ++row;
        if (row >= 19 && (row - 19) % 23 == 0)
            text += Prompt;
    }
    return text;
}

// Record header and name as they stand in the decoded stream.
Bytes RecordHead(const std::string& name, std::uint32_t size, std::uint32_t dateTime, std::uint32_t attributes)
{
    Bytes head{static_cast<std::uint8_t>(name.size())};
    for (std::uint32_t field : {size, dateTime, attributes})
        for (int i = 0; i < 4; ++i)
            head.push_back(static_cast<std::uint8_t>(field >> (8 * i)));
    head.insert(head.end(), name.begin(), name.end());
    return head;
}

// Encodes `head`, then `count` copies of `value`, then the end mark, one block at a time.
Bytes EncodeHeadAndRun(const Bytes& head, std::uint8_t value, std::uint64_t count, const WriterOptions& options)
{
    ArchiveEncoder encoder(options);
    const std::uint32_t blockSize = encoder.BlockSize();
    Bytes block(blockSize, 0);
    std::uint32_t used = 0;
    auto put = [&](std::uint8_t byte) {
        block[used++] = byte;
        if (used == blockSize) {
            encoder.EncodeBlock(block.data());
            used = 0;
        }
    };
    for (std::uint8_t b : head)
        put(b);
    for (std::uint64_t left = count; left > 0;) {
        const std::uint64_t take = std::min<std::uint64_t>(left, blockSize - used);
        std::memset(block.data() + used, value, take);
        used += static_cast<std::uint32_t>(take);
        left -= take;
        if (used == blockSize) {
            encoder.EncodeBlock(block.data());
            used = 0;
        }
    }
    put(0);
    if (used > 0) {
        std::memset(block.data() + used, 0, blockSize - used);
        encoder.EncodeBlock(block.data());
    }
    return encoder.Finish();
}

TEST(ListingTable, SampleArchiveListsOneRowUnderTheHeader)
{
    const RunOutcome run = ListInMemory(SampleArchive());
    const std::string expected = "Blockgroesse: 32768 Bytes\r\n"
                                 "\r\n"
                                 "Dateiname                                 Datum      Zeit      Groesse   CRC32 \r\n"
                                 "\r\n"
                                 "abc.txt                                   15.06.2003 12:30:00        3 352441C2\r\n";
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(HeaderLine().size(), 79u);
    EXPECT_EQ(platform::memory::Current().pauses, std::vector<std::uint32_t>{5000});
    EXPECT_EQ(platform::memory::Current().openHandles, 0);
}

TEST(ListingTable, EmptyDirectoryPrintsOnlyTheFourOpeningLines)
{
    const RunOutcome run = ListInMemory(WriteArchive(std::vector<WriterRecord>{}, Code(1)));
    EXPECT_EQ(run.output, Preamble(32768));
    EXPECT_EQ(run.exitCode, 0);
}

TEST(ListingTable, EmptyFileShowsSizeZeroAndZeroCrc)
{
    const std::vector<WriterRecord> records{Record("leer.dat", {}), Record("danach.txt", Text("x"))};
    const RunOutcome run = ListInMemory(WriteArchive(records, Code(1)));
    EXPECT_EQ(run.output, Preamble(32768) + Row("leer.dat", JuneNoonHalfText, 0, 0) +
                              Row("danach.txt", JuneNoonHalfText, 1, ReferenceCrc32(Text("x"))));
    EXPECT_EQ(run.exitCode, 0);
}

TEST(ListingTable, MidnightShowsTheDateWithoutTime)
{
    const std::uint32_t midnight = EncodeDosDateTime({2003, 6, 15, 0, 0, 0});
    const std::uint32_t oneSecondPast = EncodeDosDateTime({2003, 6, 15, 0, 0, 2});
    const std::vector<WriterRecord> records{Record("mitternacht.txt", Text("abc"), 0x20, midnight),
                                            Record("danach.txt", Text("abc"), 0x20, oneSecondPast)};
    const RunOutcome run = ListInMemory(WriteArchive(records, Code(1)));
    EXPECT_EQ(run.output, Preamble(32768) +
                              "mitternacht.txt                           15.06.2003        3 352441C2\r\n" +
                              Row("danach.txt", "15.06.2003 00:00:02", 3, 0x352441C2));
}

TEST(ListingTable, LongDisplayNamesAreShownWholeAndPushTheRowRight)
{
    const std::string name40(40, 'n');
    const std::string name41(41, 'm');
    const std::string name60 = std::string(56, 'k') + ".txt";
    const std::vector<WriterRecord> records{Record(name40, Text("abc")), Record(name41, Text("abc")),
                                            Record(name60, Text("abc"))};
    const RunOutcome run = ListInMemory(WriteArchive(records, Code(1)));
    const std::string tail = " 15.06.2003 12:30:00        3 352441C2\r\n";
    EXPECT_EQ(run.output, Preamble(32768) + name40 + " " + tail + name41 + tail + name60 + tail);
}

TEST(ListingTable, FolderPartsBeforeTheLastBackslashOrColonAreDropped)
{
    const std::vector<WriterRecord> records{
        Record("texte\\briefe\\brief.txt", Text("abc")),
        Record("C:notiz.txt", Text("abc")),
        Record("d:\\archiv\\alt.txt", Text("abc")),
        Record("ordner:unter\\datei.bin", Text("abc")),
        Record("mit/schraeg/strich.txt", Text("abc")),
        Record("nur\\ordner\\", Text("abc")),
    };
    const RunOutcome run = ListInMemory(WriteArchive(records, Code(1)));
    const std::string tail = " 15.06.2003 12:30:00        3 352441C2\r\n";
    EXPECT_EQ(run.output, Preamble(32768) + Padded("brief.txt", 41) + tail + Padded("notiz.txt", 41) + tail +
                              Padded("alt.txt", 41) + tail + Padded("datei.bin", 41) + tail +
                              Padded("mit/schraeg/strich.txt", 41) + tail + std::string(41, ' ') + tail);
    EXPECT_EQ(run.exitCode, 0);
}

// Every byte a name can hold (but the folder marks), as the console shows it:
// C0 controls, DEL and the five bytes Windows-1252 leaves undefined always
// as '?', the rest of 0x80 to 0x9F too where the console is 8-bit.
TEST(ListingNames, ControlBytesShowAsQuestionMarksOneForOne)
{
    std::string every;
    for (int byte = 0; byte < 256; ++byte) {
        if (byte != '\\' && byte != ':')
            every += static_cast<char>(byte);
    }
    const std::string undefined = "\x81\x8D\x8F\x90\x9D";
    const std::vector<WriterRecord> records{Record(every, Text("abc")), Record("a\x1B[2J\r\nb", Text("abc"))};
    for (const bool eightBit : {false, true}) {
        SCOPED_TRACE(eightBit ? "8-bit console" : "Unicode console");
        std::string shown = every;
        for (char& c : shown) {
            const auto byte = static_cast<unsigned char>(c);
            const bool high = byte >= 0x80 && byte <= 0x9F;
            if (byte < 0x20 || byte == 0x7F || undefined.find(c) != std::string::npos || (eightBit && high))
                c = '?';
        }
        platform::memory::Reset();
        platform::memory::Current().eightBitConsole = eightBit;
        platform::memory::Current().archives["a.twx"] = WriteArchive(records, Code(1));
        const RunOutcome run = RunInProcess({"-i", "a.twx"});
        EXPECT_EQ(run.output, Preamble(32768) + Row(shown, JuneNoonHalfText, 3, 0x352441C2) +
                                  Row("a?[2J??b", JuneNoonHalfText, 3, 0x352441C2));
    }
}

TEST(ListingTable, SizeOfNineDigitsShiftsTheCrcColumn)
{
    constexpr std::uint64_t size = 100'000'000;
    const std::string name = "gross.bin";
    const Bytes archive = EncodeHeadAndRun(RecordHead(name, size, JuneNoonHalf, 0x20), 'z', size, Code(64));
    const RunOutcome run = ListInMemory(archive);
    const std::string row =
        Padded(name, 41) + " 15.06.2003 12:30:00 100000000 " + Hex8(ReferenceCrc32OfRun('z', size)) + "\r\n";
    EXPECT_EQ(run.output, Preamble(2097152) + row);
    EXPECT_EQ(run.exitCode, 0);
}

// Records f01, f02, ... each holding one byte.
std::vector<WriterRecord> NumberedRecords(int count)
{
    std::vector<WriterRecord> records;
    for (int i = 1; i <= count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%02d.txt", i);
        records.push_back(Record(name, Text("x")));
    }
    return records;
}

// The listing of NumberedRecords(count) with prompts after the given rows.
std::string PagedListing(int count, const std::vector<int>& promptAfter)
{
    std::string text = Preamble(32768);
    int row = 0;
    for (const WriterRecord& record : NumberedRecords(count)) {
        text += RowOf(record.storedName, record.content);
        ++row;
        for (int after : promptAfter)
            if (after == row)
                text += Prompt;
    }
    return text;
}

TEST(ListingPaging, EighteenRowsNeedNoPrompt)
{
    const RunOutcome run = ListInMemory(WriteArchive(NumberedRecords(18), Code(1)), "eins\nzwei\ndrei\n");
    EXPECT_EQ(run.output, PagedListing(18, {}));
    EXPECT_EQ(platform::memory::Current().standardInput, "eins\nzwei\ndrei\n");
}

TEST(ListingPaging, NineteenRowsPromptOnceAfterTheLastRow)
{
    const RunOutcome run = ListInMemory(WriteArchive(NumberedRecords(19), Code(1)), "eins\nzwei\ndrei\n");
    EXPECT_EQ(run.output, PagedListing(19, {19}));
    EXPECT_EQ(platform::memory::Current().standardInput, "zwei\ndrei\n");
    EXPECT_EQ(run.exitCode, 0);
}

TEST(ListingPaging, FortyTwoRowsPromptAfterRowsNineteenAndFortyTwo)
{
    const RunOutcome run = ListInMemory(WriteArchive(NumberedRecords(42), Code(1)), "eins\nzwei\ndrei\n");
    EXPECT_EQ(run.output, PagedListing(42, {19, 42}));
    EXPECT_EQ(platform::memory::Current().standardInput, "drei\n");
}

TEST(ListingPaging, PromptsContinueWhenStandardInputIsExhausted)
{
    const RunOutcome run = ListInMemory(WriteArchive(NumberedRecords(43), Code(1)));
    EXPECT_EQ(run.output, PagedListing(43, {19, 42}));
    EXPECT_EQ(run.exitCode, 0);
}

TEST(ListingDates, InvalidStoredDatesShowTheMarkerAndTheListingGoesOn)
{
    struct Case {
        const char* name;
        std::uint32_t dateTime;
        std::string shown;
    };
    const std::vector<Case> cases{
        {"monat0.txt", EncodeDosDateTime({2003, 0, 15, 12, 30, 0}), InvalidDateText},
        {"monat13.txt", EncodeDosDateTime({2003, 13, 15, 12, 30, 0}), InvalidDateText},
        {"feb29-1981.txt", EncodeDosDateTime({1981, 2, 29, 12, 30, 0}), InvalidDateText},
        {"feb29-2000.txt", EncodeDosDateTime({2000, 2, 29, 12, 30, 0}), "29.02.2000 12:30:00"},
        {"feb29-2100.txt", EncodeDosDateTime({2100, 2, 29, 12, 30, 0}), InvalidDateText},
        {"feb29-2004.txt", EncodeDosDateTime({2004, 2, 29, 8, 5, 6}), "29.02.2004 08:05:06"},
        {"april31.txt", EncodeDosDateTime({2003, 4, 31, 12, 30, 0}), InvalidDateText},
        {"april30.txt", EncodeDosDateTime({2003, 4, 30, 12, 30, 0}), "30.04.2003 12:30:00"},
        {"tag0.txt", EncodeDosDateTime({2003, 5, 0, 12, 30, 0}), InvalidDateText},
        {"stunde24.txt", EncodeDosDateTime({2003, 6, 15, 24, 0, 0}), InvalidDateText},
        {"minute60.txt", EncodeDosDateTime({2003, 6, 15, 12, 60, 0}), InvalidDateText},
        {"sekunden30.txt", EncodeDosDateTime({2003, 6, 15, 12, 30, 60}), InvalidDateText},
        {"letzte.txt", EncodeDosDateTime({2107, 12, 31, 23, 59, 58}), "31.12.2107 23:59:58"},
        {"erste.txt", EncodeDosDateTime({1980, 1, 1, 0, 0, 0}), "01.01.1980"},
    };
    std::vector<WriterRecord> records;
    std::string expected = Preamble(32768);
    for (const Case& c : cases) {
        records.push_back(Record(c.name, Text(c.name), 0x20, c.dateTime));
        expected += Row(c.name, c.shown, std::string(c.name).size(), ReferenceCrc32(Text(c.name)));
    }
    const RunOutcome run = ListInMemory(WriteArchive(records, Code(1)));
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(run.exitCode, 0);
}

TEST(ListingBlocks, BlockSizeCodesOneTwoAndSixtyFourListTheSameRecords)
{
    const std::vector<WriterRecord> records{Record("abc.txt", Text("abc")), Record("zufall.bin", RandomBytes(50000, 7)),
                                            Record("text.txt", Prose(3000))};
    for (std::uint8_t code : {1, 2, 64}) {
        SCOPED_TRACE(static_cast<int>(code));
        const RunOutcome run = ListInMemory(WriteArchive(records, Code(code)));
        EXPECT_EQ(run.output, ExpectedListing(records, code * 32768u));
        EXPECT_EQ(run.exitCode, 0);
    }
}

TEST(ListingBlocks, RecordHeaderSplitAcrossTwoBlocksReadsWhole)
{
    // Record 2 starts 5 bytes before the seam: name length and size in block 1, the rest in block 2.
    const std::vector<WriterRecord> records{Record("a.bin", RandomBytes(32768 - 5 - 18, 11)),
                                            Record("geteilt.txt", Text("kopf ueber die naht")),
                                            Record("c.txt", Text("c"))};
    const RunOutcome run = ListInMemory(WriteArchive(records, Code(1)));
    EXPECT_EQ(run.output, ExpectedListing(records, 32768));
}

TEST(ListingBlocks, RecordNameSplitAcrossTwoBlocksReadsWhole)
{
    // Record 2's header fills the last 13 bytes but two of block 1; its name crosses the seam.
    const std::vector<WriterRecord> records{Record("a.bin", RandomBytes(32768 - 15 - 18, 12)),
                                            Record("name-ueber-die-naht.txt", Prose(500))};
    const RunOutcome run = ListInMemory(WriteArchive(records, Code(1)));
    EXPECT_EQ(run.output, ExpectedListing(records, 32768));
}

TEST(ListingBlocks, ContentEndingAtOrJustBeforeABlockEndIsFollowedByTheNextRecord)
{
    for (std::size_t gap : {0u, 1u, 2u}) {
        SCOPED_TRACE(gap);
        const std::vector<WriterRecord> records{Record("a.bin", RandomBytes(32768 - 18 - gap, 13)),
                                                Record("next.txt", Text("next")), Record("z.txt", Text("zz"))};
        const RunOutcome run = ListInMemory(WriteArchive(records, Code(1)));
        EXPECT_EQ(run.output, ExpectedListing(records, 32768));
        EXPECT_EQ(run.exitCode, 0);
    }
}

TEST(ListingBlocks, ContentSpanningSeveralBlocksIsFollowedByTheNextRecord)
{
    const std::vector<WriterRecord> records{Record("viel.bin", RandomBytes(3 * 32768 + 100, 14)),
                                            Record("rest.txt", Text("rest"))};
    const RunOutcome run = ListInMemory(WriteArchive(records, Code(1)));
    EXPECT_EQ(run.output, ExpectedListing(records, 32768));
}

TEST(ListingBlocks, StreamFillingWholeBlocksEndsWithOrWithoutEndMark)
{
    // One record of exactly one block; without the end mark the walk ends because the archive holds no more blocks.
    const std::vector<WriterRecord> records{Record("voll.txt", Prose(32768 - 13 - 8))};
    for (bool omit : {false, true}) {
        SCOPED_TRACE(omit);
        WriterOptions options = Code(1);
        options.omitEndMarkAtBlockEnd = omit;
        const RunOutcome run = ListInMemory(WriteArchive(records, options));
        EXPECT_EQ(run.output, ExpectedListing(records, 32768));
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(platform::memory::Current().pauses, std::vector<std::uint32_t>{5000});
    }
}

TEST(ListingBlocks, TwoFullBlocksWithoutEndMarkEndAfterTheLastRecord)
{
    const std::vector<WriterRecord> records{Record("erste.txt", Prose(40000)),
                                            Record("zweite.txt", Prose(65536 - 40000 - 2 * 13 - 9 - 10))};
    WriterOptions options = Code(1);
    options.omitEndMarkAtBlockEnd = true;
    const RunOutcome run = ListInMemory(WriteArchive(records, options));
    EXPECT_EQ(run.output, ExpectedListing(records, 32768));
    EXPECT_EQ(run.exitCode, 0);
}

TEST(ListingBlocks, BlocksStoredWithoutSecondStageListLikeCodedOnes)
{
    const std::vector<WriterRecord> records{Record("nullen.bin", Bytes(70000, 0)), Record("zufall.bin", RandomBytes(20000, 15)),
                                            Record("text.txt", Prose(9000))};
    for (SecondStage stage : {SecondStage::Automatic, SecondStage::Never}) {
        SCOPED_TRACE(stage == SecondStage::Never ? "never" : "automatic");
        WriterOptions options = Code(1);
        options.secondStage = stage;
        const RunOutcome run = ListInMemory(WriteArchive(records, options));
        EXPECT_EQ(run.output, ExpectedListing(records, 32768));
    }
}

TEST(ListingBlocks, RunsAroundBothRunLengthLimitsKeepTheirLength)
{
    std::vector<WriterRecord> records;
    for (std::size_t run : {4u, 5u, 19u, 20u, 49u, 50u, 275u, 276u, 65584u, 65585u}) {
        Bytes content{'<'};
        content.insert(content.end(), run, 'x');
        content.push_back('>');
        records.push_back(Record("lauf" + std::to_string(run) + ".bin", content));
        records.push_back(Record("rein" + std::to_string(run) + ".bin", Bytes(run, 0xA5)));
    }
    struct Variant {
        std::uint8_t code;
        SecondStage stage;
    };
    for (Variant variant : {Variant{4, SecondStage::Automatic}, Variant{1, SecondStage::Never}}) {
        SCOPED_TRACE(static_cast<int>(variant.code));
        WriterOptions options = Code(variant.code);
        options.secondStage = variant.stage;
        const RunOutcome run = ListInMemory(WriteArchive(records, options));
        EXPECT_EQ(run.output, ExpectedListing(records, variant.code * 32768u));
        EXPECT_EQ(run.exitCode, 0);
    }
}

}  // namespace
