#include "platform/jet/format/text_codec.h"

#include <stdexcept>

#include "platform/cp1252.h"
#include "platform/jet/format/bytes.h"

namespace kw::jet {
namespace {

// UTF-16 units to UTF-8, one at a time: a high surrogate waits for the low
// one after it; a surrogate without its partner becomes U+FFFD.
class Utf16ToUtf8 {
 public:
  explicit Utf16ToUtf8(std::string& out) : out_(out) {}
  void Add(uint32_t u) {
    if (high_ != 0) {
      const uint32_t high = high_;
      high_ = 0;
      if (u >= 0xDC00 && u <= 0xDFFF) {
        AppendUtf8(out_, 0x10000 + ((high - 0xD800) << 10) + (u - 0xDC00));
        return;
      }
      AppendUtf8(out_, 0xFFFD);
    }
    if (u >= 0xD800 && u <= 0xDBFF) {
      high_ = u;
    } else {
      AppendUtf8(out_, u >= 0xDC00 && u <= 0xDFFF ? 0xFFFD : u);
    }
  }
  void End() {
    if (high_ != 0) AppendUtf8(out_, 0xFFFD);
    high_ = 0;
  }

 private:
  std::string& out_;
  uint32_t high_ = 0;
};

}  // namespace

std::string DecodeText(const uint8_t* data, size_t size) {
  const bool compressed = size >= 2 && data[0] == 0xFF && data[1] == 0xFE;
  // Text of ASCII characters alone, the most common, is its own UTF-8.
  const size_t step = compressed ? 1 : 2;
  const size_t from = compressed ? 2 : 0;
  if (compressed || size % 2 == 0) {
    bool plain = true;
    for (size_t i = from; i < size; i += step)
      plain &= data[i] != 0 && data[i] < 0x80 && (compressed || data[i + 1] == 0);
    if (plain && compressed) return std::string(reinterpret_cast<const char*>(data) + from, size - from);
    if (plain) {
      std::string ascii(size / 2, '\0');
      for (size_t i = 0; i < size; i += 2) ascii[i / 2] = static_cast<char>(data[i]);
      return ascii;
    }
  }
  // Otherwise unit by unit.
  std::string out;
  Utf16ToUtf8 units(out);
  if (compressed) {
    bool oneByte = true;
    for (size_t k = 2; k < size;) {
      if (data[k] == 0) {
        oneByte = !oneByte;
        ++k;
      } else if (oneByte) {
        units.Add(data[k++]);
      } else if (k + 1 < size) {
        units.Add(static_cast<uint16_t>(data[k] | data[k + 1] << 8));
        k += 2;
      } else {
        break;
      }
    }
  } else {
    for (size_t k = 0; k + 1 < size; k += 2) units.Add(Get16(data + k));
  }
  units.End();
  return out;
}

std::vector<uint8_t> EncodeText(std::string_view text, bool compress) {
  std::vector<uint8_t> out;
  EncodeText(text, compress, out);
  return out;
}

void EncodeText(std::string_view text, bool compress, std::vector<uint8_t>& out) {
  out.clear();
  size_t count = 0;
  bool fits = compress;
  for (size_t i = 0; i < text.size(); ++count) {
    const uint32_t c = NextUtf8(text, i);
    if (c < 1 || c > 0xFF) fits = false;
  }
  if (fits && count > 2) {
    out.reserve(count + 2);
    out.push_back(0xFF);
    out.push_back(0xFE);
    for (size_t i = 0; i < text.size();) out.push_back(static_cast<uint8_t>(NextUtf8(text, i)));
    return;
  }
  auto unit = [&](uint32_t u) {
    out.push_back(static_cast<uint8_t>(u));
    out.push_back(static_cast<uint8_t>(u >> 8));
  };
  for (size_t i = 0; i < text.size();) {
    const uint32_t c = NextUtf8(text, i);
    if (c >= 0x10000) {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      unit(c);
    }
  }
}

size_t TextUnits(std::string_view text) {
  size_t n = 0;
  for (size_t i = 0; i < text.size();) n += NextUtf8(text, i) >= 0x10000 ? 2 : 1;
  return n;
}

std::u16string Utf16FromUtf8(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  auto bad = [&]() {
    throw std::invalid_argument("malformed UTF-8 at byte " + std::to_string(i));
  };
  while (i < s.size()) {
    uint8_t c = static_cast<uint8_t>(s[i]);
    uint32_t cp;
    size_t len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      len = 4;
    } else {
      bad();
    }
    if (i + len > s.size()) bad();
    for (size_t k = 1; k < len; ++k) {
      uint8_t cc = static_cast<uint8_t>(s[i + k]);
      if ((cc & 0xC0) != 0x80) bad();
      cp = (cp << 6) | (cc & 0x3F);
    }
    static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) bad();
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

}  // namespace kw::jet
