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

private:
    static constexpr std::uint32_t ChunkBytes = 64;
    std::uint8_t* ChunkOwner = nullptr;  // the segment of each chunk of the lane walk

    void WalkOneByOne(std::uint32_t primaryIndex);
    void WalkInLanes(std::uint32_t primaryIndex);
};
