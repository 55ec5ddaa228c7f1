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
    // Capacity + 1 entries of 3 bytes, each a position, least significant
    // byte first; the spare entry lets the last one be read as 4 bytes.
    std::uint8_t* Links = nullptr;
    std::uint8_t Status = 0;        // 0, 190, 191, 193, 194, 195
    const std::uint8_t* Input = nullptr;
    std::uint8_t* Output = nullptr;
    TByteWrittenProc OnByteWritten = nullptr;

    static TBWTransform* Create(std::uint32_t capacity);
    void Init(std::uint32_t capacity);
    void Done() { Release(); }
    void Release();

    void SetLength(std::uint32_t n);
    // Writes Length bytes to Output; every read and write stays within the
    // first Length bytes of Input and Output, for any input and index.
    void Inverse(std::uint32_t primaryIndex);

private:
    void WalkOneByOne(std::uint32_t primaryIndex);
    void WalkInLanes(std::uint32_t primaryIndex);
};
