#pragma once
#include <string>
#include <string_view>

namespace kw {

// Trims blanks (the space character only) at both ends and makes the text
// end in exactly the backslash it had, or one added: "Mand01" -> "Mand01\".
std::string AddBackslash(std::string_view Path);

// Removes space characters at both ends; tabs and other white space stay.
std::string TrimBlanks(std::string_view s);
// Removes trailing space characters only.
std::string TrimTrailingBlanks(std::string_view s);

}  // namespace kw
