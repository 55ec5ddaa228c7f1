#include "Selection.h"

namespace {

// Windows-1252 letters without case, and '/' as '\'.
unsigned char Folded(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '/')
        return '\\';
    if ((byte >= 'a' && byte <= 'z') || (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7))
        return static_cast<unsigned char>(byte - 0x20);
    switch (byte) {
    case 0x9A: return 0x8A;  // s caron
    case 0x9C: return 0x8C;  // oe
    case 0x9E: return 0x8E;  // z caron
    case 0xFF: return 0x9F;  // y diaeresis
    default: return byte;
    }
}

}  // namespace

bool MatchesPattern(std::string_view pattern, std::string_view text)
{
    // Greedy match with one point to go back to after the last '*': linear
    // in practice, and never more than pattern × text steps.
    std::size_t p = 0, t = 0, star = std::string_view::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && (pattern[p] == '?' || Folded(pattern[p]) == Folded(text[t]))) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

TSelection::TSelection(std::vector<std::string> names) : Names(std::move(names)), Used(Names.size(), false) {}

bool TSelection::Chooses(std::string_view storedName)
{
    if (Names.empty())
        return true;
    // The name without its folder part, with '/' counted as a separator too.
    const std::size_t cut = storedName.find_last_of("\\/:");
    const std::string_view last = cut == std::string_view::npos ? storedName : storedName.substr(cut + 1);
    bool chosen = false;
    for (std::size_t i = 0; i < Names.size(); ++i) {
        if (MatchesPattern(Names[i], storedName) || MatchesPattern(Names[i], last)) {
            Used[i] = true;
            chosen = true;
        }
    }
    return chosen;
}

std::vector<std::string> TSelection::Unmatched() const
{
    std::vector<std::string> unmatched;
    for (std::size_t i = 0; i < Names.size(); ++i)
        if (!Used[i])
            unmatched.push_back(Names[i]);
    return unmatched;
}
