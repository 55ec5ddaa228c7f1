#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "stages/Blocks.h"

namespace {

// Fill callbacks carry no context: their script and log live here.
std::vector<std::vector<std::uint8_t>> g_fills;  // contents delivered by successive fills
std::vector<std::uint32_t> g_reportedCounts;     // counts reported (may differ from the content size)
std::size_t g_fillCalls = 0;
std::uint8_t* g_lastBuffer = nullptr;
std::uint32_t g_lastCapacity = 0;
TBlock* g_rewindTarget = nullptr;                // block that the callback rewinds, if any

void ScriptedFill(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& delivered)
{
    g_lastBuffer = buffer;
    g_lastCapacity = capacity;
    const std::size_t call = g_fillCalls++;
    if (call >= g_fills.size()) {
        ADD_FAILURE() << "unexpected fill number " << call;
        delivered = 0;
        return;
    }
    const auto& bytes = g_fills[call];
    std::memcpy(buffer, bytes.data(), std::min<std::size_t>(bytes.size(), capacity));
    delivered = g_reportedCounts[call];
    if (g_rewindTarget)
        g_rewindTarget->Rewind();
}

void ResetFillScript()
{
    g_fills.clear();
    g_reportedCounts.clear();
    g_fillCalls = 0;
    g_lastBuffer = nullptr;
    g_lastCapacity = 0;
    g_rewindTarget = nullptr;
}

void AddFill(std::vector<std::uint8_t> bytes, std::uint32_t reported)
{
    g_fills.push_back(std::move(bytes));
    g_reportedCounts.push_back(reported);
}

void AddFill(std::vector<std::uint8_t> bytes)
{
    const auto n = static_cast<std::uint32_t>(bytes.size());
    AddFill(std::move(bytes), n);
}

void Free(TBlock* block)
{
    block->Done();
    delete block;
}

// Releasing a valid block leaves its status alone and every counter at zero.
void ReleaseAndExpectZeroCounters(TBlock* block)
{
    block->Done();
    EXPECT_EQ(block->Status, 0);
    EXPECT_EQ(block->Capacity, 0u);
    EXPECT_EQ(block->UsedLength, 0u);
    EXPECT_EQ(block->Cursor, 0u);
    EXPECT_EQ(block->BitIndex, 0);
    delete block;
}

struct BlockFixture : ::testing::Test {
    void SetUp() override { ResetFillScript(); }
    void TearDown() override { ResetFillScript(); }
};

using BlockBuffer = BlockFixture;

} // namespace

TEST_F(BlockBuffer, CreateRejectsCapacityZeroAndAboveTheLimit)
{
    for (std::uint32_t capacity : {0u, TBlock::MaxCapacity + 1, 0xFFFFFFFFu}) {
        TBlock* block = TBlock::Create(capacity);
        EXPECT_EQ(block->Status, 165) << capacity;
        EXPECT_EQ(block->Flags, 0x80) << capacity;
        EXPECT_EQ(block->Capacity, 0u);
        EXPECT_EQ(block->UsedLength, 0u);
        EXPECT_EQ(block->Data, nullptr);
        EXPECT_EQ(block->CRC, nullptr);
        EXPECT_EQ(block->OnFill, nullptr);

        block->Done();
        EXPECT_EQ(block->Status, 164) << "release of an invalid block";
        EXPECT_EQ(block->Capacity, 0u);
        delete block;
    }
}

TEST_F(BlockBuffer, CreateAtTheLimitGivesAZeroedFullBlock)
{
    TBlock* block = TBlock::Create(2097152);
    ASSERT_EQ(block->Status, 0);
    EXPECT_EQ(block->Flags, 0);
    EXPECT_EQ(block->Capacity, 2097152u);
    EXPECT_EQ(block->UsedLength, 2097152u);
    EXPECT_EQ(block->Cursor, 0u);
    EXPECT_EQ(block->BitIndex, 0);
    EXPECT_EQ(block->OnFill, nullptr);
    ASSERT_NE(block->Data, nullptr);
    ASSERT_NE(block->CRC, nullptr);
    EXPECT_EQ(block->CRC->Value(), 0u);
    EXPECT_TRUE(std::all_of(block->Data, block->Data + block->Capacity, [](std::uint8_t b) { return b == 0; }));

    ReleaseAndExpectZeroCounters(block);
}

TEST_F(BlockBuffer, ReleaseOfAValidBlockZeroesTheCounters)
{
    TBlock* block = TBlock::Create(1);
    ASSERT_EQ(block->Status, 0);
    block->Data[0] = 0xFF;
    block->ReadBit();
    EXPECT_EQ(block->BitIndex, 1);
    ReleaseAndExpectZeroCounters(block);
}

TEST_F(BlockBuffer, NewBlockReadsZeroBitsFromItsZeroedBuffer)
{
    TBlock* block = TBlock::Create(8);
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(block->ReadBit(), 0) << "bit " << i;
        ASSERT_EQ(block->Status, 0);
    }
    EXPECT_EQ(block->Cursor, 7u);
    EXPECT_EQ(block->BitIndex, 8);
    Free(block);
}

TEST_F(BlockBuffer, BitsComeLeastSignificantFirst)
{
    TBlock* block = TBlock::Create(4);
    block->Data[0] = 0x01;
    block->Data[1] = 0xB4;  // 1011 0100
    const int expected[] = {1, 0, 0, 0, 0, 0, 0, 0, /* 0xB4 */ 0, 0, 1, 0, 1, 1, 0, 1};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(block->ReadBit(), expected[i]) << "bit " << i;
    Free(block);
}

TEST_F(BlockBuffer, CursorStaysOnAByteUntilTheNextBitIsRead)
{
    TBlock* block = TBlock::Create(4);
    block->Data[1] = 0x80;
    for (int i = 0; i < 8; ++i)
        block->ReadBit();
    EXPECT_EQ(block->Cursor, 0u);
    EXPECT_EQ(block->BitIndex, 8);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(block->ReadBit(), 0);
    EXPECT_EQ(block->Cursor, 1u);
    EXPECT_EQ(block->ReadBit(), 1);
    EXPECT_EQ(block->BitIndex, 8);
    Free(block);
}

TEST_F(BlockBuffer, ReadLongWordIsLittleEndianOnAlignedPositions)
{
    TBlock* block = TBlock::Create(8);
    const std::uint8_t bytes[] = {0x78, 0x56, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x90};
    std::memcpy(block->Data, bytes, 8);
    EXPECT_EQ(block->ReadLongWord(), 0x12345678u);
    EXPECT_EQ(block->Cursor, 3u);
    EXPECT_EQ(block->BitIndex, 8);
    EXPECT_EQ(block->ReadLongWord(), 0x90ABCDEFu);
    Free(block);
}

TEST_F(BlockBuffer, ReadByteOnAlignedAndUnalignedPositions)
{
    TBlock* block = TBlock::Create(4);
    const std::uint8_t bytes[] = {0xA5, 0x3C, 0xFF, 0x00};
    std::memcpy(block->Data, bytes, 4);
    EXPECT_EQ(block->ReadByte(), 0xA5);
    EXPECT_EQ(block->ReadByte(), 0x3C);
    block->Rewind();
    EXPECT_EQ(block->ReadBit(), 1);  // bit 0 of 0xA5
    // Bits 1..7 of 0xA5 (1010 010) then bit 0 of 0x3C (0): 0x52.
    EXPECT_EQ(block->ReadByte(), 0x52);
    EXPECT_EQ(block->Cursor, 1u);
    EXPECT_EQ(block->BitIndex, 1);
    Free(block);
}

TEST_F(BlockBuffer, ReadLongWordStraddlesARefill)
{
    TBlock* block = TBlock::Create(4);
    block->OnFill = ScriptedFill;
    block->Data[0] = 0xCD;
    block->Data[1] = 0xAB;
    block->Data[2] = 0x99;  // beyond UsedLength: must not be read
    block->SetUsedLength(2);
    ASSERT_EQ(block->Status, 0);
    AddFill({0x34, 0x12, 0x77, 0x66});

    EXPECT_EQ(block->ReadLongWord(), 0x1234ABCDu);
    EXPECT_EQ(g_fillCalls, 1u);
    EXPECT_EQ(g_lastBuffer, block->Data);
    EXPECT_EQ(g_lastCapacity, 4u);
    EXPECT_EQ(block->UsedLength, 4u);
    EXPECT_EQ(block->Cursor, 1u);
    EXPECT_EQ(block->BitIndex, 8);
    EXPECT_EQ(block->Status, 0);
    EXPECT_EQ(block->ReadByte(), 0x77);
    Free(block);
}

TEST_F(BlockBuffer, LastByteIsReadInFullBeforeTheRefill)
{
    TBlock* block = TBlock::Create(3);
    block->OnFill = ScriptedFill;
    block->Data[0] = 0x11;
    block->Data[1] = 0x22;
    block->Data[2] = 0x33;
    AddFill({0x44});
    EXPECT_EQ(block->ReadByte(), 0x11);
    EXPECT_EQ(block->ReadByte(), 0x22);
    EXPECT_EQ(block->ReadByte(), 0x33);
    EXPECT_EQ(g_fillCalls, 0u);
    EXPECT_EQ(block->ReadBit(), 0);  // bit 0 of 0x44
    EXPECT_EQ(g_fillCalls, 1u);
    EXPECT_EQ(block->UsedLength, 1u);
    EXPECT_EQ(block->Cursor, 0u);
    EXPECT_EQ(block->BitIndex, 1);
    Free(block);
}

TEST_F(BlockBuffer, FillReportingMoreThanCapacityIsCutAndSets162)
{
    TBlock* block = TBlock::Create(4);
    block->OnFill = ScriptedFill;
    block->SetUsedLength(1);
    block->ReadByte();
    AddFill({0x03, 0x00, 0x00, 0x00}, 4 + 5);

    EXPECT_EQ(block->ReadBit(), 1);
    EXPECT_EQ(block->Status, 162);
    EXPECT_EQ(block->UsedLength, 4u);
    EXPECT_EQ(block->Cursor, 0u);

    // Reading goes on; the next bit starts with Status 0 again.
    EXPECT_EQ(block->ReadBit(), 1);
    EXPECT_EQ(block->Status, 0);
    Free(block);
}

TEST_F(BlockBuffer, ReadingPastTheEndWithoutOnFillGivesZeroBitsAnd162)
{
    TBlock* block = TBlock::Create(2);
    block->Data[0] = 0xFF;
    block->Data[1] = 0xFF;
    for (int i = 0; i < 16; ++i)
        ASSERT_EQ(block->ReadBit(), 1);
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(block->ReadBit(), 0) << "bit " << i << " past the end";
        ASSERT_EQ(block->Status, 162);
    }
    EXPECT_EQ(block->ReadByte(), 0);
    EXPECT_EQ(block->Status, 162);
    EXPECT_EQ(block->ReadLongWord(), 0u);
    EXPECT_EQ(block->Status, 162);
    EXPECT_EQ(block->UsedLength, 2u);

    // A rewind makes the content readable again.
    block->Rewind();
    EXPECT_EQ(block->ReadByte(), 0xFF);
    EXPECT_EQ(block->Status, 0);
    Free(block);
}

TEST_F(BlockBuffer, EmptyFillGivesAZeroBitAnd162ThenTheNextReadRefillsAgain)
{
    TBlock* block = TBlock::Create(4);
    block->OnFill = ScriptedFill;
    g_rewindTarget = block;
    block->Data[0] = 0x80;
    block->SetUsedLength(1);
    for (int i = 0; i < 7; ++i)
        block->ReadBit();
    EXPECT_EQ(block->ReadBit(), 1);

    AddFill({0xFF, 0xFF, 0xFF, 0xFF}, 0);  // writes bytes but reports none
    AddFill({0x01, 0x00});
    EXPECT_EQ(block->ReadBit(), 0);
    EXPECT_EQ(block->Status, 162);
    EXPECT_EQ(g_fillCalls, 1u);

    EXPECT_EQ(block->ReadBit(), 1);  // bit 0 of the second fill
    EXPECT_EQ(block->Status, 0);
    EXPECT_EQ(g_fillCalls, 2u);
    EXPECT_EQ(block->UsedLength, 2u);
    EXPECT_EQ(block->Cursor, 0u);
    EXPECT_EQ(block->BitIndex, 1);
    Free(block);
}

TEST_F(BlockBuffer, SetUsedLengthAcceptsOneToCapacityOnly)
{
    TBlock* block = TBlock::Create(10);
    block->SetUsedLength(10);
    EXPECT_EQ(block->Status, 0);
    EXPECT_EQ(block->UsedLength, 10u);
    block->SetUsedLength(1);
    EXPECT_EQ(block->UsedLength, 1u);

    block->SetUsedLength(0);
    EXPECT_EQ(block->Status, 162);
    EXPECT_EQ(block->UsedLength, 1u);
    block->SetUsedLength(11);
    EXPECT_EQ(block->Status, 162);
    EXPECT_EQ(block->UsedLength, 1u);

    // A good length leaves Status as it was.
    block->SetUsedLength(5);
    EXPECT_EQ(block->UsedLength, 5u);
    EXPECT_EQ(block->Status, 162);
    Free(block);
}

TEST_F(BlockBuffer, SeekStaysBelowUsedLengthAndKeepsBitIndex)
{
    TBlock* block = TBlock::Create(10);
    block->SetUsedLength(6);
    block->ReadBit();
    block->ReadBit();
    block->ReadBit();
    ASSERT_EQ(block->BitIndex, 3);

    block->Seek(6);
    EXPECT_EQ(block->Status, 162);
    EXPECT_EQ(block->Cursor, 0u);

    block->Seek(5);
    EXPECT_EQ(block->Status, 0);
    EXPECT_EQ(block->Cursor, 5u);
    EXPECT_EQ(block->BitIndex, 3);

    block->Seek(0xFFFFFFFFu);
    EXPECT_EQ(block->Status, 162);
    EXPECT_EQ(block->Cursor, 5u);
    Free(block);
}

TEST_F(BlockBuffer, SeekWhileAByteIsUsedUpContinuesAfterTheTarget)
{
    TBlock* block = TBlock::Create(8);
    for (std::uint8_t i = 0; i < 8; ++i)
        block->Data[i] = static_cast<std::uint8_t>(0x10 + i);
    EXPECT_EQ(block->ReadByte(), 0x10);
    ASSERT_EQ(block->BitIndex, 8);
    block->Seek(4);
    EXPECT_EQ(block->ReadByte(), 0x15);
    EXPECT_EQ(block->Cursor, 5u);
    Free(block);
}

TEST_F(BlockBuffer, RewindAndClear)
{
    TBlock* block = TBlock::Create(6);
    std::memset(block->Data, 0xFF, 6);
    block->SetUsedLength(3);
    block->ReadLongWord();
    block->Seek(7);  // leaves Status 162
    block->Rewind();
    EXPECT_EQ(block->Cursor, 0u);
    EXPECT_EQ(block->BitIndex, 0);
    EXPECT_EQ(block->UsedLength, 3u);
    EXPECT_EQ(block->Status, 162);
    EXPECT_EQ(block->Data[5], 0xFF);

    block->ReadBit();
    block->ReadBit();
    block->Clear();
    EXPECT_EQ(block->Cursor, 0u);
    EXPECT_EQ(block->BitIndex, 0);
    EXPECT_EQ(block->UsedLength, 3u);
    EXPECT_TRUE(std::all_of(block->Data, block->Data + 6, [](std::uint8_t b) { return b == 0; }));
    Free(block);
}

TEST_F(BlockBuffer, ComputeCRCCoversUsedLengthOnly)
{
    TBlock* block = TBlock::Create(16);
    std::memset(block->Data, 0x5A, 16);
    block->Data[0] = 'a';
    block->Data[1] = 'b';
    block->Data[2] = 'c';
    block->SetUsedLength(3);
    block->CRC->Update(0x99);  // ComputeCRC must reset first
    block->ComputeCRC();
    EXPECT_EQ(block->CRC->Value(), 0x352441C2u);

    block->SetUsedLength(9);
    std::memcpy(block->Data, "123456789", 9);
    block->ComputeCRC();
    EXPECT_EQ(block->CRC->Value(), 0xCBF43926u);
    Free(block);
}

namespace {

// Source of the ReadByte equivalence test: fills of random sizes from a seeded
// generator, sometimes reporting more than the capacity. Each block under test
// gets the same sequence by resetting the generator.
std::mt19937 g_streamRng;
TBlock* g_streamBlock = nullptr;

void RandomFill(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& delivered)
{
    const std::uint32_t n = 1 + g_streamRng() % capacity;
    for (std::uint32_t i = 0; i < n; ++i)
        buffer[i] = static_cast<std::uint8_t>(g_streamRng());
    delivered = (g_streamRng() % 8 == 0) ? capacity + 1 + g_streamRng() % 4 : n;
    g_streamBlock->Rewind();
}

struct ReadTrace {
    std::vector<std::uint32_t> values;
    std::vector<std::uint32_t> states;  // Cursor, BitIndex, UsedLength, Status after each read

    void NoteState(const TBlock& block)
    {
        states.push_back(block.Cursor);
        states.push_back(block.BitIndex);
        states.push_back(block.UsedLength);
        states.push_back(block.Status);
    }
};

// Runs a seeded mix of reads and seeks; whole bytes are read either with
// ReadByte or with eight ReadBit calls.
ReadTrace RunReads(bool useReadByte, bool withFill, unsigned seed)
{
    g_streamRng.seed(seed);
    std::mt19937 ops(seed * 7 + 1);
    TBlock* block = TBlock::Create(1 + seed % 13);
    g_streamBlock = block;
    if (withFill)
        block->OnFill = RandomFill;
    for (std::uint32_t i = 0; i < block->Capacity; ++i)
        block->Data[i] = static_cast<std::uint8_t>(0xC3 ^ i);

    ReadTrace trace;
    for (int step = 0; step < 3000; ++step) {
        const unsigned op = ops() % 10;
        std::uint32_t value = 0;
        if (op < 5) {
            if (useReadByte) {
                value = block->ReadByte();
            } else {
                for (unsigned i = 0; i < 8; ++i)
                    value |= static_cast<std::uint32_t>(block->ReadBit()) << i;
            }
        } else if (op < 8) {
            value = block->ReadBit();
        } else if (op < 9) {
            value = block->ReadLongWord();
        } else {
            block->Seek(ops() % (block->UsedLength + 2));
        }
        trace.values.push_back(value);
        trace.NoteState(*block);
    }
    Free(block);
    g_streamBlock = nullptr;
    return trace;
}

} // namespace

struct ReadSource {
    const char* name;
    bool withFill;
    unsigned seeds;
};

class ReadByteEqualsEightReadBits : public BlockFixture, public ::testing::WithParamInterface<ReadSource> {};

TEST_P(ReadByteEqualsEightReadBits, OverASeededMixOfReadsAndSeeks)
{
    for (unsigned seed = 1; seed <= GetParam().seeds; ++seed) {
        const ReadTrace fast = RunReads(true, GetParam().withFill, seed);
        const ReadTrace slow = RunReads(false, GetParam().withFill, seed);
        ASSERT_EQ(fast.values, slow.values) << "seed " << seed;
        ASSERT_EQ(fast.states, slow.states) << "seed " << seed;
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, ReadByteEqualsEightReadBits,
    ::testing::Values(ReadSource{"AcrossRefills", true, 40}, ReadSource{"PastTheEndWithoutOnFill", false, 20}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BlockBuffer, ByteStreamAcrossManyFillsIsReadWithoutSeams)
{
    // Every fill delivers the next bytes of one long sequence; reading bytes,
    // long words and single bits must see exactly that sequence.
    std::vector<std::uint8_t> stream(5000);
    std::mt19937 rng(99);
    for (auto& b : stream)
        b = static_cast<std::uint8_t>(rng());

    TBlock* block = TBlock::Create(7);
    block->OnFill = ScriptedFill;
    g_rewindTarget = block;
    std::size_t pos = 0;
    std::memcpy(block->Data, stream.data(), 7);
    pos = 7;
    while (pos < stream.size()) {
        const std::size_t n = std::min<std::size_t>(1 + rng() % 7, stream.size() - pos);
        AddFill(std::vector<std::uint8_t>(stream.begin() + pos, stream.begin() + pos + n));
        pos += n;
    }

    std::size_t readPos = 0;
    while (readPos + 4 <= stream.size()) {
        switch (readPos % 3) {
        case 0: {
            ASSERT_EQ(block->ReadByte(), stream[readPos]) << "byte " << readPos;
            readPos += 1;
            break;
        }
        case 1: {
            const std::uint32_t expected = stream[readPos] | stream[readPos + 1] << 8 |
                                           stream[readPos + 2] << 16 |
                                           static_cast<std::uint32_t>(stream[readPos + 3]) << 24;
            ASSERT_EQ(block->ReadLongWord(), expected) << "long word at " << readPos;
            readPos += 4;
            break;
        }
        default: {
            std::uint8_t value = 0;
            for (int i = 0; i < 8; ++i)
                value |= static_cast<std::uint8_t>(block->ReadBit() << i);
            ASSERT_EQ(value, stream[readPos]) << "bits of byte " << readPos;
            readPos += 1;
            break;
        }
        }
    }
    EXPECT_EQ(block->Status, 0);
    Free(block);
}

namespace {

// Source of the fast bit reader's trace test: a seeded run of fills, mostly
// shorter than the one before (so a stale UsedLength would read old bytes),
// sometimes full, ending in fills that deliver nothing.
std::mt19937 g_chunkRng;
unsigned g_chunksLeft = 0;

void ChunkFill(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& delivered)
{
    if (g_chunksLeft == 0) {
        delivered = 0;
    } else {
        --g_chunksLeft;
        delivered = (g_chunkRng() % 3 == 0) ? capacity : 1 + g_chunkRng() % capacity;
        for (std::uint32_t i = 0; i < delivered; ++i)
            buffer[i] = static_cast<std::uint8_t>(g_chunkRng());
    }
    g_streamBlock->Rewind();
}

// How RunBitRuns reads: one ReadBit at a time, through ReadBitsWhile, or
// through a TBlockReader (ReadBitsWhile for runs of odd length, ReadBit
// calls otherwise) that puts its position back after each run.
enum class BitRuns { ReadBit, ReadBitsWhile, Reader };

// Reads runs of 1 to 40 bits as way says, and logs every bit and the state
// after each run.
ReadTrace RunBitRuns(BitRuns way, unsigned seed)
{
    g_chunkRng.seed(seed);
    g_chunksLeft = 30;
    std::mt19937 runs(seed * 11 + 3);
    TBlock* block = TBlock::Create(2 + seed % 29);
    g_streamBlock = block;
    block->OnFill = ChunkFill;
    for (std::uint32_t i = 0; i < block->Capacity; ++i)
        block->Data[i] = static_cast<std::uint8_t>(0x5A ^ i);

    ReadTrace trace;
    for (int step = 0; step < 600; ++step) {
        const unsigned count = 1 + runs() % 40;
        unsigned left = count;
        const auto note = [&](unsigned bit) {
            trace.values.push_back(bit);
            return --left > 0;
        };
        if (way == BitRuns::ReadBitsWhile) {
            block->ReadBitsWhile(note);
        } else if (way == BitRuns::Reader) {
            TBlockReader reader(*block);
            if (count % 2)
                reader.ReadBitsWhile(note);
            else
                while (note(reader.ReadBit())) {
                }
            reader.Put();
        } else {
            while (note(block->ReadBit())) {
            }
        }
        trace.NoteState(*block);
    }
    Free(block);
    g_streamBlock = nullptr;
    return trace;
}

}  // namespace

class FastBitRuns : public BlockBuffer, public ::testing::WithParamInterface<BitRuns> {};

TEST_P(FastBitRuns, EqualReadBitAcrossRefillsAndAShortLastChunk)
{
    for (unsigned seed = 1; seed <= 40; ++seed) {
        const ReadTrace fast = RunBitRuns(GetParam(), seed);
        ASSERT_EQ(g_chunksLeft, 0u) << "seed " << seed << ": the reads must run past the last chunk";
        const ReadTrace slow = RunBitRuns(BitRuns::ReadBit, seed);
        ASSERT_EQ(fast.values, slow.values) << "seed " << seed;
        ASSERT_EQ(fast.states, slow.states) << "seed " << seed;
    }
}

INSTANTIATE_TEST_SUITE_P(Ways, FastBitRuns, ::testing::Values(BitRuns::ReadBitsWhile, BitRuns::Reader),
                         [](const auto& info) { return info.param == BitRuns::Reader ? "Reader" : "ReadBitsWhile"; });

TEST_F(BlockBuffer, PeekAndSkipBitsEqualReadBitCalls)
{
    // The window holds the next bits in order; skipping them leaves the
    // state of that many ReadBit calls. Near the end of the content there is
    // no window.
    std::mt19937 rng(12);
    TBlock* a = TBlock::Create(40);
    TBlock* b = TBlock::Create(40);
    for (std::uint32_t i = 0; i < 40; ++i)
        a->Data[i] = b->Data[i] = static_cast<std::uint8_t>(rng());
    a->SetUsedLength(37);
    b->SetUsedLength(37);
    while (true) {
        std::uint64_t window = 0;
        const unsigned available = a->PeekBits(window);
        if (available == 0) {
            EXPECT_GT(a->Cursor + 8, a->UsedLength);
            break;
        }
        ASSERT_GE(available, 56u);
        const unsigned count = 1 + rng() % (rng() % 2 ? 3 : available);
        for (unsigned i = 0; i < count; ++i)
            ASSERT_EQ(b->ReadBit(), (window >> i) & 1u) << "bit " << i << " at byte " << b->Cursor;
        a->SkipBits(count);
        ASSERT_EQ(a->Cursor, b->Cursor);
        ASSERT_EQ(a->BitIndex, b->BitIndex);
        ASSERT_EQ(a->Status, 0);
    }
    Free(a);
    Free(b);
}
