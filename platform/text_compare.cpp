#include "platform/text_compare.h"

#include "platform/cp1252.h"

namespace kw {

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
      out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 0x20 : c);
      ++i;
      continue;
    }
    AppendUtf8(out, FoldLetter(NextUtf8(text, i)));
  }
  return out;
}

bool JetTextEqual(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[j]);
    if (ca < 0x80 && cb < 0x80) {
      if (FoldLetter(ca) != FoldLetter(cb)) return false;
      ++i;
      ++j;
      continue;
    }
    if (FoldLetter(NextUtf8(a, i)) != FoldLetter(NextUtf8(b, j))) return false;
  }
  return i == a.size() && j == b.size();
}

}  // namespace kw
