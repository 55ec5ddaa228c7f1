// What the two halves of the Win32 layer share: handles, text conversion and
// the full, prefixed form of a path.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace platform::win32 {

// Stored names and messages.
inline constexpr UINT ArchiveCodePage = 1252;

HANDLE AsHandle(FileHandle file);
FileHandle AsFileHandle(HANDLE handle);
std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);
int Length(std::size_t size);
std::wstring FromArchiveCodePage(std::string_view text);
std::string ToCodePage(UINT codePage, std::wstring_view wide);
std::wstring SystemPath(const std::string& path);

}  // namespace platform::win32
