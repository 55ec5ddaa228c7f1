#include "msmtf.h"

Tmsmtf* Tmsmtf::Create()
{
    auto* mtf = new Tmsmtf;
    mtf->Reset();
    return mtf;
}

void Tmsmtf::Reset()
{
    for (unsigned i = 0; i < 256; ++i) {
        PositionOf[i] = static_cast<std::uint8_t>(i);
        SymbolAt[i] = static_cast<std::uint8_t>(i);
    }
}
