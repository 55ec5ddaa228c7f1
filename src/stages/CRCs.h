// CRC-32 (reflected, polynomial 0x04C11DB7) as an accumulator object.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace crc_tables {
using Table = std::array<std::uint32_t, 256>;

// Slice 0 is the byte table; slice s advances a byte's contribution by s more bytes.
constexpr std::array<Table, 8> Make()
{
    std::array<Table, 8> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][n] = c;
    }
    for (std::size_t s = 1; s < 8; ++s)
        for (std::uint32_t n = 0; n < 256; ++n)
            t[s][n] = t[0][t[s - 1][n] & 0xFFu] ^ (t[s - 1][n] >> 8);
    return t;
}
}  // namespace crc_tables

// Constant data, computed by the compiler.
inline constexpr std::array<crc_tables::Table, 8> CrcSliceTables = crc_tables::Make();
inline constexpr const crc_tables::Table& CrcTable = CrcSliceTables[0];
static_assert(CrcTable[1] == 0x77073096u && CrcTable[255] == 0x2D02EF8Du);

class TCRC {
public:
    std::uint32_t Accumulator = 0xFFFFFFFFu;

    static TCRC* Create();
    void Done() {}
    void Reset() { Accumulator = 0xFFFFFFFFu; }
    void Update(std::uint8_t b) { Accumulator = CrcTable[(Accumulator ^ b) & 0xFFu] ^ (Accumulator >> 8); }
    // Same result as Update for each byte in turn: folded where the
    // processor can, else eight bytes per step.
    void UpdateRange(const std::uint8_t* data, std::size_t length);

    // UpdateRange's two ways, from an accumulator to the next: eight bytes
    // per step through the slice tables, and 64 bytes per step by
    // carry-less multiplication, for a processor that has it (CanFold).
    static std::uint32_t SlicedUpdate(std::uint32_t accumulator, const std::uint8_t* data, std::size_t length);
    static bool CanFold();
    static std::uint32_t FoldedUpdate(std::uint32_t accumulator, const std::uint8_t* data, std::size_t length);
    std::uint32_t Value() const { return Accumulator ^ 0xFFFFFFFFu; }
};

// Eight upper-case hexadecimal digits, most significant first.
std::string CrcToHex(std::uint32_t value);
