// CRC-32 (reflected, polynomial 0x04C11DB7) as an accumulator object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Eight tables for slicing-by-8; CrcTable is the first of them, the classic byte table.
// All of them are constant data built at compile time.
extern const std::uint32_t CrcSliceTables[8][256];
inline constexpr const std::uint32_t (&CrcTable)[256] = CrcSliceTables[0];

class TCRC {
public:
    std::uint32_t Accumulator = 0xFFFFFFFFu;

    static TCRC* Create();
    void Done() {}
    void Reset() { Accumulator = 0xFFFFFFFFu; }
    void Update(std::uint8_t b) { Accumulator = CrcTable[(Accumulator ^ b) & 0xFFu] ^ (Accumulator >> 8); }
    // Same result as Update for each byte in turn, eight bytes per step.
    void UpdateRange(const std::uint8_t* data, std::size_t length);
    std::uint32_t Value() const { return Accumulator ^ 0xFFFFFFFFu; }
};

// Eight upper-case hexadecimal digits, most significant first.
std::string CrcToHex(std::uint32_t value);
