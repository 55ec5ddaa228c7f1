// Move-to-front decoder: list positions back to byte values.
#pragma once

#include <cstdint>

class Tmsmtf {
public:
    std::uint8_t PositionOf[256];  // byte value -> list position
    std::uint8_t SymbolAt[256];    // list position -> byte value

    static Tmsmtf* Create();
    void Done() {}
    void Reset();

    // Returns the byte at list position index and moves it to the front.
    std::uint8_t Decode(std::uint8_t index)
    {
        const std::uint8_t sym = SymbolAt[index];
        for (unsigned p = index; p > 0; --p) {
            const std::uint8_t s = SymbolAt[p - 1];
            SymbolAt[p] = s;
            PositionOf[s] = static_cast<std::uint8_t>(p);
        }
        SymbolAt[0] = sym;
        PositionOf[sym] = 0;
        return sym;
    }
};
