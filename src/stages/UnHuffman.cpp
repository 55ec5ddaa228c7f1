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
    Left = new std::uint32_t[n];
    Right = new std::uint32_t[n];
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
        delete[] Right;
        Weight = Parent = Left = Right = nullptr;
        Status = 0;
    }
    NodeCount = 0;
    SymbolCount = 0;
}

void THuffmanTree::PropagateWeights(std::uint32_t m)
{
    std::uint32_t* const weight = Weight;
    do {
        m = Parent[m];
        weight[m] = weight[Left[m]] + weight[Right[m]];
    } while (m != 1);
}

void THuffmanTree::UpdateTree(std::uint32_t k)
{
    ++Weight[k];
    PropagateWeights(k);

    // Climb from the leaf; a node heavier than its uncle (strictly) changes
    // places with it, and the level it left is not examined again.
    std::uint32_t m = k;
    do {
        const std::uint32_t p = Parent[m];
        if (p != 1) {
            const std::uint32_t g = Parent[p];
            const bool pIsLeft = Left[g] == p;
            const std::uint32_t u = pIsLeft ? Right[g] : Left[g];
            if (Weight[m] > Weight[u]) {
                (pIsLeft ? Right[g] : Left[g]) = m;
                (Left[p] == m ? Left[p] : Right[p]) = u;
                Parent[m] = g;
                Parent[u] = p;
                PropagateWeights(u);
            }
        }
        m = Parent[m];
    } while (m != 1);

    const std::uint32_t n = SymbolCount;
    if (Weight[1] >= WeightLimit + n) {
        for (std::uint32_t i = 1; i <= NodeCount; ++i)
            Weight[i] >>= 1;
        OnRescale();
    }
}
