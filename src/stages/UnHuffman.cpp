#include "UnHuffman.h"

namespace {
bool ReadNoBit() { return false; }
void RescaleNothing() {}
}  // namespace

THuffmanTree* THuffmanTree::Create(std::uint32_t symbolCount)
{
    auto* tree = new THuffmanTree;
    tree->Init(symbolCount);
    return tree;
}

void THuffmanTree::Init(std::uint32_t symbolCount)
{
    Flags = 0;
    if (symbolCount < 2) {
        Flags = 0x80;
        Status = 209;
        return;
    }
    if (symbolCount > MaxSymbols) {
        Flags = 0x80;
        Status = 208;
        return;
    }
    const std::uint32_t n = symbolCount;
    NodeCount = 2 * n - 1;
    SymbolCount = n;
    OnRescale = RescaleNothing;
    OnReadBit = ReadNoBit;
    WeightLimit = 16383;
    Weight = new std::uint32_t[NodeCount + 1];
    Parent = new std::uint32_t[NodeCount + 1];
    Left = new std::uint32_t[2 * n];
    Right = Left + n;
    Path = new std::uint32_t[n < PrefixBits ? PrefixBits : n];
    Prefix = new TPrefixEntry[PrefixSize];
    PrefixNode = new std::uint32_t[2 * PrefixSize]();
    Weight[0] = Parent[0] = Left[0] = Right[0] = 0;
    // A complete binary tree in heap order, every weight 1.
    for (std::uint32_t i = 1; i <= NodeCount; ++i) {
        Weight[i] = 1;
        Parent[i] = i / 2;
    }
    for (std::uint32_t i = 1; i < n; ++i) {
        Left[i] = 2 * i;
        Right[i] = 2 * i + 1;
    }
    RefillPrefix(1, 0);
    Status = 0;
}

void THuffmanTree::Release()
{
    if (Flags & 0x80) {
        Status = 206;
    } else {
        delete[] Weight;
        delete[] Parent;
        delete[] Left;
        delete[] Path;
        delete[] Prefix;
        delete[] PrefixNode;
        Weight = Parent = Left = Right = Path = PrefixNode = nullptr;
        Prefix = nullptr;
        Status = 0;
    }
    NodeCount = 0;
    SymbolCount = 0;
}

void THuffmanTree::UpdateTree(std::uint32_t k)
{
    std::uint32_t depth = 0;
    for (std::uint32_t m = k; m != 1; m = Parent[m])
        ++depth;
    std::uint32_t d = depth;
    for (std::uint32_t m = Parent[k]; d > 0; m = Parent[m])
        Path[--d] = m;
    UpdateAlongPath(k, depth);
}

void THuffmanTree::UpdateAlongPath(std::uint32_t k, std::uint32_t depth)
{
    std::uint32_t* const weight = Weight;
    std::uint32_t* const parent = Parent;
    // child[x] is Left[x], child[x + n] is Right[x].
    std::uint32_t* const child = Left;
    const std::uint32_t* const path = Path;
    const std::uint32_t n = SymbolCount;
    const auto recompute = [weight, child, n](std::uint32_t x) {
        weight[x] = weight[child[x]] + weight[child[x + n]];
    };

    // Climb from the leaf; a node heavier than its uncle (strictly) changes
    // places with it, and the level it left is not examined again. Each node
    // on the way is recomputed from its children once nothing below it can
    // change any more: the same weights as propagating to the root after the
    // increment and after every exchange, with one pass instead of many.
    // Exchanges never move the leaf's ancestors, so the path stays valid.
    ++weight[k];
    std::uint32_t m = k;
    std::uint32_t d = depth;  // depth of m; its parent is path[d - 1]
    // The highest node whose children changed, if within the prefix levels.
    std::uint32_t changed = 0;
    std::uint32_t changedDepth = 0;
    while (d > 0) {
        const std::uint32_t p = path[d - 1];
        if (d >= 2) {
            const std::uint32_t g = path[d - 2];
            const std::uint32_t uncleSlot = g + (n & (0u - static_cast<std::uint32_t>(child[g] == p)));
            const std::uint32_t u = child[uncleSlot];
            if (weight[m] > weight[u]) {
                child[uncleSlot] = m;
                child[child[p] == m ? p : p + n] = u;
                parent[m] = g;
                parent[u] = p;
                if (d - 2 < PrefixBits) {
                    changed = g;
                    changedDepth = d - 2;
                }
                recompute(p);
                m = g;
                d -= 2;
                recompute(m);
                continue;
            }
        }
        m = p;
        d -= 1;
        recompute(m);
    }

    if (changed != 0)
        RefillPrefix(changed, changedDepth);

    if (Weight[1] >= WeightLimit + n) {
        for (std::uint32_t i = 1; i <= NodeCount; ++i)
            Weight[i] >>= 1;
        OnRescale();
    }
}

void THuffmanTree::RefillPrefix(std::uint32_t x, unsigned d)
{
    // The bits from the root down to x.
    unsigned prefix = 0;
    std::uint32_t node = x;
    for (unsigned i = d; i-- > 0;) {
        const std::uint32_t up = Parent[node];
        prefix |= (Right[up] == node ? 1u : 0u) << i;
        node = up;
    }
    FillPrefix(x, d, prefix);
}

void THuffmanTree::FillPrefix(std::uint32_t x, unsigned d, unsigned prefix)
{
    PrefixNode[(1u << d) | prefix] = x;
    if (x >= SymbolCount || d == PrefixBits) {
        // Every entry whose first d bits are the prefix.
        for (unsigned i = prefix; i < PrefixSize; i += 1u << d)
            Prefix[i] = TPrefixEntry{x, d};
        return;
    }
    FillPrefix(Left[x], d + 1, prefix);
    FillPrefix(Right[x], d + 1, prefix | 1u << d);
}

void THuffmanTree::Reset()
{
    if (Flags & 0x80)
        return;
    const std::uint32_t n = SymbolCount;
    for (std::uint32_t node = 1; node <= NodeCount; ++node) {
        Weight[node] = 1;
        Parent[node] = node / 2;
        if (node < n) {
            Left[node] = 2 * node;
            Right[node] = 2 * node + 1;
        }
    }
    RefillPrefix(1, 0);
    Status = 0;
}
