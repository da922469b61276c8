#pragma once
// Texts at the edge of the Win32 API: the logic's UTF-8 paths go to the
// 8-bit ("A") functions in code page 1252, byte for byte as the product
// stores them; error numbers become the system's own words.
#include <windows.h>

#include <string>
#include <string_view>

namespace kw::win32 {

// A Windows path text (UTF-8) as the 8-bit functions take it.
std::string AnsiPath(std::string_view utf8Path);

// The system's description of an error number, without its line end; the
// number alone when the system has none.
std::string ErrorText(DWORD error);

}  // namespace kw::win32
