#include "CRCs.h"

TCRC* TCRC::Create()
{
    return new TCRC;
}

void TCRC::UpdateRange(const std::uint8_t* data, std::size_t length)
{
    const auto& t = CrcSliceTables;
    std::uint32_t c = Accumulator;
    while (length >= 8) {
        const std::uint32_t lo = c ^ (std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8 |
                                      std::uint32_t(data[2]) << 16 | std::uint32_t(data[3]) << 24);
        c = t[7][lo & 0xFFu] ^ t[6][(lo >> 8) & 0xFFu] ^ t[5][(lo >> 16) & 0xFFu] ^ t[4][lo >> 24] ^
            t[3][data[4]] ^ t[2][data[5]] ^ t[1][data[6]] ^ t[0][data[7]];
        data += 8;
        length -= 8;
    }
    while (length-- > 0)
        c = CrcTable[(c ^ *data++) & 0xFFu] ^ (c >> 8);
    Accumulator = c;
}

std::string CrcToHex(std::uint32_t value)
{
    static constexpr char HexDigits[] = "0123456789ABCDEF";
    std::string text(8, '0');
    for (std::size_t i = 8; i-- > 0;) {
        text[i] = HexDigits[value & 0xFu];
        value >>= 4;
    }
    return text;
}
