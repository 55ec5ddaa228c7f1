// Stage fuzz entry: the input's bits are a token stream, fed straight into
// the stages the block pipeline decodes it with (the three adaptive trees
// reading from a TBlock, move-to-front, the first run-length stage), and into
// a plain model of the same rules written here from scratch: a tree that
// walks one bit at a time and propagates weights to the root after every
// change, a move-to-front list shifted one value at a time, a token loop
// that counts equal bytes. Bytes, cut runs, bits taken and the final state of the
// trees and the list must be the same. The stages are kept from input to
// input and set back with Reset, which is so checked against new models.
//
// Input: one byte of options (bits 0-1: bytes per fill of the bit source,
// 1, 9, 64 or 4096; bits 2-3: weight limit, the real 16383 or a low one that
// reaches the halving; bits 4-5: blocks less one; bits 6-7: decodes that
// walk from the root before the trees build their prefix tables, the real
// count or 0, 1 or 200), two bytes per block (its
// length, 1 to 192), then the bits, least significant first; past their end
// the source reads zeros.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ArchiveFormat.h"
#include "stages/Blocks.h"
#include "stages/RLEs.h"
#include "stages/UnHuffman.h"
#include "stages/msmtf.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Short blocks keep an input to under a thousand tokens: many inputs a second.
constexpr std::uint32_t MaxBlockLength = 192;

[[noreturn]] void Fail(const char* what, std::size_t block)
{
    std::fprintf(stderr, "\nstages and plain model differ: %s (block %zu)\n", what, block);
    std::abort();
}

// The adaptive tree by its plain rules.
class PlainTree {
public:
    PlainTree(std::uint32_t symbols, std::uint32_t weightLimit)
        : N(symbols), Limit(weightLimit), Weight(2 * symbols, 1), Parent(2 * symbols), Left(symbols), Right(symbols)
    {
        for (std::uint32_t i = 1; i < 2 * N; ++i)
            Parent[i] = i / 2;
        for (std::uint32_t i = 1; i < N; ++i) {
            Left[i] = 2 * i;
            Right[i] = 2 * i + 1;
        }
    }

    template <typename NextBit>
    std::uint32_t Decode(NextBit&& nextBit)
    {
        std::uint32_t k = 1;
        while (k < N)
            k = nextBit() ? Right[k] : Left[k];
        Update(k);
        return k - N;
    }

    bool SameAs(const THuffmanTree& tree) const
    {
        for (std::uint32_t i = 1; i < 2 * N; ++i)
            if (tree.Weight[i] != Weight[i] || (i > 1 && tree.Parent[i] != Parent[i]))
                return false;
        for (std::uint32_t i = 1; i < N; ++i)
            if (tree.Left[i] != Left[i] || tree.Right[i] != Right[i])
                return false;
        return true;
    }

private:
    void Propagate(std::uint32_t m)
    {
        do {
            m = Parent[m];
            Weight[m] = Weight[Left[m]] + Weight[Right[m]];
        } while (m != 1);
    }

    void Update(std::uint32_t k)
    {
        ++Weight[k];
        Propagate(k);
        for (std::uint32_t m = k; m != 1; m = Parent[m]) {
            const std::uint32_t p = Parent[m];
            if (p == 1)
                continue;
            const std::uint32_t g = Parent[p];
            const std::uint32_t u = Left[g] == p ? Right[g] : Left[g];
            if (Weight[m] <= Weight[u])
                continue;
            (Left[g] == u ? Left[g] : Right[g]) = m;
            (Left[p] == m ? Left[p] : Right[p]) = u;
            Parent[m] = g;
            Parent[u] = p;
            Propagate(u);
        }
        if (Weight[1] >= Limit + N)
            for (std::uint32_t i = 1; i < 2 * N; ++i)
                Weight[i] /= 2;
    }

    std::uint32_t N;
    std::uint32_t Limit;
    std::vector<std::uint32_t> Weight, Parent, Left, Right;
};

// The move-to-front list by its plain rule: the values before the index
// move one place back, the decoded one goes to the front.
struct PlainList {
    std::uint8_t SymbolAt[256];

    PlainList()
    {
        for (unsigned i = 0; i < 256; ++i)
            SymbolAt[i] = static_cast<std::uint8_t>(i);
    }

    std::uint8_t Decode(std::uint8_t index)
    {
        const std::uint8_t sym = SymbolAt[index];
        for (unsigned p = index; p > 0; --p)
            SymbolAt[p] = SymbolAt[p - 1];
        SymbolAt[0] = sym;
        return sym;
    }

    // Where each value stands, for the stage's table of positions.
    bool SamePositionsAs(const std::uint8_t* positionOf) const
    {
        for (unsigned p = 0; p < 256; ++p)
            if (positionOf[SymbolAt[p]] != p)
                return false;
        return true;
    }
};

struct BlockResult {
    Bytes bytes;
    bool cut = false;
    std::uint64_t bitsTaken = 0;
};

// The plain model: its bit source, its trees and list, the token loop.
class PlainModel {
public:
    PlainModel(const std::uint8_t* bits, std::size_t size, std::uint32_t weightLimit)
        : Bits(bits), Size(size), Symbols(twx::SymbolTreeSize, weightLimit), Runs(twx::RunTreeSize, weightLimit),
          Extensions(twx::RunExtensionTreeSize, weightLimit)
    {
    }

    BlockResult DecodeBlock(std::uint32_t length)
    {
        BlockResult result;
        unsigned equal = 0;
        int previous = -1;
        while (result.bytes.size() < length) {
            const std::uint8_t byte = List.Decode(static_cast<std::uint8_t>(Symbols.Decode([this] { return Bit(); })));
            result.bytes.push_back(byte);
            equal = byte == previous ? equal + 1 : 1;
            previous = byte;
            if (equal < twx::FirstStageGroup)
                continue;
            // The run token after the fourth equal byte; the next byte starts a new row.
            std::uint32_t copies = RunLength();
            const std::uint32_t room = length - static_cast<std::uint32_t>(result.bytes.size());
            if (copies > room) {
                result.cut = true;
                copies = room;
            }
            result.bytes.insert(result.bytes.end(), copies, byte);
            equal = 0;
            previous = -1;
        }
        result.bitsTaken = std::min<std::uint64_t>(At, 8 * std::uint64_t{Size});
        return result;
    }

    const PlainTree& Tree(unsigned i) const { return i == 0 ? Symbols : i == 1 ? Runs : Extensions; }
    const PlainList& MoveToFront() const { return List; }

private:
    bool Bit()
    {
        const std::uint64_t at = At++;
        return at < 8 * std::uint64_t{Size} && ((Bits[at / 8] >> (at % 8)) & 1u) != 0;
    }

    std::uint32_t RunLength()
    {
        if (!Bit())
            return 0;
        const std::uint32_t v = Runs.Decode([this] { return Bit(); });
        return v < twx::RunTreeEscape ? v + 1 : 16 + Extensions.Decode([this] { return Bit(); });
    }

    const std::uint8_t* Bits;
    std::size_t Size;
    std::uint64_t At = 0;
    PlainTree Symbols, Runs, Extensions;
    PlainList List;
};

// The bit source of the stages: the input in fills of a chosen size.
struct Feed {
    const std::uint8_t* Bits = nullptr;
    std::size_t Size = 0;
    std::size_t Chunk = 1;
    std::size_t Delivered = 0;      // bytes handed over so far
    std::size_t BeforeCurrent = 0;  // of those, before the current fill
};
Feed TheFeed;

void FillFromFeed(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& count)
{
    Feed& feed = TheFeed;
    const std::size_t n = std::min({feed.Chunk, std::size_t{capacity}, feed.Size - feed.Delivered});
    if (n > 0)
        std::memcpy(buffer, feed.Bits + feed.Delivered, n);
    feed.BeforeCurrent = feed.Delivered;
    feed.Delivered += n;
    count = static_cast<std::uint32_t>(n);
}

// The stages as the block pipeline wires them, kept from input to input.
struct Stages {
    static constexpr std::uint32_t InputCapacity = 4096;
    TBlock Input;
    THuffmanTree Trees[3];
    Tmsmtf MoveToFront;
    TRLE* FirstRLE = TRLE::Create(twx::FirstStageMaxExtra);

    Stages()
    {
        Input.Init(InputCapacity);
        Input.OnFill = FillFromFeed;
        Trees[0].Init(twx::SymbolTreeSize);
        Trees[1].Init(twx::RunTreeSize);
        Trees[2].Init(twx::RunExtensionTreeSize);
        for (auto& threshold : FirstRLE->Threshold)
            threshold = twx::RunThreshold(twx::FirstStageGroup);
    }

    void Restart(std::uint32_t weightLimit, std::uint32_t walks)
    {
        Input.Rewind();
        Input.UsedLength = 0;  // the first bit asks for a fill
        for (THuffmanTree& tree : Trees) {
            tree.WalksAfterReset = walks;
            tree.Reset();
            tree.WeightLimit = weightLimit;
        }
        MoveToFront.Reset();
    }

    BlockResult DecodeBlock(std::uint32_t length)
    {
        BlockResult result;
        THuffmanTree& symbols = Trees[0];
        FirstRLE->DecodeWith(
            length,
            [this, &symbols] {
                return MoveToFront.DecodeSymbolOnly(static_cast<std::uint8_t>(symbols.DecodeSymbolFrom(Input)));
            },
            [this] {
                if (Input.ReadBit() == 0)
                    return 0u;
                const std::uint32_t n = (Trees[1].DecodeSymbolFrom(Input) & 15u) + 1;
                return n > twx::RunTreeEscape ? n + Trees[2].DecodeSymbolFrom(Input) : n;
            },
            [&result](
                std::uint8_t value, std::uint32_t copies) { result.bytes.insert(result.bytes.end(), copies, value); });
        MoveToFront.RefreshPositionOf();
        result.cut = FirstRLE->Status == TRLE::StatusRunCut;
        const std::uint64_t taken = 8 * std::uint64_t{TheFeed.BeforeCurrent + Input.Cursor} + Input.BitIndex;
        result.bitsTaken = std::min<std::uint64_t>(taken, 8 * std::uint64_t{TheFeed.Size});
        return result;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Stages& stages = *new Stages;
    static constexpr std::size_t Chunks[4] = {1, 9, 64, Stages::InputCapacity};
    static constexpr std::uint32_t Limits[4] = {16383, 200, 1000, 4000};
    static constexpr std::uint32_t Walks[4] = {THuffmanTree::YoungTreeWalks, 0, 1, 200};
    if (size < 1)
        return 0;
    const std::uint8_t options = data[0];
    const std::size_t blocks = 1 + ((options >> 4) & 3u);
    if (size < 1 + 2 * blocks)
        return 0;
    std::uint32_t lengths[4];
    for (std::size_t b = 0; b < blocks; ++b)
        lengths[b] = 1 + (data[1 + 2 * b] + 256u * data[2 + 2 * b]) % MaxBlockLength;
    const std::uint8_t* bits = data + 1 + 2 * blocks;
    const std::size_t bitBytes = size - 1 - 2 * blocks;
    const std::uint32_t limit = Limits[(options >> 2) & 3u];

    TheFeed = Feed{bits, bitBytes, Chunks[options & 3u]};
    stages.Restart(limit, Walks[options >> 6]);
    PlainModel plain(bits, bitBytes, limit);
    for (std::size_t b = 0; b < blocks; ++b) {
        const BlockResult fast = stages.DecodeBlock(lengths[b]);
        const BlockResult model = plain.DecodeBlock(lengths[b]);
        if (fast.bytes != model.bytes)
            Fail("decoded bytes", b);
        if (fast.cut != model.cut)
            Fail("cut run", b);
        if (fast.bitsTaken != model.bitsTaken)
            Fail("bits taken", b);
    }
    for (unsigned t = 0; t < 3; ++t)
        if (!plain.Tree(t).SameAs(stages.Trees[t]))
            Fail(t == 0 ? "symbol tree" : t == 1 ? "run tree" : "run extension tree", blocks - 1);
    if (std::memcmp(plain.MoveToFront().SymbolAt, stages.MoveToFront.SymbolAt, 256) != 0 ||
        !plain.MoveToFront().SamePositionsAs(stages.MoveToFront.PositionOf))
        Fail("move-to-front list", blocks - 1);
    return 0;
}
