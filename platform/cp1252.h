#pragma once
// Windows-1252, the 8-bit code page of the host product's files. Internal
// text is UTF-8.
#include <cstdint>
#include <string>
#include <string_view>

namespace kw {

// Each byte becomes one character; the five unassigned bytes map to the C1
// control of the same number, as Windows does.
std::string Cp1252ToUtf8(std::string_view bytes);
// Characters without a Windows-1252 byte become '?'; invalid UTF-8 bytes too.
std::string Utf8ToCp1252(std::string_view text);

// One code point from UTF-8 at i (advanced past it); U+FFFD for a byte
// that does not begin a whole sequence (i then advanced past that byte
// alone). i must be below s.size().
uint32_t NextUtf8(std::string_view s, size_t& i);

// Appends one Unicode code point in UTF-8.
void AppendUtf8(std::string& out, uint32_t codePoint);

}  // namespace kw
