// Rules of Windows file names and paths, kept apart from the system calls so
// that they can be checked on any system.
#pragma once

#include <string>
#include <string_view>

// True for the device names (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to
// LPT9, also with a superscript digit), in any case, with or without an
// extension and trailing blanks or dots. The name is Windows-1252 text.
bool IsWindowsDeviceName(std::string_view name);

// The name as Windows' ordinary calls create it: trailing dots and blanks
// dropped. Nothing may be left, when the name consists of them alone.
std::string_view WithoutTrailingDotsAndBlanks(std::string_view name);

// A full path (drive or network path) in the form that lifts the length
// limit of the ordinary calls and is taken as it is: \\?\C:\... or
// \\?\UNC\server\share\...; a path already in that form, a device path
// (\\.\...) and anything else are returned unchanged.
std::u16string ExtendedLengthPath(std::u16string_view fullPath);
