// Windows-1252, the code page of stored names and messages, to UTF-8.
#pragma once

#include <string>
#include <string_view>

std::string Windows1252ToUtf8(std::string_view text);
