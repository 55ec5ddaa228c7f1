// Adaptive Huffman decoder. The tree starts as a complete binary tree in heap
// order and adapts after every symbol; its exact evolution is part of the
// stream format.
#pragma once

#include <bit>
#include <cstdint>

using TReadBitFunc = bool (*)();
using TRescaleProc = void (*)();

class THuffmanTree {
    // OnReadBit as a bit source for DecodeSymbolFrom: no bits to peek.
    struct HookBits {
        TReadBitFunc read;
        unsigned PeekBits(std::uint64_t&) const { return 0; }
        void SkipBits(unsigned) {}
        template <typename Next>
        void ReadBitsWhile(Next&& next)
        {
            while (next(read() ? 1u : 0u)) {
            }
        }
    };

public:
    static constexpr std::uint32_t MaxSymbols = 0x20001;

    std::uint8_t Flags = 0;
    std::uint32_t NodeCount = 0;    // 2n - 1
    std::uint32_t SymbolCount = 0;  // n
    // Indexed by node number from 1; slot 0 is spare.
    std::uint32_t* Weight = nullptr;
    std::uint32_t* Parent = nullptr;
    std::uint32_t* Left = nullptr;   // n entries, followed directly by
    std::uint32_t* Right = nullptr;  // Right's n entries (one allocation)
    std::uint8_t Status = 0;        // 0, 206, 208, 209
    std::uint32_t WeightLimit = 0;
    // Decodes after Reset that walk from the root, a level per bit, before the
    // prefix table is built: a young tree exchanges near the root at almost
    // every symbol, and each such exchange would rewrite most of the table.
    static constexpr std::uint32_t YoungTreeWalks = 4096;
    std::uint32_t WalksAfterReset = YoungTreeWalks;
    TRescaleProc OnRescale = nullptr;
    TReadBitFunc OnReadBit = nullptr;

    static THuffmanTree* Create(std::uint32_t symbolCount);
    void Init(std::uint32_t symbolCount);
    void Done() { Release(); }
    void Release();

    std::uint32_t DecodeSymbol()
    {
        HookBits bits{OnReadBit};
        return DecodeSymbolFrom(bits);
    }

    // DecodeSymbol with the bits taken from a source that offers
    // ReadBitsWhile(next), PeekBits(window) and SkipBits(count) (a TBlock),
    // so that a hot caller needs no call through OnReadBit per bit. Where the
    // source offers a window, the first PrefixBits bits take one look-up in the
    // prefix table.
    template <typename BitSource>
    std::uint32_t DecodeSymbolFrom(BitSource& bits)
    {
        if (PrefixStale) [[unlikely]]
            return DecodeWhileStale(bits);
        std::uint64_t window = 0;
        const unsigned available = bits.PeekBits(window);
        if (available) {
            const unsigned first = static_cast<unsigned>(window) & (PrefixSize - 1);
            const TPrefixEntry entry = Prefix[first];
            if (entry.Node >= SymbolCount) {
                // A leaf within the first bits, the common case, kept small so
                // that it inlines: its place leads to its ancestors.
                bits.SkipBits(entry.Bits);
                UpdateAtPlace(entry.Node, entry.Bits, entry.Place);
                Status = 0;
                return entry.Node - SymbolCount;
            }
        }
        return DecodeLongerSymbolFrom<true>(bits, window, available);
    }

    // Adapts the tree to the decoded (or, for an encoder, sent) leaf k.
    void UpdateTree(std::uint32_t k);

private:
    // DecodeSymbolFrom while the prefix table is stale: a walk from the root
    // while Walks last, then the table built anew.
    template <typename BitSource>
    [[gnu::noinline]] std::uint32_t DecodeWhileStale(BitSource& bits)
    {
        if (Walks == 0) {
            RefreshPrefix();
            return DecodeSymbolFrom(bits);
        }
        --Walks;
        std::uint64_t window = 0;
        const unsigned available = bits.PeekBits(window);
        return DecodeLongerSymbolFrom<false>(bits, window, available);
    }

    // DecodeSymbolFrom for a code longer than the prefix (FromPrefix), or
    // from the root, or without a window (available 0), with the window
    // DecodeSymbolFrom peeked.
    template <bool FromPrefix, typename BitSource>
    [[gnu::noinline]] std::uint32_t DecodeLongerSymbolFrom(BitSource& bits, std::uint64_t window, unsigned available)
    {
        const std::uint32_t n = SymbolCount;
        // Right is Left + n, so a bit picks the child without a branch.
        const std::uint32_t* const children = Left;
        std::uint32_t* const path = Path;
        std::uint32_t k = 1;
        std::uint32_t depth = 0;
        if (available) {
            if constexpr (FromPrefix) {
                const unsigned first = static_cast<unsigned>(window) & (PrefixSize - 1);
                const TPrefixEntry entry = Prefix[first];
                // The nodes after the first 0 to PrefixBits - 1 of these bits.
                PathToPlace(entry.Place, PrefixBits);
                k = entry.Node;
                depth = entry.Bits;
                window >>= depth;
            }
            while (k < n && depth < available) {
                path[depth++] = k;
                k = children[k + (n & (0u - static_cast<std::uint32_t>(window & 1u)))];
                window >>= 1;
            }
            bits.SkipBits(depth);
        }
        if (k < n) {
            const TWalk rest = WalkBitByBit(bits, k, depth);
            k = rest.Node;
            depth = rest.Depth;
        }
        UpdateAlongPath(k, depth, path);
        Status = 0;
        return k - n;
    }

    // Where a walk stands: the node reached, and its depth.
    struct TWalk {
        std::uint32_t Node;
        std::uint32_t Depth;
    };
    // The walk from node k at depth on, a bit at a time, past the window's
    // end. Out of line, so that the walk's state above stays in registers.
    template <typename BitSource>
    [[gnu::noinline]] TWalk WalkBitByBit(BitSource& bits, std::uint32_t k, std::uint32_t depth)
    {
        const std::uint32_t n = SymbolCount;
        const std::uint32_t* const children = Left;
        std::uint32_t* const path = Path;
        bits.ReadBitsWhile([&k, &depth, n, children, path](unsigned bit) {
            path[depth++] = k;
            k = children[k + (n & (0u - bit))];
            return k < n;
        });
        return {k, depth};
    }

    // What the first PrefixBits bits of a code lead to: the node after them,
    // or the leaf reached with fewer, and how many bits that takes. Ten bits:
    // of the move-to-front codes of executables, about one in twenty is longer
    // (one in five with eight); eleven or twelve bits were no faster.
    static constexpr unsigned PrefixBits = 10;
    static constexpr unsigned PrefixSize = 1u << PrefixBits;
    // Place: where the node stands in the top levels, numbered as in a
    // heap: 1 for the root, 2h and 2h + 1 for the places below h, so that
    // the place of its ancestor e levels up is Place >> e.
    struct TPrefixEntry {
        std::uint32_t Node;
        std::uint16_t Bits;
        std::uint16_t Place;
    };

    // The first d bits of the codes through x, at depth d, and x's place.
    unsigned PrefixOf(std::uint32_t x, unsigned d, unsigned& place) const;
    // Rewrites the prefix entries and positions that the exchange of m (below p)
    // with u (below g, at depth d) changed.
    void RefillAfterExchange(std::uint32_t g, unsigned d, std::uint32_t m, std::uint32_t u, std::uint32_t p);
    // The whole table, after Reset or an encoder's updates left it stale.
    [[gnu::noinline]] void RefreshPrefix();
    bool PrefixStale = true;
    std::uint32_t Walks = 0;  // left of WalksAfterReset
    // The entries of the rows whose first d bits are prefix, which lead to x
    // at place, and the positions of x's subtree within the top levels.
    void FillPrefix(std::uint32_t x, unsigned d, unsigned prefix, unsigned place);

    // UpdateTree for leaf k, whose ancestors from the root down are
    // path[0..depth-1].
    [[gnu::always_inline]] void UpdateAlongPath(std::uint32_t k, std::uint32_t depth, const std::uint32_t* path);
    // UpdateAlongPath for leaf k at a place within the top levels, its
    // ancestors read from Position.
    [[gnu::always_inline]] void UpdateAtPlace(std::uint32_t k, std::uint32_t depth, std::uint32_t place);
    // The ancestors of the node at place, depth levels down, into Path.
    void PathToPlace(std::uint32_t place, std::uint32_t depth)
    {
        for (std::uint32_t e = 0; e < depth; ++e)
            Path[e] = Position[place >> (depth - e)];
    }
    // UpdateAtPlace from the first exchange on, m at depth d: the ancestors
    // into Path, then ClimbWithExchanges.
    [[gnu::noinline]] void ClimbFromPlace(std::uint32_t k, std::uint32_t depth, std::uint32_t place, std::uint32_t d,
                                          std::uint32_t wm, std::uint32_t ws);
    // UpdateAlongPath from the first exchange on: m at depth d (path[d], or
    // k at the leaf) weighs wm, more than its uncle; its sibling weighs ws.
    [[gnu::noinline]] void ClimbWithExchanges(std::uint32_t k, std::uint32_t depth, const std::uint32_t* path,
                                              std::uint32_t d, std::uint32_t wm, std::uint32_t ws);
    // Halves every weight, then calls OnRescale.
    [[gnu::noinline]] void Rescale();

    std::uint32_t* Path = nullptr;  // n entries, at least 8: the nodes above a leaf
    // Indexed by node like Parent: the other child of its parent (0 for the
    // root), so that a climb reads an uncle's weight with one look-up.
    std::uint32_t* Sibling = nullptr;
    TPrefixEntry* Prefix = nullptr;  // PrefixSize entries, indexed by the next PrefixBits bits
    // The node at each place above depth PrefixBits (PrefixSize entries, 0
    // unused): one store per node that moves, not one per row through it.
    std::uint32_t* Position = nullptr;
    // Levels UpdateAtPlace climbs between two looks at the code's length.
    static constexpr std::uint32_t ClimbGroup = 4;

public:
    // Back to the tree Init builds, in the arrays it has; the hooks and
    // WeightLimit stay as the owner set them.
    void Reset();
};

inline void THuffmanTree::UpdateAlongPath(std::uint32_t k, std::uint32_t depth, const std::uint32_t* path)
{
    std::uint32_t* const weight = Weight;
    const std::uint32_t* const sibling = Sibling;

    // Climb from the leaf, m's weight and its sibling's in registers: the
    // uncle read at one level is the sibling at the next. Most climbs meet no
    // uncle lighter than the node that rose, and only add; the first that
    // does goes on in ClimbWithExchanges, out of line, so that this loop's
    // state stays in registers.
    std::uint32_t d = depth;  // depth of m; its parent is path[d - 1], at least 1
    std::uint32_t wm = ++weight[k];
    std::uint32_t p = path[d - 1];
    std::uint32_t ws = weight[sibling[k]];
    for (; d >= 2; --d) {
        const std::uint32_t wu = weight[sibling[p]];
        if (wm > wu) [[unlikely]] {
            ClimbWithExchanges(k, depth, path, d, wm, ws);
            return;
        }
        wm += ws;
        weight[p] = wm;
        ws = wu;
        p = path[d - 2];
    }
    weight[1] = wm + ws;  // the root, p
    if (weight[1] >= WeightLimit + SymbolCount) [[unlikely]]
        Rescale();
}

inline void THuffmanTree::UpdateAtPlace(std::uint32_t k, std::uint32_t depth, std::uint32_t place)
{
    std::uint32_t* const weight = Weight;
    const std::uint32_t* const sibling = Sibling;
    const std::uint32_t* const position = Position;

    // The climb of UpdateAlongPath, with p's place h in place of its depth:
    // one level up is h >> 1, and the root's place is 1. The levels go in
    // groups of ClimbGroup, so that the loop's exit, whose trip count is the
    // code length, is seen once per group: past the root, place 0 holds a
    // spare node whose writes nobody reads, and the uncle of the root and of
    // the spare node weighs the most a weight can (slot 0).
    std::uint32_t wm = ++weight[k];
    std::uint32_t h = place >> 1;
    std::uint32_t p = position[h];
    std::uint32_t ws = weight[sibling[k]];
    for (std::uint32_t left = depth;; left -= ClimbGroup) {
        for (std::uint32_t i = 0; i < ClimbGroup; ++i) {
            const std::uint32_t wu = weight[sibling[p]];
            if (wm > wu) [[unlikely]] {
                ClimbFromPlace(k, depth, place, static_cast<std::uint32_t>(std::bit_width(h)), wm, ws);
                return;
            }
            wm += ws;
            weight[p] = wm;
            ws = wu;
            h >>= 1;
            p = position[h];
        }
        if (left <= ClimbGroup)
            break;
    }
    if (weight[1] >= WeightLimit + SymbolCount) [[unlikely]]
        Rescale();
}
