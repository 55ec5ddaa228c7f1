// Decoding ahead on a second thread: when it runs, where a stop it finds is
// carried out, and that the worker ends with the command however that ends.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "ArchiveReader.h"
#include "Commands.h"
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

// Runs a reader over the archive on the memory platform with a command of
// the test's; true when a stop ended the run (its kind in stop).
template <typename Command>
bool RunCommand(const Bytes& archive, unsigned processors, Command&& command, StopKind& stop)
{
    platform::memory::Reset();
    Current().archives["a.twx"] = archive;
    Current().processors = processors;
    try {
        TArchiveReader reader(platform::OpenForReading("a.twx"));
        reader.OpenArchive(command);
    } catch (const TArchiveStop& stopped) {
        stop = stopped.Kind;
        return true;
    }
    return false;
}

struct Probe {
    bool decodingAhead = false;
    bool aheadBlockBuilt = false;
    bool workerMetTheEnd = false;
    bool secondPulled = false;
    bool returned = false;
};
Probe Seen;

void ProbeAndWalk(TArchiveReader& reader)
{
    Seen.decodingAhead = reader.DecodingAhead();
    Seen.aheadBlockBuilt = reader.AheadBlock != nullptr;
    while (reader.MoreBlocksPending())
        reader.PullDecodedBlock();
    Seen.returned = true;
}

void PullThreeBlocksAfterTheWorkerMetTheEnd(TArchiveReader& reader)
{
    reader.PullDecodedBlock();
    // The worker goes on with the second block and the third, and meets the
    // end of the archive in the third, while the command holds the first.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (platform::memory::ReadsAtEnd() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Seen.workerMetTheEnd = platform::memory::ReadsAtEnd() > 0;
    reader.PullDecodedBlock();
    Seen.secondPulled = true;
    reader.PullDecodedBlock();
    Seen.returned = true;
}

void PullOneBlockAndFail(TArchiveReader& reader)
{
    reader.PullDecodedBlock();
    Seen.decodingAhead = reader.DecodingAhead();
    throw std::runtime_error("command failed");
}

}  // namespace

struct ThreadChoice {
    unsigned processors;
    const char* variable;  // UNTWX_THREADS, or nullptr
    unsigned blocksInFlight;
};

class DecodingThreads : public testing::TestWithParam<ThreadChoice> {};

TEST_P(DecodingThreads, FollowTheProcessorsUnlessTheVariableSaysOtherwise)
{
    const ThreadChoice choice = GetParam();
    Seen = Probe{};
    platform::memory::Reset();
    if (choice.variable)
        Current().environment["UNTWX_THREADS"] = choice.variable;
    Current().archives["a.twx"] = ThreeBlockArchive();
    Current().processors = choice.processors;
    unsigned inFlight = 0;
    TArchiveReader reader(platform::OpenForReading("a.twx"));
    reader.OpenArchive([&inFlight](TArchiveReader& r) {
        inFlight = r.BlocksInFlight();
        ProbeAndWalk(r);
    });
    EXPECT_TRUE(Seen.returned);
    EXPECT_EQ(inFlight, choice.blocksInFlight);
    EXPECT_EQ(Seen.decodingAhead, choice.blocksInFlight > 1);
    EXPECT_EQ(Seen.aheadBlockBuilt, choice.blocksInFlight > 1);
}

INSTANTIATE_TEST_SUITE_P(
    ProcessorsAndVariable, DecodingThreads,
    testing::Values(ThreadChoice{1, nullptr, 1}, ThreadChoice{2, nullptr, 4}, ThreadChoice{3, nullptr, 5},
                    ThreadChoice{64, nullptr, TDecodeAhead::MaxThreads + 2}, ThreadChoice{2, "1", 1},
                    ThreadChoice{1, "4", 6}, ThreadChoice{2, "99", TDecodeAhead::MaxThreads + 2},
                    ThreadChoice{2, "0", 4}, ThreadChoice{2, "-1", 4}, ThreadChoice{2, "2x", 4},
                    ThreadChoice{2, "", 4}));

TEST(DecodeAhead, ReadErrorFoundAheadStopsOnlyWhenTheCommandReachesItsBlock)
{
    const Bytes archive = CutInThirdBlock();
    ASSERT_LT(archive.size(), BlockSizeUnit) << "one fill holds the whole cut archive";
    Seen = Probe{};
    StopKind stop{};
    EXPECT_TRUE(RunCommand(archive, 2, PullThreeBlocksAfterTheWorkerMetTheEnd, stop));
    EXPECT_EQ(stop, StopKind::ReadError);
    ASSERT_TRUE(Seen.workerMetTheEnd);
    EXPECT_TRUE(Seen.secondPulled) << "the blocks before the one cut are delivered";
    EXPECT_FALSE(Seen.returned) << "the stop comes with the third block, not before";
    EXPECT_EQ(Current().output, "") << "only the front end prints a stop";
    EXPECT_EQ(Current().openHandles, 0) << "the archive is closed";
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
    StopKind stop{};
    EXPECT_THROW(RunCommand(archive, 2, PullOneBlockAndFail, stop), std::runtime_error);
    EXPECT_TRUE(Seen.decodingAhead);
    EXPECT_EQ(Current().openHandles, 0) << "the reader closes the archive on the way out";

    // A worker left running would end the next run.
    const RunOutcome listing = ListInMemory(archive);
    EXPECT_EQ(listing.exitCode, 0) << listing.output;
}

namespace {

// Lists the archive at path with a reader of its own, as the front end does:
// the console text it adds and the stop that ended it, if any.
struct Listed {
    std::string output;
    bool stopped = false;
    StopKind stop{};
};

Listed ListWithReader(const std::string& path)
{
    const std::size_t before = Current().output.size();
    Listed listed;
    try {
        TArchiveReader reader(platform::OpenForReading(path));
        reader.OpenArchive(ListArchive);
    } catch (const TArchiveStop& stop) {
        listed.stopped = true;
        listed.stop = stop.Kind;
    }
    listed.output = Current().output.substr(before);
    return listed;
}

// The three-block archive with one bit of its second block's token stream flipped.
Bytes DamagedInSecondBlock()
{
    Bytes archive = ThreeBlockArchive();
    archive[archive.size() / 2] ^= 0x10;
    return archive;
}

class ReaderPerArchive : public testing::TestWithParam<std::tuple<unsigned, int>> {};

TEST_P(ReaderPerArchive, ASecondArchiveAfterAStoppedOneReadsAsInARunOfItsOwn)
{
    const auto [processors, damage] = GetParam();
    const Bytes first = damage == 0 ? CutInThirdBlock() : DamagedInSecondBlock();
    const Bytes second = ThreeBlockArchive();
    const RunOutcome firstAlone = ListInMemory(first, {}, processors);
    const RunOutcome secondAlone = ListInMemory(second, {}, processors);
    ASSERT_EQ(firstAlone.exitCode, 2);
    ASSERT_EQ(secondAlone.exitCode, 0);

    platform::memory::Reset();
    Current().archives["first.twx"] = first;
    Current().archives["second.twx"] = second;
    Current().processors = processors;
    const Listed one = ListWithReader("first.twx");
    const Listed two = ListWithReader("second.twx");
    EXPECT_TRUE(one.stopped);
    EXPECT_EQ(one.stop, FindStop(firstAlone.output).kind);
    EXPECT_TRUE(firstAlone.output.starts_with(one.output)) << "the rows before the stop, as in a run of its own";
    EXPECT_FALSE(two.stopped);
    EXPECT_EQ(two.output, secondAlone.output);
    EXPECT_EQ(Current().openHandles, 0);

    // One reader kept from run to run keeps its stages, slots and threads:
    // the stopped run leaves blocks in flight behind, which the next must not
    // see; another block size rebuilds the stages under the kept threads;
    // another thread count ends the kept threads and starts others.
    WriterOptions twoUnits;
    twoUnits.blockSizeCode = 2;
    const Bytes larger = WriteArchive({LongRecord()}, twoUnits);
    const RunOutcome largerAlone = ListInMemory(larger, {}, processors);
    ASSERT_EQ(largerAlone.exitCode, 0);
    TArchiveReader kept;
    unsigned run = 0;
    for (const auto& [archive, alone] : {std::pair{first, firstAlone}, std::pair{second, secondAlone},
                                         std::pair{larger, largerAlone}, std::pair{first, firstAlone},
                                         std::pair{second, secondAlone}, std::pair{larger, largerAlone},
                                         std::pair{first, firstAlone}}) {
        platform::memory::Reset();
        Current().archives["a.twx"] = archive;
        Current().processors = run++ < 4 ? processors : 6 - processors;
        const RunOutcome outcome = RunInProcess({"-i", "a.twx"}, &kept);
        EXPECT_EQ(outcome.exitCode, alone.exitCode);
        EXPECT_EQ(outcome.output, alone.output);
    }
}

INSTANTIATE_TEST_SUITE_P(OneToFourThreads, ReaderPerArchive,
                         testing::Combine(testing::Values(1u, 2u, 4u), testing::Values(0, 1)));

}  // namespace
