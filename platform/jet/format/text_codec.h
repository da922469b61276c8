#pragma once
// Text as Jet 4 stores it: UCS-2 little-endian, or, in a column with
// Unicode compression, the compressed form that begins with FF FE and then
// switches at each 00 byte between one byte a character (the high byte is
// zero) and two.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kw::jet {

// Stored bytes to UTF-8. A dangling last byte is ignored, as readers do.
std::string DecodeText(const uint8_t* data, size_t size);

// UTF-8 to the stored bytes. Compressed when `compress` is set, the text has
// more than two characters and every one of them is U+0001..U+00FF (a
// shorter text would not become shorter); otherwise UCS-2.
std::vector<uint8_t> EncodeText(std::string_view text, bool compress);
// The same into `out` (replacing what it held; its room is kept).
void EncodeText(std::string_view text, bool compress, std::vector<uint8_t>& out);

// Characters as Jet counts them against a column's length (UTF-16 units).
size_t TextUnits(std::string_view text);

// The UTF-16 units of a UTF-8 text, read strictly, for text that is to be
// stored or indexed: malformed UTF-8 is an error (std::invalid_argument)
// naming the offending byte's position, never a replacement character.
std::u16string Utf16FromUtf8(std::string_view utf8);

}  // namespace kw::jet
