#include "platform/text_compare.h"

#include "platform/cp1252.h"

namespace kw {
namespace {

constexpr unsigned char FoldAscii(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 0x20) : c;
}

}  // namespace

uint32_t FoldLetter(uint32_t cp) {
  if (cp >= 'A' && cp <= 'Z') return cp + 0x20;
  if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) return cp + 0x20;
  switch (cp) {
    case 0x0160: return 0x0161;  // Š
    case 0x0152: return 0x0153;  // Œ
    case 0x017D: return 0x017E;  // Ž
    case 0x0178: return 0x00FF;  // Ÿ
    default: return cp;
  }
}

std::string FoldText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += static_cast<char>(FoldAscii(c));
      ++i;
      continue;
    }
    const size_t start = i;
    const uint32_t cp = NextUtf8(text, i);
    const uint32_t folded = FoldLetter(cp);
    // Bytes that are no letter, malformed ones among them, stay as they are.
    if (folded == cp) {
      out.append(text.substr(start, i - start));
    } else {
      AppendUtf8(out, folded);
    }
  }
  return out;
}

int JetTextCompare(std::string_view a, std::string_view b) {
  // Equal bytes are equal characters; the ASCII part of the texts needs no
  // decoding either.
  const size_t common = a.size() < b.size() ? a.size() : b.size();
  size_t i = 0;
  for (; i < common; ++i) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[i]);
    if (ca == cb && ca < 0x80) continue;
    if ((ca | cb) >= 0x80) break;
    const unsigned char x = FoldAscii(ca), y = FoldAscii(cb);
    if (x != y) return x < y ? -1 : 1;
  }
  size_t j = i;
  while (i < a.size() && j < b.size()) {
    const uint32_t x = FoldLetter(NextUtf8(a, i));
    const uint32_t y = FoldLetter(NextUtf8(b, j));
    if (x != y) return x < y ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

bool JetTextEqual(std::string_view a, std::string_view b) { return JetTextCompare(a, b) == 0; }

}  // namespace kw
