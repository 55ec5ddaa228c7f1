// MS-DOS date and time stamps: the date in the upper 16 bits, the time in
// the lower 16 bits, seconds in units of two.
#pragma once

#include <cstdint>
#include <optional>

struct DosDateTime {
    int year, month, day;
    int hour, minute, second;
};

// The fields of a stamp, or nothing when it is not a valid date and time
// (month 1 to 12, day within the month, hour 0 to 23, minute 0 to 59,
// seconds field 0 to 29).
std::optional<DosDateTime> DecodeDosDateTime(std::uint32_t stamp);

// The stamp of a date and time from 1980 to 2107, the inverse of
// DecodeDosDateTime for valid ones (an odd second is rounded down). Fields
// are packed as given, so invalid stamps can be made for tests.
std::uint32_t EncodeDosDateTime(const DosDateTime& t);
