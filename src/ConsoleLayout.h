// The console layout of the screens and of both commands' rows, in one place.
#pragma once

#include <cstdint>

namespace layout {

// Width of a title line: the product name, then the edition flush right.
inline constexpr std::uint8_t TitleWidth = 79;
// Width of the name column of a listing row and of an extraction line; a
// longer name pushes the rest of its row to the right.
inline constexpr std::uint8_t NameColumn = 41;
// Lines above the first row of a listing: block size, blank, column titles,
// blank.
inline constexpr std::uint8_t ListingHeadingLines = 4;
// Lines of a listing screen, heading included: after this many a person at
// a console is asked for Enter, and the next screen starts counting at 0.
inline constexpr std::uint8_t ScreenLines = 23;
// The closing pause in milliseconds (on a console only): time to read the
// last message in a console window that is about to close.
inline constexpr std::uint32_t ClosingPauseMilliseconds = 5000;

}  // namespace layout
