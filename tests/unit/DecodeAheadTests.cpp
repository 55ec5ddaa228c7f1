// Decoding ahead on a second thread: when it runs, where a stop it finds is
// carried out, and that the worker ends with the command however that ends.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ArchiveReader.h"
#include "ArchiveWriter.h"
#include "InProcessRun.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using platform::memory::Current;

// One record of text over three blocks of code 1.
WriterRecord LongRecord()
{
    std::string text;
    for (int i = 0; text.size() < 3 * BlockSizeUnit - 200; ++i)
        text += "Zeile " + std::to_string(i * 7919 % 100003) + " im dritten Block\r\n";
    WriterRecord record;
    record.storedName = "lang.txt";
    record.dateTime = (23u << 25) | (6u << 21) | (15u << 16);
    record.content.assign(text.begin(), text.end());
    return record;
}

Bytes ThreeBlockArchive()
{
    return WriteArchive({LongRecord()}, WriterOptions{});
}

// The archive cut a few bytes into its third block's bits.
Bytes CutInThirdBlock()
{
    const Bytes stream = BuildDecodedStream({LongRecord()});
    ArchiveEncoder firstTwo{WriterOptions{}};
    for (std::size_t b = 0; b < 2; ++b)
        firstTwo.EncodeBlock(stream.data() + b * BlockSizeUnit);
    const std::size_t thirdStarts = firstTwo.Finish().size();
    const Bytes whole = ThreeBlockArchive();
    return Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(thirdStarts + 8));
}

// Runs OpenArchive over the archive on the memory platform with a command of
// the test's; true when a stop ended the run (exit code in stopCode).
bool RunCommand(const Bytes& archive, unsigned processors, TCommand command, int& stopCode)
{
    platform::memory::Reset();
    Current().archives["a.twx"] = archive;
    Current().processors = processors;
    ArchiveHandle = platform::OpenForReading("a.twx");
    bool stopped = false;
    try {
        OpenArchive(command);
        platform::Close(ArchiveHandle);
    } catch (const platform::memory::ProcessEnded& ended) {
        stopped = true;
        stopCode = ended.exitCode;
    }
    ArchiveHandle = platform::InvalidFile;
    return stopped;
}

struct Probe {
    bool decodingAhead = false;
    bool aheadBlockBuilt = false;
    bool workerMetTheEnd = false;
    std::string outputBeforeThirdBlock;
    std::size_t pausesBeforeThirdBlock = 0;
    bool returned = false;
};
Probe Seen;

void ProbeAndWalk()
{
    Seen.decodingAhead = DecodingAhead;
    Seen.aheadBlockBuilt = AheadBlock != nullptr;
    while (MoreBlocksPending())
        PullDecodedBlock();
    Seen.returned = true;
}

void PullThreeBlocksAfterTheWorkerMetTheEnd()
{
    PullDecodedBlock();
    // The worker goes on with the second block and the third, and meets the
    // end of the archive in the third, while the command holds the first.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (platform::memory::ReadsAtEnd() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Seen.workerMetTheEnd = platform::memory::ReadsAtEnd() > 0;
    PullDecodedBlock();
    Seen.outputBeforeThirdBlock = Current().output;
    Seen.pausesBeforeThirdBlock = Current().pauses.size();
    PullDecodedBlock();
    Seen.returned = true;
}

void PullOneBlockAndFail()
{
    PullDecodedBlock();
    Seen.decodingAhead = DecodingAhead;
    throw std::runtime_error("command failed");
}

}  // namespace

TEST(DecodeAhead, SecondThreadOnlyWhenTheProcessMayUseTwoProcessors)
{
    const Bytes archive = ThreeBlockArchive();
    for (unsigned processors : {1u, 2u, 8u}) {
        Seen = Probe{};
        int code = -1;
        EXPECT_FALSE(RunCommand(archive, processors, ProbeAndWalk, code)) << processors;
        EXPECT_TRUE(Seen.returned) << processors;
        EXPECT_EQ(Seen.decodingAhead, processors > 1) << processors;
        EXPECT_EQ(Seen.aheadBlockBuilt, processors > 1) << processors;
        EXPECT_FALSE(DecodingAhead) << "the worker ends with the command";
        EXPECT_EQ(AheadBlock, nullptr) << "the second middle buffer is released with the stages";
        EXPECT_EQ(Current().openHandles, 0);
    }
}

TEST(DecodeAhead, ReadErrorFoundAheadStopsOnlyWhenTheCommandReachesItsBlock)
{
    const Bytes archive = CutInThirdBlock();
    ASSERT_LT(archive.size(), BlockSizeUnit) << "one fill holds the whole cut archive";
    Seen = Probe{};
    int code = -1;
    EXPECT_TRUE(RunCommand(archive, 2, PullThreeBlocksAfterTheWorkerMetTheEnd, code));
    EXPECT_EQ(code, 2);
    ASSERT_TRUE(Seen.workerMetTheEnd);
    EXPECT_EQ(Seen.outputBeforeThirdBlock, "") << "nothing of the stop before its block";
    EXPECT_EQ(Seen.pausesBeforeThirdBlock, 0u);
    EXPECT_FALSE(Seen.returned);
    EXPECT_EQ(Current().output, CrLfLines({"", "Lesefehler! - Disk/Datei zerstoert?"}));
    EXPECT_EQ(Current().pauses, std::vector<std::uint32_t>{5000});
    EXPECT_EQ(Current().openHandles, 0) << "the archive is closed";
    EXPECT_EQ(InputBlock, nullptr);
    EXPECT_EQ(MiddleBlock, nullptr);
    EXPECT_EQ(AheadBlock, nullptr);
    EXPECT_FALSE(DecodingAhead);
}

TEST(DecodeAhead, ListingAndExtractionOfACutArchiveShowTheRowsBeforeTheStop)
{
    const Bytes archive = CutInThirdBlock();
    for (unsigned processors : {1u, 2u}) {
        const RunOutcome listing = ListInMemory(archive, {}, processors);
        EXPECT_EQ(listing.exitCode, 2);
        EXPECT_NE(listing.output.find("lang.txt"), std::string::npos) << processors;
        EXPECT_TRUE(listing.output.ends_with(CrLfLines({"", "Lesefehler! - Disk/Datei zerstoert?"}))) << processors;
        const RunOutcome extraction = ExtractInMemory(archive, processors);
        EXPECT_EQ(extraction.exitCode, 2);
        EXPECT_NE(extraction.output.find("lang.txt"), std::string::npos) << processors;
        EXPECT_TRUE(extraction.output.ends_with(CrLfLines({"", "Lesefehler! - Disk/Datei zerstoert?"}))) << processors;
    }
}

TEST(DecodeAhead, CommandEndingByAnExceptionEndsTheWorkerFirst)
{
    const Bytes archive = ThreeBlockArchive();
    Seen = Probe{};
    platform::memory::Reset();
    Current().archives["a.twx"] = archive;
    ArchiveHandle = platform::OpenForReading("a.twx");
    EXPECT_THROW(OpenArchive(PullOneBlockAndFail), std::runtime_error);
    EXPECT_TRUE(Seen.decodingAhead);
    EXPECT_FALSE(DecodingAhead);
    ReleaseStages();
    platform::Close(ArchiveHandle);
    ArchiveHandle = platform::InvalidFile;

    // A worker left running would end the next run.
    const RunOutcome listing = ListInMemory(archive);
    EXPECT_EQ(listing.exitCode, 0) << listing.output;
}
