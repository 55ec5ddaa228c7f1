// Inverse Burrows-Wheeler transform of one block.
#pragma once

#include <cstdint>

using TByteWrittenProc = void (*)();

class TBWTransform {
public:
    static constexpr std::uint32_t MinLength = 32;
    static constexpr std::uint32_t MaxCapacity = 0x200001;

    std::uint8_t Flags = 0;
    std::uint32_t Length = 0;
    std::uint32_t Capacity = 0;
    std::uint32_t LinkBytes = 0;
    // Capacity entries of 32 bits, one per position: bits 0-21 the link,
    // bit 23 a marker of the lane walk, bits 24-31 the input byte at the
    // link, so that the walk makes one random read per output byte.
    std::uint32_t* Links = nullptr;
    std::uint8_t Status = 0;        // 0, 190, 191, 193, 194, 195
    const std::uint8_t* Input = nullptr;
    // May be Input itself: once the links are built the walk reads only them.
    std::uint8_t* Output = nullptr;
    // Not owned, Length bytes or more, neither Output nor the links; may be
    // Input. Long blocks are walked in lanes through it; without it, in one
    // chain.
    std::uint8_t* Scratch = nullptr;
    TByteWrittenProc OnByteWritten = nullptr;

    static TBWTransform* Create(std::uint32_t capacity);
    void Init(std::uint32_t capacity);
    void Done() { Release(); }
    void Release();

    // SetLength takes n, or refuses it and keeps the Length it had.
    bool Accepts(std::uint32_t n) const { return n <= Capacity && n >= MinLength; }
    void SetLength(std::uint32_t n);
    // Writes Length bytes to Output; every read and write stays within the
    // first Length bytes of Input and Output, for any input and index.
    // The same as BuildLinks followed by Walk.
    void Inverse(std::uint32_t primaryIndex);

    // The two halves of Inverse, for a caller that times or schedules them
    // apart. Walk requires an index below Length and the links of the
    // current Input.
    void BuildLinks();
    void Walk(std::uint32_t primaryIndex);

    // Blocks this long are walked in lanes; shorter ones fit the caches anyway.
    static constexpr std::uint32_t LaneWalkMinimum = 65536;
    // The lane walk's marker rows, besides the primary index: 0, stride,
    // 2 stride, ... below n.
    static std::uint32_t LaneStride(std::uint32_t n);

private:
    static constexpr unsigned Lanes = 32;
    static constexpr std::uint32_t ChunkBytes = 64;  // also the steps of one batch
    static constexpr std::uint32_t MaxMarkers = 1024;
    // Segments average a few batches even in the shortest laned blocks.
    static constexpr std::uint32_t MinLaneStride = 512;
    std::uint16_t* ChunkOwner = nullptr;  // the segment of each chunk of the lane walk
    std::uint8_t* Tails = nullptr;        // MaxMarkers areas of ChunkBytes: each segment's last bytes

    void WalkOneByOne(std::uint32_t primaryIndex);
    void WalkInLanes(std::uint32_t primaryIndex);
};
