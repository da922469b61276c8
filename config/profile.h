#pragma once
// The client profile file "NoltData.ini" in `MandantDir` (the Windows
// directory while `MandantDir` is empty). Texts are UTF-8 here and code page
// 1252 in the file.
#include <string>
#include <string_view>

#include "config/modul.h"
#include "platform/platform.h"

namespace kw {

// The stored value without trailing blanks (at most 511 bytes of it), or
// defaultValue unchanged when the key is missing. A missing key gets a
// non-empty default written into the file first. Never fails.
std::string NoltDataIniRead(Platform& p, const KwandorModul& m, std::string_view section,
                            std::string_view key, std::string_view defaultValue);

// Writes value under key in section; a write that fails changes nothing and
// is not reported.
void NoltDataIniWrite(Platform& p, const KwandorModul& m, std::string_view section,
                      std::string_view key, std::string_view value);

}  // namespace kw
