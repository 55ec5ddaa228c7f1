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
        rle->MaxRun = maxRun;
    } else {
        rle->Status = StatusBadMaxRun;
        rle->Flags = 0x80;
    }
    return rle;
}

void TRLE::Decode(std::uint32_t count)
{
    if (count == 0) {
        Status = StatusNoCount;
        return;
    }
    Status = 0;
    const TPutByteProc put = OnPut;
    const TGetSymbolFunc getSymbol = OnGetSymbol;
    std::uint32_t written = 0;
    std::uint32_t equalRun = 0;
    std::uint8_t cur = getSymbol();
    while (written < count) {
        const std::uint8_t sym = cur;
        std::uint32_t copies;  // extra + 1, cut to what count still allows
        if (Threshold[sym] == equalRun) {
            const std::uint32_t extra = OnGetRunLength();
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
        while (copies-- > 0)
            put(sym);
    }
}
