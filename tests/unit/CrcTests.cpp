#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "stages/CRCs.h"

namespace {

std::uint32_t CrcOfText(const std::string& text)
{
    TCRC* crc = TCRC::Create();
    for (unsigned char c : text)
        crc->Update(c);
    const std::uint32_t value = crc->Value();
    crc->Done();
    delete crc;
    return value;
}

// The lowest `bits` bits of value in reverse order.
std::uint32_t Reflected(std::uint32_t value, int bits)
{
    std::uint32_t reflected = 0;
    for (int i = 0; i < bits; ++i)
        reflected |= ((value >> i) & 1u) << (bits - 1 - i);
    return reflected;
}

// The remainder of byte * x^32 divided by 0x04C11DB7, most significant bit
// first: the polynomial as written, before any reflection.
std::uint32_t Remainder(std::uint32_t byte)
{
    std::uint32_t r = byte << 24;
    for (int i = 0; i < 8; ++i)
        r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
    return r;
}

} // namespace

TEST(Crc32, ValueIsZeroAfterCreateAndAfterReset)
{
    TCRC* crc = TCRC::Create();
    EXPECT_EQ(crc->Accumulator, 0xFFFFFFFFu);
    EXPECT_EQ(crc->Value(), 0u);
    crc->Update(0x42);
    EXPECT_NE(crc->Value(), 0u);
    crc->Reset();
    EXPECT_EQ(crc->Accumulator, 0xFFFFFFFFu);
    EXPECT_EQ(crc->Value(), 0u);
    crc->Done();
    delete crc;
}

TEST(Crc32, KnownCheckValues)
{
    EXPECT_EQ(CrcOfText(""), 0u);
    EXPECT_EQ(CrcOfText("abc"), 0x352441C2u);
    EXPECT_EQ(CrcOfText("123456789"), 0xCBF43926u);
    EXPECT_EQ(CrcOfText("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
}

TEST(Crc32, ValueMidStreamDoesNotDisturbTheAccumulator)
{
    TCRC* crc = TCRC::Create();
    crc->Update('a');
    const std::uint32_t accumulator = crc->Accumulator;
    EXPECT_EQ(crc->Value(), accumulator ^ 0xFFFFFFFFu);
    EXPECT_EQ(crc->Accumulator, accumulator);
    crc->Update('b');
    crc->Update('c');
    EXPECT_EQ(crc->Value(), 0x352441C2u);
    crc->Done();
    delete crc;
}

TEST(Crc32, ResetSeparatesSequencesOnOneObject)
{
    TCRC* crc = TCRC::Create();
    for (unsigned char c : std::string("some earlier content"))
        crc->Update(c);
    crc->Reset();
    for (unsigned char c : std::string("123456789"))
        crc->Update(c);
    EXPECT_EQ(crc->Value(), 0xCBF43926u);
    crc->Done();
    delete crc;
}

TEST(Crc32, TableMatchesTheReflectedPolynomial)
{
    // The reflected table holds, for each reflected byte, the reflected remainder.
    for (std::uint32_t n = 0; n < 256; ++n)
        ASSERT_EQ(CrcTable[n], Reflected(Remainder(Reflected(n, 8)), 32)) << "entry " << n;
}

// The ways of a range update, each against Update byte by byte.
struct RangeWay {
    const char* name;
    std::uint32_t (*update)(std::uint32_t, const std::uint8_t*, std::size_t);
    bool needsFolding;
};

void PrintTo(const RangeWay& way, std::ostream* os) { *os << way.name; }

class Crc32Range : public ::testing::TestWithParam<RangeWay> {
protected:
    void SetUp() override
    {
        if (GetParam().needsFolding && !TCRC::CanFold())
            GTEST_SKIP() << "this processor has no carry-less multiplication";
    }
};

TEST_P(Crc32Range, EqualsByteWiseUpdateForEveryLengthAroundTheStepsAndEveryAlignment)
{
    std::mt19937 rng(12345);
    std::vector<std::uint8_t> buffer(300 + 16);
    for (auto& b : buffer)
        b = static_cast<std::uint8_t>(rng());

    for (std::size_t offset = 0; offset < 16; ++offset) {
        for (std::size_t length = 0; length <= 300; ++length) {
            // Start from a non-initial accumulator too, so the range path must chain.
            for (std::uint32_t start : {0xFFFFFFFFu, 0x1234ABCDu}) {
                TCRC byteWise;
                byteWise.Accumulator = start;
                for (std::size_t i = 0; i < length; ++i)
                    byteWise.Update(buffer[offset + i]);
                ASSERT_EQ(GetParam().update(start, buffer.data() + offset, length), byteWise.Accumulator)
                    << "offset " << offset << " length " << length << " start " << start;
            }
        }
    }
}

TEST_P(Crc32Range, EqualsByteWiseUpdateOnLongRandomData)
{
    std::mt19937 rng(777);
    for (int round = 0; round < 20; ++round) {
        const std::size_t length = rng() % 70000;
        // Exactly sized, so any read past the end is caught by the sanitizer build.
        std::vector<std::uint8_t> data(length);
        for (auto& b : data)
            b = static_cast<std::uint8_t>(rng());
        TCRC byteWise;
        for (std::uint8_t b : data)
            byteWise.Update(b);
        ASSERT_EQ(GetParam().update(0xFFFFFFFFu, data.data(), data.size()), byteWise.Accumulator)
            << "length " << length;
    }
}

INSTANTIATE_TEST_SUITE_P(SlicedAndFolded, Crc32Range,
                         ::testing::Values(RangeWay{"sliced", TCRC::SlicedUpdate, false},
                                           RangeWay{"folded", TCRC::FoldedUpdate, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Crc32, UpdateRangeCanBeSplitAnywhere)
{
    const std::string text = "123456789";
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    for (std::size_t split = 0; split <= text.size(); ++split) {
        TCRC crc;
        crc.UpdateRange(bytes, split);
        crc.UpdateRange(bytes + split, text.size() - split);
        EXPECT_EQ(crc.Value(), 0xCBF43926u) << "split at " << split;
    }
}

TEST(Crc32, CrcToHexWritesEightUpperCaseDigitsWithLeadingZeros)
{
    EXPECT_EQ(CrcToHex(0x352441C2u), "352441C2");
    EXPECT_EQ(CrcToHex(0xFFFFFFFFu), "FFFFFFFF");
    EXPECT_EQ(CrcToHex(0x0000000Fu), "0000000F");
    EXPECT_EQ(CrcToHex(0x0000ABCDu), "0000ABCD");
    EXPECT_EQ(CrcToHex(0u), "00000000");
    EXPECT_EQ(CrcToHex(0xCBF43926u), "CBF43926");
    EXPECT_EQ(CrcToHex(0x10203A0Bu), "10203A0B");
}
