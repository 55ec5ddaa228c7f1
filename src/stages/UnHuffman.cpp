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
    // One slot more than the nodes: the spare node of UpdateAtPlace.
    Weight = new std::uint32_t[NodeCount + 2];
    Parent = new std::uint32_t[NodeCount + 1];
    Left = new std::uint32_t[2 * n];
    Right = Left + n;
    Path = new std::uint32_t[n < PrefixBits ? PrefixBits : n];
    Prefix = new TPrefixEntry[PrefixSize];
    Position = new std::uint32_t[PrefixSize]();
    Sibling = new std::uint32_t[NodeCount + 2];
    Parent[0] = Left[0] = Right[0] = Sibling[0] = 0;
    // The uncle of the root and of the spare node, never lighter than a
    // node that rose: no exchange above the root.
    Weight[0] = UINT32_MAX;
    Position[0] = NodeCount + 1;
    Sibling[NodeCount + 1] = 0;
    Reset();
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
        delete[] Sibling;
        delete[] Prefix;
        delete[] Position;
        Weight = Parent = Left = Right = Path = Position = Sibling = nullptr;
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
    // An encoder's tree never reads the prefix table: it is built anew only
    // when a decode needs it.
    PrefixStale = true;
    UpdateAlongPath(k, depth, Path);
}

void THuffmanTree::ClimbWithExchanges(std::uint32_t k, std::uint32_t depth, const std::uint32_t* path,
                                      std::uint32_t d, std::uint32_t wm, std::uint32_t ws)
{
    std::uint32_t* const weight = Weight;
    std::uint32_t* const parent = Parent;
    std::uint32_t* const sibling = Sibling;
    // child[x] is Left[x], child[x + n] is Right[x].
    std::uint32_t* const child = Left;
    const std::uint32_t n = SymbolCount;

    // A node heavier than its uncle (strictly) changes places with it, and
    // the level it left is not examined again. Each node on the way is
    // recomputed from its children once nothing below it can change any
    // more: the same weights as propagating to the root after the increment
    // and after every exchange, with one pass instead of many. Exchanges
    // never move the leaf's ancestors, so the path stays valid.
    std::uint32_t m = d == depth ? k : path[d];
    std::uint32_t p = path[d - 1];
    // The highest exchange within the prefix levels: g at depth
    // changedDepth, which took m in place of u, and p, which took u in
    // place of m.
    std::uint32_t changed = 0;
    std::uint32_t changedDepth = 0;
    std::uint32_t risen = 0;
    std::uint32_t lowered = 0;
    std::uint32_t loweredParent = 0;
    while (d >= 2) {
        const std::uint32_t g = path[d - 2];
        const std::uint32_t u = sibling[p];
        const std::uint32_t wu = weight[u];
        if (wm <= wu) {
            wm += ws;
            weight[p] = wm;
            ws = wu;
            m = p;
            p = g;
            d -= 1;
            continue;
        }
        const std::uint32_t s = sibling[m];
        child[child[g] == u ? g : g + n] = m;
        child[child[p] == m ? p : p + n] = u;
        parent[m] = g;
        parent[u] = p;
        sibling[m] = p;
        sibling[p] = m;
        sibling[u] = s;
        sibling[s] = u;
        if (d - 2 < PrefixBits) {
            changed = g;
            changedDepth = d - 2;
            risen = m;
            lowered = u;
            loweredParent = p;
        }
        // p now holds u and m's old sibling; g holds m and p.
        const std::uint32_t wp = wu + ws;
        weight[p] = wp;
        wm += wp;
        weight[g] = wm;
        m = g;
        d -= 2;
        if (d == 0)
            break;
        p = path[d - 1];
        ws = weight[sibling[m]];
    }
    if (d == 1)
        weight[p] = wm + ws;  // the root

    if (changed != 0 && !PrefixStale)
        RefillAfterExchange(changed, changedDepth, risen, lowered, loweredParent);

    if (weight[1] >= WeightLimit + n)
        Rescale();
}

void THuffmanTree::ClimbFromPlace(std::uint32_t k, std::uint32_t depth, std::uint32_t place, std::uint32_t d,
                                  std::uint32_t wm, std::uint32_t ws)
{
    PathToPlace(place, depth);
    ClimbWithExchanges(k, depth, Path, d, wm, ws);
}

void THuffmanTree::Rescale()
{
    for (std::uint32_t i = 1; i <= NodeCount; ++i)
        Weight[i] >>= 1;
    OnRescale();
}

unsigned THuffmanTree::PrefixOf(std::uint32_t x, unsigned d, unsigned& place) const
{
    unsigned prefix = 0;
    place = 1u << d;
    for (unsigned i = d; i-- > 0;) {
        const std::uint32_t up = Parent[x];
        const unsigned bit = Right[up] == x ? 1u : 0u;
        prefix |= bit << i;
        place |= bit << (d - 1 - i);
        x = up;
    }
    return prefix;
}

void THuffmanTree::RefillAfterExchange(std::uint32_t g, unsigned d, std::uint32_t m, std::uint32_t u, std::uint32_t p)
{
    // Only the two subtrees that moved lead elsewhere: m, a level up in u's
    // place under g, and u, a level down in m's place under p. The rows
    // through g down to p, and those under m's old sibling, are unchanged.
    unsigned place = 0;
    const unsigned prefix = PrefixOf(g, d, place);
    const unsigned mBit = Right[g] == m ? 1u : 0u;
    FillPrefix(m, d + 1, prefix | mBit << d, 2 * place + mBit);
    if (d + 2 <= PrefixBits) {
        const unsigned uBit = Right[p] == u ? 1u : 0u;
        FillPrefix(u, d + 2, prefix | (mBit ^ 1u) << d | uBit << (d + 1), 4 * place + 2 * (mBit ^ 1u) + uBit);
    }
}

void THuffmanTree::FillPrefix(std::uint32_t x, unsigned d, unsigned prefix, unsigned place)
{
    // The rows whose first d bits are the prefix.
    const unsigned step = 1u << d;
    if (x >= SymbolCount || d == PrefixBits) {
        const TPrefixEntry entry{x, static_cast<std::uint16_t>(d), static_cast<std::uint16_t>(place)};
        for (unsigned i = prefix; i < PrefixSize; i += step)
            Prefix[i] = entry;
        if (d < PrefixBits)
            Position[place] = x;
        return;
    }
    Position[place] = x;
    FillPrefix(Left[x], d + 1, prefix, 2 * place);
    FillPrefix(Right[x], d + 1, prefix | step, 2 * place + 1);
}

void THuffmanTree::Reset()
{
    if (Flags & 0x80)
        return;
    const std::uint32_t n = SymbolCount;
    // A complete binary tree in heap order, every weight 1.
    for (std::uint32_t node = 1; node <= NodeCount; ++node) {
        Weight[node] = 1;
        Parent[node] = node / 2;
        Sibling[node] = node == 1 ? 0 : node ^ 1u;
        if (node < n) {
            Left[node] = 2 * node;
            Right[node] = 2 * node + 1;
        }
    }
    PrefixStale = true;
    Walks = WalksAfterReset;
    Status = 0;
}

void THuffmanTree::RefreshPrefix()
{
    FillPrefix(1, 0, 0, 1);
    PrefixStale = false;
}
