// Run-length decoder: after Threshold[s] + 1 equal symbols in a row a run
// length (number of extra copies) follows in the coded stream.
#pragma once

#include <cstdint>

using TPutByteProc = void (*)(std::uint8_t value);
using TGetSymbolFunc = std::uint8_t (*)();
using TGetRunLengthFunc = std::uint32_t (*)();

class TRLE {
public:
    static constexpr std::uint32_t MaxRunLimit = 0xFFFFF;
    static constexpr std::uint8_t StatusNoCount = 156;
    static constexpr std::uint8_t StatusBadMaxRun = 157;
    // A run would have carried the output past count; it was cut at count.
    static constexpr std::uint8_t StatusRunCut = 158;

    std::uint8_t Flags = 0;
    std::uint32_t MaxRun = 0;
    std::uint8_t Status = 0;
    std::uint16_t Threshold[256] = {};
    TPutByteProc OnPut;
    TGetSymbolFunc OnGetSymbol;
    TGetRunLengthFunc OnGetRunLength;

    static TRLE* Create(std::uint32_t maxRun);
    void Done() {}
    // Puts exactly count bytes through OnPut (never more, even for a damaged
    // run length, which sets StatusRunCut).
    void Decode(std::uint32_t count);

private:
    TRLE();
};
