#include "RLEs.h"

namespace {
void PutNothing(std::uint8_t) {}
std::uint8_t NoSymbol() { return 0; }
std::uint32_t NoRunLength() { return 0; }
}  // namespace

TRLE::TRLE() : OnPut(PutNothing), OnGetSymbol(NoSymbol), OnGetRunLength(NoRunLength) {}

TRLE* TRLE::Create(std::uint32_t maxRun)
{
    auto* rle = new TRLE;
    if (maxRun >= 1 && maxRun <= MaxRunLimit) {
        rle->Status = 0;
    } else {
        rle->Status = StatusBadMaxRun;
        rle->Flags = 0x80;
    }
    return rle;
}

std::uint32_t TRLE::LowestThreshold() const
{
    std::uint32_t lowest = Threshold[0];
    for (const std::uint16_t t : Threshold)
        lowest = t < lowest ? t : lowest;
    return lowest;
}

void TRLE::Decode(std::uint32_t count)
{
    const TPutByteProc put = OnPut;
    DecodeWith(count, OnGetSymbol, OnGetRunLength, [put](std::uint8_t sym, std::uint32_t copies) {
        while (copies-- > 0)
            put(sym);
    });
}
