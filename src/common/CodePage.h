// Windows-1252, the code page of stored names and messages, and UTF-8.
#pragma once

#include <string>
#include <string_view>

std::string Windows1252ToUtf8(std::string_view text);
// UTF-8 back to Windows-1252: characters the code page lacks become '?',
// bytes that are not well-formed UTF-8 pass through unchanged.
std::string Utf8To1252(std::string_view text);
