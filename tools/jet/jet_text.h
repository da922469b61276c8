#pragma once
// Text as a Jet 4 file stores it: UTF-16 little-endian, or the compressed
// form (FF FE, then one byte a character) when every character fits in one
// byte and the result is shorter.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kw::jetw {

// UTF-16 code units of a UTF-8 text; a malformed sequence is an error
// (std::invalid_argument) naming the offending byte's position.
std::u16string Utf16FromUtf8(std::string_view utf8);

// Plain UTF-16LE bytes.
std::vector<uint8_t> Ucs2Bytes(const std::u16string& text);

// The stored bytes: compressed when allowed, possible and shorter.
std::vector<uint8_t> StoredText(const std::u16string& text, bool compress);

}  // namespace kw::jetw
