#include "common/WindowsNames.h"

namespace {

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsLetter(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

}  // namespace

bool IsWindowsDeviceName(std::string_view name) {
    const std::string_view base = WithoutTrailingDotsAndBlanks(name.substr(0, name.find('.')));
    std::string upper;
    for (const char c : base) {
        upper += Upper(c);
    }
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") {
        return true;
    }
    if (upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0)) {
        const auto digit = static_cast<unsigned char>(upper[3]);
        // Superscript one, two and three (Windows-1252) name devices as well.
        return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    }
    return false;
}

std::string_view WithoutTrailingDotsAndBlanks(std::string_view name) {
    while (!name.empty() && (name.back() == ' ' || name.back() == '.')) {
        name.remove_suffix(1);
    }
    return name;
}

std::u16string ExtendedLengthPath(std::u16string_view fullPath) {
    const std::u16string_view start = fullPath.substr(0, 4);
    if (start == u"\\\\?\\" || start == u"\\\\.\\") {
        return std::u16string(fullPath);
    }
    const bool network = fullPath.size() > 2 && fullPath[0] == u'\\' && fullPath[1] == u'\\' && fullPath[2] != u'\\';
    if (network) {
        return u"\\\\?\\UNC\\" + std::u16string(fullPath.substr(2));
    }
    const bool drive = fullPath.size() >= 3 && IsLetter(fullPath[0]) && fullPath[1] == u':' && fullPath[2] == u'\\';
    if (drive) {
        return u"\\\\?\\" + std::u16string(fullPath);
    }
    return std::u16string(fullPath);
}
