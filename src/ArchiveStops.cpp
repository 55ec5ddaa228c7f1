#include "ArchiveStops.h"

#include "stages/CRCs.h"

static_assert(sizeof StopTexts / sizeof StopTexts[0] == static_cast<unsigned>(StopKind::BlockCrc) + 1);

std::string TArchiveStop::Line() const
{
    const std::string_view pattern = Text().Line;
    std::string line;
    std::size_t from = 0;
    const std::uint32_t numbers[] = {StoredCRC, ComputedCRC};
    for (const std::uint32_t number : numbers) {
        const std::size_t at = pattern.find("%s", from);
        if (at == std::string_view::npos)
            break;
        line.append(pattern.substr(from, at - from)).append(CrcToHex(number));
        from = at + 2;
    }
    return line.append(pattern.substr(from));
}
