#include "common/DatePicture.h"

namespace {

void AppendNumber(std::string& out, int value, int minimumDigits) {
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) < minimumDigits) {
        out.append(static_cast<std::size_t>(minimumDigits) - digits.size(), '0');
    }
    out += digits;
}

// Appends the value of one run of a picture letter; false for letters that
// are not picture letters.
bool AppendField(std::string& out, char letter, int count, const PictureValues& v) {
    const int padded = count >= 2 ? 2 : 1;
    switch (letter) {
    case 'd':
        // Day names are not available; "ddd" and "dddd" show the number.
        AppendNumber(out, v.day, padded);
        return true;
    case 'M':
        // Month names likewise fall back to the number.
        AppendNumber(out, v.month, padded);
        return true;
    case 'y':
        // "y" and "yy" as well: two digits could not tell 1999 from 2099.
        AppendNumber(out, v.year, 4);
        return true;
    case 'h': {
        const int hour12 = v.hour % 12 == 0 ? 12 : v.hour % 12;
        AppendNumber(out, hour12, padded);
        return true;
    }
    case 'H':
        AppendNumber(out, v.hour, padded);
        return true;
    case 'm':
        AppendNumber(out, v.minute, padded);
        return true;
    case 's':
        AppendNumber(out, v.second, padded);
        return true;
    case 't': {
        const std::string_view marker = v.hour < 12 ? v.am : v.pm;
        if (count == 1) {
            out += marker.substr(0, 1);
        } else {
            out += marker;
        }
        return true;
    }
    default:
        return false;
    }
}

}  // namespace

std::string FormatPicture(std::string_view picture, const PictureValues& values) {
    std::string out;
    bool quoted = false;
    std::size_t i = 0;
    while (i < picture.size()) {
        const char c = picture[i];
        if (c == '\'') {
            // Two quotes in a row stand for one quote, inside or outside a quoted stretch.
            if (i + 1 < picture.size() && picture[i + 1] == '\'') {
                out += '\'';
                i += 2;
            } else {
                quoted = !quoted;
                ++i;
            }
            continue;
        }
        if (quoted) {
            out += c;
            ++i;
            continue;
        }
        std::size_t end = i + 1;
        while (end < picture.size() && picture[end] == c) {
            ++end;
        }
        if (AppendField(out, c, static_cast<int>(end - i), values)) {
            i = end;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

std::string FourDigitYearFormat(std::string_view format) {
    std::string out;
    std::size_t i = 0;
    while (i < format.size()) {
        if (format[i] != '%') {
            out += format[i++];
            continue;
        }
        // A conversion: '%', flags, a field width, an E or O modifier, a letter.
        std::size_t end = i + 1;
        while (end < format.size() && std::string_view("_-0^#").find(format[end]) != std::string_view::npos) {
            ++end;
        }
        const std::string_view flags = format.substr(i + 1, end - i - 1);
        while (end < format.size() && format[end] >= '0' && format[end] <= '9') {
            ++end;
        }
        char modifier = 0;
        if (end < format.size() && (format[end] == 'E' || format[end] == 'O')) {
            modifier = format[end++];
        }
        if (end >= format.size()) {
            out.append(format.substr(i));
            break;
        }
        const char letter = format[end];
        const std::string fourDigits = std::string("%").append(flags).append("Y");
        if (letter == 'C' && modifier == 0 && format.substr(end + 1, 2) == "%y") {
            out += fourDigits;  // century followed by the two-digit year
            i = end + 3;
            continue;
        }
        if (letter == 'y' && modifier != 'E') {
            out += fourDigits;  // also the alternative digits of %Oy
        } else if (letter == 'g' && modifier == 0) {
            out.append("%").append(flags).append("G");
        } else if ((letter == 'D' || letter == 'x') && modifier == 0) {
            out += "%m/%d/%Y";
        } else {
            out.append(format.substr(i, end + 1 - i));
        }
        i = end + 1;
    }
    return out;
}
