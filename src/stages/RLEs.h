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
    std::uint8_t Status = 0;
    std::uint16_t Threshold[256] = {};
    TPutByteProc OnPut;
    TGetSymbolFunc OnGetSymbol;
    TGetRunLengthFunc OnGetRunLength;

    // maxRun: the largest run length the owner's source delivers, 1 to
    // MaxRunLimit; outside that range Status is StatusBadMaxRun. Decode uses
    // run lengths as delivered.
    static TRLE* Create(std::uint32_t maxRun);
    void Done() {}
    // Puts exactly count bytes through OnPut (never more, even for a damaged
    // run length, which sets StatusRunCut).
    void Decode(std::uint32_t count);

    // Decode with the three sources as inline callables: getSymbol() and
    // getRunLength() as OnGetSymbol and OnGetRunLength, putRun(symbol,
    // copies) for `copies` calls of OnPut(symbol) in a row.
    template <typename GetSymbol, typename GetRunLength, typename PutRun>
    void DecodeWith(std::uint32_t count, GetSymbol&& getSymbol, GetRunLength&& getRunLength, PutRun&& putRun)
    {
        if (count == 0) {
            Status = StatusNoCount;
            return;
        }
        Status = 0;
        std::uint32_t written = 0;
        std::uint32_t equalRun = 0;
        std::uint8_t cur = getSymbol();
        while (written < count) {
            const std::uint8_t sym = cur;
            std::uint32_t copies;  // extra + 1, cut to what count still allows
            if (Threshold[sym] == equalRun) {
                const std::uint32_t extra = getRunLength();
                const std::uint32_t left = count - written;
                if (extra < left - 1) {
                    copies = extra + 1;
                    cur = getSymbol();
                } else {
                    copies = left;
                    if (extra > left - 1)
                        Status = StatusRunCut;
                }
                equalRun = 0;
            } else {
                if (written + 1 < count)
                    cur = getSymbol();
                equalRun = (cur == sym) ? equalRun + 1 : 0;
                copies = 1;
            }
            written += copies;
            putRun(sym, copies);
        }
    }

private:
    TRLE();
};
