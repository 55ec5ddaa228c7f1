#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "stages/msmtf.h"

namespace {

// The one-pass-over-all-values step, kept as simple as possible.
struct ReferenceMoveToFront {
    std::array<std::uint8_t, 256> positionOf{};
    std::array<std::uint8_t, 256> symbolAt{};

    ReferenceMoveToFront()
    {
        for (int i = 0; i < 256; ++i) {
            positionOf[i] = static_cast<std::uint8_t>(i);
            symbolAt[i] = static_cast<std::uint8_t>(i);
        }
    }

    std::uint8_t Decode(std::uint8_t index)
    {
        const std::uint8_t sym = symbolAt[index];
        for (int s = 0; s < 256; ++s) {
            const std::uint8_t p = positionOf[s];
            if (p < index) {
                positionOf[s] = static_cast<std::uint8_t>(p + 1);
                symbolAt[p + 1] = static_cast<std::uint8_t>(s);
            } else if (p == index) {
                positionOf[s] = 0;
                symbolAt[0] = static_cast<std::uint8_t>(s);
            }
        }
        return sym;
    }
};

struct MoveToFrontFixture : ::testing::Test {
    Tmsmtf* mtf = nullptr;
    void SetUp() override { mtf = Tmsmtf::Create(); }
    void TearDown() override
    {
        mtf->Done();
        delete mtf;
    }

    void ExpectInversePermutations() const
    {
        for (int s = 0; s < 256; ++s)
            ASSERT_EQ(mtf->SymbolAt[mtf->PositionOf[s]], s) << "value " << s;
        for (int p = 0; p < 256; ++p)
            ASSERT_EQ(mtf->PositionOf[mtf->SymbolAt[p]], p) << "position " << p;
    }
};

using MoveToFront = MoveToFrontFixture;

} // namespace

TEST_F(MoveToFront, CreateStartsFromTheIdentityList)
{
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(mtf->PositionOf[i], i);
        EXPECT_EQ(mtf->SymbolAt[i], i);
    }
}

TEST_F(MoveToFront, FirstDecodeReturnsItsArgument)
{
    EXPECT_EQ(mtf->Decode(0), 0);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(mtf->SymbolAt[i], i) << "index 0 must change nothing";

    EXPECT_EQ(mtf->Decode(255), 255);
    EXPECT_EQ(mtf->SymbolAt[0], 255);
    for (int p = 1; p < 256; ++p)
        EXPECT_EQ(mtf->SymbolAt[p], p - 1);
    EXPECT_EQ(mtf->PositionOf[255], 0);
    EXPECT_EQ(mtf->PositionOf[0], 1);
    EXPECT_EQ(mtf->PositionOf[254], 255);
    ExpectInversePermutations();
}

TEST_F(MoveToFront, IndexesFiveOneZeroGiveFiveZeroZero)
{
    EXPECT_EQ(mtf->Decode(5), 5);
    EXPECT_EQ(mtf->Decode(1), 0);
    EXPECT_EQ(mtf->Decode(0), 0);
    // List is now 0, 5, 1, 2, 3, 4, 6, ...
    const std::uint8_t expectedFront[] = {0, 5, 1, 2, 3, 4, 6, 7};
    for (int p = 0; p < 8; ++p)
        EXPECT_EQ(mtf->SymbolAt[p], expectedFront[p]) << "position " << p;
    ExpectInversePermutations();
}

TEST_F(MoveToFront, IndexesOneOneOneAlternate)
{
    EXPECT_EQ(mtf->Decode(1), 1);
    EXPECT_EQ(mtf->Decode(1), 0);
    EXPECT_EQ(mtf->Decode(1), 1);
}

TEST_F(MoveToFront, PositionsAboveTheIndexAreUntouched)
{
    mtf->Decode(10);
    for (int p = 11; p < 256; ++p)
        EXPECT_EQ(mtf->SymbolAt[p], p);
    for (int p = 1; p <= 10; ++p)
        EXPECT_EQ(mtf->SymbolAt[p], p - 1);
}

TEST_F(MoveToFront, MatchesOnePassReferenceOnLongRandomSequences)
{
    std::mt19937 rng(4242);
    ReferenceMoveToFront reference;
    for (int i = 0; i < 200000; ++i) {
        // Mix small indexes (the common case) with the full range.
        const std::uint8_t index = static_cast<std::uint8_t>((i % 3 == 0) ? rng() % 256 : rng() % 8);
        const std::uint8_t expected = reference.Decode(index);
        ASSERT_EQ(mtf->Decode(index), expected) << "step " << i << " index " << int(index);
        if (i % 997 == 0) {
            for (int k = 0; k < 256; ++k) {
                ASSERT_EQ(mtf->SymbolAt[k], reference.symbolAt[k]) << "step " << i;
                ASSERT_EQ(mtf->PositionOf[k], reference.positionOf[k]) << "step " << i;
            }
        }
    }
    for (int k = 0; k < 256; ++k) {
        EXPECT_EQ(mtf->SymbolAt[k], reference.symbolAt[k]);
        EXPECT_EQ(mtf->PositionOf[k], reference.positionOf[k]);
    }
    ExpectInversePermutations();
}

TEST_F(MoveToFront, TablesStayInversePermutationsForEveryIndex)
{
    for (int index = 255; index >= 0; --index) {
        mtf->Decode(static_cast<std::uint8_t>(index));
        ExpectInversePermutations();
    }
}

TEST_F(MoveToFront, StateCarriesOverFromEarlierDecodes)
{
    const std::vector<std::uint8_t> secondBlock = {3, 0, 7, 1, 1, 200, 2};

    Tmsmtf* fresh = Tmsmtf::Create();
    std::vector<std::uint8_t> freshOut;
    for (std::uint8_t i : secondBlock)
        freshOut.push_back(fresh->Decode(i));
    fresh->Done();
    delete fresh;

    EXPECT_EQ(mtf->Decode(9), 9);
    EXPECT_EQ(mtf->Decode(4), 3);
    EXPECT_EQ(mtf->Decode(250), 250);
    EXPECT_EQ(mtf->Decode(17), 16);
    std::vector<std::uint8_t> continuedOut;
    for (std::uint8_t i : secondBlock)
        continuedOut.push_back(mtf->Decode(i));

    EXPECT_NE(continuedOut, freshOut);
    EXPECT_EQ(continuedOut[0], 9) << "the list starts 16, 250, 3, 9 after the history";
}

TEST(MoveToFrontPerBlock, SymbolOnlyDecodeWithOneRefreshFollowsTheReference)
{
    // The pipeline moves only SymbolAt per index and brings PositionOf up to
    // date once per block; indexes below 16 take the register path.
    std::mt19937 rng(616);
    ReferenceMoveToFront reference;
    Tmsmtf* mtf = Tmsmtf::Create();
    for (int block = 0; block < 40; ++block) {
        for (int i = 0; i < 2000; ++i) {
            const unsigned pick = rng() % 8;
            const auto index = static_cast<std::uint8_t>(pick < 5 ? rng() % 16 : pick < 7 ? rng() % 256 : 15 + rng() % 3);
            ASSERT_EQ(mtf->DecodeSymbolOnly(index), reference.Decode(index)) << "block " << block << " step " << i;
        }
        mtf->RefreshPositionOf();
        for (int s = 0; s < 256; ++s) {
            ASSERT_EQ(mtf->SymbolAt[s], reference.symbolAt[s]);
            ASSERT_EQ(mtf->PositionOf[s], reference.positionOf[s]);
        }
    }
    mtf->Done();
    delete mtf;
}

TEST(MoveToFrontPerBlock, EveryIndexFromScrambledListsMovesLikeTheReference)
{
    // The list moves in 16-byte steps from the top down and then in one
    // register: every index, so every number of steps and every rest, from
    // lists that earlier decodes scrambled.
    std::mt19937 rng(2718);
    ReferenceMoveToFront reference;
    Tmsmtf* mtf = Tmsmtf::Create();
    for (int round = 0; round < 8; ++round) {
        std::vector<std::uint8_t> indexes(256);
        std::iota(indexes.begin(), indexes.end(), 0);
        std::shuffle(indexes.begin(), indexes.end(), rng);
        for (std::uint8_t index : indexes) {
            ASSERT_EQ(mtf->DecodeSymbolOnly(index), reference.Decode(index)) << "round " << round;
            for (int p = 0; p < 256; ++p)
                ASSERT_EQ(mtf->SymbolAt[p], reference.symbolAt[p]) << "round " << round << " index " << int(index);
        }
    }
    mtf->RefreshPositionOf();
    for (int v = 0; v < 256; ++v)
        ASSERT_EQ(mtf->PositionOf[v], reference.positionOf[v]);
    mtf->Done();
    delete mtf;
}
