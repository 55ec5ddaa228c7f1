// The NAME arguments of "-x" and "-p": which records a command takes. A NAME
// chooses a record by its stored name with or without the folder part, or
// by a pattern of '*' (any run of characters) and '?' (any one character);
// case does not count, and '\' and '/' are the same separator.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TSelection {
public:
    // names: archive text (Windows-1252); none chooses every record.
    explicit TSelection(std::vector<std::string> names);

    // True when the record of this stored name is chosen; marks the NAMEs
    // that choose it as used.
    bool Chooses(std::string_view storedName);
    // The NAMEs that chose no record.
    std::vector<std::string> Unmatched() const;

private:
    std::vector<std::string> Names;
    std::vector<bool> Used;
};

// True when the pattern of '*' and '?' matches all of text, case and
// separators as TSelection takes them.
bool MatchesPattern(std::string_view pattern, std::string_view text);
