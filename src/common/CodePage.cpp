#include "common/CodePage.h"

#include <cstdint>

namespace {

// Code points of the bytes 0x80 to 0x9F; the five bytes that Windows-1252
// leaves undefined keep their C1 control code point.
constexpr std::uint16_t HighControlRange[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char CodePointTo1252(std::uint32_t codePoint) {
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
        return static_cast<char>(codePoint);
    }
    for (int i = 0; i < 32; ++i) {
        if (HighControlRange[i] == codePoint) {
            return static_cast<char>(0x80 + i);
        }
    }
    return '?';
}

constexpr char16_t Replacement = 0xFFFD;

bool IsHighSurrogate(std::uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(std::uint32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void AppendUtf8(std::string& out, std::uint32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

void AppendUtf16(std::u16string& out, std::uint32_t codePoint) {
    if (codePoint < 0x10000) {
        out += static_cast<char16_t>(codePoint);
    } else {
        codePoint -= 0x10000;
        out += static_cast<char16_t>(0xD800 | (codePoint >> 10));
        out += static_cast<char16_t>(0xDC00 | (codePoint & 0x3FF));
    }
}

// The code point of the UTF-8 sequence at text[i], or nothing when none
// starts there; length gets the bytes it takes. Overlong forms are refused;
// surrogate code points are accepted, as Utf16ToUtf8 writes lone ones.
bool DecodeUtf8(std::string_view text, std::size_t i, std::uint32_t& codePoint, std::size_t& length) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::uint32_t minimum = 0;
    if (lead < 0x80) {
        codePoint = lead;
        length = 1;
        return true;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        codePoint = lead & 0x1F;
        length = 2;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        codePoint = lead & 0x0F;
        length = 3;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        codePoint = lead & 0x07;
        length = 4;
        minimum = 0x10000;
    } else {
        return false;
    }
    if (text.size() - i < length) {
        return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) {
            return false;
        }
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    return codePoint >= minimum && codePoint <= 0x10FFFF;
}

}  // namespace

std::string Windows1252ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 && byte <= 0x9F) {
            AppendUtf8(out, HighControlRange[byte - 0x80]);
        } else {
            AppendUtf8(out, byte);
        }
    }
    return out;
}

std::string Utf8To1252(std::string_view text) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        std::uint32_t codePoint = 0;
        std::size_t length = 0;
        if (DecodeUtf8(text, i, codePoint, length)) {
            out += CodePointTo1252(codePoint);
            i += length;
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint32_t unit = text[i];
        if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00u));
            ++i;
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        std::uint32_t codePoint = 0;
        std::size_t length = 0;
        if (DecodeUtf8(text, i, codePoint, length)) {
            AppendUtf16(out, codePoint);
            i += length;
        } else {
            out += Replacement;
            ++i;
        }
    }
    return out;
}

bool IsUndefinedIn1252(unsigned char byte) {
    return byte >= 0x80 && byte <= 0x9F && HighControlRange[byte - 0x80] == byte;
}
