// Move-to-front decoder: list positions back to byte values.
#pragma once

#include <cstdint>
#include <cstring>

class Tmsmtf {
public:
    std::uint8_t PositionOf[256];  // byte value -> list position
    std::uint8_t SymbolAt[256];    // list position -> byte value

    static Tmsmtf* Create();
    void Done() {}
    void Reset();

    // Returns the byte at list position index and moves it to the front:
    // the values before it move one position back.
    std::uint8_t Decode(std::uint8_t index)
    {
        const std::uint8_t sym = SymbolAt[index];
        if (index == 0)
            return sym;
        std::memmove(SymbolAt + 1, SymbolAt, index);
        SymbolAt[0] = sym;
        // One pass over all values, free of branches so that it vectorises.
        for (unsigned s = 0; s < 256; ++s)
            PositionOf[s] = static_cast<std::uint8_t>(PositionOf[s] + (PositionOf[s] < index ? 1 : 0));
        PositionOf[sym] = 0;
        return sym;
    }
};
