// Windows-1252, the code page of stored names and messages, UTF-8 and UTF-16.
#pragma once

#include <string>
#include <string_view>

std::string Windows1252ToUtf8(std::string_view text);
// UTF-8 back to Windows-1252: characters the code page lacks become '?',
// bytes that are not well-formed UTF-8 pass through unchanged.
std::string Utf8To1252(std::string_view text);

// UTF-16 and UTF-8 both ways without loss: a surrogate without its partner
// (possible in Windows file names) gets the three-byte form of its code
// point and comes back as itself. Bytes that are not well-formed UTF-8
// become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

// True for the five bytes (0x81, 0x8D, 0x8F, 0x90, 0x9D) that Windows-1252
// leaves without a character; converted, they become C1 control characters.
bool IsUndefinedIn1252(unsigned char byte);
