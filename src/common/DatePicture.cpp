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
        if (count <= 2) {
            AppendNumber(out, v.year % 100, 2);
        } else {
            AppendNumber(out, v.year, 4);
        }
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
