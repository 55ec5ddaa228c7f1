// The user's regional date and time formats: Windows pictures such as
// "dd.MM.yyyy", "HH:mm:ss" or "h:mm:ss tt", and strftime formats. Years
// always show four digits: stored dates span 1980 to 2107, so two would be
// ambiguous.
#pragma once

#include <string>
#include <string_view>

struct PictureValues {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0;
    std::string_view am, pm;  // markers for "t"/"tt" on a 12-hour clock
};

std::string FormatPicture(std::string_view picture, const PictureValues& values);

// A strftime format with every two-digit year (%y, %D, %x, %g) replaced by
// its four-digit form.
std::string FourDigitYearFormat(std::string_view format);
