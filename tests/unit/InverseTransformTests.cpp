#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "stages/UnBWTUnit.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Forward transform by sorting all rotations; the index is the sorted position
// of the rotation that starts at the block's second byte.
void ForwardTransform(const Bytes& block, Bytes& last, std::uint32_t& index)
{
    const std::size_t n = block.size();
    std::vector<std::size_t> rotations(n);
    std::iota(rotations.begin(), rotations.end(), 0);
    std::sort(rotations.begin(), rotations.end(), [&](std::size_t a, std::size_t b) {
        for (std::size_t k = 0; k < n; ++k) {
            const std::uint8_t x = block[(a + k) % n];
            const std::uint8_t y = block[(b + k) % n];
            if (x != y)
                return x < y;
        }
        return false;
    });
    last.resize(n);
    for (std::size_t r = 0; r < n; ++r) {
        last[r] = block[(rotations[r] + n - 1) % n];
        if (rotations[r] == 1 % n)
            index = static_cast<std::uint32_t>(r);
    }
}

// Inverse by a stable sort of positions by their byte: the k-th smallest
// position links to the k-th position of that order.
Bytes ReferenceInverse(const Bytes& input, std::uint32_t index)
{
    const std::size_t n = input.size();
    std::vector<std::uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return input[a] < input[b]; });
    Bytes out(n);
    std::uint32_t j = index;
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = input[j];
        j = order[j];
    }
    return out;
}

std::size_t g_bytesWritten = 0;
void CountByteWritten() { ++g_bytesWritten; }

void Free(TBWTransform* transform)
{
    transform->Done();
    delete transform;
}

// Runs Inverse on exactly-sized buffers, so any access outside them is caught
// by the sanitizer build.
// Long blocks are walked in lanes through a scratch area of the same size.
Bytes RunInverse(TBWTransform* transform, const Bytes& input, std::uint32_t index)
{
    transform->SetLength(static_cast<std::uint32_t>(input.size()));
    EXPECT_EQ(transform->Status, 0);
    Bytes in(input);
    Bytes out(input.size(), 0xEE);
    Bytes scratch(input.size(), 0xDD);
    transform->Input = in.data();
    transform->Output = out.data();
    transform->Scratch = scratch.data();
    transform->Inverse(index);
    EXPECT_EQ(in, input) << "Input must not be written";
    return out;
}

// How the pipeline runs it: the output over the input, or the input as the
// scratch area; and without a scratch area (one chain).
enum class Layout { InPlace, InputAsScratch, NoScratch };

Bytes RunInverseAs(Layout layout, TBWTransform* transform, const Bytes& input, std::uint32_t index)
{
    transform->SetLength(static_cast<std::uint32_t>(input.size()));
    EXPECT_EQ(transform->Status, 0);
    Bytes in(input);
    Bytes other(input.size(), 0xEE);
    transform->Input = in.data();
    transform->Output = layout == Layout::InPlace ? in.data() : other.data();
    transform->Scratch = layout == Layout::InPlace          ? other.data()
                         : layout == Layout::InputAsScratch ? in.data()
                                                            : nullptr;
    transform->Inverse(index);
    return layout == Layout::InPlace ? in : other;
}

} // namespace

// A refused capacity and its status.
struct RefusedCapacity {
    std::uint32_t capacity;
    std::uint8_t status;
};

class InverseTransformRefusedCapacity : public ::testing::TestWithParam<RefusedCapacity> {};

TEST_P(InverseTransformRefusedCapacity, AllocatesNothingAndDoneSets194)
{
    TBWTransform* transform = TBWTransform::Create(GetParam().capacity);
    EXPECT_EQ(transform->Status, GetParam().status);
    EXPECT_EQ(transform->Flags, 0x80);
    EXPECT_EQ(transform->Links, nullptr);
    EXPECT_EQ(transform->LinkBytes, 0u);
    transform->Done();
    EXPECT_EQ(transform->Status, 194);
    EXPECT_EQ(transform->Length, 0u);
    delete transform;
}

INSTANTIATE_TEST_SUITE_P(BelowThirtyTwoOrAboveTheLargest, InverseTransformRefusedCapacity,
                         ::testing::Values(RefusedCapacity{31, 191}, RefusedCapacity{2097154, 193}));

TEST(InverseTransformConstruction, AcceptedCapacities)
{
    for (std::uint32_t capacity : {32u, 32768u, 2097153u}) {
        TBWTransform* transform = TBWTransform::Create(capacity);
        EXPECT_EQ(transform->Status, 0) << capacity;
        EXPECT_EQ(transform->Flags, 0);
        EXPECT_EQ(transform->Capacity, capacity);
        EXPECT_EQ(transform->Length, capacity);
        EXPECT_EQ(transform->LinkBytes, 4 * capacity);
        EXPECT_NE(transform->Links, nullptr);
        EXPECT_NE(transform->OnByteWritten, nullptr);
        transform->Done();
        EXPECT_EQ(transform->Status, 0);
        EXPECT_EQ(transform->Length, 0u);
        EXPECT_EQ(transform->LinkBytes, 0u);
        delete transform;
    }
}

TEST(InverseTransform, SetLengthAcceptsThirtyTwoToCapacity)
{
    TBWTransform* transform = TBWTransform::Create(100);
    transform->SetLength(32);
    EXPECT_EQ(transform->Status, 0);
    EXPECT_EQ(transform->Length, 32u);
    transform->SetLength(100);
    EXPECT_EQ(transform->Status, 0);
    EXPECT_EQ(transform->Length, 100u);

    transform->SetLength(31);
    EXPECT_EQ(transform->Status, 190);
    EXPECT_EQ(transform->Length, 100u);
    transform->SetLength(50);
    transform->SetLength(101);
    EXPECT_EQ(transform->Status, 190);
    EXPECT_EQ(transform->Length, 50u);
    transform->SetLength(0);
    EXPECT_EQ(transform->Status, 190);
    EXPECT_EQ(transform->Length, 50u);
    Free(transform);
}

TEST(InverseTransform, AscendingBytesRestoreFromIndexOne)
{
    Bytes input = {39};
    for (std::uint8_t b = 0; b < 39; ++b)
        input.push_back(b);
    Bytes expected(40);
    std::iota(expected.begin(), expected.end(), 0);

    TBWTransform* transform = TBWTransform::Create(40);
    EXPECT_EQ(RunInverse(transform, input, 1), expected);
    EXPECT_EQ(transform->Status, 0);

    // The position of the unrotated block is not the primary index.
    Bytes rotated(expected.begin() + 39, expected.end());
    rotated.insert(rotated.end(), expected.begin(), expected.begin() + 39);
    EXPECT_EQ(RunInverse(transform, input, 0), rotated);
    Free(transform);
}

TEST(InverseTransform, AbracadabraText)
{
    const std::string text = "abracadabra-abracadabra-abracadabra!";
    Bytes last;
    std::uint32_t index = 0;
    ForwardTransform(ToBytes(text), last, index);
    ASSERT_EQ(last, ToBytes("aaarrrddd--!rrrcccaaaaaaaaaaaabbbbbb"));
    ASSERT_EQ(index, 23u);

    TBWTransform* transform = TBWTransform::Create(4096);
    g_bytesWritten = 0;
    transform->OnByteWritten = CountByteWritten;
    EXPECT_EQ(RunInverse(transform, last, 23), ToBytes(text));
    EXPECT_EQ(g_bytesWritten, text.size());
    Free(transform);
}

TEST(InverseTransform, RepeatedByteBlockDecodesForEveryIndex)
{
    const Bytes block(77, 'z');
    TBWTransform* transform = TBWTransform::Create(200);
    for (std::uint32_t index : {0u, 1u, 38u, 76u})
        EXPECT_EQ(RunInverse(transform, block, index), block) << "index " << index;
    Free(transform);
}

TEST(InverseTransform, PeriodicBlockDecodesFromAnyEqualRotation)
{
    std::string text;
    for (int i = 0; i < 12; ++i)
        text += "xyz";
    Bytes last;
    std::uint32_t index = 0;
    ForwardTransform(ToBytes(text), last, index);
    TBWTransform* transform = TBWTransform::Create(64);
    // Rotations starting at 1, 4, 7, ... are equal; they sit at 12 consecutive sorted positions.
    const std::uint32_t first = index - index % 12;
    for (std::uint32_t k = first; k < first + 12; ++k)
        EXPECT_EQ(RunInverse(transform, last, k), ToBytes(text)) << "index " << k;
    Free(transform);
}

TEST(InverseTransform, IndexAtLengthIsRefusedAndOutputUntouched)
{
    TBWTransform* transform = TBWTransform::Create(64);
    Bytes in(40, 'q');
    in[7] = 'r';
    Bytes out(40, 0xEE);
    transform->SetLength(40);
    transform->Input = in.data();
    transform->Output = out.data();
    g_bytesWritten = 0;
    transform->OnByteWritten = CountByteWritten;

    transform->Inverse(40);
    EXPECT_EQ(transform->Status, 195);
    EXPECT_EQ(out, Bytes(40, 0xEE));
    EXPECT_EQ(g_bytesWritten, 0u);
    transform->Inverse(0xFFFFFFFFu);
    EXPECT_EQ(transform->Status, 195);
    EXPECT_EQ(out, Bytes(40, 0xEE));

    // Index Length - 1 runs; success leaves the refusal's Status in place.
    transform->Inverse(39);
    EXPECT_EQ(transform->Status, 195);
    EXPECT_EQ(g_bytesWritten, 40u);
    EXPECT_EQ(out, ReferenceInverse(in, 39));
    Free(transform);
}

TEST(InverseTransform, StatusOfSetLengthCarriesOverASuccessfulInverse)
{
    TBWTransform* transform = TBWTransform::Create(64);
    const Bytes input(40, 'k');
    Bytes out(40);
    transform->Input = input.data();
    transform->Output = out.data();

    transform->SetLength(40);
    transform->Inverse(5);
    EXPECT_EQ(transform->Status, 0);

    transform->SetLength(20);  // refused: Length stays 40
    ASSERT_EQ(transform->Status, 190);
    transform->Inverse(5);
    EXPECT_EQ(transform->Status, 190);
    EXPECT_EQ(out, input);
    Free(transform);
}

TEST(InverseTransform, RoundTripsRandomBlocks)
{
    std::mt19937 rng(2024);
    TBWTransform* transform = TBWTransform::Create(400);
    for (int round = 0; round < 150; ++round) {
        const std::size_t n = 32 + rng() % 369;
        const unsigned alphabet = 1 + rng() % (round % 3 == 0 ? 256 : 4);
        Bytes block(n);
        for (auto& b : block)
            b = static_cast<std::uint8_t>(rng() % alphabet);
        Bytes last;
        std::uint32_t index = 0;
        ForwardTransform(block, last, index);
        ASSERT_EQ(RunInverse(transform, last, index), block) << "round " << round << " length " << n;
    }
    Free(transform);
}

TEST(InverseTransform, ArbitraryInputStaysInsideTheBuffers)
{
    // Not the output of a real transform: the walk may cycle, but every byte
    // must still come from the input and match the stable-sort reference.
    std::mt19937 rng(31337);
    TBWTransform* transform = TBWTransform::Create(5000);
    for (int round = 0; round < 200; ++round) {
        const std::size_t n = 32 + rng() % (5000 - 31);
        Bytes input(n);
        const unsigned alphabet = 1 + rng() % 256;
        for (auto& b : input)
            b = static_cast<std::uint8_t>(rng() % alphabet);
        const std::uint32_t index = (round % 4 == 0) ? static_cast<std::uint32_t>(n - 1) : rng() % n;
        ASSERT_EQ(RunInverse(transform, input, index), ReferenceInverse(input, index))
            << "round " << round << " length " << n << " index " << index;
    }
    Free(transform);
}

TEST(InverseTransform, LargestBlockUsesPositionsBeyondSixteenBits)
{
    const std::uint32_t n = TBWTransform::MaxCapacity;
    std::mt19937 rng(5);
    Bytes input(n);
    for (auto& b : input)
        b = static_cast<std::uint8_t>(rng());
    TBWTransform* transform = TBWTransform::Create(n);
    ASSERT_EQ(transform->Status, 0);
    for (std::uint32_t index : {n - 1, 1234567u}) {
        const Bytes out = RunInverse(transform, input, index);
        ASSERT_EQ(out, ReferenceInverse(input, index)) << "index " << index;
    }
    Free(transform);
}

TEST(InverseTransform, LargeRandomBlockRoundTrips)
{
    // A real transform of a large block: the walk visits every position once.
    const std::uint32_t n = 1 << 20;
    Bytes block(n);
    std::mt19937 rng(8);
    for (std::uint32_t i = 0; i < n; ++i)
        block[i] = static_cast<std::uint8_t>(rng());
    // Random bytes make the rotation sort cheap: comparisons end after a few bytes.
    Bytes last;
    std::uint32_t index = 0;
    ForwardTransform(block, last, index);
    TBWTransform* transform = TBWTransform::Create(TBWTransform::MaxCapacity);
    EXPECT_EQ(RunInverse(transform, last, index), block);
    Free(transform);
}

TEST(InverseTransform, OutputOverItsInputOrInputAsScratchGiveTheSameBytes)
{
    // The pipeline writes the transform over its own input, or walks through
    // the input as scratch: once the links are built, the input is not read.
    std::mt19937 rng(77);
    TBWTransform* transform = TBWTransform::Create(200000);
    for (std::uint32_t n : {32u, 33u, 35u, 1000u, 65535u, 65536u, 65539u, 200000u}) {
        for (unsigned alphabet : {1u, 3u, 256u}) {
            Bytes input(n);
            for (auto& b : input)
                b = static_cast<std::uint8_t>(rng() % alphabet);
            for (std::uint32_t index : {0u, n - 1, static_cast<std::uint32_t>(rng() % n)}) {
                const Bytes expected = ReferenceInverse(input, index);
                for (Layout layout : {Layout::InPlace, Layout::InputAsScratch, Layout::NoScratch}) {
                    ASSERT_EQ(RunInverseAs(layout, transform, input, index), expected)
                        << "length " << n << " alphabet " << alphabet << " index " << index << " layout "
                        << static_cast<int>(layout);
                }
            }
        }
    }
    Free(transform);
}

TEST(InverseTransform, BuildLinksThenWalkIsInverse)
{
    std::mt19937 rng(5150);
    TBWTransform* transform = TBWTransform::Create(100000);
    Bytes input(100000);
    for (auto& b : input)
        b = static_cast<std::uint8_t>(rng() % 5);
    Bytes out(input.size()), scratch(input.size());
    transform->SetLength(static_cast<std::uint32_t>(input.size()));
    transform->Input = input.data();
    transform->Output = out.data();
    transform->Scratch = scratch.data();
    transform->BuildLinks();
    transform->Walk(4321);
    EXPECT_EQ(out, ReferenceInverse(input, 4321));
    Free(transform);
}

// Long blocks are walked in lanes from marker rows; for any input, also one
// whose links form many short cycles, the bytes must be those of the plain
// one walk from the index, including indexes on the marker rows, and the
// walk must keep within Length bytes of Scratch.
class LaneWalk : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(LaneWalk, GivesTheOneWalksBytesForAnyInputAndIndex)
{
    const std::uint32_t n = GetParam();
    const std::uint32_t stride = TBWTransform::LaneStride(n);
    const std::uint32_t lastMarker = (n - 1) / stride;
    std::mt19937 rng(n);
    TBWTransform* transform = TBWTransform::Create(n);
    ASSERT_EQ(transform->Status, 0);
    transform->SetLength(n);
    Bytes out(n);
    Bytes scratch(n + 4096);
    for (unsigned alphabet : {1u, 2u, 7u, 256u}) {
        Bytes input(n);
        for (auto& b : input)
            b = static_cast<std::uint8_t>(rng() % alphabet);
        const std::uint32_t indexes[] = {0, n - 1, stride, lastMarker * stride, (lastMarker / 2) * stride + 1,
                                         static_cast<std::uint32_t>(rng() % n)};
        for (std::uint32_t index : indexes) {
            std::fill(scratch.begin(), scratch.end(), 0xDD);
            transform->Input = input.data();
            transform->Output = out.data();
            transform->Scratch = scratch.data();
            transform->Inverse(index);
            ASSERT_TRUE(std::all_of(scratch.begin() + n, scratch.end(), [](std::uint8_t b) { return b == 0xDD; }))
                << "length " << n << " alphabet " << alphabet << " index " << index;
            ASSERT_EQ(out, ReferenceInverse(input, index))
                << "length " << n << " alphabet " << alphabet << " index " << index;
        }
    }
    Free(transform);
}

// Around the length where lanes start, where the stride starts to grow past
// its least, and the largest block.
INSTANTIATE_TEST_SUITE_P(AroundTheThresholds, LaneWalk,
                         ::testing::Values(TBWTransform::LaneWalkMinimum - 1, TBWTransform::LaneWalkMinimum,
                                           TBWTransform::LaneWalkMinimum + 1, 100003u, 1023u * 512 - 1,
                                           1023u * 512, 1023u * 512 + 1, 1u << 21));
