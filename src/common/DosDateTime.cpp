#include "common/DosDateTime.h"

std::optional<DosDateTime> DecodeDosDateTime(std::uint32_t stamp)
{
    const DosDateTime t{
        static_cast<int>(stamp >> 25) + 1980, static_cast<int>(stamp >> 21) & 15,
        static_cast<int>(stamp >> 16) & 31,   static_cast<int>(stamp >> 11) & 31,
        static_cast<int>(stamp >> 5) & 63,    2 * (static_cast<int>(stamp) & 31),
    };
    static constexpr int DaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.month < 1 || t.month > 12)
        return std::nullopt;
    const bool leap = t.year % 4 == 0 && (t.year % 100 != 0 || t.year % 400 == 0);
    const int monthLength = DaysIn[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
    if (t.day < 1 || t.day > monthLength || t.hour > 23 || t.minute > 59 || t.second > 58)
        return std::nullopt;
    return t;
}

std::uint32_t EncodeDosDateTime(const DosDateTime& t)
{
    const auto field = [](int value, unsigned bits) { return static_cast<std::uint32_t>(value) & ((1u << bits) - 1); };
    return field(t.year - 1980, 7) << 25 | field(t.month, 4) << 21 | field(t.day, 5) << 16 |
           field(t.hour, 5) << 11 | field(t.minute, 6) << 5 | field(t.second / 2, 5);
}
