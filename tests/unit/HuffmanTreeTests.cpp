#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "stages/Blocks.h"
#include "stages/UnHuffman.h"

namespace {

// The bit source carries no context: it reads from this queue.
std::deque<bool> g_bits;
std::size_t g_bitsRead = 0;
std::size_t g_rescales = 0;

bool QueuedBit()
{
    ++g_bitsRead;
    if (g_bits.empty()) {
        ADD_FAILURE() << "bit source ran dry";
        return false;
    }
    const bool bit = g_bits.front();
    g_bits.pop_front();
    return bit;
}

void CountRescale() { ++g_rescales; }

void QueueBits(const std::string& bits)
{
    for (char c : bits)
        g_bits.push_back(c == '1');
}

THuffmanTree* NewTree(std::uint32_t n)
{
    THuffmanTree* tree = THuffmanTree::Create(n);
    EXPECT_EQ(tree->Status, 0);
    tree->OnReadBit = QueuedBit;
    tree->OnRescale = CountRescale;
    return tree;
}

void Free(THuffmanTree* tree)
{
    tree->Done();
    delete tree;
}

// Code of a symbol: the path from the root to its leaf, found by walking Parent[] up.
std::string CodeOf(const THuffmanTree& tree, std::uint32_t symbol)
{
    std::string code;
    std::uint32_t node = tree.SymbolCount + symbol;
    while (node != 1) {
        const std::uint32_t parent = tree.Parent[node];
        if (tree.Right[parent] == node)
            code.insert(code.begin(), '1');
        else if (tree.Left[parent] == node)
            code.insert(code.begin(), '0');
        else
            return "broken link at node " + std::to_string(node);
        node = parent;
    }
    return code;
}

// Every node reachable from the root exactly once, with consistent parent links.
void ExpectFullTree(const THuffmanTree& tree)
{
    const std::uint32_t n = tree.SymbolCount;
    std::vector<int> seen(2 * n, 0);
    std::vector<std::uint32_t> stack = {1};
    while (!stack.empty()) {
        const std::uint32_t k = stack.back();
        stack.pop_back();
        ASSERT_GE(k, 1u);
        ASSERT_LT(k, 2 * n);
        ASSERT_EQ(seen[k]++, 0) << "node " << k << " reached twice";
        if (k < n) {
            ASSERT_EQ(tree.Parent[tree.Left[k]], k);
            ASSERT_EQ(tree.Parent[tree.Right[k]], k);
            stack.push_back(tree.Left[k]);
            stack.push_back(tree.Right[k]);
        }
    }
    for (std::uint32_t k = 1; k < 2 * n; ++k)
        ASSERT_EQ(seen[k], 1) << "node " << k << " not in the tree";
}

std::vector<std::uint32_t> Weights(const THuffmanTree& tree)
{
    return std::vector<std::uint32_t>(tree.Weight + 1, tree.Weight + tree.NodeCount + 1);
}

std::uint32_t Decode(THuffmanTree* tree, const std::string& bits)
{
    g_bits.clear();
    g_bitsRead = 0;
    QueueBits(bits);
    const std::uint32_t symbol = tree->DecodeSymbol();
    EXPECT_TRUE(g_bits.empty()) << "not all of " << bits << " were read";
    EXPECT_EQ(g_bitsRead, bits.size());
    return symbol;
}

// Straightforward model of the adaptive tree, used to follow long streams.
struct ReferenceTree {
    std::uint32_t n;
    std::uint32_t limit;
    std::vector<std::uint32_t> weight, parent, left, right;
    std::size_t rescales = 0;
    std::size_t exchangesNearRoot = 0;  // whose grandparent lies in the top 8 levels

    explicit ReferenceTree(std::uint32_t symbols)
        : n(symbols), limit(16383), weight(2 * symbols, 1), parent(2 * symbols), left(symbols), right(symbols)
    {
        for (std::uint32_t i = 1; i < 2 * n; ++i)
            parent[i] = i / 2;
        for (std::uint32_t i = 1; i < n; ++i) {
            left[i] = 2 * i;
            right[i] = 2 * i + 1;
        }
    }

    void Propagate(std::uint32_t m)
    {
        do {
            m = parent[m];
            weight[m] = weight[left[m]] + weight[right[m]];
        } while (m != 1);
    }

    std::uint32_t Decode(const std::vector<bool>& source, std::size_t& pos)
    {
        std::uint32_t k = 1;
        while (k < n)
            k = source[pos++] ? right[k] : left[k];
        const std::uint32_t leaf = k;
        weight[k] += 1;
        Propagate(k);
        std::uint32_t m = k;
        while (m != 1) {
            const std::uint32_t p = parent[m];
            if (p != 1) {
                const std::uint32_t g = parent[p];
                const bool pIsLeft = left[g] == p;
                const std::uint32_t u = pIsLeft ? right[g] : left[g];
                if (weight[m] > weight[u]) {
                    unsigned depthOfG = 0;
                    for (std::uint32_t x = g; x != 1; x = parent[x])
                        ++depthOfG;
                    if (depthOfG < 8)
                        ++exchangesNearRoot;
                    (pIsLeft ? right[g] : left[g]) = m;
                    (left[p] == m ? left[p] : right[p]) = u;
                    parent[m] = g;
                    parent[u] = p;
                    Propagate(u);
                }
            }
            m = parent[m];
        }
        if (weight[1] >= limit + n) {
            for (std::uint32_t i = 1; i < 2 * n; ++i)
                weight[i] /= 2;
            ++rescales;
        }
        return leaf - n;
    }
};

} // namespace

// A symbol count and the construction status it gives.
struct CountCase {
    std::uint32_t symbols;
    std::uint8_t status;
};

class AdaptiveHuffmanConstructionCount : public ::testing::TestWithParam<CountCase> {};

TEST_P(AdaptiveHuffmanConstructionCount, StatusArraysAndDone)
{
    const std::uint32_t n = GetParam().symbols;
    const bool accepted = GetParam().status == 0;
    THuffmanTree* tree = THuffmanTree::Create(n);
    EXPECT_EQ(tree->Status, GetParam().status);
    EXPECT_EQ(tree->Flags, accepted ? 0 : 0x80);
    EXPECT_EQ(tree->Weight != nullptr, accepted);
    if (accepted) {
        EXPECT_EQ(tree->SymbolCount, n);
        EXPECT_EQ(tree->NodeCount, 2 * n - 1);
        EXPECT_EQ(tree->WeightLimit, 16383u);
        EXPECT_NE(tree->OnReadBit, nullptr);
        EXPECT_NE(tree->OnRescale, nullptr);
    }
    tree->Done();
    EXPECT_EQ(tree->Status, accepted ? 0 : 206);
    EXPECT_EQ(tree->NodeCount, 0u);
    EXPECT_EQ(tree->SymbolCount, 0u);
    delete tree;
}

INSTANTIATE_TEST_SUITE_P(FromTwoToTheLargest, AdaptiveHuffmanConstructionCount,
                         ::testing::Values(CountCase{2, 0}, CountCase{131073, 0}));
INSTANTIATE_TEST_SUITE_P(FewerThanTwoOrMoreThanTheLargest, AdaptiveHuffmanConstructionCount,
                         ::testing::Values(CountCase{0, 209}, CountCase{1, 209}, CountCase{131074, 208}));

TEST(AdaptiveHuffmanConstruction, InitialTreeIsCompleteInHeapOrder)
{
    for (std::uint32_t n : {2u, 3u, 5u, 16u, 256u}) {
        THuffmanTree* tree = THuffmanTree::Create(n);
        for (std::uint32_t i = 1; i < 2 * n; ++i) {
            ASSERT_EQ(tree->Weight[i], 1u) << "n " << n << " node " << i;
            ASSERT_EQ(tree->Parent[i], i / 2) << "n " << n << " node " << i;
        }
        for (std::uint32_t i = 1; i < n; ++i) {
            ASSERT_EQ(tree->Left[i], 2 * i);
            ASSERT_EQ(tree->Right[i], 2 * i + 1);
        }
        Free(tree);
    }

    THuffmanTree* three = THuffmanTree::Create(3);
    EXPECT_EQ(CodeOf(*three, 0), "1");
    EXPECT_EQ(CodeOf(*three, 1), "00");
    EXPECT_EQ(CodeOf(*three, 2), "01");
    Free(three);

    THuffmanTree* byteTree = THuffmanTree::Create(256);
    EXPECT_EQ(CodeOf(*byteTree, 0), "00000000");
    EXPECT_EQ(CodeOf(*byteTree, 0xA5), "10100101");
    EXPECT_EQ(CodeOf(*byteTree, 255), "11111111");
    Free(byteTree);
}

TEST(AdaptiveHuffman, WorkedExampleOnFourSymbols)
{
    THuffmanTree* tree = NewTree(4);

    EXPECT_EQ(Decode(tree, "11"), 3u);
    EXPECT_EQ(tree->Status, 0);
    EXPECT_EQ(tree->Left[1], 7u);
    EXPECT_EQ(tree->Right[1], 3u);
    EXPECT_EQ(tree->Left[3], 6u);
    EXPECT_EQ(tree->Right[3], 2u);
    EXPECT_EQ(tree->Left[2], 4u);
    EXPECT_EQ(tree->Right[2], 5u);
    EXPECT_EQ(tree->Parent[7], 1u);
    EXPECT_EQ(tree->Parent[2], 3u);
    EXPECT_EQ(tree->Parent[3], 1u);
    EXPECT_EQ(Weights(*tree), (std::vector<std::uint32_t>{4, 1, 2, 1, 1, 1, 2}));
    EXPECT_EQ(CodeOf(*tree, 3), "0");
    EXPECT_EQ(CodeOf(*tree, 2), "10");
    EXPECT_EQ(CodeOf(*tree, 0), "110");
    EXPECT_EQ(CodeOf(*tree, 1), "111");

    EXPECT_EQ(Decode(tree, "0"), 3u);
    EXPECT_EQ(Weights(*tree), (std::vector<std::uint32_t>{5, 1, 2, 1, 1, 1, 3}));
    EXPECT_EQ(Decode(tree, "0"), 3u);
    EXPECT_EQ(Weights(*tree), (std::vector<std::uint32_t>{6, 1, 2, 1, 1, 1, 4}));
    EXPECT_EQ(tree->Left[1], 7u);
    EXPECT_EQ(tree->Right[3], 2u);

    EXPECT_EQ(Decode(tree, "110"), 0u);
    EXPECT_EQ(Weights(*tree), (std::vector<std::uint32_t>{8, 2, 4, 2, 1, 1, 4}));
    EXPECT_EQ(tree->Left[3], 4u);
    EXPECT_EQ(tree->Left[2], 6u);
    EXPECT_EQ(tree->Parent[4], 3u);
    EXPECT_EQ(tree->Parent[6], 2u);
    EXPECT_EQ(CodeOf(*tree, 0), "10");
    EXPECT_EQ(CodeOf(*tree, 1), "111");
    EXPECT_EQ(CodeOf(*tree, 2), "110");
    EXPECT_EQ(CodeOf(*tree, 3), "0");
    ExpectFullTree(*tree);
    EXPECT_EQ(g_rescales, 0u);
    Free(tree);
}

TEST(AdaptiveHuffman, ByteTreeAfterDecodingSymbolZero)
{
    THuffmanTree* tree = NewTree(256);
    EXPECT_EQ(Decode(tree, "00000000"), 0u);
    EXPECT_EQ(CodeOf(*tree, 0), "1111");
    EXPECT_EQ(CodeOf(*tree, 1), "11101");
    EXPECT_EQ(CodeOf(*tree, 2), "111000");
    EXPECT_EQ(CodeOf(*tree, 255), "001111111");
    ExpectFullTree(*tree);

    // The new code of symbol 0 decodes it in four bits.
    EXPECT_EQ(Decode(tree, "1111"), 0u);
    Free(tree);
}

TEST(AdaptiveHuffman, SixteenSymbolTreeAfterSymbolFiveThreeTimes)
{
    THuffmanTree* tree = NewTree(16);
    EXPECT_EQ(CodeOf(*tree, 5), "0101");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Decode(tree, CodeOf(*tree, 5)), 5u) << "decode " << i;

    const char* expected[16] = {"11000",  "11001",  "11010",  "11011",  "100",    "0",
                                "1010",   "1011",   "111000", "111001", "111010", "111011",
                                "111100", "111101", "111110", "111111"};
    for (std::uint32_t s = 0; s < 16; ++s)
        EXPECT_EQ(CodeOf(*tree, s), expected[s]) << "symbol " << s;
    ExpectFullTree(*tree);
    Free(tree);
}

TEST(AdaptiveHuffman, TwoSymbolTreeRescalesOnThe16383rdDecode)
{
    g_rescales = 0;
    THuffmanTree* tree = NewTree(2);
    for (int i = 1; i < 16383; ++i) {
        ASSERT_EQ(Decode(tree, "0"), 0u);
        ASSERT_EQ(tree->Left[1], 2u);
        ASSERT_EQ(tree->Right[1], 3u);
    }
    EXPECT_EQ(g_rescales, 0u);
    EXPECT_EQ(Weights(*tree), (std::vector<std::uint32_t>{16384, 16383, 1}));

    EXPECT_EQ(Decode(tree, "0"), 0u);
    EXPECT_EQ(g_rescales, 1u);
    EXPECT_EQ(Weights(*tree), (std::vector<std::uint32_t>{8192, 8192, 0}));

    // Symbol 1 still decodes with one bit.
    EXPECT_EQ(Decode(tree, "1"), 1u);
    EXPECT_EQ(Weights(*tree), (std::vector<std::uint32_t>{8193, 8192, 1}));
    Free(tree);
    g_rescales = 0;
}

TEST(AdaptiveHuffman, DefaultBitSourceFollowsTheAllZeroPath)
{
    for (std::uint32_t n : {2u, 5u, 16u, 256u}) {
        THuffmanTree* tree = THuffmanTree::Create(n);
        for (int i = 0; i < 300; ++i) {
            std::uint32_t k = 1;
            while (k < n)
                k = tree->Left[k];
            ASSERT_EQ(tree->DecodeSymbol(), k - n) << "n " << n << " decode " << i;
        }
        // The default rescale hook survives a rescale too.
        for (int i = 0; i < 20000; ++i)
            tree->DecodeSymbol();
        EXPECT_LT(tree->Weight[1], tree->WeightLimit + n);
        Free(tree);
    }
}

TEST(AdaptiveHuffman, FollowsTheReferenceModelOverLongRandomStreams)
{
    // Skewed random symbols, so leaves climb and fall and the root crosses
    // the rescale limit many times (16399 for 16 symbols, 16639 for 256).
    for (std::uint32_t n : {2u, 3u, 4u, 7u, 16u, 256u}) {
        std::mt19937 rng(1000 + n);
        ReferenceTree reference(n);
        g_rescales = 0;
        THuffmanTree* tree = NewTree(n);
        for (int i = 0; i < 120000; ++i) {
            // Pick a symbol with a shifting bias, then send its current code.
            const std::uint32_t span = 1 + (i / 7000) % n;
            const std::uint32_t symbol = (rng() % 4 == 0) ? rng() % n : (i / 5000 + rng() % span) % n;
            std::vector<bool> code;
            {
                std::uint32_t node = n + symbol;
                while (node != 1) {
                    const std::uint32_t p = reference.parent[node];
                    code.insert(code.begin(), reference.right[p] == node);
                    node = p;
                }
            }
            std::size_t pos = 0;
            ASSERT_EQ(reference.Decode(code, pos), symbol);
            g_bits.assign(code.begin(), code.end());
            ASSERT_EQ(tree->DecodeSymbol(), symbol) << "n " << n << " step " << i;
            ASSERT_TRUE(g_bits.empty());
            ASSERT_EQ(g_rescales, reference.rescales) << "n " << n << " step " << i;
            if (i % 4001 == 0 || i == 119999) {
                for (std::uint32_t k = 1; k < 2 * n; ++k) {
                    ASSERT_EQ(tree->Weight[k], reference.weight[k]) << "n " << n << " step " << i << " node " << k;
                    ASSERT_EQ(tree->Parent[k], reference.parent[k]) << "n " << n << " step " << i << " node " << k;
                }
                for (std::uint32_t k = 1; k < n; ++k) {
                    ASSERT_EQ(tree->Left[k], reference.left[k]);
                    ASSERT_EQ(tree->Right[k], reference.right[k]);
                }
                ExpectFullTree(*tree);
            }
        }
        EXPECT_GT(reference.rescales, 3u) << "n " << n << ": the stream should cross the limit";
        Free(tree);
    }
    g_rescales = 0;
}

namespace {

// The packed code stream of the block-source test, delivered in fills of
// the block's capacity.
std::vector<std::uint8_t> g_packed;
std::size_t g_packedPos = 0;
TBlock* g_packedBlock = nullptr;

void PackedFill(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& delivered)
{
    const std::size_t n = std::min<std::size_t>(capacity, g_packed.size() - g_packedPos);
    std::memset(buffer, 0, capacity);
    std::memcpy(buffer, g_packed.data() + g_packedPos, n);
    g_packedPos += n;
    delivered = n == 0 ? 1 : static_cast<std::uint32_t>(n);
    g_packedBlock->Rewind();
}

} // namespace

TEST(AdaptiveHuffmanFromBlock, PrefixTableAndBitWindowFollowTheReference)
{
    // The pipeline's path: codes read from a block through the 64-bit window
    // and the prefix table, refilled after exchanges near the root; small
    // blocks make many codes straddle the last bytes of a fill, where bits
    // come one by one. A tree fed through the bit hook walks the plain way.
    // Every tree size up to 33, so that leaves end on every level of the
    // prefix table and below it, and larger ones: up to and past the size
    // whose start tree fills the table's levels exactly.
    std::vector<std::uint32_t> sizes;
    for (std::uint32_t n = 2; n <= 33; ++n)
        sizes.push_back(n);
    for (std::uint32_t n : {100u, 255u, 256u, 257u, 1023u, 1024u, 1025u, 70000u})
        sizes.push_back(n);
    // The prefix table from the first code, and after the young tree's walks.
    for (std::uint32_t n : sizes) {
        for (const auto& [capacity, walks] : {std::pair{13u, 0u}, std::pair{4096u, 0u},
                                             std::pair{13u, THuffmanTree::YoungTreeWalks}}) {
            const int symbols = n > 1000 ? 5000 : 60000;
            std::mt19937 rng(n * 31 + capacity);
            ReferenceTree reference(n);
            std::vector<std::uint32_t> sent;
            std::vector<bool> code;
            for (int i = 0; i < symbols; ++i) {
                // A bias that jumps to other symbols often, so that leaves
                // rise and fall across the top levels.
                const std::uint32_t focus = (i / 1500) * 7919 % n;
                const std::uint32_t symbol = rng() % 3 == 0 ? rng() % n : (focus + rng() % 3) % n;
                std::vector<bool> bits;
                for (std::uint32_t node = n + symbol; node != 1; node = reference.parent[node])
                    bits.insert(bits.begin(), reference.right[reference.parent[node]] == node);
                std::size_t pos = 0;
                ASSERT_EQ(reference.Decode(bits, pos), symbol);
                code.insert(code.end(), bits.begin(), bits.end());
                sent.push_back(symbol);
            }
            if (n >= 16) {
                EXPECT_GT(reference.exchangesNearRoot, 100u) << "n " << n;
            }
            if (n <= 256) {
                EXPECT_GT(reference.rescales, 2u) << "n " << n;
            }

            g_packed.assign((code.size() + 7) / 8, 0);
            for (std::size_t i = 0; i < code.size(); ++i)
                g_packed[i / 8] |= static_cast<std::uint8_t>(code[i] << (i % 8));
            g_packedPos = 0;
            TBlock* block = TBlock::Create(capacity);
            g_packedBlock = block;
            block->OnFill = PackedFill;
            std::uint32_t delivered = 0;
            PackedFill(block->Data, capacity, delivered);
            block->SetUsedLength(delivered);

            THuffmanTree* fast = THuffmanTree::Create(n);
            fast->WalksAfterReset = walks;
            fast->Reset();
            THuffmanTree* plain = NewTree(n);
            g_bits.assign(code.begin(), code.end());
            for (int i = 0; i < symbols; ++i) {
                ASSERT_EQ(fast->DecodeSymbolFrom(*block), sent[i]) << "n " << n << " capacity " << capacity << " step " << i;
                ASSERT_EQ(plain->DecodeSymbol(), sent[i]) << "n " << n << " step " << i;
                if (i % 997 == 0) {
                    for (std::uint32_t k = 1; k < 2 * n; ++k) {
                        ASSERT_EQ(fast->Weight[k], plain->Weight[k]) << "n " << n << " step " << i << " node " << k;
                        ASSERT_EQ(fast->Parent[k], plain->Parent[k]) << "n " << n << " step " << i << " node " << k;
                    }
                }
            }
            for (std::uint32_t k = 1; k < 2 * n; ++k) {
                ASSERT_EQ(fast->Weight[k], reference.weight[k]) << "n " << n << " node " << k;
                ASSERT_EQ(fast->Parent[k], reference.parent[k]) << "n " << n << " node " << k;
            }
            // Every bit of the stream was taken, none more.
            const std::size_t taken = (g_packedPos - block->UsedLength) * 8 + block->Cursor * 8 + block->BitIndex;
            EXPECT_EQ(taken, code.size()) << "n " << n << " capacity " << capacity;
            EXPECT_TRUE(g_bits.empty());
            Free(fast);
            Free(plain);
            block->Done();
            delete block;
            g_packedBlock = nullptr;
        }
    }
    g_rescales = 0;
}
