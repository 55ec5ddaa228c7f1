// Formats a date or a time with a Windows date/time picture such as
// "dd.MM.yyyy", "HH:mm:ss" or "h:mm:ss tt".
#pragma once

#include <string>
#include <string_view>

struct PictureValues {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0;
    std::string_view am, pm;  // markers for "t"/"tt" on a 12-hour clock
};

std::string FormatPicture(std::string_view picture, const PictureValues& values);
