#pragma once
// Text comparison as Jet makes it in a selection: without regard to case for
// the letters of Windows-1252 (A-Z, the accented Latin-1 letters, Š, Œ, Ž,
// Ÿ), every other character as it is; blanks count. Texts are UTF-8.
#include <cstdint>
#include <string>
#include <string_view>

namespace kw {

// The small letter of a Windows-1252 capital; any other code point unchanged.
uint32_t FoldLetter(uint32_t codePoint);
// The text with every such capital made small; all other bytes, malformed
// ones too, as they are.
std::string FoldText(std::string_view text);
// Orders texts by their code points with those capitals made small:
// negative, zero or positive as a is before, equal to or after b.
int JetTextCompare(std::string_view a, std::string_view b);
// True when the two texts are equal as Jet compares them.
bool JetTextEqual(std::string_view a, std::string_view b);

}  // namespace kw
